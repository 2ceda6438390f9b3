#include "bmpfile.h"
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

QByteArray Bytes(const std::vector<uint8_t>& Data)
{
    return QByteArray(reinterpret_cast<const char*>(Data.data()), qsizetype(Data.size()));
}

// Every layout of uncompressed rows: the rows exactly in the file decode,
// one byte fewer (the last row's padding) is refused, and so is the header
// claiming 16000 x 16000 over a hundred bytes of rows.
TEST(Bmp, RowsMustAllLieInTheFile)
{
    std::vector<uint32_t> palette(256);
    std::iota(palette.begin(), palette.end(), 0x203040u);
    const auto colours = [&palette](int Bits) { return std::vector<uint32_t>(palette.begin(), palette.begin() + (1 << Bits)); };
    struct TCase {
        const char* Name;
        uint16_t Bits;
        uint32_t Compression;
        std::vector<uint32_t> Colors;
        uint32_t HeaderSize, Gap;
        bool TopDown;
    };
    const TCase cases[] = {
        {"1 bit", 1, BmpUncompressed, colours(1), 40, 0, false},
        {"4 bits", 4, BmpUncompressed, colours(4), 40, 0, false},
        {"8 bits", 8, BmpUncompressed, colours(8), 40, 0, false},
        {"8 bits, pixels past a gap", 8, BmpUncompressed, colours(8), 40, 300, false},
        {"8 bits, oldest header", 8, BmpUncompressed, colours(8), 12, 0, false},
        {"16 bits", 16, BmpUncompressed, {}, 40, 0, false},
        {"16-bit fields", 16, BmpBitFields, {0xF800, 0x07E0, 0x001F}, 40, 0, false},
        {"16-bit fields, 124-byte header", 16, BmpBitFields, {0x7C00, 0x03E0, 0x001F, 0x8000}, 124, 0, false},
        {"24 bits", 24, BmpUncompressed, {}, 40, 0, false},
        {"24 bits, top-down", 24, BmpUncompressed, {}, 40, 0, true},
        {"24 bits, 108-byte header", 24, BmpUncompressed, {}, 108, 0, false},
        {"24 bits, oldest header", 24, BmpUncompressed, {}, 12, 0, false},
        {"32-bit fields", 32, BmpBitFields, {0xFF0000, 0x00FF00, 0x0000FF}, 40, 0, true},
    };
    constexpr int32_t W = 37, H = 5;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<uint8_t> rows((size_t(W) * c.Bits + 31) / 32 * 4 * H);
        for (size_t i = 0; i < rows.size(); ++i)
            rows[i] = uint8_t(i * 37 % 253);
        const int32_t height = c.TopDown ? -H : H;
        const QByteArray file = Bytes(BmpFile(W, height, c.Bits, c.Compression, c.Colors, rows, c.HeaderSize, c.Gap));
        const TDecoded decoded = Decode(file);
        EXPECT_TRUE(decoded.Valid && decoded.Read);
        EXPECT_EQ(decoded.Width, W);
        EXPECT_EQ(decoded.Height, H);
        EXPECT_FALSE(Decode(file.chopped(1)).Valid);
        rows.resize(100);
        ExpectRefusedBeforeItsPixels(
            Bytes(BmpFile(16000, c.TopDown ? -16000 : 16000, c.Bits, c.Compression, c.Colors, rows, c.HeaderSize, c.Gap)));
    }
    // A pixel offset within the headers: the rows follow the palette.
    QByteArray file = Bytes(BmpFile(3, 2, 8, BmpUncompressed, colours(8), std::vector<uint8_t>(8, 7)));
    file.replace(10, 4, QByteArray(4, '\0'));
    const TDecoded decoded = Decode(file);
    ASSERT_TRUE(decoded.Valid && decoded.Read);
    EXPECT_EQ(decoded.Pixels, std::vector<uint32_t>(6, 0xFF000000u | palette[7]));
    EXPECT_FALSE(Decode(file.chopped(1)).Valid);
}

