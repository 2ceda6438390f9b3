#include "view/preservebrush.h"

#include "graphics/surface.h"

namespace Corvanith::View {

std::unique_ptr<TCorvBrushToolOverlay> TCorvPreserveBrushTool::CreateOverlay(int32_t Size) const
{
    return std::make_unique<TCorvPreserveBrushToolOverlay>(Size);
}

bool TCorvPreserveBrushTool::CanStamp(Document::TCorvDocument&) const { return true; }

void TCorvPreserveBrushTool::StampMask(const Graphics::TCorvSurface& Image, Graphics::TCorvSurface& Mask, int32_t X,
                                       int32_t Y, const Graphics::TCorvRectangle& SrcRect) const
{
    Image.PaintMaskTo(Mask, X, Y, SrcRect);
}

} // namespace Corvanith::View
