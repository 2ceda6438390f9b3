#pragma once
// BMP: the file's structure checked as Qt's reader will read it, the pixels
// decoded by that reader, and the bit fields it widens wrongly stretched.
#include "platform/formats/qtformat.h"

#include <array>
#include <optional>

namespace Corvanith::Platform {

class TBmpReader final : public TQtFormatReader {
public:
    explicit TBmpReader(IStream& Stream);

    static bool Matches(TSignature Head);

private:
    void Mend(QImage& Image) override;

    // A BMP of 16-bit pixels or of bit fields: the red, green, blue and alpha
    // masks its pixels are read by.
    std::optional<std::array<uint32_t, 4>> FMasks;
};

} // namespace Corvanith::Platform
