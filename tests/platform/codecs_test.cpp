#include "platform/codecs.h"
#include "platform/imaging.h"

#include <gtest/gtest.h>

#include <QImageWriter>

#include <algorithm>
#include <cstring>

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

TEST(Codecs, DecodeLimitFitsTheLargestSquare)
{
    // A BMP header alone: 24-bit, Width x Height, no pixels following.
    const auto bmp = [](int32_t Width, int32_t Height) {
        std::vector<uint8_t> data(54, 0);
        const auto put = [&](size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i)
                data[at + size_t(i)] = uint8_t(v >> (8 * i));
        };
        data[0] = 'B';
        data[1] = 'M';
        put(2, 54);
        put(10, 54);
        put(14, 40);
        put(18, uint32_t(Width));
        put(22, uint32_t(Height));
        data[26] = 1;
        data[28] = 24;
        return data;
    };
    struct TCase {
        int32_t Width, Height;
        bool Valid;
    };
    const TCase cases[] = {
        {16000, 16000, true}, {256000000, 1, true}, {16001, 16000, false}, {100000, 100000, false}, {1 << 30, 2, false},
    };
    for (const TCase& c : cases) {
        TMemoryStream stream(bmp(c.Width, c.Height));
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

} // namespace
