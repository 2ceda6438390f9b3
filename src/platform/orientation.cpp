#include "platform/orientation.h"

#include <algorithm>
#include <cstring>

namespace Corvanith::Platform {

namespace {

bool Swaps(TOrientation Orientation) { return uint8_t(Orientation) >= uint8_t(TOrientation::Transposed); }

} // namespace

TOrientation OrientationOf(uint32_t Value)
{
    return Value >= 1 && Value <= 8 ? TOrientation(Value) : TOrientation::Upright;
}

std::pair<int32_t, int32_t> OrientedSize(TOrientation Orientation, int32_t Width, int32_t Height)
{
    return Swaps(Orientation) ? std::pair{Height, Width} : std::pair{Width, Height};
}

TOrientedRows::TOrientedRows(TOrientation Orientation, int32_t Width, int32_t Height, uint8_t* Bits, int32_t Stride)
    : FOrientation(Orientation), FWidth(Width), FHeight(Height), FBits(Bits), FStride(Stride)
{
}

uint32_t* TOrientedRows::DirectRow(int32_t Y) const
{
    switch (FOrientation) {
    case TOrientation::Upright:
        return reinterpret_cast<uint32_t*>(FBits + int64_t(Y) * FStride);
    case TOrientation::MirroredVertically:
        return reinterpret_cast<uint32_t*>(FBits + int64_t(FHeight - 1 - Y) * FStride);
    default:
        return nullptr;
    }
}

// Stored pixel (x, y) is shown at (u, v):
//   1 (x, y)          2 (W-1-x, y)      3 (W-1-x, H-1-y)   4 (x, H-1-y)
//   5 (y, x)          6 (H-1-y, x)      7 (H-1-y, W-1-x)   8 (y, W-1-x)
void TOrientedRows::Put(int32_t First, int32_t Count, const uint32_t* Pixels, int64_t RowPixels)
{
    const auto shownRow = [this](int32_t V) { return reinterpret_cast<uint32_t*>(FBits + int64_t(V) * FStride); };
    if (!Swaps(FOrientation)) {
        const bool mirrored = FOrientation == TOrientation::Mirrored || FOrientation == TOrientation::Turned180;
        const bool flipped = FOrientation == TOrientation::Turned180 || FOrientation == TOrientation::MirroredVertically;
        for (int32_t i = 0; i < Count; ++i) {
            const int32_t y = First + i;
            const uint32_t* from = Pixels + i * RowPixels;
            uint32_t* to = shownRow(flipped ? FHeight - 1 - y : y);
            if (mirrored)
                std::reverse_copy(from, from + FWidth, to);
            else
                std::memcpy(to, from, size_t(FWidth) * 4);
        }
        return;
    }
    // Rows become columns: each stored column is a run of Count pixels in
    // one shown row, so the block is written a short run per row.
    const bool fromRight = FOrientation == TOrientation::TurnedClockwise || FOrientation == TOrientation::Transversed;
    const bool fromBottom =
        FOrientation == TOrientation::Transversed || FOrientation == TOrientation::TurnedCounterClockwise;
    for (int32_t x = 0; x < FWidth; ++x) {
        uint32_t* to = shownRow(fromBottom ? FWidth - 1 - x : x);
        const uint32_t* from = Pixels + x;
        if (fromRight) {
            uint32_t* at = to + (FHeight - 1 - First);
            for (int32_t i = 0; i < Count; ++i)
                at[-i] = from[i * RowPixels];
        } else {
            uint32_t* at = to + First;
            for (int32_t i = 0; i < Count; ++i)
                at[i] = from[i * RowPixels];
        }
    }
}

} // namespace Corvanith::Platform
