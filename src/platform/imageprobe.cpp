#include "platform/imageprobe.h"

#include <algorithm>
#include <vector>

namespace Corvanith::Platform {

namespace {

// Reads the stream at offsets from the picture's start through a buffer of
// its own; a seek beyond the buffer only moves, so walking from header to
// header never reads the data between them. Every fill seeks the stream
// first: two cursors over one stream do not disturb each other.
class TProbeCursor {
public:
    TProbeCursor(IStream& Stream, size_t BufferSize) : FStream(Stream), FBuffer(BufferSize)
    {
        TStatStg status{};
        if (Succeeded(FStream.Seek(0, 1, &FBase)) && Succeeded(FStream.Stat(&status, 0)) && status.cbSize > FBase)
            FSize = int64_t(status.cbSize - FBase);
    }

    // Bytes from the picture's start to the end of the stream.
    int64_t Size() const { return FSize; }
    int64_t Position() const { return FBufferStart + int64_t(FNext); }

    void Seek(int64_t Position)
    {
        if (Position >= FBufferStart && Position <= FBufferStart + int64_t(FFilled)) {
            FNext = size_t(Position - FBufferStart);
            return;
        }
        FBufferStart = Position;
        FNext = FFilled = 0;
    }
    void Skip(int64_t Count) { Seek(Position() + Count); }

    // The next byte, or -1 at the end of the stream.
    int Next()
    {
        if (FNext == FFilled && !Fill())
            return -1;
        return FBuffer[FNext++];
    }

    bool Read(uint8_t* Data, size_t Count)
    {
        for (size_t i = 0; i < Count; ++i) {
            const int b = Next();
            if (b < 0)
                return false;
            Data[i] = uint8_t(b);
        }
        return true;
    }

private:
    bool Fill()
    {
        FBufferStart += int64_t(FFilled);
        FNext = FFilled = 0;
        if (FBufferStart >= FSize ||
            !Succeeded(FStream.Seek(int64_t(FBase) + FBufferStart, 0, nullptr)))
            return false;
        uint32_t got = 0;
        const auto asked = uint32_t(std::min<int64_t>(int64_t(FBuffer.size()), FSize - FBufferStart));
        if (!Succeeded(FStream.Read(FBuffer.data(), asked, &got)))
            return false;
        FFilled = std::min<size_t>(got, asked);
        return FFilled > 0;
    }

