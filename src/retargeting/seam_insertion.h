#pragma once
// Helpers of seam insertion: the blend that fills the new line of pixels and
// the shifted copies of a seam that block it in the energy map.
#include "graphics/surface.h"
#include "graphics/types.h"

#include <cstdint>

namespace Corvanith::Graphics::Retargeting {

// Surface has already grown by the seam. The new pixel below each seam point
// (x, y) becomes, byte by byte and rounded down, the mean of the seam pixel and
// pixel (x, y + 2), taken only when y + 3 < Height; otherwise the seam pixel
// alone, so the picture's last row never takes part.
void BlendHorizontalSeam(TCorvSurface& Surface, const TCorvPointArray& Seam);
// The same for the new pixel right of each point, with (x + 2, y) when x + 3 < Width.
void BlendVerticalSeam(TCorvSurface& Surface, const TCorvPointArray& Seam);

// A copy of Seam with every Y (X) moved by Offset and kept within 0 .. MaxY (MaxX).
TCorvPointArray OffsetSeamY(const TCorvPointArray& Seam, int32_t Offset, int32_t MaxY);
TCorvPointArray OffsetSeamX(const TCorvPointArray& Seam, int32_t Offset, int32_t MaxX);

} // namespace Corvanith::Graphics::Retargeting
