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

// Sets a tag of the first directory of a little-endian TIFF to Value.
void SetTiffTag(QByteArray& Tiff, uint16_t Tag, uint32_t Value)
{
    ASSERT_TRUE(Tiff.startsWith("II"));
    const auto at = [&](qsizetype i, int bytes) {
        uint32_t v = 0;
        for (int k = bytes - 1; k >= 0; --k)
            v = v << 8 | uint8_t(Tiff[i + k]);
        return v;
    };
    const qsizetype directory = at(4, 4);
    for (uint32_t e = 0; e < at(directory, 2); ++e) {
        const qsizetype entry = directory + 2 + 12 * qsizetype(e);
        if (at(entry, 2) != Tag)
            continue;
        const int bytes = at(entry + 2, 2) == 3 ? 2 : 4;
        for (int k = 0; k < bytes; ++k)
            Tiff[entry + 8 + k] = char(Value >> (8 * k));
        return;
    }
    FAIL() << "no tag " << Tag;
}

QByteArray Tiff(const QImage& Image, int Compression)
{
    return Written(Image, "tiff", [&](QImageWriter& w) { w.setCompression(Compression); });
}

TEST(Tiff, WrittenByQtDecodes)
{
    for (const int compression : {0, 1}) {
        SCOPED_TRACE(compression == 0 ? "uncompressed" : "LZW");
        ExpectDecodes(Tiff(Detailed(64, 48), compression), Detailed(64, 48), 0);
        ExpectDecodes(Tiff(Detailed(1000, 700), compression), Detailed(1000, 700), 0);
    }
    ExpectDecodes(Tiff(Flat(4000, 4000), 1), Flat(4000, 4000), 0);
}

TEST(Tiff, FrameLargerThanItsStripsIsRefused)
{
    for (const int compression : {0, 1}) {
        SCOPED_TRACE(compression == 0 ? "uncompressed" : "LZW");
        const QByteArray file = Tiff(Detailed(64, 64), compression);
        QByteArray grown = file;
        SetTiffTag(grown, 256, 15000);
        SetTiffTag(grown, 257, 15000);
        // Too few strips for the rows it claims.
        EXPECT_FALSE(Decode(grown).Valid);
        // One strip for all rows, far too short for them.
        SetTiffTag(grown, 278, 15000);
        EXPECT_FALSE(Decode(grown).Valid);
        // The one strip of a small picture, moved to run past the end.
        QByteArray beyond = Tiff(Detailed(16, 16), compression);
        SetTiffTag(beyond, 273, uint32_t(beyond.size() - 16));
        EXPECT_FALSE(Decode(beyond).Valid);
    }
}

// The tags of a Width x Height picture of 8-bit grey in strips of Rows
// rows, whose Offsets and Counts are given (none: the tag is left out).
std::vector<TTiffTag> GreyStrips(uint32_t Width, uint32_t Height, uint32_t Rows, uint64_t Compression, bool Big,
                                 std::vector<uint64_t> Offsets, std::vector<uint64_t> Counts)
{
    const uint16_t offsetType = Big ? 16 : 4;
    std::vector<TTiffTag> tags = {{256, 4, {Width}}, {257, 4, {Height}}, {258, 3, {8}}, {259, 3, {Compression}},
                                  {262, 3, {1}},     {277, 3, {1}},      {278, 4, {Rows}}};
    tags.push_back({273, offsetType, std::move(Offsets)});
    if (!Counts.empty())
        tags.push_back({279, offsetType, std::move(Counts)});
    return tags;
}

// A grey picture whose samples the test knows, as the rows of a file.
struct TGreyPicture {
    QImage Image;
    QByteArray Samples;

    TGreyPicture(int Width, int Height) : Image(Width, Height, QImage::Format_RGB32)
    {
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x) {
                const auto v = uint8_t(x * 5 + y * 3);
                Samples.append(char(v));
                Image.setPixel(x, y, qRgb(v, v, v));
            }
    }
};

