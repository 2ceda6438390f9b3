#include "platform/codecs.h"

#include "platform/imaging.h"

#include <QColorSpace>
#include <QIODevice>
#include <QImageReader>
#include <QImageWriter>

#include <algorithm>
#include <climits>
#include <cstring>

namespace Corvanith::Platform {

namespace {

// Qt's codecs read and write a QIODevice; this one passes everything on to
// the stream interface. Offsets count from the stream position at opening, so
// a picture in the middle of a larger stream reads as if it stood alone.
// Unbuffered: every read of a codec reaches the stream at once, and progress
// follows the codec's real reads.
class TStreamDevice : public QIODevice {
public:
    TStreamDevice(IStream& Stream, OpenMode Mode) : FStream(Stream)
    {
        uint64_t position = 0;
        if (Succeeded(FStream.Seek(0, 1, &position)))
            FBase = int64_t(position);
        open(Mode | QIODevice::Unbuffered);
    }

    bool isSequential() const override { return false; }

    bool seek(qint64 pos) override
    {
        if (!QIODevice::seek(pos))
            return false;
        return Succeeded(FStream.Seek(FBase + pos, 0, nullptr));
    }

    qint64 size() const override
    {
        TStatStg status{};
        if (!Succeeded(FStream.Stat(&status, 0)))
            return 0;
        return std::max<qint64>(0, qint64(status.cbSize) - FBase);
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        uint32_t got = 0;
        if (!Succeeded(FStream.Read(data, uint32_t(std::min<qint64>(maxSize, INT32_MAX)), &got)))
            return -1;
        return got;
    }

