// The Open URL dialog on an answer without a length and without an end, from
// a server on the loopback address: it runs until the dialog's size limit
// stops it. peak_mb is the peak resident memory above what the process held
// before, received_mb what the server had sent by then.
#include "timing.h"

#include "httpserver.h"
#include "residentmemory.h"

#include "forms/openurl.h"
#include "io/filecache.h"
#include "io/mrulist.h"
#include "io/settings.h"
#include "platform/eventwait.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

using namespace Corvanith;

void BM_EndlessDownload(benchmark::State& state)
{
    Testing::TTestHttpServer server;
    server.Serve("/endless",
                 {.ContentType = "image/png", .Body = {}, .SendLength = false, .FillerBytes = int64_t(1) << 40});
    QTemporaryDir dir;
    IO::TCorvFileCache cache(dir.path());
    const IO::TCorvMruList mru(Settings::MruCapacity);
    double peakMb = 0;
    QString status;
    for (auto _ : state) {
        Forms::TOpenUrlForm form(nullptr, cache, mru, server.Url(QStringLiteral("/endless")), true);
        const int64_t before = Testing::ResidentBytes();
        Testing::ResetResidentPeak();
        CorvanithBench::TimeIteration(state, [&] {
            form.show();
            Platform::WaitUntil([&] { return form.OpenButton().isEnabled(); }, 600000);
        });
        peakMb = double(Testing::ResidentBytes("VmHWM:") - before) / (1 << 20);
        status = form.StatusLabel().text();
        form.reject();
    }
    state.counters["peak_mb"] = peakMb;
    state.counters["limit_mb"] = double(Forms::MaxDownloadSize) / (1 << 20);
    state.SetLabel(status.toStdString());
}

} // namespace

BENCHMARK(BM_EndlessDownload)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

int main(int argc, char** argv)
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    Settings::InitializeSettings();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
