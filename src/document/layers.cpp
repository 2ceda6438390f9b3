#include "document/layers.h"

#include "graphics/errors.h"
#include "graphics/region.h"
#include "graphics/surface.h"

namespace Corvanith::Document {

using Graphics::TCorvRectangle;
using Graphics::TCorvRegion;
using Graphics::TCorvSurface;

namespace {

const TCorvImageLayer& ImageOf(const TCorvLayer& Layer) { return Layer.Document()->ImageLayer(); }

} // namespace

// ---- Image layer ----

TCorvImageLayer::TCorvImageLayer(std::unique_ptr<TCorvSurface> Surface) : FSurface(std::move(Surface))
{
    if (!FSurface)
        throw EArgumentError("An image layer needs a surface.");
}

TCorvImageLayer::~TCorvImageLayer() = default;

int32_t TCorvImageLayer::GetHeight() const { return FSurface->Height(); }
int32_t TCorvImageLayer::GetWidth() const { return FSurface->Width(); }
bool TCorvImageLayer::IsOpaque() const { return !FSurface->HasAlpha(); }

void TCorvImageLayer::Paint(TCorvSurface& Target, int32_t X, int32_t Y, const TCorvRectangle& SrcRect)
{
    if (FSurface->HasAlpha())
        FSurface->AlphaBlendTo(Target, X, Y, SrcRect);
    else
        FSurface->CopyTo(Target, X, Y, SrcRect);
}

void TCorvImageLayer::SetSurface(std::unique_ptr<TCorvSurface> Surface)
{
    if (!Surface)
        throw EArgumentError("An image layer needs a surface.");
    FSurface = std::move(Surface);
    SurfaceChanged();
}

void TCorvImageLayer::SurfaceChanged()
{
    if (Document() != nullptr)
        Document()->UpdateBounds();
}

// ---- Layers around the picture ----

int32_t TCorvSurroundLayer::GetHeight() const { return Shown() ? ImageOf(*this).GetHeight() + 2 * Margin() : 0; }
int32_t TCorvSurroundLayer::GetLeft() const { return Shown() ? ImageOf(*this).GetLeft() - Margin() : 0; }
int32_t TCorvSurroundLayer::GetTop() const { return Shown() ? ImageOf(*this).GetTop() - Margin() : 0; }
int32_t TCorvSurroundLayer::GetWidth() const { return Shown() ? ImageOf(*this).GetWidth() + 2 * Margin() : 0; }

void TCorvBackgroundLayer::Paint(TCorvSurface& Target, int32_t X, int32_t Y, const TCorvRectangle& SrcRect)
{
    const TCorvImageLayer& image = ImageOf(*this);
    const int32_t bw = FSettings.BorderWidth;
    const TCorvRectangle pictureRect{bw, bw, image.GetWidth(), image.GetHeight()};
    // Layer coordinates to Target coordinates.
    const int32_t dx = X - SrcRect.X;
    const int32_t dy = Y - SrcRect.Y;
    if (!image.IsOpaque()) {
        TCorvRectangle r = Graphics::IntersectRectangles(pictureRect, SrcRect);
        if (r.Width != 0 && r.Height != 0) {
            r.X += dx;
            r.Y += dy;
            switch (uint8_t(FSettings.BackgroundStyle)) {
            case uint8_t(Settings::TBackgroundStyle::Solid):
                Target.FillRect(r, FSettings.BackgroundColor);
                break;
            case uint8_t(Settings::TBackgroundStyle::Checkerboard):
                // The squares start at the layer's own corner, wherever the part lands.
                Target.FillCheckerboard(r, -dx, -dy);
                break;
            default:
                break;
            }
        }
    }
    if (bw != 0) {
        TCorvRegion frame = TCorvRegion::CreateRect(0, 0, GetWidth(), GetHeight());
        frame.Exclude(pictureRect);
        frame.Intersect(SrcRect);
        if (!frame.IsEmpty()) {
            frame.Translate(dx, dy);
            Target.FillRegion(frame, FSettings.BorderColor);
        }
    }
}

void TCorvDocumentShadowLayer::Paint(TCorvSurface& Target, int32_t X, int32_t Y, const TCorvRectangle& SrcRect)
{
    Target.DrawShadow({X - SrcRect.X, Y - SrcRect.Y, GetWidth(), GetHeight()},
                      {X, Y, SrcRect.Width, SrcRect.Height}, FSettings.ShadowColor1, FSettings.ShadowColor2);
}

// ---- Brushes layer ----

TCorvBrushesLayer::TCorvBrushesLayer() = default;
TCorvBrushesLayer::~TCorvBrushesLayer() = default;

int32_t TCorvBrushesLayer::GetHeight() const { return FSurface ? ImageOf(*this).GetHeight() : 0; }
int32_t TCorvBrushesLayer::GetLeft() const { return FSurface ? ImageOf(*this).GetLeft() : 0; }
int32_t TCorvBrushesLayer::GetTop() const { return FSurface ? ImageOf(*this).GetTop() : 0; }
int32_t TCorvBrushesLayer::GetWidth() const { return FSurface ? ImageOf(*this).GetWidth() : 0; }

void TCorvBrushesLayer::Paint(TCorvSurface& Target, int32_t X, int32_t Y, const TCorvRectangle& SrcRect)
{
    if (!FSurface || Hidden)
        return;
    // The layer has the picture's rectangle; a mask that lags behind a change
    // of the picture's size is drawn only where it has pixels.
    const TCorvRectangle r = Graphics::IntersectRectangles(SrcRect, {0, 0, FSurface->Width(), FSurface->Height()});
    if (!r.IsEmpty())
        FSurface->AlphaBlendTo(Target, X + r.X - SrcRect.X, Y + r.Y - SrcRect.Y, r);
}

TCorvSurface& TCorvBrushesLayer::GetSurface()
{
    if (!FSurface) {
        const TCorvImageLayer& image = ImageOf(*this);
        FSurface = TCorvSurface::CreateFilled(image.GetWidth(), image.GetHeight(), 0);
    }
    return *FSurface;
}

void TCorvBrushesLayer::ClearBrushes() { FSurface.reset(); }

} // namespace Corvanith::Document
