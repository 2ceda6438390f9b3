#pragma once
// An invisible web-browser page: loads a URL, reports its progress, title,
// completion and errors, and draws its content at its full scrolled size into
// a shared bitmap. The browser engine stays behind this class; nothing else in
// the program touches it. Needs a QApplication.
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace Corvanith::Platform {

class TSharedBitmap;

struct TPageSize {
    int32_t Width = 0;
    int32_t Height = 0;
};

// The largest page drawn: a side of at most MaxPageExtent pixels and at most
// MaxPagePixels pixels in all (128 MiB of pixels), however large the page
// says it is. A page is never narrower or lower than one pixel.
inline constexpr int32_t MaxPageExtent = 16384;
inline constexpr int64_t MaxPagePixels = int64_t(1) << 25;
TPageSize ClampPageSize(int64_t Width, int64_t Height);

// The engine's "timed out" network error, reported when a page does not
// complete within LoadTimeout.
inline constexpr int32_t PageTimedOutError = -7;

inline constexpr const char* PageUserAgent = "Corvanith Vistrel 1.0";

class TCorvWebPage {
public:
    // Scroll bars hidden, script dialogs, file pickers and new windows
    // refused, sound muted, images loaded; nothing persists on disk.
    TCorvWebPage();
    TCorvWebPage(const TCorvWebPage&) = delete;
    TCorvWebPage& operator=(const TCorvWebPage&) = delete;
    ~TCorvWebPage();

    // Status texts of the top-level navigation; empty while it loads.
    std::function<void(const QString& Text)> OnStatusTextChange;
    // Progress of 0 .. ProgressMax while the top-level document loads.
    std::function<void(int32_t Progress, int32_t ProgressMax)> OnProgressChange;
    std::function<void(const QString& Text)> OnTitleChange;
    // The top-level navigation failed: an HTTP status (404), or a negative
    // network error code of the engine (-105: the host is unknown).
    std::function<void(int32_t StatusCode)> OnNavigateError;
    // The top-level document and everything it loads are complete; frames
    // finishing on their own report nothing.
    std::function<void()> OnDocumentComplete;

    // A navigation that has not completed after this many milliseconds is
    // stopped and reported to OnNavigateError as PageTimedOutError; DrawTo
    // waits as long for the page to be drawn.
    void SetLoadTimeout(int32_t Milliseconds) { FLoadTimeout = Milliseconds; }

    int32_t Width() const;
    int32_t Height() const;
    void SetSize(int32_t Width, int32_t Height);

    // Starts loading Url (http, https or file); the page is laid out at its
    // present size. Earlier navigations are abandoned.
    void Navigate(const QString& Url);
    // Abandons the navigation, and a DrawTo that is waiting.
    void Stop();
    // A navigation is under way.
    bool Busy() const;
    QString Title() const;

    // After completion: widens the page to its scrolled width, then makes it
    // as high as its scrolled height at that width, both cut to the limits
    // of ClampPageSize (the height a few rows lower, which DrawTo needs below
    // the page), and answers the size. Empty when the document has no body or
    // the page does not answer.
    std::optional<TPageSize> FitToContent();
    // After FitToContent: the scrolled height of the page at its fitted
    // width, more than Height() where the limits cut the page; 0 when it did
    // not answer.
    int64_t ContentHeight() const;
    // After FitToContent: draws the page's content at (0, 0) over what Target
    // holds, clipped to Target, from a frame that the engine is seen to have
    // drawn whole at the fitted size. False when there is nothing to draw,
    // when no such frame comes within the load time-out, or when Stop comes
    // first.
    bool DrawTo(TSharedBitmap& Target);

private:
    class TImpl;
    std::unique_ptr<TImpl> FImpl;
    int32_t FLoadTimeout = 60000;
};

} // namespace Corvanith::Platform
