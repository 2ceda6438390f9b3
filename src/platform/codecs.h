#pragma once
// The decode and encode half of the imaging layer: pictures are read from and
// written to a stream interface, pixels handed over as straight B, G, R, A
// rows in the caller's buffer.
#include "platform/formats/format.h"
#include "platform/guid.h"
#include "platform/streams.h"

#include <QImage>

#include <cstdint>
#include <memory>
#include <vector>

namespace Corvanith::Platform {

class TSharedBitmap;

// A picture held by the imaging layer: decoded from a stream, scaled, or
// handed over by the user interface (a pasted picture), kept in the format it
// came in.
class TBitmap {
public:
    explicit TBitmap(QImage Image, const TGuid& RawFormat = ImageFormatUndefined);

    int32_t Width() const { return FImage.width(); }
    int32_t Height() const { return FImage.height(); }
    // The format it was decoded from; ImageFormatUndefined otherwise.
    const TGuid& RawFormat() const { return FRawFormat; }

    // Width x Height pixels as straight ARGB into Bits, Stride bytes a row,
    // converted a band of rows at a time. EOutOfMemory when a band cannot be
    // converted.
    void ReadPixels(uint8_t* Bits, int32_t Stride) const;

private:
    QImage FImage;
    TGuid FRawFormat;
};

class TFormatReader;

// Decodes the picture at the stream's current position straight into the
// caller's buffer. Only BMP, GIF, JPEG, PNG and TIFF are read, recognised by
// their signatures: Qt would also take text that merely looks like an X
// bitmap for a picture. An embedded colour profile is applied (the pixels
// are sRGB). A picture that is refused or fails to decode leaves the stream
// where it was.
class TImageDecoder {
public:
    // Reads the signature and the header, and checks the file's structure;
    // a JPEG is read up to its first row.
    explicit TImageDecoder(IStream& Stream);
    TImageDecoder(const TImageDecoder&) = delete;
    TImageDecoder& operator=(const TImageDecoder&) = delete;
    ~TImageDecoder();

    // A picture of an allowed format whose size is known.
    bool Valid() const { return FWidth >= 0; }
    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }
    const TGuid& RawFormat() const { return FRawFormat; }

    // Width x Height straight ARGB pixels into Bits, Stride bytes a row;
    // false when the data does not decode or ends before the pixels do.
    // Pixels a file leaves out are zero in the reader's own format: the runs
    // a compressed BMP skips take its palette's first colour. A GIF gives its
    // first frame in its place on its screen, transparent wherever the frame
    // leaves the screen uncovered.
    bool Read(uint8_t* Bits, int32_t Stride);
    // After Read: the picture has no alpha channel, every alpha byte is 255.
    bool Opaque() const { return FOpaque; }

private:
    bool Refuse();

    IStream& FStream;
    uint64_t FStart = 0;
    std::unique_ptr<TFormatReader> FReader;
    int32_t FWidth = -1;
    int32_t FHeight = -1;
    TGuid FRawFormat = ImageFormatUndefined;
    bool FOpaque = false;
};

struct TImageCodecInfo {
    TGuid Clsid;
    TGuid FormatID;
    const char* MimeType;
    // The Qt writer's format name.
    const char* QtFormat;
};

// The encoders in their fixed order. GIF is listed, but Qt has no GIF writer,
// so encoding with it fails; BMP is written with 24 bits (no alpha).
const std::vector<TImageCodecInfo>& ImageEncoders();

// Encodes Bitmap with the encoder Clsid at the stream's current position.
// False when there is no such encoder, it fails, or a write falls short.
bool EncodeImage(const TSharedBitmap& Bitmap, IStream& Stream, const TGuid& EncoderClsid);

// The top-left SrcWidth x SrcHeight of Source scaled smoothly to Width x
// Height; with Opaque the alpha bytes are taken as 255.
std::unique_ptr<TBitmap> ScaleImage(const TSharedBitmap& Source, int32_t SrcWidth, int32_t SrcHeight, int32_t Width,
                                    int32_t Height, bool Opaque);

} // namespace Corvanith::Platform
