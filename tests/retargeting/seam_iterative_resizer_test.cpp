#include "datalimit.h"
#include "fixtures.h"

#include "graphics/errors.h"
#include "graphics/rectangle.h"
#include "io/random.h"
#include "retargeting/seam_insertion.h"
#include "retargeting/seam_iterative_resizer.h"

#include <array>
#include <functional>
#include <string>

#include <malloc.h>

using namespace RetargetingTest;
using Corvanith::EArgumentError;
using Corvanith::EOutOfMemory;

namespace {

constexpr TCorvColor Core = MaskCorePaint;

std::vector<TCorvColor> Bgra(const std::vector<std::array<int, 4>>& bgra)
{
    std::vector<TCorvColor> p;
    for (auto [b, g, r, a] : bgra)
        p.push_back(Px(b, g, r, a));
    return p;
}

std::unique_ptr<TCorvSurface> Copy(const TCorvSurface& s) { return MakeSurface(s.Width(), s.Height(), Pixels(s)); }

// A mask over the 5 x 4 fixture with core paint in column 2.
std::unique_ptr<TCorvSurface> ColumnTwoMask()
{
    auto mask = TCorvSurface::CreateFilled(5, 4, 0);
    for (int32_t y = 0; y < 4; ++y)
        *mask->GetPixelPtr(2, y) = Core;
    return mask;
}

// Everything a resizer holds, to compare two of them or one before and after.
struct TState {
    std::vector<TCorvColor> Picture, Vertical, Horizontal, Mask;
    int32_t Width, Height, VerticalBlocked, HorizontalBlocked;
    bool HasVertical, HasHorizontal;
    friend bool operator==(const TState&, const TState&) = default;
};

TState StateOf(const TCorvSeamIterativeResizer& r)
{
    return {Pixels(r.Surface()),
            r.VerticalEnergy() ? Pixels(*r.VerticalEnergy()) : std::vector<TCorvColor>{},
            r.HorizontalEnergy() ? Pixels(*r.HorizontalEnergy()) : std::vector<TCorvColor>{},
            r.Mask() ? Pixels(*r.Mask()) : std::vector<TCorvColor>{},
            r.Surface().Width(),
            r.Surface().Height(),
            r.VerticalBlocked(),
            r.HorizontalBlocked(),
            r.VerticalEnergy() != nullptr,
            r.HorizontalEnergy() != nullptr};
}

} // namespace

TEST(SeamResizer, RemovesVerticalSeamsWithTheLocalUpdate)
{
    auto p = FixtureP();
    TCorvSeamIterativeResizer r(*p);
    EXPECT_EQ(r.VerticalEnergy(), nullptr);
    r.RemoveVerticalSeams(1);
    EXPECT_EQ(Pixels(*p), Bgra({{0, 0, 0, 0},    {30, 0, 0, 255}, {0, 0, 0, 128},  {60, 0, 0, 255},
                                {60, 0, 0, 255}, {0, 0, 0, 255},  {30, 0, 0, 255},  {60, 30, 0, 255},
                                {0, 0, 0, 255},  {30, 0, 0, 255}, {30, 0, 0, 255},  {60, 30, 0, 255},
                                {60, 0, 0, 7},   {90, 0, 0, 255}, {90, 0, 0, 255},  {0, 30, 0, 255}}));
    ASSERT_NE(r.VerticalEnergy(), nullptr);
    EXPECT_EQ(Pixels(*r.VerticalEnergy()),
              BlueGreen({{45, 0}, {30, 0}, {40, 0}, {30, 15}, {30, 0}, {37, 0}, {22, 7}, {10, 20}, {50, 0}, {30, 0},
                         {22, 7}, {30, 10}, {45, 0}, {40, 0}, {50, 10}, {75, 15}}));
    EXPECT_EQ(r.HorizontalEnergy(), nullptr);

    // The second step searches the kept map, stale pixels and all.
    r.RemoveVerticalSeams(1);
    EXPECT_EQ(Pixels(*p), Bgra({{0, 0, 0, 0}, {0, 0, 0, 128}, {60, 0, 0, 255}, {60, 0, 0, 255}, {0, 0, 0, 255},
                                {60, 30, 0, 255}, {0, 0, 0, 255}, {30, 0, 0, 255}, {60, 30, 0, 255}, {60, 0, 0, 7},
                                {90, 0, 0, 255}, {0, 30, 0, 255}}));

    auto q = FixtureP();
    TCorvSeamIterativeResizer once(*q);
    once.RemoveVerticalSeams(2);
    EXPECT_EQ(StateOf(once), StateOf(r));
}

