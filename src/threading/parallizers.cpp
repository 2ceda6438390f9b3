#include "threading/parallizers.h"

#include "graphics/surface.h"

namespace Corvanith::Parallizers {

using Graphics::TCorvColor;
using Graphics::TCorvRectangle;
using Graphics::TCorvRectangleArray;
using Graphics::TCorvSurface;

void TCorvClearBlendColorJob::Setup(TCorvSurface& Surface, const TCorvRectangle& Rect, TCorvColor Color)
{
    FSurface = &Surface;
    FRect = Rect;
    FColor = Color;
}

void TCorvClearBlendColorJob::Execute()
{
    FSurface->FillRect(FRect, FColor);
    TCorvJob::Execute();
}

void TCorvSurfaceBandJob::Setup(const TCorvSurface& Source, TCorvSurface& Dest, int32_t X, int32_t Y,
                                const TCorvRectangle& Rect)
{
    FSource = &Source;
    FDest = &Dest;
    FX = X;
    FY = Y;
    FRect = Rect;
}

void TCorvClearBlendSurfaceJob::Execute()
{
    Source()->CopyTo(*Dest(), X(), Y(), Rect());
    TCorvJob::Execute();
}

void TCorvAlphaBlendSurfaceJob::Execute()
{
    Source()->AlphaBlendTo(*Dest(), X(), Y(), Rect());
    TCorvJob::Execute();
}

namespace {

TCorvParallelJobs GJobs;

TCorvRectangleArray Bands(const TCorvRectangle& Rect, size_t Count)
{
    TCorvRectangleArray bands;
    Graphics::SplitRectangle(Rect, int32_t(Count), bands);
    return bands;
}

// Every band keeps column X and lands as many rows below Y as it lies below
// the top of Rect.
template <class TJob>
void RunBands(TCorvJobs<TJob>& Jobs, const TCorvSurface& Source, TCorvSurface& Dest, int32_t X, int32_t Y,
              const TCorvRectangle& Rect)
{
    const TCorvRectangleArray bands = Bands(Rect, Jobs.Owned.size());
    for (size_t i = 0; i < bands.size(); ++i)
        Jobs.Owned[i]->Setup(Source, Dest, X, Y + (bands[i].Y - Rect.Y), bands[i]);
    Threading::RunJobs(Jobs.View);
}

} // namespace

const TCorvParallelJobs& ParallelJobs() { return GJobs; }

TCorvParallelJobs ExchangeParallelJobs(TCorvParallelJobs Jobs)
{
    std::swap(GJobs, Jobs);
    return Jobs;
}

void CreateClearBlendColorJobs() { GJobs.ClearBlendColorJobs = CreateJobs<TCorvClearBlendColorJob>(); }
void CreateClearBlendSurfaceJobs() { GJobs.ClearBlendSurfaceJobs = CreateJobs<TCorvClearBlendSurfaceJob>(); }
void CreateAlphaBlendSurfaceJobs() { GJobs.AlphaBlendSurfaceJobs = CreateJobs<TCorvAlphaBlendSurfaceJob>(); }
void FreeClearBlendColorJobs() { FreeJobs(GJobs.ClearBlendColorJobs); }
void FreeClearBlendSurfaceJobs() { FreeJobs(GJobs.ClearBlendSurfaceJobs); }
void FreeAlphaBlendSurfaceJobs() { FreeJobs(GJobs.AlphaBlendSurfaceJobs); }

void ParallelClearBlendColor(TCorvSurface& Surface, const TCorvRectangle& Rect, TCorvColor Color)
{
    auto& jobs = GJobs.ClearBlendColorJobs;
    const TCorvRectangleArray bands = Bands(Rect, jobs.Owned.size());
    for (size_t i = 0; i < bands.size(); ++i)
        jobs.Owned[i]->Setup(Surface, bands[i], Color);
    Threading::RunJobs(jobs.View);
}

void ParallelClearBlendSurface(const TCorvSurface& Source, TCorvSurface& Dest, int32_t X, int32_t Y,
                               const TCorvRectangle& Rect)
{
    RunBands(GJobs.ClearBlendSurfaceJobs, Source, Dest, X, Y, Rect);
}

void ParallelAlphaBlendSurface(const TCorvSurface& Source, TCorvSurface& Dest, int32_t X, int32_t Y,
                               const TCorvRectangle& Rect)
{
    RunBands(GJobs.AlphaBlendSurfaceJobs, Source, Dest, X, Y, Rect);
}

TCorvParallelScope::TCorvParallelScope(const Threading::TCorvThreadCounts& Counts,
                                       std::function<bool()> UseMultipleThreads)
    : FSavedPool(Threading::ExchangePool(
          std::make_unique<Threading::TCorvThreadPool>(Counts, std::move(UseMultipleThreads)))),
      FSavedJobs(ExchangeParallelJobs({}))
{
    CreateClearBlendColorJobs();
    CreateClearBlendSurfaceJobs();
    CreateAlphaBlendSurfaceJobs();
}

TCorvParallelScope::~TCorvParallelScope()
{
    ExchangeParallelJobs(std::move(FSavedJobs));
    Threading::ExchangePool(std::move(FSavedPool));
}

} // namespace Corvanith::Parallizers
