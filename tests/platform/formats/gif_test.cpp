#include "platform/formats/formatchecks.h"
#include "platform/imagefiles.h"
#include "residentmemory.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <array>
#include <tuple>

using namespace Corvanith::Tests;

namespace {

// Colours of their own for every index, none of them black.
std::vector<uint32_t> Colours(size_t Count)
{
    std::vector<uint32_t> colours;
    for (uint32_t i = 0; i < Count; ++i)
        colours.push_back(0xFF000000u | (i * 37 & 0xFF) << 16 | (255 - i) << 8 | ((i * 11 + 1) & 0xFF));
    return colours;
}

std::vector<uint8_t> Pattern(int Width, int Height, int Count)
{
    std::vector<uint8_t> indices;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            indices.push_back(uint8_t((x / 3 + y / 5 + x * y) % Count));
    return indices;
}

TGifFrame Frame(uint16_t Left, uint16_t Top, uint16_t Width, uint16_t Height, int Count)
{
    TGifFrame frame;
    frame.Left = Left;
    frame.Top = Top;
    frame.Width = Width;
    frame.Height = Height;
    frame.Indices = Pattern(Width, Height, Count);
    return frame;
}

QByteArray Gif(uint16_t Width, uint16_t Height, const std::vector<uint32_t>& Table, const TGifFrame& Frame,
               const char* Version = "GIF89a")
{
    return GifScreen(Width, Height, Table, Version) + GifFrame(Frame) + ';';
}

TEST(Gif, OrdinaryFilesGiveWhatQtReads)
{
    constexpr uint16_t W = 37, H = 23;
    const auto with = [](TGifFrame Frame, const std::function<void(TGifFrame&)>& Change) {
        Change(Frame);
        return Frame;
    };
    const TGifFrame plain = Frame(0, 0, W, H, 16);
    const struct {
        const char* Name;
        QByteArray File;
    } cases[] = {
        {"global table", Gif(W, H, Colours(16), plain)},
        {"transparent index", Gif(W, H, Colours(16), with(plain, [](TGifFrame& f) { f.Transparent = 5; }))},
        {"interlaced", Gif(W, H, Colours(16), with(plain, [](TGifFrame& f) { f.Interlaced = true; }))},
        {"local table only", Gif(W, H, {}, with(plain, [](TGifFrame& f) { f.LocalTable = Colours(16); }))},
        {"local table over a global one", Gif(W, H, Colours(4), with(Frame(0, 0, W, H, 256), [](TGifFrame& f) {
             f.LocalTable = Colours(256);
         }))},
        {"two colours", Gif(W, H, Colours(2), Frame(0, 0, W, H, 2))},
        {"interlaced, transparent, 256 colours", Gif(W, H, Colours(256), with(Frame(0, 0, W, H, 256), [](TGifFrame& f) {
             f.Interlaced = true;
             f.Transparent = 0;
         }))},
        {"a second frame after the first",
         GifScreen(W, H, Colours(16)) + GifFrame(plain) + GifFrame(Frame(3, 4, 5, 6, 16)) + ';'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ExpectAsQtReads(c.File, "gif");
    }
}

// With a minimum code size of 1 the two literals, the clear and the end
// code fill two bits, so codes are three bits wide from the first on. Qt's
// reader keeps them at two and shows black after the first few pixels;
// giflib reads them as encoders write them.
TEST(Gif, MinimumCodeSizeOfOneWidensFromTheFirstCode)
{
    const auto expectShown = [](const QByteArray& File, const TGifFrame& Frame, const std::vector<uint32_t>& Table) {
        const TDecoded decoded = Decode(File);
        ASSERT_TRUE(decoded.Read);
        ASSERT_EQ(decoded.Width, Frame.Width);
        ASSERT_EQ(decoded.Height, Frame.Height);
        std::vector<uint32_t> expected;
        for (const uint8_t index : Frame.Indices)
            expected.push_back(Table[index]);
        EXPECT_EQ(decoded.Pixels, expected);
    };
    for (const auto& [w, h, interlaced] : {std::tuple{1, 1, false}, {2, 1, false}, {37, 23, false}, {37, 23, true},
                                           {300, 200, false}}) {
        SCOPED_TRACE(testing::Message() << w << " x " << h << (interlaced ? ", interlaced" : ""));
        TGifFrame frame = Frame(0, 0, uint16_t(w), uint16_t(h), 2);
        frame.CodeSize = 1;
        frame.Interlaced = interlaced;
        expectShown(Gif(uint16_t(w), uint16_t(h), Colours(2), frame), frame, Colours(2));
    }
    // Written by another encoder, with the rows giflib decodes: 1 for the
    // second colour.
    static const uint8_t file[] = {
    0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x14, 0x00, 0x14, 0x00, 0xF0, 0x00, 0x00, 0x9B, 0xAD, 0xAE,
    0x91, 0x5E, 0xEB, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x14, 0x00, 0x14, 0x00, 0x00, 0x01, 0x44, 0x12,
    0xB8, 0x51, 0x74, 0x78, 0xEB, 0x04, 0xA9, 0xF9, 0x52, 0x84, 0x36, 0x4A, 0xB8, 0x32, 0x9D, 0x5B,
    0xB5, 0x85, 0x4A, 0x47, 0x99, 0x97, 0xC7, 0xA4, 0x97, 0x98, 0x66, 0x6E, 0x03, 0xB2, 0xE8, 0xEB,
    0x24, 0x1E, 0x39, 0xCA, 0xA7, 0x85, 0x3F, 0x37, 0xDF, 0xAC, 0xC4, 0xC3, 0xAC, 0x2A, 0xB1, 0x5E,
    0xA8, 0x65, 0xD0, 0x34, 0x91, 0x43, 0xE5, 0x4B, 0xF5, 0x53, 0x35, 0x67, 0xB1, 0xD5, 0xB2, 0x63,
    0x23, 0x0C, 0x00, 0x00, 0x3B,
    };
    static const char* const rows[] = {
        "01000101100100110100",
        "10100010011011001001",
        "01001101100100110011",
        "10110010001011001001",
        "01001101100100110110",
        "10110010001011001001",
        "01101101100100110110",
        "10110010011011011100",
        "01001101010100110110",
        "10010110011011001011",
        "11001101100110110110",
        "10110010011011101000",
        "01011101100110100010",
        "10110010010011001001",
        "01001101100100110110",
        "00110000011100001001",
        "01001101100100110110",
        "11110010111011001000",
        "01001100100110100110",
        "10110000101011011001",
    };
    SCOPED_TRACE("from another encoder");
    TGifFrame frame = Frame(0, 0, 20, 20, 2);
    frame.Indices.clear();
    for (const char* row : rows)
        for (const char* c = row; *c != 0; ++c)
            frame.Indices.push_back(uint8_t(*c - '0'));
    expectShown(QByteArray(reinterpret_cast<const char*>(file), sizeof(file)), frame,
                {0xFF9BADAEu, 0xFF915EEBu});
}

TEST(Gif, TheFirstFrameTakesItsPlaceOnTheScreen)
{
    struct TCase {
        const char* Name;
        QByteArray File;
        TGifFrame Frame;
        // The colours of the frame's indices; beyond them, transparent.
        std::vector<uint32_t> Colours;
        int32_t Width, Height;
        // Where the frame's top left pixel lands.
        int32_t Left, Top;
    };
    const auto make = [](const char* Name, uint16_t ScreenWidth, uint16_t ScreenHeight, std::vector<uint32_t> Global,
                         TGifFrame Frame, int32_t Width, int32_t Height, int32_t Left, int32_t Top,
                         const char* Version = "GIF89a") {
        std::vector<uint32_t> colours = Frame.LocalTable.empty() ? Global : Frame.LocalTable;
        if (Frame.Transparent >= 0)
            colours[size_t(Frame.Transparent)] &= 0x00FFFFFFu;
        return TCase{Name, Gif(ScreenWidth, ScreenHeight, Global, Frame, Version), Frame, colours, Width, Height,
                     Left, Top};
    };
    TGifFrame local = Frame(1100, 700, 200, 200, 2);
    local.LocalTable = Colours(2);
    local.Transparent = 0;
    TGifFrame interlaced = Frame(2, 3, 13, 11, 16);
    interlaced.Interlaced = true;
    TGifFrame beyond = Frame(1, 1, 9, 7, 16);
    beyond.CodeSize = 4;
    const TCase cases[] = {
        make("1 x 1 on 4000 x 4000", 4000, 4000, Colours(4), Frame(0, 0, 1, 1, 4), 4000, 4000, 0, 0),
        // As gifsicle writes a frame far out on a wide screen (a square of
        // 16000 would take a gigabyte here).
        make("100 x 100 at (15000, 900) on 16000 x 1000", 16000, 1000, Colours(16), Frame(15000, 900, 100, 100, 16),
             16000, 1000, 15000, 900, "GIF87a"),
        make("200 x 200 at +1100+700 on 2400 x 1600, local table, transparent", 2400, 1600, Colours(2), local, 2400,
             1600, 1100, 700),
        make("10 x 10 on 2010 x 10", 2010, 10, Colours(16), Frame(0, 0, 10, 10, 16), 2010, 10, 0, 0),
        make("whole screen", 16, 16, Colours(16), Frame(0, 0, 16, 16, 16), 16, 16, 0, 0),
        make("interlaced at an offset", 20, 20, Colours(16), interlaced, 20, 20, 2, 3),
        make("partly off the right and the bottom", 64, 48, Colours(16), Frame(50, 40, 20, 10, 16), 64, 48, 50, 40),
        make("wholly off the screen", 16, 16, Colours(16), Frame(100, 100, 8, 8, 16), 16, 16, 100, 100),
        make("wider than the screen", 20, 20, Colours(16), Frame(3, 2, 30, 5, 16), 30, 5, 0, 0),
        make("on a screen of 0 x 0", 0, 0, Colours(16), Frame(4, 4, 12, 9, 16), 12, 9, 0, 0),
        make("indices beyond a table of 4", 12, 10, Colours(4), beyond, 12, 10, 1, 1),
        make("no colour table at all", 12, 10, {}, Frame(0, 0, 12, 10, 4), 12, 10, 0, 0),
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TDecoded decoded = Decode(c.File);
        ASSERT_TRUE(decoded.Read);
        ASSERT_EQ(decoded.Width, c.Width);
        ASSERT_EQ(decoded.Height, c.Height);
        // Row by row, each compared as a whole.
        bool opaque = true;
        std::vector<uint32_t> expected(size_t(c.Width));
        for (int32_t y = 0; y < c.Height; ++y) {
            const int32_t fy = y - c.Top;
            for (int32_t x = 0; x < c.Width; ++x) {
                const int32_t fx = x - c.Left;
                uint32_t colour = 0;
                if (fx >= 0 && fy >= 0 && fx < c.Frame.Width && fy < c.Frame.Height) {
                    const uint8_t index = c.Frame.Indices[size_t(fy) * c.Frame.Width + size_t(fx)];
                    colour = index < c.Colours.size() ? c.Colours[index] : 0;
                }
                expected[size_t(x)] = colour;
                opaque = opaque && colour >> 24 == 0xFF;
                // Rows the frame leaves out are all alike.
                if (fy < 0 || fy >= c.Frame.Height) {
                    std::fill(expected.begin(), expected.end(), 0);
                    opaque = false;
                    break;
                }
            }
            const uint32_t* row = decoded.Pixels.data() + size_t(y) * size_t(c.Width);
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(), row)) << "row " << y;
        }
        EXPECT_EQ(decoded.Opaque, opaque);
    }
}

