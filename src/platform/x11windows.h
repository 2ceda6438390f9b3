#pragma once
// The windows of every program on the X11 display the program runs on, through
// xcb where Qt has no call: which window lies under the pointer (down to the
// innermost child), where it is, the shape it has, and its picture as it
// stands on the screen. Elsewhere (Wayland, offscreen) there is no display to
// ask: Available() is false and the rest answers nothing.
#include <QImage>
#include <QRect>
#include <QRegion>

#include <cstdint>
#include <vector>

namespace Corvanith::Platform::X11 {

using TWindowId = uint32_t;

// The program runs on an X11 display.
bool Available();

// The root window of the display; 0 without one.
TWindowId RootWindow();

// The innermost window under the pointer, walked down from the root window
// (the root itself where the pointer is over no other window). The windows
// of Except never count: where the server reports one of them, the walk goes
// on with the window beneath it. 0 without a display.
TWindowId WindowAtPointer(const std::vector<TWindowId>& Except = {});

// Window's rectangle in root coordinates, its border included; empty for a
// window that no longer exists.
QRect WindowRect(TWindowId Window);

// The area Window covers in root coordinates: its bounding shape where it has
// one (the shape extension), else its rectangle.
QRegion WindowRegion(TWindowId Window);

// The part Rect (root coordinates) of the screen where Window shows, as it
// stands on the screen now; null when the display gives no picture.
QImage GrabWindow(TWindowId Window, const QRect& Rect);

} // namespace Corvanith::Platform::X11
