#include "platform/region.h"

namespace Corvanith::Platform {

namespace {

QRect ToQRect(const TRegionRect& r) { return QRect(r.X, r.Y, r.Width, r.Height); }

TRegionRect FromQRect(const QRect& r) { return {r.x(), r.y(), r.width(), r.height()}; }

} // namespace

TPlatformRegion::TPlatformRegion(const TRegionRect& Rect) : FRegion(ToQRect(Rect)) {}

void TPlatformRegion::Intersect(const TRegionRect& Rect) { FRegion = FRegion.intersected(ToQRect(Rect)); }

void TPlatformRegion::Unite(const TRegionRect& Rect) { FRegion = FRegion.united(ToQRect(Rect)); }

void TPlatformRegion::Subtract(const TRegionRect& Rect) { FRegion = FRegion.subtracted(QRegion(ToQRect(Rect))); }

void TPlatformRegion::Subtract(const TPlatformRegion& Other) { FRegion = FRegion.subtracted(Other.FRegion); }

void TPlatformRegion::Translate(int32_t DX, int32_t DY) { FRegion.translate(DX, DY); }

TRegionRect TPlatformRegion::Bounds() const { return FromQRect(FRegion.boundingRect()); }

std::vector<TRegionRect> TPlatformRegion::Rects() const
{
    std::vector<TRegionRect> rects;
    rects.reserve(size_t(FRegion.rectCount()));
    for (const QRect& r : FRegion)
        rects.push_back(FromQRect(r));
    return rects;
}

} // namespace Corvanith::Platform
