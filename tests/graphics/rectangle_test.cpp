#include "graphics/errors.h"
#include "graphics/rectangle.h"

#include <gtest/gtest.h>

#include <climits>

using namespace Corvanith;
using namespace Corvanith::Graphics;

namespace {

TEST(SplitRectangle, BandsFollowTheRemainderRule)
{
    struct Case {
        TCorvRectangle rect;
        int32_t count;
        std::vector<TCorvRectangle> bands;
    };
    const Case cases[] = {
        {{0, 0, 500, 1000}, 3, {{0, 0, 500, 333}, {0, 333, 500, 333}, {0, 666, 500, 334}}},
        {{0, 0, 500, 1001}, 4, {{0, 0, 500, 250}, {0, 250, 500, 250}, {0, 500, 500, 250}, {0, 750, 500, 251}}},
        {{0, 0, 500, 3}, 4, {{0, 0, 500, 0}, {0, 0, 500, 0}, {0, 0, 500, 0}, {0, 0, 500, 3}}},
        {{10, 20, 300, 257}, 2, {{10, 20, 300, 128}, {10, 148, 300, 129}}},
        {{7, 8, 9, 10}, 1, {{7, 8, 9, 10}}},
    };
    for (const Case& c : cases) {
        TCorvRectangleArray bands(7, TCorvRectangle{1, 2, 3, 4});
        SplitRectangle(c.rect, c.count, bands);
        EXPECT_EQ(bands, c.bands) << "height " << c.rect.Height << " into " << c.count;
    }
}

TEST(SplitRectangle, RejectsCountsBelowOneWithoutTouchingBands)
{
    const TCorvRectangleArray before{{1, 2, 3, 4}};
    TCorvRectangleArray bands = before;
    EXPECT_THROW(SplitRectangle({0, 0, 10, 10}, 0, bands), EArgumentError);
    EXPECT_THROW(SplitRectangle({0, 0, 10, 10}, -1, bands), ERangeError);
    EXPECT_EQ(bands, before);
}

TEST(IntersectRectangles, TouchingAndDisjointAndSame)
{
    struct Case {
        TCorvRectangle a, b, expected;
    };
    const Case cases[] = {
        {{0, 0, 10, 10}, {10, 0, 5, 5}, {10, 0, 0, 5}},
        {{0, 0, 10, 10}, {11, 0, 5, 5}, {0, 0, 0, 0}},
        {{0, 0, 10, 10}, {0, 0, 10, 10}, {0, 0, 10, 10}},
        {{0, 0, 10, 10}, {5, -5, 10, 10}, {5, 0, 5, 5}},
        // Edges past the 32-bit range are summed without wrapping.
        {{INT32_MAX - 5, 0, 10, 10}, {INT32_MAX - 8, 0, 4, 4}, {INT32_MAX - 5, 0, 1, 4}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IntersectRectangles(c.a, c.b), c.expected);
        TCorvRectangle inPlace = c.a;
        IntersectRectangle(inPlace, c.b);
        EXPECT_EQ(inPlace, c.expected);
    }
}

TEST(UnionRectangles, EmptyRectanglesTakePart)
{
    EXPECT_EQ(UnionRectangles({0, 0, 0, 0}, {10, 10, 5, 5}), (TCorvRectangle{0, 0, 15, 15}));
    EXPECT_EQ(UnionRectangles({5, 5, 10, 10}, {-5, 8, 2, 20}), (TCorvRectangle{-5, 5, 20, 23}));
}

TEST(PointInRectangle, EdgesAreExclusiveOnTheRightAndBottom)
{
    const TCorvRectangle r{5, 5, 10, 10};
    EXPECT_TRUE(PointInRectangle(r, 5, 5));
    EXPECT_TRUE(PointInRectangle(r, 14, 14));
    EXPECT_FALSE(PointInRectangle(r, 15, 5));
    EXPECT_FALSE(PointInRectangle(r, 5, 15));
    EXPECT_FALSE(PointInRectangle({5, 5, 0, 10}, 5, 5));
}

TEST(GetPointPosition, AllCodesOnFourByThree)
{
    const TRect r{0, 0, 4, 3};
    struct Case {
        int32_t x, y;
        uint8_t code;
    };
    const Case cases[] = {{0, 0, 0}, {3, 0, 1}, {0, 2, 2}, {3, 2, 3}, {0, 1, 4}, {1, 0, 5},
                          {3, 1, 6}, {1, 2, 7}, {1, 1, 8}, {2, 1, 8}, {4, 1, 9}, {-1, 0, 9}, {1, 3, 9}};
    for (const Case& c : cases)
        EXPECT_EQ(GetPointPosition(r, c.x, c.y), c.code) << "(" << c.x << ", " << c.y << ")";
}

TEST(GetPointPosition, DegenerateRectangles)
{
    const TRect column{2, 0, 3, 4};
    EXPECT_EQ(GetPointPosition(column, 2, 0), 0);
    EXPECT_EQ(GetPointPosition(column, 2, 1), 4);
    EXPECT_EQ(GetPointPosition(column, 2, 2), 4);
    EXPECT_EQ(GetPointPosition(column, 2, 3), 2);

    const TRect row{0, 5, 4, 6};
    EXPECT_EQ(GetPointPosition(row, 0, 5), 0);
    EXPECT_EQ(GetPointPosition(row, 1, 5), 5);
    EXPECT_EQ(GetPointPosition(row, 3, 5), 1);

    EXPECT_EQ(GetPointPosition({7, 7, 8, 8}, 7, 7), 0);

    for (const TRect& empty : {TRect{0, 0, 0, 3}, TRect{0, 0, 3, 0}, TRect{5, 5, 4, 9}})
        for (int32_t y = -1; y <= 5; ++y)
            for (int32_t x = -1; x <= 5; ++x)
                EXPECT_EQ(GetPointPosition(empty, x, y), 9);
}

} // namespace
