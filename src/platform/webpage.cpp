#include "platform/webpage.h"

#include "platform/eventwait.h"
#include "platform/imaging.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace Corvanith::Platform {

TPageSize ClampPageSize(int64_t Width, int64_t Height)
{
    const int64_t width = std::clamp<int64_t>(Width, 1, MaxPageExtent);
    const int64_t height = std::clamp<int64_t>(Height, 1, std::min<int64_t>(MaxPageExtent, MaxPagePixels / width));
    return {int32_t(width), int32_t(height)};
}

namespace {

// How long the page may take to answer one of our scripts, and to take a new
// size.
constexpr int ScriptTimeout = 5000;
// The rows below the page's content that show the paint mark.
constexpr int32_t MarkRows = 4;
// The engine's network error for a load given up in favour of another.
constexpr int AbortedError = 3;

// A page that shows nothing of its own: no script dialogs, no file pickers,
// no new windows, and its console stays out of our output.
class TQuietPage : public QWebEnginePage {
public:
    explicit TQuietPage(QWebEngineProfile& Profile) : QWebEnginePage(&Profile) {}

protected:
    void javaScriptAlert(const QUrl&, const QString&) override {}
    bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
    bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override { return false; }
    QStringList chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) override { return {}; }
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int, const QString&) override {}
};

// The engine draws through OpenGL contexts shared with the application's,
// which must be asked for before the application object exists: at program
// start, wherever this library is linked in.
const bool SharedContexts = [] {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    return true;
}();

// Chromium refuses to start its sandbox for the superuser; for everyone else
// the sandbox stays on.
void AllowRunningAsRoot()
{
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

} // namespace

class TCorvWebPage::TImpl {
public:
    explicit TImpl(TCorvWebPage& Owner);

    // The script's value, run apart from the page's own scripts; empty when
    // the page does not answer in time.
    std::optional<QVariant> Evaluate(const QString& Script);
    // Runs Script until it answers True; False when it never does in time.
    bool WaitForTrue(const QString& Script);
    // Resizes the page and waits until its document has taken that size.
    bool Resize(int32_t Width, int32_t Height);
    // Gives the mark below the content a colour no earlier frame showed, then
    // waits for the first frame that shows it: a frame the engine drew whole
    // at the present size after that moment. Null when none comes within the
    // load time-out or Stop comes first.
    QPixmap PaintedFrame();

    void Started();
    void Finished(const QWebEngineLoadingInfo& Info);
    void TimedOut();
    void Abandon();

    TCorvWebPage& FOwner;
    // The page needs its profile to its end and the view its page: members
    // are destroyed from the last up.
    std::unique_ptr<QWebEngineProfile> FProfile;
    std::unique_ptr<TQuietPage> FPage;
    std::unique_ptr<QWebEngineView> FView;
    QTimer FTimeout;
    // The view is this many rows higher than the page: there the mark shows.
    int32_t FMarkRows = 0;
    // The scrolled height that FitToContent read last.
    int64_t FContentHeight = 0;
    // Marks shown so far: each drawing gives the mark the next colour.
    uint32_t FMarks = 0;
    // Waits that see this change give up.
    uint32_t FStops = 0;
    bool FBusy = false;
    // Events of an abandoned navigation (stopped, timed out) are not reported.
    bool FIgnoring = false;
};

TCorvWebPage::TImpl::TImpl(TCorvWebPage& Owner) : FOwner(Owner)
{
    AllowRunningAsRoot();
    // A profile without a name keeps cookies, cache and history in memory.
    FProfile = std::make_unique<QWebEngineProfile>();
    FProfile->setHttpUserAgent(QString::fromUtf8(PageUserAgent));
    FPage = std::make_unique<TQuietPage>(*FProfile);
    FPage->setAudioMuted(true);
    QWebEngineSettings& settings = *FPage->settings();
    settings.setAttribute(QWebEngineSettings::ShowScrollBars, false);
    settings.setAttribute(QWebEngineSettings::AutoLoadImages, true);
    settings.setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings.setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    FView = std::make_unique<QWebEngineView>();
    FView->setAttribute(Qt::WA_DontShowOnScreen);
    FView->setPage(FPage.get());

    FTimeout.setSingleShot(true);
    QObject::connect(&FTimeout, &QTimer::timeout, [this] { TimedOut(); });
    QObject::connect(FPage.get(), &QWebEnginePage::loadingChanged, [this](const QWebEngineLoadingInfo& Info) {
        if (Info.status() == QWebEngineLoadingInfo::LoadStartedStatus)
            Started();
        else
            Finished(Info);
    });
    QObject::connect(FPage.get(), &QWebEnginePage::loadProgress, [this](int Progress) {
        if (!FIgnoring && FOwner.OnProgressChange)
            FOwner.OnProgressChange(Progress, 100);
    });
    QObject::connect(FPage.get(), &QWebEnginePage::titleChanged, [this](const QString& Title) {
        if (FOwner.OnTitleChange)
            FOwner.OnTitleChange(Title);
    });
}

