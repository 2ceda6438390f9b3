#include "forms/windowpicker.h"

#include "io/utils.h"

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <tuple>

namespace Corvanith::Forms {

namespace {

int TransientDepth(const QWindow& Window)
{
    int depth = 0;
    for (const QWindow* parent = Window.transientParent(); parent != nullptr; parent = parent->transientParent())
        ++depth;
    return depth;
}

} // namespace

QWindow* WindowAt(const QPoint& Point, const QWindow* Except)
{
    QWindow* best = nullptr;
    std::tuple<bool, int, bool> bestRank;
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (window == Except || !window->isVisible() || (window->windowStates() & Qt::WindowMinimized)
            || window->type() == Qt::ToolTip || !WindowRegion(*window).contains(Point))
            continue;
        const std::tuple<bool, int, bool> rank(window->flags().testFlag(Qt::WindowStaysOnTopHint),
                                               TransientDepth(*window), window->isActive());
        if (best == nullptr || rank > bestRank) {
            best = window;
            bestRank = rank;
        }
    }
    return best;
}

QRegion WindowRegion(const QWindow& Window)
{
    const QRegion mask = Window.mask();
    if (mask.isEmpty())
        return QRegion(Window.frameGeometry());
    return mask.translated(Window.geometry().topLeft());
}

QRegion FrameBand(const QRegion& Region, int Width, int Height)
{
    const QRegion inner = Region & Region.translated(Width, 0) & Region.translated(-Width, 0)
        & Region.translated(0, Height) & Region.translated(0, -Height);
    return Region - inner;
}

TPickerWindow::TPickerWindow(TWindowPickEvent OnPick, Qt::WindowFlags Flags)
    : QWidget(nullptr, Flags), FOnPick(std::move(OnPick))
{
}

void TPickerWindow::Grab()
{
    grabMouse();
    grabKeyboard();
}

void TPickerWindow::mouseMoveEvent(QMouseEvent* Event) { Track(Event->globalPosition().toPoint()); }

void TPickerWindow::mouseReleaseEvent(QMouseEvent* Event)
{
    if (Event->button() == Qt::LeftButton)
        Finish(true, Event->globalPosition().toPoint());
    else if (Event->button() == Qt::RightButton)
        Finish(false, {});
}

void TPickerWindow::keyPressEvent(QKeyEvent* Event)
{
    if (Event->key() == Qt::Key_Escape)
        Finish(false, {});
}

void TPickerWindow::closeEvent(QCloseEvent* Event)
{
    Finish(false, {});
    QWidget::closeEvent(Event);
}

void TPickerWindow::Finish(bool Picked, const QPoint& Point)
{
    if (FFinished)
        return;
    FFinished = true;
    TWindowPick pick;
    if (Picked) {
        // The button may go up before the mouse ever moved.
        Track(Point);
        pick = PickTracked();
        pick.X = Point.x();
        pick.Y = Point.y();
    }
    releaseKeyboard();
    releaseMouse();
    hide();
    if (Picked)
        TakePicture(pick);
    if (FOnPick)
        FOnPick(pick);
    deleteLater();
}

void PickWindow(TWindowPickEvent OnPick)
{
    if (Platform::X11::Available())
        TX11WindowPicker::Create(std::move(OnPick));
    else
        TWindowPicker::Create(std::move(OnPick));
}

TWindowPicker* TWindowPicker::Create(TWindowPickEvent OnPick)
{
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    return Create(std::move(OnPick), *screen, screen->grabWindow(0));
}

TWindowPicker* TWindowPicker::Create(TWindowPickEvent OnPick, QScreen& Screen, const QPixmap& Shot)
{
    return new TWindowPicker(std::move(OnPick), Screen, Shot);
}

TWindowPicker::TWindowPicker(TWindowPickEvent OnPick, QScreen& Screen, const QPixmap& Shot)
    : TPickerWindow(std::move(OnPick), Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                                           | Qt::X11BypassWindowManagerHint),
      FScreenRect(Screen.geometry()), FShot(Shot)
{
    // Without a picture the screen shows through where a compositor lets it.
    if (FShot.isNull())
        setAttribute(Qt::WA_TranslucentBackground);
    setMouseTracking(true);
    setCursor(Qt::ArrowCursor);
    setFocusPolicy(Qt::StrongFocus);
    setScreen(&Screen);
    setGeometry(FScreenRect);
    FHotRegion = QRegion(FScreenRect);
    // Full screen as well, for platforms where no window passes by the
    // window manager.
    showFullScreen();
    raise();
    activateWindow();
    Grab();
    Track(QCursor::pos());
}

bool TWindowPicker::event(QEvent* Event)
{
    // A grab asked for before the window was on the screen may not have
    // taken; once it is active it surely is.
    if (Event->type() == QEvent::WindowActivate && !Finished())
        Grab();
    return QWidget::event(Event);
}

