#include "platform/formats/tiff.h"

#include "platform/formats/formatchecks.h"
#include "platform/formats/mutations.h"
#include "platform/streams.h"

#include <gtest/gtest.h>

#include <tiffio.h>

#include <QColorSpace>
#include <QFile>
#include <QImage>
#include <QImageWriter>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace Corvanith::Platform;
using Corvanith::Tests::Detailed;
using Corvanith::Tests::TiffDataOffset;
using Corvanith::Tests::TiffFile;
using Corvanith::Tests::TTiffTag;

namespace {

using TBytes = std::vector<uint8_t>;

TBytes Bytes(const QByteArray& Data) { return TBytes(Data.begin(), Data.end()); }

TBytes Fixture(const char* Name)
{
    QFile file(QString(CORVANITH_FORMAT_FIXTURES) + "/" + Name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << Name;
    return Bytes(file.readAll());
}

struct TDecoded {
    int32_t Width = 0;
    int32_t Height = 0;
    bool Read = false;
    bool Opaque = false;
    std::string Failure;
    std::vector<uint32_t> Pixels;

    uint32_t At(int32_t X, int32_t Y) const { return Pixels[size_t(Y) * size_t(Width) + size_t(X)]; }
};

// The picture a reader over File gives, read into a buffer whose pixels
// start out as garbage.
TDecoded Decode(const TBytes& File)
{
    TMemoryStream stream(File);
    TStreamAdapter adapter(stream);
    TTiffReader reader(adapter);
    TDecoded decoded;
    decoded.Width = reader.Width();
    decoded.Height = reader.Height();
    decoded.Failure = reader.Failure();
    if (decoded.Width > 0 && decoded.Height > 0) {
        decoded.Pixels.assign(size_t(decoded.Width) * size_t(decoded.Height), 0x5A5A5A5Au);
        decoded.Read = reader.Read(reinterpret_cast<uint8_t*>(decoded.Pixels.data()), decoded.Width * 4);
        decoded.Opaque = reader.Opaque();
        decoded.Failure = reader.Failure();
    }
    return decoded;
}

bool Decodes(const TBytes& File) { return Decode(File).Read; }

int Channel(uint32_t Pixel, int Shift) { return int(Pixel >> Shift & 0xFF); }

// Largest difference of any channel.
int Difference(uint32_t A, uint32_t B)
{
    int worst = 0;
    for (const int shift : {0, 8, 16, 24})
        worst = std::max(worst, std::abs(Channel(A, shift) - Channel(B, shift)));
    return worst;
}

// Every pixel of Decoded within Tolerance of Expected (x, y), the first few
// misses reported.
void ExpectPixels(const TDecoded& Decoded, const std::function<uint32_t(uint32_t, uint32_t)>& Expected,
                  int Tolerance = 0)
{
    ASSERT_TRUE(Decoded.Read) << Decoded.Failure;
    int misses = 0;
    for (int32_t y = 0; y < Decoded.Height; ++y)
        for (int32_t x = 0; x < Decoded.Width; ++x) {
            const uint32_t got = Decoded.At(x, y), expected = Expected(uint32_t(x), uint32_t(y));
            if (Difference(got, expected) > Tolerance && ++misses <= 3)
                ADD_FAILURE() << "at " << x << ", " << y << ": " << std::hex << got << " instead of " << expected;
        }
    EXPECT_EQ(misses, 0);
}

uint32_t Argb(uint32_t A, uint32_t R, uint32_t G, uint32_t B) { return A << 24 | R << 16 | G << 8 | B; }

// ---- Files written by libtiff itself ----

// A TIFF that libtiff writes into memory.
class TMemoryTiff {
public:
    TMemoryTiff(bool BigEndian, bool Big)
    {
        const std::string mode = std::string("w") + (BigEndian ? "b" : "l") + (Big ? "8" : "");
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options, Fail, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(options, Ignore, nullptr);
        FTiff = TIFFClientOpenExt("fixture", mode.c_str(), this, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                                  MapProc, UnmapProc, options);
        TIFFOpenOptionsFree(options);
    }
    ~TMemoryTiff()
    {
        if (FTiff != nullptr)
            TIFFClose(FTiff);
    }
    TMemoryTiff(const TMemoryTiff&) = delete;
    TMemoryTiff& operator=(const TMemoryTiff&) = delete;

    TIFF* Tiff() const { return FTiff; }

    TBytes Finish()
    {
        TIFFClose(FTiff);
        FTiff = nullptr;
        return FData;
    }

private:
    static TMemoryTiff& Self(thandle_t Handle) { return *static_cast<TMemoryTiff*>(Handle); }
    static int Fail(TIFF*, void*, const char* Module, const char* Format, va_list Arguments)
    {
        char text[1024];
        std::vsnprintf(text, sizeof(text), Format, Arguments);
        ADD_FAILURE() << "libtiff, writing: " << Module << ": " << text;
        return 1;
    }
    static int Ignore(TIFF*, void*, const char*, const char*, va_list) { return 1; }
    static tmsize_t ReadProc(thandle_t Handle, void* Data, tmsize_t Size)
    {
        TMemoryTiff& self = Self(Handle);
        const uint64_t left = self.FData.size() - std::min<uint64_t>(self.FAt, self.FData.size());
        const auto count = tmsize_t(std::min<uint64_t>(uint64_t(Size), left));
        if (count > 0)
            std::memcpy(Data, self.FData.data() + self.FAt, size_t(count));
        self.FAt += uint64_t(count);
        return count;
    }
    static tmsize_t WriteProc(thandle_t Handle, void* Data, tmsize_t Size)
    {
        TMemoryTiff& self = Self(Handle);
        if (self.FAt + uint64_t(Size) > self.FData.size())
            self.FData.resize(self.FAt + uint64_t(Size));
        std::memcpy(self.FData.data() + self.FAt, Data, size_t(Size));
        self.FAt += uint64_t(Size);
        return Size;
    }
    static toff_t SeekProc(thandle_t Handle, toff_t Offset, int Whence)
    {
        TMemoryTiff& self = Self(Handle);
        self.FAt = Whence == SEEK_SET ? Offset : Whence == SEEK_CUR ? self.FAt + Offset : self.FData.size() + Offset;
        return self.FAt;
    }
    static int CloseProc(thandle_t) { return 0; }
    static toff_t SizeProc(thandle_t Handle) { return Self(Handle).FData.size(); }
    static int MapProc(thandle_t, void**, toff_t*) { return 0; }
    static void UnmapProc(thandle_t, void*, toff_t) {}

    TIFF* FTiff = nullptr;
    TBytes FData;
    uint64_t FAt = 0;
};

// One page of a picture as libtiff writes it: its samples, bit packed as
// the file stores them, in strips or tiles, side by side or in planes.
struct TPage {
    uint32_t Width = 37;
    uint32_t Height = 23;
    uint16_t Photometric = PHOTOMETRIC_RGB;
    uint16_t Bits = 8;
    uint16_t Samples = 3;
    // The kind of the one extra sample; none when negative.
    int Extra = -1;
    uint16_t Planar = PLANARCONFIG_CONTIG;
    uint16_t Compression = COMPRESSION_NONE;
    // Tiles of Tile x Tile pixels; strips of RowsPerStrip rows when 0.
    uint32_t Tile = 0;
    uint32_t RowsPerStrip = 7;
    uint16_t Orientation = ORIENTATION_TOPLEFT;
    // The stored value of sample S of pixel (X, Y).
    std::function<uint32_t(uint32_t X, uint32_t Y, int S)> Sample;
    // Further tags.
    std::function<void(TIFF*)> Tags;
};

void WritePage(TIFF* Tiff, const TPage& Page)
{
    TIFFSetField(Tiff, TIFFTAG_IMAGEWIDTH, Page.Width);
    TIFFSetField(Tiff, TIFFTAG_IMAGELENGTH, Page.Height);
    TIFFSetField(Tiff, TIFFTAG_BITSPERSAMPLE, Page.Bits);
    TIFFSetField(Tiff, TIFFTAG_SAMPLESPERPIXEL, Page.Samples);
    TIFFSetField(Tiff, TIFFTAG_PHOTOMETRIC, Page.Photometric);
    TIFFSetField(Tiff, TIFFTAG_PLANARCONFIG, Page.Planar);
    TIFFSetField(Tiff, TIFFTAG_COMPRESSION, Page.Compression);
    TIFFSetField(Tiff, TIFFTAG_ORIENTATION, Page.Orientation);
    if (Page.Extra >= 0) {
        const auto extra = uint16_t(Page.Extra);
        TIFFSetField(Tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (Page.Tile > 0) {
        TIFFSetField(Tiff, TIFFTAG_TILEWIDTH, Page.Tile);
        TIFFSetField(Tiff, TIFFTAG_TILELENGTH, Page.Tile);
    } else {
        TIFFSetField(Tiff, TIFFTAG_ROWSPERSTRIP, Page.RowsPerStrip);
    }
    if (Page.Tags)
        Page.Tags(Tiff);
    const bool separate = Page.Planar == PLANARCONFIG_SEPARATE;
    const int planes = separate ? Page.Samples : 1, perPixel = separate ? 1 : Page.Samples;
    const uint32_t pieceWidth = Page.Tile > 0 ? Page.Tile : Page.Width;
    const uint32_t pieceHeight = Page.Tile > 0 ? Page.Tile : Page.RowsPerStrip;
    const size_t rowBytes = (size_t(pieceWidth) * size_t(perPixel) * Page.Bits + 7) / 8;
    for (int plane = 0; plane < planes; ++plane)
        for (uint32_t top = 0; top < Page.Height; top += pieceHeight)
            for (uint32_t left = 0; left < Page.Width; left += pieceWidth) {
                const uint32_t rows = Page.Tile > 0 ? pieceHeight : std::min(pieceHeight, Page.Height - top);
                TBytes piece(rows * rowBytes, 0);
                for (uint32_t y = 0; y < rows && top + y < Page.Height; ++y)
                    for (uint32_t x = 0; x < pieceWidth && left + x < Page.Width; ++x)
                        for (int s = 0; s < perPixel; ++s) {
                            const uint32_t value = Page.Sample(left + x, top + y, separate ? plane : s);
                            const size_t bit = (size_t(x) * size_t(perPixel) + size_t(s)) * Page.Bits;
                            uint8_t* row = piece.data() + y * rowBytes;
                            if (Page.Bits == 16) {
                                const auto v = uint16_t(value);
                                std::memcpy(row + bit / 8, &v, 2);
                            } else if (Page.Bits == 8) {
                                row[bit / 8] = uint8_t(value);
                            } else {
                                row[bit / 8] |= uint8_t(value << (8 - Page.Bits - bit % 8));
                            }
                        }
                const bool written =
                    Page.Tile > 0 ? TIFFWriteEncodedTile(Tiff, TIFFComputeTile(Tiff, left, top, 0, uint16_t(plane)),
                                                         piece.data(), tmsize_t(piece.size())) >= 0
                                  : TIFFWriteEncodedStrip(Tiff, TIFFComputeStrip(Tiff, top, uint16_t(plane)),
                                                          piece.data(), tmsize_t(piece.size())) >= 0;
                EXPECT_TRUE(written);
            }
}

TBytes Written(const std::vector<TPage>& Pages, bool BigEndian = false, bool Big = false)
{
    TMemoryTiff file(BigEndian, Big);
    for (const TPage& page : Pages) {
        WritePage(file.Tiff(), page);
        TIFFWriteDirectory(file.Tiff());
    }
    return file.Finish();
}

TBytes Written(const TPage& Page, bool BigEndian = false, bool Big = false)
{
    return Written(std::vector<TPage>{Page}, BigEndian, Big);
}

// Samples that differ in every pixel, sample and bit: colour S of pixel
// (X, Y), up to Max.
uint32_t Varied(uint32_t X, uint32_t Y, int S, uint32_t Max)
{
    const uint32_t v = (X * 37 + Y * 91 + uint32_t(S) * 53 + (X ^ Y) * 11) * 2654435761u;
    return (v >> 8) % (Max + 1);
}

// Alpha of pixel (X, Y): every value, clear and opaque ones among them.
uint32_t VariedAlpha(uint32_t X, uint32_t Y, uint32_t Max)
{
    if ((X + Y) % 7 == 0)
        return Max;
    if ((X * Y) % 11 == 3)
        return 0;
    return Varied(X, Y, 5, Max);
}

// 16-bit samples become 8 bits as (v * 255 + 32767) / 65535.
uint32_t Eight(uint32_t Value, int Bits) { return Bits == 16 ? (Value * 255 + 32767) / 65535 : Value; }

// ---- Signatures ----

TEST(Tiff, MatchesClassicAndBigTiffInEitherByteOrder)
{
    for (const char* head : {"II*\0", "MM\0*", "II+\0", "MM\0+"}) {
        const TBytes bytes(head, head + 4);
        EXPECT_TRUE(TTiffReader::Matches(bytes)) << head;
        EXPECT_FALSE(TTiffReader::Matches(TSignature(bytes).first(3))) << head;
    }
    for (const char* head : {"II\0*", "MM*\0", "IM*\0", "II,\0", "\x89PNG"}) {
        const TBytes bytes(head, head + 4);
        EXPECT_FALSE(TTiffReader::Matches(bytes)) << head;
    }
}

// ---- Samples read as stored ----

struct TStoredKind {
    const char* Name;
    uint16_t Photometric;
    int Channels;
    // Of the alpha sample; none when negative.
    int Alpha;
};

const TStoredKind StoredKinds[] = {
    {"grey", PHOTOMETRIC_MINISBLACK, 1, -1},
    {"grey from white", PHOTOMETRIC_MINISWHITE, 1, -1},
    {"grey, straight alpha", PHOTOMETRIC_MINISBLACK, 1, EXTRASAMPLE_UNASSALPHA},
    {"grey, associated alpha", PHOTOMETRIC_MINISBLACK, 1, EXTRASAMPLE_ASSOCALPHA},
    {"grey from white, associated alpha", PHOTOMETRIC_MINISWHITE, 1, EXTRASAMPLE_ASSOCALPHA},
    {"RGB", PHOTOMETRIC_RGB, 3, -1},
    {"RGBA, straight alpha", PHOTOMETRIC_RGB, 3, EXTRASAMPLE_UNASSALPHA},
    {"RGBA, associated alpha", PHOTOMETRIC_RGB, 3, EXTRASAMPLE_ASSOCALPHA},
};

// A picture of the kind whose straight samples are Varied and VariedAlpha,
// stored premultiplied where the alpha is associated and from white where
// the grey is; and the pixels it must give, within the tolerance returned.
struct TStoredPicture {
    TPage Page;
    std::function<uint32_t(uint32_t, uint32_t)> Expected;
    int Tolerance = 0;
};

TStoredPicture StoredPicture(const TStoredKind& Kind, uint16_t Bits)
{
    const uint32_t max = Bits == 16 ? 65535 : 255;
    const bool alpha = Kind.Alpha >= 0, associated = Kind.Alpha == EXTRASAMPLE_ASSOCALPHA;
    const bool fromWhite = Kind.Photometric == PHOTOMETRIC_MINISWHITE;
    const auto premultiplied = [=](uint32_t X, uint32_t Y, int S) {
        const uint32_t c = Varied(X, Y, S, max);
        return associated ? (c * uint64_t(VariedAlpha(X, Y, max)) + max / 2) / max : c;
    };
    TStoredPicture picture;
    picture.Page.Photometric = Kind.Photometric;
    picture.Page.Bits = Bits;
    picture.Page.Samples = uint16_t(Kind.Channels + (alpha ? 1 : 0));
    picture.Page.Extra = Kind.Alpha;
    picture.Page.Sample = [=](uint32_t X, uint32_t Y, int S) {
        if (S == Kind.Channels)
            return VariedAlpha(X, Y, max);
        const auto c = uint32_t(premultiplied(X, Y, S));
        return fromWhite ? max - c : c;
    };
    picture.Expected = [=](uint32_t X, uint32_t Y) {
        const uint32_t a = alpha ? VariedAlpha(X, Y, max) : max;
        uint32_t colour[3];
        for (int c = 0; c < 3; ++c) {
            const int s = Kind.Channels == 1 ? 0 : c;
            if (!associated)
                colour[c] = Eight(Varied(X, Y, s, max), Bits);
            else
                colour[c] = a == 0 ? 0 : uint32_t(std::lround(std::min(1.0, double(premultiplied(X, Y, s)) / a) * 255));
        }
        return Argb(Eight(a, Bits), colour[0], colour[1], colour[2]);
    };
    // Dividing out rounds once more; 16 bits are rounded once more.
    picture.Tolerance = associated ? 1 : 0;
    return picture;
}

TEST(Tiff, StoredSamplesInEveryLayoutDepthByteOrderAndCompression)
{
    // Strips of 7 rows and tiles of 16 x 16 that the picture's edges cut,
    // uncompressed tiles among them.
    const uint16_t compressions[] = {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE,
                                     COMPRESSION_PACKBITS};
    for (const TStoredKind& kind : StoredKinds)
        for (const uint16_t bits : {uint16_t(8), uint16_t(16)})
            for (const uint16_t planar : {uint16_t(PLANARCONFIG_CONTIG), uint16_t(PLANARCONFIG_SEPARATE)})
                for (const uint32_t tile : {0u, 16u})
                    for (const uint16_t compression : compressions)
                        for (const bool bigEndian : {false, true})
                            for (const bool big : {false, true}) {
                                SCOPED_TRACE(testing::Message()
                                             << kind.Name << ", " << bits << " bits, "
                                             << (planar == PLANARCONFIG_SEPARATE ? "planes" : "side by side") << ", "
                                             << (tile > 0 ? "tiles" : "strips") << ", compression " << compression
                                             << (bigEndian ? ", big-endian" : ", little-endian")
                                             << (big ? ", BigTIFF" : ", classic"));
                                TStoredPicture picture = StoredPicture(kind, bits);
                                picture.Page.Planar = planar;
                                picture.Page.Tile = tile;
                                picture.Page.Compression = compression;
                                const TDecoded decoded = Decode(Written(picture.Page, bigEndian, big));
                                ASSERT_EQ(decoded.Width, 37);
                                ASSERT_EQ(decoded.Height, 23);
                                ExpectPixels(decoded, picture.Expected, picture.Tolerance);
                                EXPECT_EQ(decoded.Opaque, kind.Alpha < 0);
                            }
}

TEST(Tiff, StraightAlphaKeepsTheColoursUnderIt)
{
    // As Pillow and ImageMagick write RGBA: faint pixels keep their colours.
    TPage page;
    page.Width = 2;
    page.Height = 1;
    page.Samples = 4;
    page.Extra = EXTRASAMPLE_UNASSALPHA;
    const uint8_t samples[2][4] = {{2, 13, 14, 9}, {200, 100, 50, 0}};
    page.Sample = [&](uint32_t X, uint32_t, int S) { return uint32_t(samples[X][S]); };
    const TDecoded decoded = Decode(Written(page));
    ASSERT_TRUE(decoded.Read) << decoded.Failure;
    EXPECT_EQ(decoded.At(0, 0), Argb(9, 2, 13, 14));
    EXPECT_EQ(decoded.At(1, 0), Argb(0, 200, 100, 50));
    EXPECT_FALSE(decoded.Opaque);
}

TEST(Tiff, SixteenBitSamplesRoundToEightBits)
{
    // Every high byte, with low bytes either side of the halfway mark.
    TPage page;
    page.Width = 256;
    page.Height = 4;
    page.Photometric = PHOTOMETRIC_MINISBLACK;
    page.Bits = 16;
    page.Samples = 1;
    const uint32_t lows[] = {0x00, 0x7F, 0x80, 0xFF};
    page.Sample = [&](uint32_t X, uint32_t Y, int) { return X << 8 | lows[Y]; };
    ExpectPixels(Decode(Written(page)), [&](uint32_t X, uint32_t Y) {
        const uint32_t v = ((X << 8 | lows[Y]) * 255 + 32767) / 65535;
        return Argb(255, v, v, v);
    });
}

TEST(Tiff, JpegCompressedSamplesDecode)
{
    // Grey and RGB as stored, and YCbCr that libjpeg turns into RGB: a
    // smooth picture comes back close.
    struct TCase {
        const char* Name;
        uint16_t Photometric;
        uint16_t Samples;
        uint32_t Tile;
    };
    const TCase cases[] = {
        {"grey in strips", PHOTOMETRIC_MINISBLACK, 1, 0},
        {"RGB in strips", PHOTOMETRIC_RGB, 3, 0},
        {"YCbCr in strips", PHOTOMETRIC_YCBCR, 3, 0},
        {"YCbCr in tiles", PHOTOMETRIC_YCBCR, 3, 16},
    };
    const auto smooth = [](uint32_t X, uint32_t Y, int S) { return uint32_t(S == 0 ? X * 4 : S == 1 ? Y * 6 : 128); };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPage page;
        page.Width = 48;
        page.Height = 32;
        page.Photometric = c.Photometric;
        page.Samples = c.Samples;
        page.Compression = COMPRESSION_JPEG;
        page.Tile = c.Tile;
        page.RowsPerStrip = 16;
        page.Sample = smooth;
        page.Tags = [&](TIFF* Tiff) {
            TIFFSetField(Tiff, TIFFTAG_JPEGQUALITY, 95);
            if (c.Photometric == PHOTOMETRIC_YCBCR)
                TIFFSetField(Tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        };
        const TDecoded decoded = Decode(Written(page));
        ExpectPixels(
            decoded,
            [&](uint32_t X, uint32_t Y) {
                const uint32_t r = smooth(X, Y, 0);
                return c.Samples == 1 ? Argb(255, r, r, r) : Argb(255, r, smooth(X, Y, 1), smooth(X, Y, 2));
            },
            8);
        EXPECT_TRUE(decoded.Opaque);
    }
}

// ---- What libtiff's RGBA interface turns into pixels ----

TEST(Tiff, PalettesFewBitsFaxCodesAndCmykDecode)
{
    struct TCase {
        const char* Name;
        uint16_t Photometric;
        uint16_t Bits;
        uint16_t Samples;
        uint16_t Compression;
        uint16_t Planar;
    };
    const TCase cases[] = {
        {"palette of 1 bit", PHOTOMETRIC_PALETTE, 1, 1, COMPRESSION_NONE, PLANARCONFIG_CONTIG},
        {"palette of 2 bits", PHOTOMETRIC_PALETTE, 2, 1, COMPRESSION_LZW, PLANARCONFIG_CONTIG},
        {"palette of 4 bits", PHOTOMETRIC_PALETTE, 4, 1, COMPRESSION_PACKBITS, PLANARCONFIG_CONTIG},
        {"palette of 8 bits", PHOTOMETRIC_PALETTE, 8, 1, COMPRESSION_ADOBE_DEFLATE, PLANARCONFIG_CONTIG},
        {"bilevel", PHOTOMETRIC_MINISBLACK, 1, 1, COMPRESSION_NONE, PLANARCONFIG_CONTIG},
        {"bilevel from white", PHOTOMETRIC_MINISWHITE, 1, 1, COMPRESSION_PACKBITS, PLANARCONFIG_CONTIG},
        {"bilevel in fax group 3", PHOTOMETRIC_MINISWHITE, 1, 1, COMPRESSION_CCITTFAX3, PLANARCONFIG_CONTIG},
        {"bilevel in fax group 4", PHOTOMETRIC_MINISWHITE, 1, 1, COMPRESSION_CCITTFAX4, PLANARCONFIG_CONTIG},
        {"grey of 2 bits", PHOTOMETRIC_MINISBLACK, 2, 1, COMPRESSION_NONE, PLANARCONFIG_CONTIG},
        {"grey of 4 bits from white", PHOTOMETRIC_MINISWHITE, 4, 1, COMPRESSION_LZW, PLANARCONFIG_CONTIG},
        {"CMYK", PHOTOMETRIC_SEPARATED, 8, 4, COMPRESSION_LZW, PLANARCONFIG_CONTIG},
        {"CMYK in planes", PHOTOMETRIC_SEPARATED, 8, 4, COMPRESSION_NONE, PLANARCONFIG_SEPARATE},
    };
    for (const TCase& c : cases)
        for (const uint32_t tile : {0u, 16u}) {
            // Fax codes come in strips only.
            if (tile > 0 && (c.Compression == COMPRESSION_CCITTFAX3 || c.Compression == COMPRESSION_CCITTFAX4))
                continue;
            SCOPED_TRACE(testing::Message() << c.Name << (tile > 0 ? " in tiles" : " in strips"));
            const uint32_t max = (1u << c.Bits) - 1;
            // Palette entries of 16 bits, each an 8-bit value repeated.
            const auto entry = [](uint32_t Index, int Channel) { return (Index * 73 + uint32_t(Channel) * 100) % 256; };
            std::vector<uint16_t> colormap(3 * 256);
            for (uint32_t i = 0; i < 256; ++i)
                for (int k = 0; k < 3; ++k)
                    colormap[size_t(k) * 256 + i] = uint16_t(entry(i, k) * 257);
            TPage page;
            page.Photometric = c.Photometric;
            page.Bits = c.Bits;
            page.Samples = c.Samples;
            page.Compression = c.Compression;
            page.Planar = c.Planar;
            page.Tile = tile;
            page.Sample = [&](uint32_t X, uint32_t Y, int S) { return Varied(X, Y, S, max); };
            page.Tags = [&](TIFF* Tiff) {
                if (c.Photometric == PHOTOMETRIC_PALETTE)
                    TIFFSetField(Tiff, TIFFTAG_COLORMAP, colormap.data(), colormap.data() + 256, colormap.data() + 512);
                if (c.Photometric == PHOTOMETRIC_SEPARATED)
                    TIFFSetField(Tiff, TIFFTAG_INKSET, INKSET_CMYK);
            };
            const TDecoded decoded = Decode(Written(page));
            ASSERT_EQ(decoded.Width, 37);
            ExpectPixels(decoded, [&](uint32_t X, uint32_t Y) {
                const uint32_t v = Varied(X, Y, 0, max);
                switch (c.Photometric) {
                case PHOTOMETRIC_PALETTE: return Argb(255, entry(v, 0), entry(v, 1), entry(v, 2));
                case PHOTOMETRIC_SEPARATED: {
                    // libtiff's own reading of ink: (255 - C) (255 - K) / 255.
                    const uint32_t k = 255 - Varied(X, Y, 3, max);
                    uint32_t rgb[3];
                    for (int i = 0; i < 3; ++i)
                        rgb[i] = k * (255 - Varied(X, Y, i, max)) / 255;
                    return Argb(255, rgb[0], rgb[1], rgb[2]);
                }
                default: {
                    const uint32_t grey = v * 255 / max;
                    const uint32_t shown = c.Photometric == PHOTOMETRIC_MINISWHITE ? 255 - grey : grey;
                    return Argb(255, shown, shown, shown);
                }
                }
            });
            EXPECT_TRUE(decoded.Opaque);
        }
}

// YCbCr stored as it is, each 2 x 2 block as four luma samples and its
// two chroma ones, in strips of Rows rows.
TBytes YCbCrFile(uint32_t Width, uint32_t Height, uint32_t Rows, uint16_t Orientation,
                 const std::function<uint32_t(uint32_t X, uint32_t Y, int S)>& Sample)
{
    TMemoryTiff file(false, false);
    TIFF* tiff = file.Tiff();
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, Width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, Height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
    TIFFSetField(tiff, TIFFTAG_YCBCRSUBSAMPLING, 2, 2);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, Rows);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, Orientation);
    const float reference[6] = {0, 255, 128, 255, 128, 255};
    TIFFSetField(tiff, TIFFTAG_REFERENCEBLACKWHITE, reference);
    for (uint32_t top = 0; top < Height; top += Rows) {
        TBytes strip;
        for (uint32_t y = top; y < std::min(Height, top + Rows); y += 2)
            for (uint32_t x = 0; x < Width; x += 2) {
                for (const uint32_t dy : {0u, 1u})
                    for (const uint32_t dx : {0u, 1u})
                        strip.push_back(uint8_t(Sample(std::min(x + dx, Width - 1), std::min(y + dy, Height - 1), 0)));
                strip.push_back(uint8_t(Sample(x, y, 1)));
                strip.push_back(uint8_t(Sample(x, y, 2)));
            }
        EXPECT_GE(TIFFWriteEncodedStrip(tiff, TIFFComputeStrip(tiff, top, 0), strip.data(), tmsize_t(strip.size())), 0);
    }
    TIFFWriteDirectory(tiff);
    return file.Finish();
}

TEST(Tiff, SubsampledYCbCrDecodes)
{
    // Luma varied in every pixel, chroma in every block.
    const auto sample = [](uint32_t X, uint32_t Y, int S) {
        return S == 0 ? Varied(X, Y, 0, 200) + 20 : 128 + (X / 2 * 7 + Y / 2 * 3 + uint32_t(S) * 5) % 40 - 20;
    };
    const TDecoded decoded = Decode(YCbCrFile(37, 23, 6, ORIENTATION_TOPLEFT, sample));
    ExpectPixels(
        decoded,
        [&](uint32_t X, uint32_t Y) {
            // ITU-R BT.601, as the TIFF standard's default coefficients say.
            const double y = sample(X, Y, 0), cb = sample(X & ~1u, Y & ~1u, 1) - 128.0,
                         cr = sample(X & ~1u, Y & ~1u, 2) - 128.0;
            const auto clamp = [](double V) { return uint32_t(std::clamp(std::lround(V), 0L, 255L)); };
            return Argb(255, clamp(y + 1.402 * cr), clamp(y - 0.344136 * cb - 0.714136 * cr), clamp(y + 1.772 * cb));
        },
        2);
}

// ---- Orientation ----

struct TPlace {
    int32_t U, V;
};

// Where stored pixels (0, 0), (W - 1, 0) and (0, H - 1) are shown, read off
// the words of the Exif standard ("the 0th row is the visual right-hand
// side, the 0th column the visual top" for 6), for a picture stored W x H.
struct TShownCorners {
    uint16_t Value;
    bool Swapped;
    std::function<TPlace(int32_t W, int32_t H)> First, EndOfFirstRow, StartOfLastRow;
};

const TShownCorners ShownCorners[] = {
    {1, false, [](int32_t, int32_t) { return TPlace{0, 0}; }, [](int32_t W, int32_t) { return TPlace{W - 1, 0}; },
     [](int32_t, int32_t H) { return TPlace{0, H - 1}; }},
    {2, false, [](int32_t W, int32_t) { return TPlace{W - 1, 0}; }, [](int32_t, int32_t) { return TPlace{0, 0}; },
     [](int32_t W, int32_t H) { return TPlace{W - 1, H - 1}; }},
    {3, false, [](int32_t W, int32_t H) { return TPlace{W - 1, H - 1}; },
     [](int32_t, int32_t H) { return TPlace{0, H - 1}; }, [](int32_t W, int32_t) { return TPlace{W - 1, 0}; }},
    {4, false, [](int32_t, int32_t H) { return TPlace{0, H - 1}; },
     [](int32_t W, int32_t H) { return TPlace{W - 1, H - 1}; }, [](int32_t, int32_t) { return TPlace{0, 0}; }},
    {5, true, [](int32_t, int32_t) { return TPlace{0, 0}; }, [](int32_t W, int32_t) { return TPlace{0, W - 1}; },
     [](int32_t, int32_t H) { return TPlace{H - 1, 0}; }},
    {6, true, [](int32_t, int32_t H) { return TPlace{H - 1, 0}; },
     [](int32_t W, int32_t H) { return TPlace{H - 1, W - 1}; }, [](int32_t, int32_t) { return TPlace{0, 0}; }},
    {7, true, [](int32_t W, int32_t H) { return TPlace{H - 1, W - 1}; },
     [](int32_t, int32_t H) { return TPlace{H - 1, 0}; }, [](int32_t W, int32_t) { return TPlace{0, W - 1}; }},
    {8, true, [](int32_t W, int32_t) { return TPlace{0, W - 1}; }, [](int32_t, int32_t) { return TPlace{0, 0}; },
     [](int32_t W, int32_t H) { return TPlace{H - 1, W - 1}; }},
};

// Where stored pixel (X, Y) is shown: a straight map, fixed by the corners.
TPlace ShownAt(const TShownCorners& Corners, int32_t W, int32_t H, int32_t X, int32_t Y)
{
    const TPlace first = Corners.First(W, H), right = Corners.EndOfFirstRow(W, H), down = Corners.StartOfLastRow(W, H);
    const auto along = [](int32_t From, int32_t To, int32_t At, int32_t Length) {
        return Length > 1 ? (To - From) / (Length - 1) * At : 0;
    };
    return {first.U + along(first.U, right.U, X, W) + along(first.U, down.U, Y, H),
            first.V + along(first.V, right.V, X, W) + along(first.V, down.V, Y, H)};
}

// Every stored pixel of Stored (W x H, decoded as Upright) shows in its place
// in Shown.
void ExpectTurned(const TDecoded& Stored, const TDecoded& Shown, const TShownCorners& Corners)
{
    ASSERT_TRUE(Stored.Read && Shown.Read) << Shown.Failure;
    const int32_t w = Stored.Width, h = Stored.Height;
    ASSERT_EQ(Shown.Width, Corners.Swapped ? h : w);
    ASSERT_EQ(Shown.Height, Corners.Swapped ? w : h);
    int misses = 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const TPlace at = ShownAt(Corners, w, h, x, y);
            if (Shown.At(at.U, at.V) != Stored.At(x, y) && ++misses <= 3)
                ADD_FAILURE() << "stored " << x << ", " << y << " is not at " << at.U << ", " << at.V;
        }
    EXPECT_EQ(misses, 0);
}

TEST(Tiff, EveryOrientationShowsThePictureUpright)
{
    // A picture whose every pixel differs, read through the samples as
    // stored and through libtiff's palettes, in strips and in tiles; and a
    // large one that a turned picture's blocks of rows split.
    struct TCase {
        const char* Name;
        TPage Page;
    };
    std::vector<uint16_t> colormap(3 * 256);
    for (uint32_t i = 0; i < 256; ++i)
        for (int k = 0; k < 3; ++k)
            colormap[size_t(k) * 256 + i] = uint16_t((i * (k + 1) * 37 % 256) * 257);
    std::vector<TCase> cases(5);
    cases[0].Name = "RGB in strips";
    cases[0].Page.Sample = [](uint32_t X, uint32_t Y, int S) { return S == 0 ? X : S == 1 ? Y : 7u; };
    cases[1] = cases[0];
    cases[1].Name = "RGB in tiles";
    cases[1].Page.Tile = 16;
    cases[2].Name = "palette in strips";
    cases[2].Page.Width = 20;
    cases[2].Page.Height = 12;
    cases[2].Page.Photometric = PHOTOMETRIC_PALETTE;
    cases[2].Page.Samples = 1;
    cases[2].Page.RowsPerStrip = 5;
    cases[2].Page.Sample = [](uint32_t X, uint32_t Y, int) { return Y * 20 + X; };
    cases[2].Page.Tags = [&](TIFF* Tiff) {
        TIFFSetField(Tiff, TIFFTAG_COLORMAP, colormap.data(), colormap.data() + 256, colormap.data() + 512);
    };
    cases[3] = cases[2];
    cases[3].Name = "palette in tiles";
    cases[3].Page.Tile = 16;
    cases[4].Name = "large RGB in one strip";
    cases[4].Page.Width = 1500;
    cases[4].Page.Height = 1400;
    cases[4].Page.RowsPerStrip = 1400;
    cases[4].Page.Compression = COMPRESSION_LZW;
    cases[4].Page.Sample = [](uint32_t X, uint32_t Y, int S) {
        return S == 0 ? X & 0xFF : S == 1 ? Y & 0xFF : (X >> 8) | (Y >> 8) << 4;
    };
    for (TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TDecoded stored = Decode(Written(c.Page));
        for (const TShownCorners& corners : ShownCorners) {
            SCOPED_TRACE(corners.Value);
            c.Page.Orientation = corners.Value;
            ExpectTurned(stored, Decode(Written(c.Page)), corners);
        }
    }
}

TEST(Tiff, TurnedYCbCrIsSplitAtItsBlocks)
{
    // Strips of subsampled YCbCr taller than a block of turned rows: the
    // blocks start at rows of its 2 x 2 blocks.
    const auto sample = [](uint32_t X, uint32_t Y, int S) {
        return S == 0 ? Varied(X, Y, 0, 255) : 96 + (X / 2 + Y / 2 * 3 + uint32_t(S)) % 64;
    };
    const TDecoded stored = Decode(YCbCrFile(1100, 1000, 1000, ORIENTATION_TOPLEFT, sample));
    for (const TShownCorners& corners : ShownCorners) {
        SCOPED_TRACE(corners.Value);
        ExpectTurned(stored, Decode(YCbCrFile(1100, 1000, 1000, corners.Value, sample)), corners);
    }
}

// ---- The files of the reports ----

TEST(Tiff, DamagedBigTiffIsRefusedBeforeAnyPixel)
{
    // A damaged big-endian BigTIFF of grey and alpha: strip offsets far
    // past its end, byte counts libtiff recomputes, tags out of order and
    // one of type 0. libtiff once wrote past a heap block decoding it.
    const TDecoded decoded = Decode(Fixture("tiff_qt_heap_overflow.tif"));
    EXPECT_EQ(decoded.Width, 0);
    EXPECT_EQ(decoded.Height, 0);
    EXPECT_EQ(decoded.Failure, "Strip 0 runs past the end of the file");
}

TEST(Tiff, UncompressedTilesDecode)
{
    // Written by tiffcp -t: 37 x 23 in tiles of 16 x 16, side by side, one
    // after the other from byte 8 on. The samples are read off the file.
    struct TCase {
        const char* Name;
        int Samples;
    };
    for (const TCase c : {TCase{"ga8_tile_none.tif", 2}, TCase{"rgb_tile_none.tif", 3}}) {
        SCOPED_TRACE(c.Name);
        const TBytes file = Fixture(c.Name);
        const TDecoded decoded = Decode(file);
        ASSERT_EQ(decoded.Width, 37);
        ASSERT_EQ(decoded.Height, 23);
        ExpectPixels(decoded, [&](uint32_t X, uint32_t Y) {
            const size_t tile = Y / 16 * 3 + X / 16;
            const uint8_t* s = file.data() + 8 + tile * 256 * size_t(c.Samples) +
                               (size_t(Y % 16) * 16 + X % 16) * size_t(c.Samples);
            return c.Samples == 2 ? Argb(s[1], s[0], s[0], s[0]) : Argb(255, s[0], s[1], s[2]);
        });
    }
}

TEST(Tiff, StripRunningPastTheEndOfTheFileWithItsRowsInItDecodes)
{
    // One strip of 52 x 53 RGBA rows claiming 35 MB: stored as they are,
    // the rows are all libtiff reads; compressed, it reads the 35 MB.
    constexpr uint32_t W = 52, H = 53;
    QByteArray rows;
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x)
            for (int s = 0; s < 4; ++s)
                rows.append(char(Varied(x, y, s, 255)));
    for (const bool big : {false, true})
        for (const bool bigEndian : {false, true})
            for (const uint64_t compression : {COMPRESSION_NONE, COMPRESSION_ADOBE_DEFLATE}) {
                SCOPED_TRACE(testing::Message() << (big ? "BigTIFF" : "classic") << (bigEndian ? ", big-endian" : "")
                                                << ", compression " << compression);
                const uint16_t offsetType = big ? 16 : 4;
                const std::vector<TTiffTag> tags = {
                    {256, 4, {W}},           {257, 4, {H}},
                    {258, 3, {8, 8, 8, 8}},  {259, 3, {compression}},
                    {262, 3, {2}},           {273, offsetType, {TiffDataOffset(big)}},
                    {277, 3, {4}},           {278, 4, {H}},
                    {279, offsetType, {35'000'000}}, {338, 3, {2}}};
                const bool stored = compression == COMPRESSION_NONE;
                const TBytes file = Bytes(TiffFile(tags, stored ? rows : qCompress(rows).mid(4), big, bigEndian));
                if (stored)
                    ExpectPixels(Decode(file), [](uint32_t X, uint32_t Y) {
                        return Argb(Varied(X, Y, 3, 255), Varied(X, Y, 0, 255), Varied(X, Y, 1, 255),
                                    Varied(X, Y, 2, 255));
                    });
                else
                    EXPECT_EQ(Decode(file).Failure, "Strip 0 runs past the end of the file");
            }
}

