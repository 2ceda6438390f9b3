#include "fixtures.h"

#include <cstdlib>

using namespace RetargetingTest;

namespace {

std::vector<int> Channel(const TCorvSurface& s, int shift)
{
    std::vector<int> c;
    for (TCorvColor p : Pixels(s))
        c.push_back(int((p >> shift) & 0xFF));
    return c;
}

// The rule straight from its words: per channel, the sum of absolute
// differences to the neighbours inside the picture over their count.
TCorvColor PlainEnergy(const TCorvSurface& s, int32_t x, int32_t y)
{
    const int dx[] = {-1, 0, 1, 0}, dy[] = {0, -1, 0, 1};
    TCorvColor e = 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8) {
        int sum = 0, n = 0;
        for (int k = 0; k < 4; ++k) {
            const int32_t nx = x + dx[k], ny = y + dy[k];
            if (nx < 0 || ny < 0 || nx >= s.Width() || ny >= s.Height())
                continue;
            sum += std::abs(int((*s.GetPixelPtr(nx, ny) >> shift) & 0xFF) - int((*s.GetPixelPtr(x, y) >> shift) & 0xFF));
            ++n;
        }
        if (n > 0)
            e |= TCorvColor(sum / n) << shift;
    }
    return e;
}

} // namespace

TEST(Energy, FixtureMapByHand)
{
    auto p = FixtureP();
    auto e = CalculateEnergy(*p);
    ASSERT_EQ(e->Width(), 5);
    ASSERT_EQ(e->Height(), 4);
    EXPECT_EQ(Channel(*e, 0), (std::vector<int>{30, 40, 30, 40, 30, 30, 22, 37, 22, 10, 50, 30, 30, 30, 30, 45, 40,
                                                20, 60, 75}));
    EXPECT_EQ(Channel(*e, 8), (std::vector<int>{0, 0, 0, 0, 15, 0, 0, 0, 7, 20, 0, 0, 0, 7, 10, 0, 0, 0, 10, 15}));
    EXPECT_EQ(Channel(*e, 16), std::vector<int>(20, 0));
    EXPECT_EQ(Channel(*e, 24), std::vector<int>(20, 255));
    EXPECT_EQ(Costs(*e), (std::vector<int32_t>{30, 40, 30, 40, 45, 30, 22, 37, 29, 30, 50, 30, 30, 37, 40, 45, 40,
                                               20, 70, 90}));
}

TEST(Energy, SmallRuleChecks)
{
    // Every pixel of a 2 x 2 picture is a corner: half of two differences, rounded down.
    auto corners = MakeSurface(2, 2, {Px(0, 0, 0, 255), Px(10, 0, 0, 255), Px(20, 0, 0, 255), Px(35, 0, 0, 255)});
    EXPECT_EQ(Channel(*CalculateEnergy(*corners), 0), (std::vector<int>{15, 17, 17, 20}));

    // Channels are divided one by one: differences 1, 1, 0 in blue and green
    // give 0, where dividing their sum would give 1.
    auto perChannel = MakeSurface(3, 2, {Px(10, 10, 0, 255), Px(11, 11, 0, 255), Px(10, 10, 0, 255),
                                         Px(11, 11, 0, 255), Px(11, 11, 0, 255), Px(11, 11, 0, 255)});
    EXPECT_EQ(*CalculateEnergy(*perChannel)->GetPixelPtr(1, 0), Px(0, 0, 0, 255));

    // One colour gives no energy whatever the alpha; full differences give 255.
    auto uniform = MakeSurface(3, 3, std::vector<TCorvColor>(9, Px(7, 8, 9, 3)));
    EXPECT_EQ(Pixels(*CalculateEnergy(*uniform)), std::vector<TCorvColor>(9, 0xFF000000u));
    std::vector<TCorvColor> star(9, Px(255, 255, 255, 255));
    star[4] = Px(0, 0, 0, 0);
    EXPECT_EQ(*CalculateEnergy(*MakeSurface(3, 3, star))->GetPixelPtr(1, 1), 0xFFFFFFFFu);
}

