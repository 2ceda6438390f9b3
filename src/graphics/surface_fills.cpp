// Fills, copies and blends over rectangles, regions and point lists: every
// method walks the rows of its rectangle and hands each row to a row kernel;
// large fills, copies and blends go to the worker threads in bands.
#include "graphics/surface.h"

#include "graphics/region.h"
#include "graphics/rowkernels.h"
#include "threading/parallizers.h"
#include "threading/threading.h"

#include <cassert>
#include <cstring>
#include <vector>

namespace Corvanith::Graphics {

void TCorvSurface::FillRect(const TCorvRectangle& Rect, TCorvColor Color)
{
    if (Rect.IsEmpty())
        return;
    if (Threading::ShouldParallelize(Rect)) {
        Parallizers::ParallelClearBlendColor(*this, Rect, Color);
        return;
    }
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

void TCorvSurface::FillRegion(TCorvRegion& Region, TCorvColor Color)
{
    for (const TCorvRectangle& r : *Region.GetRects())
        FillRect(r, Color);
}

void TCorvSurface::GradientFillRegion(TCorvRegion& Region, const TCorvRectangle& GradRect, TCorvColor Color1,
                                      TCorvColor Color2, bool Horizontal)
{
    if (Color1 == Color2) {
        FillRegion(Region, Color1);
        return;
    }
    // One gradient rectangle for all, so the region shows one gradient.
    for (const TCorvRectangle& r : *Region.GetRects())
        GradientFillRect(r, GradRect, Color1, Color2, Horizontal);
}

void TCorvSurface::FillPoints(const TCorvPointArray& Points, TCorvColor Color)
{
    for (const TCorvPoint& p : Points) {
        assert(p.X >= 0 && p.X < FWidth && p.Y >= 0 && p.Y < FHeight);
        *GetPixelPtr(p.X, p.Y) = Color;
    }
}

void TCorvSurface::FillCheckerboard(const TCorvRectangle& Rect, int32_t OffsetX, int32_t OffsetY)
{
    if (Rect.IsEmpty())
        return;
    constexpr TCorvColor Grey = 0xFFBFBFBF;
    constexpr TCorvColor White = 0xFFFFFFFF;
    // Two rows of squares alternate: each is built once and copied to its rows.
    std::vector<TCorvColor> lines[2];
    for (int phase = 0; phase < 2; ++phase) {
        lines[phase].resize(size_t(Rect.Width));
        for (int32_t i = 0; i < Rect.Width; ++i) {
            const uint32_t px = uint32_t(Rect.X + i) + uint32_t(OffsetX);
            lines[phase][size_t(i)] = ((px ^ uint32_t(phase * 8)) & 8) != 0 ? White : Grey;
        }
    }
    for (int32_t y = Rect.Y; y < Rect.Y + Rect.Height; ++y) {
        const uint32_t py = uint32_t(y) + uint32_t(OffsetY);
        std::memcpy(GetPixelPtr(Rect.X, y), lines[(py & 8) != 0 ? 1 : 0].data(), size_t(Rect.Width) * 4);
    }
}

void TCorvSurface::CopyTo(TCorvSurface& Dest, int32_t X, int32_t Y, const TCorvRectangle& SrcRect) const
{
    if (SrcRect.IsEmpty())
        return;
    if (Threading::ShouldParallelize(SrcRect)) {
        Parallizers::ParallelClearBlendSurface(*this, Dest, X, Y, SrcRect);
        return;
    }
    for (int32_t i = 0; i < SrcRect.Height; ++i)
        MoveLongwordStreaming(Dest.GetPixelPtr(X, Y + i), GetPixelPtr(SrcRect.X, SrcRect.Y + i), SrcRect.Width);
    FenceStreamingStores();
}

void TCorvSurface::AlphaBlendTo(TCorvSurface& Dest, int32_t X, int32_t Y, const TCorvRectangle& SrcRect) const
{
    if (SrcRect.IsEmpty())
        return;
    if (Threading::ShouldParallelize(SrcRect)) {
        Parallizers::ParallelAlphaBlendSurface(*this, Dest, X, Y, SrcRect);
        return;
    }
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

void TCorvSurface::MakeOpaqueRect(const TCorvRectangle& Rect)
{
    if (Rect.IsEmpty())
        return;
    for (int32_t y = Rect.Y; y < Rect.Y + Rect.Height; ++y)
        OpaqueLine(GetPixelPtr(Rect.X, y), Rect.Width);
}

void TCorvSurface::SubtractColor(TCorvColor Color) { SubtractColorRect({0, 0, FWidth, FHeight}, Color); }

} // namespace Corvanith::Graphics
