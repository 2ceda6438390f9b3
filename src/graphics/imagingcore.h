#pragma once
// Set-up and tear-down of the imaging core's process-wide state: the worker
// pool (one worker per processor package), the parallel job arrays sized to
// it, and the gradient cache of 16 runs; torn down in reverse order.
// Initialize after the application object and the settings.
namespace Corvanith::Graphics {

void InitializeImagingCore();
void FinalizeImagingCore();

// Holds the imaging core set up for its lifetime.
class TCorvImagingCore {
public:
    TCorvImagingCore() { InitializeImagingCore(); }
    TCorvImagingCore(const TCorvImagingCore&) = delete;
    TCorvImagingCore& operator=(const TCorvImagingCore&) = delete;
    ~TCorvImagingCore() { FinalizeImagingCore(); }
};

} // namespace Corvanith::Graphics
