#include "bmpfile.h"
#include "imagefiles.h"
#include "jpegfiles.h"
#include "residentmemory.h"

#include <gtest/gtest.h>

#include <QImageWriter>

#include <cstdlib>
#include <numeric>

using namespace Corvanith::Tests;

namespace {

// A picture with detail in every block: a gradient with a checker on it.
QImage Detailed(int Width, int Height)
{
    QImage image(Width, Height, QImage::Format_RGB32);
    for (int y = 0; y < Height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(image.scanLine(y));
        for (int x = 0; x < Width; ++x) {
            const uint32_t checker = ((x / 4 + y / 4) & 1) * 40;
            row[x] = 0xFF000000u | (uint32_t(x * 255 / Width) ^ checker) << 16 | uint32_t(y * 255 / Height) << 8 |
                     uint32_t((x + y) * 127 / (Width + Height) + checker);
        }
    }
    return image;
}

QImage Flat(int Width, int Height)
{
    QImage image(Width, Height, QImage::Format_RGB32);
    image.fill(0xFF336699u);
    return image;
}

// Largest difference of any channel between two pixel sets of one size.
int MaxDifference(const std::vector<uint32_t>& A, const std::vector<uint32_t>& B)
{
    int worst = 0;
    for (size_t i = 0; i < A.size(); ++i)
        for (int shift = 0; shift < 32; shift += 8)
            worst = std::max(worst, std::abs(int(A[i] >> shift & 0xFF) - int(B[i] >> shift & 0xFF)));
    return worst;
}

void ExpectDecodes(const QByteArray& File, const QImage& Source, int Tolerance)
{
    ASSERT_FALSE(File.isEmpty());
    const TDecoded decoded = Decode(File);
    ASSERT_TRUE(decoded.Valid);
    ASSERT_TRUE(decoded.Read);
    ASSERT_EQ(decoded.Width, Source.width());
    ASSERT_EQ(decoded.Height, Source.height());
    EXPECT_LE(MaxDifference(decoded.Pixels, PixelsOf(Source)), Tolerance);
}

// Refused from its header, before any buffer of its size: the peak resident
// size, set back to the current one, shows that nothing large was taken.
void ExpectRefusedBeforeItsPixels(const QByteArray& File)
{
    Corvanith::Testing::ResetResidentPeak();
    const int64_t before = Corvanith::Testing::ResidentBytes();
    EXPECT_FALSE(Decode(File).Valid);
    if (Corvanith::Testing::ResidentMemoryTells) {
        EXPECT_LT(Corvanith::Testing::ResidentBytes("VmHWM:") - before, int64_t(64) << 20);
    }
}

// ---- PNG ----

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

TEST(ImageProbe, PngChunkLongerThanTheFileIsRefusedBeforeLibpngAllocatesIt)
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

TEST(ImageProbe, PngTextInflatingToHundredsOfMegabytesStaysBoundedByLibpng)
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

TEST(ImageProbe, PngImageDataTooShortForItsRowsIsRefused)
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

TEST(ImageProbe, TinyPngClaimingAHugePictureIsRefusedBeforeAnySurface)
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

// ---- JPEG ----

// The frame header of a JPEG written by Qt changed to claim Width x Height.
QByteArray WithFrameSize(QByteArray Jpeg, uint16_t Width, uint16_t Height)
{
    for (qsizetype i = 2; i + 9 < Jpeg.size(); ++i)
        if (uint8_t(Jpeg[i]) == 0xFF && (uint8_t(Jpeg[i + 1]) == 0xC0 || uint8_t(Jpeg[i + 1]) == 0xC2)) {
            Jpeg[i + 5] = char(Height >> 8);
            Jpeg[i + 6] = char(Height);
            Jpeg[i + 7] = char(Width >> 8);
            Jpeg[i + 8] = char(Width);
            return Jpeg;
        }
    ADD_FAILURE() << "no frame header";
    return Jpeg;
}

QByteArray Jpeg(const QImage& Image, bool Progressive, int Quality = 90)
{
    return Written(Image, "jpeg", [&](QImageWriter& w) {
        w.setQuality(Quality);
        w.setProgressiveScanWrite(Progressive);
    });
}

// Baseline and progressive files alike.
class ImageProbeJpeg : public testing::TestWithParam<bool> {};

INSTANTIATE_TEST_SUITE_P(Modes, ImageProbeJpeg, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& Info) {
                             return Info.param ? "Progressive" : "Baseline";
                         });

