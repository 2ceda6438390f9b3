#include "document/document.h"
#include "document/layers.h"
#include "graphics/errors.h"
#include "graphics/surface.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace Corvanith;
using namespace Corvanith::Document;
using Graphics::TCorvColor;
using Graphics::TCorvRectangle;
using Graphics::TCorvRegion;
using Graphics::TCorvSurface;

// A layer of a given rectangle that records, in document coordinates, what it
// is asked to paint, and checks that each part lands where the document's
// mapping puts it.
class TRecordingLayer : public TCorvLayer {
public:
    TRecordingLayer(const TCorvRectangle& Rect, bool Opaque, std::vector<int>* Order = nullptr, int Id = 0)
        : FRect(Rect), FOpaque(Opaque), FOrder(Order), FId(Id)
    {
    }

    int32_t GetHeight() const override { return FRect.Height; }
    int32_t GetLeft() const override { return FRect.X; }
    int32_t GetTop() const override { return FRect.Y; }
    int32_t GetWidth() const override { return FRect.Width; }
    bool IsOpaque() const override { return FOpaque; }
    void Paint(TCorvSurface&, int32_t X, int32_t Y, const TCorvRectangle& SrcRect) override
    {
        const TCorvRectangle doc{SrcRect.X + FRect.X, SrcRect.Y + FRect.Y, SrcRect.Width, SrcRect.Height};
        EXPECT_EQ(X - doc.X, OffsetX);
        EXPECT_EQ(Y - doc.Y, OffsetY);
        // Inside the layer's own rectangle.
        EXPECT_GE(SrcRect.X, 0);
        EXPECT_GE(SrcRect.Y, 0);
        EXPECT_LE(SrcRect.X + SrcRect.Width, FRect.Width);
        EXPECT_LE(SrcRect.Y + SrcRect.Height, FRect.Height);
        Area += int64_t(doc.Width) * doc.Height;
        Painted.Union(doc);
        if (FOrder != nullptr && (FOrder->empty() || FOrder->back() != FId))
            FOrder->push_back(FId);
    }

    TCorvRegion Painted = TCorvRegion::CreateRect(0, 0, 0, 0);
    int64_t Area = 0;
    int32_t OffsetX = 0;
    int32_t OffsetY = 0;

private:
    TCorvRectangle FRect;
    bool FOpaque;
    std::vector<int>* FOrder;
    int FId;
};

// The layer painted exactly the union of Expected, each pixel once.
void ExpectArea(TRecordingLayer& Layer, const std::vector<TCorvRectangle>& Expected)
{
    TCorvRegion want = TCorvRegion::CreateRect(0, 0, 0, 0);
    for (const TCorvRectangle& r : Expected)
        want.Union(r);
    int64_t area = 0;
    for (const TCorvRectangle& r : *want.GetRects())
        area += int64_t(r.Width) * r.Height;
    TCorvRegion extra = TCorvRegion::CreateRect(0, 0, 0, 0);
    for (const TCorvRectangle& r : *Layer.Painted.GetRects())
        extra.Union(r);
    extra.Exclude(want);
    want.Exclude(Layer.Painted);
    EXPECT_TRUE(want.IsEmpty()) << "missing";
    EXPECT_TRUE(extra.IsEmpty()) << "extra";
    EXPECT_EQ(Layer.Area, area);
}

std::unique_ptr<TCorvSurface> Picture(int32_t Width, int32_t Height, TCorvColor Color)
{
    return TCorvSurface::CreateFilled(Width, Height, Color);
}

class DocumentTest : public testing::Test {
protected:
    static void SetUpTestSuite() { Settings::InitializeSettings(); }

    TCorvDocument Doc{Picture(100, 50, 0xFF336699), MakeFileSource(QStringLiteral("/tmp/a.png"))};
};

TEST_F(DocumentTest, StartsWithImageAndBrushesAtThePictureBounds)
{
    ASSERT_EQ(Doc.Layers().GetCount(), 2);
    EXPECT_EQ(&Doc.Layers().GetItem(0), &Doc.ImageLayer());
    EXPECT_EQ(&Doc.Layers().GetItem(1), &Doc.BrushesLayer());
    EXPECT_EQ(Doc.ImageLayer().Document(), &Doc);
    EXPECT_EQ(Doc.BrushesLayer().Document(), &Doc);
    EXPECT_EQ(Doc.GetBounds(), (TCorvRectangle{0, 0, 100, 50}));
    EXPECT_EQ(Doc.Source().Location, QStringLiteral("/tmp/a.png"));
    // The brushes layer without a mask has zero size at (0, 0): no change.
    EXPECT_EQ(Doc.BrushesLayer().GetBounds(), (TCorvRectangle{0, 0, 0, 0}));
}

