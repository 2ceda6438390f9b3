#include "graphics/errors.h"
#include "graphics/surface.h"

#include <gtest/gtest.h>

using namespace Corvanith;
using namespace Corvanith::Graphics;

namespace {

constexpr TCorvColor ShadowColor1 = 0x0A000000;
constexpr TCorvColor ShadowColor2 = 0x5C000000;
constexpr TCorvColor White = 0xFFFFFFFF;

const uint8_t Corner0Alphas[6][6] = {
    {0, 0, 0, 0, 5, 8}, {0, 0, 12, 29, 40, 47}, {0, 12, 37, 62, 78, 87},
    {0, 29, 62, 0, 0, 0}, {5, 40, 78, 0, 0, 0}, {8, 47, 87, 0, 0, 0},
};

class Shadows : public testing::Test {
protected:
    static void SetUpTestSuite() { LoadShadowCorners(); }
    static void TearDownTestSuite() { FreeShadowCorners(); }
};

TEST_F(Shadows, CornersAreMirrorsWithLoweredAlpha)
{
    // Where corner i takes its pixel (x, y) from corner 0.
    const auto mirrored = [](size_t i, int x, int y) {
        const int mx = i == 1 || i == 2 ? 5 - x : x;
        const int my = i == 2 || i == 3 ? 5 - y : y;
        return Corner0Alphas[my][mx];
    };
    for (size_t i = 0; i < 4; ++i) {
        const TCorvSurface& corner = *ShadowCorners()[i];
        ASSERT_EQ(corner.Width(), 6);
        ASSERT_EQ(corner.Height(), 6);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 6; ++x) {
                const TCorvColor c = *corner.GetPixelPtr(x, y);
                EXPECT_EQ(AlphaOf(c), mirrored(i, x, y)) << "corner " << i << " at " << x << ", " << y;
                if (AlphaOf(c) > 0) {
                    EXPECT_EQ(c & 0xFFFFFF, 0u) << "corner " << i << " at " << x << ", " << y;
                }
            }
    }
}

TEST_F(Shadows, MissingCornerImagesFailTheLoad)
{
    EXPECT_THROW(LoadShadowCorners(":/no/such/folder"), EStreamError);
    // The corners in use stay.
    EXPECT_NE(ShadowCorners()[3], nullptr);
}

TEST_F(Shadows, WhiteSurfaceValues)
{
    auto s = TCorvSurface::CreateFilled(20, 20, White);
    s->DrawShadow({0, 0, 20, 20}, {0, 0, 20, 20}, ShadowColor1, ShadowColor2);
    const auto at = [&](int x, int y) { return *s->GetPixelPtr(x, y); };
    const TCorvColor leading[3] = {0xF5F5F5F5, 0xD6CCCCCC, 0xC4A3A3A3};
    const TCorvColor trailing[3] = {0xC4A3A3A3, 0xD5CBCBCB, 0xF4F4F4F4};
    for (int i = 6; i <= 13; ++i)
        for (int d = 0; d < 3; ++d) {
            EXPECT_EQ(at(d, i), leading[d]) << "left " << d << ", " << i;
            EXPECT_EQ(at(i, d), leading[d]) << "top " << i << ", " << d;
            EXPECT_EQ(at(17 + d, i), trailing[d]) << "right " << 17 + d << ", " << i;
            EXPECT_EQ(at(i, 17 + d), trailing[d]) << "bottom " << i << ", " << 17 + d;
        }
    EXPECT_EQ(at(0, 0), White);
    EXPECT_EQ(at(4, 0), 0xFAFAFAFAu);
    EXPECT_EQ(at(5, 0), 0xF7F7F7F7u);
    EXPECT_EQ(at(2, 2), 0xDFDADADAu);
    EXPECT_EQ(at(17, 2), 0xDFDADADAu);
    EXPECT_EQ(at(17, 17), 0xDFDADADAu);
    EXPECT_EQ(at(2, 17), 0xDFDADADAu);
    for (int y = 3; y <= 16; ++y)
        for (int x = 3; x <= 16; ++x)
            EXPECT_EQ(at(x, y), White) << x << ", " << y;
}

TEST_F(Shadows, ClippedEdgeContinuesItsGradient)
{
    auto s = TCorvSurface::CreateFilled(20, 20, White);
    s->DrawShadow({0, 0, 20, 20}, {1, 0, 19, 20}, ShadowColor1, ShadowColor2);
    for (int y = 0; y < 20; ++y)
        EXPECT_EQ(*s->GetPixelPtr(0, y), White) << y;
    for (int y = 6; y <= 13; ++y) {
        EXPECT_EQ(*s->GetPixelPtr(1, y), 0xD6CCCCCCu);
        EXPECT_EQ(*s->GetPixelPtr(2, y), 0xC4A3A3A3u);
    }
    EXPECT_EQ(*s->GetPixelPtr(4, 0), 0xFAFAFAFAu);
    EXPECT_EQ(*s->GetPixelPtr(2, 2), 0xDFDADADAu);
}

TEST_F(Shadows, NarrowRectangleDrawsOnlyCornersAndSideEdges)
{
    auto s = TCorvSurface::CreateFilled(20, 20, White);
    s->DrawShadow({0, 0, 10, 20}, {0, 0, 20, 20}, ShadowColor1, ShadowColor2);
    // The top-right corner lies over the top-left one: (5, 1) is blended by both.
    EXPECT_EQ(*s->GetPixelPtr(5, 1), 0xBCAFAFAFu);
    EXPECT_EQ(*s->GetPixelPtr(0, 8), 0xF5F5F5F5u);
    EXPECT_EQ(*s->GetPixelPtr(9, 8), 0xF4F4F4F4u);
    for (int y = 0; y < 20; ++y)
        for (int x = 10; x < 20; ++x)
            ASSERT_EQ(*s->GetPixelPtr(x, y), White) << x << ", " << y;
}