TEST(SeamResizer, RemovesHorizontalSeamsAndCarriesTheOtherMap)
{
    auto p = FixtureP();
    TCorvSeamIterativeResizer r(*p);
    r.RemoveHorizontalSeams(1);
    EXPECT_EQ(Pixels(*p), Bgra({{60, 0, 0, 255}, {0, 0, 0, 0},    {0, 0, 0, 255},  {0, 0, 0, 128},  {60, 0, 0, 255},
                                {0, 0, 0, 255},  {30, 0, 0, 255}, {60, 0, 0, 255}, {30, 0, 0, 255}, {60, 30, 0, 255},
                                {60, 0, 0, 7},   {90, 0, 0, 255}, {60, 0, 0, 255}, {90, 0, 0, 255}, {0, 30, 0, 255}}));
    EXPECT_EQ(Pixels(*r.HorizontalEnergy()),
              BlueGreen({{30, 0}, {40, 0}, {20, 0}, {40, 0}, {30, 15}, {50, 0}, {37, 0}, {30, 0}, {37, 7}, {30, 20},
                         {45, 0}, {40, 0}, {20, 0}, {60, 10}, {75, 15}}));

    // With a vertical map present, a horizontal removal takes the seam out of
    // it and recomputes nothing there.
    auto q = FixtureP();
    TCorvSeamIterativeResizer both(*q);
    both.RemoveVerticalSeams(1);
    auto expectedPicture = Copy(*q);
    expectedPicture->RemoveHorizontalSeam({{3, 1}, {2, 1}, {1, 0}, {0, 0}});
    both.RemoveHorizontalSeams(1);
    EXPECT_EQ(Pixels(*q), Pixels(*expectedPicture));
    EXPECT_EQ(Costs(*both.VerticalEnergy()), (std::vector<int32_t>{30, 37, 40, 45, 50, 30, 29, 40, 45, 40, 60, 90}));
    EXPECT_EQ(both.VerticalBlocked(), 0);
}

TEST(SeamResizer, InsertsVerticalSeamsAndBlocksThem)
{
    auto p = FixtureP();
    TCorvSeamIterativeResizer r(*p);
    r.InsertVerticalSeams(1, 0.33);
    EXPECT_EQ(Pixels(*p),
              Bgra({{60, 0, 0, 255}, {30, 0, 0, 127}, {0, 0, 0, 0},    {30, 0, 0, 255}, {0, 0, 0, 128},  {60, 0, 0, 255},
                    {60, 0, 0, 255}, {30, 0, 0, 255}, {15, 0, 0, 255}, {0, 0, 0, 255},  {30, 0, 0, 255}, {60, 30, 0, 255},
                    {0, 0, 0, 255},  {30, 0, 0, 255}, {60, 0, 0, 255}, {45, 0, 0, 255}, {30, 0, 0, 255}, {60, 30, 0, 255},
                    {60, 0, 0, 7},   {90, 0, 0, 255}, {60, 0, 0, 255}, {75, 0, 0, 255}, {90, 0, 0, 255}, {0, 30, 0, 255}}));
    EXPECT_EQ(Costs(*r.VerticalEnergy()), (std::vector<int32_t>{765, 765, 765, 30, 40, 45, 30, 765, 765, 765, 29, 30,
                                                                50, 30, 765, 765, 765, 40, 45, 40, 765, 765, 765, 90}));
    EXPECT_EQ(r.VerticalBlocked(), 3);
    // 3 / 6 is above 0.33: the next insertion starts from a fresh map.
    auto before = Copy(*p);
    r.InsertVerticalSeams(1, 0.33);
    EXPECT_EQ(r.VerticalBlocked(), 3);
    TCorvPointArray seam;
    Corvanith::Utils::RandSeed(1);
    auto fresh = CalculateEnergy(*before);
    FindVerticalSeam(*fresh, seam, NoDraw);
    before->InsertVerticalSeam(seam);
    BlendVerticalSeam(*before, seam);
    EXPECT_EQ(Pixels(*p), Pixels(*before));
}

