#include "platform/desktop.h"

#include "platform/imaging.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QPixmap>
#include <QScreen>

namespace Corvanith::Platform {

QIcon IconFromBitmap(const TSharedBitmap& Bitmap) { return QIcon(QPixmap::fromImage(Bitmap.Image().copy())); }

bool ClipboardHasBitmap()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data != nullptr && data->hasImage();
}

std::unique_ptr<TBitmap> ClipboardBitmap()
{
    if (!ClipboardHasBitmap())
        return nullptr;
    QImage image = QGuiApplication::clipboard()->image();
    if (image.isNull())
        return nullptr;
    return std::make_unique<TBitmap>(std::move(image));
}

std::unique_ptr<TBitmap> GrabScreen(const QRect& Rect)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr || Rect.isEmpty())
        return nullptr;
    const QPixmap shot = screen->grabWindow(0, Rect.x(), Rect.y(), Rect.width(), Rect.height());
    if (shot.isNull())
        return nullptr;
    return std::make_unique<TBitmap>(shot.toImage());
}

QRect ScreenRect()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen == nullptr ? QRect() : screen->geometry();
}

} // namespace Corvanith::Platform
