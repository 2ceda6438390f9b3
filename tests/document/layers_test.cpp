#include "document/document.h"
#include "document/layers.h"
#include "graphics/surface.h"

#include <gtest/gtest.h>

namespace {

using namespace Corvanith;
using namespace Corvanith::Document;
using Graphics::TCorvColor;
using Graphics::TCorvRectangle;
using Graphics::TCorvSurface;

constexpr TCorvColor Paper = 0xFF123456;
constexpr TCorvColor Grey = 0xFFBFBFBF;
constexpr TCorvColor White = 0xFFFFFFFF;

class LayersTest : public testing::Test {
protected:
    static void SetUpTestSuite() { Settings::InitializeSettings(); }
    void SetUp() override { Fixed = Settings::Current(); }

    // A W x H picture in Color, with a background layer under it made with Fixed.
    std::unique_ptr<TCorvDocument> MakeDocument(int32_t W, int32_t H, TCorvColor Color)
    {
        auto doc = std::make_unique<TCorvDocument>(TCorvSurface::CreateFilled(W, H, Color), TCorvDocumentSource{});
        doc->Layers().Insert(std::make_unique<TCorvBackgroundLayer>(Fixed), 0);
        return doc;
    }

    // The document area Area painted onto paper, Area's top-left at (0, 0).
    static std::unique_ptr<TCorvSurface> Render(TCorvDocument& Doc, const TCorvRectangle& Area)
    {
        auto target = TCorvSurface::CreateFilled(Area.Width, Area.Height, Paper);
        Doc.Paint(*target, 0, 0, Area);
        return target;
    }

    Settings::TSettings Fixed;
};

TEST_F(LayersTest, OpaquePictureGetsAOnePixelFrameAndNoFill)
{
    auto doc = MakeDocument(100, 50, 0xFF336699);
    EXPECT_EQ(doc->Layers().GetItem(0).GetBounds(), (TCorvRectangle{-1, -1, 102, 52}));
    auto t = Render(*doc, {-2, -2, 104, 54});
    for (int32_t y = 0; y < 54; ++y)
        for (int32_t x = 0; x < 104; ++x) {
            const int32_t dx = x - 2, dy = y - 2;
            TCorvColor want = 0xFF336699;
            if (dx < -1 || dy < -1 || dx > 100 || dy > 50)
                want = Paper;
            else if (dx == -1 || dy == -1 || dx == 100 || dy == 50)
                want = 0xFF000000;
            ASSERT_EQ(*t->GetPixelPtr(x, y), want) << dx << "," << dy;
        }
}

TEST_F(LayersTest, TransparentPictureLiesOnTheCheckerboardWhateverPartIsPainted)
{
    auto doc = MakeDocument(100, 50, 0x00000000);
    auto whole = Render(*doc, {-1, -1, 102, 52});
    // Squares of 8 from the layer's corner at (-1, -1): grey first.
    for (const auto& [x, y, want] : {std::tuple{0, 0, Grey}, {7, 0, White}, {6, 6, Grey}, {7, 7, Grey},
                                     {7, 6, White}, {99, 49, (((100 ^ 50) & 8) != 0) ? White : Grey}})
        EXPECT_EQ(*whole->GetPixelPtr(x + 1, y + 1), want) << x << "," << y;
    EXPECT_EQ(*whole->GetPixelPtr(0, 0), 0xFF000000u);

    auto part = Render(*doc, {40, 0, 10, 10});
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 10; ++x)
            ASSERT_EQ(*part->GetPixelPtr(x, y), *whole->GetPixelPtr(41 + x, 1 + y)) << x << "," << y;
}

