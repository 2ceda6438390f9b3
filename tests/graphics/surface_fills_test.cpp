#include "graphics/region.h"
#include "graphics/surface.h"

#include <gtest/gtest.h>

#include <functional>

using namespace Corvanith::Graphics;

namespace {

std::unique_ptr<TCorvSurface> Patterned(int32_t w, int32_t h)
{
    auto s = TCorvSurface::Create(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            *s->GetPixelPtr(x, y) = 0x80000000u | uint32_t(y * 256 + x);
    return s;
}

std::vector<TCorvColor> Pixels(const TCorvSurface& s)
{
    const TCorvColor* p = s.GetPixelPtr(0, 0);
    return {p, p + size_t(s.Width()) * size_t(s.Height())};
}

TEST(SurfaceFills, CheckerboardIsFixedToSurfaceCoordinatesPlusOffsets)
{
    constexpr TCorvColor Grey = 0xFFBFBFBF, White = 0xFFFFFFFF;
    const auto expected = [&](int32_t x, int32_t y, int32_t ox, int32_t oy) {
        return (((x + ox) ^ (y + oy)) & 8) != 0 ? White : Grey;
    };
    struct TCase {
        TCorvRectangle Rect;
        int32_t OffsetX, OffsetY;
    };
    const TCase cases[] = {
        {{0, 0, 24, 24}, 0, 0}, {{4, 4, 8, 8}, 0, 0},   {{0, 0, 24, 24}, 8, 0},
        {{3, 5, 17, 13}, -3, -20}, {{0, 0, 24, 24}, -1, -1}, {{1, 2, 5, 7}, 1000003, -77},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Rect.X << "," << c.Rect.Y << " " << c.Rect.Width << "x"
                                        << c.Rect.Height << " offsets " << c.OffsetX << "," << c.OffsetY);
        auto s = Patterned(24, 24);
        const auto before = Pixels(*s);
        s->FillCheckerboard(c.Rect, c.OffsetX, c.OffsetY);
        for (int32_t y = 0; y < 24; ++y)
            for (int32_t x = 0; x < 24; ++x) {
                const bool inside = x >= c.Rect.X && x < c.Rect.X + c.Rect.Width && y >= c.Rect.Y &&
                                    y < c.Rect.Y + c.Rect.Height;
                ASSERT_EQ(*s->GetPixelPtr(x, y),
                          inside ? expected(x, y, c.OffsetX, c.OffsetY) : before[size_t(y * 24 + x)])
                    << x << ", " << y;
            }
    }
    // The worked squares.
    auto s = TCorvSurface::Create(16, 16);
    s->FillCheckerboard({0, 0, 16, 16}, 0, 0);
    EXPECT_EQ(*s->GetPixelPtr(0, 0), Grey);
    EXPECT_EQ(*s->GetPixelPtr(8, 0), White);
    EXPECT_EQ(*s->GetPixelPtr(0, 8), White);
    EXPECT_EQ(*s->GetPixelPtr(8, 8), Grey);
}

TEST(SurfaceFills, MakeOpaqueRectSetsOnlyTheAlphaInside)
{
    // Widths around the four-pixel steps of the row loop.
    const TCorvRectangle rects[] = {{1, 2, 5, 3}, {0, 0, 8, 8}, {3, 7, 1, 1}};
    for (const TCorvRectangle& r : rects) {
        auto s = Patterned(8, 8);
        s->MakeOpaqueRect(r);
        for (int32_t y = 0; y < 8; ++y)
            for (int32_t x = 0; x < 8; ++x) {
                const bool inside = x >= r.X && x < r.X + r.Width && y >= r.Y && y < r.Y + r.Height;
                const TCorvColor old = *Patterned(8, 8)->GetPixelPtr(x, y);
                ASSERT_EQ(*s->GetPixelPtr(x, y), inside ? old | 0xFF000000u : old) << x << ", " << y;
            }
    }
}

TEST(SurfaceFills, EmptyRectanglesAndListsWriteNothing)
{
    auto source = Patterned(8, 8);
    const std::function<void(TCorvSurface&, const TCorvRectangle&)> operations[] = {
        [](TCorvSurface& s, const TCorvRectangle& r) { s.FillRect(r, 0xFFFFFFFF); },
        [](TCorvSurface& s, const TCorvRectangle& r) { s.BlendFillRect(r, 0x80FFFFFF); },
        [](TCorvSurface& s, const TCorvRectangle& r) { s.FillCheckerboard(r, 0, 0); },
        [](TCorvSurface& s, const TCorvRectangle& r) { s.SubtractColorRect(r, 0x01010101); },
        [](TCorvSurface& s, const TCorvRectangle& r) { s.MakeOpaqueRect(r); },
        [&](TCorvSurface& s, const TCorvRectangle& r) { source->CopyTo(s, 1, 1, r); },
        [&](TCorvSurface& s, const TCorvRectangle& r) { source->AlphaBlendTo(s, 1, 1, r); },
        [](TCorvSurface& s, const TCorvRectangle& r) {
            TCorvRegion region = TCorvRegion::Create(r);
            s.FillRegion(region, 0xFFFFFFFF);
            s.GradientFillRegion(region, {0, 0, 8, 8}, 0xFF000000, 0xFFFFFFFF, true);
        },
    };
    const TCorvRectangle empties[] = {{2, 2, 0, 4}, {2, 2, 4, 0}, {2, 2, -3, 4}, {2, 2, 4, -3}, {0, 0, 0, 0}};
    for (size_t i = 0; i < std::size(operations); ++i)
        for (const TCorvRectangle& r : empties) {
            SCOPED_TRACE(testing::Message() << "operation " << i << " on " << r.Width << " x " << r.Height);
            auto s = Patterned(8, 8);
            operations[i](*s, r);
            EXPECT_EQ(Pixels(*s), Pixels(*Patterned(8, 8)));
        }
    auto s = Patterned(8, 8);
    s->FillPoints({}, 0xFFFFFFFF);
    EXPECT_EQ(Pixels(*s), Pixels(*Patterned(8, 8)));
}

} // namespace
