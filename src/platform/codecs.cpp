#include "platform/codecs.h"

#include "platform/formats/bmp.h"
#include "platform/formats/gif.h"
#include "platform/formats/jpeg.h"
#include "platform/formats/pixels.h"
#include "platform/formats/png.h"
#include "platform/formats/tiff.h"
#include "platform/imaging.h"
#include "platform/streamdevice.h"

#include <QImageWriter>

#include <algorithm>

namespace Corvanith::Platform {

namespace {

struct TDecodedFormat {
    TGuid Format;
    bool (*Matches)(TSignature Head);
    std::unique_ptr<TFormatReader> (*Open)(IStream& Stream);
};

template <class TReader> std::unique_ptr<TFormatReader> Open(IStream& Stream)
{
    return std::make_unique<TReader>(Stream);
}

// Chosen by signature, never by Qt's guess: Qt would also take text that
// looks like an X bitmap or a portable pixmap for a picture.
const TDecodedFormat* SniffFormat(TSignature Head)
{
    static const TDecodedFormat Formats[] = {
        {ImageFormatPNG, TPngReader::Matches, Open<TPngReader>},
        {ImageFormatJPEG, TJpegReader::Matches, Open<TJpegReader>},
        {ImageFormatGIF, TGifReader::Matches, Open<TGifReader>},
        {ImageFormatBMP, TBmpReader::Matches, Open<TBmpReader>},
        {ImageFormatTIFF, TTiffReader::Matches, Open<TTiffReader>},
    };
    for (const TDecodedFormat& format : Formats)
        if (format.Matches(Head))
            return &format;
    return nullptr;
}

} // namespace

TBitmap::TBitmap(QImage Image, const TGuid& RawFormat) : FImage(std::move(Image)), FRawFormat(RawFormat) {}

void TBitmap::ReadPixels(uint8_t* Bits, int32_t Stride) const { ConvertRows(FImage, Bits, Stride); }

TImageDecoder::TImageDecoder(IStream& Stream) : FStream(Stream)
{
    if (!Succeeded(FStream.Seek(0, 1, &FStart)))
        return;
    uint8_t head[SignatureBytes];
    uint32_t got = 0;
    if (!Succeeded(FStream.Read(head, sizeof(head), &got)))
        got = 0;
    FStream.Seek(int64_t(FStart), 0, nullptr);
    const TDecodedFormat* format = SniffFormat(TSignature(head, std::min<size_t>(got, sizeof(head))));
    if (format == nullptr)
        return;
    FReader = format->Open(FStream);
    if (!DecodedSizeAllowed(FReader->Width(), FReader->Height())) {
        Refuse();
        return;
    }
    FWidth = FReader->Width();
    FHeight = FReader->Height();
    FRawFormat = format->Format;
}

TImageDecoder::~TImageDecoder() = default;

bool TImageDecoder::Refuse()
{
    FStream.Seek(int64_t(FStart), 0, nullptr);
    return false;
}

bool TImageDecoder::Read(uint8_t* Bits, int32_t Stride)
{
    if (!Valid() || !FReader->Read(Bits, Stride))
        return Refuse();
    FOpaque = FReader->Opaque();
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
