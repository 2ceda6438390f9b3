// Painting a shown document: the whole 1920 x 1080 client area of a full-HD
// picture with the standard layers, and the small rectangle a moving brush
// disc repaints, for an opaque picture and one with alpha.
#include "document/document.h"
#include "document/layers.h"
#include "graphics/imagingcore.h"
#include "graphics/surface.h"
#include "io/settings.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include <cstdlib>

using namespace Corvanith;
using namespace Corvanith::Graphics;

namespace {

constexpr int Width = 1920;
constexpr int Height = 1080;

void BM_DocumentPaint(benchmark::State& State)
{
    const bool alpha = State.range(0) != 0;
    const int32_t side = int32_t(State.range(1));
    Document::TCorvDocument doc(TCorvSurface::CreateFilled(Width, Height, alpha ? 0x80336699 : 0xFF336699), {});
    doc.Layers().Insert(std::make_unique<Document::TCorvDocumentShadowLayer>(), 0);
    doc.Layers().Insert(std::make_unique<Document::TCorvBackgroundLayer>(), 0);
    doc.BrushesLayer().GetSurface().FillRect({100, 100, 400, 300}, MaskCorePaint);
    auto target = TCorvSurface::Create(Width + 8, Height + 8);
    const TCorvRectangle clip = side == 0 ? doc.GetBounds() : TCorvRectangle{500, 300, side, side};
    for (auto _ : State) {
        doc.Paint(*target, 0, 0, clip);
        benchmark::DoNotOptimize(target->Bits());
    }
    State.SetItemsProcessed(State.iterations() * int64_t(clip.Width) * clip.Height);
}
BENCHMARK(BM_DocumentPaint)->ArgsProduct({{0, 1}, {0, 60}})->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    Settings::InitializeSettings();
    TCorvImagingCore core;
    LoadShadowCorners();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    FreeShadowCorners();
    return 0;
}
