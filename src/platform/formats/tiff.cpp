#include "platform/formats/tiff.h"

#include "graphics/errors.h"
#include "platform/formats/pixels.h"
#include "platform/orientation.h"

#include <QByteArray>
#include <QColorSpace>

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <new>
#include <string>
#include <vector>

namespace Corvanith::Platform {

namespace {

// libtiff reads the stream this many bytes at a time, so that progress
// follows a long strip as it is read.
constexpr int64_t ChunkBytes = 1 << 16;
// Nothing libtiff allocates at once may exceed the largest surface.
constexpr tmsize_t MostLibtiffAllocates = tmsize_t(MaxDecodedSide) * MaxDecodedSide * 4;
// Rows that cannot be written in place (a turned picture's) are made this
// many pixels at a time and then put in their places.
constexpr int64_t BlockPixels = 1 << 20;
// The most a row of strips or tiles may take whatever the picture's size:
// tiles are often larger than a small picture.
constexpr uint64_t MostBandBytes = uint64_t(64) << 20;
// What the data of all strips or tiles counts at most in the least-cost
// rule: far beyond any file, and no product with an expansion overflows.
constexpr uint64_t MostDataCounted = uint64_t(1) << 50;

// The most a byte of the scheme's data can decompress to; 0 for no bound
// (fax codes, LZMA, Zstandard and others).
uint64_t MaxExpansion(uint16_t Compression)
{
    switch (Compression) {
    case COMPRESSION_NONE: return 1;
    case COMPRESSION_LZW: return 4096; // at most 4096 bytes for a code of at least 9 bits
    case COMPRESSION_JPEG: return 2048; // at least one bit for each 8 x 8 block
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return 1032; // 258 bytes for a code of 2 bits
    case COMPRESSION_PACKBITS: return 64; // at most 128 bytes for 2
    default: return 0;
    }
}

std::string Printed(const char* Format, va_list Arguments)
{
    char text[1024];
    std::vsnprintf(text, sizeof(text), Format, Arguments);
    return text;
}

// A block of decoded samples: the first sample of its top-left pixel in each
// plane read, the bytes from one row to the next, where it lies in the
// picture, and the width of the strip or tile whose left edge it starts at.
struct TBlock {
    std::array<uint8_t*, 4> Planes{};
    int64_t RowBytes = 0;
    uint32_t Left = 0;
    uint32_t Top = 0;
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint32_t PieceWidth = 0;
};

// Turns blocks of samples into straight ARGB pixels.
class TPixelMaker {
public:
    virtual ~TPixelMaker() = default;

    // The planes a block takes its samples from, from the first on: 1 when
    // a pixel's samples lie side by side.
    virtual int Planes() const = 0;
    // Block's pixels into To, ToStep pixels from one row to the next.
    virtual void Make(const TBlock& Block, uint32_t* To, int64_t ToStep) = 0;
    // Every pixel made so far is opaque.
    bool Opaque() const { return FOpaque; }

protected:
    bool FOpaque = true;
};

enum class TAlpha : uint8_t { None, Straight, Associated };

template <typename T> uint32_t Eight(uint32_t Value)
{
    if constexpr (sizeof(T) == 1)
        return Value;
    else
        return (Value * 255 + 32767) / 65535;
}

// Grey or RGB samples of 8 or 16 bits, with an alpha sample or without,
// read as stored: straight alpha is kept as it is, associated alpha is
// divided out, 16 bits are rounded to 8, and grey stored from white is
// turned.
class TStoredSamples final : public TPixelMaker {
public:
    TStoredSamples(int Bits, int Channels, TAlpha Alpha, bool FromWhite, bool SideBySide, int SamplesPerPixel)
        : FWide(Bits == 16), FChannels(Channels), FAlpha(Alpha), FFromWhite(FromWhite), FSideBySide(SideBySide),
          FSamplesPerPixel(SamplesPerPixel)
    {
    }

    int Planes() const override { return FSideBySide ? 1 : FChannels + (FAlpha != TAlpha::None ? 1 : 0); }