// Some writers store fewer colours than the header implies (none stated is
// 256) and point the pixel offset into the palette, right after the info
// header. Qt's reader reads the whole palette, then rows up to the file's
// end, and shows the file: the bytes it lacks take the first colour.
TEST(Bmp, PixelOffsetIntoAShortPaletteReadsAsQtReadsIt)
{
    constexpr int32_t W = 16, H = 16;
    std::vector<uint32_t> palette(252);
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = uint32_t(i * 0x010305u + 0x102030u) & 0xFFFFFFu;
    std::vector<uint8_t> indices(size_t(W) * H);
    for (size_t i = 0; i < indices.size(); ++i)
        indices[i] = uint8_t(i * 7 % 252);
    const auto file = [&](uint32_t Colours, uint32_t Offset, int Cut) {
        QByteArray bmp = Bytes(BmpFile(W, H, 8, BmpUncompressed, palette, indices));
        bmp.replace(46, 4, QByteArray(reinterpret_cast<const char*>(&Colours), 4));
        bmp.replace(10, 4, QByteArray(reinterpret_cast<const char*>(&Offset), 4));
        return bmp.chopped(Cut);
    };
    // The stated count: nothing is lacking.
    ExpectAsQtReads(file(252, 54, 0), "bmp");
    // 256 implied: Qt takes the first four colours of the rows for the
    // palette's last four and the rows start 16 bytes later, so the top row
    // (the last stored) lies past the end.
    for (const int cut : {0, 5, 17, 200}) {
        SCOPED_TRACE(cut);
        const QByteArray short256 = file(0, 54, cut);
        const TDecoded decoded = Decode(short256);
        ASSERT_TRUE(decoded.Valid && decoded.Read);
        std::vector<uint32_t> expected(size_t(W) * H);
        const auto colour = [&](size_t At) {
            const auto* p = reinterpret_cast<const uint8_t*>(short256.constData()) + 54 + 4 * size_t(uint8_t(short256[At]));
            return 0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        };
        const size_t pixelsAt = 54 + 256 * 4;
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x) {
                const size_t at = pixelsAt + size_t(H - 1 - y) * W + size_t(x);
                expected[size_t(y) * W + size_t(x)] = at < size_t(short256.size()) ? colour(at) : 0xFF000000u | palette[0];
            }
        EXPECT_EQ(decoded.Pixels, expected);
    }
    // It may lack what the palette took beyond the offset, no more, and
    // never part of the palette itself.
    EXPECT_TRUE(Decode(file(0, 1062, 0)).Read);
    EXPECT_FALSE(Decode(file(0, 1062, 1)).Valid);
    EXPECT_FALSE(Decode(file(0, 1074, 0)).Valid);
    EXPECT_FALSE(Decode(file(0, 54, 257)).Valid);
}

// RLE data decodes when it ends the picture before the file ends: by an end
// of bitmap, or by the end of its last row.
TEST(Bmp, RunsMustEndThePictureWithinTheFile)
{
    struct TCase {
        const char* Name;
        uint16_t Bits;
        int32_t Width, Height;
        std::vector<uint8_t> Data;
        bool Decodes;
    };
    const TCase cases[] = {
        {"rows ended by ends of line", 8, 2, 2, {2, 5, 0, 0, 2, 6, 0, 0}, true},
        {"the last end of line missing", 8, 2, 2, {2, 5, 0, 0, 2, 6}, false},
        {"an end of bitmap", 8, 2, 2, {2, 5, 0, 1}, true},
        {"pixels as they stand, padded", 8, 3, 1, {0, 3, 1, 2, 3, 0, 0, 0}, true},
        {"pixels as they stand, cut short", 8, 3, 1, {0, 3, 1, 2}, false},
        // The reader cuts a run at the bottom row's end and reads on from there.
        {"pixels past the bottom row's end", 8, 4, 1, {0, 6, 1, 2, 3, 4, 0, 1}, true},
        // A move never leaves the picture: the last row still needs its end.
        {"a move far past the last row", 8, 4, 3, {0, 2, 0, 200}, false},
        {"a move to the last row, ended", 8, 4, 3, {0, 2, 1, 200, 0, 0}, true},
        {"rle4 pixels as they stand, padded", 4, 5, 1, {0, 5, 0x12, 0x34, 0x50, 0, 0, 1}, true},
        {"rle4 pixels as they stand, unpadded", 4, 5, 1, {0, 5, 0x12, 0x34, 0x50}, false},
        {"rle4 runs, the end of line missing", 4, 9, 2, {9, 0x12, 0, 0, 9, 0x34}, false},
    };
    std::vector<uint32_t> palette(16);
    std::iota(palette.begin(), palette.end(), 0x405060u);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const QByteArray file =
            Bytes(BmpFile(c.Width, c.Height, c.Bits, c.Bits == 8 ? BmpRle8 : BmpRle4, palette, c.Data));
        const TDecoded decoded = Decode(file);
        EXPECT_EQ(decoded.Valid, c.Decodes);
        EXPECT_EQ(decoded.Read, c.Decodes);
    }
    // 16000 x 16000 over a hundred bytes of full runs with no end.
    for (const uint16_t bits : {uint16_t(4), uint16_t(8)}) {
        SCOPED_TRACE(bits);
        std::vector<uint8_t> runs;
        for (int i = 0; i < 50; ++i)
            runs.insert(runs.end(), {255, 1});
        ExpectRefusedBeforeItsPixels(Bytes(BmpFile(16000, 16000, bits, bits == 8 ? BmpRle8 : BmpRle4, palette, runs)));
    }
}