TEST(Energy, MatchesThePlainRuleOnEverySize)
{
    ForEachInstructionSet([] {
        // Sizes around the four-pixel steps of the row loop, and the 1-pixel sides.
        std::mt19937 rng(3);
        for (auto [w, h] : std::vector<std::pair<int, int>>{
                 {1, 1}, {1, 2}, {2, 1}, {1, 7}, {7, 1}, {2, 2}, {3, 3}, {5, 4}, {6, 5}, {7, 3}, {9, 9}, {23, 6}}) {
            auto s = RandomSurface(w, h, rng);
            auto e = CalculateEnergy(*s);
            ASSERT_EQ(e->Width(), w);
            ASSERT_EQ(e->Height(), h);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    ASSERT_EQ(*e->GetPixelPtr(x, y), PlainEnergy(*s, x, y)) << w << "x" << h << " at " << x << "," << y;
        }
    });
}

TEST(Energy, OnePixelSidesUseTheNeighboursThatExist)
{
    EXPECT_EQ(Pixels(*CalculateEnergy(*MakeSurface(1, 1, {Px(9, 9, 9, 9)}))), std::vector<TCorvColor>{0xFF000000u});
    // A column: one neighbour at the ends, two between.
    auto column = MakeSurface(1, 3, {Px(0, 0, 0, 255), Px(10, 0, 0, 255), Px(40, 0, 0, 255)});
    EXPECT_EQ(Channel(*CalculateEnergy(*column), 0), (std::vector<int>{10, 20, 30}));
    auto row = MakeSurface(3, 1, {Px(0, 0, 0, 255), Px(0, 10, 0, 255), Px(0, 40, 0, 255)});
    EXPECT_EQ(Channel(*CalculateEnergy(*row), 8), (std::vector<int>{10, 20, 30}));
}

TEST(Energy, UpdateAtEveryPositionClass)
{
    // Every pixel of pictures with corners, edges and inside, and of the
    // 1-pixel sides where those merge: the update writes that pixel alone,
    // with the plain rule's energy from the picture, over whatever the map
    // held there. Full differences as well as random ones.
    std::mt19937 rng(5);
    constexpr TCorvColor Stale = 0x12345678u;
    for (auto [w, h] : std::vector<std::pair<int32_t, int32_t>>{{4, 3}, {3, 4}, {2, 2}, {2, 3}, {1, 3}, {3, 1}, {1, 1}})
        for (const int levels : {2, 256}) {
            auto s = RandomSurface(w, h, rng, levels);
            auto e = TCorvSurface::CreateFilled(w, h, Stale);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    std::vector<TCorvColor> expected(size_t(w) * size_t(h), Stale);
                    expected[size_t(y) * size_t(w) + size_t(x)] = PlainEnergy(*s, x, y);
                    UpdateEnergyAt(*e, x, y, *s);
                    EXPECT_EQ(Pixels(*e), expected) << w << "x" << h << " at " << x << "," << y;
                    *e->GetPixelPtr(x, y) = Stale;
                }
            // Outside: nothing changes, not even a neighbouring pixel.
            for (auto [x, y] : std::vector<std::pair<int32_t, int32_t>>{{w, 0}, {-1, 0}, {0, h}, {0, -1}, {w, h}})
                UpdateEnergyAt(*e, x, y, *s);
            EXPECT_EQ(Pixels(*e), std::vector<TCorvColor>(size_t(w) * size_t(h), Stale)) << w << "x" << h;
        }
}

namespace {

std::vector<std::pair<int, int>> Differences(const TCorvSurface& a, const TCorvSurface& b)
{
    std::vector<std::pair<int, int>> d;
    for (int32_t y = 0; y < a.Height(); ++y)
        for (int32_t x = 0; x < a.Width(); ++x)
            if (*a.GetPixelPtr(x, y) != *b.GetPixelPtr(x, y))
                d.emplace_back(x, y);
    return d;
}

} // namespace

TEST(Energy, VerticalRemovalRecomputesTwoPixelsPerRow)
{
    auto p = FixtureP();
    auto e = CalculateEnergy(*p);
    const TCorvPointArray seam{{2, 3}, {2, 2}, {1, 1}, {0, 0}};
    p->RemoveVerticalSeam(seam);
    RemoveVerticalSeamFromEnergy(*e, *p, seam);
    EXPECT_EQ(Pixels(*e), BlueGreen({{45, 0}, {30, 0}, {40, 0}, {30, 15}, {30, 0}, {37, 0}, {22, 7}, {10, 20},
                                     {50, 0}, {30, 0}, {22, 7}, {30, 10}, {45, 0}, {40, 0}, {50, 10}, {75, 15}}));
    // The pixels left of the seam keep their former energy.
    auto fresh = CalculateEnergy(*p);
    EXPECT_EQ(Differences(*e, *fresh), (std::vector<std::pair<int, int>>{{0, 1}, {1, 3}}));
    EXPECT_EQ(*fresh->GetPixelPtr(0, 1), Px(60, 0, 0, 255));
    EXPECT_EQ(*fresh->GetPixelPtr(1, 3), Px(30, 0, 0, 255));
}

