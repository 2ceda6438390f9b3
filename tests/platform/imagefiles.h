#pragma once
// Picture files for the decoder tests, made at run time: by Qt's own writers,
// or byte by byte where a test needs what no writer makes.
#include "platform/codecs.h"
#include "platform/streams.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace Corvanith::Tests {

inline QByteArray Written(const QImage& Image, const char* Format,
                          const std::function<void(QImageWriter&)>& Setup = {})
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, Format);
    if (Setup)
        Setup(writer);
    if (!writer.write(Image))
        return {};
    return data;
}

inline void PutBigEndian(QByteArray& Data, uint32_t Value, int Bytes)
{
    for (int i = Bytes - 1; i >= 0; --i)
        Data.append(char(Value >> (8 * i)));
}

inline uint32_t Crc32(const QByteArray& Data)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (const char c : Data) {
        crc ^= uint8_t(c);
        for (int k = 0; k < 8; ++k)
            crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// One chunk; Length, when given, is what the chunk claims instead of its size.
inline QByteArray PngChunk(const char* Type, const QByteArray& Data, int64_t Length = -1)
{
    QByteArray chunk;
    PutBigEndian(chunk, uint32_t(Length >= 0 ? Length : Data.size()), 4);
    const QByteArray body = QByteArray(Type, 4) + Data;
    chunk += body;
    PutBigEndian(chunk, Crc32(body), 4);
    return chunk;
}

inline QByteArray PngSignature() { return QByteArray("\x89PNG\r\n\x1A\n", 8); }

inline QByteArray PngHeader(uint32_t Width, uint32_t Height, int Depth, int ColourType, bool Interlaced = false)
{
    QByteArray ihdr;
    PutBigEndian(ihdr, Width, 4);
    PutBigEndian(ihdr, Height, 4);
    ihdr.append(char(Depth)).append(char(ColourType)).append(2, '\0').append(char(Interlaced ? 1 : 0));
    return PngChunk("IHDR", ihdr);
}

// The zlib stream of Data.
inline QByteArray Zlib(const QByteArray& Data) { return qCompress(Data, 9).mid(4); }

// A PNG of rows of big-endian samples as stored (filter type 0 before each
// row), with Ancillary chunks before the image data.
inline QByteArray PngFile(uint32_t Width, uint32_t Height, int Depth, int ColourType,
                          const std::vector<QByteArray>& Rows, const QByteArray& Ancillary = {})
{
    QByteArray raw;
    for (const QByteArray& row : Rows)
        raw += '\0' + row;
    return PngSignature() + PngHeader(Width, Height, Depth, ColourType) + Ancillary +
           PngChunk("IDAT", Zlib(raw)) + PngChunk("IEND", {});
}

// GIF image data: LZW codes of Indices (a palette of 2^CodeSize colours),
// packed least significant bit first into sub-blocks. The table is cleared
// when it is full, as common encoders do.
inline QByteArray GifImageData(const std::vector<uint8_t>& Indices, int CodeSize)
{
    const int clear = 1 << CodeSize;
    std::vector<int16_t> child(size_t(4096) << 8, -1);
    QByteArray packed;
    uint32_t bits = 0;
    int count = 0;
    int width = CodeSize + 1;
    int next = clear + 2;
    const auto putCode = [&](int Code) {
        bits |= uint32_t(Code) << count;
        for (count += width; count >= 8; count -= 8, bits >>= 8)
            packed.append(char(bits));
    };
    putCode(clear);
    int prefix = -1;
    for (const uint8_t index : Indices) {
        if (prefix < 0) {
            prefix = index;
            continue;
        }
        int16_t& slot = child[size_t(prefix) << 8 | index];
        if (slot >= 0) {
            prefix = slot;
            continue;
        }
        putCode(prefix);
        prefix = index;
        if (next == 4096) {
            putCode(clear);
            std::fill(child.begin(), child.end(), int16_t(-1));
            width = CodeSize + 1;
            next = clear + 2;
            continue;
        }
        slot = int16_t(next);
        if (next++ == 1 << width && width < 12)
            ++width;
    }
    if (prefix >= 0) {
        putCode(prefix);
        // The decoder adds an entry for the last code too, and may widen.
        if (next < 4096 && next == 1 << width)
            ++width;
    }
    putCode(clear + 1);
    if (count > 0)
        packed.append(char(bits));
    QByteArray blocks;
    for (qsizetype i = 0; i < packed.size(); i += 255) {
        const QByteArray block = packed.mid(i, 255);
        blocks.append(char(block.size())).append(block);
    }
    return blocks.append('\0');
}

// A GIF of one frame over the whole screen, with a palette of 16 colours.
inline QByteArray GifFile(uint16_t Width, uint16_t Height, const std::array<uint32_t, 16>& Palette,
                          const std::vector<uint8_t>& Indices)
{
    QByteArray gif("GIF89a");
    const auto put16 = [&](uint16_t v) { gif.append(char(v)).append(char(v >> 8)); };
    put16(Width);
    put16(Height);
    gif.append(char(0xF3)).append(2, '\0');
    for (const uint32_t c : Palette)
        gif.append(char(c >> 16)).append(char(c >> 8)).append(char(c));
    gif.append(',');
    put16(0);
    put16(0);
    put16(Width);
    put16(Height);
    gif.append('\0').append(char(4));
    return gif + GifImageData(Indices, 4) + ';';
}

// A GIF's screen: its header and its global colour table, when it has one
// (of 2 to 256 colours, a power of two).
inline QByteArray GifScreen(uint16_t Width, uint16_t Height, const std::vector<uint32_t>& Table,
                            const char* Version = "GIF89a")
{
    QByteArray gif(Version);
    gif.append(char(Width)).append(char(Width >> 8)).append(char(Height)).append(char(Height >> 8));
    int bits = 0;
    while (Table.size() > size_t(2) << bits)
        ++bits;
    gif.append(char(Table.empty() ? 0 : 0x80 | bits)).append(2, '\0');
    for (const uint32_t c : Table)
        gif.append(char(c >> 16)).append(char(c >> 8)).append(char(c));
    return gif;
}

// One frame: its place on the screen, its indices row by row as shown, and
// what stands before it.
struct TGifFrame {
    uint16_t Left = 0, Top = 0, Width = 0, Height = 0;
    std::vector<uint8_t> Indices;
    // Of 2 to 256 colours, a power of two; empty for none.
    std::vector<uint32_t> LocalTable;
    // Given: a graphic control extension with this transparent index.
    int Transparent = -1;
    bool Interlaced = false;
    // The LZW minimum code size; 0 for the least that holds every index.
    int CodeSize = 0;
};

inline QByteArray GifFrame(const TGifFrame& Frame)
{
    QByteArray gif;
    if (Frame.Transparent >= 0)
        gif.append("\x21\xF9\x04\x01\0\0", 6).append(char(Frame.Transparent)).append('\0');
    gif.append(',');
    for (const uint16_t v : {Frame.Left, Frame.Top, Frame.Width, Frame.Height})
        gif.append(char(v)).append(char(v >> 8));
    int bits = 0;
    while (Frame.LocalTable.size() > size_t(2) << bits)
        ++bits;
    gif.append(char((Frame.LocalTable.empty() ? 0 : 0x80 | bits) | (Frame.Interlaced ? 0x40 : 0)));
    for (const uint32_t c : Frame.LocalTable)
        gif.append(char(c >> 16)).append(char(c >> 8)).append(char(c));
    // Interlaced rows are stored every eighth from the first, every eighth
    // from the fifth, every fourth from the third, every second from the second.
    std::vector<uint8_t> stored;
    const auto putRows = [&](int First, int Step) {
        for (int y = First; y < Frame.Height; y += Step)
            stored.insert(stored.end(), Frame.Indices.begin() + ptrdiff_t(y) * Frame.Width,
                          Frame.Indices.begin() + ptrdiff_t(y + 1) * Frame.Width);
    };
    if (Frame.Interlaced) {
        putRows(0, 8);
        putRows(4, 8);
        putRows(2, 4);
        putRows(1, 2);
    } else {
        stored = Frame.Indices;
    }
    int codeSize = Frame.CodeSize > 0 ? Frame.CodeSize : 2;
    for (const uint8_t i : Frame.Indices)
        while (i >> codeSize != 0)
            ++codeSize;
    gif.append(char(codeSize));
    return gif + GifImageData(stored, codeSize);
}

// One tag of a TIFF directory: its field type (3 SHORT, 4 LONG, 16 LONG8)
// and its values.
struct TTiffTag {
    uint16_t Tag;
    uint16_t Type;
    std::vector<uint64_t> Values;
};

// Where a TiffFile's Data starts.
inline uint64_t TiffDataOffset(bool Big) { return Big ? 16 : 8; }

// A classic TIFF or a BigTIFF in either byte order: the header, Data, then
// one directory of Tags in order of their numbers, then the values that do
// not fit in their entries.
inline QByteArray TiffFile(std::vector<TTiffTag> Tags, const QByteArray& Data, bool Big, bool BigEndian = false)
{
    const auto put = [BigEndian](QByteArray& To, uint64_t Value, int Bytes) {
        for (int i = 0; i < Bytes; ++i)
            To.append(char(Value >> (8 * (BigEndian ? Bytes - 1 - i : i))));
    };
    const int offsetSize = Big ? 8 : 4;
    QByteArray file(BigEndian ? "MM" : "II");
    put(file, Big ? 43 : 42, 2);
    if (Big) {
        put(file, 8, 2);
        put(file, 0, 2);
    }
    const uint64_t directory = TiffDataOffset(Big) + uint64_t(Data.size());
    put(file, directory, offsetSize);
    file += Data;
    std::sort(Tags.begin(), Tags.end(), [](const TTiffTag& A, const TTiffTag& B) { return A.Tag < B.Tag; });
    const int countSize = Big ? 8 : 2, entrySize = Big ? 20 : 12;
    const uint64_t valuesAt = directory + uint64_t(countSize + entrySize * int(Tags.size()) + offsetSize);
    QByteArray entries, values;
    put(entries, Tags.size(), countSize);
    for (const TTiffTag& t : Tags) {
        const int unit = t.Type == 3 ? 2 : t.Type == 16 ? 8 : 4;
        QByteArray v;
        for (const uint64_t x : t.Values)
            put(v, x, unit);
        put(entries, t.Tag, 2);
        put(entries, t.Type, 2);
        put(entries, t.Values.size(), offsetSize);
        if (v.size() <= offsetSize) {
            entries += v + QByteArray(offsetSize - v.size(), '\0');
        } else {
            put(entries, valuesAt + uint64_t(values.size()), offsetSize);
            values += v;
        }
    }
    put(entries, 0, offsetSize);
    return file + entries + values;
}

struct TDecoded {
    // The header was taken: a surface of the size would be allocated.
    bool Valid = false;
    bool Read = false;
    // After Read: the decoder found every pixel opaque.
    bool Opaque = false;
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint32_t> Pixels;
};

inline TDecoded Decode(const QByteArray& File)
{
    Platform::TMemoryStream stream(std::vector<uint8_t>(File.begin(), File.end()));
    Platform::TStreamAdapter adapter(stream);
    Platform::TImageDecoder decoder(adapter);
    TDecoded result;
    result.Valid = decoder.Valid();
    if (!result.Valid)
        return result;
    result.Width = decoder.Width();
    result.Height = decoder.Height();
    result.Pixels.resize(size_t(result.Width) * size_t(result.Height));
    result.Read = decoder.Read(reinterpret_cast<uint8_t*>(result.Pixels.data()), result.Width * 4);
    result.Opaque = decoder.Opaque();
    return result;
}

inline std::vector<uint32_t> PixelsOf(const QImage& Image)
{
    const QImage argb = Image.convertToFormat(QImage::Format_ARGB32);
    std::vector<uint32_t> pixels;
    pixels.reserve(size_t(argb.width()) * size_t(argb.height()));
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(argb.constScanLine(y));
        pixels.insert(pixels.end(), row, row + argb.width());
    }
    return pixels;
}

} // namespace Corvanith::Tests
