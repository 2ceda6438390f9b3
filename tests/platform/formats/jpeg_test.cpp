#include "platform/formats/formatchecks.h"
#include "platform/imagefiles.h"
#include "platform/jpegfiles.h"
#include "platform/codecs.h"
#include "platform/formats/exif.h"
#include "platform/formats/mutations.h"

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace Corvanith::Platform;
using namespace Corvanith::Tests;

namespace {

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
class JpegModes : public testing::TestWithParam<bool> {};

INSTANTIATE_TEST_SUITE_P(Modes, JpegModes, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& Info) {
                             return Info.param ? "Progressive" : "Baseline";
                         });

TEST_P(JpegModes, WrittenByQtDecodes)
{
    const QByteArray small = Jpeg(Detailed(64, 48), GetParam());
    // Qt writes a progressive file as asked.
    EXPECT_EQ(small.contains("\xFF\xC2"), GetParam());
    ExpectDecodes(small, Detailed(64, 48), 48);
    ExpectDecodes(Jpeg(Detailed(1000, 700), GetParam(), 75), Detailed(1000, 700), 64);
    // A flat picture costs the least a block can: it must still pass.
    ExpectDecodes(Jpeg(Flat(4000, 4000), GetParam(), 50), Flat(4000, 4000), 4);
}

TEST_P(JpegModes, FrameLargerThanItsDataIsRefused)
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

TEST(Jpeg, RepeatedComponentIdentifiersDecode)
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

TEST(Jpeg, ScansWithoutTheirDataAreRefused)
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

// Where the restart markers of File stand, in order.
std::vector<qsizetype> Restarts(const QByteArray& File)
{
    std::vector<qsizetype> at;
    // Within entropy-coded data 0xFF stands only before a stuffed zero or a
    // marker, so every 0xFF 0xD0 to 0xD7 is a restart marker.
    for (qsizetype i = File.indexOf("\xFF\xDA"); i >= 0 && i + 1 < File.size(); ++i)
        if (uint8_t(File[i]) == 0xFF && (uint8_t(File[i + 1]) & 0xF8) == 0xD0)
            at.push_back(i);
    EXPECT_GT(at.size(), 2u);
    return at;
}

// Bytes put before the first restart marker of File, or before every one.
QByteArray WithBeforeRestarts(QByteArray File, const QByteArray& Bytes, bool Every)
{
    const std::vector<qsizetype> at = Restarts(File);
    for (auto i = Every ? at.rbegin() : at.rend() - 1; i != at.rend(); ++i)
        File.insert(*i, Bytes);
    return File;
}

QByteArray Fill(int Count) { return QByteArray(Count, '\xFF'); }

TEST(Jpeg, FillBytesBeforeRestartMarkersDecodeAsLibjpegDoes)
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
        {"grey, one before the first", WithBeforeRestarts(grey, Fill(1), false)},
        {"baseline, three before the first", WithBeforeRestarts(baseline, Fill(3), false)},
        {"baseline, one before every one", WithBeforeRestarts(baseline, Fill(1), true)},
        {"baseline, three before every one", WithBeforeRestarts(baseline, Fill(3), true)},
        {"progressive, one before the first", WithBeforeRestarts(progressive, Fill(1), false)},
        {"progressive, two before every one", WithBeforeRestarts(progressive, Fill(2), true)},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ExpectAsQtReads(c.File, "jpeg");
    }
}

