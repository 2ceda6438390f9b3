#pragma once
// Pictures, maps and a plain reference search shared by the engine tests.
#include "graphics/surface.h"
#include "retargeting/energy.h"
#include "retargeting/instructionset.h"
#include "retargeting/seam_search.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <vector>

namespace RetargetingTest {

using namespace Corvanith::Graphics;
using namespace Corvanith::Graphics::Retargeting;

constexpr TCorvColor Px(int b, int g, int r, int a)
{
    return TCorvColor(b) | TCorvColor(g) << 8 | TCorvColor(r) << 16 | TCorvColor(a) << 24;
}

// Pixels row by row.
inline std::unique_ptr<TCorvSurface> MakeSurface(int32_t w, int32_t h, const std::vector<TCorvColor>& pixels)
{
    EXPECT_EQ(pixels.size(), size_t(w) * size_t(h));
    auto s = TCorvSurface::Create(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            *s->GetPixelPtr(x, y) = pixels[size_t(y) * size_t(w) + size_t(x)];
    return s;
}

inline std::vector<TCorvColor> Pixels(const TCorvSurface& s)
{
    std::vector<TCorvColor> p;
    for (int32_t y = 0; y < s.Height(); ++y)
        for (int32_t x = 0; x < s.Width(); ++x)
            p.push_back(*s.GetPixelPtr(x, y));
    return p;
}

// Opaque pixels from (blue, green) pairs.
inline std::vector<TCorvColor> BlueGreen(const std::vector<std::pair<int, int>>& bg)
{
    std::vector<TCorvColor> p;
    for (auto [b, g] : bg)
        p.push_back(Px(b, g, 0, 255));
    return p;
}

inline std::vector<int32_t> Costs(const TCorvSurface& map)
{
    std::vector<int32_t> c;
    for (TCorvColor p : Pixels(map))
        c.push_back(SeamCost(p));
    return c;
}

// A map pixel of the given seam cost, 0 to 765.
constexpr TCorvColor CostPixel(int32_t cost)
{
    const int b = cost > 255 ? 255 : cost;
    const int g = cost - b > 255 ? 255 : cost - b;
    return Px(b, g, cost - b - g, 255);
}

inline std::unique_ptr<TCorvSurface> CostMap(int32_t w, int32_t h, const std::vector<int32_t>& costs)
{
    std::vector<TCorvColor> p;
    for (int32_t c : costs)
        p.push_back(CostPixel(c));
    return MakeSurface(w, h, p);
}

// The 5 x 4 picture whose seams change under any other tie order.
inline std::unique_ptr<TCorvSurface> FixtureP()
{
    return MakeSurface(5, 4,
                       {Px(60, 0, 0, 255), Px(0, 0, 0, 0),     Px(30, 0, 0, 255), Px(0, 0, 0, 128),  Px(60, 0, 0, 255),
                        Px(60, 0, 0, 255), Px(30, 0, 0, 255),  Px(0, 0, 0, 255),  Px(30, 0, 0, 255), Px(60, 30, 0, 255),
                        Px(0, 0, 0, 255),  Px(30, 0, 0, 255),  Px(60, 0, 0, 255), Px(30, 0, 0, 255), Px(60, 30, 0, 255),
                        Px(60, 0, 0, 7),   Px(90, 0, 0, 255),  Px(60, 0, 0, 255), Px(90, 0, 0, 255), Px(0, 30, 0, 255)});
}

// A picture whose pixels are drawn from Levels values per channel (few levels
// give many ties).
inline std::unique_ptr<TCorvSurface> RandomSurface(int32_t w, int32_t h, std::mt19937& rng, int levels = 256)
{
    auto s = TCorvSurface::Create(w, h);
    std::uniform_int_distribution<int> v(0, levels - 1);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            *s->GetPixelPtr(x, y) = Px(v(rng) * 255 / std::max(levels - 1, 1), v(rng) * 255 / std::max(levels - 1, 1),
                                       v(rng) * 255 / std::max(levels - 1, 1), v(rng));
    return s;
}

// The search as plainly written as it can be: one full table of 64-bit path
// costs per pixel with a sentinel no path reaches, a direction per pixel.
inline TCorvPointArray ReferenceSeam(const TCorvSurface& map, bool vertical, const TRandomSource& random)
{
    const int64_t lines = vertical ? map.Height() : map.Width();
    const int64_t count = vertical ? map.Width() : map.Height();
    if (lines == 0 || count == 0)
        return {};
    auto cost = [&](int64_t l, int64_t i) {
        return int64_t(SeamCost(vertical ? *map.GetPixelPtr(int32_t(i), int32_t(l))
                                         : *map.GetPixelPtr(int32_t(l), int32_t(i))));
    };
    const int64_t sentinel = std::numeric_limits<int64_t>::max() / 4;
    std::vector<int64_t> c(size_t(lines * (count + 2)), sentinel);
    std::vector<int8_t> d(size_t(lines * (count + 2)), 0);
    auto at = [&](int64_t l, int64_t i) { return size_t(l * (count + 2) + i + 1); };
    for (int64_t i = 0; i < count; ++i)
        c[at(0, i)] = cost(0, i);
    for (int64_t l = 1; l < lines; ++l)
        for (int64_t i = 0; i < count; ++i) {
            const int64_t a = c[at(l - 1, i - 1)], b = c[at(l - 1, i)], cc = c[at(l - 1, i + 1)];
            int64_t m = a;
            if (b <= m)
                m = b;
            if (cc <= m)
                m = cc;
            c[at(l, i)] = cost(l, i) + m;
            d[at(l, i)] = m == b ? 0 : (m == a ? -1 : 1);
        }
    int64_t best = 0, least = c[at(lines - 1, 0)];
    int32_t k = 1;
    for (int64_t i = 1; i < count; ++i) {
        const int64_t v = c[at(lines - 1, i)];
        if (v < least) {
            best = i;
            least = v;
            k = 1;
        } else if (v == least) {
            ++k;
            if (random(k) == 0)
                best = i;
        }
    }
    TCorvPointArray seam(static_cast<size_t>(lines));
    int64_t i = best;
    for (int64_t n = 0; n < lines; ++n) {
        const int64_t l = lines - 1 - n;
        seam[size_t(n)] = vertical ? TCorvPoint{int32_t(i), int32_t(l)} : TCorvPoint{int32_t(l), int32_t(i)};
        if (l > 0)
            i += d[at(l, i)];
    }
    return seam;
}

inline int64_t SeamTotal(const TCorvSurface& map, const TCorvPointArray& seam)
{
    int64_t total = 0;
    for (const TCorvPoint& p : seam)
        total += SeamCost(*map.GetPixelPtr(p.X, p.Y));
    return total;
}

// A random source that fails the test when drawn from.
inline int32_t NoDraw(int32_t k)
{
    ADD_FAILURE() << "unexpected random draw for " << k;
    return 0;
}

// Holds the search to 64-bit path costs from Lines lines on while it lives.
class TWidePathCostsFrom {
public:
    explicit TWidePathCostsFrom(int32_t Lines) : FSaved(WidePathCostLines()) { SetWidePathCostLines(Lines); }
    ~TWidePathCostsFrom() { SetWidePathCostLines(FSaved); }
    TWidePathCostsFrom(const TWidePathCostsFrom&) = delete;
    TWidePathCostsFrom& operator=(const TWidePathCostsFrom&) = delete;

private:
    const int32_t FSaved;
};

// Runs Body with the engine held to SSE2, as on a processor without AVX2,
// then with the widest set this processor has.
inline void ForEachInstructionSet(const std::function<void()>& Body)
{
    const TInstructionSet widest = InstructionSet();
    for (TInstructionSet set : {TInstructionSet::Sse2, widest}) {
        SetInstructionSet(set);
        SCOPED_TRACE(set == TInstructionSet::Avx2 ? "AVX2" : "SSE2");
        Body();
    }
    SetInstructionSet(widest);
}

} // namespace RetargetingTest
