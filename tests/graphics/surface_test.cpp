#include "graphics/errors.h"
#include "graphics/surface.h"
#include "platform/imaging.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <random>
#include <vector>

using namespace Corvanith;
using namespace Corvanith::Graphics;

namespace {

void Fill(TCorvSurface& s, const std::vector<TCorvColor>& pixels)
{
    ASSERT_EQ(size_t(s.Width()) * size_t(s.Height()), pixels.size());
    std::copy(pixels.begin(), pixels.end(), s.GetPixelPtr(0, 0));
}

std::vector<TCorvColor> Pixels(const TCorvSurface& s)
{
    const TCorvColor* p = s.GetPixelPtr(0, 0);
    return {p, p + size_t(s.Width()) * size_t(s.Height())};
}

TEST(Surface, CreateSetsGeometryAndAlphaFlag)
{
    auto s = TCorvSurface::Create(3, 2);
    EXPECT_EQ(s->Width(), 3);
    EXPECT_EQ(s->Height(), 2);
    EXPECT_EQ(s->Stride(), 12);
    EXPECT_TRUE(s->HasAlpha());
    EXPECT_EQ(s->RawFormat(), Platform::ImageFormatUndefined);
    EXPECT_EQ(s->GetPixelPtr(1, 1) - s->GetPixelPtr(0, 0), 4);
    // Opaque pixels written by hand leave the flag until it is recomputed.
    Fill(*s, std::vector<TCorvColor>(6, 0xFF102030));
    EXPECT_FALSE(s->DetectAlpha());
    EXPECT_TRUE(s->HasAlpha());
    s->UpdateHasAlpha();
    EXPECT_FALSE(s->HasAlpha());
}

TEST(Surface, CreateFilledAlphaFlagFollowsTheColour)
{
    auto opaque = TCorvSurface::CreateFilled(5, 4, 0xFF336699);
    EXPECT_FALSE(opaque->HasAlpha());
    EXPECT_EQ(Pixels(*opaque), std::vector<TCorvColor>(20, 0xFF336699));
    auto clear = TCorvSurface::CreateFilled(5, 4, 0);
    EXPECT_TRUE(clear->HasAlpha());
    EXPECT_EQ(Pixels(*clear), std::vector<TCorvColor>(20, 0));
    // A later plain fill does not touch the flag.
    opaque->FillRect({0, 0, 5, 4}, 0x00000000);
    EXPECT_FALSE(opaque->HasAlpha());
}

TEST(Surface, DetectAlphaFindsAnyTranslucentPixel)
{
    auto s = TCorvSurface::CreateFilled(4, 4, 0xFFFFFFFF);
    EXPECT_FALSE(s->DetectAlpha());
    *s->GetPixelPtr(3, 3) = 0xFEFFFFFF;
    EXPECT_TRUE(s->DetectAlpha());
    EXPECT_FALSE(TCorvSurface::Create(0, 7)->DetectAlpha());
}

TEST(Surface, RejectsSizesItCannotAddress)
{
    EXPECT_THROW(TCorvSurface::Create(-1, 5), ERangeError);
    EXPECT_THROW(TCorvSurface::Create(5, -1), ERangeError);
    EXPECT_THROW(TCorvSurface::Create(65536, 65536), ERangeError);
    EXPECT_THROW(TCorvSurface::Create(INT32_MAX, 2), ERangeError);
    // No rows, but a row of that width could not be addressed.
    EXPECT_THROW(TCorvSurface::Create(INT32_MAX, 0), ERangeError);
    EXPECT_NO_THROW(TCorvSurface::Create(0, INT32_MAX));
    EXPECT_NO_THROW(TCorvSurface::Create(0, 0));
}

TEST(Surface, TakeOverMovesTheBufferAndEmptiesTheSource)
{
    auto target = TCorvSurface::CreateFilled(2, 2, 0xFF000000);
    target->GetGPBitmap();
    auto source = TCorvSurface::CreateFilled(3, 1, 0x80112233);
    const uint8_t* buffer = source->Bits();
    target->TakeOver(*source);
    EXPECT_EQ(target->Bits(), buffer);
    EXPECT_EQ(target->Width(), 3);
    EXPECT_EQ(target->Height(), 1);
    EXPECT_EQ(target->Stride(), 12);
    EXPECT_TRUE(target->HasAlpha());
    EXPECT_EQ(Pixels(*target), std::vector<TCorvColor>(3, 0x80112233));
    EXPECT_EQ(source->Width(), 0);
    EXPECT_EQ(source->Bits(), nullptr);
    // The next bitmap wraps the new buffer.
    EXPECT_EQ(target->GetGPBitmap().Image().constBits(), buffer);
    EXPECT_EQ(target->GetGPBitmap().Image().width(), 3);
}

TEST(Surface, PaintingThroughTheCachedGraphicsLandsInTheBuffer)
{
    auto s = TCorvSurface::CreateFilled(4, 4, 0);
    QPainter& p = s->GetGPGraphics().Painter();
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(QRect(1, 1, 2, 2), QColor(0x10, 0x20, 0x30));
    EXPECT_EQ(*s->GetPixelPtr(1, 1), 0xFF102030u);
    EXPECT_EQ(*s->GetPixelPtr(2, 2), 0xFF102030u);
    EXPECT_EQ(*s->GetPixelPtr(0, 0), 0u);
    EXPECT_EQ(*s->GetPixelPtr(3, 3), 0u);
}

TEST(Surface, DrawIgnoresTheAlphaByte)
{
    auto s = TCorvSurface::Create(2, 2);
    Fill(*s, {0x00FF0000, 0x80112233, 0xFF445566, 0x01778899});
    std::vector<uint32_t> whole(16, 0xFFFFFFFF), part(16, 0xFFFFFFFF);
    {
        QImage target(reinterpret_cast<uchar*>(whole.data()), 4, 4, 16, QImage::Format_ARGB32);
        QPainter painter(&target);
        Platform::TCanvas dc(painter);
        s->Draw(dc, 1, 1);
    }
    EXPECT_EQ(whole[5], 0xFFFF0000u);
    EXPECT_EQ(whole[6], 0xFF112233u);
    EXPECT_EQ(whole[9], 0xFF445566u);
    EXPECT_EQ(whole[10], 0xFF778899u);
    EXPECT_EQ(whole[0], 0xFFFFFFFFu);
    {
        QImage target(reinterpret_cast<uchar*>(part.data()), 4, 4, 16, QImage::Format_ARGB32);
        QPainter painter(&target);
        Platform::TCanvas dc(painter);
        s->DrawRect(dc, {1, 0, 1, 2});
    }
    EXPECT_EQ(part[1], 0xFF112233u);
    EXPECT_EQ(part[5], 0xFF778899u);
    EXPECT_EQ(part[0], 0xFFFFFFFFu);
    EXPECT_EQ(part[4], 0xFFFFFFFFu);
    // The drawn pixels were made opaque on the way, and only they.
    const TCorvColor* p = s->GetPixelPtr(0, 0);
    EXPECT_EQ(std::vector<TCorvColor>(p, p + 4),
              (std::vector<TCorvColor>{0xFFFF0000, 0xFF112233, 0xFF445566, 0xFF778899}));
    auto fresh = TCorvSurface::Create(2, 2);
    Fill(*fresh, {0x00FF0000, 0x80112233, 0xFF445566, 0x01778899});
    {
        QImage target(reinterpret_cast<uchar*>(part.data()), 4, 4, 16, QImage::Format_ARGB32);
        QPainter painter(&target);
        Platform::TCanvas dc(painter);
        fresh->DrawRect(dc, {1, 0, 1, 2});
    }
    EXPECT_EQ(*fresh->GetPixelPtr(0, 0), 0x00FF0000u);
    EXPECT_EQ(*fresh->GetPixelPtr(1, 0), 0xFF112233u);
    EXPECT_EQ(*fresh->GetPixelPtr(1, 1), 0xFF778899u);
}

TEST(Surface, LargeDrawsMatchPixelForPixel)
{
    // Large enough to be drawn in several pieces, with rows of odd length.
    constexpr int32_t W = 701, H = 250;
    auto s = TCorvSurface::Create(W, H);
    std::mt19937 rng(7);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
            *s->GetPixelPtr(x, y) = TCorvColor(rng());
    struct TCase {
        TCorvRectangle Source;
        int32_t X, Y; // where Source lands
        bool Whole;
    };
    for (const TCase& c : {TCase{{0, 0, W, H}, 2, 3, true}, TCase{{3, 5, 690, 241}, 3, 5, false}}) {
        std::vector<uint32_t> target(size_t(W + 4) * (H + 4), 0xFF0000FFu);
        {
            QImage image(reinterpret_cast<uchar*>(target.data()), W + 4, H + 4, (W + 4) * 4,
                         QImage::Format_ARGB32);
            QPainter painter(&image);
            Platform::TCanvas dc(painter);
            if (c.Whole)
                s->Draw(dc, c.X, c.Y);
            else
                s->DrawRect(dc, c.Source);
        }
        for (int32_t y = 0; y < H + 4; ++y)
            for (int32_t x = 0; x < W + 4; ++x) {
                const int32_t sx = x - c.X + c.Source.X, sy = y - c.Y + c.Source.Y;
                const bool inside = x >= c.X && x < c.X + c.Source.Width && y >= c.Y && y < c.Y + c.Source.Height;
                const uint32_t expected = inside ? (*s->GetPixelPtr(sx, sy) | 0xFF000000u) : 0xFF0000FFu;
                ASSERT_EQ(target[size_t(y) * (W + 4) + size_t(x)], expected) << x << ", " << y;
            }
    }
}

TEST(SurfaceFills, RectanglesPointsAndCheckerboard)
{
    auto s = TCorvSurface::CreateFilled(16, 16, 0xFF000000);
    s->FillRect({2, 3, 4, 1}, 0xFF00FF00);
    EXPECT_EQ(*s->GetPixelPtr(2, 3), 0xFF00FF00u);
    EXPECT_EQ(*s->GetPixelPtr(5, 3), 0xFF00FF00u);
    EXPECT_EQ(*s->GetPixelPtr(6, 3), 0xFF000000u);
    EXPECT_EQ(*s->GetPixelPtr(2, 4), 0xFF000000u);
    s->FillRect({0, 0, 0, 16}, 0x12345678);
    s->FillRect({0, 0, 16, 0}, 0x12345678);
    EXPECT_EQ(*s->GetPixelPtr(0, 0), 0xFF000000u);

    s->FillPoints({{0, 0}, {15, 15}}, 0xAB000000);
    EXPECT_EQ(*s->GetPixelPtr(0, 0), 0xAB000000u);
    EXPECT_EQ(*s->GetPixelPtr(15, 15), 0xAB000000u);

    s->FillCheckerboard({0, 0, 16, 16}, 0, 0);
    EXPECT_EQ(*s->GetPixelPtr(0, 0), 0xFFBFBFBFu);
    EXPECT_EQ(*s->GetPixelPtr(7, 7), 0xFFBFBFBFu);
    EXPECT_EQ(*s->GetPixelPtr(8, 0), 0xFFFFFFFFu);
    EXPECT_EQ(*s->GetPixelPtr(0, 8), 0xFFFFFFFFu);
    EXPECT_EQ(*s->GetPixelPtr(8, 8), 0xFFBFBFBFu);
    s->FillCheckerboard({0, 0, 16, 16}, 8, 0);
    EXPECT_EQ(*s->GetPixelPtr(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(*s->GetPixelPtr(8, 0), 0xFFBFBFBFu);
}

TEST(SurfaceFills, CopyBlendAndSubtract)
{
    auto src = TCorvSurface::Create(2, 1);
    Fill(*src, {0x00FFFFFF, 0x80FF0000});
    auto dest = TCorvSurface::CreateFilled(3, 2, 0xFF0000FF);
    src->AlphaBlendTo(*dest, 1, 1, {0, 0, 2, 1});
    EXPECT_EQ(Pixels(*dest), (std::vector<TCorvColor>{0xFF0000FF, 0xFF0000FF, 0xFF0000FF, 0xFF0000FF,
                                                      0xFF0000FF, 0xBF7F007F}));
    src->CopyTo(*dest, 0, 0, {1, 0, 1, 1});
    EXPECT_EQ(*dest->GetPixelPtr(0, 0), 0x80FF0000u);
    dest->BlendFillRect({1, 0, 1, 1}, 0x80FFFFFF);
    EXPECT_EQ(*dest->GetPixelPtr(1, 0), 0xBF7F7FFFu);
    dest->SubtractColor(0x0F000000);
    EXPECT_EQ(*dest->GetPixelPtr(0, 0), 0x71FF0000u);
    EXPECT_EQ(*dest->GetPixelPtr(2, 1), 0xB07F007Fu);
}

} // namespace
