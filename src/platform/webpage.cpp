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
// size and draw a frame at it.
constexpr int ScriptTimeout = 5000;
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
    // Resizes the page and waits until its document has been laid out and
    // drawn at that size.
    bool Resize(int32_t Width, int32_t Height);

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
    if (!WaitForTrue(QStringLiteral("window.innerWidth === %1 && window.innerHeight === %2").arg(Width).arg(Height)))
        return false;
    // Two animation frames later the page has drawn itself at the new size.
    return Evaluate(QStringLiteral("window.corvFrames = 0;"
                                   "requestAnimationFrame(() => requestAnimationFrame(() => window.corvFrames = 2));"))
        && WaitForTrue(QStringLiteral("window.corvFrames === 2"));
}

TCorvWebPage::TCorvWebPage() : FImpl(std::make_unique<TImpl>(*this)) {}

TCorvWebPage::~TCorvWebPage() = default;

int32_t TCorvWebPage::Width() const { return FImpl->FView->width(); }

int32_t TCorvWebPage::Height() const { return FImpl->FView->height(); }

void TCorvWebPage::SetSize(int32_t Width, int32_t Height)
{
    const TPageSize size = ClampPageSize(Width, Height);
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
    const std::optional<int64_t> width = extent("Width");
    if (!width)
        return std::nullopt;
    TPageSize size = ClampPageSize(*width, Height());
    if (!FImpl->Resize(size.Width, size.Height))
        return std::nullopt;
    const std::optional<int64_t> height = extent("Height");
    if (!height)
        return std::nullopt;
    size = ClampPageSize(size.Width, *height);
    if (!FImpl->Resize(size.Width, size.Height))
        return std::nullopt;
    return size;
}

bool TCorvWebPage::DrawTo(TSharedBitmap& Target)
{
    const QPixmap page = FImpl->FView->grab();
    if (page.isNull())
        return false;
    QPainter painter(&Target.Image());
    painter.drawPixmap(0, 0, page);
    return true;
}

} // namespace Corvanith::Platform