    void Make(const TBlock& Block, uint32_t* To, int64_t ToStep) override
    {
        if (FWide)
            MakeRows<uint16_t>(Block, To, ToStep);
        else
            MakeRows<uint8_t>(Block, To, ToStep);
    }

private:
    template <typename T> void MakeRows(const TBlock& Block, uint32_t* To, int64_t ToStep)
    {
        constexpr uint32_t Max = std::numeric_limits<T>::max();
        const size_t step = FSideBySide ? size_t(FSamplesPerPixel) : 1;
        uint32_t opaque = 0xFF;
        for (uint32_t y = 0; y < Block.Height; ++y) {
            // Sample k of pixel x lies at At[k][x * step].
            std::array<const T*, 4> at{};
            for (size_t k = 0; k < at.size(); ++k) {
                const uint8_t* row = Block.Planes[FSideBySide ? 0 : k];
                if (row != nullptr)
                    at[k] = reinterpret_cast<const T*>(row + int64_t(y) * Block.RowBytes) + (FSideBySide ? k : 0);
            }
            uint32_t* to = To + int64_t(y) * ToStep;
            for (uint32_t x = 0; x < Block.Width; ++x) {
                const size_t i = x * step;
                const uint32_t alpha = FAlpha == TAlpha::None ? Max : at[size_t(FChannels)][i];
                std::array<uint32_t, 3> colour{};
                for (int c = 0; c < FChannels; ++c) {
                    uint32_t v = at[size_t(c)][i];
                    if (FFromWhite)
                        v = Max - v;
                    if (FAlpha == TAlpha::Associated)
                        v = alpha == 0 ? 0
                                       : uint32_t(std::min<uint64_t>(Max, (uint64_t(v) * Max + alpha / 2) / alpha));
                    colour[size_t(c)] = Eight<T>(v);
                }
                if (FChannels == 1)
                    colour[1] = colour[2] = colour[0];
                const uint32_t a = Eight<T>(alpha);
                opaque &= a;
                to[x] = a << 24 | colour[0] << 16 | colour[1] << 8 | colour[2];
            }
        }
        FOpaque = FOpaque && opaque == 0xFF;
    }

    bool FWide;
    int FChannels;
    TAlpha FAlpha;
    bool FFromWhite;
    bool FSideBySide;
    int FSamplesPerPixel;
};

// Everything else libtiff's RGBA interface turns into pixels: palettes, 1, 2
// and 4 bits, YCbCr (JPEG's too), CMYK, CIE L*a*b* and the rest. Its put
// routines are handed the samples this reader decoded, laid out as its own
// readers lay them; what they premultiply is divided out again.
class TRgbaSamples final : public TPixelMaker {
public:
    // Null, with libtiff's reason in Reason, when the RGBA interface does
    // not take the picture.
    static std::unique_ptr<TRgbaSamples> Begin(TIFF* Tiff, std::string& Reason)
    {
        auto samples = std::unique_ptr<TRgbaSamples>(new TRgbaSamples);
        char message[1024] = "";
        if (!TIFFRGBAImageOK(Tiff, message) || !TIFFRGBAImageBegin(&samples->FImage, Tiff, 1, message)) {
            Reason = message;
            return nullptr;
        }
        samples->FBegun = true;
        return samples;
    }

    ~TRgbaSamples() override
    {
        if (FBegun)
            TIFFRGBAImageEnd(&FImage);
    }
    TRgbaSamples(const TRgbaSamples&) = delete;
    TRgbaSamples& operator=(const TRgbaSamples&) = delete;

    // Separate planes as libtiff reads them: one of grey or palette indices,
    // or three of colour, and then one of alpha (or of black, for CMYK).
    int Planes() const override { return FImage.isContig ? 1 : (Grey() ? 1 : 3) + (FImage.alpha != 0 ? 1 : 0); }