// ---- What holds for every file ----

TEST(Tiff, TheFirstPageIsRead)
{
    TPage first;
    first.Sample = [](uint32_t X, uint32_t Y, int S) { return Varied(X, Y, S, 255); };
    TPage second = first;
    second.Width = 60;
    second.Sample = [](uint32_t, uint32_t, int) { return 9u; };
    ExpectPixels(Decode(Written({first, second})), [](uint32_t X, uint32_t Y) {
        return Argb(255, Varied(X, Y, 0, 255), Varied(X, Y, 1, 255), Varied(X, Y, 2, 255));
    });
}

TEST(Tiff, ColourProfilesAreMatchedToSrgb)
{
    // RGB and grey with an Adobe RGB profile come out as Qt converts them.
    for (const uint16_t photometric : {uint16_t(PHOTOMETRIC_RGB), uint16_t(PHOTOMETRIC_MINISBLACK)}) {
        SCOPED_TRACE(photometric);
        const QByteArray profile = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
        TPage page;
        page.Photometric = photometric;
        page.Samples = photometric == PHOTOMETRIC_RGB ? 3 : 1;
        page.Sample = [](uint32_t X, uint32_t Y, int S) { return Varied(X, Y, S, 255); };
        page.Tags = [&](TIFF* Tiff) {
            TIFFSetField(Tiff, TIFFTAG_ICCPROFILE, uint32_t(profile.size()), profile.constData());
        };
        QImage expected(int(page.Width), int(page.Height), QImage::Format_RGB32);
        for (uint32_t y = 0; y < page.Height; ++y)
            for (uint32_t x = 0; x < page.Width; ++x) {
                const uint32_t r = Varied(x, y, 0, 255);
                expected.setPixel(int(x), int(y), page.Samples == 1 ? qRgb(int(r), int(r), int(r))
                                                                    : qRgb(int(r), int(Varied(x, y, 1, 255)),
                                                                           int(Varied(x, y, 2, 255))));
            }
        expected.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
        expected.convertToColorSpace(QColorSpace(QColorSpace::SRgb));
        const TDecoded decoded = Decode(Written(page));
        ExpectPixels(decoded, [&](uint32_t X, uint32_t Y) { return uint32_t(expected.pixel(int(X), int(Y))); }, 1);
        EXPECT_TRUE(decoded.Opaque);
        EXPECT_GT(Difference(decoded.At(3, 3), Argb(255, Varied(3, 3, 0, 255), Varied(3, 3, 1, 255),
                                                     page.Samples == 1 ? Varied(3, 3, 0, 255) : Varied(3, 3, 2, 255))),
                  1);
    }
}

