#include "retargeting/seam_insertion.h"

#include <algorithm>

namespace Corvanith::Graphics::Retargeting {

namespace {

// Per byte (p + q) div 2: the carry-free average of two packed pixels.
inline TCorvColor Average(TCorvColor p, TCorvColor q) { return (p & q) + (((p ^ q) & 0xFEFEFEFEu) >> 1); }

} // namespace

void BlendHorizontalSeam(TCorvSurface& Surface, const TCorvPointArray& Seam)
{
    const int32_t h = Surface.Height();
    for (const TCorvPoint& s : Seam) {
        const TCorvColor p = *Surface.GetPixelPtr(s.X, s.Y);
        const TCorvColor q = s.Y + 3 < h ? *Surface.GetPixelPtr(s.X, s.Y + 2) : p;
        *Surface.GetPixelPtr(s.X, s.Y + 1) = Average(p, q);
    }
}

void BlendVerticalSeam(TCorvSurface& Surface, const TCorvPointArray& Seam)
{
    const int32_t w = Surface.Width();
    for (const TCorvPoint& s : Seam) {
        const TCorvColor* row = Surface.GetPixelPtr(s.X, s.Y);
        const TCorvColor p = row[0];
        const TCorvColor q = s.X + 3 < w ? row[2] : p;
        Surface.GetPixelPtr(s.X, s.Y)[1] = Average(p, q);
    }
}

TCorvPointArray OffsetSeamY(const TCorvPointArray& Seam, int32_t Offset, int32_t MaxY)
{
    TCorvPointArray shifted(Seam.size());
    std::transform(Seam.begin(), Seam.end(), shifted.begin(), [&](const TCorvPoint& p) {
        return TCorvPoint{p.X, int32_t(std::clamp<int64_t>(int64_t(p.Y) + Offset, 0, std::max(MaxY, 0)))};
    });
    return shifted;
}

TCorvPointArray OffsetSeamX(const TCorvPointArray& Seam, int32_t Offset, int32_t MaxX)
{
    TCorvPointArray shifted(Seam.size());
    std::transform(Seam.begin(), Seam.end(), shifted.begin(), [&](const TCorvPoint& p) {
        return TCorvPoint{int32_t(std::clamp<int64_t>(int64_t(p.X) + Offset, 0, std::max(MaxX, 0))), p.Y};
    });
    return shifted;
}

} // namespace Corvanith::Graphics::Retargeting
