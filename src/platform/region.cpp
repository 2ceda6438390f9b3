#include "platform/region.h"

namespace Corvanith::Platform {

using Graphics::TCorvRectangle;

namespace {

QRect ToQRect(const TCorvRectangle& r) { return QRect(r.X, r.Y, r.Width, r.Height); }

TCorvRectangle FromQRect(const QRect& r) { return {r.x(), r.y(), r.width(), r.height()}; }

} // namespace

TPlatformRegion::TPlatformRegion(const TCorvRectangle& Rect) : FRegion(ToQRect(Rect)) {}

void TPlatformRegion::Intersect(const TCorvRectangle& Rect) { FRegion = FRegion.intersected(ToQRect(Rect)); }

void TPlatformRegion::Unite(const TCorvRectangle& Rect) { FRegion = FRegion.united(ToQRect(Rect)); }

void TPlatformRegion::Subtract(const TCorvRectangle& Rect) { FRegion = FRegion.subtracted(QRegion(ToQRect(Rect))); }

void TPlatformRegion::Subtract(const TPlatformRegion& Other) { FRegion = FRegion.subtracted(Other.FRegion); }

void TPlatformRegion::Translate(int32_t DX, int32_t DY) { FRegion.translate(DX, DY); }

TCorvRectangle TPlatformRegion::Bounds() const { return FromQRect(FRegion.boundingRect()); }

std::vector<TCorvRectangle> TPlatformRegion::Rects() const
{
    std::vector<TCorvRectangle> rects;
    rects.reserve(size_t(FRegion.rectCount()));
    for (const QRect& r : FRegion)
        rects.push_back(FromQRect(r));
    return rects;
}

} // namespace Corvanith::Platform
