// Two-colour gradients over rectangles. The run of colours spans the whole
// gradient rectangle and is indexed from its edge, so painting any part of
// it continues the one gradient of the whole.
#include "graphics/surface.h"

#include "graphics/gradientmanager.h"
#include "graphics/rowkernels.h"

#include <cassert>

namespace Corvanith::Graphics {

namespace {

// The run entry for the first pixel of Rect along the gradient direction.
const TCorvColor* RunStart(const TCorvColorArray& Run, int32_t Index, [[maybe_unused]] int32_t Count)
{
    assert(Index >= 0 && size_t(Index) + size_t(Count) <= Run->size());
    return Run->data() + Index;
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
    if (Horizontal) {
        const TCorvColorArray run = TCorvGradientManager::GetGradient(Color1, Color2, GradRect.Width);
        const TCorvColor* source = RunStart(run, Rect.X - GradRect.X, Rect.Width);
        for (int32_t y = Rect.Y; y < Rect.Y + Rect.Height; ++y)
            MoveLongwordStreaming(GetPixelPtr(Rect.X, y), source, Rect.Width);
    } else {
        const TCorvColorArray run = TCorvGradientManager::GetGradient(Color1, Color2, GradRect.Height);
        const TCorvColor* colors = RunStart(run, Rect.Y - GradRect.Y, Rect.Height);
        for (int32_t i = 0; i < Rect.Height; ++i)
            FillLongword(GetPixelPtr(Rect.X, Rect.Y + i), colors[i], Rect.Width);
    }
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
    if (Horizontal) {
        const TCorvColorArray run = TCorvGradientManager::GetGradient(Color1, Color2, GradRect.Width);
        const TCorvColor* source = RunStart(run, Rect.X - GradRect.X, Rect.Width);
        for (int32_t y = Rect.Y; y < Rect.Y + Rect.Height; ++y)
            BlendLine(GetPixelPtr(Rect.X, y), source, Rect.Width);
    } else {
        const TCorvColorArray run = TCorvGradientManager::GetGradient(Color1, Color2, GradRect.Height);
        const TCorvColor* colors = RunStart(run, Rect.Y - GradRect.Y, Rect.Height);
        for (int32_t i = 0; i < Rect.Height; ++i)
            BlendColorLine(GetPixelPtr(Rect.X, Rect.Y + i), colors[i], Rect.Width);
    }
}

} // namespace Corvanith::Graphics
