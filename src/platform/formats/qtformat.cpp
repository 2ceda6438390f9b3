#include "platform/formats/qtformat.h"

#include "graphics/errors.h"
#include "platform/formats/pixels.h"
#include "platform/streamdevice.h"

#include <QColorSpace>
#include <QImageReader>

#include <cstring>
#include <string>

namespace Corvanith::Platform {

namespace {

void SetDecodeLimit()
{
    // Qt's limit is in MiB of decoded pixels; room for MaxDecodedSide squared
    // at 4 bytes a pixel, which also keeps every surface below 2 GiB. The
    // picture is decoded into a buffer the caller allocates from its size,
    // so Qt's own limit never sees it.
    static const bool done = [] {
        constexpr int64_t bytes = int64_t(MaxDecodedSide) * MaxDecodedSide * 4;
        QImageReader::setAllocationLimit(int((bytes + (1 << 20) - 1) >> 20));
        return true;
    }();
    (void)done;
}

} // namespace

TQtFormatReader::TQtFormatReader(IStream& Stream) : FStream(Stream)
{
    SetDecodeLimit();
    FStream.Seek(0, 1, &FStart);
}

TQtFormatReader::~TQtFormatReader() = default;

QSize TQtFormatReader::Open(const TOptions& Options)
{
    FStream.Seek(int64_t(FStart), 0, nullptr);
    FDevice = std::make_unique<TStreamDevice>(FStream, QIODevice::ReadOnly, Options.ReadAhead);
    for (const TByteRange& range : Options.Hidden)
        FDevice->Hide(range.Offset, range.Length);
    FExactReads = Options.ExactReads;
    FMayEndEarly = Options.MayEndEarly;
    FReader = std::make_unique<QImageReader>(FDevice.get(), Options.Format);
    FReader->setAutoDetectImageFormat(false);
    FReader->setAutoTransform(false);
    return FReader->size();
}

void TQtFormatReader::Accept(QSize Size)
{
    if (!DecodedSizeAllowed(Size.width(), Size.height())) {
        FReader.reset();
        FDevice.reset();
        return;
    }
    FWidth = Size.width();
    FHeight = Size.height();
}

bool TQtFormatReader::Read(uint8_t* Bits, int32_t Stride)
{
    if (!FReader)
        return false;
    // A reader fills an image of its own format and size as it stands, and
    // leaves pixels it finds no data for (the runs a compressed BMP skips)
    // as they were: it is handed a cleared one. Rows no wider than ours lie
    // at the start of the buffer and are converted there; deeper pixels get
    // an image of their own.
    QImage::Format format = FReader->imageFormat();
    if (format == QImage::Format_Invalid)
        format = QImage::Format_ARGB32;
    std::memset(Bits, 0, size_t(int64_t(Stride) * (FHeight - 1) + int64_t(FWidth) * 4));
    QImage image;
    if (QImage::toPixelFormat(format).bitsPerPixel() <= 32) {
        image = QImage(Bits, FWidth, FHeight, format);
    } else {
        image = QImage(FWidth, FHeight, format);
        if (image.isNull())
            throw EOutOfMemory("Out of memory decoding a " + std::to_string(FWidth) + " x " +
                               std::to_string(FHeight) + " picture");
        image.fill(0);
    }
    // Reading the header may have read ahead to the end.
    FDevice->ResetShortReads();
    // The BMP reader reports success for a file that ends early, leaving the
    // rest as it was: a damaged file is refused like any other.
    const bool read = FReader->read(&image);
    const bool endedEarly = FExactReads ? FDevice->ShortRead() : FDevice->ReadAtEnd();
    if (!read || image.size() != QSize(FWidth, FHeight) || (endedEarly && !FMayEndEarly)) {
        FFailure = read ? "The file ends before its picture does" : FReader->errorString().toStdString();
        return false;
    }
    Mend(image);
    FOpaque = !image.hasAlphaChannel();
    // Colours are matched where the pixels are held most exactly: in an
    // image of the reader's own, before its conversion; in ours, after it.
    const QColorSpace space = image.colorSpace();
    const bool matchColours = space.isValid() && space != QColorSpace(QColorSpace::SRgb);
    const bool inBuffer = image.constBits() == Bits;
    if (matchColours && !inBuffer)
        image.convertToColorSpace(QColorSpace(QColorSpace::SRgb));
    ConvertRows(image, Bits, Stride);
    if (inBuffer)
        MatchColoursInBuffer(space, Bits, FWidth, FHeight, Stride, FOpaque);
    return true;
}

} // namespace Corvanith::Platform
