#pragma once
// The preserve brush, "Preserve Brush": stamps paint into the preserve mask,
// making the mask on its first stamp. Its disc is the blue in which strokes
// are stored and shown.
#include "view/brushtool.h"

namespace Corvanith::View {

extern const TCorvBrushKind PreserveBrushKind;

class TCorvPreserveBrushToolOverlay : public TCorvBrushToolOverlay {
public:
    explicit TCorvPreserveBrushToolOverlay(int32_t Size) : TCorvBrushToolOverlay(Size, PreserveBrushKind) {}
};

class TCorvPreserveBrushTool : public TCorvBrushTool {
public:
    explicit TCorvPreserveBrushTool(int32_t Size) : TCorvBrushTool(Size, PreserveBrushKind) {}
};

} // namespace Corvanith::View
