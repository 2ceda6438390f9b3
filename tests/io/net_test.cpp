#include "io/net.h"

#include "httpserver.h"
#include "residentmemory.h"

#include "io/filecache.h"
#include "platform/eventwait.h"
#include "platform/streams.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <map>

namespace {

using namespace Corvanith;
using Corvanith::Net::TCorvUrlDownloader;

// Runs the event loop until Done holds; the bound only keeps a broken build
// from hanging the run.
bool RunUntil(const std::function<bool()>& Done) { return Platform::WaitUntil(Done, 20000); }

QByteArray Picture()
{
    QByteArray bytes(40000, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + i / 251);
    return bytes;
}

QByteArray Redirection(const QByteArray& Location)
{
    return "Location: " + Location + "\r\n";
}

// The downloads the tests fetch from the loopback server: /image.png,
// /page.html, /notype (200 without a type), /stream (no length, ends with the
// connection), /redirect/N (N redirections, then the image), /missing (404),
// /error (500), /slow (a first part, then nothing), /silent (no answer),
// /long and /short (a length above or below the body's), /endless (no length
// and no end), and redirections:
// /loop (to itself), /to-silent, /to-https (to https on this plain port),
// /to-file and /to-ftp.
void ServeDownloads(Testing::TTestHttpServer& Server)
{
    using TReply = Testing::TTestHttpServer::TReply;
    Server.Serve("/image.png", {"200 OK", "image/png", Picture()});
    Server.Serve("/page.html", {"200 OK", "text/html; charset=UTF-8", "<html><body>page</body></html>"});
    Server.Serve("/notype", {"200 OK", "", "data"});
    Server.Serve("/stream", {.Status = "200 OK", .ContentType = "image/png", .Body = Picture(), .SendLength = false});
    for (int left = 1; left <= 4; ++left) {
        const QByteArray next = left > 1 ? "/redirect/" + QByteArray::number(left - 1) : "/image.png";
        Server.Serve("/redirect/" + QByteArray::number(left),
                     {.Status = "302 Found", .ContentType = "", .Body = "moved", .Headers = Redirection(next)});
    }
    Server.Serve("/missing", {"404 Not Found", "text/html", "<html>no such page</html>"});
    Server.Serve("/error", {"500 Internal Server Error", "text/html", "<html>broken</html>"});
    const QByteArray secure = "https" + Server.Url(QStringLiteral("/image.png")).mid(4).toLatin1();
    const std::pair<QByteArray, QByteArray> redirections[] = {
        {"/loop", "/loop"},
        {"/to-silent", "/silent"},
        {"/to-https", secure},
        {"/to-file", "file:///etc/passwd"},
        {"/to-ftp", "ftp://127.0.0.1/image.png"},
    };
    for (const auto& [path, location] : redirections)
        Server.Serve(path, {.Status = "302 Found", .ContentType = "", .Body = {}, .Headers = Redirection(location)});
    Server.Serve("/long",
                 {.Status = "200 OK", .ContentType = "image/png", .Body = "0123456789", .DeclaredLength = 1000});
    Server.Serve("/short",
                 {.Status = "200 OK", .ContentType = "image/png", .Body = QByteArray(1000, 'x'), .DeclaredLength = 10});
    Server.Serve("/slow", {.Status = "200 OK",
                           .ContentType = "image/png",
                           .Body = QByteArray(1000, 'x'),
                           .DeclaredLength = 1000000,
                           .KeepOpen = true});
    Server.Serve("/silent", TReply{.Status = "200 OK", .ContentType = "", .Body = {}, .Silent = true});
    Server.Serve("/endless", {.Status = "200 OK",
                              .ContentType = "image/png",
                              .Body = {},
                              .SendLength = false,
                              .FillerBytes = int64_t(1) << 40});
}

// What the owner saw, in the order it saw it.
struct Reports {
    int Done = 0;
    int Status = 0;
    int Progress = 0;
    int Checks = 0;
    QStringList StatusTexts;
    QList<std::pair<int32_t, int32_t>> Progresses;
    QString CheckedType;
    bool SucceededAtDone = false;
    QString TextAtDone;
    int ReportsAfterDone = 0;
};

QByteArray ReadRest(Platform::TStream& Stream)
{
    QByteArray bytes(qsizetype(Stream.Remaining()), Qt::Uninitialized);
    Stream.ReadBuffer(bytes.data(), int32_t(bytes.size()));
    return bytes;
}

class DownloaderTest : public testing::Test {
protected:
    DownloaderTest() { ServeDownloads(FServer); }

