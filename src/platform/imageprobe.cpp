#include "platform/imageprobe.h"

#include "platform/streamcursor.h"
#include "platform/tiffreader.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

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
bool ProbePng(TStreamCursor& File, TImageProbe& Probe)
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
            if (!Probe.KeyChunks.empty() &&
                Probe.KeyChunks.back().Offset + Probe.KeyChunks.back().Length == at)
                Probe.KeyChunks.back().Length += chunkLength;
            else
                Probe.KeyChunks.push_back({at, chunkLength});
            // Type, key and checksum; libpng ignores a key whose checksum fails.
            uint8_t chunk[14];
            std::memcpy(chunk, head + 4, 4);
            if (length == 6 && !Probe.ColourKey && File.Read(chunk + 4, 10) &&
                PngCrc(chunk, 10) == BigEndian32(chunk + 10))
                Probe.ColourKey = {BigEndian16(chunk + 4), BigEndian16(chunk + 6), BigEndian16(chunk + 8)};
        }
        at += 12 + int64_t(length);
    }
}

// JPEG: every scan codes each 8 x 8 block of its components, so its entropy
// data has a least size. A block of a sequential scan or of a progressive
// DC scan costs at least one bit (a Huffman code is never shorter); a
// progressive AC scan may skip up to 32767 blocks with one end-of-band run
// of 15 bits. Scans are read from the file, so the least size also bounds
// how many scans a file of its size may hold, and every component must have
// its DC coefficients coded somewhere. Arithmetic coding can code a block
// in far less than a bit; only the scans' presence is checked there.
class TJpegProbe {
public:
    explicit TJpegProbe(TStreamCursor& File) : FFile(File) {}

    bool Plausible()
    {
        FFile.Seek(2);
        for (;;) {
            int marker = NextMarker();
            if (marker < 0 || marker == 0xD9)
                break;
            // Markers without a segment; a restart outside a scan is stray.
            if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
                continue;
            uint8_t size[2];
            if (!FFile.Read(size, sizeof(size)))
                break;
            const int length = BigEndian16(size) - 2;
            if (length < 0)
                break;
            const int64_t end = FFile.Position() + length;
            if (IsFrame(marker) && FComponents.empty()) {
                if (!ReadFrame(marker, length))
                    return false;
            } else if (marker == 0xDA && !FComponents.empty()) {
                if (!ReadScan(length))
                    return false;
                continue;
            }
            FFile.Seek(end);
        }
        return std::all_of(FComponents.begin(), FComponents.end(), [](const TComponent& c) { return c.DcCoded; });
    }

private:
    struct TComponent {
        uint8_t Id;
        uint64_t Blocks;
        bool DcCoded;
    };

    static bool IsFrame(int Marker)
    {
        return Marker >= 0xC0 && Marker <= 0xCF && Marker != 0xC4 && Marker != 0xC8 && Marker != 0xCC;
    }

    // The next marker's code, skipping fill bytes and anything else between
    // segments (libjpeg skips such bytes as well); -1 at the end.
    int NextMarker()
    {
        for (;;) {
            int b = FFile.Next();
            if (b < 0)
                return -1;
            if (b != 0xFF)
                continue;
            do
                b = FFile.Next();
            while (b == 0xFF);
            if (b != 0)
                return b;
        }
    }

