#include "graphics/errors.h"
#include "graphics/gradientmanager.h"

#include <gtest/gtest.h>

using namespace Corvanith;
using namespace Corvanith::Graphics;

namespace {

using Manager = TCorvGradientManager;

// Every test starts from an empty cache of the size the program uses and
// leaves one behind.
class GradientManager : public testing::Test {
protected:
    void SetUp() override { Manager::Initialize(16); }
    void TearDown() override { Manager::Initialize(16); }
};

struct TRunCase {
    TCorvColor Color1;
    TCorvColor Color2;
    int32_t Length;
    std::vector<TCorvColor> Expected;
};

TEST_F(GradientManager, RunsHaveTheirExactRounding)
{
    const TRunCase cases[] = {
        {0xFF000000, 0xFFFFFFFF, 5, {0xFF000000, 0xFF404040, 0xFF808080, 0xFFBFBFBF, 0xFFFFFFFF}},
        // A falling channel ends one above its target.
        {0xFFFFFFFF, 0xFF000000, 5, {0xFFFFFFFF, 0xFFC0C0C0, 0xFF808080, 0xFF414141, 0xFF010101}},
        {0x0A000000, 0x5C000000, 3, {0x0A000000, 0x33000000, 0x5C000000}},
        {0x5C000000, 0x0A000000, 3, {0x5C000000, 0x34000000, 0x0B000000}},
        {0xFFFF0000, 0xFF0000FF, 4, {0xFFFF0000, 0xFFAB0055, 0xFF5600AA, 0xFF0100FF}},
        // The formula has no answer for one colour and wraps every channel
        // for two; the ends are the run instead.
        {0xFF000000, 0xFFFFFFFF, 1, {0xFF000000}},
        {0xFF000000, 0xFFFFFFFF, 2, {0xFF000000, 0xFFFFFFFF}},
        {0xFFFFFFFF, 0x00000000, 2, {0xFFFFFFFF, 0x00000000}},
        {0x12345678, 0x9ABCDEF0, 0, {}},
    };
    for (const TRunCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.Color1 << " -> " << c.Color2 << " over " << std::dec
                                        << c.Length);
        const TCorvColorArray run = Manager::GetGradient(c.Color1, c.Color2, c.Length);
        ASSERT_NE(run, nullptr);
        EXPECT_EQ(*run, c.Expected);
    }
}

TEST_F(GradientManager, LongRunsKeepTheirEndsAndNeverWrap)
{
    for (int32_t length : {3, 7, 256, 1000, 4097}) {
        SCOPED_TRACE(length);
        const auto rising = Manager::GetGradient(0x00000000, 0xFFFFFFFF, length);
        EXPECT_EQ(rising->front(), 0x00000000u);
        EXPECT_EQ(rising->back(), 0xFFFFFFFFu);
        EXPECT_TRUE(std::is_sorted(rising->begin(), rising->end()));
        const auto falling = Manager::GetGradient(0xFFFFFFFF, 0x00000000, length);
        EXPECT_EQ(falling->front(), 0xFFFFFFFFu);
        EXPECT_EQ(falling->back(), 0x01010101u);
        EXPECT_TRUE(std::is_sorted(falling->rbegin(), falling->rend()));
    }
}

TEST_F(GradientManager, HitReturnsTheSameRunAndKeyIsExact)
{
    const auto first = Manager::GetGradient(0xFF000000, 0xFFFFFFFF, 5);
    EXPECT_EQ(Manager::GetGradient(0xFF000000, 0xFFFFFFFF, 5).get(), first.get());
    EXPECT_NE(Manager::GetGradient(0xFF000000, 0xFFFFFFFF, 6).get(), first.get());
    EXPECT_NE(Manager::GetGradient(0xFF000001, 0xFFFFFFFF, 5).get(), first.get());
    EXPECT_NE(Manager::GetGradient(0xFF000000, 0xFEFFFFFF, 5).get(), first.get());
    EXPECT_EQ(Manager::EntryCount(), 4);
    // An empty run is an entry like any other.
    const auto empty = Manager::GetGradient(1, 2, 0);
    EXPECT_TRUE(empty->empty());
    EXPECT_EQ(Manager::EntryCount(), 5);
    EXPECT_EQ(Manager::GetGradient(1, 2, 0).get(), empty.get());
}

TEST_F(GradientManager, EvictsTheLeastRecentlyUsedEntry)
{
    std::vector<TCorvColorArray> runs;
    for (int32_t i = 0; i < 16; ++i)
        runs.push_back(Manager::GetGradient(0xFF000000, 0xFFFFFFFF, 10 + i));
    EXPECT_EQ(Manager::EntryCount(), 16);
    // Touching the oldest moves it to the front, so the next miss evicts the
    // second oldest instead.
    EXPECT_EQ(Manager::GetGradient(0xFF000000, 0xFFFFFFFF, 10).get(), runs[0].get());
    Manager::GetGradient(0xFF000000, 0xFFFFFFFF, 99);
    EXPECT_EQ(Manager::EntryCount(), 16);
    EXPECT_EQ(Manager::GetGradient(0xFF000000, 0xFFFFFFFF, 10).get(), runs[0].get());
    const auto again = Manager::GetGradient(0xFF000000, 0xFFFFFFFF, 11);
    EXPECT_NE(again.get(), runs[1].get());
    // The evicted run is still whole for whoever holds it.
    EXPECT_EQ(*again, *runs[1]);
    EXPECT_EQ(Manager::EntryCount(), 16);
}

TEST_F(GradientManager, RunsOutliveFinalize)
{
    const auto run = Manager::GetGradient(0xFF000000, 0xFFFFFFFF, 5);
    Manager::Finalize();
    EXPECT_EQ(Manager::EntryCount(), 0);
    EXPECT_EQ(*run, (std::vector<TCorvColor>{0xFF000000, 0xFF404040, 0xFF808080, 0xFFBFBFBF, 0xFFFFFFFF}));
}

TEST_F(GradientManager, NegativeLengthIsRefusedWithoutAnEntry)
{
    Manager::GetGradient(0xFF000000, 0xFFFFFFFF, 5);
    EXPECT_THROW(Manager::GetGradient(0xFF000000, 0xFFFFFFFF, -1), ERangeError);
    EXPECT_EQ(Manager::EntryCount(), 1);
    // The lock was left: another call still gets through.
    EXPECT_NE(Manager::GetGradient(0xFF000000, 0xFFFFFFFF, 3), nullptr);
}

} // namespace
