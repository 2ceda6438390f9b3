#include "fixtures.h"

#include "io/random.h"

#include <algorithm>
#include <functional>

using namespace RetargetingTest;

namespace {

// A scripted source: answers every draw with Pick(k) and records k.
struct TScript {
    explicit TScript(std::function<int32_t(int32_t)> pick) : Pick(std::move(pick)) {}
    std::function<int32_t(int32_t)> Pick;
    std::vector<int32_t> Draws;
    TRandomSource Source()
    {
        return [this](int32_t k) {
            Draws.push_back(k);
            return Pick(k);
        };
    }
};

void ExpectValidSeam(const TCorvPointArray& seam, int32_t w, int32_t h, bool vertical)
{
    const int32_t lines = vertical ? h : w;
    ASSERT_EQ(seam.size(), size_t(lines));
    for (int32_t i = 0; i < lines; ++i) {
        const TCorvPoint p = seam[size_t(i)];
        ASSERT_EQ(vertical ? p.Y : p.X, lines - 1 - i);
        ASSERT_GE(p.X, 0);
        ASSERT_GE(p.Y, 0);
        ASSERT_LT(p.X, w);
        ASSERT_LT(p.Y, h);
        if (i > 0) {
            const int32_t step = vertical ? p.X - seam[size_t(i - 1)].X : p.Y - seam[size_t(i - 1)].Y;
            ASSERT_LE(std::abs(step), 1);
        }
    }
}

// The least cost of any connected seam, by trying them all.
int64_t BruteForceLeast(const TCorvSurface& map, bool vertical)
{
    const int32_t lines = vertical ? map.Height() : map.Width();
    const int32_t count = vertical ? map.Width() : map.Height();
    auto cost = [&](int32_t l, int32_t i) {
        return SeamCost(vertical ? *map.GetPixelPtr(i, l) : *map.GetPixelPtr(l, i));
    };
    std::function<int64_t(int32_t, int32_t)> walk = [&](int32_t l, int32_t i) -> int64_t {
        if (l == lines)
            return 0;
        int64_t best = INT64_MAX;
        for (int32_t d = -1; d <= 1; ++d)
            if (i + d >= 0 && i + d < count)
                best = std::min(best, walk(l + 1, i + d));
        return cost(l, i) + best;
    };
    int64_t least = INT64_MAX;
    for (int32_t i = 0; i < count; ++i)
        least = std::min(least, walk(0, i));
    return least;
}

} // namespace

TEST(SeamSearch, FixtureSeamsFollowTheTieOrder)
{
    auto map = CalculateEnergy(*FixtureP());
    TCorvPointArray seam;
    FindVerticalSeam(*map, seam, NoDraw);
    EXPECT_EQ(seam, (TCorvPointArray{{2, 3}, {2, 2}, {1, 1}, {0, 0}}));
    EXPECT_EQ(SeamTotal(*map, seam), 102);
    FindHorizontalSeam(*map, seam, NoDraw);
    EXPECT_EQ(seam, (TCorvPointArray{{4, 1}, {3, 1}, {2, 0}, {1, 1}, {0, 1}}));
    EXPECT_EQ(SeamTotal(*map, seam), 141);
}

TEST(SeamSearch, WorkedThreeByThreeExample)
{
    auto map = CostMap(3, 3, {5, 1, 5, 0, 9, 0, 5, 5, 5});
    TCorvPointArray seam{{7, 7}};
    FindHorizontalSeam(*map, seam, NoDraw);
    EXPECT_EQ(seam, (TCorvPointArray{{2, 1}, {1, 0}, {0, 1}}));
}

