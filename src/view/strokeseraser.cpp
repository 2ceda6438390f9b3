#include "view/strokeseraser.h"

#include "document/document.h"
#include "document/layers.h"
#include "graphics/surface.h"

namespace Corvanith::View {

std::unique_ptr<TCorvBrushToolOverlay> TCorvStrokesEraserTool::CreateOverlay(int32_t Size) const
{
    return std::make_unique<TCorvStrokesEraserToolOverlay>(Size);
}

bool TCorvStrokesEraserTool::CanStamp(Document::TCorvDocument& Document) const
{
    return Document.BrushesLayer().HasBrushes();
}

void TCorvStrokesEraserTool::StampMask(const Graphics::TCorvSurface& Image, Graphics::TCorvSurface& Mask, int32_t X,
                                       int32_t Y, const Graphics::TCorvRectangle& SrcRect) const
{
    Image.EraseMaskTo(Mask, X, Y, SrcRect);
}

} // namespace Corvanith::View
