#include "document/document.h"
#include "document/layers.h"
#include "graphics/errors.h"
#include "graphics/surface.h"
#include "view/documentview.h"
#include "view/preservebrush.h"
#include "view/strokeseraser.h"

#include <gtest/gtest.h>

#include <QApplication>

namespace {

using namespace Corvanith;
using namespace Corvanith::View;
using Document::TCorvDocument;
using Graphics::MaskCorePaint;
using Graphics::MaskUnpainted;
using Graphics::TCorvRectangle;
using Graphics::TCorvSurface;

class BrushToolsTest : public testing::Test {
protected:
    static void SetUpTestSuite() { Settings::InitializeSettings(); }

    void SetUp() override { Overlays.Document = &Doc; }

    TCorvSurface& Mask() { return Doc.BrushesLayer().GetSurface(); }
    Graphics::TCorvColor MaskAt(int32_t X, int32_t Y) { return *Mask().GetPixelPtr(X, Y); }
    // Activated and over the picture, so that the left button stamps.
    void Ready(TCorvBrushTool& Tool)
    {
        Tools.SetActiveTool(&Tool);
        Tool.MouseEnter(0, 10, 10);
    }

    TCorvDocument Doc{TCorvSurface::CreateFilled(300, 200, 0xFF808080), {}};
    TCorvOverlays Overlays;
    TCorvTools Tools{Overlays};
    TCorvPreserveBrushTool& Brush =
        static_cast<TCorvPreserveBrushTool&>(Tools.Add(std::make_unique<TCorvPreserveBrushTool>(50)));
    TCorvStrokesEraserTool& Eraser =
        static_cast<TCorvStrokesEraserTool&>(Tools.Add(std::make_unique<TCorvStrokesEraserTool>(50)));
};

TEST_F(BrushToolsTest, OverlayIsMadeOnFirstActivationAndHiddenUntilEntered)
{
    EXPECT_EQ(Brush.GetName(), QStringLiteral("Preserve Brush"));
    EXPECT_EQ(Eraser.GetName(), QStringLiteral("Brush Strokes Eraser"));
    Eraser.SetSize(75);
    EXPECT_EQ(Eraser.Overlay(), nullptr);
    Tools.SetActiveTool(&Brush);
    TCorvBrushToolOverlay* disc = Brush.Overlay();
    ASSERT_NE(disc, nullptr);
    EXPECT_EQ(Overlays.GetCount(), 1);
    EXPECT_EQ(&Overlays.GetItem(0), disc);
    EXPECT_FALSE(disc->Visible());
    EXPECT_NE(dynamic_cast<TCorvPreserveBrushToolOverlay*>(disc), nullptr);

    Brush.MouseEnter(ssLeft, 100, 60);
    EXPECT_TRUE(disc->Visible());
    EXPECT_EQ(disc->GetBounds(), (TCorvRectangle{75, 35, 50, 50}));
    EXPECT_FALSE(Doc.BrushesLayer().HasBrushes());
    Brush.MouseLeave(0, 100, 60);
    EXPECT_FALSE(disc->Visible());

    Brush.MouseEnter(0, 100, 60);
    Tools.SetActiveTool(&Eraser);
    EXPECT_FALSE(disc->Visible());
    ASSERT_NE(Eraser.Overlay(), nullptr);
    EXPECT_EQ(Eraser.Overlay()->GetWidth(), 75);
    EXPECT_FALSE(Eraser.Overlay()->Visible());
    Tools.SetActiveTool(&Brush);
    EXPECT_EQ(Brush.Overlay(), disc);
    EXPECT_EQ(Overlays.GetCount(), 2);
    EXPECT_FALSE(disc->Visible());
}

TEST_F(BrushToolsTest, DiscHasTheCentreColourInsideAndATransparentSquareAround)
{
    struct Case {
        int32_t Size;
        Graphics::TCorvColor Center;
        bool Eraser;
    };
    for (const Case c : {Case{50, PreserveBrushKind.CenterColor, false},
                         Case{25, StrokesEraserKind.CenterColor, true}}) {
        std::unique_ptr<TCorvBrushToolOverlay> o;
        if (c.Eraser)
            o = std::make_unique<TCorvStrokesEraserToolOverlay>(c.Size);
        else
            o = std::make_unique<TCorvPreserveBrushToolOverlay>(c.Size);
        const TCorvSurface& image = o->Image();
        ASSERT_EQ(image.Width(), c.Size);
        ASSERT_EQ(image.Height(), c.Size);
        const int32_t mid = c.Size / 2;
        EXPECT_EQ(*image.GetPixelPtr(mid, mid), c.Center);
        EXPECT_EQ(*image.GetPixelPtr(0, 0) >> 24, 0u);
        EXPECT_EQ(*image.GetPixelPtr(c.Size - 1, c.Size - 1) >> 24, 0u);
        // The ring four pixels in is darker than the centre next to it.
        const Graphics::TCorvColor ring = *image.GetPixelPtr(4, mid);
        EXPECT_LT(ring & 0xFF, c.Center & 0xFF);
        EXPECT_EQ(*image.GetPixelPtr(7, mid), c.Center);
        // The rim fades towards the edge.
        EXPECT_GT(*image.GetPixelPtr(0, mid) >> 24, 0u);
        EXPECT_LT(*image.GetPixelPtr(0, mid) >> 24, c.Center >> 24);
    }
}

TEST_F(BrushToolsTest, StampIsCentredOnThePixelAndClippedToThePicture)
{
    Ready(Brush);
    struct Case {
        int32_t Size;
        int32_t DocX, DocY;
        int32_t FirstX, LastX;
    };
    for (const Case c : {Case{50, 0, 0, 0, 24}, Case{50, 299, 100, 274, 299}, Case{25, 100, 100, 88, 112}}) {
        SCOPED_TRACE(c.DocX);
        Doc.BrushesLayer().ClearBrushes();
        Brush.SetSize(c.Size);
        Brush.MouseMove(ssLeft, 10, 10, c.DocX, c.DocY);
        // The disc's widest row, through the cursor's row.
        for (int32_t x = 0; x < 300; ++x) {
            const bool inside = x >= c.FirstX && x <= c.LastX;
            EXPECT_EQ(MaskAt(x, c.DocY) != MaskUnpainted, inside) << x;
        }
        EXPECT_EQ(MaskAt(c.DocX, c.DocY), MaskCorePaint);
    }
    // Size 50 at (0, 0): the disc's lower-right quarter, so the column and
    // row through its centre land on column and row 0.
    Doc.BrushesLayer().ClearBrushes();
    Brush.SetSize(50);
    Brush.MouseDown(ssLeft, 10, 10, 0, 0);
    EXPECT_EQ(MaskAt(0, 24), MaskCorePaint);
    EXPECT_EQ(MaskAt(0, 25), MaskUnpainted);
    EXPECT_EQ(MaskAt(24, 24), MaskUnpainted);
}

TEST_F(BrushToolsTest, OnlyTheLeftButtonStampsAndTheDiscAlwaysFollows)
{
    Ready(Brush);
    for (const TShiftState shift : {TShiftState(0), ssRight, ssShift | ssMiddle}) {
        Brush.MouseDown(shift, 150, 90, 100, 100);
        EXPECT_EQ(Brush.Overlay()->GetBounds(), (TCorvRectangle{125, 65, 50, 50}));
        EXPECT_FALSE(Doc.BrushesLayer().HasBrushes());
        Brush.MouseMove(shift, 160, 90, 100, 100);
        EXPECT_EQ(Brush.Overlay()->GetBounds().X, 135);
    }
    // A hidden disc (cursor off the picture) stamps nothing either.
    Brush.MouseLeave(0, 0, 0);
    Brush.MouseMove(ssLeft, 160, 90, 100, 100);
    EXPECT_FALSE(Doc.BrushesLayer().HasBrushes());
}

TEST_F(BrushToolsTest, EraserTakesPaintOutButNeverMakesTheMask)
{
    Ready(Eraser);
    Eraser.MouseMove(ssLeft, 10, 10, 100, 100);
    EXPECT_FALSE(Doc.BrushesLayer().HasBrushes());

    Ready(Brush);
    Brush.MouseMove(ssLeft, 10, 10, 100, 100);
    ASSERT_EQ(MaskAt(100, 100), MaskCorePaint);
    Ready(Eraser);
    Eraser.MouseDown(ssLeft, 10, 10, 100, 100);
    EXPECT_EQ(MaskAt(100, 100), MaskUnpainted);
    EXPECT_EQ(MaskAt(90, 110), MaskUnpainted);
}

TEST_F(BrushToolsTest, ResizingTheDiscKeepsItsCentre)
{
    Tools.SetActiveTool(&Brush);
    TCorvBrushToolOverlay& disc = *Brush.Overlay();
    disc.Move(100, 100, false);
    const TCorvSurface* image = &disc.Image();
    disc.SetSize(50);
    EXPECT_EQ(&disc.Image(), image);
    Brush.SetSize(25);
    EXPECT_EQ(Brush.Size(), 25);
    EXPECT_EQ(disc.GetBounds(), (TCorvRectangle{112, 112, 25, 25}));
    EXPECT_EQ(disc.Image().Width(), 25);
    disc.SetSize(100);
    EXPECT_EQ(disc.GetBounds(), (TCorvRectangle{75, 75, 100, 100}));
}

TEST_F(BrushToolsTest, SizesBelowOneAreRefused)
{
    for (const int32_t size : {0, -5}) {
        EXPECT_THROW(TCorvPreserveBrushTool{size}, ERangeError);
        EXPECT_THROW(TCorvStrokesEraserToolOverlay{size}, ERangeError);
        EXPECT_THROW(Brush.SetSize(size), ERangeError);
    }
    EXPECT_EQ(Brush.Size(), 50);
    // The smallest discs still render.
    for (const int32_t size : {1, 2, 4, 8}) {
        TCorvPreserveBrushToolOverlay o(size);
        EXPECT_EQ(o.Image().Width(), size);
    }
}

TEST_F(BrushToolsTest, MaskSmallerThanThePictureIsNeverWrittenBeyond)
{
    Ready(Brush);
    Brush.MouseMove(ssLeft, 10, 10, 150, 100);
    // The picture grows while the mask keeps its 300 x 200 pixels.
    Doc.ImageLayer().SetSurface(TCorvSurface::CreateFilled(400, 260, 0xFF808080));
    Brush.MouseMove(ssLeft, 10, 10, 299, 199);
    Brush.MouseMove(ssLeft, 10, 10, 350, 240);
    EXPECT_EQ(Mask().Width(), 300);
    EXPECT_EQ(MaskAt(299, 199), MaskCorePaint);
}

TEST_F(BrushToolsTest, StampOnAnEmptyPictureWritesNothing)
{
    TCorvDocument empty(TCorvSurface::CreateFilled(0, 0, 0xFF000000), {});
    Overlays.Document = &empty;
    Ready(Brush);
    Brush.MouseDown(ssLeft, 10, 10, 0, 0);
    EXPECT_EQ(empty.BrushesLayer().GetSurface().Width(), 0);
    Ready(Eraser);
    Eraser.MouseDown(ssLeft, 10, 10, 0, 0);
    Overlays.Document = nullptr;
    Eraser.MouseDown(ssLeft, 10, 10, 0, 0);
    EXPECT_TRUE(Eraser.Overlay()->Visible());
}

TEST_F(BrushToolsTest, DraggingOntoThePictureStampsFromTheSecondEvent)
{
    TCorvDocumentView view(nullptr, Settings::Current());
    view.SetPadding({4, 4, 4, 4});
    view.SetOverlays(&Overlays);
    view.SetTools(&Tools);
    view.resize(500, 400);
    view.show();
    QApplication::processEvents();
    view.SetDocument(&Doc);
    Tools.SetActiveTool(&Brush);
    // The picture (bounds 300 x 200, no frame layers) is centred at (100, 100).
    const TCorvRectangle r = view.GetItemScreenRect(Doc.ImageLayer());
    ASSERT_EQ(r, (TCorvRectangle{100, 100, 300, 200}));
    view.ViewMouseMove(ssLeft, 90, 150);
    view.ViewMouseMove(ssLeft, 110, 150);
    EXPECT_TRUE(Brush.Overlay()->Visible());
    EXPECT_FALSE(Doc.BrushesLayer().HasBrushes());
    view.ViewMouseMove(ssLeft, 114, 150);
    EXPECT_EQ(MaskAt(14, 50), MaskCorePaint);
    EXPECT_EQ(Brush.Overlay()->GetBounds(), (TCorvRectangle{89, 125, 50, 50}));
    // The disc is drawn over the view at the cursor.
    const Graphics::TCorvColor shown = *view.Buffer()->GetPixelPtr(114, 150);
    EXPECT_GT(shown & 0xFF, 0x80u);
    EXPECT_LT((shown >> 16) & 0xFF, 0x80u);
}

} // namespace