TEST(SeamSearch, TiesInTheEndLineAreDrawn)
{
    // One energy everywhere: every seam is straight and its place is drawn,
    // one draw per further tie, with k counting the ties so far.
    auto map = CostMap(4, 3, std::vector<int32_t>(12, 9));
    struct TCase {
        bool Vertical;
        bool AlwaysZero;
        std::vector<int32_t> Draws;
        int32_t Place;
    };
    for (const TCase& c : {TCase{false, true, {2, 3}, 2}, TCase{false, false, {2, 3}, 0},
                           TCase{true, true, {2, 3, 4}, 3}, TCase{true, false, {2, 3, 4}, 0}}) {
        TScript script{c.AlwaysZero ? std::function<int32_t(int32_t)>([](int32_t) { return 0; })
                                    : [](int32_t k) { return k - 1; }};
        TCorvPointArray seam;
        if (c.Vertical)
            FindVerticalSeam(*map, seam, script.Source());
        else
            FindHorizontalSeam(*map, seam, script.Source());
        EXPECT_EQ(script.Draws, c.Draws);
        for (const TCorvPoint& p : seam)
            EXPECT_EQ(c.Vertical ? p.X : p.Y, c.Place);
    }
    // A tie later beaten by a lower cost still draws once.
    TScript script{[](int32_t) { return 0; }};
    TCorvPointArray seam;
    FindVerticalSeam(*CostMap(3, 1, {5, 5, 3}), seam, script.Source());
    EXPECT_EQ(script.Draws, std::vector<int32_t>{2});
    EXPECT_EQ(seam, (TCorvPointArray{{2, 0}}));
}

TEST(SeamSearch, TwoTiedEndsAreChosenEvenly)
{
    Corvanith::Utils::RandSeed(11);
    auto map = CostMap(3, 3, {1, 9, 1, 1, 9, 1, 1, 9, 1});
    int first = 0;
    TCorvPointArray seam;
    for (int i = 0; i < 2000; ++i) {
        FindVerticalSeam(*map, seam);
        first += seam[0].X == 0;
    }
    EXPECT_GT(first, 800);
    EXPECT_LT(first, 1200);
}

TEST(SeamSearch, FoundSeamIsALeastCostSeam)
{
    std::mt19937 rng(17);
    for (int round = 0; round < 200; ++round) {
        const int32_t w = 1 + int32_t(rng() % 5), h = 1 + int32_t(rng() % 4);
        std::vector<int32_t> costs;
        for (int32_t i = 0; i < w * h; ++i)
            costs.push_back(int32_t(rng() % (round % 2 ? 4 : 766)));
        auto map = CostMap(w, h, costs);
        for (bool vertical : {false, true}) {
            TCorvPointArray seam;
            if (vertical)
                FindVerticalSeam(*map, seam);
            else
                FindHorizontalSeam(*map, seam);
            ExpectValidSeam(seam, w, h, vertical);
            EXPECT_EQ(SeamTotal(*map, seam), BruteForceLeast(*map, vertical)) << w << "x" << h;
        }
    }
}

TEST(SeamSearch, SameSeamsAndDrawsAsTheFullTable)
{
    ForEachInstructionSet([] {
        // Sizes across the eight-lane steps and their remainders, 1-long and
        // 1-wide maps; few cost levels for ties everywhere, the full range too.
        std::mt19937 rng(23);
        const std::vector<std::pair<int32_t, int32_t>> sizes{{1, 1},  {1, 9},  {9, 1},  {2, 2},  {8, 8},  {9, 7},
                                                             {16, 3}, {17, 5}, {3, 17}, {31, 9}, {64, 4}, {5, 70}};
        for (auto [w, h] : sizes)
            for (int levels : {1, 2, 3, 766}) {
                std::vector<int32_t> costs;
                for (int32_t i = 0; i < w * h; ++i)
                    costs.push_back(int32_t(rng() % uint32_t(levels)));
                auto map = CostMap(w, h, costs);
                for (bool vertical : {false, true}) {
                    const uint32_t seed = rng();
                    std::mt19937 drawsA(seed), drawsB(seed);
                    TScript a{[&](int32_t k) { return int32_t(drawsA() % uint32_t(k)); }};
                    TScript b{[&](int32_t k) { return int32_t(drawsB() % uint32_t(k)); }};
                    TCorvPointArray seam;
                    if (vertical)
                        FindVerticalSeam(*map, seam, a.Source());
                    else
                        FindHorizontalSeam(*map, seam, a.Source());
                    EXPECT_EQ(seam, ReferenceSeam(*map, vertical, b.Source())) << w << "x" << h << " " << levels;
                    EXPECT_EQ(a.Draws, b.Draws);
                }
            }
        // Whole pictures' maps, as the resizer searches them.
        for (auto [w, h] : std::vector<std::pair<int32_t, int32_t>>{{40, 30}, {33, 47}}) {
            auto map = CalculateEnergy(*RandomSurface(w, h, rng, 4));
            for (bool vertical : {false, true}) {
                TScript a{[](int32_t k) { return k / 2; }}, b{[](int32_t k) { return k / 2; }};
                TCorvPointArray seam;
                if (vertical)
                    FindVerticalSeam(*map, seam, a.Source());
                else
                    FindHorizontalSeam(*map, seam, a.Source());
                EXPECT_EQ(seam, ReferenceSeam(*map, vertical, b.Source()));
                EXPECT_EQ(a.Draws, b.Draws);
            }
        }
    });
}

