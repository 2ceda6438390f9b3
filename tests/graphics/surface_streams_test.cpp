#include "bmpfile.h"
#include "datalimit.h"
#include "graphics/errors.h"
#include "graphics/surface.h"
#include "platform/imagefiles.h"
#include "platform/codecs.h"
#include "platform/streams.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <optional>

#include <malloc.h>

using namespace Corvanith;
using namespace Corvanith::Graphics;
using namespace Corvanith::Platform;

namespace {

std::vector<TCorvColor> Pixels(const TCorvSurface& s)
{
    const TCorvColor* p = s.GetPixelPtr(0, 0);
    return {p, p + size_t(s.Width()) * size_t(s.Height())};
}

std::unique_ptr<TCorvSurface> Surface(int32_t Width, int32_t Height, const std::vector<TCorvColor>& Colors)
{
    auto s = TCorvSurface::Create(Width, Height);
    std::copy(Colors.begin(), Colors.end(), s->GetPixelPtr(0, 0));
    return s;
}

std::vector<uint8_t> Bytes(const QByteArray& Data) { return {Data.begin(), Data.end()}; }

// A picture file made by Qt itself, to decode through our layer.
std::vector<uint8_t> Encoded(const QImage& Image, const char* Format, int Quality = -1)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(Image.save(&buffer, Format, Quality)) << Format;
    return Bytes(data);
}

// A 4 x 3 picture: opaque colours, and with Alpha a few translucent pixels.
QImage Fixture(bool Alpha)
{
    QImage image(4, 3, QImage::Format_ARGB32);
    const uint32_t colours[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF, 0xFF000000, 0xFF808080,
                                0x80FF0000, 0x00000000, 0x40123456, 0xFFABCDEF, 0x01FFFFFF, 0xFF102030};
    for (int i = 0; i < 12; ++i) {
        const uint32_t c = colours[i];
        image.setPixel(i % 4, i / 4, Alpha || (c >> 24) == 0xFF ? c : 0xFF000000 | c);
    }
    return image;
}

std::vector<TCorvColor> FixturePixels(bool Alpha)
{
    const QImage image = Fixture(Alpha);
    std::vector<TCorvColor> pixels;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            pixels.push_back(image.pixel(x, y));
    return pixels;
}

// Qt writes no GIF: one by hand, Width x Height pixels of a palette of at
// most 16 colours. Each pixel goes out as one 5-bit code, with a clear code
// before every twelfth so that the codes never grow wider.
std::vector<uint8_t> Gif(uint16_t Width, uint16_t Height, const std::vector<TCorvColor>& Palette,
                         const std::vector<uint8_t>& Indices)
{
    std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', uint8_t(Width), uint8_t(Width >> 8),
                                uint8_t(Height), uint8_t(Height >> 8), 0xF3, 0, 0};
    for (size_t i = 0; i < 16; ++i) {
        const TCorvColor c = i < Palette.size() ? Palette[i] : 0;
        gif.insert(gif.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
    }
    gif.insert(gif.end(), {0x2C, 0, 0, 0, 0, uint8_t(Width), uint8_t(Width >> 8), uint8_t(Height),
                           uint8_t(Height >> 8), 0, 4});
    std::vector<uint32_t> codes;
    for (size_t i = 0; i < Indices.size(); ++i) {
        if (i % 12 == 0)
            codes.push_back(16);
        codes.push_back(Indices[i]);
    }
    codes.push_back(17);
    std::vector<uint8_t> packed;
    uint32_t bits = 0, count = 0;
    for (uint32_t code : codes) {
        bits |= code << count;
        count += 5;
        for (; count >= 8; count -= 8, bits >>= 8)
            packed.push_back(uint8_t(bits));
    }
    if (count > 0)
        packed.push_back(uint8_t(bits));
    for (size_t i = 0; i < packed.size(); i += 255) {
        const size_t n = std::min<size_t>(255, packed.size() - i);
        gif.push_back(uint8_t(n));
        gif.insert(gif.end(), packed.begin() + ptrdiff_t(i), packed.begin() + ptrdiff_t(i + n));
    }
    gif.insert(gif.end(), {0, 0x3B});
    return gif;
}

