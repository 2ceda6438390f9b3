#pragma once
// Overlays: rectangles of the document view's client area painted over the
// document, such as the brush disc that follows the mouse. They live in
// client coordinates, so they stay put while the document scrolls under
// them. The list reports every move and change of visibility so the view can
// repaint just the rectangles concerned.
#include "graphics/rectangle.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace Corvanith::Graphics {
class TCorvSurface;
}
namespace Corvanith::Document {
class TCorvDocument;
}

namespace Corvanith::View {

class TCorvOverlays;

class TCorvOverlay {
public:
    // Hidden, and in no list yet.
    explicit TCorvOverlay(const Graphics::TCorvRectangle& Bounds) : FBounds(Bounds) {}
    TCorvOverlay(const TCorvOverlay&) = delete;
    TCorvOverlay& operator=(const TCorvOverlay&) = delete;
    virtual ~TCorvOverlay() = default;

    TCorvOverlays* Overlays() const { return FOverlays; }
    bool Visible() const { return FVisible; }
    const Graphics::TCorvRectangle& GetBounds() const { return FBounds; }
    int32_t GetWidth() const { return FBounds.Width; }
    int32_t GetHeight() const { return FBounds.Height; }

    // To (X, Y), or by (X, Y) when Relative; the size stays. Always reported,
    // visible or not, moved or not. Returns the bounds from before.
    Graphics::TCorvRectangle Move(int32_t X, int32_t Y, bool Relative);
    // A change is reported after Visible has taken the new value.
    void SetVisible(bool Value);

    // ClipRect: client coordinates, inside the bounds, never empty; Target is
    // the view's back buffer, whose pixel (x, y) is client point (x, y).
    virtual void Paint(Graphics::TCorvSurface& Target, const Graphics::TCorvRectangle& ClipRect) = 0;

protected:
    // Descendants may resize here directly; nothing is reported then.
    Graphics::TCorvRectangle FBounds;

private:
    friend class TCorvOverlays;
    TCorvOverlays* FOverlays = nullptr;
    bool FVisible = false;
};

using TCorvOverlayEvent = std::function<void(TCorvOverlay& Overlay, const Graphics::TCorvRectangle& OldBounds,
                                             const Graphics::TCorvRectangle& NewBounds)>;

// Owns its overlays; list order is paint order.
class TCorvOverlays {
public:
    TCorvOverlays() = default;
    TCorvOverlays(const TCorvOverlays&) = delete;
    TCorvOverlays& operator=(const TCorvOverlays&) = delete;

    // A null Overlay throws EArgumentError.
    TCorvOverlay& Add(std::unique_ptr<TCorvOverlay> Overlay);
    // The visible overlays' parts inside ClipRect, in list order.
    void Paint(Graphics::TCorvSurface& Target, const Graphics::TCorvRectangle& ClipRect);
    int32_t GetCount() const { return int32_t(FList.size()); }
    // Out of range throws ERangeError.
    TCorvOverlay& GetItem(int32_t Index) const;

    void DoOverlayMoved(TCorvOverlay& Overlay, const Graphics::TCorvRectangle& OldBounds,
                        const Graphics::TCorvRectangle& NewBounds);
    // Passes the current bounds as both old and new.
    void DoOverlayChanged(TCorvOverlay& Overlay);

    TCorvOverlayEvent OnOverlayMoved;
    TCorvOverlayEvent OnOverlayChanged;
    // The document shown, through which the tools reach its layers; not owned.
    Document::TCorvDocument* Document = nullptr;

private:
    std::vector<std::unique_ptr<TCorvOverlay>> FList;
};

} // namespace Corvanith::View
