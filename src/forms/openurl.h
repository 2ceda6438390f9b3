#pragma once
// The "Open URL" dialog. It asks for a URL and downloads it: a picture is
// decoded and closes the dialog, and the caller then has the download stored
// in the URL's file-cache entry; a download that is no picture says so in the
// dialog. A web page ("text/html") is stopped at its headers and loaded
// instead by an invisible web page, which is then drawn at its full scrolled
// size into a surface, stored in the cache as PNG, and handed to the caller
// with the page's title. Nothing that fails or is cancelled touches the
// cache, so the picture cached for the URL stays.
#include <QDialog>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace Corvanith::Graphics {
class TCorvSurface;
}
namespace Corvanith::IO {
class TCorvFileCache;
class TCorvMruList;
}
namespace Corvanith::Net {
class TCorvUrlDownloader;
}
namespace Corvanith::Platform {
class TCorvWebPage;
class TStream;
struct TGuid;
}

namespace Corvanith::Forms {

inline constexpr const char* OpenUrlCaption = "Open URL";
inline constexpr const char* UrlPromptText = "Type the URL of the image or web page.";
inline constexpr const char* EmptyUrlText = "http://";
inline constexpr const char* OpenButtonCaption = "Open";
inline constexpr const char* CancelButtonCaption = "Cancel";
inline constexpr const char* PageDownloadingText = "Downloading...";
inline constexpr const char* GeneratingImageText = "Generating image...";
inline constexpr const char* FailureText = "Error";
inline constexpr const char* PageNotDrawnText = "The page could not be drawn.";
inline constexpr const char* PageCutText = "The page is taller than %1 pixels; its top %2 rows are shown.";
inline constexpr const char* WebPageContentType = "text/html";

// The largest answer a download takes: the largest picture file the decoder
// accepts.
extern const int64_t MaxDownloadSize;

// Trimmed of blanks, with "http://" put in front unless the text starts with
// "https://" in any letter case or the lower-cased text holds "http://"
// somewhere (so "HTTP://x" and "HTTPS://x" stay, "ftp://x" gets the prefix).
QString NormalizeUrl(const QString& Text);
// The text the URL box starts with when it would be empty: the clipboard's
// text when it is a URL with a scheme and a host, else "http://".
QString SuggestedUrl(const QString& ClipboardText);
// The content type up to its first ";", blanks kept.
QString ContentTypeBase(const QString& ContentType);
// The index of the last image encoder whose MIME type equals MimeType
// exactly, with its class identifier in Clsid; -1 (Clsid untouched) when none.
int32_t GetEncoderClsid(const QString& MimeType, Platform::TGuid& Clsid);
// The last line of a failure text; "Error" when it has none.
QString LastLine(const QString& Text);

// The page at its full scrolled size (see TCorvWebPage::FitToContent) over
// opaque white, its alpha flag from its pixels; nullptr when the page has no
// body or cannot be drawn. Throws what the surface throws for a size it cannot
// hold.
std::unique_ptr<Graphics::TCorvSurface> RenderWebPage(Platform::TCorvWebPage& Browser);
// Said of a page Width pixels wide that went on below its top Rows rows: the
// tallest page drawn at that width, and the rows shown.
QString PageCutNotice(int32_t Width, int32_t Rows);

class TOpenUrlForm : public QDialog {
    Q_OBJECT
public:
    // Pictures and rendered pages are stored in FileCache's entry of the
    // URL; the URL box lists the locations of MruList's image URLs and web
    // pages. Url is the text the box starts with. With OpenNow the download
    // starts as soon as the dialog is shown.
    TOpenUrlForm(QWidget* AOwner, IO::TCorvFileCache& FileCache, const IO::TCorvMruList& MruList, const QString& Url,
                 bool OpenNow);
    ~TOpenUrlForm() override;

