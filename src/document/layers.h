#pragma once
// The four layer kinds of a shown document, bottom to top: the frame and the
// fill under a transparent picture, the soft shadow around the frame, the
// picture, and the brush strokes that form the resizer's preserve mask. All
// but the image layer follow the picture through their document, so they
// answer only once inserted. The kinds that depend on the fixed settings read
// them through the reference they are made with.
#include "document/document.h"
#include "io/settings.h"

#include <memory>

namespace Corvanith::Document {

class TCorvImageLayer : public TCorvLayer {
public:
    explicit TCorvImageLayer(std::unique_ptr<Graphics::TCorvSurface> Surface);
    ~TCorvImageLayer() override;

    int32_t GetHeight() const override;
    int32_t GetLeft() const override { return 0; }
    int32_t GetTop() const override { return 0; }
    int32_t GetWidth() const override;
    bool IsOpaque() const override;
    void Paint(Graphics::TCorvSurface& Target, int32_t X, int32_t Y, const Graphics::TCorvRectangle& SrcRect) override;

    Graphics::TCorvSurface& Surface() const { return *FSurface; }
    // A different surface replaces (and frees) the current one; in every case
    // the document's bounds follow the surface's current size.
    void SetSurface(std::unique_ptr<Graphics::TCorvSurface> Surface);
    // The current surface changed size in place.
    void SurfaceChanged();

private:
    std::unique_ptr<Graphics::TCorvSurface> FSurface;
};

// A layer around the picture, reaching Margin() pixels beyond it on every
// side; while not Shown() it has zero size at (0, 0).
class TCorvSurroundLayer : public TCorvLayer {
public:
    int32_t GetHeight() const override;
    int32_t GetLeft() const override;
    int32_t GetTop() const override;
    int32_t GetWidth() const override;

protected:
    explicit TCorvSurroundLayer(const Settings::TSettings& Settings) : FSettings(Settings) {}
    virtual int32_t Margin() const = 0;
    virtual bool Shown() const { return true; }

    const Settings::TSettings& FSettings;
};

// The frame of BorderWidth around the picture and, under a picture with
// alpha, the solid or checkerboard fill. Always opaque.
class TCorvBackgroundLayer : public TCorvSurroundLayer {
public:
    explicit TCorvBackgroundLayer(const Settings::TSettings& Settings = Settings::Current())
        : TCorvSurroundLayer(Settings)
    {
    }

    bool IsOpaque() const override { return true; }
    void Paint(Graphics::TCorvSurface& Target, int32_t X, int32_t Y, const Graphics::TCorvRectangle& SrcRect) override;

protected:
    int32_t Margin() const override { return FSettings.BorderWidth; }
};

// The soft shadow in a 3-pixel band just outside the frame; without a shadow
// the layer has zero size (and counts as opaque, which adds nothing).
class TCorvDocumentShadowLayer : public TCorvSurroundLayer {
public:
    explicit TCorvDocumentShadowLayer(const Settings::TSettings& Settings = Settings::Current())
        : TCorvSurroundLayer(Settings)
    {
    }

    bool IsOpaque() const override { return !FSettings.ShowShadow; }
    void Paint(Graphics::TCorvSurface& Target, int32_t X, int32_t Y, const Graphics::TCorvRectangle& SrcRect) override;

protected:
    // The shadow's band reaches 3 pixels beyond the frame.
    int32_t Margin() const override { return FSettings.BorderWidth + 3; }
    bool Shown() const override { return FSettings.ShowShadow; }
};

// The mask of brush strokes, made at the picture's size on first use; drawn
// translucently over the picture unless Hidden. Without a mask it has zero
// size and paints nothing.
class TCorvBrushesLayer : public TCorvLayer {
public:
    TCorvBrushesLayer();
    ~TCorvBrushesLayer() override;

    int32_t GetHeight() const override;
    int32_t GetLeft() const override;
    int32_t GetTop() const override;
    int32_t GetWidth() const override;
    bool IsOpaque() const override { return false; }
    void Paint(Graphics::TCorvSurface& Target, int32_t X, int32_t Y, const Graphics::TCorvRectangle& SrcRect) override;

    // Made transparent at the picture's size when there is none; the layer keeps it.
    Graphics::TCorvSurface& GetSurface();
    bool HasBrushes() const { return FSurface != nullptr; }
    void ClearBrushes();

    // Stops the painting only; geometry and mask stay.
    bool Hidden = false;

private:
    std::unique_ptr<Graphics::TCorvSurface> FSurface;
};

} // namespace Corvanith::Document
