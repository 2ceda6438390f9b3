// The Open URL dialog on hostile answers from a server on the loopback
// address, on a thread of its own so that it sends as fast as the dialog
// takes the bytes: an answer without a length and without an end, which runs
// until the dialog's size limit stops it, directly and after redirections;
// one that announces more than the limit after a redirection; and compressed
// ones, a valid picture of a high ratio and a body that inflates without end.
// peak_mb is the peak resident memory above what the process held before.
#include "timing.h"

#include "bmpfile.h"
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
using Testing::TTestHttpServer;

constexpr int64_t Endless = int64_t(1) << 40;

// A 4000 x 4000 picture of 24 bits, 48 MB, deflated to a few hundred KB.
QByteArray DeflatedPicture()
{
    const std::vector<uint8_t> file = BmpFile(4000, 4000, 24, BmpUncompressed, {}, std::vector<uint8_t>(48000000));
    // Without the length that qCompress puts first, its result is a zlib
    // stream.
    return qCompress(reinterpret_cast<const uchar*>(file.data()), qsizetype(file.size()), 9).mid(4);
}

void ServeHostileAnswers(TTestHttpServer& Server)
{
    const int64_t overLimit = Forms::MaxDownloadSize + (int64_t(64) << 20);
    const Testing::TDeflatedZeros zeros = Testing::DeflatedZeros();
    Server.Serve("/endless", {.ContentType = "image/png", .Body = {}, .SendLength = false, .FillerBytes = Endless});
    Server.Serve("/over-limit",
                 {.ContentType = "image/png", .Body = {}, .DeclaredLength = overLimit, .FillerBytes = overLimit});
    Server.Serve("/deflated", {.ContentType = "image/bmp",
                               .Body = DeflatedPicture(),
                               .Headers = "Content-Encoding: deflate\r\n"});
    Server.Serve("/gzip-endless", {.ContentType = "image/bmp",
                                   .Body = QByteArray::fromHex("1f8b0800000000000003") + zeros.Start,
                                   .Headers = "Content-Encoding: gzip\r\n",
                                   .SendLength = false,
                                   .FillerBytes = Endless,
                                   .FillerPattern = zeros.Unit});
    const QByteArray statuses[] = {"302 Found", "307 Temporary Redirect", "301 Moved Permanently"};
    for (const QByteArray target : {"/endless", "/over-limit"}) {
        QByteArray next = target;
        for (int hops = 1; hops <= 3; ++hops) {
            const QByteArray path = "/hop" + QByteArray::number(hops) + target;
            Server.Serve(path, {.Status = statuses[hops - 1],
                                .ContentType = "",
                                .Body = "moved",
                                .Headers = "Location: " + next + "\r\n"});
            next = path;
        }
    }
}

// One download through the dialog until it opens its picture or fails.
void DownloadThroughTheDialog(benchmark::State& state, const QByteArray& Path)
{
    const Testing::TTestHttpServerThread server(ServeHostileAnswers);
    QTemporaryDir dir;
    IO::TCorvFileCache cache(dir.path());
    const IO::TCorvMruList mru(Settings::MruCapacity);
    double peakMb = 0;
    QString status;
    for (auto _ : state) {
        Forms::TOpenUrlForm form(nullptr, cache, mru, server.Url(Path), true);
        const int64_t before = Testing::ResidentBytes();
        Testing::ResetResidentPeak();
        CorvanithBench::TimeIteration(state, [&] {
            form.show();
            Platform::WaitUntil(
                [&] { return form.result() == QDialog::Accepted || form.OpenButton().isEnabled(); }, 600000);
        });
        peakMb = double(Testing::ResidentBytes("VmHWM:") - before) / (1 << 20);
        status = form.result() == QDialog::Accepted ? QStringLiteral("opened") : form.StatusLabel().text();
        form.reject();
    }
    state.counters["peak_mb"] = peakMb;
    state.counters["limit_mb"] = double(Forms::MaxDownloadSize) / (1 << 20);
    state.SetLabel(status.toStdString());
}

QByteArray Hops(int64_t Count, const QByteArray& Target)
{
    return Count == 0 ? Target : "/hop" + QByteArray::number(Count) + Target;
}

// After 0, 1 or 3 redirections.
void BM_EndlessDownload(benchmark::State& state) { DownloadThroughTheDialog(state, Hops(state.range(0), "/endless")); }

void BM_OverLimitDownload(benchmark::State& state)
{
    DownloadThroughTheDialog(state, Hops(state.range(0), "/over-limit"));
}

void BM_DeflatedPicture(benchmark::State& state) { DownloadThroughTheDialog(state, "/deflated"); }

void BM_EndlessGzip(benchmark::State& state) { DownloadThroughTheDialog(state, "/gzip-endless"); }

} // namespace

BENCHMARK(BM_EndlessDownload)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Arg(0)->Arg(1)->Arg(3);
BENCHMARK(BM_OverLimitDownload)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Arg(0)->Arg(1);
BENCHMARK(BM_DeflatedPicture)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_EndlessGzip)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

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
