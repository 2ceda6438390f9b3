#pragma once
// JPEG files for the decoder tests, written by libjpeg at run time with what
// Qt's writer does not offer: arithmetic coding, restart markers, any
// sampling, CMYK and YCCK, an embedded colour profile.
#include <QBuffer>
#include <QByteArray>
#include <QColorSpace>
#include <QImage>
#include <QImageReader>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

namespace Corvanith::Tests {

struct TJpegOptions {
    // The colour space stored: grey, YCbCr, RGB, CMYK or YCCK. CMYK is
    // written inverted, as Adobe's writers store it: the image's red, green
    // and blue as C, M and Y, and a black that varies across the picture.
    J_COLOR_SPACE Space = JCS_YCbCr;
    // The first component's sampling; the others are sampled 1 x 1.
    int H = 2, V = 2;
    bool IsProgressive = false;
    bool IsArithmetic = false;
    // A restart marker after every so many MCUs; 0 for none.
    unsigned RestartMcus = 0;
    QByteArray Profile;

    TJpegOptions& Stored(J_COLOR_SPACE Value) { Space = Value; return *this; }
    TJpegOptions& Sampled(int Horizontal, int Vertical) { H = Horizontal; V = Vertical; return *this; }
    TJpegOptions& Progressive() { IsProgressive = true; return *this; }
    TJpegOptions& Arithmetic() { IsArithmetic = true; return *this; }
    TJpegOptions& Restarts(unsigned Mcus) { RestartMcus = Mcus; return *this; }
    TJpegOptions& WithProfile(const QByteArray& Value) { Profile = Value; return *this; }
};

// The black the CMYK and YCCK files store for pixel X, Y.
inline uint8_t JpegBlack(int X, int Y) { return uint8_t(255 - (X * 5 + Y * 3) % 160); }

inline QByteArray JpegFile(const QImage& Image, const TJpegOptions& Options)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* data = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &data, &size);
    info.image_width = JDIMENSION(Image.width());
    info.image_height = JDIMENSION(Image.height());
    const bool grey = Options.Space == JCS_GRAYSCALE;
    const bool cmyk = Options.Space == JCS_CMYK || Options.Space == JCS_YCCK;
    info.input_components = grey ? 1 : 4;
    info.in_color_space = grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, Options.Space);
    jpeg_set_quality(&info, 90, TRUE);
    info.comp_info[0].h_samp_factor = Options.H;
    info.comp_info[0].v_samp_factor = Options.V;
    info.arith_code = Options.IsArithmetic ? TRUE : FALSE;
    info.restart_interval = Options.RestartMcus;
    if (Options.IsProgressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    if (!Options.Profile.isEmpty())
        jpeg_write_icc_profile(&info, reinterpret_cast<const JOCTET*>(Options.Profile.constData()),
                               unsigned(Options.Profile.size()));
    const QImage rgb = Image.convertToFormat(QImage::Format_RGB32);
    std::vector<uint8_t> row(size_t(Image.width()) * 4);
    for (int y = 0; y < Image.height(); ++y) {
        const auto* pixels = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < Image.width(); ++x) {
            uint8_t* p = row.data() + size_t(x) * (grey ? 1 : 4);
            if (grey) {
                p[0] = uint8_t(qGray(pixels[x]));
            } else if (cmyk) {
                p[0] = uint8_t(qRed(pixels[x]));
                p[1] = uint8_t(qGreen(pixels[x]));
                p[2] = uint8_t(qBlue(pixels[x]));
                p[3] = JpegBlack(x, y);
            } else {
                std::memcpy(p, &pixels[x], 4);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    QByteArray file(reinterpret_cast<const char*>(data), qsizetype(size));
    jpeg_destroy_compress(&info);
    std::free(data);
    return file;
}

// What Qt's own reader shows of File: turned upright as its Exif block
// says, matched to sRGB when the file holds a colour profile.
inline QImage QtDecoded(QByteArray File)
{
    QBuffer buffer(&File);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    reader.setAutoTransform(true);
    QImage image = reader.read().convertToFormat(QImage::Format_RGB32);
    if (image.colorSpace().isValid())
        image.convertToColorSpace(QColorSpace(QColorSpace::SRgb));
    return image;
}

} // namespace Corvanith::Tests
