#include "platform/imaging.h"

#include <QRadialGradient>

#include <algorithm>
#include <cmath>

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
    // Opaque pixels are what RGB32 stands for: the painter copies them as they are.
    const QImage view(first, Width, Height, Stride, QImage::Format_RGB32);
    const QPainter::CompositionMode previous = FPainter->compositionMode();
    FPainter->setCompositionMode(QPainter::CompositionMode_Source);
    FPainter->drawImage(DestX, DestY, view);
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

namespace {

// One channel of the blend of A and B at T (0 at A), through linear light.
int GammaMix(int A, int B, double T)
{
    constexpr double Gamma = 2.2;
    const double linear = (1.0 - T) * std::pow(A / 255.0, Gamma) + T * std::pow(B / 255.0, Gamma);
    return int(std::lround(255.0 * std::pow(linear, 1.0 / Gamma)));
}

QColor GammaMix(const QColor& A, const QColor& B, double T)
{
    return QColor(GammaMix(A.red(), B.red(), T), GammaMix(A.green(), B.green(), T), GammaMix(A.blue(), B.blue(), T),
                  GammaMix(A.alpha(), B.alpha(), T));
}

} // namespace

void TCanvas::FillEllipseGradient(int32_t X, int32_t Y, int32_t Width, int32_t Height, uint32_t SurroundColor,
                                  uint32_t CenterColor, float FocusScale)
{
    if (Width <= 0 || Height <= 0)
        return;
    const double focus = std::clamp(double(FocusScale), 0.0, 1.0);
    const QColor surround = QColor::fromRgba(SurroundColor);
    const QColor center = QColor::fromRgba(CenterColor);
    const QRectF rect(X, Y, Width, Height);
    // A circle's gradient drawn through a scale gives the ellipse's.
    QRadialGradient gradient(QPointF(0.5, 0.5), 0.5);
    gradient.setCoordinateMode(QGradient::ObjectMode);
    gradient.setColorAt(0.0, center);
    gradient.setColorAt(focus, center);
    // Stops along the rim stand in for the blend in linear light.
    constexpr int RimStops = 8;
    for (int i = 1; i <= RimStops; ++i) {
        const double t = double(i) / RimStops;
        gradient.setColorAt(focus + (1.0 - focus) * t, GammaMix(center, surround, t));
    }
    FPainter->save();
    FPainter->setRenderHint(QPainter::Antialiasing, true);
    FPainter->setPen(Qt::NoPen);
    FPainter->setBrush(gradient);
    FPainter->drawEllipse(rect);
    FPainter->restore();
}

void TCanvas::DrawEllipse(uint32_t Color, int32_t X, int32_t Y, int32_t Width, int32_t Height)
{
    if (Width <= 0 || Height <= 0)
        return;
    FPainter->save();
    FPainter->setRenderHint(QPainter::Antialiasing, true);
    FPainter->setPen(QPen(QColor::fromRgba(Color), 1.0));
    FPainter->setBrush(Qt::NoBrush);
    FPainter->drawEllipse(QRectF(X, Y, Width, Height));
    FPainter->restore();
}

} // namespace Corvanith::Platform