void TCorvWebPage::TImpl::Started()
{
    if (FIgnoring)
        return;
    FBusy = true;
    if (FOwner.OnStatusTextChange)
        FOwner.OnStatusTextChange(QString());
}

void TCorvWebPage::TImpl::Finished(const QWebEngineLoadingInfo& Info)
{
    // An aborted load is one that a newer navigation (or Stop) replaced: it
    // concerns nothing under way.
    if (FIgnoring || std::abs(Info.errorCode()) == AbortedError)
        return;
    FTimeout.stop();
    FBusy = false;
    switch (Info.status()) {
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        if (FOwner.OnDocumentComplete)
            FOwner.OnDocumentComplete();
        break;
    case QWebEngineLoadingInfo::LoadFailedStatus: {
        // HTTP answers keep their status; network errors are negative codes.
        int code = Info.errorCode();
        if (Info.errorDomain() != QWebEngineLoadingInfo::HttpStatusCodeDomain)
            code = code == 0 ? -2 : -std::abs(code);
        if (FOwner.OnNavigateError)
            FOwner.OnNavigateError(code);
        break;
    }
    default:
        break;
    }
}

void TCorvWebPage::TImpl::TimedOut()
{
    Abandon();
    if (FOwner.OnNavigateError)
        FOwner.OnNavigateError(PageTimedOutError);
}

void TCorvWebPage::TImpl::Abandon()
{
    ++FStops;
    FTimeout.stop();
    FIgnoring = true;
    FBusy = false;
    FPage->triggerAction(QWebEnginePage::Stop);
}

std::optional<QVariant> TCorvWebPage::TImpl::Evaluate(const QString& Script)
{
    // The answer may come after we gave up waiting; it then lands here.
    struct TAnswer {
        bool Done = false;
        QVariant Value;
    };
    auto answer = std::make_shared<TAnswer>();
    FPage->runJavaScript(Script, QWebEngineScript::ApplicationWorld, [answer](const QVariant& Value) {
        answer->Value = Value;
        answer->Done = true;
    });
    if (!WaitUntil([&] { return answer->Done; }, ScriptTimeout))
        return std::nullopt;
    return answer->Value;
}

bool TCorvWebPage::TImpl::WaitForTrue(const QString& Script)
{
    bool answered = true;
    const bool held = WaitUntil(
        [&] {
            const std::optional<QVariant> value = Evaluate(Script);
            answered = value.has_value();
            return !answered || value->toBool();
        },
        ScriptTimeout);
    return held && answered;
}

bool TCorvWebPage::TImpl::Resize(int32_t Width, int32_t Height)
{
    FView->resize(Width, Height);
    return WaitForTrue(QStringLiteral("window.innerWidth === %1 && window.innerHeight === %2").arg(Width).arg(Height));
}

namespace {

// Whether the middle row of the mark, which lies Top rows down the frame,
// has Color across the whole width. The middle row stays clear of the
// blending at the mark's edges on a scaled screen.
bool ShowsMark(const QPixmap& Frame, int32_t Top, QRgb Color)
{
    const int row = int((Top + MarkRows / 2) * Frame.devicePixelRatio());
    if (Frame.isNull() || row >= Frame.height())
        return false;
    const QImage line = Frame.copy(0, row, Frame.width(), 1).toImage().convertToFormat(QImage::Format_RGB32);
    const auto* pixel = reinterpret_cast<const QRgb*>(line.constScanLine(0));
    return std::all_of(pixel, pixel + line.width(), [Color](QRgb Pixel) { return Pixel == Color; });
}

} // namespace

