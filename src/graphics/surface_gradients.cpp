// Two-colour gradients over rectangles. The run of colours spans the whole
// gradient rectangle and is indexed from its edge, so painting any part of
// it continues the one gradient of the whole.
#include "graphics/surface.h"

#include "graphics/gradientmanager.h"
#include "graphics/rowkernels.h"

#include <cassert>

namespace Corvanith::Graphics {

namespace {

using TRunRow = void (*)(TCorvColor* Dest, const TCorvColor* Source, int32_t Count);
using TColorRow = void (*)(TCorvColor* Dest, TCorvColor Color, int32_t Count);

// The run entry for the first pixel of Rect along the gradient direction.
const TCorvColor* RunStart(const TCorvColorArray& Run, int32_t Index, [[maybe_unused]] int32_t Count)
{
    assert(Index >= 0 && size_t(Index) + size_t(Count) <= Run->size());
    return Run->data() + Index;
}

// Horizontal: every row of Rect gets the run's entries from Rect.X - GradRect.X
// on; vertical: row y gets the single entry y - GradRect.Y.
void PaintGradient(TCorvSurface& Surface, const TCorvRectangle& Rect, const TCorvRectangle& GradRect,
                   TCorvColor Color1, TCorvColor Color2, bool Horizontal, TRunRow RunRow, TColorRow ColorRow)
{
    if (Horizontal) {
        const TCorvColorArray run = TCorvGradientManager::GetGradient(Color1, Color2, GradRect.Width);
        const TCorvColor* source = RunStart(run, Rect.X - GradRect.X, Rect.Width);
        for (int32_t y = Rect.Y; y < Rect.Y + Rect.Height; ++y)
            RunRow(Surface.GetPixelPtr(Rect.X, y), source, Rect.Width);
    } else {
        const TCorvColorArray run = TCorvGradientManager::GetGradient(Color1, Color2, GradRect.Height);
        const TCorvColor* colors = RunStart(run, Rect.Y - GradRect.Y, Rect.Height);
        for (int32_t i = 0; i < Rect.Height; ++i)
            ColorRow(Surface.GetPixelPtr(Rect.X, Rect.Y + i), colors[i], Rect.Width);
    }
}

} // namespace

void TCorvSurface::GradientFillRect(const TCorvRectangle& Rect, const TCorvRectangle& GradRect, TCorvColor Color1,
                                    TCorvColor Color2, bool Horizontal)
{
    if (Rect.IsEmpty())
        return;
    if (Color1 == Color2) {
        FillRect(Rect, Color1);
        return;
    }
    PaintGradient(*this, Rect, GradRect, Color1, Color2, Horizontal, MoveLongwordStreaming, FillLongword);
    FenceStreamingStores();
}

void TCorvSurface::GradientBlendRect(const TCorvRectangle& Rect, const TCorvRectangle& GradRect, TCorvColor Color1,
                                     TCorvColor Color2, bool Horizontal)
{
    if (Rect.IsEmpty())
        return;
    const uint8_t alpha1 = AlphaOf(Color1);
    if (alpha1 == AlphaOf(Color2)) {
        if (alpha1 == 255) {
            GradientFillRect(Rect, GradRect, Color1, Color2, Horizontal);
            return;
        }
        if (alpha1 == 0)
            return;
    }
    if (Color1 == Color2) {
        BlendFillRect(Rect, Color1);
        return;
    }
    // Horizontally every entry blends with its own alpha (pixel blend),
    // vertically each row with its entry's (colour blend).
    PaintGradient(*this, Rect, GradRect, Color1, Color2, Horizontal, BlendLine, BlendColorLine);
}

} // namespace Corvanith::Graphics
