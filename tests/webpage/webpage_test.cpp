#include "httpserver.h"
#include "platform/eventwait.h"
#include "platform/imaging.h"
#include "platform/webpage.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

using namespace Corvanith::Platform;
using Corvanith::Testing::TTestHttpServer;

namespace {

// Everything a page reported, in order.
struct TEvents {
    explicit TEvents(TCorvWebPage& Page)
    {
        Page.OnDocumentComplete = [this] { ++Completed; };
        Page.OnNavigateError = [this](int32_t Code) { Errors.push_back(Code); };
        Page.OnTitleChange = [this](const QString& Text) { Titles.push_back(Text); };
        Page.OnProgressChange = [this](int32_t Progress, int32_t Max) {
            LastProgress = Progress;
            ProgressMax = Max;
        };
    }
    bool Ended() const { return Completed > 0 || !Errors.empty(); }

    int Completed = 0;
    std::vector<int32_t> Errors;
    std::vector<QString> Titles;
    int32_t LastProgress = -1;
    int32_t ProgressMax = -1;
};

TEST(PageSize, ClampsEachSideAndTheArea)
{
    struct TCase {
        int64_t Width, Height;
        int32_t ExpectedWidth, ExpectedHeight;
    };
    const TCase cases[] = {
        {950, 100, 950, 100},
        {0, 0, 1, 1},
        {-5, 100, 1, 100},
        {20000, 10, MaxPageExtent, 10},
        {950, 1000000000, 950, MaxPageExtent},
        {MaxPageExtent, MaxPageExtent, MaxPageExtent, int32_t(MaxPagePixels / MaxPageExtent)},
        {int64_t(1) << 40, int64_t(1) << 40, MaxPageExtent, int32_t(MaxPagePixels / MaxPageExtent)},
    };
    for (const TCase& c : cases) {
        const TPageSize size = ClampPageSize(c.Width, c.Height);
        EXPECT_EQ(size.Width, c.ExpectedWidth) << c.Width << " x " << c.Height;
        EXPECT_EQ(size.Height, c.ExpectedHeight) << c.Width << " x " << c.Height;
        EXPECT_LE(int64_t(size.Width) * size.Height, MaxPagePixels);
    }
}

// A page wider than the layout width and far higher than the first height,
// with margins that only the whole scrolled area includes (the right one
// not: overflow stops at the content), a frame that
// completes on its own and a script dialog that must not block.
constexpr const char* FixturePage =
    "<!DOCTYPE html><html style='background:rgb(255,255,0)'><head><title>Fixture page</title></head>"
    "<body style='margin:10px;background:rgb(255,0,0)'>"
    "<div style='width:1200px;height:300px;background:rgb(0,200,0)'></div>"
    "<div style='width:100px;height:1700px;background:rgb(0,0,200)'></div>"
    "<iframe src='/frame' style='position:absolute;left:20px;top:20px;width:50px;height:50px;border:0'></iframe>"
    "<script>alert('hello');</script>"
    "</body></html>";

TEST(WebPage, RendersTheWholeScrolledPageOnce)
{
    TTestHttpServer server;
    server.Serve("/page", {.Body = FixturePage});
    server.Serve("/frame", {.Body = "<body style='margin:0;background:rgb(0,200,0)'></body>"});
    TCorvWebPage page;
    const TEvents events(page);
    page.SetSize(950, 100);
    page.Navigate(server.Url("/page"));
    EXPECT_TRUE(page.Busy());
    ASSERT_TRUE(WaitUntil([&] { return events.Ended(); }, 30000));
    ASSERT_TRUE(events.Errors.empty());
    EXPECT_FALSE(page.Busy());
    EXPECT_EQ(server.LastHeader("User-Agent"), PageUserAgent);
    EXPECT_EQ(server.Requests("/frame"), 1);
    EXPECT_EQ(page.Title(), "Fixture page");
    ASSERT_FALSE(events.Titles.empty());
    EXPECT_EQ(events.Titles.back(), "Fixture page");
    EXPECT_EQ(events.LastProgress, 100);
    EXPECT_EQ(events.ProgressMax, 100);

    const std::optional<TPageSize> size = page.FitToContent();
    ASSERT_TRUE(size);
    EXPECT_EQ(size->Width, 1210);
    EXPECT_EQ(size->Height, 2020);
    EXPECT_EQ(page.Width(), 1210);
    EXPECT_EQ(page.Height(), 2020);

    std::vector<uint32_t> pixels(size_t(size->Width) * size->Height, 0xFF808080);
    TSharedBitmap bitmap(reinterpret_cast<uint8_t*>(pixels.data()), size->Width, size->Height, size->Width * 4);
    ASSERT_TRUE(page.DrawTo(bitmap));
    const auto pixel = [&](int X, int Y) { return pixels[size_t(Y) * size->Width + X]; };
    struct TProbe {
        int X, Y;
        uint32_t Color;
    };
    const TProbe probes[] = {
        {2, 2, 0xFFFFFF00},       // top margin
        {15, 15, 0xFF00C800},     // first block
        {1205, 305, 0xFF00C800},  // its bottom-right corner, beyond the layout width
        {15, 1000, 0xFF0000C8},   // second block, far below the first height
        {500, 1000, 0xFFFF0000},  // body beside it
        {1205, 2015, 0xFFFFFF00}, // bottom margin
    };
    for (const TProbe& probe : probes)
        EXPECT_EQ(pixel(probe.X, probe.Y), probe.Color) << probe.X << ", " << probe.Y;

    PumpEvents(200);
    EXPECT_EQ(events.Completed, 1);

    // A document without a body (a picture) gives no size and so no picture.
    server.Serve("/picture.svg",
                 {.ContentType = "image/svg+xml", .Body = "<svg xmlns='http://www.w3.org/2000/svg' width='9' height='9'/>"});
    page.Navigate(server.Url("/picture.svg"));
    ASSERT_TRUE(WaitUntil([&] { return events.Completed == 2 || !events.Errors.empty(); }, 30000));
    EXPECT_FALSE(page.FitToContent());
}

// Keeps every processor busy while it lives, as a loaded machine does.
class TBusyProcessors {
public:
    TBusyProcessors()
    {
        for (unsigned i = 0; i < std::max(2u, std::thread::hardware_concurrency()); ++i)
            FThreads.emplace_back([](const std::stop_token& Stop) {
                std::atomic<uint64_t> spins = 0;
                while (!Stop.stop_requested())
                    spins.fetch_add(1, std::memory_order_relaxed);
            });
    }

private:
    std::vector<std::jthread> FThreads;
};

// Three bands of a page Height pixels high: red, green and blue from the top
// on a yellow body, so that a part left undrawn shows none of them.
QByteArray BandedPage(int32_t Height)
{
    const QByteArray third = QByteArray::number(Height / 3);
    return "<!DOCTYPE html><html><body style='margin:0;background:rgb(255,255,0)'>"
           "<div style='height:" + third + "px;background:rgb(255,0,0)'></div>"
           "<div style='height:" + third + "px;background:rgb(0,255,0)'></div>"
           "<div style='height:" + QByteArray::number(Height - 2 * (Height / 3)) + "px;background:rgb(0,0,255)'></div>"
           "</body></html>";
}

// A page drawn right after it grew is drawn whole, however busy the machine.
// A frame taken too early shows most often on the lowest page, so that one
// is loaded most often; the tallest shows the mark stays within what the
// engine draws.
struct TTallPage {
    int32_t Height;
    int Runs;
};

// A case is named by its height.
void PrintTo(const TTallPage& Page, std::ostream* Out) { *Out << Page.Height; }

class TallPages : public testing::TestWithParam<TTallPage> {};

TEST_P(TallPages, DrawnWholeUnderLoad)
{
    const auto [height, runs] = GetParam();
    const TBusyProcessors busy;
    TTestHttpServer server;
    server.Serve("/bands", {.Body = BandedPage(height)});
    TCorvWebPage page;
    const TEvents events(page);
    for (int run = 0; run < runs; ++run) {
        SCOPED_TRACE(testing::Message() << "run " << run);
        const int completed = events.Completed;
        page.SetSize(950, 100);
        page.Navigate(server.Url("/bands"));
        ASSERT_TRUE(WaitUntil([&] { return events.Completed > completed || !events.Errors.empty(); }, 30000));
        ASSERT_TRUE(events.Errors.empty());
        const std::optional<TPageSize> size = page.FitToContent();
        ASSERT_TRUE(size);
        ASSERT_EQ(size->Width, 950);
        ASSERT_EQ(size->Height, height);
        // Filled by Qt: a loop of our own over tens of megabytes takes as
        // long as the drawing in the sanitizers' build.
        QImage picture(size->Width, size->Height, QImage::Format_ARGB32);
        picture.fill(0xFF808080);
        TSharedBitmap bitmap(picture.bits(), size->Width, size->Height, int32_t(picture.bytesPerLine()));
        ASSERT_TRUE(page.DrawTo(bitmap));
        const int32_t third = height / 3;
        const QRgb bands[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
        for (int band = 0; band < 3; ++band) {
            const int32_t top = band * third;
            const int32_t bottom = band == 2 ? height - 1 : top + third - 1;
            for (const int32_t y : {top, (top + bottom) / 2, bottom}) {
                for (const int32_t x : {0, 475, 949})
                    EXPECT_EQ(picture.pixel(x, y), bands[band]) << x << ", " << y;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(WebPage, TallPages,
                         testing::Values(TTallPage{2000, 10}, TTallPage{8100, 6}, TTallPage{16000, 3}));

// The page's own script takes away whatever is added beside its body, so the
// page is never seen drawn whole: no picture, rather than a blank one.
TEST(WebPage, PageNeverSeenDrawnGivesNoPicture)
{
    TTestHttpServer server;
    server.Serve("/page", {.Body = "<body style='height:3000px;background:rgb(255,0,0)'><script>"
                                   "new MutationObserver(changes => changes.forEach(c => c.addedNodes.forEach("
                                   "n => n.remove()))).observe(document.documentElement, {childList: true});"
                                   "</script></body>"});
    TCorvWebPage page;
    const TEvents events(page);
    page.SetSize(950, 100);
    page.Navigate(server.Url("/page"));
    ASSERT_TRUE(WaitUntil([&] { return events.Ended(); }, 30000));
    ASSERT_EQ(events.Completed, 1);
    ASSERT_TRUE(page.FitToContent());
    std::vector<uint32_t> pixels(size_t(page.Width()) * page.Height(), 0xFF808080);
    TSharedBitmap bitmap(reinterpret_cast<uint8_t*>(pixels.data()), page.Width(), page.Height(), page.Width() * 4);
    page.SetLoadTimeout(500);
    EXPECT_FALSE(page.DrawTo(bitmap));
    EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](uint32_t Pixel) { return Pixel == 0xFF808080; }));

    // Stop ends the wait at once.
    page.SetLoadTimeout(30000);
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(100, [&] { page.Stop(); });
    EXPECT_FALSE(page.DrawTo(bitmap));
    EXPECT_LT(clock.elapsed(), 10000);
}

TEST(WebPage, ReportsFailedNavigationsWithTheirCodes)
{
    TTestHttpServer server;
    TTestHttpServer::TReply silent;
    silent.Silent = true;
    server.Serve("/silent", silent);
    struct TCase {
        QString Url;
        int32_t Timeout;
        int32_t Expected;
    };
    const TCase cases[] = {
        {server.Url("/missing"), 30000, 404},
        // A privileged port that no test server gets (they take free ones
        // from the ephemeral range) and that the engine does not block.
        {QStringLiteral("http://127.0.0.1:1023/"), 30000, -102},
        {server.Url("/silent"), 300, PageTimedOutError},
    };
    TCorvWebPage page;
    const TEvents events(page);
    for (const TCase& c : cases) {
        const size_t before = events.Errors.size();
        page.SetLoadTimeout(c.Timeout);
        page.Navigate(c.Url);
        ASSERT_TRUE(WaitUntil([&] { return events.Errors.size() > before; }, 30000)) << c.Url.toStdString();
        EXPECT_EQ(events.Errors.back(), c.Expected) << c.Url.toStdString();
        EXPECT_FALSE(page.Busy());
    }
    // The stopped navigation reports nothing more.
    PumpEvents(200);
    EXPECT_EQ(events.Errors.size(), std::size(cases));
    EXPECT_EQ(events.Completed, 0);

    // A navigation replaced by another one is no failure.
    server.Serve("/page", {.Body = "<title>Next</title>"});
    page.SetLoadTimeout(30000);
    page.Navigate(server.Url("/silent"));
    ASSERT_TRUE(WaitUntil([&] { return server.Requests("/silent") == 2; }, 30000));
    page.Navigate(server.Url("/page"));
    ASSERT_TRUE(WaitUntil([&] { return events.Completed > 0; }, 30000));
    EXPECT_EQ(events.Errors.size(), std::size(cases));
    EXPECT_EQ(page.Title(), "Next");
}

} // namespace
