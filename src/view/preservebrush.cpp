#include "view/preservebrush.h"

#include "graphics/surface.h"

namespace Corvanith::View {

const TCorvBrushKind PreserveBrushKind = {
    "Preserve Brush", 0x004A5AF7, 0xAF4A5AF7, false, &Graphics::TCorvSurface::PaintMaskTo,
    [](int32_t Size) -> std::unique_ptr<TCorvBrushToolOverlay> {
        return std::make_unique<TCorvPreserveBrushToolOverlay>(Size);
    }};

} // namespace Corvanith::View