TEST(Tiff, FileWhoseStripsCannotBeBoundedIsRefusedBeforeAnySurface)
{
    const QByteArray few(40, '\x80');
    for (const bool big : {false, true}) {
        SCOPED_TRACE(big ? "BigTIFF" : "classic");
        const uint64_t data = TiffDataOffset(big);
        struct TCase {
            const char* Name;
            uint32_t Side;
            uint64_t Compression;
            std::vector<uint64_t> Counts;
        };
        // Each claims a side of Side pixels from 40 bytes.
        const TCase cases[] = {
            {"uncompressed without byte counts", 16000, 1, {}},
            {"LZW without byte counts", 16000, 5, {}},
            {"Deflate without byte counts", 100, 8, {}},
            {"a scheme libtiff does not know", 16000, 12345, {40}},
            {"a small picture in a scheme libtiff does not know", 4, 12345, {16}},
        };
        Corvanith::Testing::ResetResidentPeak();
        const int64_t before = Corvanith::Testing::ResidentBytes();
        for (const TCase& c : cases) {
            SCOPED_TRACE(c.Name);
            const QByteArray file =
                TiffFile(GreyStrips(c.Side, c.Side, c.Side, c.Compression, big, {data}, c.Counts), few, big);
            EXPECT_FALSE(Decode(file).Valid);
        }
        if (Corvanith::Testing::ResidentMemoryTells) {
            EXPECT_LT(Corvanith::Testing::ResidentBytes("VmHWM:") - before, int64_t(64) << 20);
        }
        // Rows stored as they are need no counts while they lie in the
        // file: libtiff works them out from the picture's size.
        const TGreyPicture grey(64, 48);
        const QByteArray whole = TiffFile(GreyStrips(64, 48, 48, 1, big, {data}, {}), grey.Samples, big);
        ExpectDecodes(whole, grey.Image, 0);
        // The strip moved on by more than the directory after it holds.
        EXPECT_FALSE(Decode(TiffFile(GreyStrips(64, 48, 48, 1, big, {data + 400}, {}), grey.Samples, big)).Valid);
    }
}

TEST(Tiff, BigTiffDecodesAndIsCheckedAsClassicTiff)
{
    const TGreyPicture grey(40, 24);
    const uint64_t data = TiffDataOffset(true);
    for (const bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        // Strips of 10 rows, offsets and counts as LONG8 beyond the entries.
        const auto strips = [&](uint32_t Width, uint32_t Height, uint64_t LastCount) {
            const std::vector<uint64_t> offsets = {data, data + 400, data + 800}, counts = {400, 400, LastCount};
            return TiffFile(GreyStrips(Width, Height, 10, 1, true, offsets, counts), grey.Samples, true, bigEndian);
        };
        ExpectDecodes(strips(40, 24, 160), grey.Image, 0);
        // Too few strips for the rows claimed; strips running past the end.
        EXPECT_FALSE(Decode(strips(15000, 15000, 160)).Valid);
        EXPECT_FALSE(Decode(strips(40, 24, 1 << 20)).Valid);
        EXPECT_FALSE(Decode(strips(40, 24, uint64_t(1) << 62)).Valid);

        // Tiles of 16 x 16, Deflate-compressed, offsets and counts as LONG.
        QByteArray tiles;
        std::vector<uint64_t> offsets, counts;
        for (int ty = 0; ty < 24; ty += 16)
            for (int tx = 0; tx < 40; tx += 16) {
                QByteArray tile;
                for (int y = ty; y < ty + 16; ++y)
                    for (int x = tx; x < tx + 16; ++x)
                        tile.append(x < 40 && y < 24 ? grey.Samples[y * 40 + x] : '\0');
                offsets.push_back(data + uint64_t(tiles.size()));
                tiles += Zlib(tile);
                counts.push_back(uint64_t(tiles.size()) + data - offsets.back());
            }
        std::vector<TTiffTag> tags = {{256, 4, {40}},  {257, 4, {24}},    {258, 3, {8}},     {259, 3, {8}},
                                      {262, 3, {1}},   {277, 3, {1}},     {322, 3, {16}},    {323, 3, {16}},
                                      {324, 4, offsets}, {325, 4, counts}};
        ExpectDecodes(TiffFile(tags, tiles, true, bigEndian), grey.Image, 0);
        // The same tiles for a picture of 4000 x 4000.
        tags[0].Values = tags[1].Values = {4000};
        EXPECT_FALSE(Decode(TiffFile(tags, tiles, true, bigEndian)).Valid);
    }
}

