// The main window on a 1920 x 1080 photo-like picture, shown whole: one
// arrow-key step per kind with the view's repaint, as a user's key press
// runs it, and a numeric resize of 500 seams. The program runs with its data
// folder and settings in a temporary folder; offscreen unless QT_QPA_PLATFORM
// names another platform.
#include "timing.h"
#include "synthetic_picture.h"

#include "document/documentsource.h"
#include "forms/mainform.h"
#include "forms/resize.h"
#include "forms/startup.h"
#include "graphics/imagingcore.h"
#include "io/random.h"
#include "view/documentview.h"

#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <memory>

using namespace Corvanith;

namespace {

constexpr int32_t W = 1920, H = 1080;

QString PicturePath(const QTemporaryDir& Dir)
{
    const QString path = Dir.path() + "/photo.bmp";
    if (!QFile::exists(path)) {
        const auto picture = CorvanithBench::MakePhotoLikePicture(W, H);
        QImage(reinterpret_cast<const uchar*>(picture->Bits()), W, H, W * 4, QImage::Format_ARGB32).save(path);
    }
    return path;
}

// A shown main window with the picture open and the view large enough for all of it.
std::unique_ptr<Forms::TMainForm> OpenWindow(const QString& Path)
{
    auto form = std::make_unique<Forms::TMainForm>();
    form->resize(W + 300, H + 300);
    form->show();
    QApplication::processEvents();
    Document::TCorvDocumentSource source = Document::MakeFileSource(Path);
    form->OpenSource(source, nullptr);
    form->UpdateControls();
    QApplication::processEvents();
    return form;
}

QTemporaryDir& DataDir()
{
    static QTemporaryDir dir;
    return dir;
}

// The menu item of an arrow key: 0 Left, 1 Down, 2 Right, 3 Up.
QAction& KeyAction(const Forms::TMainForm& Form, int64_t Key)
{
    QAction* const actions[] = {Form.DecWidthMenuItem, Form.DecHeightMenuItem, Form.IncWidthMenuItem,
                                Form.IncHeightMenuItem};
    return *actions[Key];
}

// Each time is given in ms and beside the floor of a memmove of the picture's
// plane measured in the same run (x_memmove).
void ReportFloor(benchmark::State& State, double Ms)
{
    // The window's own threads may still be busy right after a run: the least of a few tries.
    double floor = 1e9;
    for (int k = 0; k < 4; ++k) {
        QThread::msleep(20);
        floor = std::min(floor, CorvanithBench::MemmoveMs(size_t(W) * H * 4));
    }
    State.counters["memmove_ms"] = floor;
    State.counters["x_memmove"] = Ms / floor;
}

// range(0): 0 Left, 1 Down, 2 Right, 3 Up; 50 steps per run after a first
// step that computes the map.
void BM_WindowStep(benchmark::State& State)
{
    constexpr int32_t Steps = 50;
    const QString path = PicturePath(DataDir());
    double totalMs = 0;
    for (auto _ : State) {
        Utils::RandSeed(1);
        auto form = OpenWindow(path);
        QAction& action = KeyAction(*form, State.range(0));
        action.trigger();
        totalMs += CorvanithBench::TimeIteration(State, [&] {
            for (int32_t i = 0; i < Steps; ++i)
                action.trigger();
        });
    }
    const double perStep = totalMs / double(State.iterations() * Steps);
    State.counters["ms_per_step"] = perStep;
    ReportFloor(State, perStep);
    auto form = OpenWindow(path);
    // The view must show the whole picture for the step to repaint all of it.
    State.counters["view_width"] = form->View->viewport()->width();
    State.counters["view_height"] = form->View->viewport()->height();
}

// The view's repaint alone, after one step of the key range(0) (0 Left,
// 2 Right: an opaque picture, then one that may hold alpha).
void BM_Repaint(benchmark::State& State)
{
    const QString path = PicturePath(DataDir());
    Utils::RandSeed(1);
    auto form = OpenWindow(path);
    KeyAction(*form, State.range(0)).trigger();
    double totalMs = 0;
    for (auto _ : State)
        totalMs += CorvanithBench::TimeIteration(State, [&] { form->View->Repaint(); });
    ReportFloor(State, totalMs / double(State.iterations()));
}
// range(0): 0 removes 500 vertical seams, 1 inserts them; the dialog is
// answered as soon as it opens.
void BM_NumericResize(benchmark::State& State)
{
    const QString path = PicturePath(DataDir());
    double totalMs = 0;
    for (auto _ : State) {
        Utils::RandSeed(1);
        auto form = OpenWindow(path);
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<Forms::TResizeForm*>(QApplication::activeModalWidget());
            dialog->WidthEdit().setText(State.range(0) == 0 ? "-500" : "+500");
            dialog->ResizeButtonClick();
        });
        totalMs += CorvanithBench::TimeIteration(State, [&] { form->ResizeMenuItem->trigger(); });
    }
    ReportFloor(State, totalMs / double(State.iterations()));
}

} // namespace

BENCHMARK(BM_WindowStep)
    ->ArgName("key")
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);
BENCHMARK(BM_Repaint)->ArgName("key")->DenseRange(0, 2, 2)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_NumericResize)
    ->ArgName("insert")
    ->DenseRange(0, 1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(2);

int main(int argc, char** argv)
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    qputenv("XDG_DATA_HOME", DataDir().path().toLocal8Bit());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, DataDir().path() + "/settings");
    Forms::StartProgram();
    Graphics::TCorvImagingCore core;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Forms::EndProgram();
    return 0;
}
