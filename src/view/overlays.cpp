#include "view/overlays.h"

#include "document/document.h"
#include "graphics/errors.h"

namespace Corvanith::View {

using Graphics::TCorvRectangle;

TCorvRectangle TCorvOverlay::Move(int32_t X, int32_t Y, bool Relative)
{
    const TCorvRectangle old = FBounds;
    if (Relative) {
        FBounds.X += X;
        FBounds.Y += Y;
    } else {
        FBounds.X = X;
        FBounds.Y = Y;
    }
    if (FOverlays != nullptr)
        FOverlays->DoOverlayMoved(*this, old, FBounds);
    return old;
}

void TCorvOverlay::SetVisible(bool Value)
{
    if (Value == FVisible)
        return;
    FVisible = Value;
    if (FOverlays != nullptr)
        FOverlays->DoOverlayChanged(*this);
}

TCorvOverlay& TCorvOverlays::Add(std::unique_ptr<TCorvOverlay> Overlay)
{
    if (!Overlay)
        throw EArgumentError("No overlay to add.");
    Overlay->FOverlays = this;
    FList.push_back(std::move(Overlay));
    return *FList.back();
}

TCorvOverlay& TCorvOverlays::GetItem(int32_t Index) const { return Document::ListItem(FList, Index); }

void TCorvOverlays::Paint(Graphics::TCorvSurface& Target, const TCorvRectangle& ClipRect)
{
    for (const auto& overlay : FList) {
        if (!overlay->Visible())
            continue;
        const TCorvRectangle r = Graphics::IntersectRectangles(ClipRect, overlay->GetBounds());
        if (r.Width != 0 && r.Height != 0)
            overlay->Paint(Target, r);
    }
}

void TCorvOverlays::DoOverlayMoved(TCorvOverlay& Overlay, const TCorvRectangle& OldBounds,
                                   const TCorvRectangle& NewBounds)
{
    if (OnOverlayMoved)
        OnOverlayMoved(Overlay, OldBounds, NewBounds);
}

void TCorvOverlays::DoOverlayChanged(TCorvOverlay& Overlay)
{
    if (OnOverlayChanged)
        OnOverlayChanged(Overlay, Overlay.GetBounds(), Overlay.GetBounds());
}

} // namespace Corvanith::View
