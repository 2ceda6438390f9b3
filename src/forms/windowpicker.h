#pragma once
// Lets the user point with the mouse at one of the program's windows, or at
// the whole screen. Qt can neither tell which window of another program lies
// under the cursor nor draw onto the screen itself, so the picker covers the
// screen under the cursor with a picture of it taken when it starts, and
// outlines, on that picture, the program's top-level window under the cursor
// (the whole screen where there is none) with a hatched, inverted frame.
// Releasing the left button picks, releasing the right button or pressing Esc
// cancels; either way the picker reports once and then frees itself.
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
    // The picked window; null for the screen itself, and for a cancelled pick.
    QWindow* Window = nullptr;
    // The outlined area's bounds in screen coordinates, within the picker's
    // screen; empty for a cancelled pick.
    QRect Bounds;
    // The cursor's position in screen coordinates when the button went up;
    // 0, 0 for a cancelled pick.
    int32_t X = 0;
    int32_t Y = 0;
    // The pixels of Bounds as the screen showed them when the picker started
    // (the picker itself is not in them); null when cancelled or when the
    // platform gave no picture of the screen.
    QImage Picture;
};

using TWindowPickEvent = std::function<void(const TWindowPick& Pick)>;

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

class TWindowPicker : public QWidget {
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
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;

private:
    TWindowPicker(TWindowPickEvent OnPick, QScreen& Screen, const QPixmap& Shot);

    void Grab();
    void Track(const QPoint& Point);
    void Finish(bool Picked, const QPoint& Point);

    TWindowPickEvent FOnPick;
    const QRect FScreenRect;
    const QPixmap FShot;
    QPointer<QWindow> FHotWindow;
    QRegion FHotRegion;
    bool FFinished = false;
};

} // namespace Corvanith::Forms
