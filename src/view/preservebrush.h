#pragma once
// The preserve brush: stamps paint into the preserve mask, making the mask
// on its first stamp. Its disc is the blue in which strokes are shown.
#include "view/brushtool.h"

namespace Corvanith::View {

class TCorvPreserveBrushToolOverlay : public TCorvBrushToolOverlay {
public:
    static constexpr Graphics::TCorvColor SurroundColor = 0x004A5AF7;
    static constexpr Graphics::TCorvColor CenterColor = 0xAF4A5AF7;

    explicit TCorvPreserveBrushToolOverlay(int32_t Size) : TCorvBrushToolOverlay(Size, SurroundColor, CenterColor) {}
};

class TCorvPreserveBrushTool : public TCorvBrushTool {
public:
    explicit TCorvPreserveBrushTool(int32_t Size) : TCorvBrushTool(Size) {}

    QString GetName() const override { return QStringLiteral("Preserve Brush"); }

protected:
    std::unique_ptr<TCorvBrushToolOverlay> CreateOverlay(int32_t Size) const override;
    bool CanStamp(Document::TCorvDocument& Document) const override;
    void StampMask(const Graphics::TCorvSurface& Image, Graphics::TCorvSurface& Mask, int32_t X, int32_t Y,
                   const Graphics::TCorvRectangle& SrcRect) const override;
};

} // namespace Corvanith::View
