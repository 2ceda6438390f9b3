#include "platform/formats/formatchecks.h"
#include "platform/imagefiles.h"
#include "platform/codecs.h"

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <array>
#include <cstring>

using namespace Corvanith::Platform;
using namespace Corvanith::Tests;

namespace {

// A 64 x 64 RGB picture whose rows the test knows, and the chunks around it.
struct TPngParts {
    QImage Image{64, 64, QImage::Format_RGB32};
    QByteArray Head, Data;

    TPngParts()
    {
        QByteArray raw;
        for (int y = 0; y < 64; ++y) {
            raw += '\0';
            for (int x = 0; x < 64; ++x) {
                const uint8_t rgb[3] = {uint8_t(x * 4), uint8_t(y * 4), uint8_t(x ^ y)};
                raw.append(reinterpret_cast<const char*>(rgb), 3);
                Image.setPixel(x, y, qRgb(rgb[0], rgb[1], rgb[2]));
            }
        }
        Head = PngSignature() + PngHeader(64, 64, 8, 2);
        Data = PngChunk("IDAT", Zlib(raw));
    }
};

TEST(Png, ChunkLongerThanTheFileIsRefusedBeforeLibpngAllocatesIt)
{
    const TPngParts png;
    // libpng allocates a text chunk's stated length before it reads it.
    const QByteArray lying = PngChunk("tEXt", QByteArray("Comment\0hello", 13), 0x7FFFFFF0).chopped(4);
    const QByteArray end = PngChunk("IEND", {});
    struct TCase {
        const char* Name;
        QByteArray File;
    };
    const TCase cases[] = {
        {"after the image data", png.Head + png.Data + lying},
        {"before the image data", png.Head + lying + png.Data + end},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_FALSE(Decode(c.File).Valid);
    }
    // An honest text chunk, and the last checksum missing, are fine.
    ExpectDecodes(png.Head + PngChunk("tEXt", QByteArray("Comment\0hello", 13)) + png.Data + end, png.Image, 0);
    ExpectDecodes((png.Head + png.Data + end).chopped(4), png.Image, 0);
}

// A deflate stream of Count zero bytes, short beside what it inflates to:
// fixed-code blocks of matches of 258 bytes at distance 1.
QByteArray DeflatedZeros(uint32_t Count)
{
    QByteArray out("\x78\x01", 2);
    uint64_t bits = 0;
    int used = 0;
    const auto put = [&](uint32_t Value, int Length, bool Reversed) {
        for (int i = 0; i < Length; ++i) {
            const uint32_t bit = Reversed ? Value >> (Length - 1 - i) & 1 : Value >> i & 1;
            bits |= uint64_t(bit) << used++;
        }
        for (; used >= 8; used -= 8, bits >>= 8)
            out.append(char(bits));
    };
    put(1, 1, false);    // final block
    put(1, 2, false);    // fixed codes
    put(0x30, 8, true);  // literal 0
    for (uint32_t left = Count - 1; left >= 258; left -= 258) {
        put(0xC5, 8, true); // length 258
        put(0, 5, true);    // distance 1
    }
    for (uint32_t left = (Count - 1) % 258; left > 0; --left)
        put(0x30, 8, true);
    put(0, 7, true); // end of block
    if (used > 0)
        out.append(char(bits));
    PutBigEndian(out, Count % 65521 << 16 | 1, 4); // Adler-32 of zeros
    return out;
}

TEST(Png, TextInflatingToHundredsOfMegabytesStaysBoundedByLibpng)
{
    const TPngParts png;
    const QByteArray text = QByteArray("Comment\0\0", 9) + DeflatedZeros(300u << 20);
    ASSERT_LT(text.size(), 3 << 20);
    const QByteArray file = png.Head + PngChunk("zTXt", text) + png.Data + PngChunk("IEND", {});
    // The peak resident size, set back to the current one, shows what the
    // decode took at its most.
    Corvanith::Testing::ResetResidentPeak();
    const int64_t before = Corvanith::Testing::ResidentBytes();
    ExpectDecodes(file, png.Image, 0);
    if (Corvanith::Testing::ResidentMemoryTells) {
        EXPECT_LT(Corvanith::Testing::ResidentBytes("VmHWM:") - before, int64_t(64) << 20);
    }
}

// The bytes of the rows a PNG's image data inflates to, each with its
// filter byte; interlaced rows counted pixel by pixel from the pass pattern.
uint64_t FilteredBytes(uint32_t Width, uint32_t Height, uint32_t PixelBits, bool Interlaced)
{
    if (!Interlaced)
        return uint64_t(Height) * (1 + (uint64_t(Width) * PixelBits + 7) / 8);
    static constexpr uint8_t Pass[8][8] = {
        {1, 6, 4, 6, 2, 6, 4, 6}, {7, 7, 7, 7, 7, 7, 7, 7}, {5, 6, 5, 6, 5, 6, 5, 6}, {7, 7, 7, 7, 7, 7, 7, 7},
        {3, 6, 4, 6, 3, 6, 4, 6}, {7, 7, 7, 7, 7, 7, 7, 7}, {5, 6, 5, 6, 5, 6, 5, 6}, {7, 7, 7, 7, 7, 7, 7, 7},
    };
    uint64_t bytes = 0;
    for (uint8_t pass = 1; pass <= 7; ++pass)
        for (uint32_t y = 0; y < Height; ++y) {
            uint64_t pixels = 0;
            for (uint32_t x = 0; x < Width; ++x)
                pixels += Pass[y % 8][x % 8] == pass;
            if (pixels > 0)
                bytes += 1 + (pixels * PixelBits + 7) / 8;
        }
    return bytes;
}

QByteArray PngWithImageData(uint32_t Width, uint32_t Height, int Depth, int ColourType, bool Interlaced,
                            const QByteArray& Data)
{
    const QByteArray palette = ColourType == 3 ? PngChunk("PLTE", QByteArray(3, '\0')) : QByteArray();
    return PngSignature() + PngHeader(Width, Height, Depth, ColourType, Interlaced) + palette +
           PngChunk("IDAT", Data) + PngChunk("IEND", {});
}

TEST(Png, ImageDataTooShortForItsRowsIsRefused)
{
    // Deflate gives at most 1032 bytes for each byte it reads.
    constexpr uint64_t MostInflated = 1032;
    struct TCase {
        int ColourType, Depth;
        bool Interlaced;
        uint32_t Width, Height;
    };
    const TCase cases[] = {
        {0, 1, true, 3, 4000},    // tall: interlaced rows are many more than plain ones
        {6, 16, false, 100, 50},
        {3, 2, true, 999, 33},
        {2, 8, true, 1, 5000},    // passes without columns
        {4, 8, true, 5000, 1},    // passes without rows
        {0, 16, false, 2000, 3},
        {2, 16, true, 37, 201},
        {0, 8, false, 4000, 2500}, // zeros as tightly as zlib packs them
    };
    const auto channels = [](int ColourType) {
        return ColourType == 2 ? 3 : ColourType == 4 ? 2 : ColourType == 6 ? 4 : 1;
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.Width) + " x " + std::to_string(c.Height) + ", colour type " +
                     std::to_string(c.ColourType) + ", depth " + std::to_string(c.Depth) +
                     (c.Interlaced ? ", interlaced" : ""));
        const uint64_t rows =
            FilteredBytes(c.Width, c.Height, uint32_t(c.Depth * channels(c.ColourType)), c.Interlaced);
        const auto least = qsizetype((rows + MostInflated - 1) / MostInflated);
        const auto file = [&](const QByteArray& Data) {
            return PngWithImageData(c.Width, c.Height, c.Depth, c.ColourType, c.Interlaced, Data);
        };
        // The rows themselves, all zero, as zlib packs them: a valid picture.
        const TDecoded valid = Decode(file(Zlib(QByteArray(qsizetype(rows), '\0'))));
        EXPECT_TRUE(valid.Valid && valid.Read);
        EXPECT_FALSE(Decode(file(QByteArray(least - 1, '\0'))).Valid);
        EXPECT_TRUE(Decode(file(QByteArray(least, '\0'))).Valid);
    }
}

