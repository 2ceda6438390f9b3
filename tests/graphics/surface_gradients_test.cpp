#include "graphics/surface.h"

#include <gtest/gtest.h>

using namespace Corvanith::Graphics;

namespace {

std::vector<TCorvColor> Row(const TCorvSurface& s, int32_t y)
{
    const TCorvColor* p = s.GetPixelPtr(0, y);
    return {p, p + s.Width()};
}

std::vector<TCorvColor> Column(const TCorvSurface& s, int32_t x)
{
    std::vector<TCorvColor> c;
    for (int32_t y = 0; y < s.Height(); ++y)
        c.push_back(*s.GetPixelPtr(x, y));
    return c;
}

std::vector<TCorvColor> Pixels(const TCorvSurface& s)
{
    const TCorvColor* p = s.GetPixelPtr(0, 0);
    return {p, p + size_t(s.Width()) * size_t(s.Height())};
}

// A surface of varied translucent and opaque pixels.
std::unique_ptr<TCorvSurface> Patterned(int32_t w, int32_t h)
{
    auto s = TCorvSurface::Create(w, h);
    uint32_t v = 0x9E3779B9u;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            v = v * 1664525u + 1013904223u;
            *s->GetPixelPtr(x, y) = v;
        }
    return s;
}

constexpr TCorvColor Sentinel = 0x12345678;

TEST(SurfaceGradients, PartOfTheGradientRectangleContinuesTheWholeGradient)
{
    // Horizontal: the right two of five columns show the end of the run.
    auto h = TCorvSurface::CreateFilled(6, 2, Sentinel);
    h->GradientFillRect({3, 0, 2, 2}, {0, 0, 5, 2}, 0xFF000000, 0xFFFFFFFF, true);
    for (int32_t y = 0; y < 2; ++y)
        EXPECT_EQ(Row(*h, y),
                  (std::vector<TCorvColor>{Sentinel, Sentinel, Sentinel, 0xFFBFBFBF, 0xFFFFFFFF, Sentinel}));
    // Vertical likewise by rows, with a gradient rectangle not at the origin.
    auto v = TCorvSurface::CreateFilled(2, 7, Sentinel);
    v->GradientFillRect({1, 3, 1, 3}, {1, 1, 1, 5}, 0xFF000000, 0xFFFFFFFF, false);
    EXPECT_EQ(Column(*v, 1),
              (std::vector<TCorvColor>{Sentinel, Sentinel, Sentinel, 0xFF808080, 0xFFBFBFBF, 0xFFFFFFFF, Sentinel}));
    EXPECT_EQ(Column(*v, 0), std::vector<TCorvColor>(7, Sentinel));
}

TEST(SurfaceGradients, OnePixelLongGradientsPaintTheirFirstColour)
{
    auto s = TCorvSurface::CreateFilled(3, 1, Sentinel);
    s->GradientFillRect({0, 0, 3, 1}, {0, 0, 3, 1}, 0xFF000000, 0xFFFFFFFF, false);
    EXPECT_EQ(Row(*s, 0), std::vector<TCorvColor>(3, 0xFF000000));
    s->GradientFillRect({0, 0, 2, 1}, {0, 0, 2, 1}, 0xFF000000, 0xFFFFFFFF, true);
    EXPECT_EQ(Row(*s, 0), (std::vector<TCorvColor>{0xFF000000, 0xFFFFFFFF, 0xFF000000}));
}

TEST(SurfaceGradients, EqualColoursFillOrBlendPlainly)
{
    auto fill = TCorvSurface::CreateFilled(4, 4, Sentinel);
    fill->GradientFillRect({1, 1, 2, 2}, {0, 0, 4, 4}, 0x80FFFFFF, 0x80FFFFFF, true);
    auto expected = TCorvSurface::CreateFilled(4, 4, Sentinel);
    expected->FillRect({1, 1, 2, 2}, 0x80FFFFFF);
    EXPECT_EQ(Pixels(*fill), Pixels(*expected));

    auto blend = TCorvSurface::CreateFilled(4, 4, 0xFF000000);
    blend->GradientBlendRect({1, 1, 2, 2}, {0, 0, 4, 4}, 0x80FFFFFF, 0x80FFFFFF, false);
    EXPECT_EQ(*blend->GetPixelPtr(1, 1), 0xBF7F7F7Fu);
    EXPECT_EQ(*blend->GetPixelPtr(0, 0), 0xFF000000u);
}

TEST(SurfaceGradients, BlendOfOpaqueOrClearColours)
{
    for (bool horizontal : {true, false}) {
        SCOPED_TRACE(horizontal);
        auto filled = Patterned(9, 8);
        auto blended = Patterned(9, 8);
        filled->GradientFillRect({2, 1, 5, 6}, {1, 0, 7, 8}, 0xFF102030, 0xFFF0E0D0, horizontal);
        blended->GradientBlendRect({2, 1, 5, 6}, {1, 0, 7, 8}, 0xFF102030, 0xFFF0E0D0, horizontal);
        EXPECT_EQ(Pixels(*blended), Pixels(*filled));

        auto untouched = Patterned(9, 8);
        untouched->GradientBlendRect({0, 0, 9, 8}, {0, 0, 9, 8}, 0x00FFFFFF, 0x00000000, horizontal);
        EXPECT_EQ(Pixels(*untouched), Pixels(*Patterned(9, 8)));
    }
}

TEST(SurfaceGradients, TranslucentBlendsUseEveryEntryOfTheRun)
{
    // Horizontal: each entry blends with its own alpha (pixel blend), so the
    // clear start leaves the pixel and the opaque end copies.
    auto h = TCorvSurface::CreateFilled(3, 2, 0xFF0000FF);
    h->GradientBlendRect({0, 0, 3, 2}, {0, 0, 3, 2}, 0x00FF0000, 0xFFFF0000, true);
    for (int32_t y = 0; y < 2; ++y)
        EXPECT_EQ(Row(*h, y), (std::vector<TCorvColor>{0xFF0000FF, 0xBF7F007F, 0xFFFF0000}));
    // Vertical: each row gets the colour blend, which has no special cases.
    auto v = TCorvSurface::CreateFilled(2, 3, 0x00000000);
    v->GradientBlendRect({0, 0, 2, 3}, {0, 0, 2, 3}, 0x00FFFFFF, 0xFFFFFFFF, false);
    EXPECT_EQ(Column(*v, 0), (std::vector<TCorvColor>{0x00000000, 0x407F7F7F, 0xFEFEFEFE}));
}

TEST(SurfaceGradients, EmptyRectanglesWriteNothing)
{
    for (const TCorvRectangle& r : {TCorvRectangle{2, 2, 0, 3}, TCorvRectangle{2, 2, 3, 0},
                                    TCorvRectangle{2, 2, -1, 3}, TCorvRectangle{0, 0, 0, 0}}) {
        auto s = Patterned(6, 6);
        s->GradientFillRect(r, {0, 0, 6, 6}, 0xFF000000, 0xFFFFFFFF, true);
        s->GradientFillRect(r, {0, 0, 6, 6}, 0xFF000000, 0xFFFFFFFF, false);
        s->GradientBlendRect(r, {0, 0, 6, 6}, 0x80000000, 0x40FFFFFF, true);
        s->GradientBlendRect(r, {0, 0, 6, 6}, 0x80000000, 0x40FFFFFF, false);
        EXPECT_EQ(Pixels(*s), Pixels(*Patterned(6, 6)));
    }
}

} // namespace
