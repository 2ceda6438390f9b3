#include "graphics/surface.h"

#include <gtest/gtest.h>

using namespace Corvanith::Graphics;

namespace {

TEST(MaskRows, EveryBrushAlphaOverEveryMaskState)
{
    const uint8_t brushAlphas[] = {0, 1, 50, 51, 255};
    const TCorvColor states[] = {MaskUnpainted, MaskSoftPaint, MaskCorePaint};
    // [brush alpha][mask state] for painting and for erasing.
    const TCorvColor painted[5][3] = {
        {MaskUnpainted, MaskSoftPaint, MaskCorePaint},
        {MaskSoftPaint, MaskSoftPaint, MaskCorePaint},
        {MaskSoftPaint, MaskSoftPaint, MaskCorePaint},
        {MaskCorePaint, MaskCorePaint, MaskCorePaint},
        {MaskCorePaint, MaskCorePaint, MaskCorePaint},
    };
    const TCorvColor erased[5][3] = {
        {MaskUnpainted, MaskSoftPaint, MaskCorePaint},
        {MaskUnpainted, MaskSoftPaint, MaskSoftPaint},
        {MaskUnpainted, MaskSoftPaint, MaskSoftPaint},
        {MaskUnpainted, MaskUnpainted, MaskUnpainted},
        {MaskUnpainted, MaskUnpainted, MaskUnpainted},
    };
    for (int b = 0; b < 5; ++b) {
        // Only the brush alpha counts, whatever its colour.
        const TCorvColor brush[3] = {TCorvColor(brushAlphas[b]) << 24 | 0x123456,
                                     TCorvColor(brushAlphas[b]) << 24 | 0xFFFFFF,
                                     TCorvColor(brushAlphas[b]) << 24};
        TCorvColor paint[3] = {states[0], states[1], states[2]};
        TCorvColor erase[3] = {states[0], states[1], states[2]};
        PaintMaskRow(paint, brush, 3);
        EraseMaskRow(erase, brush, 3);
        for (int m = 0; m < 3; ++m) {
            EXPECT_EQ(paint[m], painted[b][m]) << "paint, brush alpha " << int(brushAlphas[b]) << ", state " << m;
            EXPECT_EQ(erase[m], erased[b][m]) << "erase, brush alpha " << int(brushAlphas[b]) << ", state " << m;
        }
    }
}

TEST(MaskRows, TestsTheMaskAlphaOnlyAndNothingForEmptyCounts)
{
    // Alpha 175 counts as core, whatever the colour; alpha 0 as unpainted.
    TCorvColor mask[2] = {0xAF000000, 0x00FFFFFF};
    const TCorvColor soft[2] = {0x20000000, 0x20000000};
    PaintMaskRow(mask, soft, 2);
    EXPECT_EQ(mask[0], 0xAF000000u);
    EXPECT_EQ(mask[1], MaskSoftPaint);
    mask[1] = 0x00FFFFFF;
    EraseMaskRow(mask, soft, 2);
    EXPECT_EQ(mask[1], 0x00FFFFFFu);
    const TCorvColor core[2] = {0xFF000000, 0xFF000000};
    PaintMaskRow(mask, core, 0);
    PaintMaskRow(mask, core, -1);
    EraseMaskRow(mask, core, 0);
    EXPECT_EQ(mask[0], MaskSoftPaint);
    EXPECT_EQ(mask[1], 0x00FFFFFFu);
}

TEST(MaskStrokes, StampAtAnOffsetThenEraseWithTheSameBrush)
{
    // A 4 x 3 brush: a core in the middle, a soft edge around, outside corners.
    const TCorvColor rows[3][4] = {
        {0x00000000, 0x20000000, 0x20000000, 0x00000000},
        {0x20000000, 0xFF000000, 0xFF000000, 0x20000000},
        {0x00000000, 0x20000000, 0x20000000, 0x00000000},
    };
    auto brush = TCorvSurface::Create(4, 3);
    for (int y = 0; y < 3; ++y)
        std::copy(rows[y], rows[y] + 4, brush->GetPixelPtr(0, y));
    auto mask = TCorvSurface::CreateFilled(6, 5, MaskUnpainted);
    // Stamp the lower-right 3 x 2 of the brush at (2, 1).
    brush->PaintMaskTo(*mask, 2, 1, {1, 1, 3, 2});
    const auto at = [&](int x, int y) { return *mask->GetPixelPtr(x, y); };
    EXPECT_EQ(at(2, 1), MaskCorePaint);
    EXPECT_EQ(at(3, 1), MaskCorePaint);
    EXPECT_EQ(at(4, 1), MaskSoftPaint);
    EXPECT_EQ(at(2, 2), MaskSoftPaint);
    EXPECT_EQ(at(4, 2), MaskUnpainted);
    int painted = 0;
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            painted += at(x, y) != MaskUnpainted;
    EXPECT_EQ(painted, 5);

    brush->EraseMaskTo(*mask, 2, 1, {1, 1, 3, 2});
    EXPECT_EQ(at(2, 1), MaskUnpainted);
    EXPECT_EQ(at(3, 1), MaskUnpainted);
    EXPECT_EQ(at(4, 1), MaskSoftPaint);
    EXPECT_EQ(at(2, 2), MaskSoftPaint);
    EXPECT_EQ(at(3, 2), MaskSoftPaint);
}

} // namespace