    // The URL box's text; after Open the normalised URL.
    QString GetUrl() const;
    // Read after the dialog has closed with Accepted.
    bool IsWebPage() const { return FIsWebPage; }
    // The download of the picture, or the URL's cache entry once it holds the
    // picture or the rendered page; at its start, and the dialog's.
    Platform::TStream* Stream() const { return FStream.get(); }
    // Once the caller has taken the picture: its download replaces what the
    // URL's cache entry held (the entry goes when it cannot be written).
    void StoreDownload();
    // The decoded picture or the rendered page, taken over by the caller.
    std::unique_ptr<Graphics::TCorvSurface> TakeSurface();
    // The last title the page reported.
    const QString& Title() const { return FTitle; }
    // What the user is to be told of the rendered page once it opens: that
    // the limits cut it; empty when it is whole.
    const QString& Notice() const { return FNotice; }

    // The controls, for the caller's and the tests' inspection.
    QComboBox& UrlComboBox() const { return *FUrlComboBox; }
    QProgressBar& ProgressBar() const { return *FProgressBar; }
    QLabel& HeaderIcon() const { return *FHeaderIcon; }
    QLabel& InfoImage() const { return *FInfoImage; }
    QLabel& WarnImage() const { return *FWarnImage; }
    QLabel& StatusLabel() const { return *FStatusLabel; }
    QPushButton& OpenButton() const { return *FOpenButton; }
    QPushButton& CancelButton() const { return *FCancelButton; }
    // The web page, once a download turned out to be one; nullptr before.
    Platform::TCorvWebPage* WebBrowser() const { return FWebBrowser.get(); }
    bool Cancelled() const { return FCancelled; }

    // Starts downloading the URL box's text, normalised.
    void OpenButtonClick();
    // Cancel, Esc and the window's close button: a running download or page
    // is stopped first, and nothing of theirs reaches the dialog afterwards.
    void reject() override;

    // The downloader's reports.
    void DownloaderDone();
    void DownloaderStatus();
    void DownloaderProgress();
    // Content-type check of the downloader: "text/html" (any
    // letter case, parameters after a ";" ignored) is a web page and refused,
    // so the download stops at the headers; other types are accepted when an
    // image encoder has exactly that MIME type.
    bool CheckContentType(const QString& ContentType);

    // The web page's events.
    void WebBrowserStatusTextChange(const QString& Text);
    void WebBrowserProgressChange(int32_t Progress, int32_t ProgressMax);
    void WebBrowserTitleChange(const QString& Text);
    void WebBrowserNavigateError(int32_t StatusCode);
    void WebBrowserDocumentComplete();

protected:
    void showEvent(QShowEvent* Event) override;

private:
    // Shows Text beside the information icon.
    void ShowStatus(const QString& Text);
    // Back to editing, with Text beside the error icon.
    void ShowFailure(const QString& Text);
    void ShowProgress(int32_t Position, int32_t Max);
    // The downloaded picture into FSurface, its progress on the bar; false,
    // with the reason shown, when the download is no picture.
    bool DecodeDownload();
    // Loads the URL in the web page, made on first use.
    void NavigateWebBrowser();
    // The rendered page as PNG into the URL's cache entry, which FStream
    // then holds.
    void StorePage(Graphics::TCorvSurface& Surface);
    // The URL's cache entry with what Write puts in it in place of what it
    // held; FStream then holds the entry, at its start.
    void ReplaceCacheEntry(const std::function<void(Platform::TStream&)>& Write);

    QComboBox* FUrlComboBox;
    QProgressBar* FProgressBar;
    QLabel* FHeaderIcon;
    QLabel* FInfoImage;
    QLabel* FWarnImage;
    QLabel* FStatusLabel;
    QPushButton* FOpenButton;
    QPushButton* FCancelButton;
    std::unique_ptr<Platform::TCorvWebPage> FWebBrowser;

    IO::TCorvFileCache& FFileCache;
    // The downloader writes into the stream: it goes first.
    std::unique_ptr<Platform::TStream> FStream;
    std::unique_ptr<Net::TCorvUrlDownloader> FDownloader;

    bool FOpenNow;
    // Set on the download thread, read on the main thread after it synchronised.
    std::atomic<bool> FIsWebPage = false;
    bool FCancelled = false;
    // The page is being drawn; a second completion meanwhile is not drawn again.
    bool FRendering = false;
    std::unique_ptr<Graphics::TCorvSurface> FSurface;
    QString FTitle;
    QString FNotice;
};

} // namespace Corvanith::Forms
