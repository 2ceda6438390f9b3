#include "view/documentview.h"

#include "document/document.h"
#include "document/layers.h"
#include "graphics/region.h"
#include "graphics/surface.h"
#include "platform/imaging.h"
#include "view/overlays.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <optional>
#include <thread>
#include <utility>

namespace Corvanith::View {

using Graphics::TCorvRectangle;
using Graphics::TCorvRegion;
using Graphics::TCorvSurface;

namespace {

QRect ToQRect(const TCorvRectangle& R) { return QRect(R.X, R.Y, R.Width, R.Height); }

TShiftState ShiftStateOf(Qt::KeyboardModifiers Modifiers, Qt::MouseButtons Buttons)
{
    static constexpr std::pair<Qt::KeyboardModifier, TShiftState> keys[] = {
        {Qt::ShiftModifier, ssShift}, {Qt::AltModifier, ssAlt}, {Qt::ControlModifier, ssCtrl}};
    static constexpr std::pair<Qt::MouseButton, TShiftState> buttons[] = {
        {Qt::LeftButton, ssLeft}, {Qt::RightButton, ssRight}, {Qt::MiddleButton, ssMiddle}};
    TShiftState s = 0;
    for (const auto& [key, flag] : keys)
        if (Modifiers & key)
            s |= flag;
    for (const auto& [button, flag] : buttons)
        if (Buttons & button)
            s |= flag;
    return s;
}

} // namespace

// Computed afresh at each use: the document's bounds, the canvas size, the
// centring offsets, the scroll positions, and Origin, the client point of
// document point (0, 0).
struct TCorvDocumentView::TGeometry {
    TCorvRectangle B;
    int32_t TW = 0;
    int32_t TH = 0;
    int32_t CX = 0;
    int32_t CY = 0;
    int32_t HPos = 0;
    int32_t VPos = 0;
    int32_t OriginX = 0;
    int32_t OriginY = 0;
};

TCorvDocumentView::TCorvDocumentView(QWidget* Parent, const Settings::TSettings& Settings)
    : QAbstractScrollArea(Parent), FSettings(Settings)
{
    setFrameShape(QFrame::NoFrame);
    // The arrow keys belong to the main window's resize commands.
    setFocusPolicy(Qt::NoFocus);
    viewport()->setMouseTracking(true);
    // Every paint covers its whole rectangle: nothing is erased first, and a
    // resize repaints only what this view invalidates and what is new.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAttribute(Qt::WA_NoSystemBackground);
    viewport()->setAttribute(Qt::WA_StaticContents);
    for (const Qt::Orientation o : {Qt::Horizontal, Qt::Vertical}) {
        QScrollBar* bar = Bar(o);
        bar->setTracking(true);
        connect(bar, &QAbstractSlider::actionTriggered, this, [this, o](int Action) { BarAction(o, Action); });
    }
    FLastClientWidth = ClientWidth();
    FLastClientHeight = ClientHeight();
    ApplyScrollBars();
}

TCorvDocumentView::~TCorvDocumentView()
{
    // The list may outlive the view; its overlays must not report to it then.
    if (FOverlays != nullptr) {
        FOverlays->OnOverlayMoved = nullptr;
        FOverlays->OnOverlayChanged = nullptr;
    }
}

QScrollBar* TCorvDocumentView::Bar(Qt::Orientation Bar) const
{
    return Bar == Qt::Horizontal ? horizontalScrollBar() : verticalScrollBar();
}

int32_t TCorvDocumentView::ClientWidth() const { return viewport()->width(); }
int32_t TCorvDocumentView::ClientHeight() const { return viewport()->height(); }
int32_t TCorvDocumentView::HorzPosition() const { return horizontalScrollBar()->value(); }
int32_t TCorvDocumentView::VertPosition() const { return verticalScrollBar()->value(); }

void TCorvDocumentView::SetPadding(const TPadding& Padding)
{
    FPadding = Padding;
    Invalidate();
}

TCorvDocumentView::TGeometry TCorvDocumentView::Geometry() const
{
    TGeometry g;
    g.HPos = HorzPosition();
    g.VPos = VertPosition();
    if (FDocument != nullptr) {
        g.B = FDocument->GetBounds();
        g.TW = FPadding.Left + g.B.Width + FPadding.Right;
        g.TH = FPadding.Top + g.B.Height + FPadding.Bottom;
    }
    const int32_t cw = ClientWidth();
    const int32_t ch = ClientHeight();
    g.CX = g.TW < cw ? cw / 2 - g.TW / 2 : 0;
    g.CY = g.TH < ch ? ch / 2 - g.TH / 2 : 0;
    g.OriginX = -g.B.X + FPadding.Left - g.HPos + g.CX;
    g.OriginY = -g.B.Y + FPadding.Top - g.VPos + g.CY;
    return g;
}

void TCorvDocumentView::ApplyScrollBars()
{
    const int32_t extents[2] = {ClientWidth(), ClientHeight()};
    const int32_t ranges[2] = {FHorzRange, FVertRange};
    const Qt::Orientation bars[2] = {Qt::Horizontal, Qt::Vertical};
    for (int i = 0; i < 2; ++i) {
        QScrollBar* bar = Bar(bars[i]);
        const int32_t e = std::max(extents[i], 0);
        // The line distance is a tenth of the page distance, nine tenths of the extent.
        bar->setPageStep(std::max(e, 1));
        bar->setSingleStep(e * 9 / 10 / 10);
        bar->setRange(0, std::max(0, ranges[i] - e));
    }
}

void TCorvDocumentView::SetDocument(Document::TCorvDocument* Document)
{
    if (Document == FDocument)
        return;
    if (FDocument == nullptr || Document == nullptr ||
        Corvanith::Document::DifferentDocumentSource(FDocument->Source(), Document->Source())) {
        horizontalScrollBar()->setValue(0);
        verticalScrollBar()->setValue(0);
    }
    FDocument = Document;
    PictureChanged();
    Repaint();
}

void TCorvDocumentView::SetOverlays(TCorvOverlays* Overlays)
{
    if (Overlays == FOverlays)
        return;
    FOverlays = Overlays;
    if (FOverlays != nullptr) {
        FOverlays->OnOverlayMoved = [this](TCorvOverlay& O, const TCorvRectangle& A, const TCorvRectangle& B) {
            OverlayMoved(O, A, B);
        };
        FOverlays->OnOverlayChanged = [this](TCorvOverlay& O, const TCorvRectangle& A, const TCorvRectangle& B) {
            OverlayChanged(O, A, B);
        };
    }
    Invalidate();
}

void TCorvDocumentView::SetTools(TCorvTools* Tools)
{
    if (Tools == FTools)
        return;
    FTools = Tools;
    Invalidate();
}

// ---- Painting ----

void TCorvDocumentView::PaintTo(Platform::TCanvas* DC, const TCorvRectangle& Rect)
{
    if (DC == nullptr)
        return;
    // A bar clamped by a new range moves the content: with the screen pixels
    // owned by this paint, the whole view is repainted afterwards instead.
    FPainting = true;
    int32_t tw = 0, th = 0;
    if (FDocument != nullptr) {
        const TGeometry g = Geometry();
        tw = g.TW;
        th = g.TH;
    }
    if (FHorzRange != tw || FVertRange != th) {
        FHorzRange = tw;
        FVertRange = th;
        ApplyScrollBars();
    }
    FPainting = false;

    const int32_t cw = ClientWidth();
    const int32_t ch = ClientHeight();
    if (!FBuffer || cw > FBuffer->Width() || ch + 1 > FBuffer->Height()) {
        FBuffer.reset();
        FBuffer = TCorvSurface::Create(cw, ch + 1);
    }
    TCorvRectangle r = Rect;
    Graphics::IntersectRectangle(r, {0, 0, cw, ch});

    if (FDocument != nullptr) {
        const TGeometry g = Geometry();
        TCorvRegion region = TCorvRegion::Create(r);
        TCorvRegion opaque = FDocument->GetOpaqueRegion();
        opaque.Translate(g.OriginX, g.OriginY);
        region.Exclude(opaque);
        if (!region.IsEmpty()) {
            // The whole scrolled canvas, or the client area where the canvas
            // is smaller; never shorter than the client rows it is read for.
            const TCorvRectangle gradRect{-g.HPos, -g.VPos, std::max({g.TW, cw, g.HPos + cw}),
                                          std::max({g.TH, ch, g.VPos + ch})};
            FBuffer->GradientFillRegion(region, gradRect, FSettings.ViewBackgroundColor1,
                                        FSettings.ViewBackgroundColor2, false);
        }
        const TCorvRectangle docClip{r.X - g.OriginX, r.Y - g.OriginY, r.Width, r.Height};
        FDocument->Paint(*FBuffer, r.X, r.Y, docClip);
    } else {
        FBuffer->GradientFillRect(r, {0, 0, cw, ch}, FSettings.ViewBackgroundColor1, FSettings.ViewBackgroundColor2,
                                  false);
    }
    if (FOverlays != nullptr && !r.IsEmpty())
        FOverlays->Paint(*FBuffer, r);
    FBuffer->DrawRect(*DC, r);
}

TCorvRectangle TCorvDocumentView::GetItemScreenRect(const Document::TCorvLayer& Layer) const
{
    if (FDocument == nullptr)
        return {};
    const TGeometry g = Geometry();
    const TCorvRectangle l = Layer.GetBounds();
    TCorvRectangle r{l.X + g.OriginX, l.Y + g.OriginY, l.Width, l.Height};
    Graphics::IntersectRectangle(r, {0, 0, ClientWidth(), ClientHeight()});
    return r;
}

void TCorvDocumentView::paintEvent(QPaintEvent* Event)
{
    FPending -= Event->region();
    QPainter painter(viewport());
    Platform::TCanvas dc(painter);
    const QRect q = Event->rect();
    PaintTo(&dc, {q.x(), q.y(), q.width(), q.height()});
}

void TCorvDocumentView::Repaint()
{
    FPending = {};
    viewport()->repaint();
}

void TCorvDocumentView::Invalidate() { viewport()->update(); }

void TCorvDocumentView::InvalidateRect(const TCorvRectangle& Rect)
{
    if (Rect.IsEmpty())
        return;
    const QRect q = ToQRect(Rect);
    FPending += q;
    viewport()->update(q);
}

void TCorvDocumentView::UpdateWindow()
{
    if (FPending.isEmpty())
        return;
    const QRegion pending = FPending;
    FPending = {};
    viewport()->repaint(pending);
}

void TCorvDocumentView::ViewResize()
{
    const int32_t cw = ClientWidth();
    const int32_t ch = ClientHeight();
    if (FDocument != nullptr) {
        const TCorvRectangle b = FDocument->GetBounds();
        // A document that covered the client area before and still does moves nothing.
        if (!(cw <= b.Width && ch <= b.Height && b.Width >= FLastClientWidth && b.Height >= FLastClientHeight))
            Invalidate();
    } else if (FSettings.ViewBackgroundColor1 != FSettings.ViewBackgroundColor2) {
        Invalidate();
    }
    FLastClientWidth = cw;
    FLastClientHeight = ch;
}

bool TCorvDocumentView::viewportEvent(QEvent* Event)
{
    switch (Event->type()) {
    case QEvent::Resize:
        ApplyScrollBars();
        ViewResize();
        break;
    case QEvent::Enter:
        ViewMouseEnter();
        break;
    case QEvent::Leave:
        ViewMouseLeave();
        break;
    default:
        break;
    }
    return QAbstractScrollArea::viewportEvent(Event);
}

void TCorvDocumentView::OverlayMoved(TCorvOverlay& Overlay, const TCorvRectangle& OldBounds,
                                     const TCorvRectangle& NewBounds)
{
    if (!Overlay.Visible())
        return;
    InvalidateRect(Graphics::UnionRectangles(OldBounds, NewBounds));
    UpdateWindow();
}

void TCorvDocumentView::OverlayChanged(TCorvOverlay&, const TCorvRectangle& OldBounds, const TCorvRectangle&)
{
    InvalidateRect(OldBounds);
    UpdateWindow();
}

// ---- Mouse ----

void TCorvDocumentView::ShowSystemCursor(bool Show)
{
    if (Show)
        viewport()->unsetCursor();
    else
        viewport()->setCursor(Qt::BlankCursor);
}

void TCorvDocumentView::RouteMouse(TShiftState Shift, int32_t X, int32_t Y, bool Press)
{
    bool inside = false;
    TGeometry g;
    if (FDocument != nullptr) {
        inside = Graphics::PointInRectangle(GetItemScreenRect(FDocument->ImageLayer()), X, Y);
        g = Geometry();
    }
    TCorvTool* tool = FTools != nullptr ? FTools->ActiveTool() : nullptr;
    if (FDocument != nullptr && tool != nullptr) {
        if (inside && !FMouseInDocument) {
            ShowSystemCursor(false);
            tool->MouseEnter(Shift, X, Y);
        } else if (inside) {
            // The picture column and row under the cursor, from the unclipped
            // place of the picture, at every scroll position.
            const int32_t docX = X - g.OriginX;
            const int32_t docY = Y - g.OriginY;
            if (Press)
                tool->MouseDown(Shift, X, Y, docX, docY);
            else
                tool->MouseMove(Shift, X, Y, docX, docY);
        } else if (FMouseInDocument) {
            ShowSystemCursor(true);
            tool->MouseLeave(Shift, X, Y);
        }
    }
    FMouseInDocument = inside;
    FMouseInView = true;
    FMousePosition = QPoint(X, Y);
}

void TCorvDocumentView::ViewMouseMove(TShiftState Shift, int32_t X, int32_t Y) { RouteMouse(Shift, X, Y, false); }

void TCorvDocumentView::ViewMouseDown(Qt::MouseButton, TShiftState Shift, int32_t X, int32_t Y)
{
    RouteMouse(Shift, X, Y, true);
}

void TCorvDocumentView::ViewMouseEnter() {}

void TCorvDocumentView::ViewMouseLeave()
{
    TCorvTool* tool = FTools != nullptr ? FTools->ActiveTool() : nullptr;
    if (FMouseInDocument && FDocument != nullptr && tool != nullptr) {
        const QPoint p = viewport()->mapFromGlobal(QCursor::pos());
        tool->MouseLeave(0, p.x(), p.y());
        ShowSystemCursor(true);
    }
    FMouseInDocument = false;
    FMouseInView = false;
}

void TCorvDocumentView::PictureChanged()
{
    // No button: a picture moving under the cursor paints nothing.
    if (FMouseInView)
        RouteMouse(0, FMousePosition.x(), FMousePosition.y(), false);
}

bool TCorvDocumentView::ViewMouseWheelDown(TShiftState, int32_t, int32_t) { return false; }
bool TCorvDocumentView::ViewMouseWheelUp(TShiftState, int32_t, int32_t) { return false; }

void TCorvDocumentView::mouseMoveEvent(QMouseEvent* Event)
{
    const QPoint p = Event->position().toPoint();
    ViewMouseMove(ShiftStateOf(Event->modifiers(), Event->buttons()), p.x(), p.y());
}

void TCorvDocumentView::mousePressEvent(QMouseEvent* Event)
{
    const QPoint p = Event->position().toPoint();
    const TShiftState shift = ShiftStateOf(Event->modifiers(), Event->buttons());
    if (Event->button() == Qt::LeftButton)
        FLeftPressed = true;
    ViewMouseDown(Event->button(), shift, p.x(), p.y());
    if (OnMouseDown)
        OnMouseDown(Event->button(), shift, p.x(), p.y());
}

void TCorvDocumentView::mouseDoubleClickEvent(QMouseEvent* Event) { mousePressEvent(Event); }

void TCorvDocumentView::mouseReleaseEvent(QMouseEvent* Event)
{
    if (Event->button() != Qt::LeftButton)
        return;
    const bool pressed = FLeftPressed;
    FLeftPressed = false;
    if (pressed && viewport()->rect().contains(Event->position().toPoint()) && OnClick)
        OnClick();
}

void TCorvDocumentView::wheelEvent(QWheelEvent* Event)
{
    const QPoint p = Event->position().toPoint();
    const TShiftState shift = ShiftStateOf(Event->modifiers(), Event->buttons());
    const bool handled = Event->angleDelta().y() < 0 ? ViewMouseWheelDown(shift, p.x(), p.y())
                                                     : ViewMouseWheelUp(shift, p.x(), p.y());
    Event->setAccepted(handled);
}

// ---- Scrolling ----

void TCorvDocumentView::InvalidateOverlays()
{
    if (FOverlays == nullptr)
        return;
    for (int32_t i = 0; i < FOverlays->GetCount(); ++i) {
        const TCorvOverlay& o = FOverlays->GetItem(i);
        if (o.Visible())
            InvalidateRect(o.GetBounds());
    }
}

void TCorvDocumentView::scrollContentsBy(int DX, int DY)
{
    if (FPainting) {
        viewport()->update();
        return;
    }
    // The screen pixels move; what they uncover, and the overlays, which stay
    // in place in client coordinates, are painted at once.
    viewport()->scroll(DX, DY);
    const QRegion client(viewport()->rect());
    const QRegion uncovered = client - (client.translated(DX, DY) & client);
    FPending += uncovered;
    if (FOverlays != nullptr) {
        for (int32_t i = 0; i < FOverlays->GetCount(); ++i) {
            const TCorvOverlay& o = FOverlays->GetItem(i);
            if (!o.Visible())
                continue;
            TCorvRectangle moved = o.GetBounds();
            moved.X += DX;
            moved.Y += DY;
            InvalidateRect(o.GetBounds());
            InvalidateRect(moved);
        }
    }
    UpdateWindow();
}

void TCorvDocumentView::BarAction(Qt::Orientation Bar, int Action)
{
    static constexpr std::pair<int, TScrollCode> stepped[] = {{QAbstractSlider::SliderSingleStepSub, scLineUp},
                                                              {QAbstractSlider::SliderSingleStepAdd, scLineDown},
                                                              {QAbstractSlider::SliderPageStepSub, scPageUp},
                                                              {QAbstractSlider::SliderPageStepAdd, scPageDown}};
    const auto found = std::find_if(std::begin(stepped), std::end(stepped),
                                    [Action](const auto& Entry) { return Entry.first == Action; });
    // Thumb dragging and the jumps to either end take the bar's own course;
    // scrollContentsBy repaints around them.
    if (found == std::end(stepped))
        return;
    const TScrollCode code = found->second;
    // The bar has already moved its slider by its own step: undo that and
    // step there smoothly; the bar then settles on where the steps ended.
    QScrollBar* bar = this->Bar(Bar);
    bar->setSliderPosition(bar->value());
    SmoothScroll(Bar, code);
}

void TCorvDocumentView::ScrollCommand(Qt::Orientation Bar, TScrollCode Code, int32_t Position)
{
    if (Code < scThumbPosition) {
        SmoothScroll(Bar, Code);
        return;
    }
    InvalidateOverlays();
    QScrollBar* bar = this->Bar(Bar);
    switch (Code) {
    case scThumbPosition:
    case scThumbTrack:
        bar->setValue(Position);
        break;
    case scTop:
        bar->setValue(0);
        break;
    case scBottom:
        bar->setValue(bar->maximum());
        break;
    default:
        break;
    }
    UpdateWindow();
}

void TCorvDocumentView::SmoothScroll(Qt::Orientation Bar, TScrollCode Code)
{
    QScrollBar* bar = this->Bar(Bar);
    const int32_t e = Bar == Qt::Vertical ? ClientHeight() : ClientWidth();
    const int32_t page = e * 9 / 10;
    int32_t count = 0, step = 0, last = 0;
    if (Code == scLineUp || Code == scLineDown) {
        const int32_t increment = bar->singleStep();
        step = increment / SmoothScrollLineSteps;
        last = increment % SmoothScrollLineSteps;
        count = SmoothScrollLineSteps;
    } else if (Code == scPageUp || Code == scPageDown) {
        step = page / SmoothScrollPageSteps;
        last = page % SmoothScrollPageSteps;
        count = SmoothScrollPageSteps;
    }
    const int32_t sign = (Code == scLineUp || Code == scPageUp) ? -1 : 1;
    using TClock = std::chrono::steady_clock;
    const auto delay = std::chrono::milliseconds(SmoothScrollStepDelay);
    std::optional<TClock::time_point> previous;
    for (int32_t i = 0; i < count; ++i) {
        const TClock::time_point now = TClock::now();
        if (previous && now - *previous < delay)
            std::this_thread::sleep_for(delay - (now - *previous));
        InvalidateOverlays();
        previous = now;
        bar->setValue(bar->value() + sign * step);
        UpdateWindow();
    }
    if (last > 0) {
        InvalidateOverlays();
        bar->setValue(bar->value() + sign * last);
        UpdateWindow();
    }
}

} // namespace Corvanith::View
