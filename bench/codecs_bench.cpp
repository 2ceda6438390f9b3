// Decoding and encoding a 4000 x 3000 picture through our stream layers,
// beside Qt's own QImage doing the same from and to memory.
#include "graphics/surface.h"
#include "platform/streams.h"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>

#include <cstdlib>
#include <cstring>

using namespace Corvanith;
using namespace Corvanith::Graphics;

namespace {

constexpr int Width = 4000;
constexpr int Height = 3000;

// Smooth gradients with a little noise, like a photograph.
const QImage& Picture()
{
    static const QImage image = [] {
        QImage im(Width, Height, QImage::Format_ARGB32);
        uint32_t seed = 12345;
        for (int y = 0; y < Height; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(im.scanLine(y));
            for (int x = 0; x < Width; ++x) {
                seed = seed * 1103515245 + 12345;
                const uint32_t noise = (seed >> 16) & 7;
                const uint32_t r = (x * 255 / Width + noise) & 0xFF;
                const uint32_t g = (y * 255 / Height + noise) & 0xFF;
                const uint32_t b = ((x + y) * 255 / (Width + Height)) & 0xFF;
                row[x] = 0xFF000000 | r << 16 | g << 8 | b;
            }
        }
        return im;
    }();
    return image;
}

const QByteArray& Encoded(const char* Format)
{
    static QByteArray png, jpeg;
    QByteArray& data = std::strcmp(Format, "png") == 0 ? png : jpeg;
    if (data.isEmpty()) {
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        Picture().save(&buffer, Format);
    }
    return data;
}

const Platform::TGuid& FormatGuid(const char* Format)
{
    return std::strcmp(Format, "png") == 0 ? Platform::ImageFormatPNG : Platform::ImageFormatJPEG;
}

void DecodeQt(benchmark::State& state, const char* Format)
{
    const QByteArray& data = Encoded(Format);
    for (auto _ : state) {
        QImage image = QImage::fromData(data, Format);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void DecodeOurs(benchmark::State& state, const char* Format)
{
    const QByteArray& data = Encoded(Format);
    Platform::TMemoryStream stream(std::vector<uint8_t>(data.begin(), data.end()));
    int64_t reports = 0;
    for (auto _ : state) {
        stream.SetPosition(0);
        auto s = TCorvSurface::CreateFromStream(stream, [&](const void*, int32_t, int32_t) { ++reports; });
        benchmark::DoNotOptimize(s->Bits());
    }
    state.counters["reports"] = double(reports) / double(state.iterations());
}

void EncodeQt(benchmark::State& state, const char* Format)
{
    for (auto _ : state) {
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        Picture().save(&buffer, Format);
        benchmark::DoNotOptimize(data.data());
    }
}

void EncodeOurs(benchmark::State& state, const char* Format)
{
    auto s = TCorvSurface::Create(Width, Height);
    for (int y = 0; y < Height; ++y)
        std::memcpy(s->GetPixelPtr(0, y), Picture().constScanLine(y), size_t(Width) * 4);
    for (auto _ : state) {
        Platform::TMemoryStream stream;
        s->SaveToStream(stream, FormatGuid(Format));
        benchmark::DoNotOptimize(stream.Data().data());
    }
}

BENCHMARK_CAPTURE(DecodeQt, png, "png")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeOurs, png, "png")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeQt, jpeg, "jpeg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeOurs, jpeg, "jpeg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EncodeQt, png, "png")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EncodeOurs, png, "png")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EncodeQt, jpeg, "jpeg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EncodeOurs, jpeg, "jpeg")->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
