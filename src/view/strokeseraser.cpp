#include "view/strokeseraser.h"

#include "graphics/surface.h"

namespace Corvanith::View {

const TCorvBrushKind StrokesEraserKind = {
    "Brush Strokes Eraser", 0x00FFFFFF, 0xAFFFFFFF, true, &Graphics::TCorvSurface::EraseMaskTo,
    [](int32_t Size) -> std::unique_ptr<TCorvBrushToolOverlay> {
        return std::make_unique<TCorvStrokesEraserToolOverlay>(Size);
    }};

} // namespace Corvanith::View
