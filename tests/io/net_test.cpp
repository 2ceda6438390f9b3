#include "io/net.h"

#include "io/filecache.h"
#include "platform/streams.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <map>

namespace {

using namespace Corvanith;
using Corvanith::Net::TCorvUrlDownloader;

// Runs the event loop until Done holds; the bound only keeps a broken build
// from hanging the run.
bool RunUntil(const std::function<bool()>& Done)
{
    QElapsedTimer timer;
    timer.start();
    while (!Done()) {
        if (timer.elapsed() > 20000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

QByteArray Picture()
{
    QByteArray bytes(40000, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + i / 251);
    return bytes;
}

// A small HTTP server on the loopback interface, answering by path:
// /image.png, /page.html, /notype (200 without a type), /stream (no length,
// ends with the connection), /redirect/N (N redirections, then the image),
// /missing (404), /slow (a first part, then nothing) and /silent (no answer).
class TestServer {
public:
    TestServer()
    {
        FServer.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&FServer, &QTcpServer::newConnection, &FServer, [this] {
            while (QTcpSocket* socket = FServer.nextPendingConnection())
                Accept(socket);
        });
    }

    QString Url(const QString& Path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(FServer.serverPort()).arg(Path);
    }
    int Requests() const { return FRequests; }
    int OpenConnections() const { return FOpen; }
    const QByteArray& LastUserAgent() const { return FUserAgent; }

private:
    void Accept(QTcpSocket* Socket)
    {
        ++FOpen;
        auto request = std::make_shared<QByteArray>();
        QObject::connect(Socket, &QTcpSocket::disconnected, Socket, [this, Socket] {
            --FOpen;
            Socket->deleteLater();
        });
        QObject::connect(Socket, &QTcpSocket::readyRead, Socket, [this, Socket, request] {
            request->append(Socket->readAll());
            const qsizetype end = request->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QList<QByteArray> lines = request->left(end).split('\n');
            request->clear();
            ++FRequests;
            for (const QByteArray& line : lines) {
                if (line.toLower().startsWith("user-agent:"))
                    FUserAgent = line.mid(11).trimmed();
            }
            Answer(*Socket, QString::fromLatin1(lines[0].split(' ').value(1)));
        });
    }

    static void Send(QTcpSocket& Socket, const QByteArray& Status, const QByteArray& Headers, const QByteArray& Body)
    {
        Socket.write("HTTP/1.1 " + Status + "\r\n" + Headers + "Content-Length: " + QByteArray::number(Body.size())
                     + "\r\nConnection: close\r\n\r\n" + Body);
        Socket.disconnectFromHost();
    }

    void Answer(QTcpSocket& Socket, const QString& Path)
    {
        if (Path == u"/image.png") {
            Send(Socket, "200 OK", "Content-Type: image/png\r\n", Picture());
        } else if (Path == u"/page.html") {
            Send(Socket, "200 OK", "Content-Type: text/html; charset=UTF-8\r\n", "<html><body>page</body></html>");
        } else if (Path == u"/notype") {
            Send(Socket, "200 OK", "", "data");
        } else if (Path == u"/stream") {
            Socket.write("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nConnection: close\r\n\r\n" + Picture());
            Socket.disconnectFromHost();
        } else if (Path.startsWith(u"/redirect/")) {
            const int left = Path.mid(10).toInt();
            const QByteArray next = left > 1 ? "/redirect/" + QByteArray::number(left - 1) : "/image.png";
            Send(Socket, "302 Found", "Location: " + next + "\r\n", "moved");
        } else if (Path == u"/missing") {
            Send(Socket, "404 Not Found", "Content-Type: text/html\r\n", "<html>no such page</html>");
        } else if (Path == u"/slow") {
            Socket.write("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: 1000000\r\n\r\n"
                         + QByteArray(1000, 'x'));
        }
        // /silent and anything else: no answer at all.
    }

    QTcpServer FServer;
    int FRequests = 0;
    int FOpen = 0;
    QByteArray FUserAgent;
};

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

    TestServer FServer;
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
    EXPECT_EQ(FServer.LastUserAgent(), QByteArray(Net::DownloadUserAgent));
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

TEST_F(DownloaderTest, ErrorAnswerIsNotCheckedNorStored)
{
    const auto d = Make(FServer.Url(QStringLiteral("/missing")));
    ASSERT_TRUE(Download(*d));
    EXPECT_FALSE(FReports.SucceededAtDone);
    EXPECT_EQ(FReports.TextAtDone, QStringLiteral("HTTP 404 Not Found"));
    EXPECT_EQ(FReports.Checks, 0);
    EXPECT_TRUE(Written().isEmpty());
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

TEST_F(DownloaderTest, SilentServerFailsAfterTheTransferTimeout)
{
    const auto d = Make(FServer.Url(QStringLiteral("/silent")));
    d->SetTransferTimeout(200);
    ASSERT_TRUE(Download(*d));
    EXPECT_FALSE(FReports.SucceededAtDone);
    EXPECT_EQ(FReports.TextAtDone, QStringLiteral("The server stopped answering"));
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

} // namespace
