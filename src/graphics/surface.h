#pragma once
// TCorvSurface: the one pixel container of the system. A picture, the preserve
// mask, an energy map, the view's back buffer, a brush image, a thumbnail and
// a shadow corner are all surfaces. The buffer is at once the array our own
// loops walk and the memory of the cached bitmap the imaging layer draws on,
// so pixels are never copied between the two.
#include "graphics/rectangle.h"
#include "graphics/types.h"
#include "platform/guid.h"

#include <QString>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>

namespace Corvanith::Platform {
class TSharedBitmap;
class TCanvas;
class TBitmap;
class TStream;
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
    // the alpha byte plays no part: the drawn pixels are made opaque in place
    // first, so that they reach the screen in one copy, unconverted.
    void Draw(Platform::TCanvas& DC, int32_t X, int32_t Y);
    void DrawRect(Platform::TCanvas& DC, const TCorvRectangle& Rect);

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
    // Alpha 255 in Rect; the colour bytes stay.
    void MakeOpaqueRect(const TCorvRectangle& Rect);

    // Seams (see TCorvPointArray for the point order). Removals work in place
    // and keep the buffer; insertions leave the new pixel after the seam pixel
    // (below it, or right of it) undefined for the caller to write. A seam
    // whose length does not match the surface throws EArgumentError.
    void RemoveHorizontalSeam(const TCorvPointArray& Seam);
    void RemoveVerticalSeam(const TCorvPointArray& Seam);
    void InsertHorizontalSeam(const TCorvPointArray& Seam);
    void InsertVerticalSeam(const TCorvPointArray& Seam);

    // ---- Streams, image files, mask strokes, shadows and thumbnails ----

    // The pixels of a decoded picture, converted to straight ARGB; RawFormat
    // is the picture's. With CheckAlpha, HasAlpha comes from the pixels.
    static std::unique_ptr<TCorvSurface> CreateFromGPBitmap(const Platform::TBitmap& Bitmap, bool CheckAlpha);
    // The same for a picture of the user interface (a pasted one); RawFormat
    // stays ImageFormatUndefined.
    static std::unique_ptr<TCorvSurface> CreateFromBitmap(const Platform::TBitmap& Bitmap, bool CheckAlpha);
    // Reads from the stream's current position: the raw surface format when
    // the stream starts with RawSurfaceMagic (no progress events; a damaged
    // block throws EStreamError), else a picture the imaging layer decodes,
    // reporting progress and finally (-1, -1). No picture: EStreamError
    // "Unknown image format.", the stream back where it was.
    static std::unique_ptr<TCorvSurface> CreateFromStream(Platform::TStream& Stream,
                                                          TCorvProgressEvent OnProgress = {});
    static std::unique_ptr<TCorvSurface> CreateFromFile(const QString& FileName, TCorvProgressEvent OnProgress = {});

    // ImageFormatRawSurface writes the raw format; another format goes through
    // its encoder, and a format without one writes nothing. A failed encode or
    // write throws EStreamError.
    void SaveToStream(Platform::TStream& Stream, const Platform::TGuid& Format);
    // Through a temporary file: a failed save leaves an existing file as it
    // was, and so does a format without an encoder.
    void SaveToFile(const QString& FileName, const Platform::TGuid& Format);

    // Stamps SrcRect of this brush image onto Mask at (X, Y), row by row with
    // PaintMaskRow or EraseMaskRow. Nothing is clipped.
    void PaintMaskTo(TCorvSurface& Mask, int32_t X, int32_t Y, const TCorvRectangle& SrcRect) const;
    void EraseMaskTo(TCorvSurface& Mask, int32_t X, int32_t Y, const TCorvRectangle& SrcRect) const;

    // The soft shadow along the inside of Rect, a 3-pixel frame of gradient
    // edges and the four corner images, painted only inside ClipRect.
    void DrawShadow(const TCorvRectangle& Rect, const TCorvRectangle& ClipRect, TCorvColor OuterColor,
                    TCorvColor InnerColor);
    // At most MaxWidth x MaxHeight and never larger than the picture; a
    // picture narrower than MinAspect times its height gives its top square.
    // With Checkerboard a thumbnail that may be transparent lies on the
    // checkerboard. Throws EArgumentError for a box side below 1.
    std::unique_ptr<TCorvSurface> CreateThumbnail(int32_t MaxWidth, int32_t MaxHeight, bool Checkerboard,
                                                  float MinAspect);

protected:
    TCorvSurface(int32_t Width, int32_t Height);

private:
    void AssignBitmap(const Platform::TBitmap& Bitmap, bool CheckAlpha);
    void LoadRaw(Platform::TStream& Stream);
    void StreamProgress(Platform::TStream& Stream, int32_t Position);

