#pragma once
// Lets the user point with the mouse at a window and pick it.
//
// On X11 the display tells which window of any program lies under the
// pointer, down to the innermost child: the picker grabs the mouse, frames
// that window with a hatched band along its edge (its shape where it has
// one), and on a left release takes its picture as it stands on the screen.
//
// Elsewhere (Wayland) nothing tells where other programs' windows are, nor
// lets the program draw onto the screen: the picker covers the screen under
// the cursor with a picture of it taken when it starts, and outlines, on that
// picture, the program's own top-level window under the cursor (the whole
// screen where there is none) with a hatched, inverted frame.
//
// Releasing the left button picks, releasing the right button or pressing
// Esc cancels; either way the picker reports once and then frees itself.
#include "platform/x11windows.h"

#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QRegion>
#include <QWidget>
#include <QWindow>

#include <cstdint>
#include <functional>

class QScreen;

namespace Corvanith::Forms {

struct TWindowPick {
    // The picked window of the program's own, off X11; null for the screen
    // itself, on X11, and for a cancelled pick.
    QWindow* Window = nullptr;
    // The picked window of the X11 display (the root for the whole screen);
    // 0 off X11 and for a cancelled pick.
    Platform::X11::TWindowId NativeWindow = 0;
    // The outlined area's bounds in screen coordinates, within the picker's
    // screen; empty for a cancelled pick.
    QRect Bounds;
    // The cursor's position in screen coordinates when the button went up;
    // 0, 0 for a cancelled pick.
    int32_t X = 0;
    int32_t Y = 0;
    // The pixels of Bounds as the screen shows them (off X11: when the picker
    // started); the picker itself is not in them. Null when cancelled or when
    // the platform gave no picture of the screen.
    QImage Picture;
};

using TWindowPickEvent = std::function<void(const TWindowPick& Pick)>;

// Starts the picker the platform allows (above) and returns at once. Nobody
// keeps or frees the picker: it frees itself once it has reported.
void PickWindow(TWindowPickEvent OnPick);

// The application's top-level window that shows at Point (screen
// coordinates): visible, not minimised, no tool tip, not Except, with Point
// inside its frame and inside its mask where it has one. Of several, a window
// that stays on top wins, then the one deepest in a chain of transient
// parents (a dialog over its owner), then the active one.
QWindow* WindowAt(const QPoint& Point, const QWindow* Except = nullptr);

// The area Window's outline follows, in screen coordinates: its frame, or
// its mask where it has one.
QRegion WindowRegion(const QWindow& Window);

// The band Width pixels wide and Height pixels high just inside Region's edges.
QRegion FrameBand(const QRegion& Region, int Width = 3, int Height = 3);

// What both pickers share: a move tracks the window under the cursor, a left
// release picks, a right release, Esc or closing the window cancel; either
// way the picker reports once and frees itself.
class TPickerWindow : public QWidget {
    Q_OBJECT
protected:
    TPickerWindow(TWindowPickEvent OnPick, Qt::WindowFlags Flags);

    bool Finished() const { return FFinished; }
    // Holds the mouse and the keyboard while the picker runs.
    void Grab();
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;

    // Point: the cursor's position in screen coordinates.
    virtual void Track(const QPoint& Point) = 0;
    // The window tracked last, its bounds and the picture where the picker
    // has one already.
    virtual TWindowPick PickTracked() const = 0;
    // Once the picker has left the screen: the picture as the screen shows it.
    virtual void TakePicture(TWindowPick&) {}

private:
    void Finish(bool Picked, const QPoint& Point);

    TWindowPickEvent FOnPick;
    bool FFinished = false;
};

// The picker off X11, over a picture of the screen.
class TWindowPicker : public TPickerWindow {
    Q_OBJECT
public:
    // Takes a picture of the screen under the cursor, covers that screen and
    // starts tracking the mouse; returns at once. Nobody keeps or frees the
    // picker: it frees itself once it has reported.
    static TWindowPicker* Create(TWindowPickEvent OnPick);
    // The same over a given picture of Screen, which may be null.
    static TWindowPicker* Create(TWindowPickEvent OnPick, QScreen& Screen, const QPixmap& Shot);

    // What is outlined now: a window, or null for the screen.
    QWindow* HotWindow() const { return FHotWindow; }
    // The outlined area in screen coordinates.
    const QRegion& HotRegion() const { return FHotRegion; }

protected:
    bool event(QEvent* Event) override;
    void paintEvent(QPaintEvent* Event) override;

private:
    TWindowPicker(TWindowPickEvent OnPick, QScreen& Screen, const QPixmap& Shot);

    void Track(const QPoint& Point) override;
    TWindowPick PickTracked() const override;

    const QRect FScreenRect;
    const QPixmap FShot;
    QPointer<QWindow> FHotWindow;
    QRegion FHotRegion;
};

// The picker over the windows of every program on X11. Its own window is the
// frame band, shaped to the band; it never counts as a window under the
// pointer.
class TX11WindowPicker : public TPickerWindow {
    Q_OBJECT
public:
    // Grabs the mouse and frames the window under the pointer; returns at once.
    static TX11WindowPicker* Create(TWindowPickEvent OnPick);

    // What is framed now: a window of the display, the root for the whole
    // screen; 0 for nothing.
    Platform::X11::TWindowId HotWindow() const { return FHotWindow; }
    // The framed area in root coordinates, within the screens.
    const QRegion& HotRegion() const { return FHotRegion; }

protected:
    bool event(QEvent* Event) override;
    void paintEvent(QPaintEvent* Event) override;

private:
    explicit TX11WindowPicker(TWindowPickEvent OnPick);

    // Frames nothing.
    void Park();
    // The display is asked where the pointer is.
    void Track(const QPoint& Point) override;
    TWindowPick PickTracked() const override;
    void TakePicture(TWindowPick& Pick) override;

    const QRect FScreenRect;
    Platform::X11::TWindowId FHotWindow = 0;
    QRegion FHotRegion;
    bool FGrabbed = false;
};

} // namespace Corvanith::Forms