// Image data of LZW codes all 3 bits wide, for a table of 4 colours: 4 is
// the clear code, 5 the end, 6 the first the table defines.
QByteArray Codes(const std::vector<uint32_t>& Codes)
{
    QByteArray packed;
    uint32_t bits = 0;
    int count = 0;
    for (const uint32_t code : Codes) {
        bits |= code << count;
        for (count += 3; count >= 8; count -= 8, bits >>= 8)
            packed.append(char(bits));
    }
    if (count > 0)
        packed.append(char(bits));
    return QByteArray(1, '\x02') + char(packed.size()) + packed + '\0';
}

TEST(Gif, DamagedFramesAreRefusedAndWhatFollowsAFrameIsLeft)
{
    const std::vector<uint32_t> colours = Colours(4);
    // One row of Width pixels.
    const auto gif = [&](uint16_t Width, const QByteArray& Data, const QByteArray& After = ";") {
        return GifScreen(Width, 1, colours) + QByteArray(",\0\0\0\0", 5) + char(Width) + char(Width >> 8) +
               QByteArray("\x01\0\0", 3) + Data + After;
    };
    // Each index a code of its own after a single clear code: the table
    // fills up, and its codes stay 12 bits wide until the end code.
    std::vector<uint8_t> literals;
    for (int i = 0; i < 4200; ++i)
        literals.push_back(uint8_t(i * 7 / 3 % 4));
    QByteArray full;
    {
        uint32_t bits = 0;
        int count = 0, width = 3, next = 6;
        const auto put = [&](uint32_t Code) {
            bits |= Code << count;
            for (count += width; count >= 8; count -= 8, bits >>= 8)
                full.append(char(bits));
        };
        put(4);
        for (size_t i = 0; i < literals.size(); ++i) {
            put(literals[i]);
            if (i > 0 && next < 4096 && ++next == 1 << width && width < 12)
                ++width;
        }
        put(5);
        if (count > 0)
            full.append(char(bits));
        QByteArray blocks(1, '\x02');
        for (qsizetype i = 0; i < full.size(); i += 255)
            blocks += char(full.mid(i, 255).size()) + full.mid(i, 255);
        full = blocks + '\0';
    }
    // Two runs of "0, 1" and a last "0", with clear codes between: 24 bits
    // that fill 3 bytes, so no padding reads as a code.
    const std::vector<uint32_t> runs = {4, 0, 1, 4, 0, 1, 4, 0};
    // Once the table holds code 7, codes grow to 4 bits: 3 bits hold three
    // codes after the first.
    const QByteArray whole = gif(3, Codes({4, 0, 1, 2, 5}));
    struct TCase {
        const char* Name;
        QByteArray File;
        // The indices it gives; none when it is refused.
        std::vector<uint8_t> Indices;
    };
    const TCase cases[] = {
        {"a whole frame", whole, {0, 1, 2}},
        {"a code the table does not hold yet", gif(3, Codes({4, 0, 7, 5})), {}},
        {"a first code that is no index", gif(3, Codes({4, 6, 5})), {}},
        {"the end code before the last pixel", gif(3, Codes({4, 0, 1, 5})), {}},
        {"the blocks end before the last pixel", gif(6, Codes(runs)), {}},
        {"the file ends after the code size", whole.left(13 + 12 + 10 + 1), {}},
        {"the file ends after the frame's descriptor", whole.left(13 + 12 + 10), {}},
        {"no frame before the trailer", GifScreen(4, 1, colours) + ';', {}},
        {"a block of no known kind before the frame", GifScreen(4, 1, colours) + '\x07' + whole.mid(25), {}},
        {"code size 0", gif(3, QByteArray(1, '\0') + Codes({4, 0, 1, 2, 5}).mid(1)), {}},
        {"code size 12", gif(3, QByteArray(1, '\x0C') + Codes({4, 0, 1, 2, 5}).mid(1)), {}},
        {"no end code after the last pixel", gif(5, Codes(runs)), {0, 1, 0, 1, 0}},
        {"codes after the last pixel", gif(2, Codes({4, 0, 1, 2, 3, 1, 5})), {0, 1}},
        {"a clear code between pixels", gif(2, Codes({4, 0, 4, 1, 5})), {0, 1}},
        {"the code being defined", gif(3, Codes({4, 0, 6, 5})), {0, 0, 0}},
        {"a full table kept without a clear code", gif(uint16_t(literals.size()), full), literals},
        {"a screen beyond the largest picture",
         GifScreen(16001, 16000, colours) + whole.mid(13 + 12), {}},
        {"no trailer", whole.chopped(1), {0, 1, 2}},
        {"junk after the frame", gif(3, Codes({4, 0, 1, 2, 5}), "\x07junk"), {0, 1, 2}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TDecoded decoded = Decode(c.File);
        if (c.Indices.empty()) {
            EXPECT_FALSE(decoded.Read);
            continue;
        }
        ASSERT_TRUE(decoded.Read);
        std::vector<uint32_t> expected;
        for (const uint8_t i : c.Indices)
            expected.push_back(colours[i]);
        EXPECT_EQ(decoded.Pixels, expected);
        EXPECT_TRUE(decoded.Opaque);
    }
}

TEST(Gif, DecodingHoldsNoMoreThanTheBufferAndABand)
{
    if (!Corvanith::Testing::ResidentMemoryTells)
        GTEST_SKIP() << "resident memory tells nothing under the address sanitizer";
    constexpr uint16_t W = 4000, H = 4000;
    TGifFrame frame;
    frame.Width = W;
    frame.Height = H;
    frame.Indices.assign(size_t(W) * H, 3);
    const QByteArray file = Gif(W, H, Colours(4), frame);
    Corvanith::Platform::TMemoryStream stream(std::vector<uint8_t>(file.begin(), file.end()));
    Corvanith::Platform::TStreamAdapter adapter(stream);
    Corvanith::Platform::TImageDecoder decoder(adapter);
    ASSERT_TRUE(decoder.Valid());
    // 64 MB of pixels, every page of it taken before the peak is reset.
    std::vector<uint32_t> pixels(size_t(W) * H, 1);
    Corvanith::Testing::ResetResidentPeak();
    const int64_t before = Corvanith::Testing::ResidentBytes();
    ASSERT_TRUE(decoder.Read(reinterpret_cast<uint8_t*>(pixels.data()), W * 4));
    const int64_t peak = Corvanith::Testing::ResidentBytes("VmHWM:");
    EXPECT_LT(peak - before, int64_t(8) << 20);
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), Colours(4)[3]), ptrdiff_t(pixels.size()));
}