// The opaque fixture, each pixel with its own palette entry.
std::vector<uint8_t> FixtureGif()
{
    return Gif(4, 3, FixturePixels(false), {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
}

// Fills blocks of Bytes with Pattern and frees them, so that the next
// buffers of that size start out holding it: what a reader that leaves
// pixels alone would show.
void LeaveOnHeap(size_t Bytes, uint8_t Pattern)
{
    void* blocks[8];
    for (void*& block : blocks) {
        block = std::malloc(Bytes);
        std::memset(block, Pattern, Bytes);
        // Keeps the compiler from dropping a fill of memory freed unread.
        asm volatile("" : : "r"(block) : "memory");
    }
    for (void* block : blocks)
        std::free(block);
}

// 256 palette colours, each with a red of its own, none of them black.
TCorvColor PaletteColour(uint32_t Index) { return Index << 16 | (255 - Index) << 8 | (Index * 7 & 0xFF); }

std::vector<uint32_t> Palette(uint32_t Count)
{
    std::vector<uint32_t> palette;
    for (uint32_t i = 0; i < Count; ++i)
        palette.push_back(PaletteColour(i));
    return palette;
}

struct TProgress {
    std::vector<std::pair<int32_t, int32_t>> Reports;
    const void* Sender = nullptr;
    TCorvProgressEvent Handler()
    {
        return [this](const void* sender, int32_t position, int32_t size) {
            Sender = sender;
            Reports.emplace_back(position, size);
        };
    }
};

TEST(SurfaceRaw, ByteLayoutAndRoundTrip)
{
    auto s = Surface(2, 1, {0xFF112233, 0x80FFFFFF});
    TMemoryStream stream;
    s->SaveToStream(stream, ImageFormatRawSurface);
    const std::vector<uint8_t> expected = {0x55, 0x53, 0x51, 0x56, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
                                           0x01, 0x00, 0x00, 0x00, 0x33, 0x22, 0x11, 0xFF, 0xFF, 0xFF, 0xFF, 0x80};
    EXPECT_EQ(stream.Data(), expected);

    stream.SetPosition(0);
    TProgress progress;
    auto back = TCorvSurface::CreateFromStream(stream, progress.Handler());
    EXPECT_EQ(back->Width(), 2);
    EXPECT_EQ(back->Height(), 1);
    EXPECT_EQ(Pixels(*back), Pixels(*s));
    EXPECT_TRUE(back->HasAlpha());
    EXPECT_EQ(back->RawFormat(), ImageFormatRawSurface);
    EXPECT_TRUE(progress.Reports.empty());
    EXPECT_EQ(stream.Position(), 24);
}

TEST(SurfaceRaw, SavedAfterASeamRemovalHoldsTheCompactedPixels)
{
    // Rows (a b c d) (e f g h) less the seam (2,1), (1,0) are (a c d) (e f h).
    auto s = Surface(4, 2, {0xA, 0xB, 0xC, 0xD, 0xE, 0xF, 0x10, 0x11});
    s->RemoveVerticalSeam({{2, 1}, {1, 0}});
    TMemoryStream stream;
    s->SaveToStream(stream, ImageFormatRawSurface);
    stream.SetPosition(0);
    auto back = TCorvSurface::CreateFromStream(stream);
    EXPECT_EQ(back->Width(), 3);
    EXPECT_EQ(back->Height(), 2);
    EXPECT_EQ(Pixels(*back), (std::vector<TCorvColor>{0xA, 0xC, 0xD, 0xE, 0xF, 0x11}));
    EXPECT_EQ(stream.Size(), 16 + 6 * 4);
}

TEST(SurfaceRaw, OpaqueAndEmptySurfacesAndAnyVersion)
{
    auto opaque = TCorvSurface::CreateFilled(3, 2, 0xFF445566);
    TMemoryStream stream;
    opaque->SaveToStream(stream, ImageFormatRawSurface);
    TCorvSurface::Create(0, 0)->SaveToStream(stream, ImageFormatRawSurface);
    EXPECT_EQ(stream.Size(), 16 + 24 + 16);
    // The version field is not examined.
    stream.SetPosition(4);
    const uint8_t seven[4] = {7, 0, 0, 0};
    stream.WriteBuffer(seven, 4);

    // Two blocks back to back read in turn, each leaving the stream after its pixels.
    stream.SetPosition(0);
    auto first = TCorvSurface::CreateFromStream(stream);
    EXPECT_EQ(stream.Position(), 40);
    EXPECT_EQ(Pixels(*first), Pixels(*opaque));
    EXPECT_TRUE(first->HasAlpha());
    auto second = TCorvSurface::CreateFromStream(stream);
    EXPECT_EQ(second->Width(), 0);
    EXPECT_EQ(second->Height(), 0);
    EXPECT_EQ(stream.Position(), 56);
}

TEST(SurfaceRaw, DamagedHeadersAreRefused)
{
    const auto header = [](int32_t Width, int32_t Height, size_t PixelBytes) {
        TMemoryStream stream;
        for (uint32_t v : {RawSurfaceMagic, 1u, uint32_t(Width), uint32_t(Height)})
            stream.WriteBuffer(&v, 4);
        std::vector<uint8_t> pixels(PixelBytes, 0x7F);
        stream.WriteBuffer(pixels.data(), int32_t(pixels.size()));
        stream.SetPosition(0);
        return stream;
    };
    struct TCase {
        const char* Name;
        int32_t Width, Height;
        size_t PixelBytes;
    };
    const TCase cases[] = {
        {"negative width", -1, 4, 64},
        {"negative height", 4, -2, 64},
        {"beyond the stream", 4, 4, 63},
        {"beyond 2 GiB", 40000, 40000, 16},
        {"product overflows 32 bits", 65536, 65536, 16},
        {"INT32_MIN", INT32_MIN, INT32_MIN, 0},
        {"both sides INT32_MAX", INT32_MAX, INT32_MAX, 16},
        {"rows beyond any stride, no rows", INT32_MAX, 0, 0},
    };
    for (const TCase& c : cases) {
        TMemoryStream stream = header(c.Width, c.Height, c.PixelBytes);
        EXPECT_THROW(TCorvSurface::CreateFromStream(stream), EStreamError) << c.Name;
    }
    // A header cut short.
    for (size_t keep : {5u, 8u, 12u, 15u}) {
        TMemoryStream full = header(2, 2, 16);
        std::vector<uint8_t> cut(full.Data().begin(), full.Data().begin() + keep);
        TMemoryStream stream(cut);
        EXPECT_THROW(TCorvSurface::CreateFromStream(stream), EStreamError) << keep << " bytes";
    }
}

TEST(SurfaceDecode, ShortStreamIsNoPictureAndStaysPut)
{
    for (size_t size : {0u, 1u, 3u}) {
        TMemoryStream stream(std::vector<uint8_t>(size + 2, 'U'));
        stream.SetPosition(2);
        TProgress progress;
        try {
            TCorvSurface::CreateFromStream(stream, progress.Handler());
            ADD_FAILURE() << size << " bytes decoded";
        } catch (const EStreamError& e) {
            EXPECT_STREQ(e.what(), "Unknown image format.");
        }
        EXPECT_EQ(stream.Position(), 2) << size;
        ASSERT_FALSE(progress.Reports.empty());
        EXPECT_EQ(progress.Reports.back(), std::make_pair(-1, -1));
    }
}

TEST(SurfaceDecode, PngWithAlphaReportsProgress)
{
    const std::vector<uint8_t> png = Encoded(Fixture(true), "png");
    TMemoryStream stream(png);
    TProgress progress;
    auto s = TCorvSurface::CreateFromStream(stream, progress.Handler());
    EXPECT_EQ(progress.Sender, s.get());
    EXPECT_EQ(s->Width(), 4);
    EXPECT_EQ(s->Height(), 3);
    EXPECT_EQ(Pixels(*s), FixturePixels(true));
    EXPECT_TRUE(s->HasAlpha());
    EXPECT_EQ(s->RawFormat(), ImageFormatPNG);

    ASSERT_GE(progress.Reports.size(), 2u);
    EXPECT_EQ(progress.Reports.back(), std::make_pair(-1, -1));
    int32_t last = 0;
    for (size_t i = 0; i + 1 < progress.Reports.size(); ++i) {
        EXPECT_GE(progress.Reports[i].first, last);
        EXPECT_EQ(progress.Reports[i].second, int32_t(png.size()));
        last = progress.Reports[i].first;
    }
    EXPECT_GE(last, int32_t(png.size()) - 4);
}

TEST(SurfaceDecode, JpegReportsProgressAsItReads)
{
    // Noise, so that the file takes several of the decoder's reads.
    QImage noise(600, 400, QImage::Format_RGB32);
    uint32_t seed = 1;
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, 0xFF000000u | (seed = seed * 1664525u + 1013904223u) >> 8);
    const std::vector<uint8_t> jpeg = Encoded(noise, "jpeg", 95);
    ASSERT_GT(jpeg.size(), 200000u);
    TMemoryStream stream(jpeg);
    TProgress progress;
    auto s = TCorvSurface::CreateFromStream(stream, progress.Handler());
    EXPECT_EQ(progress.Sender, s.get());
    EXPECT_EQ(s->Width(), 600);
    EXPECT_EQ(s->RawFormat(), ImageFormatJPEG);
    ASSERT_GE(progress.Reports.size(), 4u);
    EXPECT_EQ(progress.Reports.back(), std::make_pair(-1, -1));
    int32_t last = 0;
    for (size_t i = 0; i + 1 < progress.Reports.size(); ++i) {
        EXPECT_GT(progress.Reports[i].first, last);
        EXPECT_EQ(progress.Reports[i].second, int32_t(jpeg.size()));
        last = progress.Reports[i].first;
    }
    // Every byte read, some twice: the header check walks the file first.
    EXPECT_GE(last, int32_t(jpeg.size()));
}

TEST(SurfaceDecode, EveryFormatGivesItsPixelsAndRawFormat)
{
    struct TCase {
        const char* Format;
        TGuid RawFormat;
    };
    const TCase cases[] = {
        {"png", ImageFormatPNG},
        {"bmp", ImageFormatBMP},
        {"gif", ImageFormatGIF},
        {"tiff", ImageFormatTIFF},
    };
    for (const TCase& c : cases) {
        TMemoryStream stream(std::strcmp(c.Format, "gif") == 0 ? FixtureGif() : Encoded(Fixture(false), c.Format));
        auto s = TCorvSurface::CreateFromStream(stream);
        EXPECT_EQ(s->RawFormat(), c.RawFormat) << c.Format;
        EXPECT_EQ(Pixels(*s), FixturePixels(false)) << c.Format;
        EXPECT_FALSE(s->HasAlpha()) << c.Format;
    }
    // A PNG without alpha channel decodes opaque.
    TMemoryStream rgb(Encoded(Fixture(false).convertToFormat(QImage::Format_RGB32), "png"));
    auto opaque = TCorvSurface::CreateFromStream(rgb);
    EXPECT_EQ(Pixels(*opaque), FixturePixels(false));
    EXPECT_FALSE(opaque->HasAlpha());

    // JPEG is lossy: a flat colour comes back close and opaque.
    QImage flat(16, 8, QImage::Format_RGB32);
    flat.fill(0xFF336699);
    TMemoryStream stream(Encoded(flat, "jpeg", 95));
    auto s = TCorvSurface::CreateFromStream(stream);
    EXPECT_EQ(s->RawFormat(), ImageFormatJPEG);
    ASSERT_EQ(s->Width(), 16);
    ASSERT_EQ(s->Height(), 8);
    EXPECT_FALSE(s->HasAlpha());
    for (TCorvColor c : Pixels(*s))
        for (int shift : {0, 8, 16})
            EXPECT_NEAR(int(c >> shift & 0xFF), int(0xFF336699u >> shift & 0xFF), 4);
}

TEST(SurfaceDecode, FilesCutShortAreRefused)
{
    // Readers that stop at the end of the data still report success, so the
    // rest of the buffer would show whatever the heap held before: a block of
    // the picture's size, filled and freed first, makes that visible.
    constexpr int32_t W = 64, H = 48;
    QImage image(W, H, QImage::Format_RGB32);
    std::vector<uint8_t> indices;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            image.setPixel(x, y, 0xFF000000u | uint32_t(x * 4) << 16 | uint32_t(y * 5) << 8 | uint32_t(x ^ y));
            indices.push_back(uint8_t((x / 4 + y / 3) % 16));
        }
    std::vector<TCorvColor> palette;
    for (uint32_t i = 0; i < 16; ++i)
        palette.push_back(0xFF000000u | i * 0x0F0A05u);
    struct TCase {
        const char* Format;
        std::vector<uint8_t> Data;
    };
    const TCase cases[] = {
        {"bmp", Encoded(image, "bmp")},
        {"png", Encoded(image, "png")},
        {"jpeg", Encoded(image, "jpeg")},
        {"tiff", Encoded(image, "tiff")},
        {"gif", Gif(W, H, palette, indices)},
    };
    for (const TCase& c : cases) {
        // The whole file decodes.
        TMemoryStream whole(c.Data);
        auto full = TCorvSurface::CreateFromStream(whole);
        EXPECT_EQ(full->Width(), W) << c.Format;
        const size_t size = c.Data.size();
        // Without its last byte a file may still hold every pixel (PNG's end
        // mark, GIF's trailer): then it must give exactly those pixels.
        for (size_t length : {size - 1, size * 9 / 10, size * 3 / 4, size / 2, size / 4, size_t(40)}) {
            SCOPED_TRACE(testing::Message() << c.Format << " cut to " << length << " of " << size);
            LeaveOnHeap(size_t(W) * H * 4 + 64, 0x5A);
            TMemoryStream cut(std::vector<uint8_t>(c.Data.begin(), c.Data.begin() + ptrdiff_t(length)));
            try {
                auto s = TCorvSurface::CreateFromStream(cut);
                EXPECT_EQ(length, size - 1) << "a file cut inside its pixels decoded";
                EXPECT_EQ(Pixels(*s), Pixels(*full));
            } catch (const EStreamError& Error) {
                EXPECT_STREQ(Error.what(), "Unknown image format.");
                EXPECT_EQ(cut.Position(), 0);
            }
        }
    }
}