// Counts the reads of a stream and their largest.
class TCountingStream : public TStreamAdapter {
public:
    using TStreamAdapter::TStreamAdapter;
    HRESULT Read(void* pv, uint32_t cb, uint32_t* pcbRead) override
    {
        uint32_t got = 0;
        const HRESULT result = TStreamAdapter::Read(pv, cb, &got);
        if (pcbRead != nullptr)
            *pcbRead = got;
        ++Reads;
        Largest = std::max(Largest, cb);
        Total += got;
        return result;
    }
    int Reads = 0;
    uint32_t Largest = 0;
    uint64_t Total = 0;
};

TEST(Tiff, TheStreamIsReadInBoundedPiecesForProgress)
{
    // One strip of 6 MB stored as it is: read a piece at a time, each byte
    // once.
    TPage page;
    page.Width = 2000;
    page.Height = 1000;
    page.RowsPerStrip = 1000;
    page.Sample = [](uint32_t X, uint32_t Y, int S) { return (X + Y + uint32_t(S)) & 0xFF; };
    TMemoryStream stream(Written(page));
    TCountingStream counting(stream);
    TTiffReader reader(counting);
    ASSERT_EQ(reader.Width(), 2000);
    std::vector<uint32_t> pixels(2000 * 1000);
    ASSERT_TRUE(reader.Read(reinterpret_cast<uint8_t*>(pixels.data()), 2000 * 4));
    EXPECT_LE(counting.Largest, 1u << 20);
    EXPECT_GE(counting.Reads, 6);
    EXPECT_LT(counting.Total, uint64_t(stream.Size()) + 4096);
}

