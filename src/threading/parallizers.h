#pragma once
// The parallel forms of the surface's fill, copy and alpha blend: the
// rectangle is cut into one horizontal band per worker, and each worker runs
// the serial surface routine on its band. The bands are disjoint and each
// band's pixels depend on that band alone, so the result is the serial one.
#include "graphics/rectangle.h"
#include "graphics/types.h"
#include "threading/threading.h"

#include <functional>
#include <memory>
#include <vector>

namespace Corvanith::Graphics {
class TCorvSurface;
}

namespace Corvanith::Parallizers {

class TCorvClearBlendColorJob : public Threading::TCorvJob {
public:
    void Setup(Graphics::TCorvSurface& Surface, const Graphics::TCorvRectangle& Rect, Graphics::TCorvColor Color);
    void Execute() override;

    Graphics::TCorvSurface* Surface() const { return FSurface; }
    const Graphics::TCorvRectangle& Rect() const { return FRect; }
    Graphics::TCorvColor Color() const { return FColor; }

private:
    Graphics::TCorvSurface* FSurface = nullptr;
    Graphics::TCorvRectangle FRect;
    Graphics::TCorvColor FColor = 0;
};

// A band of Source (Rect, in Source coordinates) and where its top-left
// corner lands in Dest.
class TCorvSurfaceBandJob : public Threading::TCorvJob {
public:
    void Setup(const Graphics::TCorvSurface& Source, Graphics::TCorvSurface& Dest, int32_t X, int32_t Y,
               const Graphics::TCorvRectangle& Rect);

    const Graphics::TCorvSurface* Source() const { return FSource; }
    Graphics::TCorvSurface* Dest() const { return FDest; }
    int32_t X() const { return FX; }
    int32_t Y() const { return FY; }
    const Graphics::TCorvRectangle& Rect() const { return FRect; }

private:
    const Graphics::TCorvSurface* FSource = nullptr;
    Graphics::TCorvSurface* FDest = nullptr;
    int32_t FX = 0;
    int32_t FY = 0;
    Graphics::TCorvRectangle FRect;
};

class TCorvClearBlendSurfaceJob : public TCorvSurfaceBandJob {
public:
    void Execute() override;
};

class TCorvAlphaBlendSurfaceJob : public TCorvSurfaceBandJob {
public:
    void Execute() override;
};

// Jobs owned, and the same jobs as RunJobs takes them.
template <class TJob>
struct TCorvJobs {
    std::vector<std::unique_ptr<TJob>> Owned;
    Threading::TCorvJobArray View;
};

// ThreadCount new jobs, in index order.
template <class TJob>
TCorvJobs<TJob> CreateJobs()
{
    TCorvJobs<TJob> jobs;
    for (int32_t i = 0; i < Threading::ThreadCount(); ++i) {
        jobs.Owned.push_back(std::make_unique<TJob>());
        jobs.View.push_back(jobs.Owned.back().get());
    }
    return jobs;
}

template <class TJob>
void FreeJobs(TCorvJobs<TJob>& Jobs)
{
    Jobs.View.clear();
    Jobs.Owned.clear();
}

struct TCorvParallelJobs {
    TCorvJobs<TCorvClearBlendColorJob> ClearBlendColorJobs;
    TCorvJobs<TCorvClearBlendSurfaceJob> ClearBlendSurfaceJobs;
    TCorvJobs<TCorvAlphaBlendSurfaceJob> AlphaBlendSurfaceJobs;
};

// The module's job arrays, as many jobs each as the pool has workers.
const TCorvParallelJobs& ParallelJobs();
// Puts Jobs in place of the module's arrays and hands back the ones before.
TCorvParallelJobs ExchangeParallelJobs(TCorvParallelJobs Jobs);

void CreateClearBlendColorJobs();
void CreateClearBlendSurfaceJobs();
void CreateAlphaBlendSurfaceJobs();
void FreeClearBlendColorJobs();
void FreeClearBlendSurfaceJobs();
void FreeAlphaBlendSurfaceJobs();

// Called by the surface routines on the main thread once ShouldParallelize
// said yes for Rect. Rect is in Surface (Source) coordinates; (X, Y) is where
// its top-left corner lands in Dest.
void ParallelClearBlendColor(Graphics::TCorvSurface& Surface, const Graphics::TCorvRectangle& Rect,
                             Graphics::TCorvColor Color);
void ParallelClearBlendSurface(const Graphics::TCorvSurface& Source, Graphics::TCorvSurface& Dest, int32_t X,
                               int32_t Y, const Graphics::TCorvRectangle& Rect);
void ParallelAlphaBlendSurface(const Graphics::TCorvSurface& Source, Graphics::TCorvSurface& Dest, int32_t X,
                               int32_t Y, const Graphics::TCorvRectangle& Rect);

// For its lifetime a pool of its own, with job arrays to match, stands in for
// the process-wide one; afterwards the one before is back, untouched. Lets a
// benchmark or test run with any number of workers and either setting.
class TCorvParallelScope {
public:
    TCorvParallelScope(const Threading::TCorvThreadCounts& Counts, std::function<bool()> UseMultipleThreads);
    TCorvParallelScope(const TCorvParallelScope&) = delete;
    TCorvParallelScope& operator=(const TCorvParallelScope&) = delete;
    ~TCorvParallelScope();

private:
    std::unique_ptr<Threading::TCorvThreadPool> FSavedPool;
    TCorvParallelJobs FSavedJobs;
};

} // namespace Corvanith::Parallizers
