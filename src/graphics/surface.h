#pragma once
// TCorvSurface: the one pixel container of the system. A picture, the preserve
// mask, an energy map, the view's back buffer, a brush image, a thumbnail and
// a shadow corner are all surfaces. The buffer is at once the array our own
// loops walk and the memory of the cached bitmap the imaging layer draws on,
// so pixels are never copied between the two.
#include "graphics/rectangle.h"
#include "graphics/types.h"
#include "platform/guid.h"

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>

namespace Corvanith::Platform {
class TSharedBitmap;
class TCanvas;
} // namespace Corvanith::Platform

namespace Corvanith::Graphics {

class TCorvRegion;

// Decoding progress: Position bytes read of Size; (-1, -1) when decoding ended.
using TCorvProgressEvent = std::function<void(const void* Sender, int32_t Position, int32_t Size)>;

class TCorvSurface {
public:
    // Pixels are left undefined; HasAlpha is True. Throws ERangeError for a
    // negative size or one whose buffer exceeds INT32_MAX bytes, EOutOfMemory
    // when the buffer cannot be had.
    static std::unique_ptr<TCorvSurface> Create(int32_t Width, int32_t Height);
    // Every pixel Color; HasAlpha is True exactly when Color is not opaque.
    static std::unique_ptr<TCorvSurface> CreateFilled(int32_t Width, int32_t Height, TCorvColor Color);

    TCorvSurface(const TCorvSurface&) = delete;
    TCorvSurface& operator=(const TCorvSurface&) = delete;
    virtual ~TCorvSurface();

    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }
    int32_t Stride() const { return FStride; }
    // The pixels may hold alpha below 255.
    bool HasAlpha() const { return FHasAlpha; }
    const Platform::TGuid& RawFormat() const { return FRawFormat; }
    uint8_t* Bits() { return reinterpret_cast<uint8_t*>(FBits.get()); }
    const uint8_t* Bits() const { return reinterpret_cast<const uint8_t*>(FBits.get()); }

    // No bounds check: callers pass coordinates inside the surface.
    TCorvColor* GetPixelPtr(int32_t X, int32_t Y) { return FBits.get() + int64_t(Y) * FWidth + X; }
    const TCorvColor* GetPixelPtr(int32_t X, int32_t Y) const { return FBits.get() + int64_t(Y) * FWidth + X; }

    TCorvProgressEvent OnProgress;

    // Takes Source's buffer, geometry and HasAlpha; keeps its own RawFormat
    // and OnProgress. Source is left an empty 0 x 0 surface.
    void TakeOver(TCorvSurface& Source);

    // The cached bitmap over the buffer and a painter on it, made on demand.
    // Painter settings last as long as the painter does.
    Platform::TSharedBitmap& GetGPBitmap();
    Platform::TCanvas& GetGPGraphics();
    void FreeGraphicsCache();

    // Whole surface 1:1 at (X, Y), and the rectangle Rect to the same place;
    // the alpha byte plays no part.
    void Draw(Platform::TCanvas& DC, int32_t X, int32_t Y) const;
    void DrawRect(Platform::TCanvas& DC, const TCorvRectangle& Rect) const;

    // True at the first pixel, row by row from the top, whose alpha is not 255.
    bool DetectAlpha() const;
    void UpdateHasAlpha() { FHasAlpha = DetectAlpha(); }

    // Fills, copies, blends and gradients. Nothing clips: rectangles lie inside
    // the surfaces they address; an empty rectangle writes nothing.
    void FillRect(const TCorvRectangle& Rect, TCorvColor Color);
    void BlendFillRect(const TCorvRectangle& Rect, TCorvColor Color);
    void FillRegion(TCorvRegion& Region, TCorvColor Color);
    void FillPoints(const TCorvPointArray& Points, TCorvColor Color);
    void FillCheckerboard(const TCorvRectangle& Rect, int32_t OffsetX, int32_t OffsetY);
    void GradientFillRect(const TCorvRectangle& Rect, const TCorvRectangle& GradRect, TCorvColor Color1,
                          TCorvColor Color2, bool Horizontal);
    void GradientBlendRect(const TCorvRectangle& Rect, const TCorvRectangle& GradRect, TCorvColor Color1,
                           TCorvColor Color2, bool Horizontal);
    void GradientFillRegion(TCorvRegion& Region, const TCorvRectangle& GradRect, TCorvColor Color1,
                            TCorvColor Color2, bool Horizontal);
    // SrcRect of this surface onto Dest at (X, Y); the two must not overlap.
    void CopyTo(TCorvSurface& Dest, int32_t X, int32_t Y, const TCorvRectangle& SrcRect) const;
    void AlphaBlendTo(TCorvSurface& Dest, int32_t X, int32_t Y, const TCorvRectangle& SrcRect) const;
    void SubtractColorRect(const TCorvRectangle& Rect, TCorvColor Color);
    void SubtractColor(TCorvColor Color);

    // Seams (see TCorvPointArray for the point order). Removals work in place
    // and keep the buffer; insertions leave the new pixel after the seam pixel
    // (below it, or right of it) undefined for the caller to write. A seam
    // whose length does not match the surface throws EArgumentError.
    void RemoveHorizontalSeam(const TCorvPointArray& Seam);
    void RemoveVerticalSeam(const TCorvPointArray& Seam);
    void InsertHorizontalSeam(const TCorvPointArray& Seam);
    void InsertVerticalSeam(const TCorvPointArray& Seam);

protected:
    TCorvSurface(int32_t Width, int32_t Height);

private:
    struct TFreeBits {
        void operator()(TCorvColor* p) const { std::free(p); }
    };
    using TBits = std::unique_ptr<TCorvColor[], TFreeBits>;

    static TBits Allocate(int32_t Width, int32_t Height);

    int32_t FWidth = 0;
    int32_t FHeight = 0;
    int32_t FStride = 0;
    bool FHasAlpha = true;
    std::unique_ptr<Platform::TSharedBitmap> FGPBitmap;
    std::unique_ptr<Platform::TCanvas> FGPGraphics;
    Platform::TGuid FRawFormat = Platform::ImageFormatUndefined;
    TBits FBits;
};

} // namespace Corvanith::Graphics