TEST(Tiff, APictureInTheMiddleOfAStreamIsReadFromItsStart)
{
    TPage page;
    page.Sample = [](uint32_t X, uint32_t Y, int S) { return Varied(X, Y, S, 255); };
    const TBytes file = Written(page);
    TMemoryStream stream;
    const TBytes before(100, 0xEE);
    stream.WriteBuffer(before.data(), int32_t(before.size()));
    stream.WriteBuffer(file.data(), int32_t(file.size()));
    stream.SetPosition(100);
    TStreamAdapter adapter(stream);
    TTiffReader reader(adapter);
    ASSERT_EQ(reader.Width(), 37);
    std::vector<uint32_t> pixels(37 * 23);
    ASSERT_TRUE(reader.Read(reinterpret_cast<uint8_t*>(pixels.data()), 37 * 4));
    EXPECT_EQ(pixels[5 * 37 + 9], Argb(255, Varied(9, 5, 0, 255), Varied(9, 5, 1, 255), Varied(9, 5, 2, 255)));
}

TEST(Tiff, ALargePictureTakesItsSurfaceAndABand)
{
    if (!Corvanith::Testing::ResidentMemoryTells)
        GTEST_SKIP() << "the sanitizer's quarantine hides what the reader keeps";
    // 4000 x 4000 RGB in strips of 16 rows: upright and turned, nothing
    // near a second picture beside the surface.
    constexpr int32_t Side = 4000;
    TPage page;
    page.Width = page.Height = Side;
    page.RowsPerStrip = 16;
    page.Compression = COMPRESSION_LZW;
    page.Sample = [](uint32_t X, uint32_t Y, int S) { return ((X >> 4) + (Y >> 4) + uint32_t(S)) & 0xFF; };
    for (const uint16_t orientation : {uint16_t(ORIENTATION_TOPLEFT), uint16_t(ORIENTATION_RIGHTTOP)}) {
        SCOPED_TRACE(orientation);
        page.Orientation = orientation;
        TMemoryStream stream(Written(page));
        TStreamAdapter adapter(stream);
        std::vector<uint32_t> surface(size_t(Side) * Side, 0);
        Corvanith::Testing::ResetResidentPeak();
        const int64_t before = Corvanith::Testing::ResidentBytes();
        TTiffReader reader(adapter);
        ASSERT_TRUE(reader.Read(reinterpret_cast<uint8_t*>(surface.data()), Side * 4));
        EXPECT_LT(Corvanith::Testing::ResidentBytes("VmHWM:") - before, int64_t(16) << 20);
    }
}

