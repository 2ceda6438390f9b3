#include "bmpfile.h"
#include "datalimit.h"
#include "imagefiles.h"
#include "jpegfiles.h"
#include "platform/codecs.h"
#include "platform/imaging.h"

#include <gtest/gtest.h>

#include <QColorSpace>
#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <cstring>

#include <malloc.h>

using namespace Corvanith::Platform;

namespace {

bool HasMimeType(const char* MimeType)
{
    const auto& encoders = ImageEncoders();
    return std::any_of(encoders.begin(), encoders.end(),
                       [&](const TImageCodecInfo& e) { return std::strcmp(e.MimeType, MimeType) == 0; });
}

TEST(Codecs, EncoderTable)
{
    EXPECT_TRUE(HasMimeType("image/png"));
    EXPECT_TRUE(HasMimeType("image/gif"));
    EXPECT_TRUE(HasMimeType("image/bmp"));
    EXPECT_TRUE(HasMimeType("image/jpeg"));
    EXPECT_TRUE(HasMimeType("image/tiff"));
    EXPECT_FALSE(HasMimeType("image/PNG"));
    // Every encoder has a class of its own.
    const auto& encoders = ImageEncoders();
    for (size_t i = 0; i < encoders.size(); ++i)
        for (size_t j = i + 1; j < encoders.size(); ++j)
            EXPECT_NE(encoders[i].Clsid, encoders[j].Clsid);
    // Qt writes every listed format but GIF.
    const QList<QByteArray> writable = QImageWriter::supportedImageFormats();
    for (const TImageCodecInfo& e : encoders)
        EXPECT_EQ(writable.contains(e.QtFormat), std::strcmp(e.QtFormat, "gif") != 0) << e.QtFormat;
}

TEST(Codecs, BmpIsWrittenWith24Bits)
{
    std::vector<uint32_t> pixels(4, 0x80FF0000);
    TSharedBitmap bitmap(reinterpret_cast<uint8_t*>(pixels.data()), 2, 2, 8);
    TMemoryStream stream;
    TStreamAdapter adapter(stream);
    const TGuid bmp = ImageEncoders().front().Clsid;
    ASSERT_EQ(ImageEncoders().front().FormatID, ImageFormatBMP);
    ASSERT_TRUE(EncodeImage(bitmap, adapter, bmp));
    const std::vector<uint8_t>& data = stream.Data();
    ASSERT_GT(data.size(), 30u);
    EXPECT_EQ(data[0], 'B');
    EXPECT_EQ(data[1], 'M');
    EXPECT_EQ(data[28] | data[29] << 8, 24);
    EXPECT_FALSE(EncodeImage(bitmap, adapter, TGuid{}));
}

TEST(Codecs, DecodeRefusesWhatIsNoAllowedPicture)
{
    // Qt reads X bitmaps and portable maps; they are no pictures here.
    for (const char* text : {"#define t_width 1\n#define t_height 1\nstatic char t_bits[] = {0x00};\n",
                             "P1\n1 1\n0\n", ""}) {
        TMemoryStream stream(std::vector<uint8_t>(text, text + std::strlen(text)));
        TStreamAdapter adapter(stream);
        TImageDecoder decoder(adapter);
        EXPECT_FALSE(decoder.Valid()) << text;
        std::vector<uint8_t> pixels(4);
        EXPECT_FALSE(decoder.Read(pixels.data(), 4));
        EXPECT_EQ(stream.Position(), 0);
    }
}

TEST(Codecs, DecodeLimitFitsTheLargestSquareAndTheLongestSide)
{
    struct TCase {
        int32_t Width, Height;
        bool Valid;
    };
    const TCase cases[] = {
        {16000, 16000, true},     {MaxDecodedExtent, 3906, true}, {1, MaxDecodedExtent, true},
        {16001, 16000, false},    {100000, 100000, false},        {1 << 30, 2, false},
        {MaxDecodedExtent + 1, 1, false}, {1, MaxDecodedExtent + 1, false},
        {256000000, 1, false},    {1, 256000000, false},          {1, -256000000, false},
    };
    for (const TCase& c : cases) {
        // A header alone, 24 bits, no pixels following.
        TMemoryStream stream(BmpFile(c.Width, c.Height, 24, BmpUncompressed, {}, {}));
        TStreamAdapter adapter(stream);
        TImageDecoder decoder(adapter);
        EXPECT_EQ(decoder.Valid(), c.Valid) << c.Width << " x " << c.Height;
        if (c.Valid) {
            EXPECT_EQ(decoder.Width(), c.Width);
            EXPECT_EQ(decoder.Height(), c.Height);
            EXPECT_EQ(decoder.RawFormat(), ImageFormatBMP);
        }
    }
}

TEST(Codecs, ColourProfilesAreMatchedToSrgbInEveryLayout)
{
    // Pixels in a palette, grey, 32 and 64 bits: converted in our buffer or
    // in the reader's own image, they come out as the profile says.
    constexpr int32_t W = 37, H = 23;
    QImage picture(W, H, QImage::Format_RGB32);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
            picture.setPixel(x, y, qRgb(x * 7, y * 11, (x ^ y) * 5));
    struct TCase {
        const char* Format;
        QImage::Format Pixels;
    };
    const TCase cases[] = {
        {"png", QImage::Format_Indexed8},
        {"png", QImage::Format_RGB32},
        {"png", QImage::Format_RGBX64},
        {"tiff", QImage::Format_Grayscale8},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Format << " of Qt's format " << int(c.Pixels));
        QImage stored = picture.convertToFormat(c.Pixels);
        stored.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
        const QByteArray data = Corvanith::Tests::Written(stored, c.Format);
        ASSERT_FALSE(data.isEmpty());
        QImage expected = stored.convertToFormat(QImage::Format_ARGB32);
        expected.convertToColorSpace(QColorSpace(QColorSpace::SRgb));

        TMemoryStream stream(std::vector<uint8_t>(data.begin(), data.end()));
        TStreamAdapter adapter(stream);
        TImageDecoder decoder(adapter);
        std::vector<uint32_t> pixels(size_t(W) * H);
        ASSERT_TRUE(decoder.Read(reinterpret_cast<uint8_t*>(pixels.data()), W * 4));
        EXPECT_TRUE(decoder.Opaque());
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x)
                for (int shift : {0, 8, 16, 24})
                    EXPECT_NEAR(int(pixels[size_t(y) * W + size_t(x)] >> shift & 0xFF),
                                int(expected.pixel(x, y) >> shift & 0xFF), 1)
                        << x << ", " << y;
    }
}

