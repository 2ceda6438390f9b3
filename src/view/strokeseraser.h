#pragma once
// The brush-strokes eraser: takes paint out of the preserve mask again. It
// never makes the mask: on a document without strokes it does nothing.
#include "view/brushtool.h"

namespace Corvanith::View {

class TCorvStrokesEraserToolOverlay : public TCorvBrushToolOverlay {
public:
    static constexpr Graphics::TCorvColor SurroundColor = 0x00FFFFFF;
    static constexpr Graphics::TCorvColor CenterColor = 0xAFFFFFFF;

    explicit TCorvStrokesEraserToolOverlay(int32_t Size) : TCorvBrushToolOverlay(Size, SurroundColor, CenterColor) {}
};

class TCorvStrokesEraserTool : public TCorvBrushTool {
public:
    explicit TCorvStrokesEraserTool(int32_t Size) : TCorvBrushTool(Size) {}

    QString GetName() const override { return QStringLiteral("Brush Strokes Eraser"); }

protected:
    std::unique_ptr<TCorvBrushToolOverlay> CreateOverlay(int32_t Size) const override;
    bool CanStamp(Document::TCorvDocument& Document) const override;
    void StampMask(const Graphics::TCorvSurface& Image, Graphics::TCorvSurface& Mask, int32_t X, int32_t Y,
                   const Graphics::TCorvRectangle& SrcRect) const override;
};

} // namespace Corvanith::View
