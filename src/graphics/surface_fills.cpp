// Fills, copies and blends over rectangles and point lists: every method walks
// the rows of its rectangle and hands each row to a row kernel.
#include "graphics/surface.h"

#include "graphics/rowkernels.h"

namespace Corvanith::Graphics {

void TCorvSurface::FillRect(const TCorvRectangle& Rect, TCorvColor Color)
{
    if (Rect.IsEmpty())
        return;
    for (int32_t y = Rect.Y; y < Rect.Y + Rect.Height; ++y)
        FillLongword(GetPixelPtr(Rect.X, y), Color, Rect.Width);
    FenceStreamingStores();
}

void TCorvSurface::BlendFillRect(const TCorvRectangle& Rect, TCorvColor Color)
{
    if (Rect.IsEmpty())
        return;
    for (int32_t y = Rect.Y; y < Rect.Y + Rect.Height; ++y)
        BlendColorLine(GetPixelPtr(Rect.X, y), Color, Rect.Width);
}

void TCorvSurface::FillPoints(const TCorvPointArray& Points, TCorvColor Color)
{
    for (const TCorvPoint& p : Points)
        *GetPixelPtr(p.X, p.Y) = Color;
}

void TCorvSurface::FillCheckerboard(const TCorvRectangle& Rect, int32_t OffsetX, int32_t OffsetY)
{
    if (Rect.IsEmpty())
        return;
    constexpr TCorvColor Grey = 0xFFBFBFBF;
    constexpr TCorvColor White = 0xFFFFFFFF;
    for (int32_t y = Rect.Y; y < Rect.Y + Rect.Height; ++y) {
        TCorvColor* row = GetPixelPtr(Rect.X, y);
        const uint32_t py = uint32_t(y) + uint32_t(OffsetY);
        for (int32_t i = 0; i < Rect.Width; ++i) {
            const uint32_t px = uint32_t(Rect.X + i) + uint32_t(OffsetX);
            row[i] = ((px ^ py) & 8) != 0 ? White : Grey;
        }
    }
}

void TCorvSurface::CopyTo(TCorvSurface& Dest, int32_t X, int32_t Y, const TCorvRectangle& SrcRect) const
{
    if (SrcRect.IsEmpty())
        return;
    for (int32_t i = 0; i < SrcRect.Height; ++i)
        MoveLongwordStreaming(Dest.GetPixelPtr(X, Y + i), GetPixelPtr(SrcRect.X, SrcRect.Y + i), SrcRect.Width);
    FenceStreamingStores();
}

void TCorvSurface::AlphaBlendTo(TCorvSurface& Dest, int32_t X, int32_t Y, const TCorvRectangle& SrcRect) const
{
    if (SrcRect.IsEmpty())
        return;
    for (int32_t i = 0; i < SrcRect.Height; ++i)
        BlendLine(Dest.GetPixelPtr(X, Y + i), GetPixelPtr(SrcRect.X, SrcRect.Y + i), SrcRect.Width);
}

void TCorvSurface::SubtractColorRect(const TCorvRectangle& Rect, TCorvColor Color)
{
    if (Rect.IsEmpty())
        return;
    for (int32_t y = Rect.Y; y < Rect.Y + Rect.Height; ++y)
        SubtractColorLine(GetPixelPtr(Rect.X, y), Color, Rect.Width);
}

void TCorvSurface::SubtractColor(TCorvColor Color) { SubtractColorRect({0, 0, FWidth, FHeight}, Color); }

} // namespace Corvanith::Graphics