TEST_F(DocumentTest, BoundsFollowInsertionsAndTheImageSurface)
{
    Doc.Layers().Insert(std::make_unique<TCorvBackgroundLayer>(), 0);
    EXPECT_EQ(Doc.GetBounds(), (TCorvRectangle{-1, -1, 102, 52}));
    Doc.Layers().Insert(std::make_unique<TRecordingLayer>(TCorvRectangle{120, 60, 5, 5}, false), -1);
    EXPECT_EQ(Doc.GetBounds(), (TCorvRectangle{-1, -1, 126, 66}));

    TCorvDocument doc(Picture(10, 10, 0xFF000000), {});
    TCorvSurface* first = &doc.ImageLayer().Surface();
    doc.ImageLayer().SetSurface(Picture(30, 20, 0xFF000000));
    EXPECT_NE(&doc.ImageLayer().Surface(), first);
    EXPECT_EQ(doc.GetBounds(), (TCorvRectangle{0, 0, 30, 20}));
    EXPECT_THROW(doc.ImageLayer().SetSurface(nullptr), EArgumentError);
    EXPECT_EQ(doc.GetBounds(), (TCorvRectangle{0, 0, 30, 20}));
}

TEST_F(DocumentTest, SurfaceChangedInPlaceUpdatesTheBounds)
{
    TCorvSurface& s = Doc.ImageLayer().Surface();
    auto smaller = Picture(60, 40, 0xFF000000);
    s.TakeOver(*smaller);
    Doc.ImageLayer().SurfaceChanged();
    EXPECT_EQ(&Doc.ImageLayer().Surface(), &s);
    EXPECT_EQ(Doc.GetBounds(), (TCorvRectangle{0, 0, 60, 40}));
}

TEST_F(DocumentTest, InsertAtTheBottomSetsTheDocumentBeforeTheEvent)
{
    int calls = 0;
    auto layer = std::make_unique<TRecordingLayer>(TCorvRectangle{-5, 0, 1, 1}, false);
    TCorvLayer* raw = layer.get();
    Doc.Layers().OnChange = [&](TCorvLayer& L) {
        ++calls;
        EXPECT_EQ(&L, raw);
        EXPECT_EQ(L.Document(), &Doc);
        EXPECT_EQ(&Doc.Layers().GetItem(0), raw);
    };
    Doc.Layers().Insert(std::move(layer), 0);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(Doc.Layers().GetCount(), 3);
    EXPECT_EQ(&Doc.Layers().GetItem(1), &Doc.ImageLayer());
    EXPECT_EQ(&Doc.Layers().GetItem(2), &Doc.BrushesLayer());
}

TEST_F(DocumentTest, IndexesOutsideTheListAreRefused)
{
    int calls = 0;
    Doc.Layers().OnChange = [&](TCorvLayer&) { ++calls; };
    for (int32_t index : {-2, 3, 100}) {
        try {
            Doc.Layers().Insert(std::make_unique<TRecordingLayer>(TCorvRectangle{0, 0, 1, 1}, false), index);
            ADD_FAILURE() << index;
        } catch (const ERangeError& e) {
            EXPECT_EQ(std::string(e.what()), "List index out of bounds (" + std::to_string(index) + ")");
        }
    }
    EXPECT_THROW(Doc.Layers().Insert(nullptr, -1), EArgumentError);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(Doc.Layers().GetCount(), 2);
    EXPECT_THROW(Doc.Layers().GetItem(2), ERangeError);
    EXPECT_THROW(Doc.Layers().GetItem(-1), ERangeError);
    Doc.Layers().Insert(std::make_unique<TRecordingLayer>(TCorvRectangle{0, 0, 1, 1}, false), 2);
    EXPECT_EQ(calls, 1);
}

// Four layers shaped like the standard stack, around a 100 x 50 picture.
struct TStack {
    TRecordingLayer* Background;
    TRecordingLayer* Shadow;
    TRecordingLayer* Image;
    TRecordingLayer* Brushes;
    std::vector<int> Order;
};

