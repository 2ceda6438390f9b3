#pragma once
// Drawing shared by the menus: the frame around a recent document's thumbnail.
#include "graphics/rectangle.h"

namespace Corvanith::Platform {
class TCanvas;
}

namespace Corvanith::Graphics {

// A black outline right around Rect and a soft translucent ring outside it,
// lighter at the corners; two translucent strokes also run inside Rect, which
// the caller draws the thumbnail over afterwards. Leaves the canvas's
// settings as they were.
void DrawThumbnailFrame(Platform::TCanvas& Graphics, const TCorvRectangle& Rect);

} // namespace Corvanith::Graphics
