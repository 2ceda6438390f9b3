#pragma once
// A tiny HTTP server on the loopback address for tests: answers each path
// with canned replies, or never answers at all, and remembers the headers it
// was sent. Runs on the thread that made it, through its event loop, or on
// a thread of its own. Also compressed bodies of zero bytes, made by hand.
#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace Corvanith::Testing {

class TTestHttpServer {
public:
    struct TReply {
        QByteArray Status = "200 OK";
        QByteArray ContentType = "text/html";
        QByteArray Body;
        // Keeps the connection open without a word.
        bool Silent = false;
        // Further header lines, each ended by "\r\n".
        QByteArray Headers = {};
        // Without a length the body ends with the connection.
        bool SendLength = true;
        // A length above the body's keeps the client waiting for the rest.
        qint64 DeclaredLength = -1;
        // Leaves the connection open after the body.
        bool KeepOpen = false;
        // After the body, this many bytes more, sent only as fast as the
        // client takes them, so the server holds little of them at a time.
        qint64 FillerBytes = 0;
        // What the filler repeats.
        QByteArray FillerPattern = "f";
    };

    TTestHttpServer()
    {
        FServer.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&FServer, &QTcpServer::newConnection, &FServer, [this] { Accept(); });
    }

    void Serve(const QByteArray& Path, TReply Reply) { FReplies[Path] = {std::move(Reply)}; }
    // The first request gets the first reply, the next the next one, and
    // every request after them the last.
    void ServeInTurn(const QByteArray& Path, QList<TReply> Replies) { FReplies[Path] = std::move(Replies); }
    QString Url(const QString& Path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(FServer.serverPort()).arg(Path);
    }
    // The value of Name in the last request that carried it.
    QByteArray LastHeader(const QByteArray& Name) const { return FHeaders.value(Name.toLower()); }
    int Requests(const QByteArray& Path) const { return FRequestCounts.value(Path); }
    int Requests() const
    {
        int total = 0;
        for (const int n : FRequestCounts)
            total += n;
        return total;
    }
    int OpenConnections() const { return FOpen; }
    // The filler bytes handed to the sockets so far, of every reply; may be
    // read from any thread.
    int64_t FillerSent() const { return FFillerSent; }

private:
    void Accept()
    {
        while (QTcpSocket* socket = FServer.nextPendingConnection()) {
            auto request = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
                request->append(socket->readAll());
                if (request->contains("\r\n\r\n"))
                    Answer(*socket, *request);
            });
            ++FOpen;
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                --FOpen;
                socket->deleteLater();
            });
        }
    }

    void Answer(QTcpSocket& Socket, const QByteArray& Request)
    {
        const QList<QByteArray> lines = Request.left(Request.indexOf("\r\n\r\n")).split('\n');
        const QByteArray path = lines.value(0).split(' ').value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                FHeaders[lines[i].left(colon).trimmed().toLower()] = lines[i].mid(colon + 1).trimmed();
        }
        const int turn = FRequestCounts[path]++;
        const auto found = FReplies.constFind(path);
        const TReply reply = found != FReplies.constEnd() ? found->at(std::min<qsizetype>(turn, found->size() - 1))
                                                          : TReply{"404 Not Found", "text/plain", "missing"};
        if (reply.Silent)
            return;
        QByteArray answer = "HTTP/1.1 " + reply.Status + "\r\n";
        if (!reply.ContentType.isEmpty())
            answer += "Content-Type: " + reply.ContentType + "\r\n";
        answer += reply.Headers;
        if (reply.SendLength)
            answer += "Content-Length: "
                + QByteArray::number(reply.DeclaredLength >= 0 ? reply.DeclaredLength : reply.Body.size()) + "\r\n";
        answer += "Connection: close\r\n\r\n";
        Socket.write(answer + reply.Body);
        if (reply.FillerBytes > 0)
            SendFiller(Socket, reply.FillerBytes, reply.FillerPattern, !reply.KeepOpen);
        else if (!reply.KeepOpen)
            Socket.disconnectFromHost();
    }

    void SendFiller(QTcpSocket& Socket, qint64 Bytes, const QByteArray& Pattern, bool Close)
    {
        // Whole patterns, so that each block goes on where the last ended.
        const QByteArray block = Pattern.repeated(std::max<qsizetype>(64 * 1024 / Pattern.size(), 1));
        const qint64 blockSize = block.size();
        auto left = std::make_shared<qint64>(Bytes);
        const auto topUp = [this, &Socket, block, blockSize, left, Close] {
            while (*left > 0 && Socket.bytesToWrite() < 4 * blockSize) {
                const qint64 n = std::min(*left, blockSize);
                Socket.write(block.constData(), n);
                *left -= n;
                FFillerSent += n;
            }
            if (*left == 0 && Close) {
                *left = -1;
                Socket.disconnectFromHost();
            }
        };
        QObject::connect(&Socket, &QTcpSocket::bytesWritten, &Socket, topUp);
        topUp();
    }

    // Before the server, whose sockets may still send while it goes.
    std::atomic<int64_t> FFillerSent = 0;
    QTcpServer FServer;
    QMap<QByteArray, QList<TReply>> FReplies;
    QMap<QByteArray, QByteArray> FHeaders;
    QMap<QByteArray, int> FRequestCounts;
    int FOpen = 0;
};

