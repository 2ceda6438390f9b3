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
#include <array>
#include <bit>
#include <cstring>
#include <optional>

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

TEST(Codecs, BmpFieldsAreStretchedToTheFullRange)
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

TEST(Codecs, GreyTiffWithAlphaKeepsItsAlpha)
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

TEST(Codecs, PngTakesTheFirstValidKeyBeforeTheImageData)
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

TEST(Codecs, PngOfTinyChunksIsReadInBlocks)
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