    bool ReadFrame(int Marker, int Length)
    {
        uint8_t head[6];
        if (Length < 6 || !FFile.Read(head, sizeof(head)))
            return true;
        const uint32_t height = BigEndian16(head + 1);
        const uint32_t width = BigEndian16(head + 3);
        const int count = head[5];
        if (Length < 6 + 3 * count)
            return true;
        std::vector<std::array<uint8_t, 3>> parts(static_cast<size_t>(count));
        int hMax = 1, vMax = 1;
        for (auto& p : parts) {
            FFile.Read(p.data(), 3);
            hMax = std::max(hMax, p[1] >> 4);
            vMax = std::max(vMax, p[1] & 15);
        }
        FProgressive = Marker == 0xC2 || Marker == 0xC6 || Marker == 0xCA || Marker == 0xCE;
        FArithmetic = Marker >= 0xC9;
        uint64_t blocks = 0;
        for (const auto& p : parts) {
            const uint64_t w = (uint64_t(width) * std::max(1, p[1] >> 4) + uint64_t(hMax) - 1) / uint64_t(hMax);
            const uint64_t h = (uint64_t(height) * std::max(1, p[1] & 15) + uint64_t(vMax) - 1) / uint64_t(vMax);
            FComponents.push_back({p[0], ((w + 7) / 8) * ((h + 7) / 8), false});
            blocks += FComponents.back().Blocks;
        }
        // Every block is coded at least once in what follows.
        return FArithmetic || blocks <= uint64_t(FFile.Size() - FFile.Position()) * 8;
    }

    bool ReadScan(int Length)
    {
        std::vector<uint8_t> head(static_cast<size_t>(Length));
        if (Length < 1 || !FFile.Read(head.data(), head.size()))
            return true;
        const size_t count = head[0];
        if (head.size() < 1 + 2 * count + 3)
            return true;
        const uint8_t start = head[1 + 2 * count];
        uint64_t bits = 0;
        std::vector<bool> inScan(FComponents.size());
        for (size_t i = 0; i < count; ++i) {
            // Some files repeat identifiers: a selector takes the first
            // component of its identifier not yet in the scan.
            size_t c = 0;
            while (c < FComponents.size() && (FComponents[c].Id != head[1 + 2 * i] || inScan[c]))
                ++c;
            if (c == FComponents.size())
                continue;
            inScan[c] = true;
            TComponent& component = FComponents[c];
            if (!FProgressive || start == 0) {
                component.DcCoded = true;
                bits += component.Blocks;
            } else {
                bits += component.Blocks * 15 / 32767;
            }
        }
        return FArithmetic || EntropyBytes() * 8 >= bits;
    }

    // The bytes of the entropy-coded data that follows a scan header, up to
    // the next marker that is no restart; the cursor is left on that marker.
    uint64_t EntropyBytes()
    {
        uint64_t bytes = 0;
        for (;;) {
            const int b = FFile.Next();
            if (b < 0)
                return bytes;
            if (b != 0xFF) {
                ++bytes;
                continue;
            }
            const int64_t marker = FFile.Position() - 1;
            // Any number of fill bytes may stand before a marker, a restart
            // marker too.
            int next = FFile.Next();
            while (next == 0xFF)
                next = FFile.Next();
            if (next == 0) {
                ++bytes;
            } else if (next < 0xD0 || next > 0xD7) {
                FFile.Seek(marker);
                return bytes;
            }
        }
    }

    TStreamCursor& FFile;
    std::vector<TComponent> FComponents;
    bool FProgressive = false;
    bool FArithmetic = false;
};

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
bool ProbeBmp(TStreamCursor& File, TImageProbe& Probe)
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
            Probe.BmpMasks = {LittleEndian32(head + 54), LittleEndian32(head + 58), LittleEndian32(head + 62), LittleEndian32(head + 66)};
    } else if (fields) {
        uint8_t masks[12];
        File.Seek(headers);
        if (File.Read(masks, sizeof(masks)))
            Probe.BmpMasks = {LittleEndian32(masks), LittleEndian32(masks + 4), LittleEndian32(masks + 8), 0};
        headers += 12;
    } else if (bits == 16) {
        Probe.BmpMasks = {0x7C00, 0x03E0, 0x001F, 0};
    }
    if (bits <= 8) {
        const uint32_t colours = info ? LittleEndian32(head + 46) : 0;
        const int64_t entries = colours != 0 ? colours : int64_t(1) << bits;
        if (entries > 256)
            return false; // more colours than the reader takes
        headers += entries * (headerSize == 12 ? 3 : 4);
    }
    const int64_t start = std::max<int64_t>(LittleEndian32(head + 10), headers);
    const int64_t rows = height < 0 ? -height : height;
    if (runs)
        return RunsEndInFile(File, start, width, rows, bits);
    const int64_t stride = (width * bits + 31) / 32 * 4;
    return start <= File.Size() && rows <= (File.Size() - start) / stride;
}

