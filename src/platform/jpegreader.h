#pragma once
// JPEG pictures decoded through libjpeg itself: read from the stream
// interface in chunks, written row by row straight into the caller's buffer,
// with the work a file may ask for bounded.
#include "platform/streams.h"

#include <QColorSpace>

#include <cstdint>
#include <memory>

namespace Corvanith::Platform {

class TJpegReader {
public:
    // Reads the picture at the stream's current position up to its first
    // row: the headers, and for a file of several scans every scan, so that
    // a file asking for more than it may is refused before the caller
    // allocates anything for its pixels.
    explicit TJpegReader(IStream& Stream);
    TJpegReader(const TJpegReader&) = delete;
    TJpegReader& operator=(const TJpegReader&) = delete;
    ~TJpegReader();

    // The file was read up to its first row: a picture of Width x Height.
    bool Valid() const { return FWidth > 0; }
    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }
    // The embedded colour profile; an invalid colour space without one.
    const QColorSpace& ColourSpace() const { return FColourSpace; }

    // Width x Height opaque pixels as B, G, R, A into Bits, Stride bytes a
    // row, as stored (no profile applied). False when the data is damaged or
    // ends before the picture does. The stream's position is undefined after.
    bool Read(uint8_t* Bits, int32_t Stride);

private:
    class TDecompress;

    std::unique_ptr<TDecompress> FDecompress;
    int32_t FWidth = 0;
    int32_t FHeight = 0;
    QColorSpace FColourSpace;
};

} // namespace Corvanith::Platform