// Damage within the data that libjpeg mends at the next restart marker, as
// files from some cameras and editors hold it: libjpeg warns and decodes on.
TEST(Jpeg, DamageMendedAtARestartDecodesAsLibjpegDoes)
{
    struct TCase {
        const char* Name;
        QByteArray File;
    };
    const QByteArray baseline = JpegFile(Detailed(640, 480), TJpegOptions().Restarts(10));
    const QByteArray progressive = JpegFile(Detailed(640, 480), TJpegOptions().Progressive().Restarts(10));
    const QByteArray grey = JpegFile(Flat(256, 8), TJpegOptions().Stored(JCS_GRAYSCALE).Sampled(1, 1).Restarts(1));
    // "Corrupt JPEG data: 3 extraneous bytes before marker 0xd0".
    const QByteArray junk("\x12\x34\x56", 3);
    // Junk that holds 0xFF before a code that is no marker: libjpeg's
    // entropy decoder stops there and finds the restart marker after it.
    const QByteArray code("\x55\xFF\x12\x34", 4);
    // The data of the second interval ends halfway: libjpeg fills the rest
    // of it with grey and goes on at the restart.
    const auto shortened = [](QByteArray File) {
        const std::vector<qsizetype> at = Restarts(File);
        const qsizetype half = (at[1] - at[0] - 2) / 2;
        return File.remove(at[1] - half, half);
    };
    const TCase cases[] = {
        {"baseline, junk before the first restart", WithBeforeRestarts(baseline, junk, false)},
        {"baseline, junk with a code before the first restart", WithBeforeRestarts(baseline, code, false)},
        {"baseline, junk with a code before every restart", WithBeforeRestarts(baseline, code, true)},
        {"progressive, junk with a code before every restart", WithBeforeRestarts(progressive, code, true)},
        {"grey, junk with a code before every restart", WithBeforeRestarts(grey, code, true)},
        {"baseline, a restart marker out of its order", WithBeforeRestarts(baseline, "\xFF\xD3", false)},
        {"baseline, an interval cut short", shortened(baseline)},
        {"progressive, an interval cut short", shortened(progressive)},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ExpectAsQtReads(c.File, "jpeg");
    }
}

