#pragma once
// The imaging layer: 32-bit straight-ARGB bitmaps over memory the caller owns
// and drawing into them. Everything above this folder reaches Qt's imaging
// through these classes only.
#include <QImage>
#include <QPainter>

#include <cstdint>
#include <optional>

namespace Corvanith::Platform {

// A bitmap sharing the caller's buffer (B, G, R, A bytes, straight alpha).
// Never copied: a copied QImage detaches on the next paint and the caller's
// buffer would silently stop receiving the drawing.
class TSharedBitmap {
public:
    TSharedBitmap(uint8_t* Bits, int32_t Width, int32_t Height, int32_t Stride);
    TSharedBitmap(const TSharedBitmap&) = delete;
    TSharedBitmap& operator=(const TSharedBitmap&) = delete;

    QImage& Image() { return FImage; }
    const QImage& Image() const { return FImage; }

private:
    QImage FImage;
};

// A drawing target: either a painter of its own on a shared bitmap, or a
// painter someone else runs (a widget's paint event).
class TCanvas {
public:
    explicit TCanvas(TSharedBitmap& Target);
    explicit TCanvas(QPainter& Borrowed);
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;
    ~TCanvas();

    QPainter& Painter() { return *FPainter; }

    // Draws Width x Height pixels of a buffer 1:1 at (DestX, DestY), replacing
    // what is there, with no conversion on the way: their alpha bytes must be
    // 255 (the surface's Draw sees to it).
    void DrawOpaque(const uint8_t* Bits, int32_t Stride, int32_t SrcX, int32_t SrcY, int32_t Width,
                    int32_t Height, int32_t DestX, int32_t DestY);

    // The outline of (X, Y, Width, Height) through rows Y and Y + Height and
    // columns X and X + Width, with a one-pixel pen of Color ($AARRGGBB)
    // blended over what is there. Leaves the painter's settings as they were.
    void DrawOutline(uint32_t Color, int32_t X, int32_t Y, int32_t Width, int32_t Height);

    // The ellipse in (X, Y, Width, Height) filled antialiased over what is
    // there: CenterColor inside the concentric ellipse scaled by FocusScale
    // (clamped to 0 .. 1), then towards SurroundColor at the edge, the
    // channels blended in linear light. Leaves the painter's settings as
    // they were.
    void FillEllipseGradient(int32_t X, int32_t Y, int32_t Width, int32_t Height, uint32_t SurroundColor,
                             uint32_t CenterColor, float FocusScale);
    // The antialiased outline of the ellipse in (X, Y, Width, Height), a pen
    // of width 1 centred on it; nothing for a width or height below 1.
    void DrawEllipse(uint32_t Color, int32_t X, int32_t Y, int32_t Width, int32_t Height);

private:
    std::optional<QPainter> FOwned;
    QPainter* FPainter;
};

} // namespace Corvanith::Platform