// Segment (its marker and body) placed right after the start of File.
QByteArray WithSegment(const QByteArray& File, uint8_t Marker, const QByteArray& Body)
{
    QByteArray segment("\xFF", 1);
    segment.append(char(Marker));
    Corvanith::Tests::PutBigEndian(segment, uint32_t(Body.size() + 2), 2);
    return File.left(2) + segment + Body + File.mid(2);
}

TEST(Codecs, JpegDecodesAsQtShowsIt)
{
    using Corvanith::Tests::TJpegOptions;
    // An odd size, so that the last blocks and MCUs are partly outside.
    constexpr int W = 61, H = 37;
    QImage picture(W, H, QImage::Format_RGB32);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            picture.setPixel(x, y, qRgb(x * 4, y * 6, ((x / 3) ^ (y / 2)) * 9 & 0xFF));
    const auto file = [&](const TJpegOptions& Options) { return Corvanith::Tests::JpegFile(picture, Options); };
    // An orientation tag that turns the picture a quarter: not applied.
    QByteArray exif("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 32);
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
        ASSERT_EQ(expected.size(), QSize(W, H));
        const Corvanith::Tests::TDecoded decoded = Corvanith::Tests::Decode(c.File);
        ASSERT_TRUE(decoded.Valid && decoded.Read);
        ASSERT_EQ(decoded.Width, W);
        ASSERT_EQ(decoded.Height, H);
        EXPECT_EQ(decoded.Pixels, Corvanith::Tests::PixelsOf(expected));
    }
}

TEST(Codecs, DecodingKeepsNoSecondFullSizeCopy)
{
    SKIP_UNLESS_DATA_LIMIT_HOLDS();
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    // 4 MB of straight pixels each, from files whose own pixels are smaller
    // (a palette, grey) or larger (16 bits a channel) than ours.
    constexpr int32_t W = 1024, H = 1024;
    QImage grey(W, H, QImage::Format_Grayscale8);
    for (int32_t y = 0; y < H; ++y)
        std::memset(grey.scanLine(y), y % 251, size_t(W));
    const auto encoded = [](const QImage& Image, const char* Format) {
        const QByteArray data = Corvanith::Tests::Written(Image, Format);
        EXPECT_FALSE(data.isEmpty()) << Format;
        return std::vector<uint8_t>(data.begin(), data.end());
    };
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Data;
        // What the decoder may take beside our buffer: the deep file's own
        // pixels are 8 MB, and one band of rows.
        int64_t Allowance;
    };
    const TCase cases[] = {
        {"8-bit bmp", encoded(grey.convertToFormat(QImage::Format_Indexed8), "bmp"), 1 << 20},
        {"grey png", encoded(grey, "png"), 1 << 20},
        {"16-bit png", encoded(grey.convertToFormat(QImage::Format_RGBX64), "png"), 9 << 20},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TMemoryStream stream(c.Data);
        TStreamAdapter adapter(stream);
        TImageDecoder decoder(adapter);
        ASSERT_TRUE(decoder.Valid());
        std::vector<uint32_t> pixels(size_t(W) * H);
        bool read = false;
        std::string error;
        {
            TDataLimit limit(c.Allowance);
            try {
                read = decoder.Read(reinterpret_cast<uint8_t*>(pixels.data()), W * 4);
            } catch (const std::exception& e) {
                error = e.what();
            }
        }
        ASSERT_TRUE(read) << "more than " << (c.Allowance >> 20) << " MB beside the picture: " << error;
        for (int32_t y = 0; y < H; y += 97)
            for (int32_t x = 0; x < W; x += 89)
                EXPECT_EQ(pixels[size_t(y) * W + size_t(x)], 0xFF000000u | uint32_t(y % 251) * 0x010101u)
                    << x << ", " << y;
    }
}

TEST(Codecs, SixteenBitPngTransparentColourIsTransparent)
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

} // namespace