    std::unique_ptr<TCorvUrlDownloader> Make(const QString& Url, bool Accept = true,
                                             Platform::TStream* Stream = nullptr)
    {
        auto downloader = std::make_unique<TCorvUrlDownloader>(Url, Stream ? *Stream : FStream);
        TCorvUrlDownloader* d = downloader.get();
        Reports& r = FReports;
        d->OnDone = [d, &r] {
            ++r.Done;
            r.SucceededAtDone = d->Succeeded();
            r.TextAtDone = d->StatusText();
        };
        d->OnStatus = [d, &r] {
            r.ReportsAfterDone += r.Done;
            ++r.Status;
            r.StatusTexts << d->StatusText();
        };
        d->OnProgress = [d, &r] {
            r.ReportsAfterDone += r.Done;
            ++r.Progress;
            r.Progresses.append({d->Position(), d->Max()});
        };
        d->OnCheckContentType = [&r, Accept](const QString& Type) {
            ++r.Checks;
            r.CheckedType = Type;
            return Accept;
        };
        return downloader;
    }

    bool Download(TCorvUrlDownloader& Downloader)
    {
        Downloader.Start();
        return RunUntil([this] { return FReports.Done > 0; });
    }

    QByteArray Written() const
    {
        return QByteArray(reinterpret_cast<const char*>(FStream.Data().data()), qsizetype(FStream.Data().size()));
    }
    void Reset()
    {
        FReports = {};
        FStream.SetSize(0);
    }