TEST_F(LayersTest, BackgroundStyleAndBorderWidthFromTheSettings)
{
    struct Case {
        Settings::TBackgroundStyle Style;
        int32_t Border;
        TCorvColor Inside;
        TCorvRectangle Bounds;
    };
    for (const Case& c : {Case{Settings::TBackgroundStyle::Solid, 1, 0xFFFFFFFF, {-1, -1, 12, 12}},
                          Case{Settings::TBackgroundStyle(7), 1, Paper, {-1, -1, 12, 12}},
                          Case{Settings::TBackgroundStyle::Solid, 0, 0xFFFFFFFF, {0, 0, 10, 10}},
                          Case{Settings::TBackgroundStyle::Solid, 3, 0xFFFFFFFF, {-3, -3, 16, 16}}}) {
        SCOPED_TRACE(c.Border);
        Fixed.BackgroundStyle = c.Style;
        Fixed.BorderWidth = c.Border;
        auto doc = MakeDocument(10, 10, 0x00000000);
        EXPECT_EQ(doc->GetBounds(), c.Bounds);
        auto t = Render(*doc, {-4, -4, 18, 18});
        EXPECT_EQ(*t->GetPixelPtr(4, 4), c.Inside);
        EXPECT_EQ(*t->GetPixelPtr(13, 13), c.Inside);
        // The ring just outside the picture is frame exactly when there is a border.
        EXPECT_EQ(*t->GetPixelPtr(3, 8), c.Border > 0 ? 0xFF000000u : Paper);
        EXPECT_EQ(*t->GetPixelPtr(4 - c.Border - 1, 8), Paper);
    }
}

TEST_F(LayersTest, BrushesMaskIsMadeOnDemandAndClearedBack)
{
    auto doc = MakeDocument(30, 20, 0xFF000000);
    TCorvBrushesLayer& b = doc->BrushesLayer();
    EXPECT_FALSE(b.HasBrushes());
    EXPECT_EQ(b.GetBounds(), (TCorvRectangle{0, 0, 0, 0}));
    TCorvSurface& mask = b.GetSurface();
    EXPECT_TRUE(b.HasBrushes());
    EXPECT_EQ(&b.GetSurface(), &mask);
    EXPECT_EQ(mask.Width(), 30);
    EXPECT_EQ(mask.Height(), 20);
    EXPECT_TRUE(mask.HasAlpha());
    EXPECT_EQ(*mask.GetPixelPtr(29, 19), 0u);
    EXPECT_EQ(b.GetBounds(), (TCorvRectangle{0, 0, 30, 20}));

    b.ClearBrushes();
    EXPECT_FALSE(b.HasBrushes());
    EXPECT_EQ(b.GetBounds(), (TCorvRectangle{0, 0, 0, 0}));
    doc->ImageLayer().SetSurface(TCorvSurface::CreateFilled(12, 8, 0xFF000000));
    EXPECT_EQ(b.GetSurface().Width(), 12);
    EXPECT_EQ(b.GetSurface().Height(), 8);
    EXPECT_EQ(*b.GetSurface().GetPixelPtr(11, 7), 0u);
}

TEST_F(LayersTest, HiddenStrokesStopOnlyThePainting)
{
    auto doc = MakeDocument(10, 10, 0xFF000000);
    TCorvBrushesLayer& b = doc->BrushesLayer();
    b.GetSurface().FillRect({0, 0, 10, 10}, 0xFFFF0000);
    doc->UpdateBounds();
    EXPECT_EQ(Render(*doc, {0, 0, 10, 10})->GetPixelPtr(5, 5)[0], 0xFFFF0000u);
    b.Hidden = true;
    EXPECT_EQ(b.GetBounds(), (TCorvRectangle{0, 0, 10, 10}));
    EXPECT_EQ(doc->GetBounds(), (TCorvRectangle{-1, -1, 12, 12}));
    EXPECT_TRUE(b.HasBrushes());
    EXPECT_EQ(Render(*doc, {0, 0, 10, 10})->GetPixelPtr(5, 5)[0], 0xFF000000u);
}

TEST_F(LayersTest, MaskSmallerThanThePictureIsDrawnOnlyWhereItHasPixels)
{
    auto doc = MakeDocument(10, 10, 0xFF000000);
    doc->BrushesLayer().GetSurface().FillRect({0, 0, 10, 10}, 0xFFFF0000);
    // The picture grows while the mask keeps its size.
    doc->ImageLayer().SetSurface(TCorvSurface::CreateFilled(20, 15, 0xFF000000));
    auto t = Render(*doc, {0, 0, 20, 15});
    EXPECT_EQ(*t->GetPixelPtr(9, 9), 0xFFFF0000u);
    EXPECT_EQ(*t->GetPixelPtr(10, 9), 0xFF000000u);
    EXPECT_EQ(*t->GetPixelPtr(19, 14), 0xFF000000u);
}

