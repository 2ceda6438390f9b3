#include "graphics/graphics.h"
#include "graphics/region.h"
#include "graphics/surface.h"
#include "platform/imaging.h"
#include "platform/region.h"

#include <gtest/gtest.h>

#include <climits>

using namespace Corvanith;
using namespace Corvanith::Graphics;

namespace {

using TRects = std::vector<TCorvRectangle>;

TCorvRegion Holed()
{
    TCorvRegion r = TCorvRegion::CreateRect(0, 0, 100, 100);
    r.Exclude(TCorvRectangle{25, 25, 50, 50});
    return r;
}

TEST(Region, RectanglesComeInBandsTopToBottomLeftToRight)
{
    TCorvRegion r = Holed();
    EXPECT_FALSE(r.IsEmpty());
    EXPECT_EQ(*r.GetRects(), (TRects{{0, 0, 100, 25}, {0, 25, 25, 50}, {75, 25, 25, 50}, {0, 75, 100, 25}}));
    EXPECT_EQ(r.GetBounds(), (TCorvRectangle{0, 0, 100, 100}));

    TCorvRegion one = TCorvRegion::Create({10, 20, 30, 40});
    EXPECT_EQ(*one.GetRects(), (TRects{{10, 20, 30, 40}}));
    EXPECT_EQ(one.GetBounds(), (TCorvRectangle{10, 20, 30, 40}));
}

TEST(Region, EmptyRegionsHaveNoRectanglesAndNoBounds)
{
    TCorvRegion r = TCorvRegion::CreateRect(0, 0, 0, 0);
    EXPECT_TRUE(r.IsEmpty());
    const TCorvRectangleList first = r.GetRects();
    EXPECT_TRUE(first->empty());
    // An empty list counts as not computed, so it is made again.
    EXPECT_NE(r.GetRects().get(), first.get());
    EXPECT_EQ(r.GetBounds(), (TCorvRectangle{0, 0, 0, 0}));
    EXPECT_TRUE(TCorvRegion::CreateRect(5, 5, -3, 4).IsEmpty());
}

TEST(Region, ChangesDropTheCachesButNotListsHandedOut)
{
    TCorvRegion r = TCorvRegion::Create({10, 20, 30, 40});
    const TCorvRectangleList before = r.GetRects();
    EXPECT_EQ(r.GetRects().get(), before.get());
    r.Translate(5, -5);
    EXPECT_EQ(*before, (TRects{{10, 20, 30, 40}}));
    EXPECT_EQ(*r.GetRects(), (TRects{{15, 15, 30, 40}}));
    EXPECT_EQ(r.GetBounds(), (TCorvRectangle{15, 15, 30, 40}));

    r.Union({45, 15, 10, 40});
    EXPECT_EQ(*r.GetRects(), (TRects{{15, 15, 40, 40}}));
    r.Intersect({0, 0, 20, 20});
    EXPECT_EQ(*r.GetRects(), (TRects{{15, 15, 5, 5}}));
    EXPECT_EQ(r.GetBounds(), (TCorvRectangle{15, 15, 5, 5}));
    r.Exclude(TCorvRectangle{0, 0, 100, 100});
    EXPECT_TRUE(r.IsEmpty());
    EXPECT_TRUE(r.GetRects()->empty());
}

TEST(Region, ExcludingAnotherRegionLeavesThatOneAlone)
{
    TCorvRegion r = TCorvRegion::CreateRect(0, 0, 100, 100);
    TCorvRegion hole = TCorvRegion::Create({25, 25, 50, 50});
    const TCorvRectangleList holeRects = hole.GetRects();
    const TCorvRectangle holeBounds = hole.GetBounds();
    r.Exclude(hole);
    EXPECT_EQ(*r.GetRects(), *Holed().GetRects());
    EXPECT_EQ(hole.GetRects().get(), holeRects.get());
    EXPECT_EQ(hole.GetBounds(), holeBounds);
    EXPECT_EQ(*holeRects, (TRects{{25, 25, 50, 50}}));
}

TEST(Region, PlatformRegionsAreCopiedBothWays)
{
    Platform::TPlatformRegion platform(TCorvRectangle{1, 2, 3, 4});
    TCorvRegion r = TCorvRegion::CreateFromHandle(platform);
    r.Translate(10, 10);
    EXPECT_EQ(platform.Bounds().X, 1);
    const auto copy = r.GetHRGN();
    r.Translate(10, 10);
    EXPECT_EQ(copy->Bounds().X, 11);
    EXPECT_EQ(copy->Bounds().Height, 4);
    EXPECT_EQ(r.GetBounds(), (TCorvRectangle{21, 22, 3, 4}));
}

TEST(RegionFills, FillAndGradientLeaveTheHoleUntouched)
{
    constexpr TCorvColor Sentinel = 0x12345678;
    TCorvRegion holed = Holed();
    auto s = TCorvSurface::CreateFilled(100, 100, Sentinel);
    s->FillRegion(holed, 0xFF00FF00);
    auto g = TCorvSurface::CreateFilled(100, 100, Sentinel);
    g->GradientFillRegion(holed, {0, 0, 100, 100}, 0xFF000000, 0xFFFFFFFF, true);
    // The whole gradient, as one rectangle would have it, except in the hole.
    auto whole = TCorvSurface::Create(100, 100);
    whole->GradientFillRect({0, 0, 100, 100}, {0, 0, 100, 100}, 0xFF000000, 0xFFFFFFFF, true);
    for (int32_t y = 0; y < 100; ++y)
        for (int32_t x = 0; x < 100; ++x) {
            const bool inHole = x >= 25 && x < 75 && y >= 25 && y < 75;
            ASSERT_EQ(*s->GetPixelPtr(x, y), inHole ? Sentinel : 0xFF00FF00u) << x << ", " << y;
            ASSERT_EQ(*g->GetPixelPtr(x, y), inHole ? Sentinel : *whole->GetPixelPtr(x, y)) << x << ", " << y;
        }
    // Equal colours fill plainly.
    g->GradientFillRegion(holed, {0, 0, 100, 100}, 0xFF0000FF, 0xFF0000FF, false);
    EXPECT_EQ(*g->GetPixelPtr(99, 99), 0xFF0000FFu);
    EXPECT_EQ(*g->GetPixelPtr(50, 50), Sentinel);
}

TEST(ThumbnailFrame, BlackOutlineAndARingLighterAtTheCorners)
{
    auto s = TCorvSurface::CreateFilled(80, 80, 0xFFFFFFFF);
    Platform::TCanvas& canvas = s->GetGPGraphics();
    canvas.Painter().setPen(QColor(Qt::red));
    canvas.Painter().setRenderHint(QPainter::Antialiasing, true);
    DrawThumbnailFrame(canvas, {10, 10, 56, 56});
    // The canvas's settings are the caller's.
    EXPECT_EQ(canvas.Painter().pen().color(), QColor(Qt::red));
    EXPECT_TRUE(canvas.Painter().testRenderHint(QPainter::Antialiasing));
    s->FreeGraphicsCache();
    const auto at = [&](int32_t x, int32_t y) { return *s->GetPixelPtr(x, y); };

    // The black outline (9, 9, 57, 57) runs through rows and columns 9 and 66.
    for (int32_t i = 9; i <= 66; ++i) {
        ASSERT_EQ(at(i, 9), 0xFF000000u) << i;
        ASSERT_EQ(at(i, 66), 0xFF000000u) << i;
        ASSERT_EQ(at(9, i), 0xFF000000u) << i;
        ASSERT_EQ(at(66, i), 0xFF000000u) << i;
    }
    // Grey, opaque, and darker the more strokes cover it.
    const auto grey = [](TCorvColor c) {
        return (c >> 24) == 0xFF && (c & 0xFF) == ((c >> 8) & 0xFF) && (c & 0xFF) == ((c >> 16) & 0xFF);
    };
    const TCorvColor once = at(8, 8), twice = at(9, 8), thrice = at(30, 8);
    EXPECT_TRUE(grey(once) && grey(twice) && grey(thrice));
    EXPECT_GT(0xFFFFFFFFu, once);
    EXPECT_GT(once, twice);
    EXPECT_GT(twice, thrice);
    for (const auto& [x, y] : {std::pair{67, 67}, std::pair{8, 67}, std::pair{67, 8}})
        EXPECT_EQ(at(x, y), once) << x << ", " << y;
    for (const auto& [x, y] : {std::pair{8, 9}, std::pair{67, 66}, std::pair{66, 67}})
        EXPECT_EQ(at(x, y), twice) << x << ", " << y;
    for (const auto& [x, y] : {std::pair{8, 30}, std::pair{67, 30}, std::pair{30, 67}})
        EXPECT_EQ(at(x, y), thrice) << x << ", " << y;
    // Two strokes run inside Rect, along its first and last rows and columns.
    for (const auto& [x, y] : {std::pair{10, 10}, std::pair{65, 65}, std::pair{10, 65}, std::pair{65, 10}})
        EXPECT_EQ(at(x, y), twice) << x << ", " << y;
    for (const auto& [x, y] : {std::pair{30, 10}, std::pair{10, 30}, std::pair{65, 30}, std::pair{30, 65}})
        EXPECT_EQ(at(x, y), once) << x << ", " << y;
    // Nothing reaches further in, or further out.
    for (int32_t y = 11; y <= 64; ++y)
        for (int32_t x = 11; x <= 64; ++x)
            ASSERT_EQ(at(x, y), 0xFFFFFFFFu) << x << ", " << y;
    EXPECT_EQ(at(7, 30), 0xFFFFFFFFu);
    EXPECT_EQ(at(68, 30), 0xFFFFFFFFu);
}

TEST(ThumbnailFrame, BoxShowsOnlyWhatFitsWhateverTheThumbnail)
{
    // A fitting thumbnail sits centred, framed, on a transparent box.
    auto fits = TCorvSurface::CreateFilled(40, 30, 0xFF112233);
    auto box = CreateThumbnailBox(*fits, 60);
    ASSERT_EQ(box->Width(), 60);
    ASSERT_EQ(box->Height(), 60);
    EXPECT_EQ(*box->GetPixelPtr(10, 15), 0xFF112233u);
    EXPECT_EQ(*box->GetPixelPtr(49, 44), 0xFF112233u);
    EXPECT_EQ(*box->GetPixelPtr(9, 14), 0xFF000000u);
    EXPECT_EQ(*box->GetPixelPtr(0, 0), 0u);

    // Larger than the box (a damaged recent list once drew it past the end
    // of the box's buffer): its middle fills the box, nothing more is written.
    auto large = TCorvSurface::CreateFilled(100, 104, 0xFF445566);
    *large->GetPixelPtr(20, 22) = 0xFFABCDEF;
    box = CreateThumbnailBox(*large, 60);
    EXPECT_EQ(*box->GetPixelPtr(0, 0), 0xFFABCDEFu);
    EXPECT_EQ(*box->GetPixelPtr(59, 59), 0xFF445566u);

    // Sides of 0 and of the largest size give a box without overflowing.
    for (const auto& [w, h] : {std::pair{0, INT32_MAX}, std::pair{INT32_MAX / 4, 0}, std::pair{0, 0}}) {
        auto empty = TCorvSurface::Create(w, h);
        box = CreateThumbnailBox(*empty, 60);
        EXPECT_EQ(box->Width(), 60) << w << " x " << h;
    }
}

} // namespace