void TWindowPicker::Track(const QPoint& Point)
{
    QWindow* window = WindowAt(Point, windowHandle());
    if (window == FHotWindow && !FHotRegion.isEmpty())
        return;
    FHotWindow = window;
    FHotRegion = window != nullptr ? WindowRegion(*window) & FScreenRect : QRegion(FScreenRect);
    update();
}

void TWindowPicker::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRegion band = FrameBand(FHotRegion).translated(-FScreenRect.topLeft());
    const QColor text = palette().color(QPalette::WindowText);
    if (FShot.isNull()) {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), QColor(0, 0, 0, 1));
        painter.setClipRegion(band);
        painter.fillRect(rect(), QBrush(text, Qt::FDiagPattern));
        return;
    }
    painter.drawPixmap(0, 0, FShot);
    // As a hatched brush combined by XOR with the screen: the band is
    // inverted, and the hatch lines take the window-text colour XOR the
    // picture (black text leaves the picture there).
    painter.setClipRegion(band);
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.fillRect(rect(), QColor(Qt::white));
    painter.fillRect(rect(), QBrush(QColor::fromRgb(~text.rgb() & 0xFFFFFF), Qt::FDiagPattern));
}

TWindowPick TWindowPicker::PickTracked() const
{
    TWindowPick pick;
    pick.Window = FHotWindow;
    pick.Bounds = FHotRegion.boundingRect();
    if (!FShot.isNull()) {
        const qreal ratio = FShot.devicePixelRatio();
        const QRect local = pick.Bounds.translated(-FScreenRect.topLeft());
        pick.Picture = FShot
                           .copy(QRect(QPoint(qRound(local.x() * ratio), qRound(local.y() * ratio)),
                                       QSize(qRound(local.width() * ratio), qRound(local.height() * ratio))))
                           .toImage();
    }
    return pick;
}

// ---- X11 ----

namespace {

// The band lay over the picked window's edge: the window is given this long
// to paint it again before its picture is taken.
constexpr uint32_t RepaintDelay = 100;

} // namespace

TX11WindowPicker* TX11WindowPicker::Create(TWindowPickEvent OnPick)
{
    return new TX11WindowPicker(std::move(OnPick));
}

TX11WindowPicker::TX11WindowPicker(TWindowPickEvent OnPick)
    : TPickerWindow(std::move(OnPick), Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                                           | Qt::X11BypassWindowManagerHint),
      FScreenRect(QGuiApplication::primaryScreen() != nullptr ? QGuiApplication::primaryScreen()->virtualGeometry()
                                                              : QRect())
{
    // Named for the tools that list the display's windows.
    setWindowTitle(QStringLiteral("Capture Window"));
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    setCursor(Qt::ArrowCursor);
    setFocusPolicy(Qt::StrongFocus);
    Park();
    show();
    raise();
    Grab();
    Track(QCursor::pos());
}

void TX11WindowPicker::Park()
{
    // Out of sight but never unmapped while it runs: the grabs last only
    // while the window is viewable.
    setGeometry(FScreenRect.x() - 1, FScreenRect.y() - 1, 1, 1);
    clearMask();
}

bool TX11WindowPicker::event(QEvent* Event)
{
    // A grab asked for before the window was on the screen may not have
    // taken; once it is painted it surely is. Only once: each grab of the
    // keyboard moves the focus, and with it the window's activation.
    if (Event->type() == QEvent::Paint && !FGrabbed) {
        FGrabbed = true;
        Grab();
    }
    return QWidget::event(Event);
}

void TX11WindowPicker::Track(const QPoint&)
{
    const Platform::X11::TWindowId window = Platform::X11::WindowAtPointer({Platform::X11::TWindowId(winId())});
    if (window == FHotWindow)
        return;
    FHotWindow = window;
    FHotRegion = window != 0 ? Platform::X11::WindowRegion(window) & FScreenRect : QRegion();
    if (FHotRegion.isEmpty()) {
        Park();
        return;
    }
    const QRect bounds = FHotRegion.boundingRect();
    setGeometry(bounds);
    setMask(FrameBand(FHotRegion).translated(-bounds.topLeft()));
    update();
}

void TX11WindowPicker::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.fillRect(rect(), QBrush(palette().color(QPalette::WindowText), Qt::FDiagPattern));
}

TWindowPick TX11WindowPicker::PickTracked() const
{
    TWindowPick pick;
    pick.NativeWindow = FHotWindow;
    pick.Bounds = Platform::X11::WindowRect(FHotWindow) & FScreenRect;
    return pick;
}

void TX11WindowPicker::TakePicture(TWindowPick& Pick)
{
    if (Pick.NativeWindow == 0)
        return;
    Utils::Delay(RepaintDelay);
    Pick.Picture = Platform::X11::GrabWindow(Pick.NativeWindow, Pick.Bounds);
}

} // namespace Corvanith::Forms
