#include "platform/formats/png.h"

#include "platform/streamcursor.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace Corvanith::Platform {

namespace {

constexpr uint32_t ChunkType(const char (&Name)[5])
{
    return uint32_t(uint8_t(Name[0])) << 24 | uint32_t(uint8_t(Name[1])) << 16 | uint32_t(uint8_t(Name[2])) << 8 |
           uint8_t(Name[3]);
}

// The PNG checksum of a chunk's type and data.
uint32_t PngCrc(const uint8_t* Data, size_t Count)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < Count; ++i) {
        crc ^= Data[i];
        for (int k = 0; k < 8; ++k)
            crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// Bits a pixel of the colour type takes; 0 for a type libpng refuses.
uint64_t PngPixelBits(int ColourType, int Depth)
{
    switch (ColourType) {
    case 0: case 3: return uint64_t(Depth);
    case 2: return 3 * uint64_t(Depth);
    case 4: return 2 * uint64_t(Depth);
    case 6: return 4 * uint64_t(Depth);
    default: return 0;
    }
}

// Whether Inflated bytes can hold the rows libpng inflates: each row has a
// filter byte before its pixels, and an interlaced picture is stored as
// seven passes of smaller rows, a pass without pixels having none. Spent
// pass by pass, so no product can overflow.
bool PngRowsFit(uint64_t Width, uint64_t Height, uint64_t PixelBits, bool Interlaced, uint64_t Inflated)
{
    struct TPass {
        uint8_t X, Y, StepX, StepY;
    };
    static constexpr TPass Whole[] = {{0, 0, 1, 1}};
    static constexpr TPass Adam7[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                      {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    for (const TPass& pass : Interlaced ? std::span<const TPass>(Adam7) : std::span<const TPass>(Whole)) {
        const uint64_t columns = Width > pass.X ? (Width - pass.X + pass.StepX - 1) / pass.StepX : 0;
        const uint64_t rows = Height > pass.Y ? (Height - pass.Y + pass.StepY - 1) / pass.StepY : 0;
        if (columns == 0 || rows == 0)
            continue;
        const uint64_t rowBytes = 1 + (columns * PixelBits + 7) / 8;
        if (rows > Inflated / rowBytes)
            return false;
        Inflated -= rows * rowBytes;
    }
    return true;
}

// libpng allocates the length a chunk states before it reads the data, up
// to 2 GB for a text chunk: no chunk may claim more than the file holds.
// The final checksum may be missing, which Qt's reader tolerates. Deflate
// yields at most 258 bytes for a code of 2 bits, so the image data must be
// at least 1/1032 of the rows it inflates to. libpng takes the first valid
// "tRNS" chunk before the image data and ignores any other.
bool ProbePng(TStreamCursor& File, std::optional<std::array<uint16_t, 3>>& ColourKey,
              std::vector<TByteRange>& KeyChunks)
{
    constexpr uint64_t MostInflatedPerByte = 1032;
    uint64_t width = 0, height = 0, pixelBits = 0;
    bool interlaced = false, hidesKey = false, imageData = false;
    uint64_t dataBytes = 0;
    const auto rowsFit = [&] {
        return PngRowsFit(width, height, pixelBits, interlaced, dataBytes * MostInflatedPerByte);
    };
    int64_t at = 8;
    for (;;) {
        File.Seek(at);
        uint8_t head[8];
        if (!File.Read(head, sizeof(head)))
            return rowsFit();
        const uint32_t length = BigEndian32(head);
        if (int64_t(length) > File.Size() - at - 8)
            return false;
        const uint32_t type = BigEndian32(head + 4);
        if (type == ChunkType("IEND"))
            return rowsFit();
        if (type == ChunkType("IHDR") && length >= 13) {
            uint8_t ihdr[13];
            File.Read(ihdr, sizeof(ihdr));
            width = BigEndian32(ihdr);
            height = BigEndian32(ihdr + 4);
            pixelBits = PngPixelBits(ihdr[9], ihdr[8]);
            interlaced = ihdr[12] != 0;
            hidesKey = ihdr[8] == 16 && ihdr[9] == 2;
        } else if (type == ChunkType("IDAT")) {
            imageData = true;
            dataBytes += length;
        } else if (type == ChunkType("tRNS") && hidesKey && !imageData) {
            const int64_t chunkLength = 12 + int64_t(length);
            if (!KeyChunks.empty() &&
                KeyChunks.back().Offset + KeyChunks.back().Length == at)
                KeyChunks.back().Length += chunkLength;
            else
                KeyChunks.push_back({at, chunkLength});
            // Type, key and checksum; libpng ignores a key whose checksum fails.
            uint8_t chunk[14];
            std::memcpy(chunk, head + 4, 4);
            if (length == 6 && !ColourKey && File.Read(chunk + 4, 10) &&
                PngCrc(chunk, 10) == BigEndian32(chunk + 10))
                ColourKey = {BigEndian16(chunk + 4), BigEndian16(chunk + 6), BigEndian16(chunk + 8)};
        }
        at += 12 + int64_t(length);
    }
}

// Qt's PNG reader gives 16-bit RGB with a transparent colour as RGBA64 but
// asks libpng for no alpha, so three samples fill each four-sample pixel:
// the decoder hides the colour key from it, takes the opaque RGBX64 it then
// gives, and makes the pixels of the key's exact colour transparent.
void ApplyColourKey(QImage& Image, const std::array<uint16_t, 3>& Key)
{
    if (Image.format() != QImage::Format_RGBX64)
        return;
    for (int y = 0; y < Image.height(); ++y) {
        auto* row = reinterpret_cast<QRgba64*>(Image.scanLine(y));
        for (int x = 0; x < Image.width(); ++x)
            if (row[x].red() == Key[0] && row[x].green() == Key[1] && row[x].blue() == Key[2])
                row[x].setAlpha(0);
    }
    Image.reinterpretAsFormat(QImage::Format_RGBA64);
}

} // namespace

TPngReader::TPngReader(IStream& Stream) : TQtFormatReader(Stream)
{
    TOptions options("png");
    bool plausible = false;
    {
        // Large enough that a file of tiny chunks is not read a chunk at a time.
        TStreamCursor file(Stream, 4096);
        plausible = ProbePng(file, FColourKey, options.Hidden);
    }
    if (!plausible)
        return;
    // libpng reads each chunk's head, data and checksum apart: a file of
    // tiny chunks would reach the stream a few bytes at a time.
    options.ReadAhead = 1 << 16;
    Accept(Open(options));
}

bool TPngReader::Matches(TSignature Head)
{
    static constexpr uint8_t Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return Head.size() >= sizeof(Signature) && std::equal(std::begin(Signature), std::end(Signature), Head.begin());
}

void TPngReader::Mend(QImage& Image)
{
    if (FColourKey)
        ApplyColourKey(Image, *FColourKey);
}

} // namespace Corvanith::Platform
