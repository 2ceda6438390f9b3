#include "bmpfile.h"
#include "datalimit.h"
#include "imagefiles.h"
#include "platform/codecs.h"
#include "platform/imaging.h"

#include <gtest/gtest.h>

#include <QColorSpace>
#include <QImage>

#include <algorithm>
#include <array>
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
        // A header, two colours and an end of bitmap: a file of any size.
        TMemoryStream stream(BmpFile(c.Width, c.Height, 8, BmpRle8, {0, 0xFFFFFF}, {0, 1}));
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

} // namespace