// TIFF: the strips or tiles a picture of its size needs must all be listed
// and lie within the file, and their bytes, decompressed at the most a
// scheme can expand, must reach the picture's bytes. Schemes without a
// sound bound (fax codes, LZMA, Zstandard and others) get no such check;
// a scheme libtiff cannot decode is refused. Classic TIFF and BigTIFF
// differ only in the width of offsets, counts and directory entries.
class TTiffProbe {
public:
    TTiffProbe(TStreamCursor& File, TStreamCursor& Counts) : FFile(File), FCounts(Counts) {}

    bool Plausible(TImageProbe& Probe)
    {
        uint8_t head[16];
        if (!FFile.Read(head, 8))
            return true;
        FLittle = head[0] == 'I';
        int64_t directory = Value32(head + 4);
        if (Value16(head + 2) == 43) {
            // BigTIFF: offsets of 8 bytes, the only width libtiff reads.
            if (Value16(head + 4) != 8 || !FFile.Read(head + 8, 8))
                return true;
            FBig = true;
            directory = int64_t(std::min<uint64_t>(Value64(head + 8), INT64_MAX));
        } else if (Value16(head + 2) != 42) {
            return true;
        }
        FFile.Seek(directory);
        const int countSize = FBig ? 8 : 2;
        uint8_t size[8];
        if (!FFile.Read(size, size_t(countSize)))
            return true;
        const uint64_t entries = FBig ? Value64(size) : Value16(size);
        const int64_t entrySize = FBig ? 20 : 12;
        // No picture has more tags than a classic directory can hold.
        if (entries > UINT16_MAX)
            return false;
        for (uint64_t i = 0; i < entries; ++i) {
            uint8_t entry[20] = {};
            if (!FFile.Read(entry, size_t(entrySize)))
                return true;
            ReadEntry(entry, directory + countSize + entrySize * int64_t(i));
        }
        if (!CheckData())
            return false;
        Probe.TiffGreyAlpha = GreyAlpha();
        return true;
    }

private:
    enum TTag : uint16_t {
        ImageWidth = 256,
        ImageLength = 257,
        BitsPerSample = 258,
        Compression = 259,
        Photometric = 262,
        StripOffsets = 273,
        SamplesPerPixel = 277,
        RowsPerStrip = 278,
        StripByteCounts = 279,
        PlanarConfiguration = 284,
        TileWidth = 322,
        TileLength = 323,
        TileOffsets = 324,
        TileByteCounts = 325,
        ExtraSamples = 338,
    };

    struct TArray {
        int64_t At = -1;
        uint64_t Count = 0;
        int Unit = 4;
    };

    int OffsetSize() const { return FBig ? 8 : 4; }

    uint16_t Value16(const uint8_t* p) const { return FLittle ? LittleEndian16(p) : BigEndian16(p); }
    uint32_t Value32(const uint8_t* p) const
    {
        return FLittle ? LittleEndian32(p) : BigEndian32(p);
    }
    uint64_t Value64(const uint8_t* p) const
    {
        return FLittle ? uint64_t(Value32(p)) | uint64_t(Value32(p + 4)) << 32
                       : uint64_t(Value32(p)) << 32 | Value32(p + 4);
    }
    uint64_t Value(const uint8_t* p, int Unit) const
    {
        switch (Unit) {
        case 1: return *p;
        case 2: return Value16(p);
        case 8: return Value64(p);
        default: return Value32(p);
        }
    }

    // Bytes an element of a field type takes: BYTE, SHORT, LONG8 and IFD8
    // are the unsigned integer types beside LONG.
    static int UnitOf(int Type)
    {
        switch (Type) {
        case 1: return 1;
        case 3: return 2;
        case 16: case 18: return 8;
        default: return 4;
        }
    }