TEST(SeamResizer, InsertsHorizontalSeamsAndBlocksThem)
{
    auto p = FixtureP();
    TCorvSeamIterativeResizer r(*p);
    r.InsertHorizontalSeams(1, 0.33);
    EXPECT_EQ(Pixels(*p), Bgra({{60, 0, 0, 255}, {0, 0, 0, 0},    {30, 0, 0, 255}, {0, 0, 0, 128},  {60, 0, 0, 255},
                                {60, 0, 0, 255}, {30, 0, 0, 255}, {15, 0, 0, 255}, {30, 0, 0, 255}, {60, 30, 0, 255},
                                {30, 0, 0, 255}, {30, 0, 0, 255}, {0, 0, 0, 255},  {30, 0, 0, 255}, {60, 30, 0, 255},
                                {0, 0, 0, 255},  {30, 0, 0, 255}, {60, 0, 0, 255}, {30, 0, 0, 255}, {60, 30, 0, 255},
                                {60, 0, 0, 7},   {90, 0, 0, 255}, {60, 0, 0, 255}, {90, 0, 0, 255}, {0, 30, 0, 255}}));
    EXPECT_EQ(Costs(*r.HorizontalEnergy()),
              (std::vector<int32_t>{30,  40,  765, 40,  45,  765, 765, 765, 765, 765, 765, 765, 765,
                                    765, 765, 765, 765, 30,  765, 765, 45,  40,  20,  70,  90}));
    EXPECT_EQ(r.HorizontalBlocked(), 3);

    // A seam on the last row: the new last row copies it, and both shifted
    // blocked copies fall on that row.
    std::vector<TCorvColor> rows;
    for (int b : {0, 200, 0, 200, 0, 200, 50, 50, 50})
        rows.push_back(Px(b, 0, 0, 255));
    auto s = MakeSurface(3, 3, rows);
    TCorvSeamIterativeResizer last(*s);
    last.InsertHorizontalSeams(1, 0.33);
    EXPECT_EQ(Pixels(*s), (std::vector<TCorvColor>{rows[0], rows[1], rows[2], rows[3], rows[4], rows[5], rows[6],
                                                   rows[7], rows[8], rows[6], rows[7], rows[8]}));
    EXPECT_EQ(Costs(*last.HorizontalEnergy()),
              (std::vector<int32_t>{200, 200, 200, 183, 162, 183, 765, 765, 765, 765, 765, 765}));
    EXPECT_EQ(last.HorizontalBlocked(), 3);
}

TEST(SeamResizer, BlendRules)
{
    // Byte by byte, rounded down, alpha too.
    auto s = MakeSurface(4, 1, {Px(10, 20, 30, 255), 0, Px(11, 21, 31, 0), Px(1, 1, 1, 1)});
    BlendVerticalSeam(*s, {{0, 0}});
    EXPECT_EQ(*s->GetPixelPtr(1, 0), Px(10, 20, 30, 127));

    // The pixel after the new one takes part only while it is not on the last
    // line: seam points on every row of a column grown to 5 rows, and on every
    // column of a row grown to 5.
    struct TCase {
        int32_t At;
        int Expected;
    };
    const std::vector<int> line{10, 20, 30, 50, 90};
    for (const TCase& c : {TCase{0, 20}, TCase{1, 35}, TCase{2, 30}, TCase{3, 50}}) {
        std::vector<TCorvColor> pixels;
        for (int b : line)
            pixels.push_back(Px(b, 0, 0, 255));
        auto column = MakeSurface(1, 5, pixels);
        BlendHorizontalSeam(*column, {{0, c.At}});
        EXPECT_EQ(*column->GetPixelPtr(0, c.At + 1), Px(c.Expected, 0, 0, 255)) << c.At;
        auto row = MakeSurface(5, 1, pixels);
        BlendVerticalSeam(*row, {{c.At, 0}});
        EXPECT_EQ(*row->GetPixelPtr(c.At + 1, 0), Px(c.Expected, 0, 0, 255)) << c.At;
    }
}

TEST(SeamResizer, OffsetSeamsAreLimited)
{
    const TCorvPointArray seam{{2, 0}, {1, 1}, {0, 2}};
    EXPECT_EQ(OffsetSeamY(seam, 1, 2), (TCorvPointArray{{2, 1}, {1, 2}, {0, 2}}));
    EXPECT_EQ(OffsetSeamY(seam, -1, 2), (TCorvPointArray{{2, 0}, {1, 0}, {0, 1}}));
    EXPECT_EQ(OffsetSeamX(seam, 1, 2), (TCorvPointArray{{2, 0}, {2, 1}, {1, 2}}));
    EXPECT_EQ(seam, (TCorvPointArray{{2, 0}, {1, 1}, {0, 2}}));
}

TEST(SeamResizer, MaskIsCarvedWithThePicture)
{
    auto p = FixtureP();
    auto mask = ColumnTwoMask();
    TCorvSeamIterativeResizer r(*p);
    r.SetMask(mask.get());
    r.RemoveVerticalSeams(1);
    ASSERT_EQ(mask->Width(), 4);
    ASSERT_EQ(mask->Height(), 4);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x)
            EXPECT_EQ(*mask->GetPixelPtr(x, y), x == 1 ? Core : 0u) << x << "," << y;
    EXPECT_EQ(Costs(*r.VerticalEnergy()),
              (std::vector<int32_t>{45, 765, 40, 45, 30, 765, 29, 30, 50, 765, 37, 40, 45, 765, 70, 90}));

    // Growing blends the mask: painted next to unpainted is no longer kept.
    auto q = FixtureP();
    auto grown = ColumnTwoMask();
    TCorvSeamIterativeResizer g(*q);
    g.SetMask(grown.get());
    g.InsertVerticalSeams(1, 0.33);
    ASSERT_EQ(grown->Width(), 6);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 6; ++x) {
            const TCorvColor expected = x == 3 ? Core : (x == 2 && y > 0 ? 0x57252D7Bu : 0u);
            EXPECT_EQ(*grown->GetPixelPtr(x, y), expected) << x << "," << y;
        }
    EXPECT_FALSE(IsPreserved(0x57252D7Bu));
}