    qint64 writeData(const char* data, qint64 maxSize) override
    {
        uint32_t written = 0;
        if (!Succeeded(FStream.Write(data, uint32_t(std::min<qint64>(maxSize, INT32_MAX)), &written)))
            return -1;
        return written;
    }

private:
    IStream& FStream;
    int64_t FBase = 0;
};

struct TDecodedFormat {
    const char* QtFormat;
    TGuid Format;
};

// Chosen by signature, never by Qt's guess: Qt would also take text that
// looks like an X bitmap or a portable pixmap for a picture.
const TDecodedFormat* SniffFormat(const QByteArray& Head)
{
    static const TDecodedFormat Png{"png", ImageFormatPNG};
    static const TDecodedFormat Jpeg{"jpeg", ImageFormatJPEG};
    static const TDecodedFormat Gif{"gif", ImageFormatGIF};
    static const TDecodedFormat Bmp{"bmp", ImageFormatBMP};
    static const TDecodedFormat Tiff{"tiff", ImageFormatTIFF};
    if (Head.startsWith("\x89PNG\r\n\x1A\n"))
        return &Png;
    if (Head.startsWith("\xFF\xD8\xFF"))
        return &Jpeg;
    if (Head.startsWith("GIF87a") || Head.startsWith("GIF89a"))
        return &Gif;
    if (Head.startsWith("BM"))
        return &Bmp;
    if (Head.startsWith(QByteArray("II*\0", 4)) || Head.startsWith(QByteArray("MM\0*", 4)))
        return &Tiff;
    return nullptr;
}

void SetDecodeLimit()
{
    // Qt's limit is in MiB of decoded pixels; room for MaxDecodedSide squared
    // at 4 bytes a pixel, which also keeps every surface below 2 GiB.
    static const bool done = [] {
        constexpr int64_t bytes = int64_t(MaxDecodedSide) * MaxDecodedSide * 4;
        QImageReader::setAllocationLimit(int((bytes + (1 << 20) - 1) >> 20));
        return true;
    }();
    (void)done;
}

} // namespace

TBitmap::TBitmap(QImage Image, const TGuid& RawFormat) : FImage(std::move(Image)), FRawFormat(RawFormat)
{
    // Straight ARGB in memory; RGB32 is taken as is and made opaque on the way out.
    if (FImage.format() != QImage::Format_ARGB32 && FImage.format() != QImage::Format_RGB32)
        FImage.convertTo(QImage::Format_ARGB32);
}

void TBitmap::ReadPixels(uint8_t* Bits, int32_t Stride) const
{
    const int32_t width = FImage.width();
    const bool opaque = FImage.format() == QImage::Format_RGB32;
    for (int32_t y = 0; y < FImage.height(); ++y) {
        const auto* source = reinterpret_cast<const uint32_t*>(FImage.constScanLine(y));
        auto* dest = reinterpret_cast<uint32_t*>(Bits + int64_t(y) * Stride);
        // RGB32 leaves the alpha byte undefined; the copy is bound by memory
        // either way, so setting it costs nothing.
        if (opaque)
            for (int32_t x = 0; x < width; ++x)
                dest[x] = source[x] | 0xFF000000u;
        else
            std::memcpy(dest, source, size_t(width) * 4);
    }
}

std::unique_ptr<TBitmap> DecodeImage(IStream& Stream)
{
    SetDecodeLimit();
    uint64_t start = 0;
    if (!Succeeded(Stream.Seek(0, 1, &start)))
        return nullptr;
    char head[8];
    uint32_t got = 0;
    if (!Succeeded(Stream.Read(head, sizeof(head), &got)))
        got = 0;
    // A picture that does not decode leaves the stream where it was.
    const auto refuse = [&] {
        Stream.Seek(int64_t(start), 0, nullptr);
        return nullptr;
    };
    const TDecodedFormat* format = SniffFormat(QByteArray(head, int(got)));
    if (format == nullptr)
        return refuse();
    Stream.Seek(int64_t(start), 0, nullptr);
    TStreamDevice device(Stream, QIODevice::ReadOnly);
    QImageReader reader(&device, format->QtFormat);
    reader.setAutoDetectImageFormat(false);
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return refuse();
    const QColorSpace space = image.colorSpace();
    if (space.isValid() && space != QColorSpace(QColorSpace::SRgb))
        image.convertToColorSpace(QColorSpace::SRgb);
    return std::make_unique<TBitmap>(std::move(image), format->Format);
}

const std::vector<TImageCodecInfo>& ImageEncoders()
{
    // Class identifiers of one series, one per encoder.
    static const auto Clsid = [](uint32_t Data1) {
        return TGuid{Data1, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
    };
    static const std::vector<TImageCodecInfo> encoders = {
        {Clsid(0x557CF400), ImageFormatBMP, "image/bmp", "bmp"},
        {Clsid(0x557CF401), ImageFormatJPEG, "image/jpeg", "jpeg"},
        {Clsid(0x557CF402), ImageFormatGIF, "image/gif", "gif"},
        {Clsid(0x557CF405), ImageFormatTIFF, "image/tiff", "tiff"},
        {Clsid(0x557CF406), ImageFormatPNG, "image/png", "png"},
    };
    return encoders;
}

bool EncodeImage(const TSharedBitmap& Bitmap, IStream& Stream, const TGuid& EncoderClsid)
{
    const auto& encoders = ImageEncoders();
    const auto encoder = std::find_if(encoders.begin(), encoders.end(),
                                      [&](const TImageCodecInfo& e) { return e.Clsid == EncoderClsid; });
    if (encoder == encoders.end())
        return false;
    TStreamDevice device(Stream, QIODevice::WriteOnly);
    QImageWriter writer(&device, encoder->QtFormat);
    return writer.write(Bitmap.Image());
}

std::unique_ptr<TBitmap> ScaleImage(const TSharedBitmap& Source, int32_t SrcWidth, int32_t SrcHeight, int32_t Width,
                                    int32_t Height, bool Opaque)
{
    const QImage& whole = Source.Image();
    const QImage view(whole.constBits(), SrcWidth, SrcHeight, whole.bytesPerLine(),
                      Opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32);
    return std::make_unique<TBitmap>(view.scaled(Width, Height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

} // namespace Corvanith::Platform
