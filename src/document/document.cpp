#include "document/document.h"

#include "document/layers.h"
#include "graphics/errors.h"
#include "graphics/surface.h"

#include <string>

namespace Corvanith::Document {

using Graphics::TCorvRectangle;
using Graphics::TCorvRegion;
using Graphics::TCorvSurface;

void ListIndexError(int32_t Index)
{
    throw ERangeError("List index out of bounds (" + std::to_string(Index) + ")");
}

TCorvRectangle TCorvLayer::GetBounds() const { return {GetLeft(), GetTop(), GetWidth(), GetHeight()}; }

void TCorvLayer::PaintRegion(TCorvSurface& Target, int32_t X, int32_t Y, TCorvRegion& Region)
{
    const TCorvRectangle b = Region.GetBounds();
    // The list is shared: it stays valid even if a Paint changes the region.
    const Graphics::TCorvRectangleList rects = Region.GetRects();
    for (const TCorvRectangle& r : *rects)
        Paint(Target, X + r.X - b.X, Y + r.Y - b.Y, r);
}

TCorvLayer& TCorvLayers::Insert(std::unique_ptr<TCorvLayer> Layer, int32_t Index)
{
    if (!Layer)
        throw EArgumentError("No layer to insert.");
    if (Index != -1 && (Index < 0 || Index > GetCount()))
        ListIndexError(Index);
    TCorvLayer& layer = *Layer;
    if (Index == -1)
        FList.push_back(std::move(Layer));
    else
        FList.insert(FList.begin() + Index, std::move(Layer));
    layer.FDocument = &FDocument;
    if (OnChange)
        OnChange(layer);
    return layer;
}

TCorvLayer& TCorvLayers::GetItem(int32_t Index) const { return ListItem(FList, Index); }

TCorvDocument::TCorvDocument(std::unique_ptr<TCorvSurface> Surface, const TCorvDocumentSource& Source)
    : FSource(Source), FLayers(std::make_unique<TCorvLayers>(*this))
{
    FLayers->OnChange = [this](TCorvLayer& Layer) { LayersChanged(Layer); };
    auto image = std::make_unique<TCorvImageLayer>(std::move(Surface));
    auto brushes = std::make_unique<TCorvBrushesLayer>();
    // Both links are set before the insertions, whose bounds updates read them.
    FImageLayer = image.get();
    FBrushesLayer = brushes.get();
    FLayers->Insert(std::move(image), -1);
    FLayers->Insert(std::move(brushes), -1);
}

TCorvDocument::~TCorvDocument() = default;

void TCorvDocument::LayersChanged(TCorvLayer&) { UpdateBounds(); }

void TCorvDocument::UpdateBounds()
{
    // One extent at a time, over every layer from the bottom; comparisons are
    // strict, so equal values change nothing.
    const auto extent = [this](int32_t (TCorvLayer::*Start)() const, int32_t (TCorvLayer::*Size)() const,
                               int32_t& Origin, int32_t& Length) {
        int32_t lo = 100000, hi = -100000;
        for (int32_t i = 0; i < FLayers->GetCount(); ++i) {
            const TCorvLayer& l = FLayers->GetItem(i);
            if ((l.*Start)() < lo)
                lo = (l.*Start)();
            if ((l.*Start)() + (l.*Size)() > hi)
                hi = (l.*Start)() + (l.*Size)();
        }
        Origin = lo;
        Length = hi - lo;
    };
    extent(&TCorvLayer::GetLeft, &TCorvLayer::GetWidth, FBounds.X, FBounds.Width);
    extent(&TCorvLayer::GetTop, &TCorvLayer::GetHeight, FBounds.Y, FBounds.Height);
}

TCorvRegion TCorvDocument::GetOpaqueRegion() const
{
    TCorvRegion region = TCorvRegion::CreateRect(0, 0, 0, 0);
    for (int32_t i = 0; i < FLayers->GetCount(); ++i) {
        const TCorvLayer& l = FLayers->GetItem(i);
        if (l.IsOpaque())
            region.Union(l.GetBounds());
    }
    return region;
}

void TCorvDocument::Paint(TCorvSurface& Target, int32_t X, int32_t Y, const TCorvRectangle& ClipRect)
{
    const int32_t count = FLayers->GetCount();
    std::vector<TCorvRegion> regions;
    regions.reserve(size_t(count));
    {
        // Top down: each layer keeps what no opaque layer above it hides.
        TCorvRegion opaque = TCorvRegion::CreateRect(0, 0, 0, 0);
        for (int32_t i = count - 1; i >= 0; --i) {
            const TCorvLayer& l = FLayers->GetItem(i);
            TCorvRegion r = TCorvRegion::Create(l.GetBounds());
            r.Intersect(ClipRect);
            r.Exclude(opaque);
            regions.push_back(std::move(r));
            if (l.IsOpaque())
                opaque.Union(l.GetBounds());
        }
    }
    // Bottom up, so higher layers paint over lower ones; regions[] is in
    // top-down order.
    for (int32_t i = 0; i < count; ++i) {
        TCorvRegion& r = regions[size_t(count - 1 - i)];
        if (r.IsEmpty())
            continue;
        TCorvLayer& l = FLayers->GetItem(i);
        const TCorvRectangle b = r.GetBounds();
        r.Translate(-l.GetLeft(), -l.GetTop());
        l.PaintRegion(Target, X + (b.X - ClipRect.X), Y + (b.Y - ClipRect.Y), r);
    }
}

std::unique_ptr<TCorvSurface> TCorvDocument::CreateThumbnail(int32_t MaxWidth, int32_t MaxHeight,
                                                             bool Checkerboard) const
{
    return FImageLayer->Surface().CreateThumbnail(MaxWidth, MaxHeight, Checkerboard, 0.25f);
}

} // namespace Corvanith::Document
