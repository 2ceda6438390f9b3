#include "platform/tiffreader.h"

#include <QColorSpace>
#include <QIODevice>

#include <tiffio.h>

#include <cstdio>
#include <memory>

namespace Corvanith::Platform {

namespace {

tsize_t ReadDevice(thandle_t Handle, tdata_t Data, tsize_t Size)
{
    return static_cast<QIODevice*>(Handle)->read(static_cast<char*>(Data), Size);
}

tsize_t WriteNothing(thandle_t, tdata_t, tsize_t) { return -1; }

toff_t SeekDevice(thandle_t Handle, toff_t Offset, int Whence)
{
    auto* device = static_cast<QIODevice*>(Handle);
    const auto offset = qint64(Offset);
    const qint64 position = Whence == SEEK_CUR ? device->pos() + offset
                            : Whence == SEEK_END ? device->size() + offset
                                                 : offset;
    return device->seek(position) ? toff_t(position) : toff_t(-1);
}

int CloseNothing(thandle_t) { return 0; }

toff_t DeviceSize(thandle_t Handle) { return toff_t(static_cast<QIODevice*>(Handle)->size()); }

int MapNothing(thandle_t, tdata_t*, toff_t*) { return 0; }

void UnmapNothing(thandle_t, tdata_t, toff_t) {}

uint32_t Eight(uint8_t Value) { return Value; }
uint32_t Eight(uint16_t Value) { return (uint32_t(Value) * 255u + 32767u) / 65535u; }

// Width pixels of a row from grey and alpha samples Step apart into ARGB;
// the premultiplied grey stays premultiplied.
template <typename T>
void PutRow(const TIFFRGBAImage& Image, uint32_t* To, uint32_t Width, const T* Grey, const T* Alpha, int Step)
{
    const bool fromWhite = Image.photometric == PHOTOMETRIC_MINISWHITE;
    for (uint32_t x = 0; x < Width; ++x) {
        const size_t at = size_t(x) * size_t(Step);
        const uint32_t grey = fromWhite ? 255 - Eight(Grey[at]) : Eight(Grey[at]);
        To[x] = Eight(Alpha[at]) << 24 | grey * 0x010101u;
    }
}

// libtiff's put routines for a decoded block of Width x Height pixels: To
// and the samples skip ToSkew and FromSkew pixels after each row.
template <typename T>
void PutSideBySide(TIFFRGBAImage* Image, uint32_t* To, uint32_t, uint32_t, uint32_t Width, uint32_t Height,
                   int32_t FromSkew, int32_t ToSkew, unsigned char* Samples)
{
    const int step = Image->samplesperpixel;
    const auto* from = reinterpret_cast<const T*>(Samples);
    for (uint32_t y = 0; y < Height; ++y) {
        PutRow(*Image, To, Width, from, from + 1, step);
        To += int64_t(Width) + ToSkew;
        from += (int64_t(Width) + FromSkew) * step;
    }
}

template <typename T>
void PutInPlanes(TIFFRGBAImage* Image, uint32_t* To, uint32_t, uint32_t, uint32_t Width, uint32_t Height,
                 int32_t FromSkew, int32_t ToSkew, unsigned char* Grey, unsigned char*, unsigned char*,
                 unsigned char* Alpha)
{
    const auto* grey = reinterpret_cast<const T*>(Grey);
    const auto* alpha = reinterpret_cast<const T*>(Alpha);
    for (uint32_t y = 0; y < Height; ++y) {
        PutRow(*Image, To, Width, grey, alpha, 1);
        To += int64_t(Width) + ToSkew;
        grey += int64_t(Width) + FromSkew;
        alpha += int64_t(Width) + FromSkew;
    }
}

struct TTiffClose {
    void operator()(TIFF* Tiff) const { TIFFClose(Tiff); }
};

class TRgbaImage {
public:
    explicit TRgbaImage(TIFF* Tiff)
    {
        char message[1024];
        FBegun = TIFFRGBAImageBegin(&FImage, Tiff, 1, message) != 0;
    }
    ~TRgbaImage()
    {
        if (FBegun)
            TIFFRGBAImageEnd(&FImage);
    }
    TRgbaImage(const TRgbaImage&) = delete;
    TRgbaImage& operator=(const TRgbaImage&) = delete;

    bool Begun() const { return FBegun; }
    TIFFRGBAImage& Image() { return FImage; }

private:
    TIFFRGBAImage FImage{};
    bool FBegun = false;
};

} // namespace

bool TiffSchemeDecodable(uint32_t Scheme) { return Scheme <= UINT16_MAX && TIFFIsCODECConfigured(uint16_t(Scheme)); }

bool ReadGreyAlphaTiff(QIODevice& Device, QImage& Image)
{
    if (!Device.seek(0))
        return false;
    const std::unique_ptr<TIFF, TTiffClose> tiff(TIFFClientOpen("picture", "rm", &Device, ReadDevice, WriteNothing,
                                                                SeekDevice, CloseNothing, DeviceSize, MapNothing,
                                                                UnmapNothing));
    if (!tiff)
        return false;
    TRgbaImage rgba(tiff.get());
    if (!rgba.Begun())
        return false;
    TIFFRGBAImage& image = rgba.Image();
    const bool wide = image.bitspersample == 16;
    if (image.samplesperpixel != 2 || (image.bitspersample != 8 && !wide) ||
        (image.alpha != EXTRASAMPLE_ASSOCALPHA && image.alpha != EXTRASAMPLE_UNASSALPHA) ||
        image.width != uint32_t(Image.width()) || image.height != uint32_t(Image.height()))
        return false;
    if (image.isContig)
        image.put.contig = wide ? PutSideBySide<uint16_t> : PutSideBySide<uint8_t>;
    else
        image.put.separate = wide ? PutInPlanes<uint16_t> : PutInPlanes<uint8_t>;
    // Rows as stored, not turned by an orientation tag.
    image.req_orientation = image.orientation;
    if (Image.depth() != 32 || Image.bytesPerLine() != int64_t(Image.width()) * 4)
        Image = QImage(Image.width(), Image.height(), QImage::Format_ARGB32);
    if (Image.isNull() ||
        !TIFFRGBAImageGet(&image, reinterpret_cast<uint32_t*>(Image.bits()), image.width, image.height))
        return false;
    Image.reinterpretAsFormat(image.alpha == EXTRASAMPLE_ASSOCALPHA ? QImage::Format_ARGB32_Premultiplied
                                                                    : QImage::Format_ARGB32);
    uint32_t profileSize = 0;
    void* profile = nullptr;
    if (TIFFGetField(tiff.get(), TIFFTAG_ICCPROFILE, &profileSize, &profile) && profile != nullptr) {
        const QByteArray icc(static_cast<const char*>(profile), qsizetype(profileSize));
        Image.setColorSpace(QColorSpace::fromIccProfile(icc));
    }
    return true;
}

} // namespace Corvanith::Platform