class ShadowLayerTest : public LayersTest {
protected:
    static void SetUpTestSuite()
    {
        LayersTest::SetUpTestSuite();
        Graphics::LoadShadowCorners();
    }
    static void TearDownTestSuite() { Graphics::FreeShadowCorners(); }

    // The standard stack: background, shadow, image, brushes.
    std::unique_ptr<TCorvDocument> MakeStandard(int32_t W, int32_t H, TCorvColor Color)
    {
        auto doc = std::make_unique<TCorvDocument>(TCorvSurface::CreateFilled(W, H, Color), TCorvDocumentSource{});
        doc->Layers().Insert(std::make_unique<TCorvDocumentShadowLayer>(Fixed), 0);
        doc->Layers().Insert(std::make_unique<TCorvBackgroundLayer>(Fixed), 0);
        return doc;
    }
};

TEST_F(ShadowLayerTest, StandardStackDrawsShadowFrameAndPicture)
{
    auto doc = MakeStandard(100, 50, 0xFF336699);
    EXPECT_EQ(doc->GetBounds(), (TCorvRectangle{-4, -4, 108, 58}));
    EXPECT_EQ(doc->Layers().GetItem(1).GetBounds(), (TCorvRectangle{-4, -4, 108, 58}));
    auto t = Render(*doc, {-4, -4, 108, 58});

    auto want = TCorvSurface::CreateFilled(108, 58, Paper);
    want->DrawShadow({0, 0, 108, 58}, {0, 0, 108, 58}, Fixed.ShadowColor1, Fixed.ShadowColor2);
    want->FillRect({3, 3, 102, 52}, 0xFF000000);
    want->FillRect({4, 4, 100, 50}, 0xFF336699);
    for (int32_t y = 0; y < 58; ++y)
        for (int32_t x = 0; x < 108; ++x)
            ASSERT_EQ(*t->GetPixelPtr(x, y), *want->GetPixelPtr(x, y)) << x << "," << y;
    // The shadow darkens the band outside the frame.
    EXPECT_NE(*t->GetPixelPtr(2, 20), Paper);

    // A part painted alone matches the whole, corners and edges included.
    for (const TCorvRectangle& part : {TCorvRectangle{-4, -4, 7, 9}, TCorvRectangle{98, 40, 6, 14}}) {
        auto p = Render(*doc, part);
        for (int32_t y = 0; y < part.Height; ++y)
            for (int32_t x = 0; x < part.Width; ++x)
                ASSERT_EQ(*p->GetPixelPtr(x, y), *t->GetPixelPtr(part.X + 4 + x, part.Y + 4 + y)) << x << "," << y;
    }
}

TEST_F(ShadowLayerTest, ShadowFollowsTheSettings)
{
    struct Case {
        bool Show;
        int32_t Border;
        TCorvRectangle Shadow;
        TCorvRectangle Bounds;
    };
    for (const Case& c : {Case{false, 1, {0, 0, 0, 0}, {-1, -1, 12, 7}}, Case{true, 0, {-3, -3, 16, 11}, {-3, -3, 16, 11}},
                          Case{true, 1, {-4, -4, 18, 13}, {-4, -4, 18, 13}}}) {
        Fixed.ShowShadow = c.Show;
        Fixed.BorderWidth = c.Border;
        auto doc = MakeStandard(10, 5, 0xFF000000);
        const TCorvLayer& shadow = doc->Layers().GetItem(1);
        EXPECT_EQ(shadow.GetBounds(), c.Shadow);
        EXPECT_EQ(shadow.IsOpaque(), !c.Show);
        EXPECT_EQ(doc->GetBounds(), c.Bounds);
    }
}

TEST_F(LayersTest, ThumbnailOfThePicture)
{
    struct Case {
        int32_t W, H, TW, TH;
    };
    for (const Case c : {Case{200, 100, 56, 28}, Case{100, 1000, 56, 56}, Case{40, 30, 40, 30}}) {
        TCorvDocument doc(TCorvSurface::CreateFilled(c.W, c.H, 0xFF808080), {});
        auto thumb = doc.CreateThumbnail(56, 56, true);
        EXPECT_EQ(thumb->Width(), c.TW);
        EXPECT_EQ(thumb->Height(), c.TH);
    }
}

} // namespace
