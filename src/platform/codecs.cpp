#include "platform/codecs.h"

#include "graphics/errors.h"
#include "platform/gifreader.h"
#include "platform/imageprobe.h"
#include "platform/imaging.h"
#include "platform/jpegreader.h"
#include "platform/tiffreader.h"

#include <QColorSpace>
#include <QIODevice>
#include <QImageReader>
#include <QImageWriter>

#include <emmintrin.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

namespace Corvanith::Platform {

// Qt's codecs read and write a QIODevice; this one passes everything on to
// the stream interface. Offsets count from the stream position at opening, so
// a picture in the middle of a larger stream reads as if it stood alone.
// Unbuffered unless told to read ahead: every read of a codec reaches the
// stream at once, and progress follows the codec's real reads. Reading ahead,
// a codec's small reads are served from a buffer filled ReadAhead bytes at a
// time. The stream is only moved when a read would not start where the last
// one ended.
class TStreamDevice : public QIODevice {
public:
    TStreamDevice(IStream& Stream, OpenMode Mode, size_t ReadAhead = 0) : FStream(Stream), FAhead(ReadAhead)
    {
        uint64_t position = 0;
        if (Succeeded(FStream.Seek(0, 1, &position)))
            FBase = int64_t(position);
        else
            FStreamAt = -1;
        open(Mode | QIODevice::Unbuffered);
    }

    bool isSequential() const override { return false; }

    // Length bytes from Offset on (in the stream, from the opening position)
    // are left out: the codec reads the stream as if they were not there.
    // Ranges are hidden in the order they lie in and never overlap.
    void Hide(int64_t Offset, int64_t Length)
    {
        const int64_t before = HiddenBytes();
        FHidden.push_back({Offset - before, before + Length});
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
        return MoveStream(StreamOffset(pos));
    }

    qint64 size() const override
    {
        TStatStg status{};
        if (!Succeeded(FStream.Stat(&status, 0)))
            return 0;
        return std::max<qint64>(0, qint64(status.cbSize) - FBase - HiddenBytes());
    }

protected:
    // After a short read, Qt's PNG reader reads the rest over the bytes it
    // got: a read comes back whole unless the stream ends.
    qint64 readData(char* data, qint64 maxSize) override
    {
        qint64 done = 0;
        while (done < maxSize) {
            const qint64 at = pos() + done;
            if (at >= FAheadAt && at < FAheadAt + FAheadFilled) {
                const qint64 count = std::min(maxSize - done, FAheadAt + FAheadFilled - at);
                std::memcpy(data + done, FAhead.data() + (at - FAheadAt), size_t(count));
                done += count;
                continue;
            }
            const bool straight = maxSize - done >= qint64(FAhead.size());
            FAheadFilled = 0;
            const qint64 got = straight ? ReadStream(at, data + done, maxSize - done)
                                        : ReadStream(at, FAhead.data(), qint64(FAhead.size()));
            if (got < 0)
                return -1;
            if (got == 0)
                break;
            if (straight) {
                done += got;
            } else {
                FAheadAt = at;
                FAheadFilled = got;
            }
        }
        FShortRead = FShortRead || done < maxSize;
        FReadAtEnd = FReadAtEnd || (maxSize > 0 && done == 0);
        return done;
    }

    qint64 writeData(const char* data, qint64 maxSize) override
    {
        uint32_t written = 0;
        if (!Succeeded(FStream.Write(data, uint32_t(std::min<qint64>(maxSize, INT32_MAX)), &written))) {
            FStreamAt = -1;
            return -1;
        }
        FStreamAt += written;
        return written;
    }

private:
    struct THidden {
        // Where the range lies as the codec sees the stream.
        int64_t At;
        // The bytes hidden up to its end, its own included.
        int64_t Through;
    };

    int64_t HiddenBytes() const { return FHidden.empty() ? 0 : FHidden.back().Through; }

    // The first range that lies after Pos.
    std::vector<THidden>::const_iterator NextHidden(qint64 Pos) const
    {
        return std::upper_bound(FHidden.begin(), FHidden.end(), Pos,
                                [](qint64 P, const THidden& Range) { return P < Range.At; });
    }

    int64_t StreamOffset(qint64 Pos) const
    {
        const auto next = NextHidden(Pos);
        return next == FHidden.begin() ? Pos : Pos + std::prev(next)->Through;
    }

    // One read of the stream at At as the codec sees it; it stops before
    // hidden bytes, and the next one starts after them.
    qint64 ReadStream(qint64 At, char* Data, qint64 MaxSize)
    {
        const auto next = NextHidden(At);
        if (next != FHidden.end())
            MaxSize = std::min<qint64>(MaxSize, next->At - At);
        if (!MoveStream(StreamOffset(At)))
            return -1;
        uint32_t got = 0;
        const auto asked = uint32_t(std::min<qint64>(MaxSize, INT32_MAX));
        if (!Succeeded(FStream.Read(Data, asked, &got))) {
            FStreamAt = -1;
            return -1;
        }
        got = std::min(got, asked);
        FStreamAt += got;
        return got;
    }

    bool MoveStream(int64_t Offset)
    {
        if (Offset == FStreamAt)
            return true;
        FStreamAt = Succeeded(FStream.Seek(FBase + Offset, 0, nullptr)) ? Offset : -1;
        return FStreamAt >= 0;
    }

