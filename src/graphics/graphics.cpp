#include "graphics/graphics.h"

#include "platform/imaging.h"

namespace Corvanith::Graphics {

void DrawThumbnailFrame(Platform::TCanvas& Graphics, const TCorvRectangle& Rect)
{
    const int32_t x = Rect.X, y = Rect.Y, w = Rect.Width, h = Rect.Height;
    Graphics.DrawOutline(0xFF000000, x - 1, y - 1, w + 1, h + 1);
    // Overlapping strokes: the ring outside the black outline is covered three
    // times along its sides, twice next to its corners and once at them.
    constexpr uint32_t Shade = 0x19000000;
    Graphics.DrawOutline(Shade, x - 2, y - 2, w + 3, h + 3);
    Graphics.DrawOutline(Shade, x - 2, y - 1, w + 3, h + 1);
    Graphics.DrawOutline(Shade, x - 1, y - 2, w + 1, h + 3);
    Graphics.DrawOutline(Shade, x - 2, y, w + 3, h - 1);
    Graphics.DrawOutline(Shade, x, y - 2, w - 1, h + 3);
}

} // namespace Corvanith::Graphics
