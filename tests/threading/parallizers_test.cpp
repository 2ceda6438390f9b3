#include "graphics/surface.h"
#include "threading/parallizers.h"

#include <gtest/gtest.h>

using namespace Corvanith;
using namespace Corvanith::Graphics;
using namespace Corvanith::Parallizers;

namespace {

// A pool of Workers workers with the multithreading setting as given.
class TPool : public TCorvParallelScope {
public:
    TPool(int32_t Workers, bool UseMultipleThreads)
        : TCorvParallelScope({Workers, Workers, Workers}, [UseMultipleThreads] { return UseMultipleThreads; })
    {
    }
};

std::unique_ptr<TCorvSurface> Random(int32_t w, int32_t h, uint32_t seed)
{
    auto s = TCorvSurface::Create(w, h);
    uint32_t v = seed;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            v = v * 1664525u + 1013904223u;
            // Every alpha class: clear, opaque and translucent pixels.
            const uint32_t a = (v >> 8) % 3 == 0 ? 0u : (v >> 8) % 3 == 1 ? 255u : (v >> 24);
            *s->GetPixelPtr(x, y) = (a << 24) | (v & 0x00FFFFFF);
        }
    return s;
}

std::vector<TCorvColor> Pixels(const TCorvSurface& s)
{
    const TCorvColor* p = s.GetPixelPtr(0, 0);
    return {p, p + size_t(s.Width()) * size_t(s.Height())};
}

std::vector<TCorvRectangle> JobRects(const auto& Jobs)
{
    std::vector<TCorvRectangle> rects;
    for (const auto& job : Jobs.Owned)
        rects.push_back(job->Rect());
    return rects;
}

TEST(Parallizers, ScopeInstallsItsPoolAndRestoresTheOneBefore)
{
    const int32_t before = Threading::ThreadCount();
    {
        TPool pool(4, true);
        EXPECT_EQ(Threading::ThreadCount(), 4);
        EXPECT_EQ(ParallelJobs().ClearBlendColorJobs.Owned.size(), 4u);
        EXPECT_EQ(ParallelJobs().ClearBlendSurfaceJobs.View.size(), 4u);
        EXPECT_EQ(ParallelJobs().AlphaBlendSurfaceJobs.Owned.size(), 4u);
        EXPECT_TRUE(Threading::ShouldParallelize({0, 0, 257, 257}));
        {
            TPool off(2, false);
            EXPECT_FALSE(Threading::ShouldParallelize({0, 0, 1000, 1000}));
        }
        EXPECT_EQ(Threading::ThreadCount(), 4);
    }
    EXPECT_EQ(Threading::ThreadCount(), before);
    EXPECT_EQ(ParallelJobs().ClearBlendColorJobs.Owned.size(), size_t(before));
}

TEST(Parallizers, BandsAndLandingPlaces)
{
    {
        TPool pool(2, true);
        auto s = TCorvSurface::Create(300, 301);
        s->FillRect({0, 0, 300, 301}, 0xFF102030);
        EXPECT_EQ(JobRects(ParallelJobs().ClearBlendColorJobs),
                  (std::vector<TCorvRectangle>{{0, 0, 300, 150}, {0, 150, 300, 151}}));
        EXPECT_EQ(ParallelJobs().ClearBlendColorJobs.Owned[1]->Surface(), s.get());
        EXPECT_EQ(Pixels(*s), std::vector<TCorvColor>(300 * 301, 0xFF102030));

        auto source = Random(410, 320, 1);
        auto dest = TCorvSurface::Create(500, 350);
        source->CopyTo(*dest, 100, 50, {10, 20, 400, 300});
        const auto& copies = ParallelJobs().ClearBlendSurfaceJobs.Owned;
        EXPECT_EQ(copies[0]->Rect(), (TCorvRectangle{10, 20, 400, 150}));
        EXPECT_EQ(copies[0]->X(), 100);
        EXPECT_EQ(copies[0]->Y(), 50);
        EXPECT_EQ(copies[1]->Rect(), (TCorvRectangle{10, 170, 400, 150}));
        EXPECT_EQ(copies[1]->X(), 100);
        EXPECT_EQ(copies[1]->Y(), 200);
        EXPECT_EQ(copies[1]->Source(), source.get());
        EXPECT_EQ(copies[1]->Dest(), dest.get());
    }
    TPool pool(4, true);
    auto source = Random(1000, 1001, 2);
    auto dest = Random(1000, 1001, 3);
    source->AlphaBlendTo(*dest, 0, 0, {0, 0, 1000, 1001});
    EXPECT_EQ(JobRects(ParallelJobs().AlphaBlendSurfaceJobs),
              (std::vector<TCorvRectangle>{{0, 0, 1000, 250}, {0, 250, 1000, 250}, {0, 500, 1000, 250},
                                           {0, 750, 1000, 251}}));
}

// The surface routines under a pool of Workers, on a fresh pair of surfaces.
struct TResult {
    std::vector<TCorvColor> Filled;
    std::vector<TCorvColor> Copied;
    std::vector<TCorvColor> Blended;
};

TResult RunAll(int32_t Workers, bool UseMultipleThreads, int32_t w, int32_t h)
{
    TPool pool(Workers, UseMultipleThreads);
    TResult r;
    // Source rectangle off the origin, landing at an offset in a larger destination.
    const TCorvRectangle srcRect{3, 5, w - 7, h - 9};
    auto source = Random(w, h, 11);
    auto copyDest = Random(w + 13, h + 17, 12);
    source->CopyTo(*copyDest, 9, 4, srcRect);
    r.Copied = Pixels(*copyDest);
    auto blendDest = Random(w + 13, h + 17, 13);
    source->AlphaBlendTo(*blendDest, 2, 15, srcRect);
    r.Blended = Pixels(*blendDest);
    auto filled = Random(w, h, 14);
    filled->FillRect({1, 2, w - 3, h - 2}, 0x80C0FFEE);
    r.Filled = Pixels(*filled);
    return r;
}

TEST(Parallizers, ParallelResultsEqualTheSerialOnesByteForByte)
{
    for (const auto& [w, h] : {std::pair{300, 300}, std::pair{1000, 1001}, std::pair{263, 777}}) {
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        const TResult serial = RunAll(2, false, w, h);
        for (int32_t workers : {2, 4}) {
            SCOPED_TRACE(testing::Message() << workers << " workers");
            const TResult parallel = RunAll(workers, true, w, h);
            EXPECT_EQ(parallel.Filled, serial.Filled);
            EXPECT_EQ(parallel.Copied, serial.Copied);
            EXPECT_EQ(parallel.Blended, serial.Blended);
        }
    }
}

} // namespace
