#include "graphics/errors.h"
#include "graphics/surface.h"
#include "platform/imaging.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <vector>

using namespace Corvanith;
using namespace Corvanith::Graphics;

namespace {

// Pixels named by letters: 'a' is 0xFF000061 and so on.
std::unique_ptr<TCorvSurface> Letters(int32_t w, int32_t h, char first = 'a')
{
    auto s = TCorvSurface::Create(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            *s->GetPixelPtr(x, y) = 0xFF000000u | TCorvColor(first + y * w + x);
    return s;
}

std::string Row(const TCorvSurface& s, int32_t y, char gap = '_', int32_t gapX = -1)
{
    std::string r;
    for (int32_t x = 0; x < s.Width(); ++x)
        r += x == gapX ? gap : char(*s.GetPixelPtr(x, y) & 0xFF);
    return r;
}

std::string Column(const TCorvSurface& s, int32_t x, int32_t gapY = -1)
{
    std::string c;
    for (int32_t y = 0; y < s.Height(); ++y)
        c += y == gapY ? '_' : char(*s.GetPixelPtr(x, y) & 0xFF);
    return c;
}

TEST(SurfaceSeams, RemoveVerticalCompactsTheRows)
{
    auto s = Letters(4, 2);
    s->GetGPBitmap();
    s->RemoveVerticalSeam({{2, 1}, {1, 0}});
    EXPECT_EQ(s->Width(), 3);
    EXPECT_EQ(s->Stride(), 12);
    EXPECT_EQ(Row(*s, 0), "acd");
    EXPECT_EQ(Row(*s, 1), "efh");
    const TCorvColor* buffer = reinterpret_cast<const TCorvColor*>(s->Bits());
    std::string flat;
    for (int i = 0; i < 6; ++i)
        flat += char(buffer[i] & 0xFF);
    EXPECT_EQ(flat, "acdefh");
    EXPECT_EQ(char(*s->GetPixelPtr(0, 1) & 0xFF), 'e');
    // The cache was freed: a new bitmap wraps the narrower geometry.
    EXPECT_EQ(s->GetGPBitmap().Image().width(), 3);
}

TEST(SurfaceSeams, RemoveVerticalAtTheEdges)
{
    auto s = Letters(3, 2);
    s->RemoveVerticalSeam({{2, 1}, {0, 0}});
    EXPECT_EQ(Row(*s, 0), "bc");
    EXPECT_EQ(Row(*s, 1), "de");
}

TEST(SurfaceSeams, RemoveHorizontalMovesThePixelsBelowUp)
{
    auto s = Letters(3, 3);
    // Point i lies in column W - 1 - i.
    s->RemoveHorizontalSeam({{2, 2}, {1, 0}, {0, 1}});
    EXPECT_EQ(s->Height(), 2);
    EXPECT_EQ(s->Stride(), 12);
    EXPECT_EQ(Column(*s, 0), "ag");
    EXPECT_EQ(Column(*s, 1), "eh");
    EXPECT_EQ(Column(*s, 2), "cf");
}

TEST(SurfaceSeams, RemoveHorizontalOnAnEmptyRowChangesOnlyTheHeight)
{
    auto s = TCorvSurface::Create(0, 3);
    s->RemoveHorizontalSeam({});
    EXPECT_EQ(s->Height(), 2);
    EXPECT_EQ(s->Width(), 0);
}

TEST(SurfaceSeams, InsertLeavesTheGapAfterTheSeamPixel)
{
    auto v = Letters(2, 2);
    v->InsertVerticalSeam({{1, 1}, {0, 0}});
    EXPECT_EQ(v->Width(), 3);
    EXPECT_TRUE(v->HasAlpha());
    EXPECT_EQ(Row(*v, 0, '_', 1), "a_b");
    EXPECT_EQ(Row(*v, 1, '_', 2), "cd_");

    auto h = Letters(2, 3);
    h->InsertHorizontalSeam({{1, 2}, {0, 0}});
    EXPECT_EQ(h->Height(), 4);
    EXPECT_EQ(Column(*h, 0, 1), "a_ce");
    EXPECT_EQ(Column(*h, 1, 3), "bdf_");
}

TEST(SurfaceSeams, RemoveThenInsertRestoresAllButTheGap)
{
    std::mt19937 rng(7);
    for (int trial = 0; trial < 20; ++trial) {
        const int32_t w = 2 + int32_t(rng() % 30), h = 1 + int32_t(rng() % 30);
        auto s = Letters(w, h, 0);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                *s->GetPixelPtr(x, y) = rng();
        std::vector<std::vector<TCorvColor>> before(static_cast<size_t>(h));
        for (int32_t y = 0; y < h; ++y)
            before[size_t(y)].assign(s->GetPixelPtr(0, y), s->GetPixelPtr(0, y) + w);
        // A connected seam with every x at least 1.
        TCorvPointArray seam(static_cast<size_t>(h));
        int32_t x = 1 + int32_t(rng() % uint32_t(w - 1));
        for (int32_t i = 0; i < h; ++i) {
            seam[size_t(i)] = {x, h - 1 - i};
            x = std::clamp(x + int32_t(rng() % 3) - 1, 1, w - 1);
        }
        s->RemoveVerticalSeam(seam);
        TCorvPointArray back = seam;
        for (auto& p : back)
            --p.X;
        s->InsertVerticalSeam(back);
        ASSERT_EQ(s->Width(), w);
        for (const TCorvPoint& p : seam)
            for (int32_t cx = 0; cx < w; ++cx)
                if (cx != p.X) {
                    ASSERT_EQ(*s->GetPixelPtr(cx, p.Y), before[size_t(p.Y)][size_t(cx)]);
                }
    }
}

TEST(SurfaceSeams, HorizontalRemoveThenInsertRestoresAllButTheGap)
{
    std::mt19937 rng(11);
    for (int trial = 0; trial < 20; ++trial) {
        const int32_t w = 1 + int32_t(rng() % 30), h = 2 + int32_t(rng() % 30);
        auto s = TCorvSurface::Create(w, h);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                *s->GetPixelPtr(x, y) = rng();
        std::vector<TCorvColor> before(s->GetPixelPtr(0, 0), s->GetPixelPtr(0, 0) + size_t(w) * size_t(h));
        TCorvPointArray seam(static_cast<size_t>(w));
        int32_t y = 1 + int32_t(rng() % uint32_t(h - 1));
        for (int32_t i = 0; i < w; ++i) {
            seam[size_t(i)] = {w - 1 - i, y};
            y = std::clamp(y + int32_t(rng() % 3) - 1, 1, h - 1);
        }
        s->RemoveHorizontalSeam(seam);
        TCorvPointArray back = seam;
        for (auto& p : back)
            --p.Y;
        s->InsertHorizontalSeam(back);
        ASSERT_EQ(s->Height(), h);
        for (const TCorvPoint& p : seam)
            for (int32_t cy = 0; cy < h; ++cy)
                if (cy != p.Y) {
                    ASSERT_EQ(*s->GetPixelPtr(p.X, cy), before[size_t(cy) * size_t(w) + size_t(p.X)]);
                }
    }
}

TEST(SurfaceSeams, MismatchedSeamsThrowAndChangeNothing)
{
    auto s = Letters(3, 2);
    EXPECT_THROW(s->RemoveVerticalSeam({{0, 0}}), EArgumentError);
    EXPECT_THROW(s->RemoveVerticalSeam({{3, 1}, {0, 0}}), EArgumentError);
    EXPECT_THROW(s->RemoveHorizontalSeam({{0, 0}, {0, 0}}), EArgumentError);
    EXPECT_THROW(s->RemoveHorizontalSeam({{2, 0}, {1, 2}, {0, 0}}), EArgumentError);
    EXPECT_THROW(s->InsertVerticalSeam({{0, 0}, {-1, 1}}), EArgumentError);
    EXPECT_THROW(s->InsertHorizontalSeam({{0, 0}, {1, 0}}), EArgumentError);
    EXPECT_EQ(s->Width(), 3);
    EXPECT_EQ(s->Height(), 2);
    EXPECT_EQ(Row(*s, 0), "abc");
    EXPECT_EQ(Row(*s, 1), "def");
}

} // namespace

TEST(SurfaceSeams, HorizontalSeamsAlongTheLastRow)
{
    // Wide enough for the four-pixel paths; the seam lies on the last row but
    // in column 3.
    auto s = Letters(6, 3);
    const TCorvPointArray seam{{5, 2}, {4, 2}, {3, 1}, {2, 2}, {1, 2}, {0, 2}};
    s->InsertHorizontalSeam(seam);
    ASSERT_EQ(s->Height(), 4);
    EXPECT_EQ(Column(*s, 0, 3), "agm_");
    EXPECT_EQ(Column(*s, 3, 2), "dj_p");
    EXPECT_EQ(Column(*s, 5, 3), "flr_");
    // Taking the gaps out again, on the last row too, gives the picture back.
    TCorvPointArray gaps = seam;
    for (TCorvPoint& p : gaps)
        ++p.Y;
    s->RemoveHorizontalSeam(gaps);
    ASSERT_EQ(s->Height(), 3);
    EXPECT_EQ(Row(*s, 0), "abcdef");
    EXPECT_EQ(Row(*s, 1), "ghijkl");
    EXPECT_EQ(Row(*s, 2), "mnopqr");
}

namespace {

// A plain model of the picture: rows of pixels, with inserted pixels unknown
// until something writes them.
using TModel = std::vector<std::vector<std::optional<TCorvColor>>>;

TCorvPointArray RandomSeam(std::mt19937& rng, int32_t Length, int32_t Across, bool Horizontal)
{
    TCorvPointArray seam(static_cast<size_t>(Length));
    int32_t a = int32_t(rng() % uint32_t(Across));
    for (int32_t i = 0; i < Length; ++i) {
        seam[size_t(i)] = Horizontal ? TCorvPoint{Length - 1 - i, a} : TCorvPoint{a, Length - 1 - i};
        a = std::clamp(a + int32_t(rng() % 3) - 1, 0, Across - 1);
    }
    return seam;
}

void ExpectMatches(const TCorvSurface& s, const TModel& model)
{
    ASSERT_EQ(size_t(s.Height()), model.size());
    for (int32_t y = 0; y < s.Height(); ++y) {
        ASSERT_EQ(size_t(s.Width()), model[size_t(y)].size());
        for (int32_t x = 0; x < s.Width(); ++x)
            if (model[size_t(y)][size_t(x)]) {
                ASSERT_EQ(*s.GetPixelPtr(x, y), *model[size_t(y)][size_t(x)]) << x << ", " << y;
            }
    }
}

} // namespace

TEST(SurfaceSeams, RunsOfInsertionsAndRemovalsKeepEveryPixel)
{
    // Insertions reuse the room earlier growth and removals left: long mixed
    // runs must move every known pixel exactly as a plain model does.
    std::mt19937 rng(2024);
    const int32_t w0 = 23, h0 = 17;
    auto s = TCorvSurface::Create(w0, h0);
    TModel model(static_cast<size_t>(h0), std::vector<std::optional<TCorvColor>>(static_cast<size_t>(w0)));
    for (int32_t y = 0; y < h0; ++y)
        for (int32_t x = 0; x < w0; ++x)
            model[size_t(y)][size_t(x)] = *s->GetPixelPtr(x, y) = rng();
    for (int step = 0; step < 120; ++step) {
        const bool horizontal = rng() % 2 == 0;
        const bool insert = step < 40 || rng() % 3 != 0;
        if (horizontal) {
            const TCorvPointArray seam = RandomSeam(rng, s->Width(), s->Height(), true);
            if (insert) {
                s->InsertHorizontalSeam(seam);
                const size_t oldHeight = model.size();
                model.emplace_back(static_cast<size_t>(s->Width()));
                for (const TCorvPoint& p : seam) {
                    std::vector<std::optional<TCorvColor>> column(oldHeight);
                    for (size_t y = 0; y < oldHeight; ++y)
                        column[y] = model[y][size_t(p.X)];
                    column.insert(column.begin() + p.Y + 1, std::nullopt);
                    for (size_t y = 0; y < column.size(); ++y)
                        model[y][size_t(p.X)] = column[y];
                }
            } else if (s->Height() > 1) {
                s->RemoveHorizontalSeam(seam);
                for (const TCorvPoint& p : seam) {
                    for (size_t y = size_t(p.Y); y + 1 < model.size(); ++y)
                        model[y][size_t(p.X)] = model[y + 1][size_t(p.X)];
                }
                model.pop_back();
            }
        } else {
            const TCorvPointArray seam = RandomSeam(rng, s->Height(), s->Width(), false);
            if (insert) {
                s->InsertVerticalSeam(seam);
                for (const TCorvPoint& p : seam)
                    model[size_t(p.Y)].insert(model[size_t(p.Y)].begin() + p.X + 1, std::nullopt);
            } else if (s->Width() > 1) {
                s->RemoveVerticalSeam(seam);
                for (const TCorvPoint& p : seam)
                    model[size_t(p.Y)].erase(model[size_t(p.Y)].begin() + p.X);
            }
        }
        EXPECT_TRUE(s->HasAlpha() || !insert);
        ASSERT_NO_FATAL_FAILURE(ExpectMatches(*s, model)) << "step " << step;
        // The bitmap always wraps the present buffer and geometry; a painter
        // left open on it is ended before the next step replaces the buffer.
        ASSERT_EQ(s->GetGPBitmap().Image().constBits(), s->Bits());
        ASSERT_EQ(s->GetGPBitmap().Image().width(), s->Width());
        ASSERT_EQ(s->GetGPBitmap().Image().height(), s->Height());
        ASSERT_TRUE(s->GetGPGraphics().Painter().isActive());
    }
}

TEST(SurfaceSeams, HorizontalSeamsWithLongFlatRuns)
{
    // A photo's horizontal seam runs flat for long stretches: whole runs of
    // columns lie above or below a row of its band, next to columns it
    // crosses there. Each width puts the steps at other places in the rows.
    for (const int32_t w : {1, 15, 16, 17, 33, 48, 70, 131}) {
        std::mt19937 rng{uint32_t(w)};
        const int32_t h = 12;
        auto s = TCorvSurface::Create(w, h);
        TModel model(static_cast<size_t>(h), std::vector<std::optional<TCorvColor>>(static_cast<size_t>(w)));
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                model[size_t(y)][size_t(x)] = *s->GetPixelPtr(x, y) = rng();
        // Steps of one row every few to some dozens of columns, between rows 2 and 9.
        TCorvPointArray seam(static_cast<size_t>(w));
        int32_t y = 2 + int32_t(rng() % 8), run = 0;
        for (int32_t i = 0; i < w; ++i) {
            if (--run < 0) {
                run = 3 + int32_t(rng() % 40);
                y = std::clamp(y + (rng() % 2 == 0 ? 1 : -1), 2, 9);
            }
            seam[size_t(i)] = {w - 1 - i, y};
        }
        s->RemoveHorizontalSeam(seam);
        for (const TCorvPoint& p : seam)
            for (size_t cy = size_t(p.Y); cy + 1 < model.size(); ++cy)
                model[cy][size_t(p.X)] = model[cy + 1][size_t(p.X)];
        model.pop_back();
        ASSERT_NO_FATAL_FAILURE(ExpectMatches(*s, model)) << "removal, width " << w;
        // Inserted back one row higher: the gaps land where the seam was.
        TCorvPointArray back = seam;
        for (TCorvPoint& p : back)
            --p.Y;
        s->InsertHorizontalSeam(back);
        model.emplace_back(static_cast<size_t>(w));
        for (const TCorvPoint& p : back) {
            for (size_t cy = model.size() - 1; cy > size_t(p.Y) + 1; --cy)
                model[cy][size_t(p.X)] = model[cy - 1][size_t(p.X)];
            model[size_t(p.Y) + 1][size_t(p.X)] = std::nullopt;
        }
        ASSERT_NO_FATAL_FAILURE(ExpectMatches(*s, model)) << "insertion, width " << w;
    }
}

TEST(SurfaceSeams, InsertionsRefuseToGrowPastAddressableSizes)
{
    // Surfaces without pixels can still be too high or too wide to grow.
    auto high = TCorvSurface::Create(0, INT32_MAX);
    EXPECT_THROW(high->InsertHorizontalSeam({}), ERangeError);
    EXPECT_EQ(high->Height(), INT32_MAX);
    auto wide = TCorvSurface::Create(INT32_MAX / 4, 0);
    EXPECT_THROW(wide->InsertVerticalSeam({}), ERangeError);
    EXPECT_EQ(wide->Width(), INT32_MAX / 4);
}

TEST(SurfaceSeams, MoveBackwardMovesOverlappingRunsWhole)
{
    // Distances below, at and above one block of the loop, lengths around its
    // multiples, and the run moved onto itself.
    for (size_t distance : {0, 1, 3, 4, 16, 63, 64, 65, 200})
        for (size_t bytes : {0, 1, 15, 63, 64, 65, 127, 128, 129, 1000}) {
            std::vector<uint8_t> buffer(bytes + distance + 8);
            for (size_t i = 0; i < buffer.size(); ++i)
                buffer[i] = uint8_t(i * 7 + 1);
            std::vector<uint8_t> expected = buffer;
            std::copy(buffer.begin() + 3, buffer.begin() + 3 + std::ptrdiff_t(bytes),
                      expected.begin() + 3 + std::ptrdiff_t(distance));
            MoveBackward(buffer.data() + 3 + distance, buffer.data() + 3, bytes);
            EXPECT_EQ(buffer, expected) << distance << " " << bytes;
        }
}
