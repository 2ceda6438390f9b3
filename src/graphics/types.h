#pragma once
// Value types shared by the whole imaging core.
#include <cstdint>
#include <memory>
#include <vector>

namespace Corvanith::Graphics {

// $AARRGGBB, bytes B, G, R, A in memory, straight (not premultiplied) alpha.
using TCorvColor = uint32_t;

// A run of gradient colours; shared by reference and never changed once handed out.
using TCorvColorArray = std::shared_ptr<const std::vector<TCorvColor>>;

struct TCorvPoint {
    int32_t X = 0;
    int32_t Y = 0;
    friend bool operator==(const TCorvPoint&, const TCorvPoint&) = default;
};

// A seam lists one point per column from the last column to column 0
// (horizontal) or one point per row from the bottom row to the top (vertical).
using TCorvPointArray = std::vector<TCorvPoint>;

constexpr uint8_t AlphaOf(TCorvColor c) { return uint8_t(c >> 24); }

} // namespace Corvanith::Graphics