TEST(Tiff, GreyWithAlphaKeepsItsAlpha)
{
    // Grey and alpha samples of 8 or 16 bits, the alpha straight
    // (unassociated) or premultiplied (associated), the grey stored from
    // black or from white, the samples side by side or in planes of their
    // own, in one strip or in tiles that the picture's edges cut.
    constexpr uint32_t W = 40, H = 3, Tile = 32;
    const auto grey = [](uint32_t X, uint32_t Y) { return uint8_t(X * 7 + Y * 40); };
    const auto alpha = [](uint32_t X, uint32_t Y) { return uint8_t(128 + (X * 5 + Y * 11) % 128); };
    struct TCase {
        const char* Name;
        uint16_t Photometric;
        uint16_t ExtraSample;
        bool Planes;
        uint16_t Bits;
        bool Tiled;
        bool BigEndian;
    };
    const TCase cases[] = {
        {"straight", 1, 2, false, 8, false, false},
        {"premultiplied", 1, 1, false, 8, false, false},
        {"from white", 0, 2, false, 8, false, false},
        {"premultiplied from white", 0, 1, false, 8, false, false},
        {"in planes", 1, 2, true, 8, false, false},
        {"premultiplied in planes", 1, 1, true, 8, false, false},
        {"from white in planes", 0, 2, true, 8, false, false},
        {"in tiles", 1, 2, false, 8, true, false},
        {"16 bits", 1, 2, false, 16, false, false},
        {"16 bits premultiplied", 1, 1, false, 16, false, false},
        {"16 bits from white", 0, 2, false, 16, false, false},
        {"16 bits big-endian in tiles", 1, 2, false, 16, true, true},
        {"16 bits in planes", 1, 2, true, 16, false, false},
        {"16 bits premultiplied in planes", 1, 1, true, 16, false, false},
        {"16 bits from white in planes", 0, 2, true, 16, false, false},
        {"16 bits big-endian in planes of tiles", 1, 2, true, 16, true, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        // The stored sample of each pixel: grey (0) or alpha (1).
        const auto sample = [&](uint32_t X, uint32_t Y, int Which) {
            const uint8_t g = grey(X, Y), a = alpha(X, Y);
            if (Which == 1)
                return a;
            const auto stored = uint8_t(c.ExtraSample == 1 ? (g * a + 127) / 255 : g);
            return uint8_t(c.Photometric == 0 ? 255 - stored : stored);
        };
        // A 16-bit sample's low byte differs from its high byte: swapped
        // bytes would show.
        const auto put = [&](QByteArray& To, uint8_t Value) {
            const uint16_t v = c.Bits == 8 ? Value : uint16_t(Value << 8 | 0x80);
            for (int i = c.Bits / 8 - 1; i >= 0; --i)
                To.append(char(v >> (8 * (c.BigEndian ? i : c.Bits / 8 - 1 - i))));
        };
        // Each plane's pieces in turn, and in a piece each of its samples;
        // what a tile holds beyond the picture is zero.
        const uint32_t pieceWidth = c.Tiled ? Tile : W, pieceHeight = c.Tiled ? Tile : H;
        QByteArray data;
        std::vector<uint64_t> offsets, counts;
        for (const int plane : c.Planes ? std::vector<int>{0, 1} : std::vector<int>{-1})
            for (uint32_t top = 0; top < H; top += pieceHeight)
                for (uint32_t left = 0; left < W; left += pieceWidth) {
                    offsets.push_back(Corvanith::Tests::TiffDataOffset(false) + uint64_t(data.size()));
                    for (uint32_t y = top; y < top + pieceHeight; ++y)
                        for (uint32_t x = left; x < left + pieceWidth; ++x)
                            for (const int which : {0, 1})
                                if (plane < 0 || plane == which)
                                    put(data, x < W && y < H ? sample(x, y, which) : 0);
                    counts.push_back(Corvanith::Tests::TiffDataOffset(false) + uint64_t(data.size()) - offsets.back());
                }
        std::vector<Corvanith::Tests::TTiffTag> tags = {
            {256, 4, {W}},  {257, 4, {H}},      {258, 3, {c.Bits, c.Bits}}, {259, 3, {1}},
            {262, 3, {c.Photometric}},          {277, 3, {2}},              {284, 3, {c.Planes ? 2u : 1u}},
            {338, 3, {c.ExtraSample}}};
        if (c.Tiled) {
            tags.insert(tags.end(), {{322, 3, {Tile}}, {323, 3, {Tile}}, {324, 4, offsets}, {325, 4, counts}});
        } else {
            tags.insert(tags.end(), {{273, 4, offsets}, {278, 4, {H}}, {279, 4, counts}});
        }
        const QByteArray file = Corvanith::Tests::TiffFile(tags, data, false, c.BigEndian);
        TMemoryStream stream(std::vector<uint8_t>(file.begin(), file.end()));
        TStreamAdapter adapter(stream);
        TImageDecoder decoder(adapter);
        std::vector<uint32_t> pixels(W * H);
        ASSERT_TRUE(decoder.Read(reinterpret_cast<uint8_t*>(pixels.data()), W * 4));
        EXPECT_FALSE(decoder.Opaque());
        // Premultiplied and 16-bit samples come back within one step.
        for (uint32_t y = 0; y < H; ++y)
            for (uint32_t x = 0; x < W; ++x) {
                const uint32_t pixel = pixels[y * W + x];
                EXPECT_EQ(pixel >> 24, alpha(x, y)) << x << ", " << y;
                for (const int shift : {0, 8, 16})
                    EXPECT_NEAR(int(pixel >> shift & 0xFF), grey(x, y), 1) << x << ", " << y;
            }
    }
}

} // namespace
