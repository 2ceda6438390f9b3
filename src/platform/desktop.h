#pragma once
// Pictures the desktop hands over: the clipboard's picture and captures of
// the screen, as bitmaps of the imaging layer.
#include "platform/codecs.h"

#include <QIcon>
#include <QRect>

#include <memory>

namespace Corvanith::Platform {

class TSharedBitmap;

// An icon showing a copy of Bitmap's pixels.
QIcon IconFromBitmap(const TSharedBitmap& Bitmap);

// The clipboard offers a picture.
bool ClipboardHasBitmap();
// The clipboard's picture, or null when it offers none.
std::unique_ptr<TBitmap> ClipboardBitmap();

// The part Rect (screen coordinates) of the whole screen, or null when the
// platform gives no picture of it (an offscreen display, a refused grab).
std::unique_ptr<TBitmap> GrabScreen(const QRect& Rect);
// The primary screen's rectangle, screen coordinates; empty without a screen.
QRect ScreenRect();

} // namespace Corvanith::Platform
