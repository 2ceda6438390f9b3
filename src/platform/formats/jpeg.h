#pragma once
// JPEG: the file's scans checked against the least size their blocks take,
// then decoded through libjpeg itself, read from the stream in chunks and
// written row by row into their upright places in the caller's buffer, as
// the file's Exif block orients them, with the work a file may ask for
// bounded.
#include "platform/formats/format.h"
#include "platform/orientation.h"

#include <QColorSpace>

#include <memory>

namespace Corvanith::Platform {

class TJpegReader final : public TFormatReader {
public:
    // Reads the picture up to its first row: the headers, and for a file of
    // several scans every scan, so that a file asking for more than it may
    // is refused before the caller allocates anything for its pixels.
    explicit TJpegReader(IStream& Stream);
    ~TJpegReader() override;

    static bool Matches(TSignature Head);

    // Opaque pixels; false when the data ends before the picture does.
    // Damage that libjpeg mends at a restart shows as libjpeg decodes it.
    bool Read(uint8_t* Bits, int32_t Stride) override;

private:
    class TDecompress;

    std::unique_ptr<TDecompress> FDecompress;
    TOrientation FOrientation = TOrientation::Upright;
    // The embedded colour profile; an invalid colour space without one.
    QColorSpace FColourSpace;
};

} // namespace Corvanith::Platform