TEST(Tiff, NothingReachesTheTerminal)
{
    // libtiff's complaints about damaged files become the reader's failure.
    TBytes cutDirectory = Written([] {
        TPage page;
        page.Sample = [](uint32_t X, uint32_t Y, int S) { return Varied(X, Y, S, 255); };
        return page;
    }());
    cutDirectory.resize(cutDirectory.size() - 20);
    TBytes badCompression = Bytes(TiffFile({{256, 4, {4}}, {257, 4, {4}}, {259, 3, {12345}}, {273, 4, {8}},
                                            {279, 4, {16}}},
                                           QByteArray(16, 'x'), false));
    fflush(stderr);
    const int saved = dup(2);
    char name[] = "/tmp/tiffstderrXXXXXX";
    const int captured = mkstemp(name);
    ASSERT_GE(captured, 0);
    dup2(captured, 2);
    std::vector<std::string> failures;
    for (const TBytes& file : {cutDirectory, badCompression, Fixture("tiff_qt_heap_overflow.tif")}) {
        const TDecoded decoded = Decode(file);
        failures.push_back(decoded.Failure);
        EXPECT_FALSE(decoded.Read);
    }
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    EXPECT_EQ(lseek(captured, 0, SEEK_END), 0);
    close(captured);
    unlink(name);
    for (const std::string& failure : failures)
        EXPECT_FALSE(failure.empty());
    EXPECT_EQ(failures[1], "Compression scheme 12345 is not supported");
}

