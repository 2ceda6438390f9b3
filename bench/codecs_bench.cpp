// Decoding and encoding a 4000 x 3000 picture through our stream layers,
// beside Qt's own QImage doing the same from and to memory; and decoding a
// 640 x 480 16-bit PNG with a transparent colour from a file, its image data
// in one chunk or in chunks of one byte.
#include "graphics/surface.h"
#include "platform/imagefiles.h"
#include "platform/streams.h"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryFile>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

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

// The file of a noisy 16-bit RGB picture with a transparent colour in
// blocks, its image data in chunks of DataChunk bytes (one chunk for 0).
QString KeyedPngFile(int DataChunk)
{
    using namespace Corvanith::Tests;
    static std::map<int, std::unique_ptr<QTemporaryFile>> files;
    auto& file = files[DataChunk];
    if (!file) {
        constexpr int W = 640, H = 480;
        const uint16_t key[3] = {0xABAB, 0x1234, 0x5678};
        uint32_t seed = 1;
        QByteArray raw;
        for (int y = 0; y < H; ++y) {
            raw += '\0';
            for (int x = 0; x < W; ++x)
                for (int c = 0; c < 3; ++c) {
                    seed = seed * 1103515245u + 12345u;
                    const bool keyed = (x / 8 + y / 8) % 4 == 0;
                    PutBigEndian(raw, keyed ? key[c] : seed >> 16, 2);
                }
        }
        QByteArray trns;
        for (const uint16_t k : key)
            PutBigEndian(trns, k, 2);
        const QByteArray data = Zlib(raw);
        const qsizetype step = DataChunk > 0 ? DataChunk : data.size();
        QByteArray png = PngSignature() + PngHeader(W, H, 16, 2) + PngChunk("tRNS", trns);
        for (qsizetype i = 0; i < data.size(); i += step)
            png += PngChunk("IDAT", data.mid(i, step));
        png += PngChunk("IEND", {});
        file = std::make_unique<QTemporaryFile>();
        file->open();
        file->write(png);
        file->close();
    }
    return file->fileName();
}

void DecodeKeyedQt(benchmark::State& state, int DataChunk)
{
    const QString name = KeyedPngFile(DataChunk);
    for (auto _ : state) {
        QImage image(name, "png");
        benchmark::DoNotOptimize(image.constBits());
    }
}

void DecodeKeyedOurs(benchmark::State& state, int DataChunk)
{
    const QString name = KeyedPngFile(DataChunk);
    for (auto _ : state) {
        auto s = TCorvSurface::CreateFromFile(name, [](const void*, int32_t, int32_t) {});
        benchmark::DoNotOptimize(s->Bits());
    }
}

BENCHMARK_CAPTURE(DecodeQt, png, "png")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeOurs, png, "png")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeQt, jpeg, "jpeg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeOurs, jpeg, "jpeg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeKeyedQt, png16_key, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeKeyedOurs, png16_key, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeKeyedQt, png16_key_1byte_chunks, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeKeyedOurs, png16_key_1byte_chunks, 1)->Unit(benchmark::kMillisecond);
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