TEST(Png, TinyFileClaimingAHugePictureIsRefusedBeforeAnySurface)
{
    // 16000 x 16000 RGBA from twelve bytes of image data.
    const QByteArray file = PngSignature() + PngHeader(16000, 16000, 8, 6) +
                            PngChunk("IDAT", Zlib(QByteArray(1000, '\0')).left(12)) + PngChunk("IEND", {});
    ASSERT_EQ(file.size(), 69);
    Corvanith::Testing::ResetResidentPeak();
    const int64_t before = Corvanith::Testing::ResidentBytes();
    EXPECT_FALSE(Decode(file).Valid);
    if (Corvanith::Testing::ResidentMemoryTells) {
        EXPECT_LT(Corvanith::Testing::ResidentBytes("VmHWM:") - before, int64_t(64) << 20);
    }
}

TEST(Png, SixteenBitTransparentColourIsTransparent)
{
    // Samples of the key, of a value that differs from it in the low byte
    // only (the same in 8 bits, yet opaque), and of other values.
    const uint16_t key = 0xABAB;
    const uint16_t samples[] = {key, 0xABAC, 0x1212, 0xFFFF, 0x0000, key};
    const auto eight = [](uint16_t v) { return uint32_t((v * 255u + 32767u) / 65535u); };
    for (const bool colour : {false, true}) {
        SCOPED_TRACE(colour ? "RGB" : "grey");
        // Two rows; in colour the key is the sample in all three channels,
        // and a pixel that matches it in two channels only stays opaque.
        QByteArray rows[2];
        std::vector<uint32_t> expected;
        for (int y = 0; y < 2; ++y)
            for (const uint16_t v : samples) {
                const uint16_t blue = colour && y == 1 ? uint16_t(v ^ 0x0100) : v;
                for (const uint16_t s : colour ? std::vector<uint16_t>{v, v, blue} : std::vector<uint16_t>{v})
                    Corvanith::Tests::PutBigEndian(rows[y], s, 2);
                const bool transparent = v == key && blue == key;
                expected.push_back((transparent ? 0u : 0xFF000000u) | eight(v) << 16 | eight(v) << 8 | eight(blue));
            }
        QByteArray trns;
        for (int i = 0; i < (colour ? 3 : 1); ++i)
            Corvanith::Tests::PutBigEndian(trns, key, 2);
        const QByteArray file = Corvanith::Tests::PngFile(6, 2, 16, colour ? 2 : 0, {rows[0], rows[1]},
                                                          Corvanith::Tests::PngChunk("tRNS", trns));
        const Corvanith::Tests::TDecoded decoded = Corvanith::Tests::Decode(file);
        ASSERT_TRUE(decoded.Valid && decoded.Read);
        EXPECT_EQ(decoded.Pixels, expected);
    }
}