TEST(Tiff, WhatLibtiffCannotDecodeIsRefusedWithItsReason)
{
    struct TCase {
        const char* Name;
        uint64_t Bits;
        uint64_t Format;
        const char* Failure;
    };
    const TCase cases[] = {
        {"16-bit floating-point samples", 16, SAMPLEFORMAT_IEEEFP,
         "Sorry, can not handle images with IEEE floating-point samples"},
        {"12-bit samples", 12, SAMPLEFORMAT_UINT, "Sorry, can not handle images with 12-bit samples"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TDecoded decoded = Decode(Bytes(TiffFile({{256, 4, {4}}, {257, 4, {4}}, {258, 3, {c.Bits}}, {259, 3, {1}},
                                                        {262, 3, {1}}, {273, 4, {8}}, {277, 3, {1}}, {279, 4, {64}},
                                                        {339, 3, {c.Format}}},
                                                       QByteArray(64, '\0'), false)));
        EXPECT_EQ(decoded.Width, 0);
        EXPECT_EQ(decoded.Failure, c.Failure);
    }
}

// ---- Files that cannot hold what they claim ----

// Written by Qt's TIFF writer (libtiff's, with its defaults).
TBytes QtTiff(const QImage& Image, int Compression = 0)
{
    const QByteArray file =
        Corvanith::Tests::Written(Image, "tiff", [&](QImageWriter& Writer) { Writer.setCompression(Compression); });
    EXPECT_FALSE(file.isEmpty());
    return Bytes(file);
}

void ExpectDecodes(const TBytes& File, const QImage& Source)
{
    const TDecoded decoded = Decode(File);
    ASSERT_EQ(decoded.Width, Source.width());
    ASSERT_EQ(decoded.Height, Source.height());
    const QImage argb = Source.convertToFormat(QImage::Format_ARGB32);
    ExpectPixels(decoded, [&](uint32_t X, uint32_t Y) { return uint32_t(argb.pixel(int(X), int(Y))); });
}

// Sets a tag of the first directory of a little-endian classic TIFF.
void SetTiffTag(TBytes& Tiff, uint16_t Tag, uint32_t Value)
{
    ASSERT_EQ(Tiff[0], 'I');
    const auto at = [&](size_t I, int Bytes) {
        uint32_t v = 0;
        for (int k = Bytes - 1; k >= 0; --k)
            v = v << 8 | Tiff[I + size_t(k)];
        return v;
    };
    const size_t directory = at(4, 4);
    for (uint32_t e = 0; e < at(directory, 2); ++e) {
        const size_t entry = directory + 2 + 12 * size_t(e);
        if (at(entry, 2) != Tag)
            continue;
        const int bytes = at(entry + 2, 2) == 3 ? 2 : 4;
        for (int k = 0; k < bytes; ++k)
            Tiff[entry + 8 + size_t(k)] = uint8_t(Value >> (8 * k));
        return;
    }
    FAIL() << "no tag " << Tag;
}

TEST(Tiff, QtsTiffsDecode)
{
    for (const int compression : {0, 1}) {
        SCOPED_TRACE(compression == 0 ? "uncompressed" : "LZW");
        ExpectDecodes(QtTiff(Detailed(64, 48), compression), Detailed(64, 48));
        ExpectDecodes(QtTiff(Detailed(1000, 700), compression), Detailed(1000, 700));
    }
    QImage flat(4000, 4000, QImage::Format_RGB32);
    flat.fill(0xFF336699u);
    ExpectDecodes(QtTiff(flat, 1), flat);
    // Opaque and translucent pixels, the faintest among them.
    QImage fixture(4, 3, QImage::Format_ARGB32);
    const uint32_t colours[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF, 0xFF000000, 0xFF808080,
                                0x80FF0000, 0x00000000, 0x40123456, 0xFFABCDEF, 0x01FFFFFF, 0xFF102030};
    for (int i = 0; i < 12; ++i)
        fixture.setPixel(i % 4, i / 4, colours[i]);
    ExpectDecodes(QtTiff(fixture), fixture);
    EXPECT_FALSE(Decode(QtTiff(fixture)).Opaque);
    const QImage opaque = fixture.convertToFormat(QImage::Format_RGB32);
    ExpectDecodes(QtTiff(opaque), opaque);
    EXPECT_TRUE(Decode(QtTiff(opaque)).Opaque);
}

TEST(Tiff, GreyWithAlphaKeepsItsAlpha)
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
        const auto wide = [&](uint8_t Value) { return c.Bits == 8 ? Value : uint32_t(Value << 8 | 0x80); };
        const auto put = [&](QByteArray& To, uint8_t Value) {
            const uint32_t v = wide(Value);
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
                    offsets.push_back(TiffDataOffset(false) + uint64_t(data.size()));
                    for (uint32_t y = top; y < top + pieceHeight; ++y)
                        for (uint32_t x = left; x < left + pieceWidth; ++x)
                            for (const int which : {0, 1})
                                if (plane < 0 || plane == which)
                                    put(data, x < W && y < H ? sample(x, y, which) : 0);
                    counts.push_back(TiffDataOffset(false) + uint64_t(data.size()) - offsets.back());
                }
        std::vector<TTiffTag> tags = {{256, 4, {W}},  {257, 4, {H}},      {258, 3, {c.Bits, c.Bits}}, {259, 3, {1}},
                                      {262, 3, {c.Photometric}},          {277, 3, {2}},
                                      {284, 3, {c.Planes ? 2u : 1u}},     {338, 3, {c.ExtraSample}}};
        if (c.Tiled)
            tags.insert(tags.end(), {{322, 3, {Tile}}, {323, 3, {Tile}}, {324, 4, offsets}, {325, 4, counts}});
        else
            tags.insert(tags.end(), {{273, 4, offsets}, {278, 4, {H}}, {279, 4, counts}});
        const TDecoded decoded = Decode(Bytes(TiffFile(tags, data, false, c.BigEndian)));
        EXPECT_FALSE(decoded.Opaque);
        // Premultiplied and 16-bit samples come back within one step of
        // what they stand for, premultiplied ones divided out at the depth
        // they are stored in.
        const uint32_t max = c.Bits == 8 ? 255 : 65535;
        ExpectPixels(
            decoded,
            [&](uint32_t X, uint32_t Y) {
                uint32_t g = grey(X, Y);
                if (c.ExtraSample == 1) {
                    const uint32_t stored = wide(sample(X, Y, 0));
                    const double premultiplied = c.Photometric == 0 ? max - stored : stored;
                    g = uint32_t(std::lround(std::min(1.0, premultiplied / wide(alpha(X, Y))) * 255));
                }
                return Argb(alpha(X, Y), g, g, g);
            },
            1);
        for (uint32_t y = 0; y < H; ++y)
            for (uint32_t x = 0; x < W; ++x)
                EXPECT_EQ(decoded.At(int32_t(x), int32_t(y)) >> 24, alpha(x, y));
    }
}