TEST(SurfaceDecode, PixelsACompressedBmpSkipsTakeItsFirstColour)
{
    // Where each run lands: its first pixel (the row counted from the
    // bottom, as the file counts), its length and its palette index.
    struct TRun {
        int32_t X, Row, Count;
        uint8_t Index;
    };
    // RLE8 runs are a count and an index, RLE4 runs a count and two indices
    // in turn. Escapes: 0 0 ends the line, 0 1 the bitmap, 0 2 dx dy moves
    // on, and 0 n is followed by n indices, padded to an even byte count.
    struct TCase {
        const char* Name;
        uint16_t Bits;
        int32_t Width, Height;
        std::vector<uint8_t> Data;
        std::vector<TRun> Runs;
    };
    const TCase cases[] = {
        {"rle8 of nothing but its end", 8, 100, 100, {0, 1}, {}},
        {"rle8 ending early", 8, 64, 48, {5, 3, 0, 1}, {{0, 0, 5, 3}}},
        {"rle8 skipping by delta", 8, 64, 48, {4, 1, 0, 2, 3, 2, 2, 2, 0, 1}, {{0, 0, 4, 1}, {7, 2, 2, 2}}},
        {"rle8 skipping by end of line",
         8,
         64,
         48,
         {3, 1, 0, 0, 0, 3, 4, 5, 6, 0, 0, 0, 0, 0, 2, 7, 0, 1},
         {{0, 0, 3, 1}, {0, 1, 1, 4}, {1, 1, 1, 5}, {2, 1, 1, 6}, {0, 3, 2, 7}}},
        {"rle4 ending early",
         4,
         64,
         64,
         {5, 0x12, 0, 1},
         {{0, 0, 1, 1}, {1, 0, 1, 2}, {2, 0, 1, 1}, {3, 0, 1, 2}, {4, 0, 1, 1}}},
        {"rle4 skipping by delta",
         4,
         64,
         64,
         {4, 0x33, 0, 2, 10, 5, 3, 0x45, 0, 1},
         {{0, 0, 4, 3}, {14, 5, 1, 4}, {15, 5, 1, 5}, {16, 5, 1, 4}}},
        {"rle4 skipping by end of line",
         4,
         64,
         64,
         {2, 0x66, 0, 0, 0, 5, 0x12, 0x34, 0x50, 0, 0, 0, 0, 0, 1, 0x70, 0, 1},
         {{0, 0, 2, 6}, {0, 1, 1, 1}, {1, 1, 1, 2}, {2, 1, 1, 3}, {3, 1, 1, 4}, {4, 1, 1, 5}, {0, 3, 1, 7}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::vector<uint32_t> palette = Palette(1u << c.Bits);
        std::vector<TCorvColor> expected(size_t(c.Width) * size_t(c.Height), 0xFF000000u | palette[0]);
        for (const TRun& run : c.Runs)
            for (int32_t i = 0; i < run.Count; ++i)
                expected[size_t(c.Height - 1 - run.Row) * size_t(c.Width) + size_t(run.X + i)] =
                    0xFF000000u | palette[run.Index];
        const std::vector<uint8_t> file =
            BmpFile(c.Width, c.Height, c.Bits, c.Bits == 8 ? BmpRle8 : BmpRle4, palette, c.Data);
        // Each heap filling a palette index of its own, in blocks the size of
        // the reader's own image of the indices.
        std::vector<std::vector<TCorvColor>> results;
        for (const uint8_t pattern : {0x5A, 0xA5}) {
            LeaveOnHeap(size_t((c.Width + 3) & ~3) * size_t(c.Height), pattern);
            TMemoryStream stream(file);
            auto s = TCorvSurface::CreateFromStream(stream);
            EXPECT_FALSE(s->HasAlpha());
            results.push_back(Pixels(*s));
            EXPECT_EQ(results.back(), expected) << "after a heap filled with " << int(pattern);
        }
        EXPECT_EQ(results[0], results[1]);
    }
}

TEST(SurfaceDecode, AroundAGifsFirstFrameIsTransparentWhateverTheHeapHeld)
{
    // A frame smaller than the screen, with a colour table of its own only.
    constexpr int32_t W = 64, H = 48;
    Tests::TGifFrame frame;
    frame.Left = 20;
    frame.Top = 10;
    frame.Width = 16;
    frame.Height = 12;
    frame.LocalTable = Palette(16);
    for (int32_t y = 0; y < frame.Height; ++y)
        for (int32_t x = 0; x < frame.Width; ++x)
            frame.Indices.push_back(uint8_t((x + 3 * y) % 16));
    const QByteArray file = Tests::GifScreen(W, H, {}) + Tests::GifFrame(frame) + ';';
    std::vector<TCorvColor> expected(size_t(W) * H, 0);
    for (int32_t y = 0; y < frame.Height; ++y)
        for (int32_t x = 0; x < frame.Width; ++x)
            expected[size_t(frame.Top + y) * W + size_t(frame.Left + x)] =
                0xFF000000u | frame.LocalTable[frame.Indices[size_t(y) * frame.Width + size_t(x)]];
    // Each heap filling in blocks of the picture's size and of a table of
    // 256 colours.
    std::vector<std::vector<TCorvColor>> results;
    for (const uint8_t pattern : {0x5A, 0xA5}) {
        LeaveOnHeap(size_t(W) * H * 4 + 64, pattern);
        LeaveOnHeap(256 * 4, pattern);
        TMemoryStream stream(Bytes(file));
        auto s = TCorvSurface::CreateFromStream(stream);
        EXPECT_TRUE(s->HasAlpha());
        results.push_back(Pixels(*s));
        EXPECT_EQ(results.back(), expected) << "after a heap filled with " << int(pattern);
    }
    EXPECT_EQ(results[0], results[1]);
}

TEST(SurfaceDecode, GifReportsProgressAsItReads)
{
    // Some 300 KB of codes for indices without order.
    constexpr uint16_t W = 512, H = 512;
    Tests::TGifFrame frame;
    frame.Width = W;
    frame.Height = H;
    uint32_t seed = 7;
    for (int i = 0; i < W * H; ++i) {
        seed = seed * 1103515245u + 12345u;
        frame.Indices.push_back(uint8_t(seed >> 16));
    }
    const std::vector<uint8_t> gif = Bytes(Tests::GifScreen(W, H, Palette(256)) + Tests::GifFrame(frame) + ';');
    TMemoryStream stream(gif);
    TProgress progress;
    auto s = TCorvSurface::CreateFromStream(stream, progress.Handler());
    EXPECT_EQ(s->Width(), W);
    EXPECT_EQ(s->RawFormat(), ImageFormatGIF);
    ASSERT_GE(progress.Reports.size(), 4u);
    EXPECT_EQ(progress.Reports.back(), std::make_pair(-1, -1));
    int32_t last = 0;
    for (size_t i = 0; i + 1 < progress.Reports.size(); ++i) {
        EXPECT_GE(progress.Reports[i].first, last);
        EXPECT_EQ(progress.Reports[i].second, int32_t(gif.size()));
        last = progress.Reports[i].first;
    }
    EXPECT_GE(last, int32_t(gif.size()) - 2);
}

TEST(SurfaceDecode, TopDownBmpOpensTheRightWayUp)
{
    // Eight colours of channels either 0 or full, which 5 and 6 bits hold too.
    const auto colour = [](uint32_t i) {
        return (i & 4 ? 0xFF0000u : 0u) | (i & 2 ? 0x00FF00u : 0u) | (i & 1 ? 0x0000FFu : 0u);
    };
    constexpr int32_t W = 5, H = 4;
    struct TCase {
        uint16_t Bits;
        uint32_t Compression;
        std::vector<uint32_t> Masks;
    };
    const TCase cases[] = {
        {1, BmpUncompressed, {}},
        {4, BmpUncompressed, {}},
        {8, BmpUncompressed, {}},
        {16, BmpUncompressed, {}},
        {16, BmpBitFields, {0xF800, 0x07E0, 0x001F}},
        {24, BmpUncompressed, {}},
        {32, BmpUncompressed, {}},
        {32, BmpBitFields, {0xFF0000, 0x00FF00, 0x0000FF}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Bits << " bits, compression " << c.Compression);
        const uint32_t colours = c.Bits == 1 ? 2 : 8;
        // Every row differs from the one it would be mirrored to.
        const auto index = [colours](int32_t x, int32_t y) { return uint32_t(x + 3 * y) % colours; };
        std::vector<uint32_t> palette;
        if (c.Bits <= 8)
            for (uint32_t i = 0; i < colours; ++i)
                palette.push_back(colour(i));
        // Row y as the file stores it, padded to four bytes.
        const auto row = [&](int32_t y) {
            std::vector<uint8_t> bytes;
            uint32_t packed = 0, count = 0;
            for (int32_t x = 0; x < W; ++x) {
                const uint32_t i = index(x, y);
                const uint32_t rgb = colour(i);
                const uint32_t r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
                if (c.Bits <= 8) {
                    packed = packed << c.Bits | i;
                    count += c.Bits;
                    if (count == 8) {
                        bytes.push_back(uint8_t(packed));
                        packed = count = 0;
                    }
                } else if (c.Bits == 16) {
                    const uint32_t v = c.Compression == BmpBitFields ? (r >> 3) << 11 | (g >> 2) << 5 | b >> 3
                                                                      : (r >> 3) << 10 | (g >> 3) << 5 | b >> 3;
                    bytes.insert(bytes.end(), {uint8_t(v), uint8_t(v >> 8)});
                } else {
                    bytes.insert(bytes.end(), {uint8_t(b), uint8_t(g), uint8_t(r)});
                    if (c.Bits == 32)
                        bytes.push_back(0);
                }
            }
            if (count > 0)
                bytes.push_back(uint8_t(packed << (8 - count)));
            bytes.resize((bytes.size() + 3) & ~size_t(3), 0);
            return bytes;
        };
        std::vector<uint8_t> bottomUp, topDown;
        std::vector<TCorvColor> expected;
        for (int32_t y = 0; y < H; ++y) {
            const std::vector<uint8_t> top = row(y), bottom = row(H - 1 - y);
            topDown.insert(topDown.end(), top.begin(), top.end());
            bottomUp.insert(bottomUp.end(), bottom.begin(), bottom.end());
            for (int32_t x = 0; x < W; ++x)
                expected.push_back(0xFF000000u | colour(index(x, y)));
        }
        const std::vector<uint32_t>& colors = c.Compression == BmpBitFields ? c.Masks : palette;
        for (const bool down : {false, true}) {
            SCOPED_TRACE(down ? "top-down" : "bottom-up");
            TMemoryStream stream(BmpFile(W, down ? -H : H, c.Bits, c.Compression, colors, down ? topDown : bottomUp));
            auto s = TCorvSurface::CreateFromStream(stream);
            ASSERT_EQ(s->Width(), W);
            ASSERT_EQ(s->Height(), H);
            const std::vector<TCorvColor> pixels = Pixels(*s);
            for (size_t i = 0; i < pixels.size(); ++i)
                EXPECT_EQ(pixels[i], expected[i]) << "pixel " << i % W << ", " << i / W;
        }
    }
    // Compressed rows run bottom-up by the format's own rule: a top-down RLE
    // file is damaged, while the same runs bottom-up open.
    for (const uint16_t bits : {uint16_t(4), uint16_t(8)}) {
        for (const int32_t height : {2, -2}) {
            TMemoryStream stream(BmpFile(4, height, bits, bits == 8 ? BmpRle8 : BmpRle4, Palette(16), {4, 1, 0, 1}));
            if (height > 0) {
                EXPECT_EQ(TCorvSurface::CreateFromStream(stream)->Width(), 4) << bits;
                continue;
            }
            try {
                TCorvSurface::CreateFromStream(stream);
                ADD_FAILURE() << "a top-down RLE" << bits << " file opened";
            } catch (const EStreamError& e) {
                EXPECT_STREQ(e.what(), "Unknown image format.");
            }
        }
    }
}

// A small TIFF whose directory claims Height rows of Width pixels, all in
// one strip.
std::vector<uint8_t> TiffClaiming(uint32_t Width, uint32_t Height)
{
    QImage image(1, 2, QImage::Format_RGB32);
    image.fill(0xFF336699);
    std::vector<uint8_t> tiff = Encoded(image, "tiff");
    EXPECT_EQ(tiff[0], 'I');
    const auto get = [&tiff](size_t At, int Bytes) {
        uint32_t v = 0;
        for (int i = Bytes - 1; i >= 0; --i)
            v = v << 8 | tiff[At + size_t(i)];
        return v;
    };
    const auto put = [&tiff](size_t At, uint32_t Value, int Bytes) {
        for (int i = 0; i < Bytes; ++i)
            tiff[At + size_t(i)] = uint8_t(Value >> (8 * i));
    };
    constexpr uint32_t ImageWidth = 256, ImageLength = 257, RowsPerStrip = 278, Long = 4;
    const uint32_t directory = get(4, 4);
    for (uint32_t i = 0; i < get(directory, 2); ++i) {
        const size_t entry = directory + 2 + 12 * i;
        const uint32_t tag = get(entry, 2);
        if (tag != ImageWidth && tag != ImageLength && tag != RowsPerStrip)
            continue;
        put(entry + 2, Long, 2);
        put(entry + 4, 1, 4);
        put(entry + 8, tag == ImageWidth ? Width : Height, 4);
    }
    return tiff;
}

TEST(SurfaceDecode, AHugeSideIsRefusedBeforeItsPixels)
{
    // Tiny files of 256,000,000 pixels, as many as the largest square holds,
    // in one row or one column: refused from their headers, so no memory is
    // taken for the pixels.
    const struct {
        const char* Name;
        std::vector<uint8_t> Data;
    } cases[] = {
        {"1 x 256000000 rle8 bmp", BmpFile(1, 256000000, 8, BmpRle8, Palette(2), {0, 1})},
        {"256000000 x 1 rle8 bmp", BmpFile(256000000, 1, 8, BmpRle8, Palette(2), {0, 1})},
        {"1 x 256000000 tiff", TiffClaiming(1, 256000000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TMemoryStream stream(c.Data);
        std::optional<TDataLimit> limit;
        if (DataLimitHolds)
            limit.emplace(64 << 20);
        try {
            TCorvSurface::CreateFromStream(stream);
            ADD_FAILURE() << "decoded";
        } catch (const EStreamError& e) {
            EXPECT_STREQ(e.what(), "Unknown image format.");
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
    }
}

TEST(SurfaceDecode, PicturesWithTheLongestSideDecode)
{
    const std::vector<uint32_t> palette = Palette(256);
    constexpr int32_t Long = MaxDecodedExtent;
    // One pixel wide in runs, a run and an end of line a row; one pixel high
    // in plain 8-bit indices. Each pixel takes the colour of its place.
    std::vector<uint8_t> runs, row;
    for (int32_t i = 0; i < Long; ++i) {
        runs.insert(runs.end(), {1, uint8_t(i), 0, 0});
        row.push_back(uint8_t(i));
    }
    runs.insert(runs.end(), {0, 1});
    row.resize((row.size() + 3) & ~size_t(3), 0);
    const struct {
        int32_t Width, Height;
        std::vector<uint8_t> Data;
    } cases[] = {
        {1, Long, BmpFile(1, Long, 8, BmpRle8, palette, runs)},
        {Long, 1, BmpFile(Long, 1, 8, BmpUncompressed, palette, row)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Width << " x " << c.Height);
        TMemoryStream stream(c.Data);
        auto s = TCorvSurface::CreateFromStream(stream);
        ASSERT_EQ(s->Width(), c.Width);
        ASSERT_EQ(s->Height(), c.Height);
        const std::vector<TCorvColor> pixels = Pixels(*s);
        std::vector<TCorvColor> expected;
        // The runs start at the bottom row.
        for (int32_t i = 0; i < Long; ++i)
            expected.push_back(0xFF000000u | palette[uint8_t(c.Width == 1 ? Long - 1 - i : i)]);
        EXPECT_EQ(pixels, expected);
    }
}

TEST(SurfaceDecode, PictureInsideALargerStream)
{
    std::vector<uint8_t> data(100, 0xEE);
    const std::vector<uint8_t> png = Encoded(Fixture(true), "png");
    data.insert(data.end(), png.begin(), png.end());
    TMemoryStream stream(data);
    stream.SetPosition(100);
    auto s = TCorvSurface::CreateFromStream(stream);
    EXPECT_EQ(Pixels(*s), FixturePixels(true));
}

TEST(SurfaceDecode, TextIsNoPicture)
{
    const char* texts[] = {
        "Just some words in a text file.\n",
        "#define t_width 2\n#define t_height 2\nstatic char t_bits[] = { 0x01, 0x02 };\n",
        "P1\n2 2\n0 1\n1 0\n",
        "BM but nothing of a bitmap after it",
        "\x89PNG\r\n\x1A\n and then no chunks",
    };
    for (const char* text : texts) {
        TMemoryStream stream(std::vector<uint8_t>(text, text + std::strlen(text)));
        TProgress progress;
        try {
            TCorvSurface::CreateFromStream(stream, progress.Handler());
            ADD_FAILURE() << text;
        } catch (const EStreamError& e) {
            EXPECT_STREQ(e.what(), "Unknown image format.");
        }
        ASSERT_FALSE(progress.Reports.empty());
        EXPECT_EQ(progress.Reports.back(), std::make_pair(-1, -1));
    }
}

class SurfaceFiles : public testing::Test {
protected:
    QString Path(const char* Name) const { return FDir.filePath(QString::fromLatin1(Name)); }
    QTemporaryDir FDir;
};

TEST_F(SurfaceFiles, BmpSaveAndReadBack)
{
    auto s = Surface(4, 3, FixturePixels(false));
    s->SaveToFile(Path("a.bmp"), ImageFormatBMP);
    QFile file(Path("a.bmp"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.read(2) == "BM");
    file.close();
    TProgress progress;
    auto back = TCorvSurface::CreateFromFile(Path("a.bmp"), progress.Handler());
    EXPECT_EQ(Pixels(*back), FixturePixels(false));
    EXPECT_EQ(back->RawFormat(), ImageFormatBMP);
    EXPECT_EQ(progress.Reports.back(), std::make_pair(-1, -1));
}

TEST_F(SurfaceFiles, EveryWritableFormatRoundTrips)
{
    struct TCase {
        const char* Name;
        TGuid Format;
    };
    const TCase cases[] = {{"a.png", ImageFormatPNG}, {"a.tiff", ImageFormatTIFF}, {"a.raw", ImageFormatRawSurface}};
    for (const TCase& c : cases) {
        auto s = Surface(4, 3, FixturePixels(false));
        s->SaveToFile(Path(c.Name), c.Format);
        auto back = TCorvSurface::CreateFromFile(Path(c.Name));
        EXPECT_EQ(Pixels(*back), FixturePixels(false)) << c.Name;
        EXPECT_EQ(back->RawFormat(), c.Format) << c.Name;
    }
    auto flat = TCorvSurface::CreateFilled(16, 16, 0xFF336699);
    flat->SaveToFile(Path("a.jpg"), ImageFormatJPEG);
    auto back = TCorvSurface::CreateFromFile(Path("a.jpg"));
    EXPECT_EQ(back->RawFormat(), ImageFormatJPEG);
    EXPECT_EQ(back->Width(), 16);
}

TEST_F(SurfaceFiles, PngSaveKeepsStraightAlpha)
{
    auto s = Surface(4, 3, FixturePixels(true));
    TMemoryStream stream;
    s->SaveToStream(stream, ImageFormatPNG);
    const QImage image = QImage::fromData(stream.Data().data(), int(stream.Data().size()), "png");
    ASSERT_EQ(image.size(), QSize(4, 3));
    const std::vector<TCorvColor> expected = FixturePixels(true);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(image.pixel(i % 4, i / 4), expected[size_t(i)]) << i;
}

TEST_F(SurfaceFiles, FormatWithoutEncoderWritesNothing)
{
    TMemoryStream stream(std::vector<uint8_t>(7, 1));
    stream.SetPosition(3);
    Surface(2, 1, {1, 2})->SaveToStream(stream, ImageFormatWMF);
    EXPECT_EQ(stream.Size(), 7);
    EXPECT_EQ(stream.Position(), 3);
}

TEST_F(SurfaceFiles, FailedWriteRaises)
{
    // A stream that takes a few bytes and then no more.
    class TFullStream : public TMemoryStream {
    public:
        using TMemoryStream::Seek;
        int32_t Write(const void* Buffer, int32_t Count) override
        {
            return TMemoryStream::Write(Buffer, std::min<int32_t>(Count, std::max<int32_t>(0, 20 - int32_t(Size()))));
        }
    };
    for (const TGuid& format : {ImageFormatRawSurface, ImageFormatPNG, ImageFormatBMP}) {
        TFullStream stream;
        EXPECT_THROW(TCorvSurface::CreateFilled(8, 8, 0xFF00FF00)->SaveToStream(stream, format), EStreamError);
    }
}

TEST_F(SurfaceFiles, FailedSaveLeavesTheOldFile)
{
    const QString path = Path("keep.gif");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("old picture");
    }
    // Qt has no GIF writer: the encode fails after the file was opened.
    EXPECT_THROW(TCorvSurface::CreateFilled(4, 4, 0xFF0000FF)->SaveToFile(path, ImageFormatGIF), EStreamError);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == "old picture");
    EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files), QStringList{"keep.gif"});
}

TEST_F(SurfaceFiles, FormatWithoutEncoderLeavesTheOldFile)
{
    const QString path = Path("keep.emf");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("old picture");
    }
    TCorvSurface::CreateFilled(4, 4, 0xFF0000FF)->SaveToFile(path, ImageFormatEMF);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == "old picture");
}