    struct TFreeBits {
        void operator()(TCorvColor* p) const { std::free(p); }
    };
    using TBits = std::unique_ptr<TCorvColor[], TFreeBits>;

    // Whether sides that are not negative give a buffer and a row of at most
    // INT32_MAX bytes.
    static bool SizeFits(int32_t Width, int32_t Height);
    // ERangeError for a negative size, or one SizeFits refuses.
    static void CheckSize(int32_t Width, int32_t Height);
    // A buffer for Width x Height pixels with room for SparePixels more.
    static TBits Allocate(int32_t Width, int32_t Height, int64_t SparePixels = 0);
    // Whether a seam insertion can spread the pixels in place for the new
    // size (checked as CheckSize does); false when the buffer must grow first.
    bool CanGrowInPlace(int32_t NewWidth, int32_t NewHeight) const;
    // The buffer an insertion copies into when the old one is too small,
    // with spare room so that the next insertions can grow in place.
    TBits AllocateGrown(int32_t NewWidth, int32_t NewHeight);
    // Enlarges the buffer, with the same spare room, keeping its pixels where
    // they are. A large buffer is remapped rather than copied, so a growing
    // picture never holds its old and its new buffer at once.
    void GrowBuffer(int32_t NewWidth, int32_t NewHeight);
    void SetGrownGeometry(int32_t NewWidth, int32_t NewHeight);

    int32_t FWidth = 0;
    int32_t FHeight = 0;
    int32_t FStride = 0;
    bool FHasAlpha = true;
    std::unique_ptr<Platform::TSharedBitmap> FGPBitmap;
    std::unique_ptr<Platform::TCanvas> FGPGraphics;
    Platform::TGuid FRawFormat = Platform::ImageFormatUndefined;
    TBits FBits;
    // Pixels the buffer holds room for: at least Width x Height, more after a
    // seam removal or a growing insertion.
    int64_t FCapacity = 0;
};

// "USQV" read as one little-endian 32-bit value.
inline constexpr uint32_t RawSurfaceMagic = 0x56515355;
// {557D0481-106A-4566-94B8-3C07ECD1EEEB}: the raw format; no encoder has it.
inline constexpr Platform::TGuid ImageFormatRawSurface = {
    0x557D0481, 0x106A, 0x4566, {0x94, 0xB8, 0x3C, 0x07, 0xEC, 0xD1, 0xEE, 0xEB}};

// Copies into Clsid the class identifier of the last encoder for FormatID;
// without one Clsid stays as it was.
void GetEncoderClsidByFormat(const Platform::TGuid& FormatID, Platform::TGuid& Clsid);

// Mask states: a painted pixel is core or soft paint. Of the brush pixel only
// the alpha is read: 0 outside, 1 to 50 soft edge, above 50 core.
inline constexpr TCorvColor MaskUnpainted = 0x00000000;
inline constexpr TCorvColor MaskCorePaint = 0xAF4A5AF7;
inline constexpr TCorvColor MaskSoftPaint = 0x644A5AF7;
// Painting never weakens paint; erasing clears under the core and turns any
// paint under the soft edge into soft paint. A Count of 0 or less does nothing.
void PaintMaskRow(TCorvColor* Dest, const TCorvColor* Source, int32_t Count);
void EraseMaskRow(TCorvColor* Dest, const TCorvColor* Source, int32_t Count);

// Moves Bytes bytes from Source to Dest at or above it, back to front, so
// that an overlapping run moves whole: the rows a seam insertion spreads and
// the lines of kept seam tables, each moved by a few bytes. The library's
// memmove takes a far slower path for such runs than for forward ones (it
// stays the move for whole blocks of rows, where it is as quick).
void MoveBackward(void* Dest, const void* Source, size_t Bytes);

// The four 6 x 6 shadow corners: top-left, top-right, bottom-right,
// bottom-left. Empty outside LoadShadowCorners .. FreeShadowCorners.
using TCorvShadowCorners = std::array<std::unique_ptr<TCorvSurface>, 4>;
const TCorvShadowCorners& ShadowCorners();
// Decodes "0" .. "3" of Folder, the program's own resources unless a caller
// says otherwise, with their alpha lowered by 15. A missing or undecodable
// image throws EStreamError.
void LoadShadowCorners(const QString& Folder = QStringLiteral(":/IMAGE"));
void FreeShadowCorners();

} // namespace Corvanith::Graphics