TEST(SeamResizer, MapLifecycle)
{
    std::mt19937 rng(31);
    // First removal computes, the next call keeps the map with its stale pixels.
    {
        auto p = FixtureP();
        TCorvSeamIterativeResizer r(*p);
        r.RemoveVerticalSeams(1);
        const auto kept = Pixels(*r.VerticalEnergy());
        r.RemoveVerticalSeams(0);
        EXPECT_EQ(Pixels(*r.VerticalEnergy()), kept);
        EXPECT_NE(kept, Pixels(*CalculateEnergy(*p)));
    }
    // Insert, then remove: the blocked map is discarded and computed afresh,
    // with the mask; Count 0 does the same and leaves the picture.
    for (int32_t count : {0, 1}) {
        auto p = RandomSurface(9, 7, rng);
        auto mask = TCorvSurface::CreateFilled(9, 7, 0);
        *mask->GetPixelPtr(4, 3) = Core;
        TCorvSeamIterativeResizer r(*p);
        r.SetMask(mask.get());
        r.InsertVerticalSeams(2, 1.0);
        EXPECT_EQ(r.VerticalBlocked(), 6);
        const auto picture = Pixels(*p);
        r.RemoveVerticalSeams(count);
        EXPECT_EQ(r.VerticalBlocked(), 0);
        if (count == 0) {
            EXPECT_EQ(Pixels(*p), picture);
            auto expected = CalculateEnergy(*p);
            ApplyMask(*expected, *mask);
            EXPECT_EQ(Pixels(*r.VerticalEnergy()), Pixels(*expected));
        } else {
            EXPECT_EQ(p->Width(), 10);
        }
    }
    // Count 0 computes a missing map and changes no pixel.
    {
        auto p = RandomSurface(6, 5, rng);
        const auto picture = Pixels(*p);
        TCorvSeamIterativeResizer r(*p);
        r.InsertHorizontalSeams(0, 0.33);
        ASSERT_NE(r.HorizontalEnergy(), nullptr);
        EXPECT_EQ(Pixels(*r.HorizontalEnergy()), Pixels(*CalculateEnergy(*p)));
        EXPECT_EQ(r.VerticalEnergy(), nullptr);
        EXPECT_EQ(Pixels(*p), picture);
    }
    // SetMask on an existing map changes none of its values.
    {
        auto p = RandomSurface(6, 5, rng);
        TCorvSeamIterativeResizer r(*p);
        r.RemoveHorizontalSeams(0);
        const auto map = Pixels(*r.HorizontalEnergy());
        auto mask = TCorvSurface::CreateFilled(6, 5, Core);
        r.SetMask(mask.get());
        r.RemoveHorizontalSeams(0);
        EXPECT_EQ(Pixels(*r.HorizontalEnergy()), map);
    }
    // A horizontal insertion grows the vertical map with blended pixels and
    // leaves its counter.
    {
        auto p = RandomSurface(8, 6, rng);
        TCorvSeamIterativeResizer r(*p);
        r.InsertVerticalSeams(1, 1.0);
        auto expectedMap = Copy(*r.VerticalEnergy());
        TCorvPointArray seam;
        Corvanith::Utils::RandSeed(5);
        FindHorizontalSeam(*CalculateEnergy(*p), seam);
        expectedMap->InsertHorizontalSeam(seam);
        BlendHorizontalSeam(*expectedMap, seam);
        Corvanith::Utils::RandSeed(5);
        r.InsertHorizontalSeams(1, 1.0);
        EXPECT_EQ(Pixels(*r.VerticalEnergy()), Pixels(*expectedMap));
        EXPECT_EQ(r.VerticalBlocked(), 3);
        EXPECT_EQ(r.HorizontalBlocked(), 3);
    }
}

TEST(SeamResizer, ReuseFiresWhenTheBlockedShareIsExceeded)
{
    // Steps before which a new map is computed, growing 100 lines one at a time.
    struct TCase {
        double Reuse;
        std::vector<int32_t> Recomputed;
    };
    std::mt19937 rng(41);
    for (const TCase& c : {TCase{0.33, {14, 28, 44}}, TCase{0.5, {22, 47}}, TCase{1.0, {52}}})
        for (bool horizontal : {false, true}) {
            auto p = horizontal ? RandomSurface(3, 100, rng) : RandomSurface(100, 3, rng);
            TCorvSeamIterativeResizer r(*p);
            std::vector<int32_t> recomputed;
            for (int32_t step = 1; step <= 55; ++step) {
                if (horizontal)
                    r.InsertHorizontalSeams(1, c.Reuse);
                else
                    r.InsertVerticalSeams(1, c.Reuse);
                const int32_t blocked = horizontal ? r.HorizontalBlocked() : r.VerticalBlocked();
                if (blocked == 3 && step > 1)
                    recomputed.push_back(step);
                ASSERT_EQ(horizontal ? r.VerticalBlocked() : r.HorizontalBlocked(), 0);
            }
            EXPECT_EQ(recomputed, c.Recomputed) << c.Reuse << (horizontal ? " rows" : " columns");
        }
}

