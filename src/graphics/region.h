#pragma once
// TCorvRegion: an area made of rectangles, as the document and the view paint
// by. The rectangle list and the bounds are cached until the next change.
#include "graphics/rectangle.h"

#include <cstdint>
#include <memory>

namespace Corvanith::Platform {
class TPlatformRegion;
}

namespace Corvanith::Graphics {

// Shared with whoever asked for it; never changed once handed out.
using TCorvRectangleList = std::shared_ptr<const TCorvRectangleArray>;

class TCorvRegion {
public:
    static TCorvRegion Create(const TCorvRectangle& Rect);
    // (0, 0, 0, 0) gives an empty region.
    static TCorvRegion CreateRect(int32_t X, int32_t Y, int32_t Width, int32_t Height);
    // Copies Region; the caller keeps it.
    static TCorvRegion CreateFromHandle(const Platform::TPlatformRegion& Region);

    TCorvRegion(TCorvRegion&&) noexcept;
    TCorvRegion& operator=(TCorvRegion&&) noexcept;
    ~TCorvRegion();

    // Every change drops both caches; lists handed out before keep their content.
    void Intersect(const TCorvRectangle& Rect);
    void Union(const TCorvRectangle& Rect);
    void Exclude(const TCorvRectangle& Rect);
    // Other is left as it is, caches included.
    void Exclude(const TCorvRegion& Other);
    void Translate(int32_t DX, int32_t DY);

    bool IsEmpty() const;
    // Asked of the platform while the cached bounds have no area.
    TCorvRectangle GetBounds();
    // Non-overlapping, in bands from top to bottom, left to right in a band;
    // computed while the cached list is empty.
    TCorvRectangleList GetRects();
    // A new platform region equal to this one, the caller's to keep.
    std::unique_ptr<Platform::TPlatformRegion> GetHRGN() const;
    void UpdateRects();

private:
    explicit TCorvRegion(std::unique_ptr<Platform::TPlatformRegion> Region);
    void Changed();

    std::unique_ptr<Platform::TPlatformRegion> FRegion;
    TCorvRectangleList FRects;
    TCorvRectangle FBounds;
};

} // namespace Corvanith::Graphics
