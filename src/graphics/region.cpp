#include "graphics/region.h"

#include "platform/region.h"

namespace Corvanith::Graphics {

TCorvRegion::TCorvRegion(std::unique_ptr<Platform::TPlatformRegion> Region) : FRegion(std::move(Region)) {}

TCorvRegion::TCorvRegion(TCorvRegion&&) noexcept = default;
TCorvRegion& TCorvRegion::operator=(TCorvRegion&&) noexcept = default;
TCorvRegion::~TCorvRegion() = default;

TCorvRegion TCorvRegion::Create(const TCorvRectangle& Rect)
{
    return TCorvRegion(std::make_unique<Platform::TPlatformRegion>(Rect));
}

TCorvRegion TCorvRegion::CreateRect(int32_t X, int32_t Y, int32_t Width, int32_t Height)
{
    return Create({X, Y, Width, Height});
}

TCorvRegion TCorvRegion::CreateFromHandle(const Platform::TPlatformRegion& Region)
{
    return TCorvRegion(std::make_unique<Platform::TPlatformRegion>(Region));
}

void TCorvRegion::Changed()
{
    FRects.reset();
    FBounds = {};
}

void TCorvRegion::Intersect(const TCorvRectangle& Rect)
{
    FRegion->Intersect(Rect);
    Changed();
}

void TCorvRegion::Union(const TCorvRectangle& Rect)
{
    FRegion->Unite(Rect);
    Changed();
}

void TCorvRegion::Exclude(const TCorvRectangle& Rect)
{
    FRegion->Subtract(Rect);
    Changed();
}

void TCorvRegion::Exclude(const TCorvRegion& Other)
{
    FRegion->Subtract(*Other.FRegion);
    Changed();
}

void TCorvRegion::Translate(int32_t DX, int32_t DY)
{
    FRegion->Translate(DX, DY);
    Changed();
}

bool TCorvRegion::IsEmpty() const { return FRegion->IsEmpty(); }

TCorvRectangle TCorvRegion::GetBounds()
{
    if (FBounds.Width == 0 || FBounds.Height == 0)
        FBounds = FRegion->Bounds();
    return FBounds;
}

TCorvRectangleList TCorvRegion::GetRects()
{
    if (!FRects || FRects->empty())
        UpdateRects();
    return FRects;
}

std::unique_ptr<Platform::TPlatformRegion> TCorvRegion::GetHRGN() const
{
    return std::make_unique<Platform::TPlatformRegion>(*FRegion);
}

void TCorvRegion::UpdateRects()
{
    FRects = std::make_shared<const TCorvRectangleArray>(GetHRGN()->Rects());
}

} // namespace Corvanith::Graphics
