#include "platform/formats/bmp.h"

#include "platform/streamcursor.h"

#include <algorithm>
#include <bit>
#include <climits>

namespace Corvanith::Platform {

namespace {

// Whether the RLE data from Start on ends the picture before the file ends,
// walked as Qt's reader walks it: a run is cut where it would pass the end of
// the bottom row in the reader's image (so later rows run on into the rows
// below them), only the pixels kept are read, and a move stops at the last
// row and column.
bool RunsEndInFile(TStreamCursor& File, int64_t Start, int64_t Width, int64_t Height, int Bits)
{
    const int64_t rowBytes = (Width + 3) & ~int64_t(3);
    int64_t x = 0, y = 0;
    File.Seek(Start);
    while (y < Height) {
        const int count = File.Next();
        const int code = File.Next();
        if (code < 0)
            return false;
        const int64_t kept = std::min<int64_t>(count == 0 ? code : count, Width + y * rowBytes - x);
        if (count != 0) {
            x += kept;
        } else if (code == 0) {
            x = 0;
            ++y;
        } else if (code == 1) {
            return true;
        } else if (code == 2) {
            const int dx = File.Next();
            const int dy = File.Next();
            if (dy < 0)
                return false;
            x = std::min<int64_t>(x + dx, Width - 1);
            y = std::min<int64_t>(y + dy, Height - 1);
        } else {
            // Pixels as they stand, padded to a 16-bit boundary.
            const int64_t bytes = Bits == 8 ? kept : (kept + 1) / 2;
            File.Skip(bytes + (bytes & 1));
            if (File.Position() > File.Size())
                return false;
            x += kept;
        }
    }
    return true;
}

// BMP, read as Qt's reader reads it: a header of 40, 64, 108 or 124 bytes
// has 32-bit sizes, any other the 16-bit ones of the oldest header. Rows
// start at the pixel offset or, when that lies within the headers, right
// after the masks and the palette; uncompressed rows are padded to four
// bytes and must all lie in the file, the last one padded too. RLE data
// must end the picture before the file ends.
//
// Some writers store fewer colours than the header implies and point the
// pixel offset into the palette: Qt's reader still reads the whole palette
// and then rows that run past the file's end by at most what the palette
// took beyond the offset. Such a file opens as Qt shows it, the bytes it
// lacks taking the first colour, when its palette is whole and it lacks no
// more than that; EndsEarly tells so.
bool ProbeBmp(TStreamCursor& File, std::optional<std::array<uint32_t, 4>>& Masks, bool& EndsEarly)
{
    uint8_t head[70] = {};
    const size_t got = size_t(std::min<int64_t>(File.Size(), int64_t(sizeof(head))));
    if (got < 26 || !File.Read(head, got))
        return true;
    const uint32_t headerSize = LittleEndian32(head + 14);
    const bool info = headerSize == 40 || headerSize == 64 || headerSize == 108 || headerSize == 124;
    if (info && got < 54)
        return true;
    constexpr uint32_t Uncompressed = 0, Rle8 = 1, Rle4 = 2, BitFields = 3;
    const int64_t width = info ? int32_t(LittleEndian32(head + 18)) : int16_t(LittleEndian16(head + 18));
    const int64_t height = info ? int32_t(LittleEndian32(head + 22)) : int16_t(LittleEndian16(head + 20));
    const int bits = info ? LittleEndian16(head + 28) : LittleEndian16(head + 24);
    const uint32_t compression = info ? LittleEndian32(head + 30) : Uncompressed;
    // Only an info header has a sign, and only uncompressed rows may run
    // top-down: the format keeps compressed ones bottom-up, so a top-down
    // RLE file is damaged.
    const uint32_t storedCompression = LittleEndian32(head + 30);
    if (height < 0 && (headerSize < 40 || (storedCompression != Uncompressed && storedCompression != BitFields)))
        return false;
    const bool runs = (compression == Rle8 && bits == 8) || (compression == Rle4 && bits == 4);
    const bool fields = compression == BitFields && (bits == 16 || bits == 32);
    if (width <= 0 || height == 0 || (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
        (compression != Uncompressed && !runs && !fields))
        return true; // the reader refuses it from its header
    // A header shorter than 108 bytes has its masks just after it.
    int64_t headers = 14 + int64_t(headerSize);
    if (fields && headerSize >= 108) {
        if (got == sizeof(head))
            Masks = {LittleEndian32(head + 54), LittleEndian32(head + 58), LittleEndian32(head + 62), LittleEndian32(head + 66)};
    } else if (fields) {
        uint8_t masks[12];
        File.Seek(headers);
        if (File.Read(masks, sizeof(masks)))
            Masks = {LittleEndian32(masks), LittleEndian32(masks + 4), LittleEndian32(masks + 8), 0};
        headers += 12;
    } else if (bits == 16) {
        Masks = {0x7C00, 0x03E0, 0x001F, 0};
    }
    const int64_t paletteAt = headers;
    if (bits <= 8) {
        const uint32_t colours = info ? LittleEndian32(head + 46) : 0;
        const int64_t entries = colours != 0 ? colours : int64_t(1) << bits;
        if (entries > 256)
            return false; // more colours than the reader takes
        headers += entries * (headerSize == 12 ? 3 : 4);
    }
    const int64_t offset = LittleEndian32(head + 10);
    const int64_t start = std::max(offset, headers);
    const int64_t rows = height < 0 ? -height : height;
    if (runs)
        return RunsEndInFile(File, start, width, rows, bits);
    const int64_t stride = (width * bits + 31) / 32 * 4;
    if (start <= File.Size() && rows <= (File.Size() - start) / stride)
        return true;
    EndsEarly = offset >= paletteAt && offset < start && start <= File.Size() &&
                rows * stride - (File.Size() - start) <= start - offset;
    return EndsEarly;
}

// BMP rows run bottom-up unless the height is negative. Qt's reader reads
// either, but reports the negative height as the size; which files may run
// top-down the probe has judged.
QSize BmpSize(const QSize& Reported)
{
    if (Reported.height() >= 0 || Reported.height() == INT_MIN)
        return Reported;
    return {Reported.width(), -Reported.height()};
}

// Qt's BMP reader widens a field of n < 8 bits by a shift alone, so that its
// largest value comes out as 256 - 2^(8 - n): 5-bit white is 248, a set 1-bit
// alpha 128. Each such field is stretched to the full range, v * 255 / max,
// through a table from the reader's value; wider fields stay as it gave them,
// and so does an alpha mask where it made no alpha channel.
void StretchBmpFields(QImage& Image, const std::array<uint32_t, 4>& Masks)
{
    if (Image.format() != QImage::Format_RGB32 && Image.format() != QImage::Format_ARGB32)
        return;
    // Red, green, blue and alpha are bytes 2, 1, 0 and 3 of a pixel.
    constexpr int Byte[4] = {2, 1, 0, 3};
    std::array<std::array<uint8_t, 256>, 4> tables{};
    bool stretched = false;
    for (size_t c = 0; c < 4; ++c) {
        const uint32_t max = Masks[c] == 0 ? 0 : Masks[c] >> std::countr_zero(Masks[c]);
        const int width = std::popcount(max);
        const bool narrow =
            max != 0 && (max & (max + 1)) == 0 && width < 8 && (c < 3 || Image.hasAlphaChannel());
        for (uint32_t q = 0; q < 256; ++q)
            tables[c][q] = uint8_t(narrow ? ((q >> (8 - width)) * 255 + max / 2) / max : q);
        stretched = stretched || narrow;
    }
    if (!stretched)
        return;
    for (int y = 0; y < Image.height(); ++y) {
        uint8_t* p = Image.scanLine(y);
        for (uint8_t* end = p + int64_t(Image.width()) * 4; p < end; p += 4)
            for (size_t c = 0; c < 4; ++c)
                p[Byte[c]] = tables[c][p[Byte[c]]];
    }
}

} // namespace

TBmpReader::TBmpReader(IStream& Stream) : TQtFormatReader(Stream)
{
    bool plausible = false;
    bool endsEarly = false;
    {
        TStreamCursor file(Stream, 4096);
        plausible = ProbeBmp(file, FMasks, endsEarly);
    }
    if (!plausible)
        return;
    // Qt's reader asks for exactly the bytes the file must hold.
    TOptions options("bmp");
    options.ExactReads = true;
    options.MayEndEarly = endsEarly;
    Accept(BmpSize(Open(options)));
}

bool TBmpReader::Matches(TSignature Head) { return Head.size() >= 2 && Head[0] == 'B' && Head[1] == 'M'; }

void TBmpReader::Mend(QImage& Image)
{
    if (FMasks)
        StretchBmpFields(Image, *FMasks);
}

} // namespace Corvanith::Platform