    void Make(const TBlock& Block, uint32_t* To, int64_t ToStep) override
    {
        const auto fromSkew = int32_t(Block.PieceWidth - Block.Width);
        const auto toSkew = int32_t(ToStep - int64_t(Block.Width));
        if (FImage.isContig) {
            FImage.put.contig(&FImage, To, Block.Left, Block.Top, Block.Width, Block.Height, fromSkew, toSkew,
                              Block.Planes[0]);
        } else {
            uint8_t* first = Block.Planes[0];
            uint8_t* alpha = FImage.alpha != 0 ? Block.Planes[Grey() ? 1 : 3] : nullptr;
            FImage.put.separate(&FImage, To, Block.Left, Block.Top, Block.Width, Block.Height, fromSkew, toSkew,
                                first, Grey() ? first : Block.Planes[1], Grey() ? first : Block.Planes[2], alpha);
        }
        // libtiff packs red in the low byte, and alpha premultiplied.
        uint32_t opaque = 0xFF;
        for (uint32_t y = 0; y < Block.Height; ++y) {
            uint32_t* row = To + int64_t(y) * ToStep;
            for (uint32_t x = 0; x < Block.Width; ++x) {
                const uint32_t packed = row[x];
                const uint32_t a = packed >> 24;
                std::array<uint32_t, 3> colour = {packed & 0xFF, packed >> 8 & 0xFF, packed >> 16 & 0xFF};
                if (a < 255)
                    for (uint32_t& c : colour)
                        c = a == 0 ? 0 : std::min<uint32_t>(255, (c * 255 + a / 2) / a);
                opaque &= a;
                row[x] = a << 24 | colour[0] << 16 | colour[1] << 8 | colour[2];
            }
        }
        FOpaque = FOpaque && opaque == 0xFF;
    }

private:
    TRgbaSamples() = default;

    bool Grey() const
    {
        return FImage.photometric == PHOTOMETRIC_MINISWHITE || FImage.photometric == PHOTOMETRIC_MINISBLACK ||
               FImage.photometric == PHOTOMETRIC_PALETTE;
    }

    TIFFRGBAImage FImage{};
    bool FBegun = false;
};

} // namespace

// libtiff's handle on the picture in the stream: libtiff reads it through
// the procedures below, at offsets from the picture's start. Its first error
// since ForgetErrors is kept; nothing it reports reaches the terminal.
class TTiffReader::TFile {
public:
    explicit TFile(IStream& Stream) : FStream(Stream)
    {
        TStatStg status{};
        if (!Succeeded(FStream.Seek(0, 1, &FBase)) || !Succeeded(FStream.Stat(&status, 0)) ||
            FBase > uint64_t(std::numeric_limits<int64_t>::max())) {
            FFirstError = "The stream cannot be read";
            return;
        }
        FSize = status.cbSize > FBase ? int64_t(status.cbSize - FBase) : 0;
        const std::unique_ptr<TIFFOpenOptions, decltype(&TIFFOpenOptionsFree)> options(TIFFOpenOptionsAlloc(),
                                                                                       TIFFOpenOptionsFree);
        if (!options)
            throw EOutOfMemory("Out of memory opening a TIFF picture");
        TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), MostLibtiffAllocates);
        TIFFOpenOptionsSetErrorHandlerExtR(options.get(), KeepError, this);
        TIFFOpenOptionsSetWarningHandlerExtR(options.get(), IgnoreWarning, nullptr);
        FTiff = TIFFClientOpenExt("picture", "rm", this, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc,
                                  UnmapProc, options.get());
    }
    ~TFile()
    {
        if (FTiff != nullptr)
            TIFFClose(FTiff);
    }
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;

    // Null when libtiff did not take the file.
    TIFF* Handle() const { return FTiff; }
    // Bytes from the picture's start to the end of the stream.
    int64_t Size() const { return FSize; }
    const std::string& FirstError() const { return FFirstError; }
    // libtiff's first error, or Otherwise where it gave none.
    std::string FirstErrorOr(std::string Otherwise) const
    {
        return FFirstError.empty() ? std::move(Otherwise) : FFirstError;
    }
    void ForgetErrors() { FFirstError.clear(); }

