#pragma once
// PNG: chunk lengths and image data checked against what the file holds
// before libpng allocates for them, the pixels decoded by Qt's reader, and
// the transparent colour of 16-bit RGB, which that reader gets wrong,
// applied here.
#include "platform/formats/qtformat.h"

#include <array>
#include <optional>

namespace Corvanith::Platform {

class TPngReader final : public TQtFormatReader {
public:
    explicit TPngReader(IStream& Stream);

    static bool Matches(TSignature Head);

private:
    void Mend(QImage& Image) override;

    // A 16-bit RGB PNG with a transparent colour: the key, as libpng takes
    // it. Qt reads such a file wrongly while libpng takes a key, so every
    // "tRNS" chunk before the image data is hidden from it and the key is
    // applied here.
    std::optional<std::array<uint16_t, 3>> FColourKey;
};

} // namespace Corvanith::Platform