// Refused from its directory, before any buffer of its size: the peak
// resident size, set back to the current one, shows that nothing large was
// taken.
void ExpectRefusedBeforeItsPixels(const TBytes& File)
{
    Corvanith::Testing::ResetResidentPeak();
    const int64_t before = Corvanith::Testing::ResidentBytes();
    TMemoryStream stream(File);
    TStreamAdapter adapter(stream);
    const TTiffReader reader(adapter);
    EXPECT_EQ(reader.Width(), 0);
    EXPECT_EQ(reader.Height(), 0);
    EXPECT_FALSE(reader.Failure().empty());
    if (Corvanith::Testing::ResidentMemoryTells) {
        EXPECT_LT(Corvanith::Testing::ResidentBytes("VmHWM:") - before, int64_t(16) << 20);
    }
}

TEST(Tiff, FrameLargerThanItsStripsIsRefused)
{
    for (const int compression : {0, 1}) {
        SCOPED_TRACE(compression == 0 ? "uncompressed" : "LZW");
        TBytes grown = QtTiff(Detailed(64, 64), compression);
        SetTiffTag(grown, 256, 15000);
        SetTiffTag(grown, 257, 15000);
        // Too few strips for the rows it claims.
        ExpectRefusedBeforeItsPixels(grown);
        // One strip for all rows, far too short for them.
        SetTiffTag(grown, 278, 15000);
        ExpectRefusedBeforeItsPixels(grown);
        // The one strip of a small picture, moved to run past the end.
        TBytes beyond = QtTiff(Detailed(16, 16), compression);
        SetTiffTag(beyond, 273, uint32_t(beyond.size() - 16));
        ExpectRefusedBeforeItsPixels(beyond);
    }
}

// The tags of a Width x Height picture of 8-bit grey in strips of Rows
// rows, whose Offsets and Counts are given (none: the tag is left out).
std::vector<TTiffTag> GreyStrips(uint32_t Width, uint32_t Height, uint32_t Rows, uint64_t Compression, bool Big,
                                 std::vector<uint64_t> Offsets, std::vector<uint64_t> Counts)
{
    const uint16_t offsetType = Big ? 16 : 4;
    std::vector<TTiffTag> tags = {{256, 4, {Width}}, {257, 4, {Height}}, {258, 3, {8}}, {259, 3, {Compression}},
                                  {262, 3, {1}},     {277, 3, {1}},      {278, 4, {Rows}}};
    tags.push_back({273, offsetType, std::move(Offsets)});
    if (!Counts.empty())
        tags.push_back({279, offsetType, std::move(Counts)});
    return tags;
}

// A grey picture whose samples the test knows, as the rows of a file.
struct TGreyPicture {
    QImage Image;
    QByteArray Samples;

    TGreyPicture(int Width, int Height) : Image(Width, Height, QImage::Format_RGB32)
    {
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x) {
                const auto v = uint8_t(x * 5 + y * 3);
                Samples.append(char(v));
                Image.setPixel(x, y, qRgb(v, v, v));
            }
    }
};

TEST(Tiff, StripsThatCannotBeBoundedAreRefusedBeforeAnySurface)
{
    const QByteArray few(40, '\x80');
    for (const bool big : {false, true}) {
        SCOPED_TRACE(big ? "BigTIFF" : "classic");
        const uint64_t data = TiffDataOffset(big);
        struct TCase {
            const char* Name;
            uint32_t Side;
            uint64_t Compression;
            std::vector<uint64_t> Counts;
        };
        // Each claims a side of Side pixels from 40 bytes; without byte
        // counts libtiff takes the rest of the file for the one strip.
        const TCase cases[] = {
            {"uncompressed without byte counts", 16000, 1, {}},
            {"LZW without byte counts", 16000, 5, {}},
            {"LZW", 16000, 5, {40}},
            {"a scheme libtiff does not know", 16000, 12345, {40}},
            {"a small picture in a scheme libtiff does not know", 4, 12345, {16}},
        };
        for (const TCase& c : cases) {
            SCOPED_TRACE(c.Name);
            ExpectRefusedBeforeItsPixels(
                Bytes(TiffFile(GreyStrips(c.Side, c.Side, c.Side, c.Compression, big, {data}, c.Counts), few, big)));
        }
        // Deflate without byte counts: the rest of the file may hold it, but
        // does not.
        EXPECT_FALSE(Decodes(Bytes(TiffFile(GreyStrips(100, 100, 100, 8, big, {data}, {}), few, big))));
        // Rows stored as they are need no counts while they lie in the
        // file: libtiff works them out from the picture's size.
        const TGreyPicture grey(64, 48);
        ExpectDecodes(Bytes(TiffFile(GreyStrips(64, 48, 48, 1, big, {data}, {}), grey.Samples, big)), grey.Image);
        // The strip moved on by more than the directory after it holds.
        EXPECT_FALSE(Decodes(Bytes(TiffFile(GreyStrips(64, 48, 48, 1, big, {data + 400}, {}), grey.Samples, big))));
    }
}

