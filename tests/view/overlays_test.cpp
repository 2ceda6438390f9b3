#include "graphics/surface.h"
#include "view/overlays.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace Corvanith;
using namespace Corvanith::View;
using Graphics::TCorvColor;
using Graphics::TCorvRectangle;
using Graphics::TCorvSurface;

// Fills what it is asked to paint with its colour and counts the calls.
class TFillOverlay : public TCorvOverlay {
public:
    TFillOverlay(const TCorvRectangle& Bounds, TCorvColor Color) : TCorvOverlay(Bounds), FColor(Color) {}
    void Paint(TCorvSurface& Target, const TCorvRectangle& ClipRect) override
    {
        Clips.push_back(ClipRect);
        Target.FillRect(ClipRect, FColor);
    }
    std::vector<TCorvRectangle> Clips;

private:
    TCorvColor FColor;
};

struct TReport {
    TCorvOverlay* Overlay;
    TCorvRectangle Old;
    TCorvRectangle New;
    bool VisibleThen;
    bool operator==(const TReport&) const = default;
};

class OverlaysTest : public testing::Test {
protected:
    void SetUp() override
    {
        List.OnOverlayMoved = [this](TCorvOverlay& O, const TCorvRectangle& A, const TCorvRectangle& B) {
            Moves.push_back({&O, A, B, O.Visible()});
        };
        List.OnOverlayChanged = [this](TCorvOverlay& O, const TCorvRectangle& A, const TCorvRectangle& B) {
            Changes.push_back({&O, A, B, O.Visible()});
        };
    }
    TFillOverlay& Add(const TCorvRectangle& Bounds, TCorvColor Color = 0xFF0000FF)
    {
        return static_cast<TFillOverlay&>(List.Add(std::make_unique<TFillOverlay>(Bounds, Color)));
    }

    TCorvOverlays List;
    std::vector<TReport> Moves;
    std::vector<TReport> Changes;
};

TEST_F(OverlaysTest, MovesAreAlwaysReportedAndReturnTheOldBounds)
{
    TFillOverlay& o = Add({3, 4, 50, 50});
    EXPECT_EQ(o.Overlays(), &List);
    EXPECT_FALSE(o.Visible());
    EXPECT_EQ(o.Move(10, 20, false), (TCorvRectangle{3, 4, 50, 50}));
    EXPECT_EQ(o.GetBounds(), (TCorvRectangle{10, 20, 50, 50}));
    EXPECT_EQ(o.Move(0, 0, true), (TCorvRectangle{10, 20, 50, 50}));
    EXPECT_EQ(o.Move(-5, 2, true), (TCorvRectangle{10, 20, 50, 50}));
    EXPECT_EQ(o.GetBounds(), (TCorvRectangle{5, 22, 50, 50}));
    const std::vector<TReport> want{{&o, {3, 4, 50, 50}, {10, 20, 50, 50}, false},
                                    {&o, {10, 20, 50, 50}, {10, 20, 50, 50}, false},
                                    {&o, {10, 20, 50, 50}, {5, 22, 50, 50}, false}};
    EXPECT_EQ(Moves, want);
    EXPECT_TRUE(Changes.empty());
}

TEST_F(OverlaysTest, VisibilityChangesAreReportedAfterTheChangeOnly)
{
    TFillOverlay& o = Add({1, 2, 3, 4});
    o.SetVisible(false);
    o.SetVisible(true);
    o.SetVisible(true);
    o.SetVisible(false);
    const std::vector<TReport> want{{&o, {1, 2, 3, 4}, {1, 2, 3, 4}, true}, {&o, {1, 2, 3, 4}, {1, 2, 3, 4}, false}};
    EXPECT_EQ(Changes, want);
}

TEST_F(OverlaysTest, WithoutHandlersOverlaysStillChange)
{
    TCorvOverlays bare;
    auto& o = bare.Add(std::make_unique<TFillOverlay>(TCorvRectangle{0, 0, 5, 5}, 0));
    o.Move(7, 8, false);
    o.SetVisible(true);
    EXPECT_EQ(o.GetBounds(), (TCorvRectangle{7, 8, 5, 5}));
    EXPECT_TRUE(o.Visible());
}

TEST_F(OverlaysTest, PaintsVisibleOverlaysInListOrderInsideTheClip)
{
    TFillOverlay& hidden = Add({0, 0, 40, 40}, 0xFF111111);
    TFillOverlay& lower = Add({0, 0, 20, 20}, 0xFF222222);
    TFillOverlay& upper = Add({10, 10, 20, 20}, 0xFF333333);
    TFillOverlay& edge = Add({30, 0, 10, 10}, 0xFF444444);
    TFillOverlay& outside = Add({100, 100, 10, 10}, 0xFF555555);
    for (TFillOverlay* o : {&lower, &upper, &edge, &outside})
        o->SetVisible(true);
    auto target = TCorvSurface::CreateFilled(40, 40, 0xFF000000);
    List.Paint(*target, {5, 5, 25, 25});
    EXPECT_TRUE(hidden.Clips.empty());
    EXPECT_EQ(lower.Clips, (std::vector<TCorvRectangle>{{5, 5, 15, 15}}));
    EXPECT_EQ(upper.Clips, (std::vector<TCorvRectangle>{{10, 10, 20, 20}}));
    // Touching the clip along an edge only, or not at all, asks for nothing.
    EXPECT_TRUE(edge.Clips.empty());
    EXPECT_TRUE(outside.Clips.empty());
    EXPECT_EQ(*target->GetPixelPtr(12, 12), 0xFF333333u);
    EXPECT_EQ(*target->GetPixelPtr(7, 7), 0xFF222222u);
    EXPECT_EQ(*target->GetPixelPtr(2, 2), 0xFF000000u);
}

} // namespace