    Testing::TTestHttpServer FServer;
    Platform::TMemoryStream FStream;
    Reports FReports;
};

TEST_F(DownloaderTest, ImageArrivesWholeWithItsReports)
{
    const auto d = Make(FServer.Url(QStringLiteral("/image.png")));
    ASSERT_TRUE(Download(*d));
    EXPECT_TRUE(FReports.SucceededAtDone);
    EXPECT_EQ(Written(), Picture());
    EXPECT_EQ(FStream.Position(), 0);
    EXPECT_EQ(d->Position(), -1);
    EXPECT_EQ(d->Max(), -1);
    EXPECT_EQ(FReports.Checks, 1);
    EXPECT_EQ(FReports.CheckedType, QStringLiteral("image/png"));
    EXPECT_EQ(d->ContentType(), QStringLiteral("image/png"));
    EXPECT_EQ(FServer.LastHeader("User-Agent"), QByteArray(Net::DownloadUserAgent));
    // Only what the downloader inflates itself.
    EXPECT_EQ(FServer.LastHeader("Accept-Encoding"), "gzip, deflate");
    ASSERT_GE(FReports.Progresses.size(), 2);
    EXPECT_EQ(FReports.Progresses.first(), std::pair(0, int32_t(Picture().size())));
    EXPECT_EQ(FReports.Progresses.last(), std::pair(-1, -1));
    EXPECT_GE(FReports.Status, 1);
    EXPECT_EQ(FReports.ReportsAfterDone, 0);
}

TEST_F(DownloaderTest, AnswerWithoutLengthAnnouncesNone)
{
    const auto d = Make(FServer.Url(QStringLiteral("/stream")));
    ASSERT_TRUE(Download(*d));
    EXPECT_TRUE(FReports.SucceededAtDone);
    EXPECT_EQ(Written(), Picture());
    ASSERT_FALSE(FReports.Progresses.isEmpty());
    EXPECT_EQ(FReports.Progresses.first(), std::pair(0, 0));
}

TEST_F(DownloaderTest, AtMostThreeRedirectionsAreFollowed)
{
    for (const int redirections : {1, 2, 3, 4}) {
        Reset();
        const auto d = Make(FServer.Url(QStringLiteral("/redirect/%1").arg(redirections)));
        ASSERT_TRUE(Download(*d)) << redirections;
        const bool followed = redirections <= 3;
        EXPECT_EQ(FReports.SucceededAtDone, followed) << redirections;
        EXPECT_EQ(Written() == Picture(), followed) << redirections;
        EXPECT_EQ(FReports.Checks, followed ? 1 : 0) << redirections;
        if (!followed) {
            EXPECT_EQ(FReports.TextAtDone, QStringLiteral("More than 3 redirections"));
        }
    }
}

TEST_F(DownloaderTest, RefusedTypeWritesNothingAndEndsWithTheType)
{
    struct Case {
        const char* Path;
        const char* Text;
    };
    const Case cases[] = {
        {"/page.html", "Unknown image type: text/html; charset=UTF-8"},
        {"/notype", "Unknown image type: "},
    };
    for (const Case& c : cases) {
        Reset();
        const auto d = Make(FServer.Url(QString::fromLatin1(c.Path)), false);
        ASSERT_TRUE(Download(*d)) << c.Path;
        EXPECT_FALSE(FReports.SucceededAtDone) << c.Path;
        EXPECT_EQ(FReports.TextAtDone, QString::fromLatin1(c.Text)) << c.Path;
        EXPECT_EQ(FReports.Checks, 1) << c.Path;
        EXPECT_TRUE(d->Stopped()) << c.Path;
        EXPECT_TRUE(Written().isEmpty()) << c.Path;
        // No report after the refusal, the ending progress included.
        EXPECT_FALSE(FReports.Progresses.contains(std::pair(-1, -1))) << c.Path;
        RunUntil([this] { return FServer.OpenConnections() == 0; });
        QCoreApplication::processEvents();
        EXPECT_EQ(FReports.Done, 1) << c.Path;
    }
}

TEST_F(DownloaderTest, ErrorAnswersAreNotCheckedNorStored)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/missing", "HTTP 404 Not Found"},
        {"/error", "HTTP 500 Internal Server Error"},
        {"/loop", "More than 3 redirections"},
        {"/to-file", "The redirection to file:///etc/passwd is refused"},
        {"/to-ftp", "The redirection to ftp://127.0.0.1/image.png is refused"},
    };
    for (const auto& [path, text] : cases) {
        Reset();
        const auto d = Make(FServer.Url(QString::fromLatin1(path)));
        ASSERT_TRUE(Download(*d)) << path;
        EXPECT_FALSE(FReports.SucceededAtDone) << path;
        EXPECT_EQ(FReports.TextAtDone, QString::fromLatin1(text));
        EXPECT_EQ(FReports.Checks, 0) << path;
        EXPECT_TRUE(Written().isEmpty()) << path;
    }
}

// The announced length decides where the body ends: an answer that ends
// before it fails, bytes after it are not part of it.
TEST_F(DownloaderTest, AnnouncedLengthAboveOrBelowTheBody)
{
    {
        const auto d = Make(FServer.Url(QStringLiteral("/long")));
        ASSERT_TRUE(Download(*d));
        EXPECT_FALSE(FReports.SucceededAtDone);
        EXPECT_FALSE(FReports.TextAtDone.isEmpty());
    }
    Reset();
    const auto d = Make(FServer.Url(QStringLiteral("/short")));
    ASSERT_TRUE(Download(*d));
    EXPECT_TRUE(FReports.SucceededAtDone);
    EXPECT_EQ(Written(), QByteArray(10, 'x'));
    EXPECT_EQ(FReports.Progresses.first(), std::pair(0, 10));
}

TEST_F(DownloaderTest, UrlsThatCannotBeFetched)
{
    struct Case {
        QString Url;
        const char* Text; // nullptr: any message
    };
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const quint16 port = closed.serverPort();
    closed.close();
    const Case cases[] = {
        {QStringLiteral("http://"), "Invalid URL"},
        {QStringLiteral("no url at all"), "Invalid URL"},
        {QStringLiteral("file:///etc/passwd"), "Invalid URL"},
        {QStringLiteral("file://localhost/etc/passwd"), "Unsupported protocol \"file\""},
        {QStringLiteral("http://127.0.0.1:%1/image.png").arg(port), nullptr},
    };
    for (const Case& c : cases) {
        FReports = {};
        const auto d = Make(c.Url);
        ASSERT_TRUE(Download(*d)) << c.Url.toStdString();
        EXPECT_FALSE(FReports.SucceededAtDone) << c.Url.toStdString();
        if (c.Text != nullptr) {
            EXPECT_EQ(FReports.TextAtDone, QString::fromLatin1(c.Text));
        }
        EXPECT_FALSE(FReports.TextAtDone.isEmpty()) << c.Url.toStdString();
        EXPECT_EQ(FReports.Checks, 0) << c.Url.toStdString();
        EXPECT_TRUE(Written().isEmpty());
    }
}