TEST(Tiff, BigTiffIsCheckedAsClassicTiff)
{
    const TGreyPicture grey(40, 24);
    const uint64_t data = TiffDataOffset(true);
    for (const bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        // Strips of 10 rows, offsets and counts as LONG8 beyond the entries.
        const auto strips = [&](uint32_t Width, uint32_t Height, uint64_t LastCount) {
            const std::vector<uint64_t> offsets = {data, data + 400, data + 800}, counts = {400, 400, LastCount};
            return Bytes(
                TiffFile(GreyStrips(Width, Height, 10, 1, true, offsets, counts), grey.Samples, true, bigEndian));
        };
        ExpectDecodes(strips(40, 24, 160), grey.Image);
        // Too few strips for the rows claimed.
        ExpectRefusedBeforeItsPixels(strips(15000, 15000, 160));
        // Counts running past the end, the rows themselves in the file.
        ExpectDecodes(strips(40, 24, 1 << 20), grey.Image);
        ExpectDecodes(strips(40, 24, uint64_t(1) << 62), grey.Image);

        // Tiles of 16 x 16, Deflate-compressed, offsets and counts as LONG.
        QByteArray tiles;
        std::vector<uint64_t> offsets, counts;
        for (int ty = 0; ty < 24; ty += 16)
            for (int tx = 0; tx < 40; tx += 16) {
                QByteArray tile;
                for (int y = ty; y < ty + 16; ++y)
                    for (int x = tx; x < tx + 16; ++x)
                        tile.append(x < 40 && y < 24 ? grey.Samples[y * 40 + x] : '\0');
                offsets.push_back(data + uint64_t(tiles.size()));
                tiles += qCompress(tile, 9).mid(4);
                counts.push_back(uint64_t(tiles.size()) + data - offsets.back());
            }
        std::vector<TTiffTag> tags = {{256, 4, {40}},    {257, 4, {24}},   {258, 3, {8}},  {259, 3, {8}},
                                      {262, 3, {1}},     {277, 3, {1}},    {322, 3, {16}}, {323, 3, {16}},
                                      {324, 4, offsets}, {325, 4, counts}};
        ExpectDecodes(Bytes(TiffFile(tags, tiles, true, bigEndian)), grey.Image);
        // The same tiles for a picture of 4000 x 4000.
        tags[0].Values = tags[1].Values = {4000};
        ExpectRefusedBeforeItsPixels(Bytes(TiffFile(tags, tiles, true, bigEndian)));
    }
}

TEST(Tiff, TilesFarLargerThanThePictureAreRefusedBeforeAnyBuffer)
{
    // A 16 x 16 picture in one LZW tile of 65536 x 65536 pixels: 12 GiB of
    // samples for the one tile. A tile of 256 x 256 is common for such a
    // picture.
    const QByteArray lzw = QByteArray::fromHex("800000");
    for (const uint32_t tile : {65536u, 256u}) {
        SCOPED_TRACE(tile);
        const TBytes file = Bytes(TiffFile({{256, 4, {16}}, {257, 4, {16}}, {258, 3, {8, 8, 8}}, {259, 3, {5}},
                                            {262, 3, {2}}, {277, 3, {3}}, {322, 4, {tile}}, {323, 4, {tile}},
                                            {324, 4, {8}}, {325, 4, {3}}},
                                           lzw, false));
        if (tile > 256)
            ExpectRefusedBeforeItsPixels(file);
        else
            EXPECT_EQ(Decode(file).Width, 16);
    }
}

TEST(Tiff, AHugeSideIsRefusedBeforeItsPixels)
{
    // As many pixels as the largest square holds, in one column; and a
    // picture beyond the square.
    for (const auto& [width, height] : {std::pair{1u, 256000000u}, std::pair{16001u, 16000u}}) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        ExpectRefusedBeforeItsPixels(
            Bytes(TiffFile(GreyStrips(width, height, height, 1, false, {8}, {1}), "x", false)));
    }
}

TEST(Tiff, FilesCutShortAreRefused)
{
    // Without its last bytes a file may still hold every pixel: then it
    // gives exactly those pixels.
    const QImage image = Detailed(64, 48);
    for (const int compression : {0, 1}) {
        const TBytes file = QtTiff(image, compression);
        const size_t size = file.size();
        for (const size_t length : {size - 1, size * 9 / 10, size * 3 / 4, size / 2, size / 4, size_t(40)}) {
            SCOPED_TRACE(testing::Message() << compression << " cut to " << length << " of " << size);
            const TDecoded decoded = Decode(TBytes(file.begin(), file.begin() + ptrdiff_t(length)));
            if (decoded.Read)
                ExpectDecodes(TBytes(file.begin(), file.begin() + ptrdiff_t(length)), image);
            else
                EXPECT_FALSE(decoded.Failure.empty());
        }
    }
}

// ---- Fuzzing ----

// Small files of every kind the reader takes, and the files of the reports.
std::vector<TBytes> FuzzSeeds()
{
    std::vector<TBytes> seeds = {Fixture("tiff_qt_heap_overflow.tif"), Fixture("ga8_tile_none.tif"),
                                 Fixture("rgb_tile_none.tif")};
    for (const TStoredKind& kind : {StoredKinds[4], StoredKinds[6], StoredKinds[7]}) {
        TStoredPicture picture = StoredPicture(kind, 16);
        picture.Page.Width = 20;
        picture.Page.Height = 10;
        picture.Page.Compression = COMPRESSION_LZW;
        picture.Page.Orientation = ORIENTATION_LEFTBOT;
        seeds.push_back(Written(picture.Page));
        picture.Page.Tile = 16;
        picture.Page.Planar = PLANARCONFIG_SEPARATE;
        picture.Page.Compression = COMPRESSION_ADOBE_DEFLATE;
        seeds.push_back(Written(picture.Page, true, true));
    }
    const auto varied = [](uint32_t Max) {
        return [Max](uint32_t X, uint32_t Y, int S) { return Varied(X, Y, S, Max); };
    };
    std::vector<uint16_t> colormap(3 * 16, 0x8000);
    TPage palette;
    palette.Width = 20;
    palette.Height = 18;
    palette.Photometric = PHOTOMETRIC_PALETTE;
    palette.Bits = 4;
    palette.Samples = 1;
    palette.Tile = 16;
    palette.Sample = varied(15);
    palette.Tags = [&](TIFF* Tiff) {
        TIFFSetField(Tiff, TIFFTAG_COLORMAP, colormap.data(), colormap.data() + 16, colormap.data() + 32);
    };
    seeds.push_back(Written(palette));
    TPage cmyk;
    cmyk.Width = 20;
    cmyk.Height = 10;
    cmyk.Photometric = PHOTOMETRIC_SEPARATED;
    cmyk.Samples = 4;
    cmyk.Planar = PLANARCONFIG_SEPARATE;
    cmyk.Compression = COMPRESSION_PACKBITS;
    cmyk.Sample = varied(255);
    seeds.push_back(Written(cmyk, true));
    TPage fax;
    fax.Width = 40;
    fax.Height = 12;
    fax.Photometric = PHOTOMETRIC_MINISWHITE;
    fax.Bits = 1;
    fax.Samples = 1;
    fax.Compression = COMPRESSION_CCITTFAX4;
    fax.Sample = varied(1);
    seeds.push_back(Written(fax));
    TPage jpeg;
    jpeg.Width = 24;
    jpeg.Height = 20;
    jpeg.Photometric = PHOTOMETRIC_YCBCR;
    jpeg.Compression = COMPRESSION_JPEG;
    jpeg.Tile = 16;
    jpeg.Sample = varied(255);
    jpeg.Tags = [](TIFF* Tiff) { TIFFSetField(Tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB); };
    seeds.push_back(Written(jpeg));
    seeds.push_back(YCbCrFile(20, 10, 4, ORIENTATION_RIGHTTOP, varied(255)));
    return seeds;
}

TEST(Tiff, DamagedFilesAreRefusedOrDecodedSafely)
{
    // Each is refused with a reason, or decodes; the sanitizers' builds
    // watch every access.
    const std::vector<TBytes> seeds = FuzzSeeds();
    Corvanith::Tests::TMutator mutator(20240611, {0, 1, 2, 3, 8, 16, 255, 256, 0x7FFF, 0xFFFF, 0x10000, 0x7FFFFFFF,
                                                  0x80000000, 0xFFFFFFFF});
    int decoded = 0, refused = 0;
    for (int i = 0; i < 500; ++i) {
        TBytes file = seeds[size_t(i) % seeds.size()];
        for (size_t changes = 1 + mutator.Below(6); changes > 0; --changes)
            mutator.Mutate(file);
        TMemoryStream stream(file);
        TStreamAdapter adapter(stream);
        TTiffReader reader(adapter);
        // Within what a test may take: the decoder takes larger ones.
        if (int64_t(reader.Width()) * reader.Height() > 4'000'000)
            continue;
        bool read = false;
        if (reader.Width() > 0) {
            std::vector<uint32_t> pixels(size_t(reader.Width()) * size_t(reader.Height()));
            read = reader.Read(reinterpret_cast<uint8_t*>(pixels.data()), reader.Width() * 4);
        }
        ++(read ? decoded : refused);
        EXPECT_EQ(reader.Failure().empty(), read) << "input " << i;
    }
    EXPECT_GT(decoded, 20);
    EXPECT_GT(refused, 20);
}

} // namespace