TEST(SeamResizer, SingleStepsEqualOneCall)
{
    using TOp = std::function<void(TCorvSeamIterativeResizer&, int32_t)>;
    const std::vector<TOp> ops{
        [](TCorvSeamIterativeResizer& r, int32_t n) { r.RemoveVerticalSeams(n); },
        [](TCorvSeamIterativeResizer& r, int32_t n) { r.RemoveHorizontalSeams(n); },
        [](TCorvSeamIterativeResizer& r, int32_t n) { r.InsertVerticalSeams(n, 0.33); },
        [](TCorvSeamIterativeResizer& r, int32_t n) { r.InsertHorizontalSeams(n, 0.33); },
    };
    std::mt19937 rng(43);
    auto original = RandomSurface(24, 18, rng, 3);
    auto originalMask = TCorvSurface::CreateFilled(24, 18, 0);
    originalMask->FillRect({5, 4, 6, 6}, Core);
    auto a = Copy(*original), b = Copy(*original);
    auto maskA = Copy(*originalMask), maskB = Copy(*originalMask);
    TCorvSeamIterativeResizer one(*a), steps(*b);
    one.SetMask(maskA.get());
    steps.SetMask(maskB.get());
    // Every direction after every other, so the maps cross each kind of call.
    const std::vector<size_t> order{2, 0, 3, 1, 0, 2, 1, 3};
    for (size_t k : order) {
        Corvanith::Utils::RandSeed(uint32_t(k) + 100);
        ops[k](one, 5);
        Corvanith::Utils::RandSeed(uint32_t(k) + 100);
        for (int i = 0; i < 5; ++i)
            ops[k](steps, 1);
        ASSERT_EQ(StateOf(one), StateOf(steps)) << k;
    }
}

TEST(SeamResizer, MaskOfAnotherSizeIsRefused)
{
    std::mt19937 rng(47);
    const std::vector<std::function<void(TCorvSeamIterativeResizer&, int32_t)>> ops{
        [](TCorvSeamIterativeResizer& r, int32_t n) { r.RemoveVerticalSeams(n); },
        [](TCorvSeamIterativeResizer& r, int32_t n) { r.RemoveHorizontalSeams(n); },
        [](TCorvSeamIterativeResizer& r, int32_t n) { r.InsertVerticalSeams(n, 0.33); },
        [](TCorvSeamIterativeResizer& r, int32_t n) { r.InsertHorizontalSeams(n, 0.33); },
    };
    for (auto [mw, mh] : std::vector<std::pair<int, int>>{{9, 8}, {10, 7}, {3, 3}})
        for (const auto& op : ops)
            for (int32_t count : {0, 1}) {
                auto p = RandomSurface(10, 8, rng);
                TCorvSeamIterativeResizer r(*p);
                // Both maps present, one of them blocked.
                r.RemoveHorizontalSeams(0);
                r.InsertVerticalSeams(1, 0.33);
                auto mask = TCorvSurface::CreateFilled(mw, mh, Core);
                r.SetMask(mask.get());
                const TState before = StateOf(r);
                EXPECT_THROW(op(r, count), EArgumentError);
                EXPECT_EQ(StateOf(r), before);
            }
}

TEST(SeamResizer, OnePixelPicturesGrowAndRemovalStopsAtOne)
{
    std::mt19937 rng(53);
    for (auto [w, h] : std::vector<std::pair<int, int>>{{1, 1}, {1, 4}, {4, 1}}) {
        auto p = RandomSurface(w, h, rng);
        auto mask = TCorvSurface::CreateFilled(w, h, Core);
        TCorvSeamIterativeResizer r(*p);
        r.SetMask(mask.get());
        r.InsertVerticalSeams(2, 0.33);
        r.InsertHorizontalSeams(2, 0.33);
        ASSERT_EQ(p->Width(), w + 2);
        ASSERT_EQ(p->Height(), h + 2);
        EXPECT_EQ(mask->Width(), w + 2);
        EXPECT_EQ(Pixels(*mask), std::vector<TCorvColor>(size_t((w + 2) * (h + 2)), Core));
        r.RemoveVerticalSeams(10);
        r.RemoveHorizontalSeams(10);
        EXPECT_EQ(p->Width(), 1);
        EXPECT_EQ(p->Height(), 1);
        r.RemoveVerticalSeams(1);
        r.RemoveHorizontalSeams(1);
        EXPECT_EQ(p->Width(), 1);
        EXPECT_EQ(p->Height(), 1);
        EXPECT_EQ(mask->Width(), 1);
        EXPECT_EQ(Pixels(*r.VerticalEnergy()), (std::vector<TCorvColor>{MaximumEnergy}));
    }
    // A 1-pixel-wide column grows by copies of itself.
    auto column = MakeSurface(1, 3, {Px(1, 2, 3, 4), Px(5, 6, 7, 8), Px(9, 9, 9, 9)});
    TCorvSeamIterativeResizer r(*column);
    r.InsertVerticalSeams(2, 0.33);
    EXPECT_EQ(Pixels(*column), (std::vector<TCorvColor>{Px(1, 2, 3, 4), Px(1, 2, 3, 4), Px(1, 2, 3, 4), Px(5, 6, 7, 8),
                                                        Px(5, 6, 7, 8), Px(5, 6, 7, 8), Px(9, 9, 9, 9), Px(9, 9, 9, 9),
                                                        Px(9, 9, 9, 9)}));
}

