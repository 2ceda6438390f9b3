#include "platform/orientation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace Corvanith::Platform;

namespace {

struct TPlace {
    int32_t U, V;
};

// Where the stored first row's two ends are shown, read off the words of the
// Exif standard ("the 0th row is the visual right-hand side ..."), on a
// picture stored 5 wide and 3 high.
struct TCase {
    int Value;
    int32_t ShownWidth, ShownHeight;
    TPlace FirstPixel, LastOfFirstRow;
};

const TCase Cases[] = {
    {1, 5, 3, {0, 0}, {4, 0}}, // row 0 top, column 0 left
    {2, 5, 3, {4, 0}, {0, 0}}, // row 0 top, column 0 right
    {3, 5, 3, {4, 2}, {0, 2}}, // row 0 bottom, column 0 right
    {4, 5, 3, {0, 2}, {4, 2}}, // row 0 bottom, column 0 left
    {5, 3, 5, {0, 0}, {0, 4}}, // row 0 left, column 0 top
    {6, 3, 5, {2, 0}, {2, 4}}, // row 0 right, column 0 top
    {7, 3, 5, {2, 4}, {2, 0}}, // row 0 right, column 0 bottom
    {8, 3, 5, {0, 4}, {0, 0}}, // row 0 left, column 0 bottom
};

} // namespace

TEST(Orientation, EveryStoredPixelLandsOnceInItsShownPlace)
{
    constexpr int32_t Width = 5, Height = 3;
    std::vector<uint32_t> stored(Width * Height);
    for (size_t i = 0; i < stored.size(); ++i)
        stored[i] = uint32_t(i + 1);
    for (const TCase& c : Cases) {
        SCOPED_TRACE(c.Value);
        const TOrientation orientation = OrientationOf(uint32_t(c.Value));
        const auto [shownWidth, shownHeight] = OrientedSize(orientation, Width, Height);
        ASSERT_EQ(shownWidth, c.ShownWidth);
        ASSERT_EQ(shownHeight, c.ShownHeight);
        // Rows wider than the picture, so a stride of its own is used.
        const int32_t stride = (shownWidth + 2) * 4;
        for (const int32_t block : {1, 2, 3}) {
            std::vector<uint32_t> shown(size_t(stride / 4) * size_t(shownHeight), 0);
            TOrientedRows rows(orientation, Width, Height, reinterpret_cast<uint8_t*>(shown.data()), stride);
            for (int32_t y = 0; y < Height; y += block) {
                const int32_t count = std::min(block, Height - y);
                uint32_t* direct = rows.DirectRow(y);
                if (direct != nullptr && count == 1)
                    std::copy_n(&stored[size_t(y * Width)], Width, direct);
                else
                    rows.Put(y, count, &stored[size_t(y * Width)], Width);
            }
            const auto at = [&](TPlace p) { return shown[size_t(p.V) * size_t(stride / 4) + size_t(p.U)]; };
            EXPECT_EQ(at(c.FirstPixel), stored[0]);
            EXPECT_EQ(at(c.LastOfFirstRow), stored[Width - 1]);
            // Every pixel once, the padding untouched.
            std::vector<uint32_t> seen;
            for (int32_t v = 0; v < shownHeight; ++v) {
                for (int32_t u = 0; u < shownWidth; ++u)
                    seen.push_back(at({u, v}));
                EXPECT_EQ(at({shownWidth, v}), 0u);
            }
            std::sort(seen.begin(), seen.end());
            EXPECT_EQ(seen, stored);
        }
    }
}

TEST(Orientation, OnlyRowKeepingOrientationsWriteRowsDirectly)
{
    uint32_t pixels[6] = {};
    auto* bits = reinterpret_cast<uint8_t*>(pixels);
    EXPECT_EQ(TOrientedRows(TOrientation::Upright, 3, 2, bits, 12).DirectRow(1), pixels + 3);
    EXPECT_EQ(TOrientedRows(TOrientation::MirroredVertically, 3, 2, bits, 12).DirectRow(1), pixels);
    for (const int value : {2, 3, 5, 6, 7, 8})
        EXPECT_EQ(TOrientedRows(OrientationOf(uint32_t(value)), 3, 2, bits, 12).DirectRow(0), nullptr) << value;
    for (const uint32_t value : {0u, 9u, 0xFFFFu, 0xFFFFFFFFu})
        EXPECT_EQ(OrientationOf(value), TOrientation::Upright) << value;
}
