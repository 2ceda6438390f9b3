#include "platform/imaging.h"

namespace Corvanith::Platform {

TSharedBitmap::TSharedBitmap(uint8_t* Bits, int32_t Width, int32_t Height, int32_t Stride)
    // The non-const constructor: a const buffer would make the image read-only
    // and the first paint would detach from it.
    : FImage(Bits, Width, Height, Stride, QImage::Format_ARGB32)
{
}

TCanvas::TCanvas(TSharedBitmap& Target) : FOwned(std::in_place, &Target.Image()), FPainter(&*FOwned) {}

TCanvas::TCanvas(QPainter& Borrowed) : FPainter(&Borrowed) {}

TCanvas::~TCanvas()
{
    if (FOwned)
        FOwned->end();
}

void TCanvas::DrawOpaque(const uint8_t* Bits, int32_t Stride, int32_t SrcX, int32_t SrcY, int32_t Width,
                         int32_t Height, int32_t DestX, int32_t DestY)
{
    if (Width <= 0 || Height <= 0)
        return;
    const uint8_t* first = Bits + int64_t(SrcY) * Stride + int64_t(SrcX) * 4;
    // An RGB32 view drawn in Source mode would still copy the alpha byte;
    // converting it to ARGB32 forces alpha to 255.
    const QImage view(first, Width, Height, Stride, QImage::Format_RGB32);
    const QImage opaque = view.convertToFormat(QImage::Format_ARGB32);
    const QPainter::CompositionMode previous = FPainter->compositionMode();
    FPainter->setCompositionMode(QPainter::CompositionMode_Source);
    FPainter->drawImage(DestX, DestY, opaque);
    FPainter->setCompositionMode(previous);
}

void TCanvas::DrawOutline(uint32_t Color, int32_t X, int32_t Y, int32_t Width, int32_t Height)
{
    FPainter->save();
    // Without antialiasing a one-pixel pen covers whole pixels only.
    FPainter->setRenderHint(QPainter::Antialiasing, false);
    FPainter->setPen(QPen(QColor::fromRgba(Color), 1.0));
    FPainter->setBrush(Qt::NoBrush);
    FPainter->drawRect(QRect(X, Y, Width, Height));
    FPainter->restore();
}

} // namespace Corvanith::Platform