TEST(SeamResizer, CounterIsZeroAfterAMapComputedPastAFailure)
{
    SKIP_UNLESS_DATA_LIMIT_HOLDS();
    // Large buffers come straight from the system and go back to it, so none
    // is reused while the limit holds.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    auto p = TCorvSurface::CreateFilled(1024, 1024, Px(1, 2, 3, 255));
    TCorvSeamIterativeResizer r(*p);
    r.InsertVerticalSeams(1, 0.0);
    ASSERT_EQ(r.VerticalBlocked(), 3);
    {
        // The reuse test fires, frees the 4 MB map, and cannot have a new one.
        TDataLimit limit(-(2 << 20));
        EXPECT_THROW(r.InsertVerticalSeams(1, 0.0), EOutOfMemory);
    }
    EXPECT_EQ(r.VerticalEnergy(), nullptr);
    EXPECT_EQ(p->Width(), 1025);
    // The next call computes the map, and with it the counter starts again:
    // the following step keeps that map instead of throwing it away.
    r.InsertVerticalSeams(0, 0.0);
    ASSERT_NE(r.VerticalEnergy(), nullptr);
    EXPECT_EQ(r.VerticalBlocked(), 0);
    const TCorvSurface* map = r.VerticalEnergy();
    r.InsertVerticalSeams(1, 0.0);
    EXPECT_EQ(r.VerticalEnergy(), map);
    EXPECT_EQ(r.VerticalBlocked(), 3);
}

TEST(SeamResizer, AFailedInsertionKeepsPictureAndMaskOneSize)
{
    SKIP_UNLESS_DATA_LIMIT_HOLDS();
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    auto p = TCorvSurface::CreateFilled(1024, 1024, Px(1, 2, 3, 255));
    auto mask = TCorvSurface::CreateFilled(1024, 1024, MaskUnpainted);
    TCorvSeamIterativeResizer r(*p);
    r.SetMask(mask.get());
    r.InsertVerticalSeams(0, 0.33);
    {
        // Room for the seam search and one grown 5 MB buffer, not for two:
        // the step fails after the first surface has grown.
        TDataLimit limit(4 << 20);
        EXPECT_THROW(r.InsertVerticalSeams(1, 0.33), EOutOfMemory);
    }
    EXPECT_EQ(mask->Width(), p->Width());
    EXPECT_EQ(mask->Height(), p->Height());
    // The resizer goes on from there.
    r.InsertVerticalSeams(1, 0.33);
    EXPECT_EQ(mask->Width(), p->Width());
}

TEST(SeamResizer, MapsThatNoLongerFitAreComputedAnew)
{
    // A picture changed from outside: the old maps are dropped, never written
    // through, and the call goes on as on a new resizer.
    std::mt19937 rng(59);
    auto p = RandomSurface(8, 6, rng);
    TCorvSeamIterativeResizer r(*p);
    r.RemoveVerticalSeams(1);
    r.InsertHorizontalSeams(1, 0.33);
    auto replacement = RandomSurface(9, 6, rng);
    auto copy = Copy(*replacement);
    p->TakeOver(*replacement);
    TCorvSeamIterativeResizer fresh(*copy);
    for (TCorvSeamIterativeResizer* each : {&r, &fresh}) {
        Corvanith::Utils::RandSeed(9);
        each->InsertHorizontalSeams(1, 0.33);
        each->RemoveVerticalSeams(1);
    }
    EXPECT_EQ(StateOf(r), StateOf(fresh));
}

// ---- Against a plain model ----

// The resizer as plainly as it can be written: the maps kept and carved as
// the resizer keeps them, but every seam found by the full-table search.
class TReferenceResizer {
public:
    explicit TReferenceResizer(TCorvSurface& Surface) : FSurface(Surface) {}

    TCorvSurface* Mask = nullptr;

