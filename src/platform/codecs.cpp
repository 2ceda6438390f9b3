#include "platform/codecs.h"

#include "graphics/errors.h"
#include "platform/imageprobe.h"
#include "platform/imaging.h"
#include "platform/jpegreader.h"

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

    // Length bytes from Offset on are left out: the codec reads the stream
    // as if they were not there.
    void Hide(int64_t Offset, int64_t Length)
    {
        FHiddenAt = Offset;
        FHiddenLength = Length;
    }

    // Whether a read came back with fewer bytes than asked, and whether one
    // found nothing left at all, since the last ResetShortReads.
    bool ShortRead() const { return FShortRead; }
    bool ReadAtEnd() const { return FReadAtEnd; }
    void ResetShortReads() { FShortRead = FReadAtEnd = false; }

    bool seek(qint64 pos) override
    {
        if (!QIODevice::seek(pos))
            return false;
        return Succeeded(FStream.Seek(FBase + StreamOffset(pos), 0, nullptr));
    }

    qint64 size() const override
    {
        TStatStg status{};
        if (!Succeeded(FStream.Stat(&status, 0)))
            return 0;
        return std::max<qint64>(0, qint64(status.cbSize) - FBase - FHiddenLength);
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        // A read that reaches the hidden bytes stops before them; the next
        // one starts after them.
        if (pos() < FHiddenAt)
            maxSize = std::min<qint64>(maxSize, FHiddenAt - pos());
        else if (FHiddenLength > 0 && !Succeeded(FStream.Seek(FBase + StreamOffset(pos()), 0, nullptr)))
            return -1;
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
    int64_t StreamOffset(qint64 Pos) const { return Pos < FHiddenAt ? Pos : Pos + FHiddenLength; }

    IStream& FStream;
    int64_t FBase = 0;
    int64_t FHiddenAt = INT64_MAX;
    int64_t FHiddenLength = 0;
    bool FShortRead = false;
    bool FReadAtEnd = false;
};