TEST_F(SurfaceFiles, MissingFilesAndFoldersRaise)
{
    EXPECT_THROW(TCorvSurface::CreateFromFile(Path("none.png")), EStreamError);
    EXPECT_THROW(TCorvSurface::CreateFilled(1, 1, 0)->SaveToFile(Path("no/such/dir.png"), ImageFormatPNG),
                 EStreamError);
}

TEST(SurfaceBitmaps, PixelsArriveStraightWithTheirFormat)
{
    // A premultiplied picture, as the user interface may hand one over.
    const QImage premultiplied = Fixture(true).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage straight = premultiplied.convertToFormat(QImage::Format_ARGB32);
    std::vector<TCorvColor> expected;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            expected.push_back(straight.pixel(x, y));

    const TBitmap decoded(premultiplied, ImageFormatTIFF);
    auto fromDecoded = TCorvSurface::CreateFromGPBitmap(decoded, true);
    EXPECT_EQ(Pixels(*fromDecoded), expected);
    EXPECT_EQ(fromDecoded->RawFormat(), ImageFormatTIFF);
    EXPECT_TRUE(fromDecoded->HasAlpha());

    auto pasted = TCorvSurface::CreateFromBitmap(decoded, true);
    EXPECT_EQ(Pixels(*pasted), expected);
    EXPECT_EQ(pasted->RawFormat(), ImageFormatUndefined);

    // An opaque picture: the flag follows the pixels only when asked to.
    const TBitmap opaque(Fixture(false).convertToFormat(QImage::Format_RGB32));
    EXPECT_FALSE(TCorvSurface::CreateFromBitmap(opaque, true)->HasAlpha());
    EXPECT_TRUE(TCorvSurface::CreateFromBitmap(opaque, false)->HasAlpha());
    EXPECT_EQ(Pixels(*TCorvSurface::CreateFromBitmap(opaque, false)), FixturePixels(false));
}