// Where a scan's data ends before its blocks do, libjpeg fills the rest of
// the picture with grey: no picture results.
TEST(Jpeg, DataEndingBeforeThePictureIsRefused)
{
    const QByteArray baseline = JpegFile(Detailed(640, 480), TJpegOptions().Restarts(10));
    const QByteArray progressive = JpegFile(Detailed(640, 480), TJpegOptions().Progressive().Restarts(10));
    // Within the data of the last interval but one, so that most of the
    // scan's data stands before the end.
    const auto within = [](QByteArray File, const QByteArray& Bytes) {
        const std::vector<qsizetype> at = Restarts(File);
        qsizetype i = at[at.size() - 2] - 20;
        while (uint8_t(File[i - 1]) == 0xFF)
            --i;
        return File.insert(i, Bytes);
    };
    struct TCase {
        const char* Name;
        QByteArray File;
    };
    const TCase cases[] = {
        {"baseline, the end marker before the first restart", WithBeforeRestarts(baseline, "\xFF\xD9", false)},
        {"progressive, the end marker before the first restart",
         WithBeforeRestarts(progressive, "\xFF\xD9", false)},
        {"baseline, the end marker within the data", within(baseline, "\xFF\xD9")},
        // libjpeg stops at the code, and looking for the restart after it
        // finds the end instead.
        {"baseline, a code and the end marker within the data", within(baseline, "\xFF\x12\xFF\xD9")},
        {"progressive, a code and the end marker within the data", within(progressive, "\xFF\x12\xFF\xD9")},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TDecoded decoded = Decode(c.File);
        EXPECT_FALSE(decoded.Valid && decoded.Read);
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

TEST(Jpeg, FileAskingTooMuchWorkIsRefusedBeforeAnySurface)
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

// Segment (its marker and body) placed right after the start of File.
QByteArray WithSegment(const QByteArray& File, uint8_t Marker, const QByteArray& Body)
{
    QByteArray segment("\xFF", 1);
    segment.append(char(Marker));
    Corvanith::Tests::PutBigEndian(segment, uint32_t(Body.size() + 2), 2);
    return File.left(2) + segment + Body + File.mid(2);
}

// An Exif block whose first directory holds the orientation Value alone, in
// either byte order.
QByteArray ExifBlock(uint16_t Value, bool BigEndian = false)
{
    QByteArray block("Exif\0\0", 6);
    const auto put = [&](uint32_t Field, int Bytes) {
        for (int i = 0; i < Bytes; ++i)
            block.append(char(Field >> 8 * (BigEndian ? Bytes - 1 - i : i)));
    };
    block.append(BigEndian ? "MM\0*" : "II*\0", 4);
    put(8, 4);
    put(1, 2);
    put(0x0112, 2);
    put(3, 2);
    put(1, 4);
    put(Value, 2);
    put(0, 2);
    put(0, 4);
    return block;
}

// Where the Exif standard shows stored pixel (X, Y) of a W x H picture:
// orientation 6, for one, is "the 0th row is the visual right-hand side of
// the image, and the 0th column is the visual top".
QPoint ShownAt(int Orientation, int X, int Y, int W, int H)
{
    switch (Orientation) {
    case 2: return {W - 1 - X, Y};         // row 0 top, column 0 right
    case 3: return {W - 1 - X, H - 1 - Y}; // row 0 bottom, column 0 right
    case 4: return {X, H - 1 - Y};         // row 0 bottom, column 0 left
    case 5: return {Y, X};                 // row 0 left, column 0 top
    case 6: return {H - 1 - Y, X};         // row 0 right, column 0 top
    case 7: return {H - 1 - Y, W - 1 - X}; // row 0 right, column 0 bottom
    case 8: return {Y, W - 1 - X};         // row 0 left, column 0 bottom
    default: return {X, Y};                // row 0 top, column 0 left
    }
}

// The pixels of Stored as the Exif standard shows them in Orientation.
std::vector<uint32_t> Shown(const TDecoded& Stored, int Orientation)
{
    const int shownWidth = Orientation >= 5 ? Stored.Height : Stored.Width;
    std::vector<uint32_t> pixels(Stored.Pixels.size());
    for (int y = 0; y < Stored.Height; ++y)
        for (int x = 0; x < Stored.Width; ++x) {
            const QPoint at = ShownAt(Orientation, x, y, Stored.Width, Stored.Height);
            pixels[size_t(at.y()) * size_t(shownWidth) + size_t(at.x())] =
                Stored.Pixels[size_t(y) * size_t(Stored.Width) + size_t(x)];
        }
    return pixels;
}

TEST(Jpeg, DecodesAsQtShowsIt)
{
    using Corvanith::Tests::TJpegOptions;
    // An odd size, so that the last blocks and MCUs are partly outside.
    constexpr int W = 61, H = 37;
    QImage picture(W, H, QImage::Format_RGB32);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            picture.setPixel(x, y, qRgb(x * 4, y * 6, ((x / 3) ^ (y / 2)) * 9 & 0xFF));
    const auto file = [&](const TJpegOptions& Options) { return Corvanith::Tests::JpegFile(picture, Options); };
    // An orientation tag that turns the picture a quarter clockwise.
    const QByteArray exif = ExifBlock(6);
    // Comments longer than a read, which libjpeg passes over.
    QByteArray comments = file(TJpegOptions());
    for (int i = 0; i < 3; ++i)
        comments = WithSegment(comments, 0xFE, QByteArray(65000, char('a' + i)));
    struct TCase {
        const char* Name;
        QByteArray File;
    };
    const TCase cases[] = {
        {"grey", file(TJpegOptions().Stored(JCS_GRAYSCALE).Sampled(1, 1))},
        {"YCbCr 4:4:4", file(TJpegOptions().Sampled(1, 1))},
        {"YCbCr 4:2:2", file(TJpegOptions().Sampled(2, 1))},
        {"YCbCr 4:2:0", file(TJpegOptions())},
        {"YCbCr 4:4:0", file(TJpegOptions().Sampled(1, 2))},
        {"YCbCr 4:1:1", file(TJpegOptions().Sampled(4, 1))},
        {"RGB", file(TJpegOptions().Stored(JCS_RGB).Sampled(1, 1))},
        {"CMYK", file(TJpegOptions().Stored(JCS_CMYK).Sampled(1, 1))},
        {"YCCK", file(TJpegOptions().Stored(JCS_YCCK))},
        {"progressive", file(TJpegOptions().Progressive())},
        {"progressive grey", file(TJpegOptions().Stored(JCS_GRAYSCALE).Sampled(1, 1).Progressive())},
        {"arithmetic", file(TJpegOptions().Arithmetic())},
        {"arithmetic progressive", file(TJpegOptions().Progressive().Arithmetic())},
        {"restart markers", file(TJpegOptions().Restarts(3))},
        {"progressive with restart markers", file(TJpegOptions().Progressive().Restarts(2))},
        {"arithmetic with restart markers", file(TJpegOptions().Arithmetic().Restarts(5))},
        {"colour profile", file(TJpegOptions().WithProfile(QColorSpace(QColorSpace::AdobeRgb).iccProfile()))},
        {"written by Qt", Corvanith::Tests::Written(picture, "jpeg")},
        {"orientation tag", WithSegment(file(TJpegOptions()), 0xE1, exif)},
        {"long comments", comments},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const QImage expected = Corvanith::Tests::QtDecoded(c.File);
        const bool turned = c.File.contains(exif);
        ASSERT_EQ(expected.size(), turned ? QSize(H, W) : QSize(W, H));
        const Corvanith::Tests::TDecoded decoded = Corvanith::Tests::Decode(c.File);
        ASSERT_TRUE(decoded.Valid && decoded.Read);
        ASSERT_EQ(decoded.Width, expected.width());
        ASSERT_EQ(decoded.Height, expected.height());
        EXPECT_EQ(decoded.Pixels, Corvanith::Tests::PixelsOf(expected));
    }
}

TEST(Jpeg, ExifOrientationIsShownUpright)
{
    // Odd sides, and more rows than libjpeg hands over at once, so that the
    // last blocks are partly outside and rows come in several bands.
    const QImage picture = Detailed(61, 45);
    const QByteArray colour = JpegFile(picture, TJpegOptions());
    const QByteArray xmp = QByteArray("http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>", 41);
    struct TCase {
        const char* Name;
        QByteArray Stored;
        QByteArray File;
        int Orientation;
        // Qt's reader applies the orientation too.
        bool AsQt = true;
    };
    std::vector<TCase> cases;
    for (uint16_t value = 1; value <= 8; ++value)
        cases.push_back({"orientation", colour, WithSegment(colour, 0xE1, ExifBlock(value, value % 2 == 0)), value});
    const QByteArray cmyk = JpegFile(picture, TJpegOptions().Stored(JCS_CMYK).Sampled(1, 1));
    const QByteArray grey = JpegFile(picture, TJpegOptions().Stored(JCS_GRAYSCALE).Sampled(1, 1).Progressive());
    const QByteArray profiled =
        JpegFile(picture, TJpegOptions().WithProfile(QColorSpace(QColorSpace::AdobeRgb).iccProfile()));
    cases.push_back({"CMYK", cmyk, WithSegment(cmyk, 0xE1, ExifBlock(6)), 6});
    cases.push_back({"progressive grey", grey, WithSegment(grey, 0xE1, ExifBlock(7)), 7});
    // Qt 6.4 drops the colour profile when it turns a picture a quarter.
    cases.push_back({"colour profile", profiled, WithSegment(profiled, 0xE1, ExifBlock(8)), 8, false});
    // Only the first Exif block counts; other APP1 segments are not Exif.
    cases.push_back({"two Exif blocks", colour,
                     WithSegment(WithSegment(colour, 0xE1, ExifBlock(3)), 0xE1, ExifBlock(5)), 5});
    // Qt 6.4 reads its APP1 segments as one, which then is no Exif block.
    cases.push_back({"XMP before the Exif block", colour,
                     WithSegment(WithSegment(colour, 0xE1, ExifBlock(6)), 0xE1, xmp), 6, false});
    // A block whose directory lies outside it is read as upright.
    QByteArray outside = ExifBlock(6);
    outside[10] = char(0x40);
    cases.push_back({"Exif block pointing outside itself", colour, WithSegment(colour, 0xE1, outside), 1});
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Name << " " << c.Orientation);
        const TDecoded stored = Decode(c.Stored);
        ASSERT_TRUE(stored.Valid && stored.Read);
        const TDecoded decoded = Decode(c.File);
        ASSERT_TRUE(decoded.Valid && decoded.Read);
        const bool swapped = c.Orientation >= 5;
        ASSERT_EQ(decoded.Width, swapped ? stored.Height : stored.Width);
        ASSERT_EQ(decoded.Height, swapped ? stored.Width : stored.Height);
        EXPECT_EQ(decoded.Pixels, Shown(stored, c.Orientation));
        if (c.AsQt) {
            EXPECT_EQ(decoded.Pixels, PixelsOf(QtDecoded(c.File)));
        }
    }
}