struct TSizeCase {
    int32_t Width, Height;
    int32_t ThumbWidth, ThumbHeight;
};

TEST(Thumbnails, Sizes)
{
    const TSizeCase cases[] = {
        {1000, 100, 56, 6}, {200, 100, 56, 28}, {160, 30, 56, 10}, {30, 100, 17, 56}, {40, 30, 40, 30},
        {100, 1000, 56, 56}, {57, 57, 56, 56}, {1000, 3, 56, 1}, {2000, 15, 56, 1}, {113, 1, 56, 1},
        {56, 56, 56, 56}, {1, 1, 1, 1},
    };
    for (const TSizeCase& c : cases) {
        auto s = TCorvSurface::CreateFilled(c.Width, c.Height, 0xFF808080);
        auto t = s->CreateThumbnail(56, 56, false, 0.25f);
        EXPECT_EQ(t->Width(), c.ThumbWidth) << c.Width << " x " << c.Height;
        EXPECT_EQ(t->Height(), c.ThumbHeight) << c.Width << " x " << c.Height;
    }
}

TEST(Thumbnails, FitsBoxesOfAnyShape)
{
    // Both sides too large for a 100 x 50 box: the side that overflows more decides.
    const TSizeCase cases[] = {{300, 200, 75, 50}, {400, 100, 100, 25}, {200, 110, 91, 50}};
    for (const TSizeCase& c : cases) {
        auto t = TCorvSurface::CreateFilled(c.Width, c.Height, 0xFF808080)->CreateThumbnail(100, 50, false, 0.25f);
        EXPECT_EQ(t->Width(), c.ThumbWidth) << c.Width << " x " << c.Height;
        EXPECT_EQ(t->Height(), c.ThumbHeight) << c.Width << " x " << c.Height;
    }
}

TEST(Thumbnails, EmptyPicturesAndBoxes)
{
    auto flat = TCorvSurface::Create(5, 0);
    auto t = flat->CreateThumbnail(56, 56, true, 0.25f);
    EXPECT_EQ(t->Width(), 5);
    EXPECT_EQ(t->Height(), 0);
    // A side of 0 scaled is still at least 1; the pixels are transparent.
    auto thin = TCorvSurface::Create(100, 0)->CreateThumbnail(56, 56, false, 0.25f);
    EXPECT_EQ(thin->Width(), 56);
    EXPECT_EQ(thin->Height(), 1);
    EXPECT_EQ(*thin->GetPixelPtr(55, 0), 0u);
    // The top square of a picture without columns is empty.
    auto none = TCorvSurface::Create(0, 100)->CreateThumbnail(56, 56, true, 0.25f);
    EXPECT_EQ(none->Width(), 0);
    EXPECT_EQ(none->Height(), 0);
    EXPECT_THROW(flat->CreateThumbnail(0, 56, true, 0.25f), EArgumentError);
    EXPECT_THROW(flat->CreateThumbnail(56, -1, true, 0.25f), EArgumentError);
}

TEST(Thumbnails, TallPictureShowsItsTopSquare)
{
    auto s = TCorvSurface::CreateFilled(100, 1000, 0xFF0000FF);
    s->FillRect({0, 0, 100, 100}, 0xFFFF0000);
    s->UpdateHasAlpha();
    auto t = s->CreateThumbnail(56, 56, false, 0.25f);
    ASSERT_EQ(t->Width(), 56);
    ASSERT_EQ(t->Height(), 56);
    EXPECT_TRUE(t->HasAlpha());
    for (int y = 0; y < 56; ++y)
        for (int x = 0; x < 56; ++x)
            ASSERT_EQ(*t->GetPixelPtr(x, y), 0xFFFF0000u) << x << ", " << y;
}

TEST(Thumbnails, TopSquareOfAWidePictureStaysInsideIt)
{
    // A MinAspect above 1 takes a square taller than the picture.
    auto s = TCorvSurface::CreateFilled(150, 100, 0xFF00FF00);
    auto t = s->CreateThumbnail(56, 56, false, 2.0f);
    EXPECT_EQ(t->Width(), 56);
    EXPECT_EQ(t->Height(), 56);
    EXPECT_EQ(*t->GetPixelPtr(28, 28), 0xFF00FF00u);
}

TEST(Thumbnails, CheckerboardOnlyBehindTransparentPictures)
{
    auto clear = TCorvSurface::CreateFilled(40, 30, 0x00000000);
    auto board = clear->CreateThumbnail(56, 56, true, 0.25f);
    ASSERT_EQ(board->Width(), 40);
    EXPECT_TRUE(board->HasAlpha());
    EXPECT_EQ(*board->GetPixelPtr(0, 0), 0xFFBFBFBFu);
    EXPECT_EQ(*board->GetPixelPtr(8, 0), 0xFFFFFFFFu);
    EXPECT_EQ(*board->GetPixelPtr(8, 8), 0xFFBFBFBFu);

    auto opaque = TCorvSurface::CreateFilled(200, 100, 0xFF336699);
    auto t = opaque->CreateThumbnail(56, 56, true, 0.25f);
    ASSERT_EQ(t->Width(), 56);
    ASSERT_EQ(t->Height(), 28);
    EXPECT_FALSE(t->HasAlpha());
    for (int y = 0; y < 28; ++y)
        for (int x = 0; x < 56; ++x)
            ASSERT_EQ(*t->GetPixelPtr(x, y), 0xFF336699u) << x << ", " << y;
}

} // namespace