namespace {

struct TDecodedFormat {
    const char* QtFormat;
    TGuid Format;
    TImageKind Kind;
    // Qt's reader asks for exactly the bytes the file must hold, so any read
    // that comes back short means the file ended early. The others read ahead
    // in chunks: for them a file ended early when a read found nothing left.
    bool ExactReads;
};

// Chosen by signature, never by Qt's guess: Qt would also take text that
// looks like an X bitmap or a portable pixmap for a picture.
const TDecodedFormat* SniffFormat(const QByteArray& Head)
{
    static const TDecodedFormat Png{"png", ImageFormatPNG, TImageKind::Png, false};
    static const TDecodedFormat Jpeg{"jpeg", ImageFormatJPEG, TImageKind::Jpeg, false};
    static const TDecodedFormat Gif{"gif", ImageFormatGIF, TImageKind::Gif, false};
    static const TDecodedFormat Bmp{"bmp", ImageFormatBMP, TImageKind::Bmp, true};
    static const TDecodedFormat Tiff{"tiff", ImageFormatTIFF, TImageKind::Tiff, false};
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

// Pictures are converted to straight ARGB this many pixels at a time, so a
// picture in another format never has a second full-size copy.
constexpr int64_t ConvertBandPixels = 1 << 16;

// Image's pixels as straight ARGB into Bits, Stride bytes a row, alpha 255
// when Image has no alpha channel. Image may lie at the start of Bits with
// its own, never wider, rows: the bands run from the bottom up, and each is
// copied out before its rows are written, below rows still to be read.
void ConvertRows(const QImage& Image, uint8_t* Bits, int32_t Stride)
{
    const int32_t width = Image.width();
    const int32_t height = Image.height();
    if (width <= 0 || height <= 0)
        return;
    const bool opaque = !Image.hasAlphaChannel();
    const QImage::Format target = opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32;
    const size_t rowBytes = size_t(width) * 4;
    if (Image.format() == target) {
        if (Image.constBits() != Bits || Image.bytesPerLine() != Stride)
            for (int32_t y = height - 1; y >= 0; --y)
                std::memmove(Bits + int64_t(y) * Stride, Image.constScanLine(y), rowBytes);
    } else {
        const auto bandRows = int32_t(std::clamp<int64_t>(ConvertBandPixels / width, 1, height));
        for (int32_t bottom = height; bottom > 0; bottom -= bandRows) {
            const int32_t top = std::max(0, bottom - bandRows);
            const QImage band = Image.copy(0, top, width, bottom - top).convertToFormat(target);
            // Qt leaves a null image when the converted band cannot be made;
            // taken as it is, that would leave rows unfilled.
            if (band.isNull())
                throw EOutOfMemory("Out of memory converting a " + std::to_string(width) + " x " +
                                   std::to_string(height) + " picture");
            for (int32_t y = top; y < bottom; ++y)
                std::memcpy(Bits + int64_t(y) * Stride, band.constScanLine(y - top), rowBytes);
        }
    }
    if (opaque)
        SetOpaque(Bits, Stride, width, height);
}

// BMP rows run bottom-up unless the height is negative. Qt's reader reads
// either, but reports the negative height as the size. Only an info header
// has a sign, and only uncompressed rows may run top-down: the format keeps
// compressed ones bottom-up, so a top-down RLE file is damaged. An invalid
// size for what is refused.
QSize BmpSize(const QByteArray& Head, const QSize& Reported)
{
    if (Reported.height() >= 0)
        return Reported;
    const auto field = [&Head](int At) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | uint8_t(Head[At + i]);
        return v;
    };
    constexpr int HeaderSizeAt = 14, CompressionAt = 30;
    constexpr uint32_t InfoHeaderSize = 40, Uncompressed = 0, BitFields = 3;
    if (Reported.width() < 0 || Reported.height() == INT_MIN || Head.size() < CompressionAt + 4 ||
        field(HeaderSizeAt) < InfoHeaderSize)
        return {};
    const uint32_t compression = field(CompressionAt);
    if (compression != Uncompressed && compression != BitFields)
        return {};
    return {Reported.width(), -Reported.height()};
}

// Qt's PNG reader gives 16-bit RGB with a transparent colour as RGBA64 but
// asks libpng for no alpha, so three samples fill each four-sample pixel:
// the decoder hides the colour key from it, takes the opaque RGBX64 it then
// gives, and makes the pixels of the key's exact colour transparent.
void ApplyColourKey(QImage& Image, const std::array<uint16_t, 3>& Key)
{
    if (Image.format() != QImage::Format_RGBX64)
        return;
    for (int y = 0; y < Image.height(); ++y) {
        auto* row = reinterpret_cast<QRgba64*>(Image.scanLine(y));
        for (int x = 0; x < Image.width(); ++x)
            if (row[x].red() == Key[0] && row[x].green() == Key[1] && row[x].blue() == Key[2])
                row[x].setAlpha(0);
    }
    Image.reinterpretAsFormat(QImage::Format_RGBA64);
}

// The picture is decoded into a buffer the caller allocates from its size,
// so Qt's own allocation limit never sees it.
bool SizeAllowed(const QSize& Size)
{
    return Size.isValid() && !Size.isEmpty() && Size.width() <= MaxDecodedExtent &&
           Size.height() <= MaxDecodedExtent &&
           int64_t(Size.width()) * Size.height() <= int64_t(MaxDecodedSide) * MaxDecodedSide;
}

// Pixels in Bits, as Space gives them, matched to sRGB where they lie.
void MatchColoursInBuffer(const QColorSpace& Space, uint8_t* Bits, int32_t Width, int32_t Height, int32_t Stride,
                          bool Opaque)
{
    if (!Space.isValid() || Space == QColorSpace(QColorSpace::SRgb))
        return;
    QImage converted(Bits, Width, Height, Stride, Opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32);
    converted.setColorSpace(Space);
    converted.convertToColorSpace(QColorSpace(QColorSpace::SRgb));
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

TBitmap::TBitmap(QImage Image, const TGuid& RawFormat) : FImage(std::move(Image)), FRawFormat(RawFormat) {}

void TBitmap::ReadPixels(uint8_t* Bits, int32_t Stride) const { ConvertRows(FImage, Bits, Stride); }

TImageDecoder::TImageDecoder(IStream& Stream) : FStream(Stream)
{
    SetDecodeLimit();
    if (!Succeeded(FStream.Seek(0, 1, &FStart)))
        return;
    // Enough for a BMP's file header and the start of its info header.
    char head[34];
    uint32_t got = 0;
    if (!Succeeded(FStream.Read(head, sizeof(head), &got)))
        got = 0;
    FStream.Seek(int64_t(FStart), 0, nullptr);
    const QByteArray start(head, int(got));
    const TDecodedFormat* format = SniffFormat(start);
    if (format == nullptr)
        return;
    // Before any reader sees the file: readers allocate what its header
    // claims while they read it.
    const TImageProbe probe = ProbeImage(FStream, format->Kind);
    FStream.Seek(int64_t(FStart), 0, nullptr);
    if (!probe.Plausible)
        return;
    if (format->Kind == TImageKind::Jpeg) {
        FJpeg = std::make_unique<TJpegReader>(FStream);
        if (!SizeAllowed(QSize(FJpeg->Width(), FJpeg->Height()))) {
            Refuse();
            return;
        }
        FWidth = FJpeg->Width();
        FHeight = FJpeg->Height();
        FRawFormat = format->Format;
        return;
    }
    FDevice = std::make_unique<TStreamDevice>(FStream, QIODevice::ReadOnly);
    if (probe.ColourKey) {
        FDevice->Hide(probe.KeyChunkOffset, probe.KeyChunkLength);
        FColourKey = probe.ColourKey;
    }
    FReader = std::make_unique<QImageReader>(FDevice.get(), format->QtFormat);
    FReader->setAutoDetectImageFormat(false);
    // Pixels as stored, not turned by an orientation tag.
    FReader->setAutoTransform(false);
    const QSize size = format->Format == ImageFormatBMP ? BmpSize(start, FReader->size()) : FReader->size();
    if (!SizeAllowed(size)) {
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
    FJpeg.reset();
    FReader.reset();
    FDevice.reset();
    FStream.Seek(int64_t(FStart), 0, nullptr);
    return false;
}

bool TImageDecoder::Read(uint8_t* Bits, int32_t Stride)
{
    if (FJpeg) {
        if (!FJpeg->Read(Bits, Stride))
            return Refuse();
        FOpaque = true;
        MatchColoursInBuffer(FJpeg->ColourSpace(), Bits, FWidth, FHeight, Stride, FOpaque);
        return true;
    }
    if (!FReader)
        return false;
    // A reader fills an image of its own format and size as it stands, and
    // leaves pixels it finds no data for (the runs a compressed BMP skips, a
    // frame smaller than the picture) as they were: it is handed a cleared
    // one. Rows no wider than ours lie at the start of the buffer and are
    // converted there; deeper pixels get an image of their own.
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
    // Reading the header may have scanned to the end (GIF counts its frames).
    FDevice->ResetShortReads();
    // BMP and GIF readers report success for a file that ends early, leaving
    // the rest as it was: a damaged file is refused like any other.
    if (!FReader->read(&image) || image.size() != QSize(FWidth, FHeight) ||
        (FExactReads ? FDevice->ShortRead() : FDevice->ReadAtEnd()))
        return Refuse();
    if (FColourKey)
        ApplyColourKey(image, *FColourKey);
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