    IStream& FStream;
    int64_t FBase = 0;
    // Where the stream stands, from the opening position; -1 when unknown.
    int64_t FStreamAt = 0;
    std::vector<THidden> FHidden;
    // Bytes read ahead, from FAheadAt as the codec sees the stream.
    std::vector<char> FAhead;
    qint64 FAheadAt = 0;
    qint64 FAheadFilled = 0;
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
    // Classic TIFF and BigTIFF, either byte order.
    for (const char* tiff : {"II*\0", "MM\0*", "II+\0", "MM\0+"})
        if (Head.startsWith(QByteArray(tiff, 4)))
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
// either, but reports the negative height as the size; which files may run
// top-down the probe has judged.
QSize BmpSize(const QSize& Reported)
{
    if (Reported.height() >= 0 || Reported.height() == INT_MIN)
        return Reported;
    return {Reported.width(), -Reported.height()};
}

// Qt's BMP reader widens a field of n < 8 bits by a shift alone, so that its
// largest value comes out as 256 - 2^(8 - n): 5-bit white is 248, a set 1-bit
// alpha 128. Each such field is stretched to the full range, v * 255 / max,
// through a table from the reader's value; wider fields stay as it gave them,
// and so does an alpha mask where it made no alpha channel.
void StretchBmpFields(QImage& Image, const std::array<uint32_t, 4>& Masks)
{
    if (Image.format() != QImage::Format_RGB32 && Image.format() != QImage::Format_ARGB32)
        return;
    // Red, green, blue and alpha are bytes 2, 1, 0 and 3 of a pixel.
    constexpr int Byte[4] = {2, 1, 0, 3};
    std::array<std::array<uint8_t, 256>, 4> tables{};
    bool stretched = false;
    for (size_t c = 0; c < 4; ++c) {
        const uint32_t max = Masks[c] == 0 ? 0 : Masks[c] >> std::countr_zero(Masks[c]);
        const int width = std::popcount(max);
        const bool narrow =
            max != 0 && (max & (max + 1)) == 0 && width < 8 && (c < 3 || Image.hasAlphaChannel());
        for (uint32_t q = 0; q < 256; ++q)
            tables[c][q] = uint8_t(narrow ? ((q >> (8 - width)) * 255 + max / 2) / max : q);
        stretched = stretched || narrow;
    }
    if (!stretched)
        return;
    for (int y = 0; y < Image.height(); ++y) {
        uint8_t* p = Image.scanLine(y);
        for (uint8_t* end = p + int64_t(Image.width()) * 4; p < end; p += 4)
            for (size_t c = 0; c < 4; ++c)
                p[Byte[c]] = tables[c][p[Byte[c]]];
    }
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

// The picture is decoded into a buffer the caller allocates from its size,
// so Qt's own allocation limit never sees it.
bool DecodedSizeAllowed(int64_t Width, int64_t Height)
{
    return Width > 0 && Height > 0 && Width <= MaxDecodedExtent && Height <= MaxDecodedExtent &&
           Width * Height <= int64_t(MaxDecodedSide) * MaxDecodedSide;
}

TBitmap::TBitmap(QImage Image, const TGuid& RawFormat) : FImage(std::move(Image)), FRawFormat(RawFormat) {}

void TBitmap::ReadPixels(uint8_t* Bits, int32_t Stride) const { ConvertRows(FImage, Bits, Stride); }

TImageDecoder::TImageDecoder(IStream& Stream) : FStream(Stream)
{
    SetDecodeLimit();
    if (!Succeeded(FStream.Seek(0, 1, &FStart)))
        return;
    // Enough for every signature.
    char head[8];
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
    QSize size;
    if (format->Kind == TImageKind::Jpeg) {
        FJpeg = std::make_unique<TJpegReader>(FStream);
        size = QSize(FJpeg->Width(), FJpeg->Height());
    } else if (format->Kind == TImageKind::Gif) {
        FGif = std::make_unique<TGifReader>(FStream);
        size = QSize(FGif->Width(), FGif->Height());
    } else {
        // libpng reads each chunk's head, data and checksum apart: a file of
        // tiny chunks would reach the stream a few bytes at a time.
        constexpr size_t PngReadAhead = 1 << 16;
        FDevice = std::make_unique<TStreamDevice>(FStream, QIODevice::ReadOnly,
                                                  format->Kind == TImageKind::Png ? PngReadAhead : 0);
        for (const TImageProbe::TByteRange& chunk : probe.KeyChunks)
            FDevice->Hide(chunk.Offset, chunk.Length);
        FColourKey = probe.ColourKey;
        FReader = std::make_unique<QImageReader>(FDevice.get(), format->QtFormat);
        FReader->setAutoDetectImageFormat(false);
        // Pixels as stored, not turned by an orientation tag.
        FReader->setAutoTransform(false);
        size = format->Format == ImageFormatBMP ? BmpSize(FReader->size()) : FReader->size();
    }
    FBmpMasks = probe.BmpMasks;
    FTiffGreyAlpha = probe.TiffGreyAlpha;
    if (!DecodedSizeAllowed(size.width(), size.height())) {
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
    FGif.reset();
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
    if (FGif) {
        if (!FGif->Read(Bits, Stride))
            return Refuse();
        FOpaque = FGif->Opaque();
        return true;
    }
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
    const bool read = FTiffGreyAlpha ? ReadGreyAlphaTiff(*FDevice, image) : FReader->read(&image);
    if (!read || image.size() != QSize(FWidth, FHeight) ||
        (FExactReads ? FDevice->ShortRead() : FDevice->ReadAtEnd()))
        return Refuse();
    if (FColourKey)
        ApplyColourKey(image, *FColourKey);
    if (FBmpMasks)
        StretchBmpFields(image, *FBmpMasks);
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
