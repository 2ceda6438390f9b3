#pragma once
// TIFF: the file's strips or tiles checked against the picture's size, the
// pixels decoded by Qt's reader, and grey with an alpha sample, which that
// reader gets wrong, read through libtiff.
#include "platform/formats/qtformat.h"

namespace Corvanith::Platform {

class TQtTiffReader final : public TQtFormatReader {
public:
    explicit TQtTiffReader(IStream& Stream);

    static bool Matches(TSignature Head);

private:
    bool Decode(QIODevice& Device, QImageReader& Reader, QImage& Image) override;

    bool FGreyAlpha = false;
};

} // namespace Corvanith::Platform
