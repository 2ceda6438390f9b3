#include "io/net.h"

#include "graphics/errors.h"
#include "io/inflater.h"
#include "platform/streams.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <optional>

namespace Corvanith::Net {

namespace {

int32_t ToInt32(int64_t Count) { return int32_t(std::clamp<int64_t>(Count, 0, INT32_MAX)); }

int StatusCode(const QNetworkReply& Reply)
{
    return Reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

bool IsSuccess(int Code) { return Code >= 200 && Code < 300; }

// How an answer that is no success fails the download.
QString StatusLine(const QNetworkReply& Reply)
{
    return QStringLiteral("HTTP %1 %2")
        .arg(StatusCode(Reply))
        .arg(Reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
}

// The answers that the client would follow by itself.
bool IsRedirection(int Code)
{
    return Code == 301 || Code == 302 || Code == 303 || Code == 305 || Code == 307 || Code == 308;
}

// The "Content-Length" of the answer, -1 when it has none; nothing when it is
// not one decimal count. The client joins repeated headers into one list,
// which stands for one length only when all its items agree: two different
// lengths leave the end of the body unknown. Each hop of a redirection is a
// reply of its own, so the list is this answer's alone.
std::optional<int64_t> AnnouncedLength(const QNetworkReply& Reply)
{
    if (!Reply.hasRawHeader("Content-Length"))
        return -1;
    const QList<QByteArray> items = Reply.rawHeader("Content-Length").split(',');
    std::optional<int64_t> length;
    for (const QByteArray& item : items) {
        const QByteArray digits = item.trimmed();
        bool ok = !digits.isEmpty()
                  && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
        const qlonglong value = ok ? digits.toLongLong(&ok) : 0;
        if (!ok || (length && *length != value))
            return std::nullopt;
        length = value;
    }
    return length;
}

} // namespace

TCorvUrlDownloader::TCorvUrlDownloader(const QString& Url, Platform::TStream& Stream)
    : FUrl(Url), FStream(Stream), FContext(std::make_unique<QObject>())
{
}

TCorvUrlDownloader::~TCorvUrlDownloader()
{
    FContext.reset();
    if (FReply != nullptr) {
        FReply->abort();
        delete FReply;
    }
}

void TCorvUrlDownloader::Start()
{
    if (FStarted || FStopped)
        return;
    FStarted = true;
    const QUrl url(FUrl);
    if (!url.isValid() || url.host().isEmpty()) {
        PostDone(false, QStringLiteral("Invalid URL"));
        return;
    }
    const QString scheme = url.scheme().toLower();
    if (scheme != u"http" && scheme != u"https") {
        PostDone(false, QStringLiteral("Unsupported protocol \"%1\"").arg(url.scheme()));
        return;
    }

    FManager = std::make_unique<QNetworkAccessManager>();
    PostStatus(QStringLiteral("Resolving %1.").arg(url.host()));
    // Our own clock: it starts again with each hop of a redirection, which
    // the client's transfer time-out does not.
    QObject* context = FContext.get();
    FSilence = new QTimer(context);
    FSilence->setSingleShot(true);
    QObject::connect(FSilence, &QTimer::timeout, context,
                     [this] { Fail(QStringLiteral("The server stopped answering")); });
    Get(url);
}

// Each hop of a redirection is a request of its own, as the first one: the
// client's own following hands the next hop none of the read limit, and lets
// the headers of earlier hops' answers run into the final one's.
void TCorvUrlDownloader::Get(const QUrl& Url)
{
    QNetworkRequest request(Url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QString::fromLatin1(DownloadUserAgent));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // Compressed bodies are inflated here, not by the client, which takes a
    // cut stream for a whole one and stacked encodings for plain data; asking
    // for the encodings itself keeps the client from inflating.
    request.setRawHeader("Accept-Encoding", AcceptedEncodings);
    FReply = FManager->get(request);
    FReply->setReadBufferSize(ReadBufferSize);
    RestartSilenceClock();
    QObject* context = FContext.get();
    QObject::connect(FReply, &QNetworkReply::socketStartedConnecting, context,
                     [this, host = Url.host()] { PostStatus(QStringLiteral("Connecting to %1.").arg(host)); });
    QObject::connect(FReply, &QNetworkReply::requestSent, context, [this] {
        RestartSilenceClock();
        PostStatus(QStringLiteral("Connected."));
    });
    QObject::connect(FReply, &QNetworkReply::metaDataChanged, context, [this] {
        RestartSilenceClock();
        HeadersAvailable();
    });
    QObject::connect(FReply, &QNetworkReply::readyRead, context, [this] {
        RestartSilenceClock();
        BodyAvailable();
    });
    QObject::connect(FReply, &QNetworkReply::finished, context, [this] { TransferFinished(); });
}

void TCorvUrlDownloader::Redirect()
{
    const QUrl from = FReply->url();
    const QUrl target = from.resolved(QUrl::fromEncoded(FReply->rawHeader("Location")));
    const QString scheme = target.scheme().toLower();
    // Only to http and https, and never from https to http.
    const bool allowed = !target.host().isEmpty()
                         && (scheme == u"https" || (scheme == u"http" && from.scheme().toLower() != u"https"));
    if (!allowed) {
        Fail(QStringLiteral("The redirection to %1 is refused").arg(target.toString()));
        return;
    }
    if (FRedirections == MaxRedirects) {
        Fail(QStringLiteral("More than %1 redirections").arg(MaxRedirects));
        return;
    }
    ++FRedirections;
    // The rest of this answer is of no use: from now on only the next hop
    // reports.
    QObject::disconnect(FReply, nullptr, FContext.get(), nullptr);
    FReply->abort();
    FReply->deleteLater();
    PostStatus(QStringLiteral("Redirected to %1.").arg(target.toString()));
    Get(target);
}

void TCorvUrlDownloader::RestartSilenceClock()
{
    if (FTransferTimeout > 0)
        FSilence->start(FTransferTimeout);
}

void TCorvUrlDownloader::Stop()
{
    FStopped = true;
    FSucceeded = false;
    FStatusText = QStringLiteral("Stoped");
    if (FReply != nullptr) {
        FSilence->stop();
        QObject::disconnect(FReply, nullptr, FContext.get(), nullptr);
        FReply->abort();
    }
    if (FDone)
        return;
    FDone = true;
    // Last: the owner may free the downloader here.
    if (OnDone)
        OnDone();
}

// Reports wait for the event loop, so the owner never runs inside the
// network code; one that comes after Stop or a refusal is dropped.
void TCorvUrlDownloader::Post(std::function<void()> Report)
{
    QMetaObject::invokeMethod(FContext.get(), std::move(Report), Qt::QueuedConnection);
}

void TCorvUrlDownloader::PostStatus(const QString& Text)
{
    Post([this, Text] {
        if (FStopped)
            return;
        FStatusText = Text;
        if (OnStatus)
            OnStatus();
    });
}

void TCorvUrlDownloader::PostProgress(int32_t Position, int32_t Max)
{
    Post([this, Position, Max] {
        if (FStopped)
            return;
        FPosition = Position;
        FMax = Max;
        if (OnProgress)
            OnProgress();
    });
}

void TCorvUrlDownloader::PostDone(bool Succeeded, const QString& Text)
{
    Post([this, Succeeded, Text] {
        if (FDone)
            return;
        FDone = true;
        FSucceeded = Succeeded;
        if (!Text.isNull())
            FStatusText = Text;
        if (OnDone)
            OnDone();
    });
}

void TCorvUrlDownloader::Fail(const QString& Text)
{
    if (FFailure.isEmpty())
        FFailure = Text;
    FReply->abort();
}

void TCorvUrlDownloader::HeadersAvailable()
{
    const int code = StatusCode(*FReply);
    if (FBodyBegun || FStopped || !FFailure.isEmpty())
        return;
    if (IsRedirection(code) && FReply->hasRawHeader("Location")) {
        Redirect();
        return;
    }
    // The body of any other answer is no picture, and it may have no end:
    // the download ends at the headers.
    if (!IsSuccess(code)) {
        Fail(StatusLine(*FReply));
        return;
    }
    FBodyBegun = true;
    const std::optional<int64_t> length = AnnouncedLength(*FReply);
    if (!length) {
        Fail(QStringLiteral("The answer is malformed"));
        return;
    }
    FAnnounced = std::max<int64_t>(*length, 0);
    if (FAnnounced > FMaxSize) {
        Fail(QStringLiteral("The answer is too large (%1 bytes)").arg(FAnnounced));
        return;
    }
    // Only a plain 200 answer is put to the check.
    if (code == 200) {
        FContentType = QString::fromLatin1(FReply->rawHeader("Content-Type"));
        if (OnCheckContentType && !OnCheckContentType(FContentType)) {
            FStopped = true;
            Fail(QStringLiteral("Unknown image type: ") + FContentType);
            return;
        }
    }
    try {
        FInflater = TCorvInflater::ForEncodings(FReply->rawHeader("Content-Encoding"));
    } catch (const ECorvError& Error) {
        Fail(QString::fromUtf8(Error.what()));
        return;
    }
    PostProgress(0, ToInt32(FAnnounced));
}

void TCorvUrlDownloader::BodyAvailable()
{
    HeadersAvailable();
    // A compressed body inflates as it is read: in pieces, so that one piece
    // is all that is held, whatever the ratio, and the size limit stops an
    // endless one within a piece.
    FPiece.resize(size_t(ReadBufferSize));
    const int64_t received = FReceived;
    while (FBodyBegun && FFailure.isEmpty() && !FStopped) {
        const qint64 count = FReply->read(FPiece.data(), qint64(FPiece.size()));
        if (count <= 0)
            break;
        FReceived += count;
        if (!FInflater) {
            Store(FPiece.data(), int32_t(count));
            continue;
        }
        FInflated.resize(size_t(ReadBufferSize));
        try {
            FInflater->SetInput(FPiece.data(), int32_t(count));
            while (FFailure.isEmpty()) {
                const int32_t inflated = FInflater->Inflate(FInflated.data(), int32_t(FInflated.size()));
                if (inflated == 0)
                    break;
                Store(FInflated.data(), inflated);
            }
        } catch (const ECorvError& Error) {
            Fail(QString::fromUtf8(Error.what()));
        }
    }
    // One report for what arrived together, as the owner redraws for each.
    if (FFailure.isEmpty() && FReceived > received)
        PostProgress(ToInt32(FReceived), ToInt32(FAnnounced));
}

void TCorvUrlDownloader::Store(const char* Data, int32_t Count)
{
    if (FWritten + Count > FMaxSize) {
        Fail(QStringLiteral("The answer is larger than %1 bytes").arg(FMaxSize));
        return;
    }
    try {
        FStream.WriteBuffer(Data, Count);
    } catch (const ECorvError& Error) {
        Fail(QStringLiteral("Cannot store the download: ") + QString::fromStdString(Error.what()));
        return;
    }
    FWritten += Count;
}

void TCorvUrlDownloader::TransferFinished()
{
    FSilence->stop();
    QString failure = FFailure;
    const int code = StatusCode(*FReply);
    if (failure.isEmpty()) {
        if (code >= 300) {
            failure = StatusLine(*FReply);
        } else if (FReply->error() != QNetworkReply::NoError) {
            failure = FReply->errorString();
        } else if (!IsSuccess(code)) {
            failure = QStringLiteral("The server sent no answer");
        } else if (FInflater && !FInflater->Complete()) {
            failure = QString::fromLatin1(DamagedDataText);
        } else if (FWritten == 0) {
            // The client takes a chunk size that is no number for the last
            // chunk, so an empty chunked body may be a malformed one.
            failure = FReply->rawHeader("Transfer-Encoding").toLower().contains("chunked")
                          ? QStringLiteral("The answer is malformed or empty")
                          : QStringLiteral("The answer is empty");
        }
    }
    PostProgress(-1, -1);
    if (!failure.isEmpty()) {
        PostDone(false, failure);
        return;
    }
    // A shorter answer stored over an older one must not keep the old tail.
    try {
        FStream.SetSize(FStream.Position());
        FStream.SetPosition(0);
    } catch (const ECorvError& Error) {
        PostDone(false, QStringLiteral("Cannot store the download: ") + QString::fromStdString(Error.what()));
        return;
    }
    PostStatus(QStringLiteral("Disconnected."));
    PostDone(true, {});
}

} // namespace Corvanith::Net
