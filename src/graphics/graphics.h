#pragma once
// Drawing shared by the menus: the frame around a recent document's thumbnail.
#include "graphics/rectangle.h"

#include <cstdint>
#include <memory>

namespace Corvanith::Platform {
class TCanvas;
}

namespace Corvanith::Graphics {

class TCorvSurface;

// A black outline right around Rect and a soft translucent ring outside it,
// lighter at the corners; two translucent strokes also run inside Rect, which
// the caller draws the thumbnail over afterwards. Leaves the canvas's
// settings as they were. Rect may reach beyond the canvas, by any amount.
void DrawThumbnailFrame(Platform::TCanvas& Graphics, const TCorvRectangle& Rect);

// A Size x Size transparent box with Thumbnail centred in it and framed.
// Only what falls inside the box is drawn, whatever the thumbnail's size.
std::unique_ptr<TCorvSurface> CreateThumbnailBox(const TCorvSurface& Thumbnail, int32_t Size);

} // namespace Corvanith::Graphics
