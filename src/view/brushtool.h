#pragma once
// The design shared by the two brush tools: a disc-shaped overlay that is
// both the cursor drawn over the view while the tool works over the picture
// and the stamp whose alpha decides what each stamp does to the preserve
// mask (core above 50, soft rim 1 to 50, nothing at 0). The disc is made on
// the tool's first activation and handed to the overlay list, which owns it.
#include "graphics/rectangle.h"
#include "graphics/types.h"
#include "view/overlays.h"
#include "view/tools.h"

#include <cstdint>
#include <memory>

namespace Corvanith::View {

class TCorvBrushToolOverlay;

// What sets one brush apart from the other.
struct TCorvBrushKind {
    const char* Name;
    // The disc: SurroundColor at its edge, CenterColor inside.
    Graphics::TCorvColor SurroundColor;
    Graphics::TCorvColor CenterColor;
    // Stamps only once strokes exist; never makes the mask.
    bool NeedsStrokes;
    // What a stamp of the disc does to the mask.
    void (Graphics::TCorvSurface::*StampMask)(Graphics::TCorvSurface& Mask, int32_t X, int32_t Y,
                                              const Graphics::TCorvRectangle& SrcRect) const;
    // An overlay of the brush's own class.
    std::unique_ptr<TCorvBrushToolOverlay> (*CreateOverlay)(int32_t Size);
};

class TCorvBrushToolOverlay : public TCorvOverlay {
public:
    ~TCorvBrushToolOverlay() override;

    void Paint(Graphics::TCorvSurface& Target, const Graphics::TCorvRectangle& ClipRect) override;
    // Renders the disc anew at Size, keeping its centre (to the truncation
    // of the halves) without reporting a move; the current size does
    // nothing. Throws ERangeError for a Size below 1, changing nothing.
    void SetSize(int32_t Size);
    // Size x Size: the surround colour outside the disc, the centre colour
    // inside the disc of diameter Size - 4 and a thin dark ring 4 pixels in.
    const Graphics::TCorvSurface& Image() const { return *FImage; }

protected:
    // Hidden at (0, 0). Throws ERangeError for a Size below 1.
    TCorvBrushToolOverlay(int32_t Size, const TCorvBrushKind& Kind);

private:
    const TCorvBrushKind& FKind;
    std::unique_ptr<Graphics::TCorvSurface> FImage;
};

class TCorvBrushTool : public TCorvTool {
public:
    QString GetName() const override { return QString::fromLatin1(FKind.Name); }
    void SetActive(bool Value) override;
    void MouseMove(TShiftState Shift, int32_t X, int32_t Y, int32_t DocX, int32_t DocY) override;
    void MouseDown(TShiftState Shift, int32_t X, int32_t Y, int32_t DocX, int32_t DocY) override;
    // Puts the disc under the cursor without stamping, then shows it.
    void MouseEnter(TShiftState Shift, int32_t X, int32_t Y) override;
    void MouseLeave(TShiftState Shift, int32_t X, int32_t Y) override;
    // Centres the disc on (X, Y).
    void UpdateCursor(int32_t X, int32_t Y) override;

    int32_t Size() const { return FSize; }
    // Throws ERangeError for a Size below 1, changing nothing.
    void SetSize(int32_t Value);
    // Null until the first activation.
    TCorvBrushToolOverlay* Overlay() const { return FOverlay; }

protected:
    // Throws ERangeError for a Size below 1.
    TCorvBrushTool(int32_t Size, const TCorvBrushKind& Kind);

private:
    void Track(TShiftState Shift, int32_t X, int32_t Y, int32_t DocX, int32_t DocY);
    // The disc centred on picture pixel (DocX, DocY), clipped to the picture
    // and to the mask.
    void Stamp(Document::TCorvDocument& Document, int32_t DocX, int32_t DocY);

    const TCorvBrushKind& FKind;
    TCorvBrushToolOverlay* FOverlay = nullptr;
    int32_t FSize;
};

} // namespace Corvanith::View