// ---- PNG colour keys as libpng takes them ----

// 16-bit samples; an 8-bit file stores each as its high byte.
using TSamples = std::array<uint16_t, 3>;

// Grey takes the first sample only; a key's samples always take 2 bytes.
QByteArray SamplesOf(const TSamples& Pixel, bool Colour, int Depth, int Bytes)
{
    QByteArray bytes;
    for (int i = 0; i < (Colour ? 3 : 1); ++i)
        Corvanith::Tests::PutBigEndian(bytes, Depth == 8 ? Pixel[size_t(i)] >> 8 : Pixel[size_t(i)], Bytes);
    return bytes;
}

// A grey or RGB PNG of Rows, with Before and After around its image data,
// which is split into chunks of DataChunk bytes (one chunk for 0).
QByteArray KeyedPng(int Depth, bool Colour, const std::vector<std::vector<TSamples>>& Rows, const QByteArray& Before,
                    const QByteArray& After, int DataChunk)
{
    using namespace Corvanith::Tests;
    QByteArray raw;
    for (const auto& row : Rows) {
        raw += '\0';
        for (const TSamples& pixel : row)
            raw += SamplesOf(pixel, Colour, Depth, Depth / 8);
    }
    const QByteArray data = Zlib(raw);
    QByteArray chunks;
    const qsizetype step = DataChunk > 0 ? DataChunk : data.size();
    for (qsizetype i = 0; i < data.size(); i += step)
        chunks += PngChunk("IDAT", data.mid(i, step));
    return PngSignature() + PngHeader(uint32_t(Rows[0].size()), uint32_t(Rows.size()), Depth, Colour ? 2 : 0) +
           Before + chunks + After + PngChunk("IEND", {});
}

const TSamples KeyA{0x1111, 0x2222, 0x3333}, KeyB{0x4444, 0x5555, 0x6666}, Other{0x7777, 0x8888, 0x9999};

enum class TKeyChunk { A, B, DamagedA, LongA, Text };

QByteArray KeyChunk(TKeyChunk Kind, int Depth, bool Colour)
{
    using Corvanith::Tests::PngChunk;
    switch (Kind) {
    case TKeyChunk::A: return PngChunk("tRNS", SamplesOf(KeyA, Colour, Depth, 2));
    case TKeyChunk::B: return PngChunk("tRNS", SamplesOf(KeyB, Colour, Depth, 2));
    case TKeyChunk::DamagedA: {
        QByteArray chunk = PngChunk("tRNS", SamplesOf(KeyA, Colour, Depth, 2));
        chunk[chunk.size() - 1] = char(chunk[chunk.size() - 1] ^ 1);
        return chunk;
    }
    case TKeyChunk::LongA: return PngChunk("tRNS", SamplesOf(KeyA, Colour, Depth, 2) + QByteArray(2, '\0'));
    case TKeyChunk::Text: return PngChunk("tEXt", QByteArray("Comment\0key", 11));
    }
    return {};
}