    void Remove(bool Horizontal, int32_t Count)
    {
        Fit();
        if (FBlocked[Horizontal] != 0) {
            FBlocked[Horizontal] = 0;
            FMaps[Horizontal].reset();
        }
        if (!FMaps[Horizontal])
            Compute(Horizontal);
        TCorvSurface& map = *FMaps[Horizontal];
        const int32_t steps = std::min(Count, Side(Horizontal) - 1);
        for (int32_t i = 0; i < steps; ++i) {
            const TCorvPointArray seam = ReferenceSeam(map, !Horizontal, Corvanith::Utils::Random);
            for (TCorvSurface* s : {&FSurface, Mask, FMaps[!Horizontal].get()})
                if (s != nullptr)
                    Horizontal ? s->RemoveHorizontalSeam(seam) : s->RemoveVerticalSeam(seam);
            if (Horizontal) {
                RemoveHorizontalSeamFromEnergy(map, FSurface, seam);
                if (Mask != nullptr)
                    ApplyMaskAlongHorizontalSeam(map, *Mask, seam);
            } else {
                RemoveVerticalSeamFromEnergy(map, FSurface, seam);
                if (Mask != nullptr)
                    ApplyMaskAlongVerticalSeam(map, *Mask, seam);
            }
        }
    }

    void Insert(bool Horizontal, int32_t Count, double Reuse)
    {
        Fit();
        if (!FMaps[Horizontal])
            Compute(Horizontal);
        if (FSurface.Width() == 0 || FSurface.Height() == 0)
            return;
        for (int32_t i = 0; i < Count; ++i) {
            if (double(FBlocked[Horizontal]) / double(Side(Horizontal)) > Reuse)
                Compute(Horizontal);
            TCorvSurface& map = *FMaps[Horizontal];
            const TCorvPointArray seam = ReferenceSeam(map, !Horizontal, Corvanith::Utils::Random);
            for (TCorvSurface* s : {&FSurface, Mask, FMaps[!Horizontal].get()}) {
                if (s == nullptr)
                    continue;
                Horizontal ? s->InsertHorizontalSeam(seam) : s->InsertVerticalSeam(seam);
                Horizontal ? BlendHorizontalSeam(*s, seam) : BlendVerticalSeam(*s, seam);
            }
            Horizontal ? map.InsertHorizontalSeam(seam) : map.InsertVerticalSeam(seam);
            FBlocked[Horizontal] += 3;
            const int32_t limit = (Horizontal ? map.Height() : map.Width()) - 1;
            for (int32_t offset = 0; offset < 3; ++offset)
                map.FillPoints(Horizontal ? OffsetSeamY(seam, offset, limit) : OffsetSeamX(seam, offset, limit),
                               MaximumEnergy);
        }
    }

    TState State() const
    {
        const TCorvSurface* v = FMaps[0].get();
        const TCorvSurface* h = FMaps[1].get();
        return {Pixels(FSurface),
                v ? Pixels(*v) : std::vector<TCorvColor>{},
                h ? Pixels(*h) : std::vector<TCorvColor>{},
                Mask ? Pixels(*Mask) : std::vector<TCorvColor>{},
                FSurface.Width(),
                FSurface.Height(),
                FBlocked[0],
                FBlocked[1],
                v != nullptr,
                h != nullptr};
    }

private:
    int32_t Side(bool Horizontal) const { return Horizontal ? FSurface.Height() : FSurface.Width(); }

    void Fit()
    {
        for (int k = 0; k < 2; ++k)
            if (FMaps[k] && (FMaps[k]->Width() != FSurface.Width() || FMaps[k]->Height() != FSurface.Height())) {
                FMaps[k].reset();
                FBlocked[k] = 0;
            }
    }

    void Compute(bool Horizontal)
    {
        FMaps[Horizontal] = CalculateEnergy(FSurface);
        FBlocked[Horizontal] = 0;
        if (Mask != nullptr)
            ApplyMask(*FMaps[Horizontal], *Mask);
    }

    TCorvSurface& FSurface;
    std::unique_ptr<TCorvSurface> FMaps[2];
    int32_t FBlocked[2] = {0, 0};
};

enum TCall { RemoveVertical, RemoveHorizontal, InsertVertical, InsertHorizontal };

// One call on the resizer and the same on the model from the same state of
// the generator: both must leave the same state behind, and the generator
// where the other left it.
void CompareCall(TCorvSeamIterativeResizer& R, TReferenceResizer& Model, TCall Call, int32_t Count, double Reuse,
                 uint32_t Seed)
{
    Corvanith::Utils::RandSeed(Seed);
    switch (Call) {
    case RemoveVertical:
        R.RemoveVerticalSeams(Count);
        break;
    case RemoveHorizontal:
        R.RemoveHorizontalSeams(Count);
        break;
    case InsertVertical:
        R.InsertVerticalSeams(Count, Reuse);
        break;
    case InsertHorizontal:
        R.InsertHorizontalSeams(Count, Reuse);
        break;
    }
    const uint32_t next = Corvanith::Utils::Random(1u << 30);
    Corvanith::Utils::RandSeed(Seed);
    if (Call == RemoveVertical || Call == RemoveHorizontal)
        Model.Remove(Call == RemoveHorizontal, Count);
    else
        Model.Insert(Call == InsertHorizontal, Count, Reuse);
    ASSERT_EQ(Corvanith::Utils::Random(1u << 30), next) << "other draws, call " << Call << " count " << Count;
    ASSERT_EQ(StateOf(R), Model.State()) << "call " << Call << " count " << Count << " reuse " << Reuse;
}

