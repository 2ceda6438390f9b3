#include "graphics/imagingcore.h"

#include "graphics/gradientmanager.h"
#include "threading/parallizers.h"
#include "threading/threading.h"

namespace Corvanith::Graphics {

void InitializeImagingCore()
{
    Threading::InitializeThreading(true);
    Parallizers::CreateClearBlendColorJobs();
    Parallizers::CreateClearBlendSurfaceJobs();
    Parallizers::CreateAlphaBlendSurfaceJobs();
    TCorvGradientManager::Initialize(16);
}

void FinalizeImagingCore()
{
    TCorvGradientManager::Finalize();
    Parallizers::FreeClearBlendColorJobs();
    Parallizers::FreeClearBlendSurfaceJobs();
    Parallizers::FreeAlphaBlendSurfaceJobs();
    Threading::FinalizeThreading();
}

} // namespace Corvanith::Graphics