    void ReadEntry(const uint8_t* Entry, int64_t EntryAt)
    {
        const uint8_t* count = Entry + 4;
        const uint8_t* value = Entry + 4 + OffsetSize();
        TArray array{EntryAt + 4 + OffsetSize(), FBig ? Value64(count) : Value32(count), UnitOf(Value16(Entry + 2))};
        const bool inEntry = array.Count <= uint64_t(OffsetSize() / array.Unit);
        if (!inEntry)
            array.At = int64_t(std::min<uint64_t>(Value(value, OffsetSize()), INT64_MAX));
        // A single value is the first element of its array.
        const auto first = uint32_t(std::min<uint64_t>(Value(value, array.Unit), UINT32_MAX));
        switch (Value16(Entry)) {
        case ImageWidth: FWidth = first; break;
        case ImageLength: FHeight = first; break;
        case BitsPerSample: FBitsPerSample = array.Count == 1 ? first : 0; FBitsArray = array; break;
        case Compression: FCompression = first; break;
        case Photometric: FPhotometric = first; break;
        case StripOffsets: case TileOffsets: FOffsets = array; break;
        case SamplesPerPixel: FSamples = std::max<uint32_t>(1, first); break;
        case RowsPerStrip: FRowsPerStrip = first; break;
        case StripByteCounts: case TileByteCounts: FByteCounts = array; break;
        case PlanarConfiguration: FPlanar = first; break;
        case TileWidth: FTileWidth = first; break;
        case TileLength: FTileLength = first; break;
        case ExtraSamples: FExtraSample = array.Count > 0 && inEntry ? first : 0; break;
        default: break;
        }
    }

    // The next element of the array the cursor stands in.
    uint64_t Element(TStreamCursor& Cursor, const TArray& Array) const
    {
        uint8_t v[8] = {};
        Cursor.Read(v, size_t(Array.Unit));
        return Value(v, Array.Unit);
    }

    // The array's elements lie within the file.
    bool InFile(const TArray& Array) const
    {
        const int64_t left = FFile.Size() - std::min(Array.At, FFile.Size());
        return Array.At >= 0 && Array.Count <= uint64_t(left) / uint64_t(Array.Unit);
    }

    bool CheckData()
    {
        if (!TiffSchemeDecodable(FCompression))
            return false;
        if (FBitsArray.Count > 1 && FBitsArray.At >= 0) {
            FFile.Seek(FBitsArray.At);
            FBitsPerSample = uint32_t(std::min<uint64_t>(Element(FFile, FBitsArray), UINT32_MAX));
        }
        if (FWidth == 0 || FHeight == 0)
            return true; // no picture for libtiff either
        const uint64_t planes = FPlanar == 2 ? FSamples : 1;
        const uint64_t width = uint64_t(FWidth), height = uint64_t(FHeight);
        const bool tiled = FTileWidth > 0 && FTileLength > 0;
        const uint64_t rows = FRowsPerStrip == 0 ? height : std::min<uint64_t>(FRowsPerStrip, height);
        const uint64_t perPlane = tiled ? (width + FTileWidth - 1) / FTileWidth *
                                              ((height + FTileLength - 1) / FTileLength)
                                        : (height + rows - 1) / rows;
        const uint64_t pieces = perPlane * planes;
        // YCbCr may store its chroma subsampled: only the luma is sure.
        constexpr uint32_t YCbCr = 6;
        const bool luma = FPhotometric == YCbCr;
        const uint64_t pixelBits = uint64_t(FBitsPerSample) * (luma ? 1 : FSamples / planes);
        if (FOffsets.Count < pieces || !InFile(FOffsets))
            return false;
        FFile.Seek(FOffsets.At);
        if (FByteCounts.Count == 0) {
            // libtiff works the counts out itself; that bounds nothing but
            // rows stored as they are.
            if (FCompression != 1)
                return false;
            for (uint64_t i = 0; i < pieces; ++i) {
                const uint64_t offset = Element(FFile, FOffsets);
                const uint64_t strip = i % perPlane;
                const uint64_t bytes = tiled ? (uint64_t(FTileWidth) * pixelBits + 7) / 8 * FTileLength
                                             : (width * pixelBits + 7) / 8 * std::min(rows, height - strip * rows);
                if (offset > uint64_t(FFile.Size()) || bytes > uint64_t(FFile.Size()) - offset)
                    return false;
            }
            return true;
        }
        if (FByteCounts.Count < pieces || !InFile(FByteCounts))
            return false;
        FCounts.Seek(FByteCounts.At);
        uint64_t data = 0;
        for (uint64_t i = 0; i < pieces; ++i) {
            const uint64_t offset = Element(FFile, FOffsets);
            const uint64_t count = Element(FCounts, FByteCounts);
            if (offset > uint64_t(FFile.Size()) || count > uint64_t(FFile.Size()) - offset)
                return false;
            data += count;
        }
        const uint64_t ratio = MaxExpansion();
        const uint64_t rowBytes = (width * pixelBits + 7) / 8;
        return ratio == 0 || data * ratio >= rowBytes * height * (luma ? 1 : planes);
    }

