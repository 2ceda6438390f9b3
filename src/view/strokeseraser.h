#pragma once
// The strokes eraser, "Brush Strokes Eraser": takes paint out of the
// preserve mask again. It never makes the mask: on a document without
// strokes it does nothing. Its disc is white.
#include "view/brushtool.h"

namespace Corvanith::View {

extern const TCorvBrushKind StrokesEraserKind;

class TCorvStrokesEraserToolOverlay : public TCorvBrushToolOverlay {
public:
    explicit TCorvStrokesEraserToolOverlay(int32_t Size) : TCorvBrushToolOverlay(Size, StrokesEraserKind) {}
};

class TCorvStrokesEraserTool : public TCorvBrushTool {
public:
    explicit TCorvStrokesEraserTool(int32_t Size) : TCorvBrushTool(Size, StrokesEraserKind) {}
};

} // namespace Corvanith::View