// A turned picture is written into its place a band of rows at a time: the
// surface is all that is held of its size.
TEST(Jpeg, TurnedPictureTakesNoSecondCopy)
{
    constexpr int W = 6000, H = 4000;
    const QByteArray file = WithSegment(Jpeg(Flat(W, H), false, 50), 0xE1, ExifBlock(6));
    Corvanith::Testing::ResetResidentPeak();
    const int64_t before = Corvanith::Testing::ResidentBytes();
    const TDecoded decoded = Decode(file);
    ASSERT_TRUE(decoded.Valid && decoded.Read);
    EXPECT_EQ(decoded.Width, H);
    EXPECT_EQ(decoded.Height, W);
    if (Corvanith::Testing::ResidentMemoryTells) {
        const int64_t surface = int64_t(W) * H * 4;
        EXPECT_LT(Corvanith::Testing::ResidentBytes("VmHWM:") - before, surface + (int64_t(16) << 20));
    }
}

// Files mutated from JPEGs with Exif blocks, from a fixed seed, so that a
// failure comes back at each run; the sanitizer build watches every read and
// write. A change within the Exif block alone, its segment's length kept
// right, gives the stored picture in the orientation the block holds; any
// other gives a refusal or a picture whose every pixel was written.
// CORVANITH_JPEG_MUTATIONS sets how many files, for a longer run by hand.
TEST(Jpeg, MutatedFilesWithExifBlocksDecodeSafely)
{
    const char* asked = std::getenv("CORVANITH_JPEG_MUTATIONS");
    const long inputs = asked ? std::strtol(asked, nullptr, 10) : 4000;
    const QImage picture = Detailed(37, 21);
    const QByteArray stored[] = {
        JpegFile(picture, TJpegOptions()),
        JpegFile(picture, TJpegOptions().Sampled(1, 1).Progressive().Restarts(2)),
        JpegFile(picture, TJpegOptions().Stored(JCS_CMYK).Sampled(1, 1)),
        JpegFile(picture, TJpegOptions().Stored(JCS_GRAYSCALE).Sampled(1, 1).Restarts(1)),
    };
    std::vector<TDecoded> upright;
    for (const QByteArray& file : stored)
        upright.push_back(Decode(file));
    Corvanith::Tests::TMutator mutator(
        20240612, {0, 1, 2, 5, 6, 7, 8, 9, 0x0112, 0xFFFF, 0x10000, 0x7FFFFFFF, 0xFFFFFFF8, 0xFFFFFFFF});
    const auto below = [&mutator](size_t Bound) { return mutator.Below(Bound); };
    const auto mutate = [&mutator](QByteArray& Bytes) {
        std::vector<uint8_t> bytes(Bytes.begin(), Bytes.end());
        mutator.Mutate(bytes);
        Bytes = QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    };
    long refused = 0, turned = 0;
    for (long i = 0; i < inputs; ++i) {
        SCOPED_TRACE(testing::Message() << "input " << i);
        const size_t seed = below(std::size(stored));
        // Blocks hold more after their first directory, as a camera's do.
        QByteArray block = ExifBlock(uint16_t(1 + below(8)), below(2)) + QByteArray(int(below(2)) * 96, '\x5A');
        const bool blockOnly = below(2);
        QByteArray file;
        if (blockOnly) {
            for (size_t changes = 1 + below(2); changes > 0 && !block.isEmpty(); --changes)
                mutate(block);
            file = WithSegment(stored[seed], 0xE1, block);
        } else {
            file = WithSegment(stored[seed], 0xE1, block);
            for (size_t changes = 1 + below(4); changes > 0 && !file.isEmpty(); --changes)
                mutate(file);
        }
        TMemoryStream stream(std::vector<uint8_t>(file.begin(), file.end()));
        TStreamAdapter adapter(stream);
        TImageDecoder decoder(adapter);
        if (!decoder.Valid()) {
            ASSERT_FALSE(blockOnly);
            ++refused;
            continue;
        }
        ASSERT_TRUE(DecodedSizeAllowed(decoder.Width(), decoder.Height()));
        // A changed frame may claim a picture far larger than its data:
        // the probe refuses most, and the rest are not worth the time here.
        if (int64_t(decoder.Width()) * decoder.Height() > (int64_t(1) << 22))
            continue;
        // Transparent black, so that a pixel left unwritten shows.
        std::vector<uint32_t> pixels(size_t(decoder.Width()) * size_t(decoder.Height()), 0);
        const bool read = decoder.Read(reinterpret_cast<uint8_t*>(pixels.data()), decoder.Width() * 4);
        if (!read) {
            ASSERT_FALSE(blockOnly);
            ++refused;
            continue;
        }
        ASSERT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](uint32_t p) { return p >> 24 == 0xFF; }));
        if (!blockOnly)
            continue;
        const int orientation = int(ExifOrientation(std::span(reinterpret_cast<const uint8_t*>(block.constData()),
                                                              size_t(block.size()))));
        turned += orientation != 1;
        ASSERT_EQ(pixels, Shown(upright[seed], orientation));
    }
    // Enough of the files must open, and enough turned, for the paths to run.
    EXPECT_LT(refused, inputs / 2);
    EXPECT_GT(turned, inputs / 10);
    RecordProperty("Refused", std::to_string(refused));
    RecordProperty("Turned", std::to_string(turned));
}

} // namespace