void BuildStack(TCorvLayers& Layers, TStack& S, bool PictureOpaque)
{
    const TCorvRectangle rects[4] = {{-1, -1, 102, 52}, {-4, -4, 108, 58}, {0, 0, 100, 50}, {0, 0, 100, 50}};
    const bool opaque[4] = {true, false, PictureOpaque, false};
    TRecordingLayer* made[4];
    for (int i = 0; i < 4; ++i) {
        auto l = std::make_unique<TRecordingLayer>(rects[i], opaque[i], &S.Order, i);
        made[i] = l.get();
        Layers.Insert(std::move(l), -1);
    }
    S = {made[0], made[1], made[2], made[3], {}};
}

TEST(DocumentPaint, CullsWhatOpaqueLayersAboveHide)
{
    for (const bool pictureOpaque : {true, false}) {
        SCOPED_TRACE(pictureOpaque);
        // The document's own 1 x 1 picture lies under the recording layers'
        // opaque background and its brushes layer is empty: neither paints.
        TCorvDocument doc(Picture(1, 1, 0xFF000000), {});
        TStack s;
        BuildStack(doc.Layers(), s, pictureOpaque);
        for (TRecordingLayer* l : {s.Background, s.Shadow, s.Image, s.Brushes}) {
            l->OffsetX = 14;
            l->OffsetY = 24;
        }
        auto target = TCorvSurface::Create(200, 200);
        doc.Paint(*target, 10, 20, {-4, -4, 108, 58});

        // The shadow lies above the background, so only the picture hides it.
        if (pictureOpaque) {
            ExpectArea(*s.Background, {{-1, -1, 102, 1}, {-1, 50, 102, 1}, {-1, 0, 1, 50}, {100, 0, 1, 50}});
            ExpectArea(*s.Shadow, {{-4, -4, 108, 4}, {-4, 50, 108, 4}, {-4, 0, 4, 50}, {100, 0, 4, 50}});
        } else {
            ExpectArea(*s.Background, {{-1, -1, 102, 52}});
            ExpectArea(*s.Shadow, {{-4, -4, 108, 58}});
        }
        ExpectArea(*s.Image, {{0, 0, 100, 50}});
        ExpectArea(*s.Brushes, {{0, 0, 100, 50}});
        EXPECT_EQ(s.Order, (std::vector<int>{0, 1, 2, 3}));
    }
}

TEST(DocumentPaint, PaintsOnlyInsideTheClipAndTheLayers)
{
    TCorvDocument doc(Picture(20, 10, 0xFF112233), {});
    auto target = TCorvSurface::CreateFilled(40, 40, 0xFFEEEEEE);
    // Half the clip lies left of the picture, which lands at (3 + 5, 4).
    doc.Paint(*target, 3, 4, {-5, 0, 10, 50});
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 40; ++x) {
            const bool inside = x >= 8 && x < 13 && y >= 4 && y < 14;
            EXPECT_EQ(*target->GetPixelPtr(x, y), inside ? 0xFF112233u : 0xFFEEEEEEu) << x << "," << y;
        }
    doc.Paint(*target, 0, 0, {0, 0, 0, 0});
    doc.Paint(*target, 0, 0, {200, 200, 10, 10});
    EXPECT_EQ(*target->GetPixelPtr(0, 0), 0xFFEEEEEEu);
}

TEST(DocumentPaint, OpaqueRegionIsTheUnionOfOpaqueLayers)
{
    Settings::InitializeSettings();
    struct Case {
        TCorvColor Color;
        std::vector<TCorvRectangle> Rects;
    };
    for (const Case& c : {Case{0xFF000000, {{-1, -1, 102, 52}}}, Case{0x80000000, {{-1, -1, 102, 52}}}}) {
        TCorvDocument doc(Picture(100, 50, c.Color), {});
        TCorvRegion none = doc.GetOpaqueRegion();
        EXPECT_EQ(none.IsEmpty(), c.Color >> 24 != 0xFF);
        doc.Layers().Insert(std::make_unique<TCorvBackgroundLayer>(), 0);
        TCorvRegion r = doc.GetOpaqueRegion();
        EXPECT_EQ(*r.GetRects(), c.Rects);
    }
}

} // namespace