TEST_P(ImageProbeJpeg, WrittenByQtDecodes)
{
    const QByteArray small = Jpeg(Detailed(64, 48), GetParam());
    // Qt writes a progressive file as asked.
    EXPECT_EQ(small.contains("\xFF\xC2"), GetParam());
    ExpectDecodes(small, Detailed(64, 48), 48);
    ExpectDecodes(Jpeg(Detailed(1000, 700), GetParam(), 75), Detailed(1000, 700), 64);
    // A flat picture costs the least a block can: it must still pass.
    ExpectDecodes(Jpeg(Flat(4000, 4000), GetParam(), 50), Flat(4000, 4000), 4);
}

TEST_P(ImageProbeJpeg, FrameLargerThanItsDataIsRefused)
{
    const QByteArray file = Jpeg(Detailed(64, 64), GetParam(), 75);
    // Too small for one bit a block: refused before a surface exists.
    for (const uint16_t side : {15000, 16000})
        EXPECT_FALSE(Decode(WithFrameSize(file, side, side)).Valid) << side;
    // Big enough for the least cost, but the data ends before the frame:
    // libjpeg says so and fills the rest with grey.
    const TDecoded grown = Decode(WithFrameSize(file, 200, 200));
    EXPECT_FALSE(grown.Valid && grown.Read);
    // The baseline file is the one left to libjpeg's own report.
    if (!GetParam()) {
        EXPECT_TRUE(grown.Valid);
    }
}

TEST(ImageProbe, JpegRepeatingComponentIdentifiersDecodes)
{
    // One interleaved scan whose three components all carry identifier 1,
    // as some encoders write them; libjpeg reads them in order.
    QByteArray file = Jpeg(Detailed(64, 48), false);
    const auto segment = [&](uint8_t Marker) {
        for (qsizetype i = 2; i + 1 < file.size(); ++i)
            if (uint8_t(file[i]) == 0xFF && uint8_t(file[i + 1]) == Marker)
                return i;
        ADD_FAILURE() << "no marker " << int(Marker);
        return qsizetype(0);
    };
    const qsizetype frame = segment(0xC0), scan = segment(0xDA);
    ASSERT_EQ(file[frame + 9], 3);
    ASSERT_EQ(file[scan + 4], 3);
    for (int c = 0; c < 3; ++c)
        file[frame + 10 + 3 * c] = file[scan + 5 + 2 * c] = 1;
    ExpectDecodes(file, Detailed(64, 48), 48);
}

TEST(ImageProbe, JpegScansWithoutTheirDataAreRefused)
{
    const QByteArray file = Jpeg(Flat(2048, 2048), true, 50);
    ASSERT_TRUE(file.endsWith("\xFF\xD9"));
    ExpectDecodes(file, Flat(2048, 2048), 4);
    // Each scan of the luma's AC coefficients must code 65536 blocks, which
    // takes some bytes even in runs of empty blocks; these have none.
    const QByteArray emptyScan("\xFF\xDA\x00\x08\x01\x01\x00\x01\x3F\x00", 10);
    QByteArray scans;
    for (int i = 0; i < 3000; ++i)
        scans += emptyScan;
    EXPECT_FALSE(Decode(file.chopped(2) + scans + "\xFF\xD9").Valid);
}

// Count fill bytes (0xFF) before the first restart marker of File, or before
// every one.
QByteArray WithFillBeforeRestarts(QByteArray File, int Count, bool Every)
{
    int filled = 0;
    // Within entropy-coded data 0xFF stands only before a stuffed zero or a
    // marker, so every 0xFF 0xD0 to 0xD7 is a restart marker.
    for (qsizetype i = File.indexOf("\xFF\xDA"); i >= 0 && i + 1 < File.size(); ++i) {
        if (uint8_t(File[i]) != 0xFF || (uint8_t(File[i + 1]) & 0xF8) != 0xD0)
            continue;
        File.insert(i, Count, '\xFF');
        i += Count + 1;
        if (++filled == 1 && !Every)
            break;
    }
    EXPECT_GT(filled, Every ? 1 : 0);
    return File;
}