TEST(SurfaceBitmaps, ConversionGoesByBandsAndAFailedBandThrows)
{
    SKIP_UNLESS_DATA_LIMIT_HOLDS();
    mallopt(M_MMAP_THRESHOLD, 64 << 10);
    // A 1 MB grey picture into 4 MB of straight pixels: a band of rows at a
    // time, never a whole converted copy.
    QImage grey(1024, 1024, QImage::Format_Grayscale8);
    grey.fill(0x80);
    const TBitmap bitmap(grey, ImageFormatPNG);
    EXPECT_EQ(bitmap.Width(), 1024);
    std::vector<TCorvColor> pixels(size_t(1024) * 1024);
    {
        TDataLimit limit(2 << 20);
        bitmap.ReadPixels(reinterpret_cast<uint8_t*>(pixels.data()), 1024 * 4);
    }
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0xFF808080u), ptrdiff_t(pixels.size()));
    // A band that cannot be had is an error, never rows left as they were:
    // a row of 4 MB grey pixels is one band of 16 MB.
    QImage strip(4 << 20, 1, QImage::Format_Grayscale8);
    strip.fill(0x80);
    const TBitmap wide(strip);
    {
        TDataLimit limit(2 << 20);
        EXPECT_THROW(wide.ReadPixels(reinterpret_cast<uint8_t*>(pixels.data()), (4 << 20) * 4), EOutOfMemory);
    }
    // A null picture is no failure: it converts to nothing.
    EXPECT_EQ(TBitmap(QImage()).Width(), 0);
}

TEST(EncoderLookup, LastMatchWinsAndNoMatchKeepsClsid)
{
    TGuid clsid{1, 2, 3, {4}};
    GetEncoderClsidByFormat(ImageFormatRawSurface, clsid);
    EXPECT_EQ(clsid, (TGuid{1, 2, 3, {4}}));
    GetEncoderClsidByFormat(ImageFormatPNG, clsid);
    EXPECT_NE(clsid, (TGuid{1, 2, 3, {4}}));
    TGuid bmp{};
    GetEncoderClsidByFormat(ImageFormatBMP, bmp);
    EXPECT_NE(bmp, clsid);
}

} // namespace
