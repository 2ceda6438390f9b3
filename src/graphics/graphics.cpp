#include "graphics/graphics.h"

#include "graphics/surface.h"
#include "platform/imaging.h"

#include <QPaintDevice>
#include <QPainter>

#include <algorithm>

namespace Corvanith::Graphics {

void DrawThumbnailFrame(Platform::TCanvas& Graphics, const TCorvRectangle& Rect)
{
    // The frame reaches two pixels beyond Rect: cut to the canvas with that
    // margin, what shows stays the same and the sums below cannot overflow.
    const QPaintDevice& device = *Graphics.Painter().device();
    const int64_t left = std::max<int64_t>(Rect.X, -2);
    const int64_t top = std::max<int64_t>(Rect.Y, -2);
    const int64_t right = std::min<int64_t>(int64_t(Rect.X) + Rect.Width, device.width() + 2);
    const int64_t bottom = std::min<int64_t>(int64_t(Rect.Y) + Rect.Height, device.height() + 2);
    if (left > right || top > bottom)
        return;
    const auto x = int32_t(left), y = int32_t(top), w = int32_t(right - left), h = int32_t(bottom - top);
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

std::unique_ptr<TCorvSurface> CreateThumbnailBox(const TCorvSurface& Thumbnail, int32_t Size)
{
    auto box = TCorvSurface::CreateFilled(Size, Size, 0);
    const int32_t w = Thumbnail.Width();
    const int32_t h = Thumbnail.Height();
    const TCorvRectangle placed{(Size - w) / 2, (Size - h) / 2, w, h};
    DrawThumbnailFrame(box->GetGPGraphics(), placed);
    box->FreeGraphicsCache();
    // A thumbnail larger than the box shows its middle.
    const TCorvRectangle shown = IntersectRectangles(placed, {0, 0, Size, Size});
    if (!shown.IsEmpty())
        Thumbnail.CopyTo(*box, shown.X, shown.Y, {shown.X - placed.X, shown.Y - placed.Y, shown.Width, shown.Height});
    return box;
}

} // namespace Corvanith::Graphics
