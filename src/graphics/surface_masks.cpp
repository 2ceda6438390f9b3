// Preserve-mask strokes: a brush image stamps or erases paint in the mask.
#include "graphics/surface.h"

namespace Corvanith::Graphics {

namespace {

constexpr uint8_t SoftEdgeAlpha = 50;

} // namespace

void PaintMaskRow(TCorvColor* Dest, const TCorvColor* Source, int32_t Count)
{
    for (int32_t i = 0; i < Count; ++i) {
        const uint8_t s = AlphaOf(Source[i]);
        if (s == 0)
            continue;
        if (s > SoftEdgeAlpha)
            Dest[i] = MaskCorePaint;
        else if (AlphaOf(Dest[i]) != AlphaOf(MaskCorePaint))
            Dest[i] = MaskSoftPaint;
    }
}

void EraseMaskRow(TCorvColor* Dest, const TCorvColor* Source, int32_t Count)
{
    for (int32_t i = 0; i < Count; ++i) {
        const uint8_t s = AlphaOf(Source[i]);
        if (s == 0)
            continue;
        if (s > SoftEdgeAlpha)
            Dest[i] = MaskUnpainted;
        else if (AlphaOf(Dest[i]) != 0)
            Dest[i] = MaskSoftPaint;
    }
}

void TCorvSurface::PaintMaskTo(TCorvSurface& Mask, int32_t X, int32_t Y, const TCorvRectangle& SrcRect) const
{
    for (int32_t i = 0; i < SrcRect.Height; ++i)
        PaintMaskRow(Mask.GetPixelPtr(X, Y + i), GetPixelPtr(SrcRect.X, SrcRect.Y + i), SrcRect.Width);
}

void TCorvSurface::EraseMaskTo(TCorvSurface& Mask, int32_t X, int32_t Y, const TCorvRectangle& SrcRect) const
{
    for (int32_t i = 0; i < SrcRect.Height; ++i)
        EraseMaskRow(Mask.GetPixelPtr(X, Y + i), GetPixelPtr(SrcRect.X, SrcRect.Y + i), SrcRect.Width);
}

} // namespace Corvanith::Graphics
