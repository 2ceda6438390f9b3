#pragma once
// A platform region: an area made of rectangles, combined and moved in place.
// Everything above this folder reaches QRegion through this class only.
#include "graphics/rectangle.h"

#include <QRegion>

#include <cstdint>
#include <vector>

namespace Corvanith::Platform {

class TPlatformRegion {
public:
    TPlatformRegion() = default;
    // A rectangle of width or height 0 or less gives an empty region.
    explicit TPlatformRegion(const Graphics::TCorvRectangle& Rect);
    explicit TPlatformRegion(const QRegion& Region) : FRegion(Region) {}

    const QRegion& Region() const { return FRegion; }

    void Intersect(const Graphics::TCorvRectangle& Rect);
    void Unite(const Graphics::TCorvRectangle& Rect);
    void Subtract(const Graphics::TCorvRectangle& Rect);
    void Subtract(const TPlatformRegion& Other);
    void Translate(int32_t DX, int32_t DY);

    bool IsEmpty() const { return FRegion.isEmpty(); }
    Graphics::TCorvRectangle Bounds() const;
    // Non-overlapping, in bands from top to bottom, left to right in a band.
    std::vector<Graphics::TCorvRectangle> Rects() const;

private:
    QRegion FRegion;
};

} // namespace Corvanith::Platform