TEST(ImageProbe, JpegWithFillBytesBeforeRestartMarkersDecodesAsLibjpegDoes)
{
    struct TCase {
        const char* Name;
        QByteArray File;
    };
    // A byte or so a block: the data before the first restart is far less
    // than a bit for each block of the scan.
    const QByteArray grey = JpegFile(Flat(256, 8), TJpegOptions().Stored(JCS_GRAYSCALE).Sampled(1, 1).Restarts(1));
    const QByteArray baseline = JpegFile(Detailed(640, 480), TJpegOptions().Restarts(10));
    const QByteArray progressive = JpegFile(Detailed(640, 480), TJpegOptions().Progressive().Restarts(10));
    const TCase cases[] = {
        {"grey, one before the first", WithFillBeforeRestarts(grey, 1, false)},
        {"baseline, three before the first", WithFillBeforeRestarts(baseline, 3, false)},
        {"baseline, one before every one", WithFillBeforeRestarts(baseline, 1, true)},
        {"baseline, three before every one", WithFillBeforeRestarts(baseline, 3, true)},
        {"progressive, one before the first", WithFillBeforeRestarts(progressive, 1, false)},
        {"progressive, two before every one", WithFillBeforeRestarts(progressive, 2, true)},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const QImage expected = QtDecoded(c.File);
        ASSERT_FALSE(expected.isNull());
        const TDecoded decoded = Decode(c.File);
        EXPECT_TRUE(decoded.Valid && decoded.Read);
        EXPECT_EQ(decoded.Pixels, PixelsOf(expected));
    }
}

// An arithmetic-coded JPEG of Width x Height with Components components
// sampled 1 x 1, its frame of the Frame marker, and a scan of a few bytes
// for each entry of Scans: the components it codes, its spectral selection
// and its successive approximation.
struct TArithmeticScan {
    std::vector<uint8_t> Components;
    uint8_t Start, End, Approximation;
};

QByteArray ArithmeticJpeg(uint16_t Width, uint16_t Height, int Components, uint8_t Frame,
                          const std::vector<TArithmeticScan>& Scans)
{
    const auto segment = [](uint8_t Marker, const QByteArray& Body) {
        QByteArray s("\xFF", 1);
        s.append(char(Marker));
        PutBigEndian(s, uint32_t(Body.size() + 2), 2);
        return s + Body;
    };
    QByteArray file = QByteArray("\xFF\xD8", 2) + segment(0xDB, QByteArray(1, '\0') + QByteArray(64, '\1'));
    QByteArray frame(1, char(8));
    PutBigEndian(frame, Height, 2);
    PutBigEndian(frame, Width, 2);
    frame.append(char(Components));
    for (int c = 1; c <= Components; ++c)
        frame.append(char(c)).append(char(0x11)).append('\0');
    file += segment(Frame, frame);
    for (const TArithmeticScan& scan : Scans) {
        QByteArray head(1, char(scan.Components.size()));
        for (const uint8_t c : scan.Components)
            head.append(char(c)).append('\0');
        head.append(char(scan.Start)).append(char(scan.End)).append(char(scan.Approximation));
        file += segment(0xDA, head) + QByteArray(8, '\0');
    }
    return file + QByteArray("\xFF\xD9", 2);
}

// File with its scan of index Scan (from 0) repeated to stand Times times.
QByteArray WithScanRepeated(const QByteArray& File, int Scan, int Times)
{
    qsizetype start = -1;
    for (int i = 0; i <= Scan; ++i)
        start = File.indexOf("\xFF\xDA", start + 1);
    // The scan ends at the first marker after its header that is no restart.
    qsizetype end = start + 2 + (uint8_t(File[start + 2]) << 8 | uint8_t(File[start + 3]));
    while (uint8_t(File[end]) != 0xFF || uint8_t(File[end + 1]) == 0 || (uint8_t(File[end + 1]) & 0xF8) == 0xD0)
        ++end;
    return File.left(end) + File.mid(start, end - start).repeated(Times - 1) + File.mid(end);
}