    IStream& FStream;
    std::vector<uint8_t> FBuffer;
    uint64_t FBase = 0;
    int64_t FSize = 0;
    int64_t FBufferStart = 0;
    size_t FNext = 0;
    size_t FFilled = 0;
};

uint32_t BigEndian32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t BigEndian16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
uint16_t LittleEndian16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

constexpr uint32_t ChunkType(const char (&Name)[5])
{
    return uint32_t(uint8_t(Name[0])) << 24 | uint32_t(uint8_t(Name[1])) << 16 | uint32_t(uint8_t(Name[2])) << 8 |
           uint8_t(Name[3]);
}

// libpng allocates the length a chunk states before it reads the data, up
// to 2 GB for a text chunk: no chunk may claim more than the file holds.
// The final checksum may be missing, which Qt's reader tolerates.
bool ProbePng(TProbeCursor& File, TImageProbe& Probe)
{
    int depth = 0;
    int colourType = -1;
    int64_t at = 8;
    for (;;) {
        File.Seek(at);
        uint8_t head[8];
        if (!File.Read(head, sizeof(head)))
            return true;
        const uint32_t length = BigEndian32(head);
        if (int64_t(length) > File.Size() - at - 8)
            return false;
        const uint32_t type = BigEndian32(head + 4);
        if (type == ChunkType("IEND"))
            return true;
        if (type == ChunkType("IHDR") && length >= 13) {
            uint8_t ihdr[13];
            File.Read(ihdr, sizeof(ihdr));
            depth = ihdr[8];
            colourType = ihdr[9];
        } else if (type == ChunkType("tRNS") && depth == 16 && colourType == 2 && length == 6 && !Probe.ColourKey) {
            uint8_t key[6];
            File.Read(key, sizeof(key));
            Probe.ColourKey = {BigEndian16(key), BigEndian16(key + 2), BigEndian16(key + 4)};
            Probe.KeyChunkOffset = at;
            Probe.KeyChunkLength = 12 + int64_t(length);
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
    explicit TJpegProbe(TProbeCursor& File) : FFile(File) {}

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

    TProbeCursor& FFile;
    std::vector<TComponent> FComponents;
    bool FProgressive = false;
    bool FArithmetic = false;
};

// Skips a run of GIF sub-blocks; the bytes they held.
int64_t SkipSubBlocks(TProbeCursor& File)
{
    int64_t bytes = 0;
    for (;;) {
        const int size = File.Next();
        if (size <= 0)
            return bytes;
        bytes += size;
        File.Skip(size);
    }
}

// GIF: each LZW code yields at most 4096 pixels and is at least one bit
// wider than the minimum code size, so the first frame (the one decoded)
// has a least size of data for the pixels it claims.
bool ProbeGif(TProbeCursor& File)
{
    uint8_t screen[7];
    File.Seek(6);
    if (!File.Read(screen, sizeof(screen)))
        return true;
    if (screen[4] & 0x80)
        File.Skip(3 * (2 << (screen[4] & 7)));
    for (;;) {
        const int introducer = File.Next();
        if (introducer == 0x21) {
            File.Next();
            SkipSubBlocks(File);
            continue;
        }
        if (introducer != 0x2C)
            return true;
        uint8_t frame[9];
        if (!File.Read(frame, sizeof(frame)))
            return true;
        if (frame[8] & 0x80)
            File.Skip(3 * (2 << (frame[8] & 7)));
        const int codeSize = File.Next();
        if (codeSize < 0)
            return true;
        const int64_t pixels = int64_t(LittleEndian16(frame + 4)) * LittleEndian16(frame + 6);
        const int64_t bits = (pixels + 4095) / 4096 * (codeSize + 1);
        return SkipSubBlocks(File) * 8 >= bits;
    }
}

// TIFF: the strips or tiles a picture of its size needs must all be listed
// and lie within the file, and their bytes, decompressed at the most a
// scheme can expand, must reach the picture's bytes. Schemes without a
// sound bound (fax codes, LZMA, Zstandard and others) get no such check.
class TTiffProbe {
public:
    TTiffProbe(TProbeCursor& File, TProbeCursor& Counts) : FFile(File), FCounts(Counts) {}

    bool Plausible()
    {
        uint8_t head[8];
        if (!FFile.Read(head, sizeof(head)))
            return true;
        FLittle = head[0] == 'I';
        if (Value16(head + 2) != 42)
            return true; // BigTIFF: left to libtiff
        const int64_t directory = Value32(head + 4);
        FFile.Seek(directory);
        uint8_t size[2];
        if (!FFile.Read(size, sizeof(size)))
            return true;
        const int entries = Value16(size);
        for (int i = 0; i < entries; ++i) {
            uint8_t entry[12];
            if (!FFile.Read(entry, sizeof(entry)))
                return true;
            ReadEntry(entry, directory + 2 + 12 * int64_t(i));
        }
        return CheckData();
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
    };

    struct TArray {
        int64_t At = -1;
        uint32_t Count = 0;
        int Type = 0;
    };

    uint16_t Value16(const uint8_t* p) const { return FLittle ? LittleEndian16(p) : BigEndian16(p); }
    uint32_t Value32(const uint8_t* p) const
    {
        return FLittle ? uint32_t(LittleEndian16(p)) | uint32_t(LittleEndian16(p + 2)) << 16 : BigEndian32(p);
    }

    void ReadEntry(const uint8_t* Entry, int64_t EntryAt)
    {
        TArray array{EntryAt + 8, Value32(Entry + 4), Value16(Entry + 2)};
        const int unit = array.Type == 3 ? 2 : 4;
        if (uint64_t(array.Count) * unit > 4)
            array.At = Value32(Entry + 8);
        // A single value is the first element of its array.
        const uint32_t first = array.Type == 3 ? Value16(Entry + 8) : Value32(Entry + 8);
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
        default: break;
        }
    }

    // The next element of the array the cursor stands in.
    uint64_t Element(TProbeCursor& Cursor, const TArray& Array) const
    {
        uint8_t v[4] = {};
        if (Array.Type == 3) {
            Cursor.Read(v, 2);
            return Value16(v);
        }
        Cursor.Read(v, 4);
        return Value32(v);
    }

    bool CheckData()
    {
        if (FBitsArray.Count > 1 && FBitsArray.At >= 0) {
            FFile.Seek(FBitsArray.At);
            FBitsPerSample = uint32_t(Element(FFile, FBitsArray));
        }
        if (FWidth == 0 || FHeight == 0)
            return true; // no picture for libtiff either
        const uint64_t planes = FPlanar == 2 ? FSamples : 1;
        const uint64_t width = uint64_t(FWidth), height = uint64_t(FHeight);
        uint64_t pieces = 0;
        if (FTileWidth > 0 && FTileLength > 0) {
            pieces = (width + FTileWidth - 1) / FTileWidth * ((height + FTileLength - 1) / FTileLength) * planes;
        } else {
            const uint64_t rows = FRowsPerStrip == 0 ? height : std::min<uint64_t>(FRowsPerStrip, height);
            pieces = (height + rows - 1) / rows * planes;
        }
        const uint64_t unit = FOffsets.Type == 3 ? 2 : 4;
        if (FOffsets.Count < pieces || FOffsets.At + int64_t(FOffsets.Count * unit) > FFile.Size())
            return false;
        if (FByteCounts.Count == 0)
            return true; // libtiff works them out itself
        const uint64_t countUnit = FByteCounts.Type == 3 ? 2 : 4;
        if (FByteCounts.Count < pieces || FByteCounts.At + int64_t(FByteCounts.Count * countUnit) > FFile.Size())
            return false;
        FFile.Seek(FOffsets.At);
        FCounts.Seek(FByteCounts.At);
        uint64_t data = 0;
        for (uint64_t i = 0; i < pieces; ++i) {
            const uint64_t offset = Element(FFile, FOffsets);
            const uint64_t count = Element(FCounts, FByteCounts);
            if (offset + count > uint64_t(FFile.Size()))
                return false;
            data += count;
        }
        const uint64_t ratio = MaxExpansion();
        // YCbCr may store its chroma subsampled: only the luma is sure.
        constexpr uint32_t YCbCr = 6;
        const bool luma = FPhotometric == YCbCr;
        const uint64_t rowBytes = (width * FBitsPerSample * (luma ? 1 : FSamples / planes) + 7) / 8;
        return ratio == 0 || data * ratio >= rowBytes * height * (luma ? 1 : planes);
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

    TProbeCursor& FFile;
    TProbeCursor& FCounts;
    uint32_t FWidth = 0;
    uint32_t FHeight = 0;
    bool FLittle = true;
    uint32_t FBitsPerSample = 1;
    TArray FBitsArray;
    uint32_t FCompression = 1;
    uint32_t FPhotometric = 0;
    uint32_t FSamples = 1;
    uint32_t FRowsPerStrip = UINT32_MAX;
    uint32_t FPlanar = 1;
    uint32_t FTileWidth = 0;
    uint32_t FTileLength = 0;
    TArray FOffsets;
    TArray FByteCounts;
};

} // namespace

TImageProbe ProbeImage(IStream& Stream, TImageKind Kind)
{
    TImageProbe probe;
    switch (Kind) {
    case TImageKind::Png: {
        TProbeCursor file(Stream, 16);
        probe.Plausible = ProbePng(file, probe);
        break;
    }
    case TImageKind::Jpeg: {
        TProbeCursor file(Stream, 1 << 16);
        probe.Plausible = TJpegProbe(file).Plausible();
        break;
    }
    case TImageKind::Gif: {
        TProbeCursor file(Stream, 256);
        probe.Plausible = ProbeGif(file);
        break;
    }
    case TImageKind::Tiff: {
        TProbeCursor file(Stream, 4096);
        TProbeCursor counts(Stream, 4096);
        probe.Plausible = TTiffProbe(file, counts).Plausible();
        break;
    }
    case TImageKind::Bmp:
        break;
    }
    return probe;
}

} // namespace Corvanith::Platform