TEST(Energy, HorizontalRemovalRecomputesTwoPixelsPerColumn)
{
    auto p = FixtureP();
    auto e = CalculateEnergy(*p);
    const TCorvPointArray seam{{4, 1}, {3, 1}, {2, 0}, {1, 1}, {0, 1}};
    p->RemoveHorizontalSeam(seam);
    RemoveHorizontalSeamFromEnergy(*e, *p, seam);
    EXPECT_EQ(Pixels(*e), BlueGreen({{30, 0}, {40, 0}, {20, 0}, {40, 0}, {30, 15}, {50, 0}, {37, 0}, {30, 0},
                                     {37, 7}, {30, 20}, {45, 0}, {40, 0}, {20, 0}, {60, 10}, {75, 15}}));
    EXPECT_EQ(Differences(*e, *CalculateEnergy(*p)), (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}, {3, 0}}));
}

TEST(Energy, SeamOnTheLastLineRecomputesNothing)
{
    std::mt19937 rng(8);
    auto p = RandomSurface(3, 3, rng);
    auto e = CalculateEnergy(*p);
    *e->GetPixelPtr(1, 1) = 0x12345678u;
    const TCorvPointArray seam{{2, 2}, {1, 2}, {0, 2}};
    p->RemoveHorizontalSeam(seam);
    RemoveHorizontalSeamFromEnergy(*e, *p, seam);
    EXPECT_EQ(*e->GetPixelPtr(1, 1), 0x12345678u);
    // Column 2 of a vertical removal on the last column: likewise nothing.
    auto q = RandomSurface(3, 2, rng);
    auto f = CalculateEnergy(*q);
    const auto before = Pixels(*f);
    const TCorvPointArray lastColumn{{2, 1}, {2, 0}};
    q->RemoveVerticalSeam(lastColumn);
    RemoveVerticalSeamFromEnergy(*f, *q, lastColumn);
    EXPECT_EQ(Pixels(*f), (std::vector<TCorvColor>{before[0], before[1], before[3], before[4]}));
}

TEST(Energy, MaskThresholdIsTheBlueByteAbove200)
{
    auto e = CostMap(4, 1, {1, 2, 3, 4});
    auto mask = MakeSurface(4, 1, {Px(200, 255, 255, 255), Px(201, 0, 0, 0), Px(255, 0, 0, 0), Px(0, 255, 255, 255)});
    ApplyMask(*e, *mask);
    EXPECT_EQ(Pixels(*e), (std::vector<TCorvColor>{CostPixel(1), 0xFFFFFFFFu, 0xFFFFFFFFu, CostPixel(4)}));
    EXPECT_EQ(SeamCost(MaximumEnergy), 765);

    // An empty mask changes nothing; an erased stroke does not lower the map.
    auto zero = TCorvSurface::CreateFilled(4, 1, 0);
    ApplyMask(*e, *zero);
    EXPECT_EQ(Pixels(*e), (std::vector<TCorvColor>{CostPixel(1), 0xFFFFFFFFu, 0xFFFFFFFFu, CostPixel(4)}));
}

TEST(Energy, MaskAlongSeamMarksOnlyTheRecomputedPixels)
{
    // A fully painted mask: exactly the pixels at and after each seam point
    // that lie inside get maximum energy.
    auto map = CostMap(3, 3, std::vector<int32_t>(9, 5));
    auto mask = TCorvSurface::CreateFilled(3, 3, 0xAF4A5AF7u);
    ApplyMaskAlongHorizontalSeam(*map, *mask, {{2, 2}, {1, 1}, {0, 0}});
    EXPECT_EQ(Costs(*map), (std::vector<int32_t>{765, 5, 5, 765, 765, 5, 5, 765, 765}));

    auto vmap = CostMap(3, 2, std::vector<int32_t>(6, 5));
    auto vmask = TCorvSurface::CreateFilled(3, 2, 0xAF4A5AF7u);
    *vmask->GetPixelPtr(1, 0) = 0;
    ApplyMaskAlongVerticalSeam(*vmap, *vmask, {{2, 1}, {0, 0}});
    EXPECT_EQ(Costs(*vmap), (std::vector<int32_t>{765, 5, 5, 5, 5, 765}));
}