TEST(Bmp, FieldsAreStretchedToTheFullRange)
{
    // Each field's value v of largest value max comes out as v * 255 / max.
    struct TCase {
        const char* Name;
        uint16_t Bits;
        uint32_t Compression;
        // Red, green, blue, alpha.
        std::array<uint32_t, 4> Masks;
        uint32_t HeaderSize;
        // Only a header of 108 bytes or more holds an alpha mask.
        bool Alpha;
    };
    const TCase cases[] = {
        {"ARGB1555", 16, BmpBitFields, {0x7C00, 0x03E0, 0x001F, 0x8000}, 124, true},
        {"ARGB1555, 108-byte header", 16, BmpBitFields, {0x7C00, 0x03E0, 0x001F, 0x8000}, 108, true},
        {"ARGB4444", 16, BmpBitFields, {0x0F00, 0x00F0, 0x000F, 0xF000}, 124, true},
        {"RGB565", 16, BmpBitFields, {0xF800, 0x07E0, 0x001F, 0}, 124, false},
        {"RGB555", 16, BmpBitFields, {0x7C00, 0x03E0, 0x001F, 0}, 124, false},
        {"RGB565, masks after a 40-byte header", 16, BmpBitFields, {0xF800, 0x07E0, 0x001F, 0}, 40, false},
        {"16 bits uncompressed", 16, BmpUncompressed, {0x7C00, 0x03E0, 0x001F, 0}, 40, false},
        {"32 bits of 5, 6, 5 and 4", 32, BmpBitFields, {0xF8000, 0x7E00, 0x1F0, 0xF0000000}, 124, true},
        {"32 bits of 8", 32, BmpBitFields, {0xFF0000, 0x00FF00, 0x0000FF, 0xFF000000}, 124, true},
    };
    constexpr int32_t W = 16, H = 3;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto field = [&c](size_t Channel, int32_t X, int32_t Y) {
            const uint32_t mask = c.Masks[Channel];
            const uint32_t max = mask == 0 ? 0 : mask >> std::countr_zero(mask);
            // The first pixel all ones: white, opaque.
            return X == 0 ? max : uint32_t(X * 7 + Y * 5 + int32_t(Channel) * 3) % (max + 1);
        };
        std::vector<std::vector<uint8_t>> rows;
        std::vector<uint32_t> expected;
        for (int32_t y = 0; y < H; ++y) {
            std::vector<uint8_t> row;
            for (int32_t x = 0; x < W; ++x) {
                uint32_t v = 0, argb = 0;
                for (size_t channel = 0; channel < 4; ++channel) {
                    const uint32_t mask = c.Masks[channel];
                    const uint32_t max = mask == 0 ? 0 : mask >> std::countr_zero(mask);
                    const uint32_t f = field(channel, x, y);
                    v |= mask == 0 ? 0 : f << std::countr_zero(mask);
                    const uint32_t full = channel == 3 && !c.Alpha ? 255 : (f * 255 + max / 2) / max;
                    argb |= full << (channel == 3 ? 24 : 16 - 8 * channel);
                }
                for (int b = 0; b < c.Bits / 8; ++b)
                    row.push_back(uint8_t(v >> (8 * b)));
                expected.push_back(argb);
            }
            rows.push_back(row);
        }
        EXPECT_EQ(expected[0], 0xFFFFFFFFu);
        std::vector<uint32_t> colors;
        if (c.Compression == BmpBitFields)
            colors.assign(c.Masks.begin(), c.Masks.begin() + (c.HeaderSize >= 108 ? 4 : 3));
        for (const bool down : {false, true}) {
            SCOPED_TRACE(down ? "top-down" : "bottom-up");
            std::vector<uint8_t> data;
            for (int32_t i = 0; i < H; ++i) {
                const std::vector<uint8_t>& row = rows[size_t(down ? i : H - 1 - i)];
                data.insert(data.end(), row.begin(), row.end());
            }
            const std::vector<uint8_t> file = BmpFile(W, down ? -H : H, c.Bits, c.Compression, colors, data, c.HeaderSize);
            const Corvanith::Tests::TDecoded decoded = Corvanith::Tests::Decode(QByteArray(
                reinterpret_cast<const char*>(file.data()), qsizetype(file.size())));
            ASSERT_TRUE(decoded.Valid && decoded.Read);
            EXPECT_EQ(decoded.Pixels, expected);
        }
    }
    // The alpha mask of a 40-byte header's masks is not read: opaque.
    const std::vector<uint8_t> file =
        BmpFile(2, 1, 16, BmpBitFields, {0x7C00, 0x03E0, 0x001F, 0x8000}, {0xFF, 0x7F, 0xFF, 0xFF});
    const Corvanith::Tests::TDecoded decoded =
        Corvanith::Tests::Decode(QByteArray(reinterpret_cast<const char*>(file.data()), qsizetype(file.size())));
    ASSERT_TRUE(decoded.Valid && decoded.Read);
    EXPECT_EQ(decoded.Pixels, std::vector<uint32_t>(2, 0xFFFFFFFFu));
}

} // namespace