QPixmap TCorvWebPage::TImpl::PaintedFrame()
{
    if (FMarkRows == 0)
        return {};
    const int32_t width = FView->width();
    const int32_t height = FView->height() - FMarkRows;
    // Two colours in turn: the frame drawn for the last picture shows the
    // other one. Both are unlikely in a page, and the mark lies over
    // everything the page draws there.
    const QRgb color = ++FMarks % 2 != 0 ? qRgb(254, 1, 252) : qRgb(1, 254, 3);
    const std::optional<QVariant> marked = Evaluate(
        QStringLiteral("(() => { let mark = document.getElementById('corvanith-paint-mark');"
                       " if (!mark) { mark = document.createElement('corvanith-paint-mark');"
                       " mark.id = 'corvanith-paint-mark'; document.documentElement.appendChild(mark); }"
                       " mark.style.cssText = 'display:block!important;position:fixed!important;left:0!important;"
                       "right:0!important;bottom:0!important;height:%1px!important;margin:0!important;"
                       "z-index:2147483647!important;opacity:1!important;visibility:visible!important;"
                       "background:rgb(%2,%3,%4)!important';"
                       " return true; })()")
            .arg(MarkRows)
            .arg(qRed(color))
            .arg(qGreen(color))
            .arg(qBlue(color)));
    if (!marked || !marked->toBool())
        return {};
    const uint32_t stops = FStops;
    QPixmap frame;
    // Looking at the mark alone is cheap; the whole view is taken only once
    // the mark shows, and must show it too.
    WaitUntil(
        [&] {
            if (FStops != stops)
                return true;
            if (!ShowsMark(FView->grab(QRect(0, height, width, MarkRows)), 0, color))
                return false;
            frame = FView->grab(QRect(0, 0, width, height + MarkRows));
            if (!ShowsMark(frame, height, color))
                frame = {};
            return !frame.isNull();
        },
        FOwner.FLoadTimeout);
    return FStops == stops ? frame : QPixmap();
}

TCorvWebPage::TCorvWebPage() : FImpl(std::make_unique<TImpl>(*this)) {}

TCorvWebPage::~TCorvWebPage() = default;

int32_t TCorvWebPage::Width() const { return FImpl->FView->width(); }

int32_t TCorvWebPage::Height() const { return FImpl->FView->height() - FImpl->FMarkRows; }

void TCorvWebPage::SetSize(int32_t Width, int32_t Height)
{
    const TPageSize size = ClampPageSize(Width, Height);
    FImpl->FMarkRows = 0;
    FImpl->FView->resize(size.Width, size.Height);
}

void TCorvWebPage::Navigate(const QString& Url)
{
    if (FImpl->FBusy)
        FImpl->FPage->triggerAction(QWebEnginePage::Stop);
    FImpl->FIgnoring = false;
    FImpl->FBusy = true;
    FImpl->FTimeout.start(FLoadTimeout);
    FImpl->FView->show();
    FImpl->FPage->load(QUrl(Url));
}

void TCorvWebPage::Stop() { FImpl->Abandon(); }

bool TCorvWebPage::Busy() const { return FImpl->FBusy; }

QString TCorvWebPage::Title() const { return FImpl->FPage->title(); }

std::optional<TPageSize> TCorvWebPage::FitToContent()
{
    // The scrolling element is the whole scrolled area, the body's margins
    // included (it is the body itself for pages in quirks mode).
    const auto extent = [this](const char* Axis) -> std::optional<int64_t> {
        const std::optional<QVariant> value = FImpl->Evaluate(
            QStringLiteral("(() => { const b = document.body; if (!b) return -1;"
                           " const s = document.scrollingElement || document.documentElement;"
                           " return Math.max(b.scroll%1, s ? s.scroll%1 : 0); })()")
                .arg(QString::fromLatin1(Axis)));
        if (!value)
            return std::nullopt;
        bool ok = false;
        const double result = value->toDouble(&ok);
        if (!ok || result < 0)
            return std::nullopt;
        return int64_t(std::min(result, 1e12));
    };
    FImpl->FContentHeight = 0;
    const std::optional<int64_t> width = extent("Width");
    if (!width)
        return std::nullopt;
    TPageSize size = ClampPageSize(*width, Height());
    FImpl->FMarkRows = 0;
    if (!FImpl->Resize(size.Width, size.Height))
        return std::nullopt;
    const std::optional<int64_t> height = extent("Height");
    if (!height)
        return std::nullopt;
    FImpl->FContentHeight = *height;
    // The mark that tells a frame drawn whole lies below the content, within
    // the largest view the engine draws.
    size = ClampPageSize(size.Width, std::min<int64_t>(*height, MaxPageExtent - MarkRows));
    FImpl->FMarkRows = MarkRows;
    if (!FImpl->Resize(size.Width, size.Height + MarkRows))
        return std::nullopt;
    return size;
}

int64_t TCorvWebPage::ContentHeight() const { return FImpl->FContentHeight; }

bool TCorvWebPage::DrawTo(TSharedBitmap& Target)
{
    const QPixmap frame = FImpl->PaintedFrame();
    if (frame.isNull())
        return false;
    const qreal scale = frame.devicePixelRatio();
    QPainter painter(&Target.Image());
    painter.drawPixmap(QRectF(0, 0, Width(), Height()), frame, QRectF(0, 0, Width() * scale, Height() * scale));
    return true;
}

} // namespace Corvanith::Platform
