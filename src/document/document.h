#pragma once
// A document: the picture the user works on, where it came from, and the
// stack of layers drawn around and over it. The document keeps the union of
// its layers' rectangles and paints any part of itself by regions, so that a
// layer paints only what no opaque layer above it hides.
//
// Document coordinates: one unit per picture pixel, x to the right, y down,
// (0, 0) at the picture's top-left pixel; the frame and the shadow reach into
// negative coordinates. Layer coordinates have the same axes with (0, 0) at
// the layer's own top-left corner.
#include "document/documentsource.h"
#include "graphics/rectangle.h"
#include "graphics/region.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace Corvanith::Graphics {
class TCorvSurface;
}

namespace Corvanith::Document {

class TCorvDocument;
class TCorvImageLayer;
class TCorvBrushesLayer;

class TCorvLayer {
public:
    TCorvLayer() = default;
    TCorvLayer(const TCorvLayer&) = delete;
    TCorvLayer& operator=(const TCorvLayer&) = delete;
    virtual ~TCorvLayer() = default;

    virtual int32_t GetHeight() const = 0;
    virtual int32_t GetLeft() const = 0;
    virtual int32_t GetTop() const = 0;
    virtual int32_t GetWidth() const = 0;
    // Every pixel of the layer rectangle is fully opaque: nothing below shows there.
    virtual bool IsOpaque() const = 0;
    // SrcRect (layer coordinates, inside the layer) drawn with its top-left at (X, Y).
    virtual void Paint(Graphics::TCorvSurface& Target, int32_t X, int32_t Y,
                       const Graphics::TCorvRectangle& SrcRect) = 0;

    // The layer rectangle in document coordinates.
    Graphics::TCorvRectangle GetBounds() const;
    // The part Region (layer coordinates) covers, with the region's bounding
    // box's top-left corner at (X, Y); one Paint per rectangle of the region.
    void PaintRegion(Graphics::TCorvSurface& Target, int32_t X, int32_t Y, Graphics::TCorvRegion& Region);

    // Set on insertion into a document's list; null before.
    TCorvDocument* Document() const { return FDocument; }

private:
    friend class TCorvLayers;
    TCorvDocument* FDocument = nullptr;
};

using TCorvLayerEvent = std::function<void(TCorvLayer& Layer)>;

// The index error of the owning lists: ERangeError "List index out of bounds (Index)".
[[noreturn]] void ListIndexError(int32_t Index);

// Item Index of an owning list, or the index error.
template <typename T>
T& ListItem(const std::vector<std::unique_ptr<T>>& List, int32_t Index)
{
    if (Index < 0 || size_t(Index) >= List.size())
        ListIndexError(Index);
    return *List[size_t(Index)];
}

// The layer stack; index 0 is the bottom layer, painted first. Owns its layers.
class TCorvLayers {
public:
    explicit TCorvLayers(TCorvDocument& Document) : FDocument(Document) {}
    TCorvLayers(const TCorvLayers&) = delete;
    TCorvLayers& operator=(const TCorvLayers&) = delete;

    // Index -1 appends on top; otherwise 0 .. GetCount, and the layers from
    // Index upward move up one place. An Index out of range throws ERangeError
    // and changes nothing, as does a null Layer (EArgumentError); the list
    // owns Layer from then on.
    TCorvLayer& Insert(std::unique_ptr<TCorvLayer> Layer, int32_t Index);
    int32_t GetCount() const { return int32_t(FList.size()); }
    // 0 is the bottom; out of range throws ERangeError.
    TCorvLayer& GetItem(int32_t Index) const;

    TCorvDocument& Document() const { return FDocument; }

    // After every insertion.
    TCorvLayerEvent OnChange;

private:
    TCorvDocument& FDocument;
    std::vector<std::unique_ptr<TCorvLayer>> FList;
};

class TCorvDocument {
public:
    // Takes the picture; the stack is then [image, brushes].
    TCorvDocument(std::unique_ptr<Graphics::TCorvSurface> Surface, const TCorvDocumentSource& Source);
    TCorvDocument(const TCorvDocument&) = delete;
    TCorvDocument& operator=(const TCorvDocument&) = delete;
    ~TCorvDocument();

    TCorvLayers& Layers() { return *FLayers; }
    const TCorvLayers& Layers() const { return *FLayers; }
    TCorvImageLayer& ImageLayer() const { return *FImageLayer; }
    TCorvBrushesLayer& BrushesLayer() const { return *FBrushesLayer; }
    const TCorvDocumentSource& Source() const { return FSource; }

    // The picture's thumbnail (a picture narrower than a quarter of its
    // height by its top square); the caller owns the new surface.
    std::unique_ptr<Graphics::TCorvSurface> CreateThumbnail(int32_t MaxWidth, int32_t MaxHeight,
                                                            bool Checkerboard) const;
    // Renders the area ClipRect (document coordinates) so that its top-left
    // lands at (X, Y) of Target; Target pixels outside the painted layer parts
    // stay as they were.
    void Paint(Graphics::TCorvSurface& Target, int32_t X, int32_t Y, const Graphics::TCorvRectangle& ClipRect);
    // The union of the opaque layers' rectangles, document coordinates.
    Graphics::TCorvRegion GetOpaqueRegion() const;
    Graphics::TCorvRectangle GetBounds() const { return FBounds; }

    void LayersChanged(TCorvLayer& Layer);
    // Recomputes the bounds from every layer, zero-sized ones included.
    void UpdateBounds();

private:
    TCorvDocumentSource FSource;
    std::unique_ptr<TCorvLayers> FLayers;
    TCorvImageLayer* FImageLayer = nullptr;
    TCorvBrushesLayer* FBrushesLayer = nullptr;
    Graphics::TCorvRectangle FBounds;
};

} // namespace Corvanith::Document