    // Grey with an alpha sample of 8 or 16 bits, associated or not.
    bool GreyAlpha() const
    {
        constexpr uint32_t MinIsWhite = 0, MinIsBlack = 1, Associated = 1, Unassociated = 2;
        return (FPhotometric == MinIsWhite || FPhotometric == MinIsBlack) && FSamples == 2 &&
               (FBitsPerSample == 8 || FBitsPerSample == 16) &&
               (FExtraSample == Associated || FExtraSample == Unassociated);
    }

    // The most a byte of the scheme's data can decompress to; 0 for no bound.
    uint64_t MaxExpansion() const
    {
        switch (FCompression) {
        case 1: return 1;               // none
        case 5: return 4096;            // LZW: at most 4096 bytes for a code of at least 9 bits
        case 7: return 2048;            // JPEG: at least one bit for each 8 x 8 block
        case 8: case 32946: return 1032; // Deflate: 258 bytes for a code of 2 bits
        case 32773: return 64;          // PackBits: at most 128 bytes for 2
        default: return 0;
        }
    }

    TStreamCursor& FFile;
    TStreamCursor& FCounts;
    uint32_t FWidth = 0;
    uint32_t FHeight = 0;
    bool FLittle = true;
    bool FBig = false;
    uint32_t FBitsPerSample = 1;
    TArray FBitsArray;
    uint32_t FCompression = 1;
    uint32_t FPhotometric = UINT32_MAX;
    uint32_t FSamples = 1;
    uint32_t FRowsPerStrip = UINT32_MAX;
    uint32_t FPlanar = 1;
    uint32_t FTileWidth = 0;
    uint32_t FTileLength = 0;
    uint32_t FExtraSample = 0;
    TArray FOffsets;
    TArray FByteCounts;
};

} // namespace

TImageProbe ProbeImage(IStream& Stream, TImageKind Kind)
{
    TImageProbe probe;
    switch (Kind) {
    case TImageKind::Png: {
        // Large enough that a file of tiny chunks is not read a chunk at a time.
        TStreamCursor file(Stream, 4096);
        probe.Plausible = ProbePng(file, probe);
        break;
    }
    case TImageKind::Jpeg: {
        TStreamCursor file(Stream, 1 << 16);
        probe.Plausible = TJpegProbe(file).Plausible();
        break;
    }
    case TImageKind::Gif:
        // The GIF reader checks its frame's data itself.
        break;
    case TImageKind::Tiff: {
        TStreamCursor file(Stream, 4096);
        TStreamCursor counts(Stream, 4096);
        probe.Plausible = TTiffProbe(file, counts).Plausible(probe);
        break;
    }
    case TImageKind::Bmp: {
        TStreamCursor file(Stream, 4096);
        probe.Plausible = ProbeBmp(file, probe);
        break;
    }
    }
    return probe;
}

} // namespace Corvanith::Platform
