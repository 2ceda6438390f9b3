#include "platform/formats/qttiff.h"

#include "platform/streamcursor.h"
#include "platform/tiffreader.h"

#include <QImageReader>

#include <algorithm>
#include <cstring>

namespace Corvanith::Platform {

namespace {

// TIFF: the strips or tiles a picture of its size needs must all be listed
// and lie within the file, and their bytes, decompressed at the most a
// scheme can expand, must reach the picture's bytes. Schemes without a
// sound bound (fax codes, LZMA, Zstandard and others) get no such check;
// a scheme libtiff cannot decode is refused. Classic TIFF and BigTIFF
// differ only in the width of offsets, counts and directory entries.
class TTiffProbe {
public:
    TTiffProbe(TStreamCursor& File, TStreamCursor& Counts) : FFile(File), FCounts(Counts) {}

    bool Plausible(bool& GreyAlpha)
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
        GreyAlpha = IsGreyAlpha();
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
    bool IsGreyAlpha() const
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

TQtTiffReader::TQtTiffReader(IStream& Stream) : TQtFormatReader(Stream)
{
    bool plausible = false;
    {
        TStreamCursor file(Stream, 4096);
        TStreamCursor counts(Stream, 4096);
        plausible = TTiffProbe(file, counts).Plausible(FGreyAlpha);
    }
    if (plausible)
        Accept(Open(TOptions("tiff")));
}

bool TQtTiffReader::Matches(TSignature Head)
{
    // Classic TIFF and BigTIFF, either byte order.
    for (const char* tiff : {"II*\0", "MM\0*", "II+\0", "MM\0+"})
        if (Head.size() >= 4 && std::memcmp(Head.data(), tiff, 4) == 0)
            return true;
    return false;
}

bool TQtTiffReader::Decode(QIODevice& Device, QImageReader& Reader, QImage& Image)
{
    return FGreyAlpha ? ReadGreyAlphaTiff(Device, Image) : Reader.read(&Image);
}

} // namespace Corvanith::Platform