TEST(SeamSearch, EmptyMapGivesEmptySeam)
{
    TCorvPointArray seam{{1, 1}};
    FindVerticalSeam(*TCorvSurface::Create(0, 3), seam, NoDraw);
    EXPECT_TRUE(seam.empty());
    seam = {{1, 1}};
    FindHorizontalSeam(*TCorvSurface::Create(3, 0), seam, NoDraw);
    EXPECT_TRUE(seam.empty());
}

TEST(SeamSearch, SeamsLongerThanTheOldSentinelStayInside)
{
    // 765 per pixel along 1 500 000 columns passes 2^30 - 1: the edge rows
    // must still never be taken for a cheaper predecessor. A cheap detour in
    // the middle makes the seam change rows once there and once back.
    const int32_t w = 1500000;
    std::vector<int32_t> costs(size_t(w) * 2, 765);
    for (int32_t x = 700000; x < 700010; ++x)
        costs[size_t(w) + size_t(x)] = 0;
    auto map = CostMap(w, 2, costs);
    TCorvPointArray seam;
    FindHorizontalSeam(*map, seam, [](int32_t) { return 0; });
    ExpectValidSeam(seam, w, 2, false);
    EXPECT_EQ(SeamTotal(*map, seam), int64_t(765) * (w - 10));
    EXPECT_EQ(seam, ReferenceSeam(*map, false, [](int32_t) { return 0; }));
}

TEST(SeamSearch, PathCostsBeyondThirtyTwoBits)
{
    // 3 000 000 rows of 765: path costs above INT32_MAX take the wide table.
    const int32_t h = 3000000;
    auto map = TCorvSurface::CreateFilled(2, h, MaximumEnergy);
    *map->GetPixelPtr(1, h - 1) = CostPixel(0);
    *map->GetPixelPtr(0, 5) = CostPixel(0);
    TCorvPointArray seam;
    FindVerticalSeam(*map, seam, NoDraw);
    ExpectValidSeam(seam, 2, h, true);
    EXPECT_EQ(SeamTotal(*map, seam), int64_t(765) * (h - 2));
    EXPECT_EQ(seam, ReferenceSeam(*map, true, NoDraw));

    // The same map across, for the column-wise search.
    auto across = TCorvSurface::CreateFilled(h, 2, MaximumEnergy);
    *across->GetPixelPtr(h - 1, 1) = CostPixel(0);
    *across->GetPixelPtr(5, 0) = CostPixel(0);
    FindHorizontalSeam(*across, seam, NoDraw);
    ExpectValidSeam(seam, h, 2, false);
    EXPECT_EQ(SeamTotal(*across, seam), int64_t(765) * (h - 2));
    EXPECT_EQ(seam, ReferenceSeam(*across, false, NoDraw));
}

TEST(SeamSearch, KeptSearchServesMapsOfAnySize)
{
    // One search through growing and shrinking maps, told of no seam: each
    // search runs in full, and nothing one leaves in the table reaches the next.
    std::mt19937 rng(29);
    TSeamSearch search;
    for (auto [w, h] : std::vector<std::pair<int32_t, int32_t>>{{30, 20}, {9, 40}, {31, 21}, {2, 2}, {50, 3}}) {
        auto map = CalculateEnergy(*RandomSurface(w, h, rng));
        for (bool vertical : {false, true}) {
            TCorvPointArray seam;
            search.Find(*map, vertical, seam, [](int32_t) { return 0; });
            EXPECT_EQ(seam, ReferenceSeam(*map, vertical, [](int32_t) { return 0; })) << w << "x" << h;
        }
    }
}