TEST(Png, TakesTheFirstValidKeyBeforeTheImageData)
{
    const std::vector<std::vector<TSamples>> rows = {{KeyA, KeyB, Other, KeyB, KeyA, Other},
                                                     {Other, KeyA, KeyA, KeyB, Other, KeyB}};
    using enum TKeyChunk;
    struct TCase {
        const char* Name;
        std::vector<TKeyChunk> Before, After;
        std::optional<TSamples> Key;
    };
    const TCase cases[] = {
        {"one key", {A}, {}, KeyA},
        {"two keys", {A, B}, {}, KeyA},
        {"two keys apart", {A, Text, B}, {}, KeyA},
        {"a key after the image data", {}, {A}, std::nullopt},
        {"keys before and after the image data", {A}, {B}, KeyA},
        {"a damaged key first", {DamagedA, B}, {}, KeyB},
        {"a key of the wrong length first", {LongA, B}, {}, KeyB},
        {"only a damaged key", {DamagedA}, {}, std::nullopt},
    };
    for (const TCase& k : cases)
        for (const int depth : {8, 16})
            for (const bool colour : {false, true})
                for (const int dataChunk : {0, 1}) {
                    SCOPED_TRACE(std::string(k.Name) + ", " + std::to_string(depth) + "-bit " +
                                 (colour ? "RGB" : "grey") + (dataChunk > 0 ? ", image data in 1-byte chunks" : ""));
                    QByteArray before, after;
                    for (const TKeyChunk chunk : k.Before)
                        before += KeyChunk(chunk, depth, colour);
                    for (const TKeyChunk chunk : k.After)
                        after += KeyChunk(chunk, depth, colour);
                    // Transparent pixels as 0: their colour is the reader's.
                    std::vector<uint32_t> expected;
                    for (const auto& row : rows)
                        for (const TSamples& pixel : row) {
                            const TSamples shown = colour ? pixel : TSamples{pixel[0], pixel[0], pixel[0]};
                            const bool transparent =
                                k.Key && (colour ? pixel == *k.Key : pixel[0] == (*k.Key)[0]);
                            // Each sample n * 0x1111 is n * 0x11 in 8 bits.
                            const uint32_t opaque = 0xFF000000u | uint32_t(shown[0] >> 8) << 16 |
                                                    uint32_t(shown[1] >> 8) << 8 | uint32_t(shown[2] >> 8);
                            expected.push_back(transparent ? 0u : opaque);
                        }
                    Corvanith::Tests::TDecoded decoded =
                        Corvanith::Tests::Decode(KeyedPng(depth, colour, rows, before, after, dataChunk));
                    ASSERT_TRUE(decoded.Valid && decoded.Read);
                    for (uint32_t& pixel : decoded.Pixels)
                        pixel = pixel >> 24 == 0 ? 0 : pixel;
                    EXPECT_EQ(decoded.Pixels, expected);
                }
}

// Counts what a decoder asks of its stream.
class TCountingStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    using TStream::Seek;

    int32_t Read(void* Buffer, int32_t Count) override
    {
        ++Reads;
        return TMemoryStream::Read(Buffer, Count);
    }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override
    {
        ++Seeks;
        return TMemoryStream::Seek(Offset, Origin);
    }

    int64_t Reads = 0;
    int64_t Seeks = 0;
};

TEST(Png, FileOfTinyChunksIsReadInBlocks)
{
    // libpng reads each chunk's head, data and checksum apart; a hidden key
    // chunk must not make every read seek first.
    constexpr int W = 64, H = 64;
    const TSamples key{0xABAB, 0x1234, 0x5678};
    std::vector<std::vector<TSamples>> rows(H);
    uint32_t seed = 1;
    for (auto& row : rows)
        for (int x = 0; x < W; ++x) {
            seed = seed * 1103515245u + 12345u;
            row.push_back(x % 5 == 0 ? key : TSamples{uint16_t(seed >> 16), uint16_t(seed >> 8), uint16_t(seed)});
        }
    for (const bool keyed : {false, true}) {
        SCOPED_TRACE(keyed ? "with a key" : "without a key");
        const QByteArray trns = keyed ? Corvanith::Tests::PngChunk("tRNS", SamplesOf(key, true, 16, 2)) : QByteArray();
        const QByteArray file = KeyedPng(16, true, rows, trns, {}, 1);
        const int64_t chunks = file.size() / 13;
        ASSERT_GT(chunks, 10000);
        TCountingStream stream(std::vector<uint8_t>(file.begin(), file.end()));
        TStreamAdapter adapter(stream);
        TImageDecoder decoder(adapter);
        ASSERT_TRUE(decoder.Valid());
        std::vector<uint32_t> pixels(size_t(W) * H);
        ASSERT_TRUE(decoder.Read(reinterpret_cast<uint8_t*>(pixels.data()), W * 4));
        EXPECT_EQ(pixels[0] >> 24, keyed ? 0u : 0xFFu);
        EXPECT_EQ(pixels[1] >> 24, 0xFFu);
        EXPECT_LT(stream.Reads, chunks / 100);
        EXPECT_LT(stream.Seeks, chunks / 100);
    }
}

} // namespace
