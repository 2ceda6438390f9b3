#include "platform/codecs.h"

#include "graphics/errors.h"
#include "platform/imaging.h"

#include <QColorSpace>
#include <QIODevice>
#include <QImageReader>
#include <QImageWriter>

#include <emmintrin.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace Corvanith::Platform {

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

    // Whether a read came back with fewer bytes than asked, and whether one
    // found nothing left at all, since the last ResetShortReads.
    bool ShortRead() const { return FShortRead; }
    bool ReadAtEnd() const { return FReadAtEnd; }
    void ResetShortReads() { FShortRead = FReadAtEnd = false; }

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
        const auto asked = uint32_t(std::min<qint64>(maxSize, INT32_MAX));
        if (!Succeeded(FStream.Read(data, asked, &got)))
            return -1;
        FShortRead = FShortRead || got < asked;
        FReadAtEnd = FReadAtEnd || (asked > 0 && got == 0);
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
    bool FShortRead = false;
    bool FReadAtEnd = false;
};

namespace {

struct TDecodedFormat {
    const char* QtFormat;
    TGuid Format;
    // Qt's reader asks for exactly the bytes the file must hold, so any read
    // that comes back short means the file ended early. The others read ahead
    // in chunks: for them a file ended early when a read found nothing left.
    bool ExactReads;
};

// Chosen by signature, never by Qt's guess: Qt would also take text that
// looks like an X bitmap or a portable pixmap for a picture.
const TDecodedFormat* SniffFormat(const QByteArray& Head)
{
    static const TDecodedFormat Png{"png", ImageFormatPNG, false};
    static const TDecodedFormat Jpeg{"jpeg", ImageFormatJPEG, false};
    static const TDecodedFormat Gif{"gif", ImageFormatGIF, false};
    static const TDecodedFormat Bmp{"bmp", ImageFormatBMP, true};
    static const TDecodedFormat Tiff{"tiff", ImageFormatTIFF, false};
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

// RGB32 leaves the alpha bytes to the writer; ours must hold 255.
void SetOpaque(uint8_t* Bits, int32_t Stride, int32_t Width, int32_t Height)
{
    for (int32_t y = 0; y < Height; ++y) {
        uint8_t* row = Bits + int64_t(y) * Stride;
        int32_t x = 0;
        const __m128i alpha = _mm_set1_epi32(int32_t(0xFF000000u));
        for (; x + 4 <= Width; x += 4) {
            auto* p = reinterpret_cast<__m128i*>(row + int64_t(x) * 4);
            _mm_storeu_si128(p, _mm_or_si128(_mm_loadu_si128(p), alpha));
        }
        for (; x < Width; ++x)
            row[int64_t(x) * 4 + 3] = 0xFF;
    }
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
    if (FImage.format() != QImage::Format_ARGB32 && FImage.format() != QImage::Format_RGB32) {
        const QSize size = FImage.size();
        FImage.convertTo(QImage::Format_ARGB32);
        // Qt leaves a null image when the converted copy cannot be made;
        // taken as it is, that would pass for an empty picture.
        if (FImage.isNull() && !size.isEmpty())
            throw EOutOfMemory("Out of memory converting a " + std::to_string(size.width()) + " x " +
                               std::to_string(size.height()) + " picture");
    }
}

void TBitmap::ReadPixels(uint8_t* Bits, int32_t Stride) const
{
    const size_t rowBytes = size_t(FImage.width()) * 4;
    for (int32_t y = 0; y < FImage.height(); ++y)
        std::memcpy(Bits + int64_t(y) * Stride, FImage.constScanLine(y), rowBytes);
    if (FImage.format() == QImage::Format_RGB32)
        SetOpaque(Bits, Stride, FImage.width(), FImage.height());
}

TImageDecoder::TImageDecoder(IStream& Stream) : FStream(Stream)
{
    SetDecodeLimit();
    if (!Succeeded(FStream.Seek(0, 1, &FStart)))
        return;
    char head[8];
    uint32_t got = 0;
    if (!Succeeded(FStream.Read(head, sizeof(head), &got)))
        got = 0;
    FStream.Seek(int64_t(FStart), 0, nullptr);
    const TDecodedFormat* format = SniffFormat(QByteArray(head, int(got)));
    if (format == nullptr)
        return;
    FDevice = std::make_unique<TStreamDevice>(FStream, QIODevice::ReadOnly);
    FReader = std::make_unique<QImageReader>(FDevice.get(), format->QtFormat);
    FReader->setAutoDetectImageFormat(false);
    // Pixels as stored, not turned by an orientation tag.
    FReader->setAutoTransform(false);
    const QSize size = FReader->size();
    // The picture is decoded into a buffer the caller allocates from this
    // size, so Qt's own allocation limit never sees it.
    if (!size.isValid() || size.isEmpty() ||
        int64_t(size.width()) * size.height() > int64_t(MaxDecodedSide) * MaxDecodedSide) {
        Refuse();
        return;
    }
    FWidth = size.width();
    FHeight = size.height();
    FRawFormat = format->Format;
    FExactReads = format->ExactReads;
}

TImageDecoder::~TImageDecoder() = default;

bool TImageDecoder::Refuse()
{
    FReader.reset();
    FDevice.reset();
    FStream.Seek(int64_t(FStart), 0, nullptr);
    return false;
}

bool TImageDecoder::Read(uint8_t* Bits, int32_t Stride)
{
    if (!FReader)
        return false;
    // Qt's PNG and JPEG readers decode into an image of the right size and
    // format as it stands: over our buffer, the pixels land there directly.
    QImage::Format format = FReader->imageFormat();
    if (format != QImage::Format_RGB32)
        format = QImage::Format_ARGB32;
    // Some readers leave pixels they find no data for (skipped runs, a frame
    // smaller than the picture) as they were: they must not show what the
    // buffer held before.
    for (int32_t y = 0; y < FHeight; ++y)
        std::memset(Bits + int64_t(y) * Stride, 0, size_t(FWidth) * 4);
    QImage image(Bits, FWidth, FHeight, Stride, format);
    // Reading the header may have scanned to the end (GIF counts its frames).
    FDevice->ResetShortReads();
    // BMP, JPEG and GIF readers report success for a file that ends early,
    // filling the rest with grey or leaving it as it was: a damaged file is
    // refused like any other.
    if (!FReader->read(&image) || image.size() != QSize(FWidth, FHeight) ||
        (FExactReads ? FDevice->ShortRead() : FDevice->ReadAtEnd()))
        return Refuse();
    const QColorSpace space = image.colorSpace();
    if (space.isValid() && space != QColorSpace(QColorSpace::SRgb))
        image.convertToColorSpace(QColorSpace::SRgb);
    FOpaque = !image.hasAlphaChannel();
    if (image.constBits() != Bits || image.format() != format)
        TBitmap(std::move(image)).ReadPixels(Bits, Stride);
    else if (FOpaque)
        SetOpaque(Bits, Stride, FWidth, FHeight);
    return true;
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
