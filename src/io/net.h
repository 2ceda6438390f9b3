#pragma once
// TCorvUrlDownloader: one HTTP GET of a URL into a stream its owner lends,
// with status, progress and completion reported back. The transfer runs on
// the event loop of the thread that makes the downloader (the main thread);
// every report reaches the owner from that loop, never from inside the
// network code, so the owner may free the downloader in its OnDone.
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;
class QObject;
class QTimer;
class QUrl;

namespace Corvanith::Platform {
class TStream;
}

namespace Corvanith::Net {

class TCorvInflater;

inline constexpr const char* DownloadUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)";
inline constexpr int MaxRedirects = 3;
// The answer must keep sending: this long without data fails the download.
inline constexpr int DefaultTransferTimeout = 30000;
// The most of an answer the network code holds before it is written to the
// stream, and the most of it inflated at a time: the socket is read no faster
// than the stream takes the body.
inline constexpr int64_t ReadBufferSize = 256 * 1024;

// Whether an answer of this content type (the "Content-Type" header exactly
// as received, empty when there is none) is wanted.
using TCorvContentTypeCheckEvent = std::function<bool(const QString& ContentType)>;

class TCorvUrlDownloader {
public:
    // Nothing is fetched before Start. Stream stays the owner's; the answer's
    // body is written from its current position.
    TCorvUrlDownloader(const QString& Url, Platform::TStream& Stream);
    TCorvUrlDownloader(const TCorvUrlDownloader&) = delete;
    TCorvUrlDownloader& operator=(const TCorvUrlDownloader&) = delete;
    // Ends a running transfer without reporting anything.
    ~TCorvUrlDownloader();

    // Runs once, as the last report, for every started download: after the
    // GET has ended (completed, failed or refused), or at once inside Stop.
    std::function<void()> OnDone;
    // After each new StatusText of the transfer.
    std::function<void()> OnStatus;
    // At the start of the body (Position 0, Max the announced size or 0 when
    // none is), as it arrives, and at its end (both -1). Both count the bytes
    // as sent, compressed or not.
    std::function<void()> OnProgress;
    // Asked once, for an answer with code 200, before its body is read; False
    // refuses it: nothing of the body is written and no status or progress
    // report follows. It must only look at its argument and note the result.
    TCorvContentTypeCheckEvent OnCheckContentType;

    // Both take effect at Start. The time-out counts from the start, from
    // each hop of a redirection and from the last data that arrived; 0 lets
    // a silent server keep the transfer waiting for ever.
    void SetTransferTimeout(int Milliseconds) { FTransferTimeout = Milliseconds; }
    // Answers longer than this many bytes fail, those that announce it at
    // their headers, the others once they pass it; a compressed body counts
    // as it inflates.
    void SetMaxSize(int64_t Bytes) { FMaxSize = Bytes; }

    // GET with the user agent DownloadUserAgent, following at most
    // MaxRedirects redirections. Only http and https URLs are fetched, and
    // redirections only to them (not from https to http); one without a host
    // ends with "Invalid URL". A second Start, or one after Stop, does
    // nothing.
    void Start();
    // Ends the download from the owner's side: Succeeded False, StatusText
    // "Stoped", OnDone at once unless it has run; nothing is reported and
    // nothing written to the stream after that.
    void Stop();

    const QString& Url() const { return FUrl; }
    // The GET completed with a body of at least one byte, the body is in the
    // stream, which ends after it, and the stream is back at its start. An
    // answer whose length is not one number fails as malformed. A body sent
    // in gzip or deflate encoding is stored inflated; one whose compressed
    // data is damaged or cut short, or that comes in other or stacked
    // encodings, fails with DamagedDataText (io/inflater.h). An answer that is no success
    // and no redirection to follow fails at its headers with its status line
    // ("HTTP 404 Not Found"), its body unread.
    bool Succeeded() const { return FSucceeded; }
    // The last status, or what went wrong.
    const QString& StatusText() const { return FStatusText; }
    int32_t Position() const { return FPosition; }
    int32_t Max() const { return FMax; }
    // Stopped by the owner or refused by the content-type check.
    bool Stopped() const { return FStopped; }
    const QString& ContentType() const { return FContentType; }

private:
    void Post(std::function<void()> Report);
    void PostStatus(const QString& Text);
    void PostProgress(int32_t Position, int32_t Max);
    void PostDone(bool Succeeded, const QString& Text);
    void Fail(const QString& Text);
    // The GET of one hop, as the current reply.
    void Get(const QUrl& Url);
    // To the Location of the current answer, when it is allowed.
    void Redirect();
    // At the start, at each hop, on connecting and when data arrives.
    void RestartSilenceClock();
    void HeadersAvailable();
    void BodyAvailable();
    // The next bytes of the body into the stream, within the size limit.
    void Store(const char* Data, int32_t Count);
    void TransferFinished();

    QString FUrl;
    Platform::TStream& FStream;
    int FTransferTimeout = DefaultTransferTimeout;
    int64_t FMaxSize = INT32_MAX;

    bool FStarted = false;
    bool FDone = false;
    bool FSucceeded = false;
    bool FStopped = false;
    QString FStatusText;
    int32_t FPosition = 0;
    int32_t FMax = 0;
    QString FContentType;

    // State of the transfer as the network code sees it; the fields above
    // change only as the reports are delivered.
    bool FBodyBegun = false;
    int FRedirections = 0;
    int64_t FAnnounced = 0;
    int64_t FReceived = 0;
    int64_t FWritten = 0;
    QString FFailure;
    // Set when the body comes compressed.
    std::unique_ptr<TCorvInflater> FInflater;
    // What one read of the body takes, and what one step of inflating it
    // gives, kept for the whole transfer: data arrives in many small parts.
    std::vector<char> FPiece;
    std::vector<char> FInflated;

    // Receives the network signals and the queued reports; freeing it drops
    // both.
    std::unique_ptr<QObject> FContext;
    std::unique_ptr<QNetworkAccessManager> FManager;
    QNetworkReply* FReply = nullptr;
    // Owned by FContext.
    QTimer* FSilence = nullptr;
};

} // namespace Corvanith::Net