// A random run of calls on one picture, on the resizer and on the model,
// compared after every call. Between calls the mask may get new strokes, go,
// or come back.
void CompareRandomRun(std::mt19937& Rng, int32_t W, int32_t H, int32_t Calls, int32_t MaxCount)
{
    SCOPED_TRACE(std::to_string(W) + "x" + std::to_string(H));
    const int levels[] = {2, 4, 256};
    auto original = RandomSurface(W, H, Rng, levels[Rng() % 3]);
    auto a = Copy(*original), b = Copy(*original);
    std::unique_ptr<TCorvSurface> maskA, maskB;
    TCorvSeamIterativeResizer r(*a);
    TReferenceResizer model(*b);
    auto chance = [&](int percent) { return int(Rng() % 100) < percent; };
    for (int32_t k = 0; k < Calls; ++k) {
        if (chance(30)) {
            // A mask of the picture's size with a few strokes, or strokes added to the one there.
            if (!maskA || !r.Mask() || chance(30)) {
                maskA = TCorvSurface::CreateFilled(a->Width(), a->Height(), 0);
                maskB = Copy(*maskA);
            }
            for (int stroke = int(Rng() % 3); stroke > 0; --stroke) {
                TCorvRectangle rect{int32_t(Rng() % uint32_t(a->Width())), int32_t(Rng() % uint32_t(a->Height())),
                                    1 + int32_t(Rng() % 6), 1 + int32_t(Rng() % 6)};
                IntersectRectangle(rect, {0, 0, a->Width(), a->Height()});
                const TCorvColor paint = chance(80) ? Core : Px(200, 0, 0, 255);
                maskA->FillRect(rect, paint);
                maskB->FillRect(rect, paint);
            }
            r.SetMask(maskA.get());
            model.Mask = maskB.get();
        } else if (chance(10)) {
            r.SetMask(nullptr);
            model.Mask = nullptr;
        }
        const auto call = TCall(Rng() % 4);
        const int32_t count = 1 + int32_t(Rng() % uint32_t(MaxCount));
        const double reuses[] = {0.0, 0.05, 0.2, 0.33, 1.0, double(Rng() % 100) / 100};
        const double reuse = reuses[Rng() % 6];
        CompareCall(r, model, call, count, reuse, Rng());
        if (testing::Test::HasFatalFailure())
            return;
    }
}

// Random runs compared with the plain model in three tests, so that each
// stays short under the sanitizers: the 1- to 3-pixel sides, sizes across the
// eight-lane steps, and pictures large enough for long runs of kept tables.
TEST(SeamResizer, SameAsThePlainModelOnTheSmallestSides)
{
    ForEachInstructionSet([] {
        std::mt19937 rng(71);
        for (int32_t w = 1; w <= 3; ++w)
            for (int32_t h = 1; h <= 3; ++h)
                CompareRandomRun(rng, w, h, 12, 3);
    });
}

TEST(SeamResizer, SameAsThePlainModelOverRandomSmallRuns)
{
    ForEachInstructionSet([] {
        std::mt19937 rng(72);
        for (int run = 0; run < 200; ++run)
            CompareRandomRun(rng, 1 + int32_t(rng() % 40), 1 + int32_t(rng() % 40), 10, 6);
    });
}

TEST(SeamResizer, SameAsThePlainModelOverRandomLongRuns)
{
    ForEachInstructionSet([] {
        std::mt19937 rng(74);
        for (int run = 0; run < 20; ++run)
            CompareRandomRun(rng, 40 + int32_t(rng() % 90), 40 + int32_t(rng() % 90), 8, 25);
    });
}

TEST(SeamResizer, SameAsThePlainModelWithSixtyFourBitPathCosts)
{
    // The 64-bit table on small pictures, built in full and kept through
    // insertions and removals: first for every search, then from 20 lines on,
    // so that a run turning from one direction to the other changes tables.
    std::mt19937 rng(73);
    for (const int32_t wideFrom : {1, 20}) {
        SCOPED_TRACE("64-bit from " + std::to_string(wideFrom) + " lines");
        const TWidePathCostsFrom wide(wideFrom);
        for (int run = 0; run < 100; ++run)
            CompareRandomRun(rng, 1 + int32_t(rng() % 40), 1 + int32_t(rng() % 40), 10, 6);
        for (int run = 0; run < 10; ++run)
            CompareRandomRun(rng, 40 + int32_t(rng() % 90), 40 + int32_t(rng() % 90), 8, 25);
    }
}