private:
    static TFile& Self(thandle_t Handle) { return *static_cast<TFile*>(Handle); }

    static int KeepError(TIFF*, void* User, const char*, const char* Format, va_list Arguments)
    {
        auto& self = *static_cast<TFile*>(User);
        if (self.FFirstError.empty()) {
            try {
                self.FFirstError = Printed(Format, Arguments);
            } catch (const std::bad_alloc&) {
                // The failure itself is still reported, without its words.
            }
        }
        return 1;
    }
    static int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

    static tmsize_t ReadProc(thandle_t Handle, void* Data, tmsize_t Size) { return Self(Handle).ReadAt(Data, Size); }
    static tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return -1; }
    static toff_t SeekProc(thandle_t Handle, toff_t Offset, int Whence) { return Self(Handle).SeekTo(Offset, Whence); }
    static int CloseProc(thandle_t) { return 0; }
    static toff_t SizeProc(thandle_t Handle) { return toff_t(Self(Handle).FSize); }
    static int MapProc(thandle_t, void**, toff_t*) { return 0; }
    static void UnmapProc(thandle_t, void*, toff_t) {}

    // Up to Size bytes from the position on, in chunks; the count read, or -1
    // when the stream fails. The stream is moved only when it does not stand
    // where the read starts.
    tmsize_t ReadAt(void* Data, tmsize_t Size)
    {
        if (Size < 0)
            return -1;
        auto* to = static_cast<uint8_t*>(Data);
        tmsize_t done = 0;
        while (done < Size) {
            if (FStreamAt != FAt) {
                if (!Succeeded(FStream.Seek(int64_t(FBase) + FAt, 0, nullptr))) {
                    FStreamAt = -1;
                    return -1;
                }
                FStreamAt = FAt;
            }
            const auto asked = uint32_t(std::min<int64_t>(Size - done, ChunkBytes));
            uint32_t got = 0;
            if (!Succeeded(FStream.Read(to + done, asked, &got))) {
                FStreamAt = -1;
                return -1;
            }
            got = std::min(got, asked);
            FAt += got;
            FStreamAt += got;
            done += got;
            if (got < asked)
                break;
        }
        return done;
    }

    // Only the position moves; the stream follows at the next read.
    toff_t SeekTo(toff_t Offset, int Whence)
    {
        const auto offset = int64_t(Offset);
        int64_t target = 0;
        bool overflow = false;
        switch (Whence) {
        case SEEK_SET: target = offset; break;
        case SEEK_CUR: overflow = __builtin_add_overflow(FAt, offset, &target); break;
        case SEEK_END: overflow = __builtin_add_overflow(FSize, offset, &target); break;
        default: return toff_t(-1);
        }
        if (overflow || target < 0 || target > std::numeric_limits<int64_t>::max() - int64_t(FBase))
            return toff_t(-1);
        FAt = target;
        return toff_t(target);
    }

    IStream& FStream;
    uint64_t FBase = 0;
    int64_t FSize = 0;
    // Where libtiff reads next, and where the stream stands (-1: unknown),
    // both from the picture's start.
    int64_t FAt = 0;
    int64_t FStreamAt = 0;
    std::string FFirstError;
    TIFF* FTiff = nullptr;
};

// How the picture's samples lie in the file, in strips or tiles and in one
// plane or several, and how they become pixels.
class TTiffReader::TLayout {
public:
    // The stored size, before the orientation turns it.
    uint32_t Width = 0;
    uint32_t Height = 0;
    TOrientation Orientation = TOrientation::Upright;
    bool Tiled = false;
    // A strip is a piece as wide as the picture.
    uint32_t PieceWidth = 0;
    uint32_t PieceHeight = 0;
    uint32_t Across = 0;
    uint32_t Down = 0;
    // The decoded bytes of a whole piece in one plane, and of one of its rows.
    uint64_t PieceBytes = 0;
    int64_t RowBytes = 0;
    std::unique_ptr<TPixelMaker> Pixels;
    QColorSpace ColourSpace;

    // The strip or tile of the plane that holds pixel (X, Y).
    uint32_t Piece(TIFF* Tiff, uint32_t X, uint32_t Y, int Plane) const
    {
        return Tiled ? TIFFComputeTile(Tiff, X, Y, 0, uint16_t(Plane)) : TIFFComputeStrip(Tiff, Y, uint16_t(Plane));
    }

