#pragma once
// A platform region: an area made of rectangles, combined and moved in place.
// Everything above this folder reaches QRegion through this class only.
#include <QRegion>

#include <cstdint>
#include <vector>

namespace Corvanith::Platform {

struct TRegionRect {
    int32_t X = 0;
    int32_t Y = 0;
    int32_t Width = 0;
    int32_t Height = 0;
};

class TPlatformRegion {
public:
    TPlatformRegion() = default;
    // A rectangle of width or height 0 or less gives an empty region.
    explicit TPlatformRegion(const TRegionRect& Rect);
    explicit TPlatformRegion(const QRegion& Region) : FRegion(Region) {}

    const QRegion& Region() const { return FRegion; }

    void Intersect(const TRegionRect& Rect);
    void Unite(const TRegionRect& Rect);
    void Subtract(const TRegionRect& Rect);
    void Subtract(const TPlatformRegion& Other);
    void Translate(int32_t DX, int32_t DY);

    bool IsEmpty() const { return FRegion.isEmpty(); }
    TRegionRect Bounds() const;
    // Non-overlapping, in bands from top to bottom, left to right in a band.
    std::vector<TRegionRect> Rects() const;

private:
    QRegion FRegion;
};

} // namespace Corvanith::Platform