// A loopback port that refuses every connection while this lives: bound but
// never listening, and not shared, so that no server of another test run
// takes it over, as one may take a port that was only closed.
class TRefusedPort {
public:
    TRefusedPort() { FSocket.bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress); }
    quint16 Port() const { return FSocket.localPort(); }

private:
    QTcpSocket FSocket;
};

// A server on a thread of its own sends as fast as the socket takes its
// bytes, as another host does, and not only when the downloader's event loop
// lets it. Its paths are set up on its thread before any request.
class TTestHttpServerThread {
public:
    explicit TTestHttpServerThread(const std::function<void(TTestHttpServer&)>& Setup)
    {
        FContext->moveToThread(&FThread);
        FThread.start();
        QMetaObject::invokeMethod(
            FContext.get(),
            [&] {
                FServer = std::make_unique<TTestHttpServer>();
                Setup(*FServer);
                FBase = FServer->Url({});
            },
            Qt::BlockingQueuedConnection);
    }
    ~TTestHttpServerThread()
    {
        QMetaObject::invokeMethod(FContext.get(), [this] { FServer.reset(); }, Qt::BlockingQueuedConnection);
        FThread.quit();
        FThread.wait();
    }
    QString Url(const QByteArray& Path) const { return FBase + QString::fromLatin1(Path); }
    int64_t FillerSent() const { return FServer->FillerSent(); }

private:
    QThread FThread;
    std::unique_ptr<QObject> FContext = std::make_unique<QObject>();
    std::unique_ptr<TTestHttpServer> FServer;
    QString FBase;
};

// Zero bytes, deflated by hand: one literal zero, then copies of 258 bytes
// from 1 byte back, 13 bits each in a block of the fixed codes. After the
// first copy the bits meet a byte boundary every 8 copies, so Unit, those 13
// bytes, may follow Start any number of times; End closes the block.
struct TDeflatedZeros {
    QByteArray Start;
    QByteArray Unit;
    QByteArray End;
    // The bytes that Start, Units times Unit and End inflate to.
    static int64_t Size(int64_t Units) { return 1 + 258 * (1 + 8 * Units); }
};

inline TDeflatedZeros DeflatedZeros()
{
    QByteArray bytes;
    uint32_t bits = 0;
    int count = 0;
    const auto put = [&](uint32_t Value, int Length) {
        bits |= Value << count;
        count += Length;
        for (; count >= 8; count -= 8, bits >>= 8)
            bytes.append(char(bits & 0xFF));
    };
    // Huffman codes go out from their highest bit.
    const auto code = [&](uint32_t Value, int Length) {
        for (int i = Length - 1; i >= 0; --i)
            put((Value >> i) & 1, 1);
    };
    const auto copy = [&] {
        code(0xC5, 8); // length 258
        code(0, 5);    // distance 1
    };
    put(1, 1);     // the last block
    put(1, 2);     // fixed codes
    code(0x30, 8); // literal 0
    copy();
    TDeflatedZeros zeros;
    zeros.Start = bytes;
    bytes.clear();
    for (int i = 0; i < 8; ++i)
        copy();
    zeros.Unit = bytes;
    bytes.clear();
    code(0, 7); // end of block
    if (count > 0)
        put(0, 8 - count);
    zeros.End = bytes;
    return zeros;
}

} // namespace Corvanith::Testing