struct TGifPicture {
    std::array<uint32_t, 16> Palette{};
    std::vector<uint8_t> Indices;
    QImage Image;

    TGifPicture(int Width, int Height, bool Flat) : Image(Width, Height, QImage::Format_RGB32)
    {
        for (uint32_t i = 0; i < 16; ++i)
            Palette[i] = 0xFF000000u | (i * 16) << 16 | (255 - i * 16) << 8 | (i * 5);
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x) {
                const uint8_t index = Flat ? 9 : uint8_t((x / 3 + y / 5 + x * y) % 16);
                Indices.push_back(index);
                Image.setPixel(x, y, Palette[index]);
            }
    }
    QByteArray File() const { return GifFile(uint16_t(Image.width()), uint16_t(Image.height()), Palette, Indices); }
};

TEST(Gif, DecodesAndAFrameLargerThanItsDataIsRefused)
{
    for (const auto& [w, h, flat] : {std::tuple{64, 64, false}, {640, 480, false}, {4000, 4000, true}}) {
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        ExpectDecodes(TGifPicture(w, h, flat).File(), TGifPicture(w, h, flat).Image, 0);
    }
    QByteArray file = TGifPicture(64, 64, false).File();
    // The screen and the frame both claim 15000 x 15000.
    for (const qsizetype at : {qsizetype(6), qsizetype(13 + 48 + 5)}) {
        ASSERT_EQ(uint8_t(file[at]), 64);
        file[at] = file[at + 2] = char(15000 & 0xFF);
        file[at + 1] = file[at + 3] = char(15000 >> 8);
    }
    EXPECT_FALSE(Decode(file).Valid);
}

} // namespace