TEST_F(DownloaderTest, StopReportsAtOnceAndNothingFollows)
{
    const auto d = Make(FServer.Url(QStringLiteral("/slow")));
    d->Start();
    ASSERT_TRUE(RunUntil([this] { return FReports.Progresses.size() >= 2 && FReports.Progresses.last().first > 0; }));
    d->Stop();
    EXPECT_EQ(FReports.Done, 1);
    EXPECT_FALSE(FReports.SucceededAtDone);
    EXPECT_EQ(FReports.TextAtDone, QStringLiteral("Stoped"));
    const QByteArray written = Written();
    ASSERT_TRUE(RunUntil([this] { return FServer.OpenConnections() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(FReports.Done, 1);
    EXPECT_EQ(FReports.ReportsAfterDone, 0);
    EXPECT_EQ(Written(), written);
    d->Stop();
    EXPECT_EQ(FReports.Done, 1);
}

TEST_F(DownloaderTest, StopBeforeAnyAnswerOrBeforeStart)
{
    {
        const auto d = Make(FServer.Url(QStringLiteral("/silent")));
        d->Start();
        ASSERT_TRUE(RunUntil([this] { return FServer.Requests() == 1; }));
        d->Stop();
        EXPECT_EQ(FReports.Done, 1);
        EXPECT_EQ(FReports.TextAtDone, QStringLiteral("Stoped"));
        ASSERT_TRUE(RunUntil([this] { return FServer.OpenConnections() == 0; }));
        QCoreApplication::processEvents();
        EXPECT_EQ(FReports.Done, 1);
        EXPECT_EQ(FReports.ReportsAfterDone, 0);
    }
    FReports = {};
    const auto d = Make(FServer.Url(QStringLiteral("/image.png")));
    d->Stop();
    EXPECT_EQ(FReports.Done, 1);
    d->Start();
    QCoreApplication::processEvents();
    EXPECT_EQ(FReports.Done, 1);
    EXPECT_EQ(FServer.Requests(), 1);
}

// A Stop that comes after the GET has ended but before its done report was
// delivered is the one that reports.
TEST_F(DownloaderTest, StopBeforeTheEndIsDeliveredTakesOver)
{
    {
        const auto d = Make(FServer.Url(QStringLiteral("/page.html")), false);
        QObject context;
        d->OnCheckContentType = [&](const QString&) {
            ++FReports.Checks;
            QMetaObject::invokeMethod(&context, [&] { d->Stop(); }, Qt::QueuedConnection);
            return false;
        };
        ASSERT_TRUE(Download(*d));
        EXPECT_EQ(FReports.TextAtDone, QStringLiteral("Stoped"));
        QCoreApplication::processEvents();
        EXPECT_EQ(FReports.Done, 1);
    }
    Reset();
    const auto d = Make(FServer.Url(QStringLiteral("/image.png")));
    d->OnProgress = [&] {
        if (d->Position() == -1)
            d->Stop();
    };
    ASSERT_TRUE(Download(*d));
    EXPECT_FALSE(FReports.SucceededAtDone);
    EXPECT_EQ(FReports.TextAtDone, QStringLiteral("Stoped"));
    ASSERT_TRUE(RunUntil([this] { return FServer.OpenConnections() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(FReports.Done, 1);
}

// The owner lets go of the downloader inside its done report.
TEST_F(DownloaderTest, OwnerMayFreeTheDownloaderWhenDone)
{
    for (const bool stop : {false, true}) {
        auto d = Make(FServer.Url(stop ? QStringLiteral("/slow") : QStringLiteral("/image.png")));
        int done = 0;
        d->OnDone = [&] {
            ++done;
            d.reset();
        };
        d->Start();
        if (stop) {
            ASSERT_TRUE(RunUntil([this] { return FReports.Progress > 1; }));
            d->Stop();
        }
        ASSERT_TRUE(RunUntil([&] { return done > 0; }));
        EXPECT_EQ(d, nullptr);
        ASSERT_TRUE(RunUntil([this] { return FServer.OpenConnections() == 0; }));
        QCoreApplication::processEvents();
        EXPECT_EQ(done, 1);
    }
}

TEST_F(DownloaderTest, FreedWhileRunningReportsNothing)
{
    {
        const auto d = Make(FServer.Url(QStringLiteral("/slow")));
        d->Start();
        ASSERT_TRUE(RunUntil([this] { return FReports.Progress > 0; }));
    }
    ASSERT_TRUE(RunUntil([this] { return FServer.OpenConnections() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(FReports.Done, 0);
}

// Silence at any hop ends the download: from the start, after a first part,
// after a redirection, and in a secure handshake that a plain server never
// answers.
TEST_F(DownloaderTest, SilentServerFailsAfterTheTransferTimeout)
{
    for (const char* path : {"/silent", "/slow", "/to-silent", "/to-https"}) {
        Reset();
        const auto d = Make(FServer.Url(QString::fromLatin1(path)));
        d->SetTransferTimeout(200);
        d->Start();
        ASSERT_TRUE(Platform::WaitUntil([this] { return FReports.Done > 0; }, 5000)) << path;
        EXPECT_FALSE(FReports.SucceededAtDone) << path;
        EXPECT_EQ(FReports.TextAtDone, QStringLiteral("The server stopped answering")) << path;
    }
}

TEST_F(DownloaderTest, AnswerBeyondTheSizeLimitFails)
{
    for (const char* path : {"/image.png", "/stream"}) {
        Reset();
        const auto d = Make(FServer.Url(QString::fromLatin1(path)));
        d->SetMaxSize(1000);
        ASSERT_TRUE(Download(*d)) << path;
        EXPECT_FALSE(FReports.SucceededAtDone) << path;
        EXPECT_TRUE(FReports.TextAtDone.contains(QStringLiteral("large"))) << FReports.TextAtDone.toStdString();
        EXPECT_LE(Written().size(), 1000) << path;
    }
}

// The end of the body as the answer frames it: what the client reports, and
// what it does not, which the downloader checks itself.
TEST_F(DownloaderTest, MalformedAnswersFail)
{
    using TReply = Testing::TTestHttpServer::TReply;
    const auto answer = [](QByteArray Body, QByteArray Headers) {
        return TReply{
            .Status = "200 OK", .ContentType = "image/png", .Body = Body, .Headers = Headers, .SendLength = false};
    };
    const QByteArray chunked = "Transfer-Encoding: chunked\r\n";
    struct TCase {
        const char* Path;
        TReply Reply;
        // Empty: the download succeeds with Body.
        QString Text;
        QByteArray Body;
    };
    const TCase cases[] = {
        {"/chunked", answer("3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n", chunked), {}, "abcde"},
        {"/same-lengths", answer("0123456789", "Content-Length: 10\r\nContent-Length: 10\r\n"), {}, "0123456789"},
        // The client takes a chunk size that is no number for the last chunk.
        {"/bad-chunk-size", answer("zz\r\nabc\r\n0\r\n\r\n", chunked), "The answer is malformed or empty", {}},
        {"/no-body", answer({}, "Content-Length: 0\r\n"), "The answer is empty", {}},
        {"/two-lengths", answer("0123456789", "Content-Length: 5\r\nContent-Length: 10\r\n"),
         "The answer is malformed", {}},
        {"/length-list", answer("0123456789", "Content-Length: 10, 5\r\n"), "The answer is malformed", {}},
        {"/signed-length", answer("0123456789", "Content-Length: +10\r\n"), "The answer is malformed", {}},
        {"/word-length", answer("0123456789", "Content-Length: ten\r\n"), "The answer is malformed", {}},
        {"/cut-short", answer("0123456789", "Content-Length: 1000\r\n"), "Connection closed", {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Path);
        Reset();
        FServer.Serve(c.Path, c.Reply);
        const auto d = Make(FServer.Url(QString::fromLatin1(c.Path)));
        ASSERT_TRUE(Download(*d));
        EXPECT_EQ(FReports.SucceededAtDone, c.Text.isEmpty());
        if (c.Text.isEmpty())
            EXPECT_EQ(Written(), c.Body);
        else
            EXPECT_EQ(FReports.TextAtDone, c.Text);
    }
}

// However long the answer, the network code holds a bounded part of it, and
// a download without a length stops at the limit.
TEST_F(DownloaderTest, EndlessAnswerStopsAtTheLimitInLittleMemory)
{
    QTemporaryDir dir;
    Platform::TTemporaryFileStream file(dir.filePath(QStringLiteral("download-XXXXXX")));
    const auto d = Make(FServer.Url(QStringLiteral("/endless")), true, &file);
    constexpr int64_t limit = 96 << 20;
    d->SetMaxSize(limit);
    const int64_t before = Testing::ResidentBytes();
    int64_t peak = before;
    const auto onProgress = d->OnProgress;
    d->OnProgress = [&] {
        onProgress();
        peak = std::max(peak, Testing::ResidentBytes());
    };
    ASSERT_TRUE(Download(*d));
    EXPECT_FALSE(FReports.SucceededAtDone);
    EXPECT_EQ(FReports.TextAtDone, QStringLiteral("The answer is larger than 100663296 bytes"));
    EXPECT_LE(file.Size(), limit);
    EXPECT_GT(file.Size(), limit - Net::ReadBufferSize * 4);
    // Progress counts the bytes as they come; no length was announced.
    ASSERT_GE(FReports.Progresses.size(), 3);
    EXPECT_EQ(FReports.Progresses.first(), std::pair(0, 0));
    EXPECT_EQ(FReports.Progresses[FReports.Progresses.size() - 2].second, 0);
    EXPECT_GT(FReports.Progresses[FReports.Progresses.size() - 2].first, limit / 2);
    // Half the limit: an answer held in memory takes all of it, while the
    // test server's own send buffers in this process grow on a busy machine.
    if (Testing::ResidentMemoryTells) {
        EXPECT_LT(peak - before, limit / 2) << "resident memory grew by " << (peak - before) << " bytes";
    }
}

// A reload into a cache entry that held a longer picture.
TEST_F(DownloaderTest, ShorterDownloadLeavesNoOldTailInTheCacheFile)
{
    QTemporaryDir dir;
    IO::TCorvFileCache cache(dir.path());
    const QString key = FServer.Url(QStringLiteral("/image.png"));
    {
        const auto stream = cache.OpenEntry(key);
        const QByteArray old(100000, 'o');
        stream->WriteBuffer(old.constData(), int32_t(old.size()));
    }
    const auto stream = cache.OpenEntry(key);
    const auto d = Make(key, true, stream.get());
    ASSERT_TRUE(Download(*d));
    EXPECT_TRUE(FReports.SucceededAtDone);
    EXPECT_EQ(stream->Size(), Picture().size());
    EXPECT_EQ(stream->Position(), 0);
    EXPECT_EQ(ReadRest(*stream), Picture());
}

// The peak resident memory above what the process held before Run, 0 where
// resident memory tells nothing.
int64_t PeakGrowth(const std::function<void()>& Run)
{
    const int64_t before = Testing::ResidentBytes();
    Testing::ResetResidentPeak();
    Run();
    return Testing::ResidentMemoryTells ? Testing::ResidentBytes("VmHWM:") - before : 0;
}

// Each bound of a direct answer holds as well after one or three
// redirections: the read limit and the size limit for an answer without an
// end or with one too far, its headers' check, the failure of a later hop
// with its own message, and the end at its headers of an error answer, or of
// a redirection that names no target, whose body has no end.
TEST_F(DownloaderTest, RedirectedAnswersKeepTheDirectBounds)
{
    constexpr int64_t limit = 96 << 20;
    constexpr int64_t overLimit = limit + (16 << 20);
    const Testing::TRefusedPort closed;
    const QByteArray refused = QStringLiteral("http://127.0.0.1:%1/refused").arg(closed.Port()).toLatin1();
    struct TTarget {
        QByteArray Path;
        QByteArray Location;
        QString Text;
    };
    const TTarget targets[] = {
        {"/endless", "/endless", QStringLiteral("The answer is larger than %1 bytes").arg(limit)},
        {"/over-limit", "/over-limit", QStringLiteral("The answer is too large (%1 bytes)").arg(overLimit)},
        {"/two-lengths", "/two-lengths", QStringLiteral("The answer is malformed")},
        {"/refused", refused, QStringLiteral("Connection refused")},
        {"/missing-endless", "/missing-endless", QStringLiteral("HTTP 404 Not Found")},
        {"/nowhere-endless", "/nowhere-endless", QStringLiteral("HTTP 302 Found")},
    };
    const Testing::TTestHttpServerThread server([&](Testing::TTestHttpServer& Server) {
        ServeDownloads(Server);
        Server.Serve("/over-limit", {.Status = "200 OK",
                                     .ContentType = "image/png",
                                     .Body = {},
                                     .DeclaredLength = overLimit,
                                     .FillerBytes = overLimit});
        Server.Serve("/two-lengths", {.Status = "200 OK",
                                      .ContentType = "image/png",
                                      .Body = "0123456789",
                                      .Headers = "Content-Length: 5\r\nContent-Length: 10\r\n",
                                      .SendLength = false});
        const std::pair<QByteArray, QByteArray> endlessErrors[] = {{"/missing-endless", "404 Not Found"},
                                                                   {"/nowhere-endless", "302 Found"}};
        for (const auto& [path, status] : endlessErrors)
            Server.Serve(path, {.Status = status,
                                .ContentType = "text/html",
                                .Body = {},
                                .SendLength = false,
                                .FillerBytes = int64_t(1) << 40});
        const QByteArray statuses[] = {"302 Found", "307 Temporary Redirect", "301 Moved Permanently"};
        for (const TTarget& target : targets) {
            QByteArray next = target.Location;
            for (int hops = 1; hops <= 3; ++hops) {
                const QByteArray path = "/hop" + QByteArray::number(hops) + target.Path;
                Server.Serve(path, {.Status = statuses[hops - 1], .ContentType = "", .Body = "moved",
                                    .Headers = Redirection(next)});
                next = path;
            }
        }
    });
    QTemporaryDir dir;
    for (const TTarget& target : targets) {
        for (const int hops : {0, 1, 3}) {
            // Directly, the target is where the last hop points.
            const QByteArray path = hops > 0 ? "/hop" + QByteArray::number(hops) + target.Path : target.Location;
            const QString url = path.startsWith("http:") ? QString::fromLatin1(path) : server.Url(path);
            SCOPED_TRACE(url.toStdString());
            FReports = {};
            Platform::TTemporaryFileStream file(dir.filePath(QStringLiteral("download-XXXXXX")));
            const auto d = Make(url, true, &file);
            d->SetMaxSize(limit);
            const int64_t sentBefore = server.FillerSent();
            bool done = false;
            const int64_t growth = PeakGrowth([&] { done = Download(*d); });
            ASSERT_TRUE(done);
            EXPECT_FALSE(FReports.SucceededAtDone);
            EXPECT_EQ(FReports.TextAtDone.toStdString(), target.Text.toStdString());
            const bool bodyRead = target.Path == "/endless";
            EXPECT_LE(file.Size(), bodyRead ? limit : 0);
            EXPECT_LT(growth, 24 << 20) << "resident memory grew by " << growth << " bytes";
            // An answer that fails at its headers is read no further: the
            // server got rid of no more than the sockets' buffers hold.
            if (!bodyRead) {
                const int64_t sent = server.FillerSent() - sentBefore;
                EXPECT_LT(sent, 32 << 20) << "the server sent " << sent << " bytes";
            }
        }
    }
}

uint32_t Crc32OfZeros(int64_t Size)
{
    uint32_t crc = 0xFFFFFFFF;
    for (int64_t i = 0; i < Size; ++i)
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    return ~crc;
}

QByteArray LittleEndian(uint32_t Value)
{
    QByteArray bytes;
    for (int i = 0; i < 4; ++i)
        bytes.append(char(Value >> (8 * i)));
    return bytes;
}

// A body sent compressed inflates into the stream as it comes, and the size
// limit counts the inflated bytes: a valid answer of a high ratio arrives
// whole, one that inflates without end stops at the limit at once. A body
// whose compressed data is damaged, cut short or in encodings not taken
// fails as such, not as a picture that the bytes do not make.
TEST_F(DownloaderTest, CompressedAnswersInflateUpToTheLimit)
{
    constexpr int64_t limit = 96 << 20;
    const Testing::TDeflatedZeros zeros = Testing::DeflatedZeros();
    ASSERT_EQ(zeros.Start.size(), 3);
    ASSERT_EQ(zeros.Unit.size(), 13);
    constexpr int64_t units = 12000;
    const int64_t size = Testing::TDeflatedZeros::Size(units);
    const QByteArray deflated = zeros.Start + zeros.Unit.repeated(units) + zeros.End;
    const QByteArray gzipHeader = QByteArray::fromHex("1f8b0800000000000003");
    const QByteArray zlibHeader = QByteArray::fromHex("7801");
    const uint32_t crc = Crc32OfZeros(size);
    const QByteArray gzip = gzipHeader + deflated + LittleEndian(crc) + LittleEndian(uint32_t(size));
    // Adler-32 of zeros: 1, and the count for the second sum.
    const uint32_t adler = uint32_t(size % 65521) << 16 | 1;
    const QByteArray adlerBytes = QByteArray::fromHex(QByteArray::number(adler, 16).rightJustified(8, '0'));
    const QString tooLarge = QStringLiteral("The answer is larger than %1 bytes").arg(limit);
    const QString damaged = QStringLiteral("The answer's compressed data is damaged.");
    struct TCase {
        QByteArray Path;
        QByteArray Encoding;
        QByteArray Body;
        QByteArray Endless;
        // Empty: the download succeeds with the zeros.
        QString Text;
    };
    const TCase cases[] = {
        {"/gzip", "gzip", gzip, {}, {}},
        {"/deflate", "deflate", zlibHeader + deflated + adlerBytes, {}, {}},
        {"/x-gzip", "x-gzip", gzip, {}, {}},
        {"/gzip-endless", "gzip", gzipHeader + zeros.Start, zeros.Unit, tooLarge},
        {"/deflate-endless", "deflate", zlibHeader + zeros.Start, zeros.Unit, tooLarge},
        {"/gzip-bad-crc", "gzip", gzipHeader + deflated + LittleEndian(crc ^ 1) + LittleEndian(uint32_t(size)), {},
         damaged},
        {"/gzip-cut", "gzip", gzipHeader + zeros.Start + zeros.Unit.repeated(units), {}, damaged},
        {"/deflate-cut", "deflate", zlibHeader + deflated, {}, damaged},
        {"/gzip-twice", "gzip, gzip", gzip, {}, damaged},
        {"/compress", "compress", gzip, {}, damaged},
    };
    const Testing::TTestHttpServerThread server([&](Testing::TTestHttpServer& Server) {
        for (const TCase& c : cases)
            Server.Serve(c.Path, {.Status = "200 OK",
                                  .ContentType = "image/bmp",
                                  .Body = c.Body,
                                  .Headers = "Content-Encoding: " + c.Encoding + "\r\n",
                                  .SendLength = c.Endless.isEmpty(),
                                  .FillerBytes = c.Endless.isEmpty() ? 0 : int64_t(1) << 40,
                                  .FillerPattern = c.Endless});
    });
    QTemporaryDir dir;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Path.toStdString());
        FReports = {};
        Platform::TTemporaryFileStream file(dir.filePath(QStringLiteral("download-XXXXXX")));
        const auto d = Make(server.Url(c.Path), true, &file);
        d->SetMaxSize(limit);
        bool done = false;
        const int64_t growth = PeakGrowth([&] { done = Download(*d); });
        ASSERT_TRUE(done);
        if (c.Text.isEmpty()) {
            EXPECT_TRUE(FReports.SucceededAtDone) << FReports.TextAtDone.toStdString();
            EXPECT_EQ(file.Size(), size);
            EXPECT_EQ(ReadRest(file).count('\0'), size);
        } else {
            EXPECT_FALSE(FReports.SucceededAtDone);
            EXPECT_EQ(FReports.TextAtDone.toStdString(), c.Text.toStdString());
            EXPECT_LE(file.Size(), limit);
        }
        EXPECT_LT(growth, 24 << 20) << "resident memory grew by " << growth << " bytes";
    }
}

} // namespace