    // A row of pieces at a time: each piece is decoded once, and its rows
    // are written straight into Bits where they keep their order, or else
    // a block at a time into their turned places.
    bool Read(TFile& File, uint8_t* Bits, int32_t Stride) const
    {
        TIFF* tiff = File.Handle();
        TOrientedRows rows(Orientation, int32_t(Width), int32_t(Height), Bits, Stride);
        uint32_t* const first = Stride % 4 == 0 ? rows.DirectRow(0) : nullptr;
        const int64_t step = first != nullptr && Height > 1 ? rows.DirectRow(1) - first : int64_t(Width);
        // Blocks start at multiples of 4 rows in a piece: at the rows where
        // a piece of subsampled YCbCr starts a row of its blocks.
        const auto blockRows = uint32_t(std::max<int64_t>(4, BlockPixels / Width / 4 * 4));
        const int planes = Pixels->Planes();
        // Each piece's samples aligned for 16-bit reads.
        const size_t pieceStride = (size_t(PieceBytes) + 7) / 8 * 8;
        std::vector<uint8_t> samples(pieceStride * Across * size_t(planes));
        std::vector<uint32_t> block(first != nullptr ? 0 : size_t(blockRows) * Width);
        for (uint32_t down = 0; down < Down; ++down) {
            const uint32_t top = down * PieceHeight;
            const uint32_t rowsHere = std::min(PieceHeight, Height - top);
            for (uint32_t across = 0; across < Across; ++across)
                for (int plane = 0; plane < planes; ++plane) {
                    uint8_t* to = samples.data() + (size_t(across) * size_t(planes) + size_t(plane)) * pieceStride;
                    const uint32_t piece = Piece(tiff, across * PieceWidth, top, plane);
                    File.ForgetErrors();
                    const tmsize_t decoded = Tiled ? TIFFReadEncodedTile(tiff, piece, to, tmsize_t(PieceBytes))
                                                   : TIFFReadEncodedStrip(tiff, piece, to, tmsize_t(PieceBytes));
                    if (decoded < 0)
                        return false;
                }
            for (uint32_t y = 0; y < rowsHere; y += blockRows) {
                TBlock part;
                part.RowBytes = RowBytes;
                part.Top = top + y;
                part.Height = std::min(blockRows, rowsHere - y);
                part.PieceWidth = PieceWidth;
                const uint64_t skipped = Tiled ? TIFFVTileSize64(tiff, y) : TIFFVStripSize64(tiff, y);
                uint32_t* const to = first != nullptr ? rows.DirectRow(int32_t(part.Top)) : block.data();
                for (uint32_t across = 0; across < Across; ++across) {
                    part.Left = across * PieceWidth;
                    part.Width = std::min(PieceWidth, Width - part.Left);
                    for (int plane = 0; plane < planes; ++plane)
                        part.Planes[size_t(plane)] = samples.data() +
                                                     (size_t(across) * size_t(planes) + size_t(plane)) * pieceStride +
                                                     skipped;
                    Pixels->Make(part, to + part.Left, first != nullptr ? step : int64_t(Width));
                }
                if (first == nullptr)
                    rows.Put(int32_t(part.Top), int32_t(part.Height), block.data(), Width);
            }
        }
        return true;
    }
};

TTiffReader::TTiffReader(IStream& Stream) : FFile(std::make_unique<TFile>(Stream)), FLayout(Judge())
{
    if (FLayout) {
        const auto [width, height] =
            OrientedSize(FLayout->Orientation, int32_t(FLayout->Width), int32_t(FLayout->Height));
        FWidth = width;
        FHeight = height;
    }
}

TTiffReader::~TTiffReader() = default;

bool TTiffReader::Matches(TSignature Head)
{
    static constexpr std::array<std::array<uint8_t, 4>, 4> Signatures = {{
        {'I', 'I', 42, 0},
        {'M', 'M', 0, 42},
        {'I', 'I', 43, 0},
        {'M', 'M', 0, 43},
    }};
    return Head.size() >= 4 && std::any_of(Signatures.begin(), Signatures.end(), [&](const auto& Signature) {
               return std::equal(Signature.begin(), Signature.end(), Head.begin());
           });
}

