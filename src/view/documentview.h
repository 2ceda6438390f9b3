#pragma once
// TCorvDocumentView: the scrolling control that shows the open document at
// 1:1 inside a padding frame, centred when smaller than the client area and
// scrollable when larger. Every paint goes through an owned back buffer: the
// background gradient where no opaque layer lies, the document's layers, the
// overlays, then one 1:1 copy of the painted rectangle to the screen. Mouse
// events over the picture go to the active tool, with the system cursor
// hidden there (the tool's overlay serves as cursor); line and page scrolls
// move in small timed steps, each painted at once.
//
// Client coordinates are those of the viewport; a document point (dx, dy)
// shows at (dx - b.X + Padding.Left - HPos + CX, dy - b.Y + Padding.Top - VPos + CY)
// with b the document's bounds and CX, CY the centring offsets.
#include "graphics/rectangle.h"
#include "io/settings.h"
#include "view/tools.h"

#include <QAbstractScrollArea>
#include <QRegion>

#include <cstdint>
#include <functional>
#include <memory>

namespace Corvanith::Graphics {
class TCorvSurface;
}
namespace Corvanith::Platform {
class TCanvas;
}
namespace Corvanith::Document {
class TCorvDocument;
class TCorvLayer;
} // namespace Corvanith::Document

namespace Corvanith::View {

class TCorvOverlay;
class TCorvOverlays;

// The scroll-bar commands; below scThumbPosition they scroll in steps.
enum TScrollCode : int32_t {
    scLineUp = 0,
    scLineDown = 1,
    scPageUp = 2,
    scPageDown = 3,
    scThumbPosition = 4,
    scThumbTrack = 5,
    scTop = 6,
    scBottom = 7,
    scEndScroll = 8,
};

inline constexpr int32_t SmoothScrollLineSteps = 4;
inline constexpr int32_t SmoothScrollPageSteps = 12;
inline constexpr int32_t SmoothScrollStepDelay = 10; // milliseconds

struct TPadding {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;
};

class TCorvDocumentView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit TCorvDocumentView(QWidget* Parent = nullptr, const Settings::TSettings& Settings = Settings::Current());
    ~TCorvDocumentView() override;

    // Not owned. A document of another source (or none) scrolls back to the origin.
    void SetDocument(Document::TCorvDocument* Document);
    void SetOverlays(TCorvOverlays* Overlays);
    void SetTools(TCorvTools* Tools);
    Document::TCorvDocument* ShownDocument() const { return FDocument; }
    TCorvOverlays* Overlays() const { return FOverlays; }
    TCorvTools* Tools() const { return FTools; }

    const TPadding& Padding() const { return FPadding; }
    void SetPadding(const TPadding& Padding);

    int32_t ClientWidth() const;
    int32_t ClientHeight() const;
    // Total extents of the canvas along each bar, set while painting.
    int32_t HorzRange() const { return FHorzRange; }
    int32_t VertRange() const { return FVertRange; }
    int32_t HorzPosition() const;
    int32_t VertPosition() const;
    // The cursor was over the picture at the last mouse event.
    bool MouseInDocument() const { return FMouseInDocument; }
    // Null until the first paint.
    const Graphics::TCorvSurface* Buffer() const { return FBuffer.get(); }

    // Paints the client rectangle Rect onto DC; a null DC does nothing.
    void PaintTo(Platform::TCanvas* DC, const Graphics::TCorvRectangle& Rect);
    // A layer's client rectangle, clipped to the client area; (0, 0, 0, 0)
    // without a document.
    Graphics::TCorvRectangle GetItemScreenRect(const Document::TCorvLayer& Layer) const;

    // Invalidate everything and paint at once.
    void Repaint();
    void Invalidate();

    void ViewResize();
    void ViewMouseMove(TShiftState Shift, int32_t X, int32_t Y);
    void ViewMouseDown(Qt::MouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
    void ViewMouseEnter();
    void ViewMouseLeave();
    // The picture changed its place or size under a cursor that stayed where
    // it was (a resize step, another document): the active tool sees the
    // cursor come onto or leave the picture as a move there would show it.
    void PictureChanged();
    // The wheel neither scrolls nor reaches a tool: never handled.
    bool ViewMouseWheelDown(TShiftState Shift, int32_t X, int32_t Y);
    bool ViewMouseWheelUp(TShiftState Shift, int32_t X, int32_t Y);

    // A scroll-bar command: stepped below scThumbPosition, else at once
    // (Position is the thumb's for scThumbPosition and scThumbTrack).
    void ScrollCommand(Qt::Orientation Bar, TScrollCode Code, int32_t Position = 0);
    void SmoothScroll(Qt::Orientation Bar, TScrollCode Code);

    void OverlayMoved(TCorvOverlay& Overlay, const Graphics::TCorvRectangle& OldBounds,
                      const Graphics::TCorvRectangle& NewBounds);
    void OverlayChanged(TCorvOverlay& Overlay, const Graphics::TCorvRectangle& OldBounds,
                        const Graphics::TCorvRectangle& NewBounds);

    // Left to the owner: a press after the tool has had it, and a left-button
    // release over the view that was pressed there.
    std::function<void(Qt::MouseButton Button, TShiftState Shift, int32_t X, int32_t Y)> OnMouseDown;
    std::function<void()> OnClick;

protected:
    bool viewportEvent(QEvent* Event) override;
    void paintEvent(QPaintEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    // The second press of a quick pair comes as a double click; it is a press
    // all the same.
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void wheelEvent(QWheelEvent* Event) override;
    void scrollContentsBy(int DX, int DY) override;

private:
    struct TGeometry;
    TGeometry Geometry() const;
    QScrollBar* Bar(Qt::Orientation Bar) const;
    // Fits both bars to the ranges and the current client size.
    void ApplyScrollBars();
    void BarAction(Qt::Orientation Bar, int Action);
    void RouteMouse(TShiftState Shift, int32_t X, int32_t Y, bool Press);
    void InvalidateRect(const Graphics::TCorvRectangle& Rect);
    void InvalidateOverlays();
    // Paints what was invalidated through this view, at once.
    void UpdateWindow();
    void ShowSystemCursor(bool Show);

    const Settings::TSettings& FSettings;
    Document::TCorvDocument* FDocument = nullptr;
    std::unique_ptr<Graphics::TCorvSurface> FBuffer;
    TCorvOverlays* FOverlays = nullptr;
    int32_t FLastClientWidth = 0;
    int32_t FLastClientHeight = 0;
    TCorvTools* FTools = nullptr;
    bool FMouseInDocument = false;
    // The cursor's client position at the last mouse event, while it is over the view.
    bool FMouseInView = false;
    QPoint FMousePosition;
    TPadding FPadding;
    int32_t FHorzRange = 0;
    int32_t FVertRange = 0;
    QRegion FPending;
    bool FPainting = false;
    bool FLeftPressed = false;
};

} // namespace Corvanith::View
