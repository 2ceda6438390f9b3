#pragma once
// Picture files for the decoder tests, made at run time: by Qt's own writers,
// or byte by byte where a test needs what no writer makes.
#include "platform/codecs.h"
#include "platform/streams.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

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

struct TDecoded {
    // The header was taken: a surface of the size would be allocated.
    bool Valid = false;
    bool Read = false;
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