std::unique_ptr<TTiffReader::TLayout> TTiffReader::Judge()
{
    const auto refuse = [this](std::string Reason) {
        FFailure = std::move(Reason);
        return nullptr;
    };
    TIFF* tiff = FFile->Handle();
    if (tiff == nullptr)
        return refuse(FFile->FirstErrorOr("Not a TIFF file"));
    auto layout = std::make_unique<TLayout>();
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout->Width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout->Height);
    const uint32_t width = layout->Width, height = layout->Height;
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (!DecodedSizeAllowed(width, height))
        return refuse("A picture of " + size + " pixels is not taken");
    uint16_t orientation = ORIENTATION_TOPLEFT, compression = COMPRESSION_NONE, bits = 1, samples = 1;
    uint16_t planarConfig = PLANARCONFIG_CONTIG, sampleFormat = SAMPLEFORMAT_UINT, extraCount = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planarConfig);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    layout->Orientation = OrientationOf(orientation);
    if (!TIFFIsCODECConfigured(compression))
        return refuse("Compression scheme " + std::to_string(compression) + " is not supported");
    const bool separate = planarConfig == PLANARCONFIG_SEPARATE;

    // Without the tag, the kind follows from the colour samples, as
    // libtiff's RGBA interface takes it.
    const int colourSamples = int(samples) - int(extraCount);
    uint16_t photometric = 0;
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric)) {
        const bool fax = compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTFAX3 ||
                         compression == COMPRESSION_CCITTFAX4 || compression == COMPRESSION_CCITTRLEW;
        photometric = colourSamples == 3   ? PHOTOMETRIC_RGB
                      : colourSamples != 1 ? std::numeric_limits<uint16_t>::max()
                      : fax                ? PHOTOMETRIC_MINISWHITE
                                           : PHOTOMETRIC_MINISBLACK;
    }
    const int channels = photometric == PHOTOMETRIC_RGB                                                  ? 3
                         : photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE ? 1
                                                                                                         : 0;
    if (channels > 0 && colourSamples >= channels && (bits == 8 || bits == 16) &&
        (sampleFormat == SAMPLEFORMAT_UINT || sampleFormat == SAMPLEFORMAT_VOID)) {
        // An extra sample of no stated kind is associated alpha to libtiff
        // beside three colours, and so is a fourth sample beside RGB.
        TAlpha alpha = TAlpha::None;
        if (samples > channels) {
            const uint16_t kind = extraCount > 0 ? extra[0] : EXTRASAMPLE_UNSPECIFIED;
            if (kind == EXTRASAMPLE_UNASSALPHA)
                alpha = TAlpha::Straight;
            else if (kind == EXTRASAMPLE_ASSOCALPHA ||
                     (kind == EXTRASAMPLE_UNSPECIFIED && channels == 3 && (extraCount > 0 || samples == 4)))
                alpha = TAlpha::Associated;
        }
        layout->Pixels = std::make_unique<TStoredSamples>(bits, channels, alpha, photometric == PHOTOMETRIC_MINISWHITE,
                                                          !separate, samples);
    } else {
        std::string reason;
        layout->Pixels = TRgbaSamples::Begin(tiff, reason);
        if (!layout->Pixels)
            return refuse(reason.empty() ? FFile->FirstError() : reason);
    }
    const int planes = layout->Pixels->Planes();

    // Sizes are taken after the RGBA interface is set up: JPEG's YCbCr is
    // then decoded to RGB.
    layout->Tiled = TIFFIsTiled(tiff) != 0;
    if (layout->Tiled) {
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &layout->PieceWidth);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &layout->PieceHeight);
        layout->PieceBytes = TIFFTileSize64(tiff);
        layout->RowBytes = int64_t(TIFFTileRowSize64(tiff));
    } else {
        uint32_t rowsPerStrip = 0;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        layout->PieceWidth = width;
        layout->PieceHeight = std::min(rowsPerStrip, height);
        layout->PieceBytes = TIFFStripSize64(tiff);
        layout->RowBytes = int64_t(TIFFScanlineSize64(tiff));
    }
    const std::string pieceName = layout->Tiled ? "Tile " : "Strip ";
    if (layout->PieceWidth == 0 || layout->PieceHeight == 0 || layout->PieceBytes == 0 || layout->RowBytes <= 0 ||
        layout->PieceBytes > uint64_t(std::numeric_limits<tmsize_t>::max()))
        return refuse(FFile->FirstErrorOr(pieceName + "size is not valid"));
    layout->Across = uint32_t((uint64_t(width) + layout->PieceWidth - 1) / layout->PieceWidth);
    layout->Down = uint32_t((uint64_t(height) + layout->PieceHeight - 1) / layout->PieceHeight);
    // The reader holds a row of pieces: tiles far larger than the picture
    // would have it hold far more than the picture.
    const uint64_t pictureBytes =
        (uint64_t(width) * bits * (separate ? 1 : samples) + 7) / 8 * height * uint64_t(planes);
    if (layout->PieceBytes > std::max(MostBandBytes, 4 * pictureBytes) / (uint64_t(layout->Across) * planes))
        return refuse(pieceName + "size is far larger than the picture");

    // Every piece read lies in the file. libtiff reads the rows of one
    // stored as it is, whatever its byte count says, and the whole byte
    // count of one compressed.
    const auto fileSize = uint64_t(FFile->Size());
    const uint32_t pieces = layout->Tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    uint64_t data = 0;
    for (int plane = 0; plane < planes; ++plane)
        for (uint32_t down = 0; down < layout->Down; ++down)
            for (uint32_t across = 0; across < layout->Across; ++across) {
                const uint32_t top = down * layout->PieceHeight;
                const uint32_t piece = layout->Piece(tiff, across * layout->PieceWidth, top, plane);
                const auto named = [&](const char* What) { return pieceName + std::to_string(piece) + What; };
                if (piece >= pieces)
                    return refuse(named(" is missing"));
                const uint64_t offset = TIFFGetStrileOffset(tiff, piece);
                const uint64_t inFile = offset <= fileSize ? fileSize - offset : 0;
                const uint64_t bytes = compression != COMPRESSION_NONE ? TIFFGetStrileByteCount(tiff, piece)
                                       : layout->Tiled
                                           ? layout->PieceBytes
                                           : TIFFVStripSize64(tiff, std::min(layout->PieceHeight, height - top));
                if (offset > fileSize || bytes > inFile)
                    return refuse(named(" runs past the end of the file"));
                data = std::min(MostDataCounted, data + bytes);
            }

    // Decompressed at the most a byte can give, the data must reach the
    // picture's bytes; of YCbCr, which may store its chroma subsampled, only
    // the luma is sure.
    const bool luma = photometric == PHOTOMETRIC_YCBCR;
    const uint64_t pixelSamples = luma || separate ? 1 : samples;
    const uint64_t rowBytes = (uint64_t(width) * bits * pixelSamples + 7) / 8;
    const uint64_t needed = rowBytes * height * uint64_t(luma ? 1 : planes);
    const uint64_t ratio = MaxExpansion(compression);
    if (compression != COMPRESSION_NONE && ratio != 0 && data * ratio < needed)
        return refuse("The file holds too little data for a picture of " + size + " pixels");

    uint32_t profileSize = 0;
    void* profile = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &profileSize, &profile) && profile != nullptr)
        layout->ColourSpace =
            QColorSpace::fromIccProfile(QByteArray(static_cast<const char*>(profile), qsizetype(profileSize)));
    return layout;
}

bool TTiffReader::Read(uint8_t* Bits, int32_t Stride)
{
    if (!FLayout)
        return false;
    bool read = false;
    try {
        read = FLayout->Read(*FFile, Bits, Stride);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("Out of memory decoding a " + std::to_string(FWidth) + " x " + std::to_string(FHeight) +
                           " TIFF picture");
    }
    if (!read) {
        FFailure = FFile->FirstErrorOr("The picture's data does not decode");
        return false;
    }
    FOpaque = FLayout->Pixels->Opaque();
    MatchColoursInBuffer(FLayout->ColourSpace, Bits, FWidth, FHeight, Stride, FOpaque);
    return true;
}

} // namespace Corvanith::Platform