TEST(ImageProbe, JpegAskingTooMuchWorkIsRefusedBeforeAnySurface)
{
    // Arithmetic coding may code a block in far less than a bit: these few
    // bytes hold whole frames of coefficients, each scan coding all of them.
    constexpr uint8_t Sequential = 0xC9, Progressive = 0xCA;
    const TArithmeticScan dc{{1, 2, 3}, 0, 0, 0};
    std::vector<TArithmeticScan> dcAgain(100, {{1}, 0, 0, 0});
    struct TCase {
        const char* Name;
        QByteArray File;
    };
    const TCase cases[] = {
        {"16000 x 16000 in colour, a scan of DC", ArithmeticJpeg(16000, 16000, 3, Progressive, {dc})},
        {"16000 x 16000 in colour, ten scans",
         ArithmeticJpeg(16000, 16000, 3, Progressive,
                        {{{1, 2, 3}, 0, 0, 1}, {{1}, 1, 5, 2}, {{3}, 1, 63, 1}, {{2}, 1, 63, 1}, {{1}, 6, 63, 2},
                         {{1}, 1, 63, 0x21}, {{1, 2, 3}, 0, 0, 0x10}, {{3}, 1, 63, 0x10}, {{2}, 1, 63, 0x10},
                         {{1}, 1, 63, 0x10}})},
        {"16000 x 16000 in colour, sequential, a scan per component",
         ArithmeticJpeg(16000, 16000, 3, Sequential, {{{1}, 0, 63, 0}, {{2}, 0, 63, 0}, {{3}, 0, 63, 0}})},
        {"8000 x 8000 grey, a hundred scans of DC", ArithmeticJpeg(8000, 8000, 1, Progressive, dcAgain)},
        // Huffman codes skip up to 32767 blocks with one end-of-band run: a
        // scan of a flat picture's first AC coefficients takes some 340 bytes.
        {"Huffman codes, 4000 x 4000, a scan of the luma repeated 300 times",
         WithScanRepeated(Jpeg(Flat(4000, 4000), true, 50), 1, 300)},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_LT(c.File.size(), 200000);
        Corvanith::Testing::ResetResidentPeak();
        const int64_t before = Corvanith::Testing::ResidentBytes();
        EXPECT_FALSE(Decode(c.File).Valid);
        if (Corvanith::Testing::ResidentMemoryTells) {
            EXPECT_LT(Corvanith::Testing::ResidentBytes("VmHWM:") - before, int64_t(300) << 20);
        }
    }
    // What encoders write passes: a frame of coefficients for each component
    // in the usual ten scans of a progressive file.
    const QByteArray usual = JpegFile(Detailed(2000, 1500), TJpegOptions().Progressive().Arithmetic());
    ASSERT_TRUE(usual.contains("\xFF\xCA"));
    ExpectDecodes(usual, Detailed(2000, 1500), 64);
}

// ---- GIF ----

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

TEST(ImageProbe, GifDecodesAndAFrameLargerThanItsDataIsRefused)
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

// ---- BMP ----

QByteArray Bytes(const std::vector<uint8_t>& Data)
{
    return QByteArray(reinterpret_cast<const char*>(Data.data()), qsizetype(Data.size()));
}

// Every layout of uncompressed rows: the rows exactly in the file decode,
// one byte fewer (the last row's padding) is refused, and so is the header
// claiming 16000 x 16000 over a hundred bytes of rows.
TEST(ImageProbe, BmpRowsMustAllLieInTheFile)
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

// RLE data decodes when it ends the picture before the file ends: by an end
// of bitmap, or by the end of its last row.
TEST(ImageProbe, BmpRunsMustEndThePictureWithinTheFile)
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

// ---- TIFF ----

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

TEST(ImageProbe, TiffWrittenByQtDecodes)
{
    for (const int compression : {0, 1}) {
        SCOPED_TRACE(compression == 0 ? "uncompressed" : "LZW");
        ExpectDecodes(Tiff(Detailed(64, 48), compression), Detailed(64, 48), 0);
        ExpectDecodes(Tiff(Detailed(1000, 700), compression), Detailed(1000, 700), 0);
    }
    ExpectDecodes(Tiff(Flat(4000, 4000), 1), Flat(4000, 4000), 0);
}

TEST(ImageProbe, TiffFrameLargerThanItsStripsIsRefused)
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

TEST(ImageProbe, TiffWhoseStripsCannotBeBoundedIsRefusedBeforeAnySurface)
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

TEST(ImageProbe, BigTiffDecodesAndIsCheckedAsClassicTiff)
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

} // namespace
