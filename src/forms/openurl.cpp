#include "forms/openurl.h"

#include "forms/forms.h"
#include "graphics/errors.h"
#include "graphics/surface.h"
#include "io/filecache.h"
#include "io/mrulist.h"
#include "io/net.h"
#include "io/settings.h"
#include "io/utils.h"
#include "platform/codecs.h"
#include "platform/streams.h"
#include "platform/webpage.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QComboBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QShowEvent>

static void InitOpenUrlResources()
{
    Q_INIT_RESOURCE(openurl);
}

namespace Corvanith::Forms {

// The largest picture the decoder accepts (MaxDecodedSide squared pixels)
// stored uncompressed at 4 bytes a pixel, as a 32-bit BMP or TIFF holds it,
// and 1 MiB for its headers, palette and metadata. No file of 8 bits a
// channel needs more for a picture the decoder takes; one of 16 bits a
// channel that size is refused.
const int64_t MaxDownloadSize = int64_t(Platform::MaxDecodedSide) * Platform::MaxDecodedSide * 4 + (int64_t(1) << 20);

QString NormalizeUrl(const QString& Text)
{
    const QString url = Text.trimmed();
    if (url.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)
        || url.toLower().contains(QLatin1String("http://")))
        return url;
    return QLatin1String("http://") + url;
}

QString SuggestedUrl(const QString& ClipboardText)
{
    return !ClipboardText.isEmpty() && Utils::IsValidUrl(ClipboardText) ? ClipboardText
                                                                         : QString::fromLatin1(EmptyUrlText);
}

QString ContentTypeBase(const QString& ContentType)
{
    const qsizetype semicolon = ContentType.indexOf(QLatin1Char(';'));
    return semicolon < 0 ? ContentType : ContentType.left(semicolon);
}

int32_t GetEncoderClsid(const QString& MimeType, Platform::TGuid& Clsid)
{
    const std::vector<Platform::TImageCodecInfo>& encoders = Platform::ImageEncoders();
    int32_t found = -1;
    for (size_t i = 0; i < encoders.size(); ++i) {
        if (MimeType == QLatin1String(encoders[i].MimeType)) {
            found = int32_t(i);
            Clsid = encoders[i].Clsid;
        }
    }
    return found;
}

QString LastLine(const QString& Text)
{
    const QStringList lines = Text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")), Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString::fromLatin1(FailureText) : lines.back();
}

std::unique_ptr<Graphics::TCorvSurface> RenderWebPage(Platform::TCorvWebPage& Browser)
{
    const std::optional<Platform::TPageSize> size = Browser.FitToContent();
    if (!size)
        return nullptr;
    std::unique_ptr<Graphics::TCorvSurface> surface =
        Graphics::TCorvSurface::CreateFilled(size->Width, size->Height, 0xFFFFFFFF);
    if (!Browser.DrawTo(surface->GetGPBitmap()))
        return nullptr;
    surface->FreeGraphicsCache();
    surface->UpdateHasAlpha();
    return surface;
}

QString PageCutNotice(int32_t Width, int32_t Rows)
{
    const int32_t tallest = Platform::ClampPageSize(Width, Platform::MaxPageExtent).Height;
    return QString::fromLatin1(PageCutText).arg(tallest).arg(Rows);
}

namespace {

// Text cut at a word boundary and ended with "..." where it would need more
// lines than Label has room for.
QString FitToLabel(const QString& Text, const QLabel& Label)
{
    const QFontMetrics metrics(Label.font());
    const auto fits = [&](const QString& Candidate) {
        const QRect needed = metrics.boundingRect(QRect(0, 0, Label.width(), INT_MAX / 2),
                                                  Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, Candidate);
        return needed.height() <= Label.height() && needed.width() <= Label.width();
    };
    if (fits(Text))
        return Text;
    QString shortened = Text;
    while (!shortened.isEmpty()) {
        const qsizetype blank = shortened.lastIndexOf(QLatin1Char(' '));
        shortened = blank > 0 ? shortened.left(blank).trimmed() : shortened.left(shortened.size() - 1);
        const QString candidate = shortened + QStringLiteral("...");
        if (fits(candidate))
            return candidate;
    }
    return QStringLiteral("...");
}

// An inline completion of the URL box takes the first Return for itself: it
// accepts the completed text, and the dialog stays. Without the completion's
// selection, Return goes on to the default button with the text as shown.
class TReturnPassesCompletion : public QObject {
public:
    explicit TReturnPassesCompletion(QComboBox& Box) : QObject(&Box), FBox(Box) {}

protected:
    bool eventFilter(QObject*, QEvent* Event) override
    {
        if (Event->type() == QEvent::KeyPress) {
            const int key = static_cast<const QKeyEvent*>(Event)->key();
            if ((key == Qt::Key_Return || key == Qt::Key_Enter) && FBox.lineEdit())
                FBox.lineEdit()->deselect();
        }
        return false;
    }

private:
    QComboBox& FBox;
};

QLabel* MakeImage(QWidget& Parent, const QString& Resource, const QRect& Place)
{
    auto* image = new QLabel(&Parent);
    image->setGeometry(Place);
    image->setPixmap(QPixmap(Resource));
    return image;
}

} // namespace

TOpenUrlForm::TOpenUrlForm(QWidget* AOwner, IO::TCorvFileCache& FileCache, const IO::TCorvMruList& MruList,
                           const QString& Url, bool OpenNow)
    : QDialog(AOwner), FFileCache(FileCache), FOpenNow(OpenNow)
{
    InitOpenUrlResources();
    setWindowTitle(QString::fromLatin1(OpenUrlCaption));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setFont(MessageFont());
    setFixedSize(421, 126);

    FHeaderIcon = MakeImage(*this, QStringLiteral(":/openurl/globe.png"), QRect(8, 8, 48, 48));
    // The desktop's own globe where its icon theme has one.
    const QIcon globe = QIcon::fromTheme(QStringLiteral("applications-internet"));
    if (!globe.isNull())
        FHeaderIcon->setPixmap(globe.pixmap(48, 48));

    FUrlComboBox = new QComboBox(this);
    FUrlComboBox->setGeometry(78, 8, 335, 21);
    FUrlComboBox->setEditable(true);
    FUrlComboBox->setInsertPolicy(QComboBox::NoInsert);
    FUrlComboBox->installEventFilter(new TReturnPassesCompletion(*FUrlComboBox));
    for (int32_t i = 0; i < MruList.GetCount(); ++i) {
        const Document::TCorvDocumentSource& source = MruList.GetItem(i).Source();
        if (source.Kind == Document::TCorvDocumentSourceKind::dskUrl
            || source.Kind == Document::TCorvDocumentSourceKind::dskWebPage)
            FUrlComboBox->addItem(source.Location);
    }
    FUrlComboBox->setEditText(Url.isEmpty() ? SuggestedUrl(QGuiApplication::clipboard()->text()) : Url);

    FProgressBar = new QProgressBar(this);
    FProgressBar->setGeometry(78, 8, 335, 20);
    FProgressBar->setTextVisible(false);
    FProgressBar->setFocusPolicy(Qt::NoFocus);
    FProgressBar->setAttribute(Qt::WA_TransparentForMouseEvents);
    FProgressBar->hide();

    // A message font larger than the layout's 11 pixels pushes the icons down
    // with the label's first line.
    const int iconTop = 36 + std::max(QFontInfo(font()).pixelSize() - 11, 0);
    FInfoImage = MakeImage(*this, QStringLiteral(":/openurl/info.png"), QRect(78, iconTop, 16, 16));
    FWarnImage = MakeImage(*this, QStringLiteral(":/openurl/error.png"), QRect(78, iconTop, 16, 16));
    FWarnImage->hide();

    FStatusLabel = new QLabel(this);
    FStatusLabel->setGeometry(99, 37, 314, 29);
    FStatusLabel->setTextFormat(Qt::PlainText);
    FStatusLabel->setWordWrap(true);
    FStatusLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    FStatusLabel->setText(FitToLabel(QString::fromLatin1(UrlPromptText), *FStatusLabel));

    FOpenButton = new QPushButton(QString::fromLatin1(OpenButtonCaption), this);
    FOpenButton->setGeometry(257, 95, 75, 23);
    FOpenButton->setDefault(true);
    FCancelButton = new QPushButton(QString::fromLatin1(CancelButtonCaption), this);
    FCancelButton->setGeometry(338, 95, 75, 23);

    setTabOrder(FUrlComboBox, FOpenButton);
    setTabOrder(FOpenButton, FCancelButton);
    connect(FOpenButton, &QPushButton::clicked, this, [this] { OpenButtonClick(); });
    connect(FCancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

// A running download ends silently with its downloader, before its stream.
TOpenUrlForm::~TOpenUrlForm() = default;

QString TOpenUrlForm::GetUrl() const { return FUrlComboBox->currentText(); }

std::unique_ptr<Graphics::TCorvSurface> TOpenUrlForm::TakeSurface() { return std::move(FSurface); }

void TOpenUrlForm::showEvent(QShowEvent* Event)
{
    QDialog::showEvent(Event);
    if (FOpenNow && !Event->spontaneous()) {
        FOpenNow = false;
        OpenButtonClick();
    }
}

void TOpenUrlForm::OpenButtonClick()
{
    FOpenButton->setEnabled(false);
    FUrlComboBox->lineEdit()->deselect();
    FUrlComboBox->setEnabled(false);
    FUrlComboBox->setEditText(NormalizeUrl(FUrlComboBox->currentText()));
    // Not into the cache entry: a download that fails or is cancelled must
    // leave the picture cached for the URL as it was. Not into memory either,
    // however large the answer.
    try {
        FStream = FFileCache.OpenScratch();
    } catch (const ECorvError& Error) {
        ShowFailure(LastLine(QString::fromStdString(Error.what())));
        return;
    }
    FIsWebPage = false;
    FCancelled = false;
    FDownloader = std::make_unique<Net::TCorvUrlDownloader>(GetUrl(), *FStream);
    FDownloader->SetMaxSize(MaxDownloadSize);
    FDownloader->OnDone = [this] { DownloaderDone(); };
    FDownloader->OnStatus = [this] { DownloaderStatus(); };
    FDownloader->OnProgress = [this] { DownloaderProgress(); };
    FDownloader->OnCheckContentType = [this](const QString& ContentType) { return CheckContentType(ContentType); };
    FDownloader->Start();
}

void TOpenUrlForm::reject()
{
    // First, so that a download stopped here does not go on to the page.
    FCancelled = true;
    if (FDownloader)
        FDownloader->Stop();
    // A page being drawn may still be waiting for the engine.
    if (FWebBrowser && (FWebBrowser->Busy() || FRendering))
        FWebBrowser->Stop();
    QDialog::reject();
}

void TOpenUrlForm::DownloaderDone()
{
    // Freed at the end, whatever the outcome: the downloader allows it here.
    const std::unique_ptr<Net::TCorvUrlDownloader> downloader = std::move(FDownloader);
    if (downloader->Succeeded()) {
        if (DecodeDownload())
            accept();
        return;
    }
    FStream.reset();
    if (FCancelled)
        return;
    if (FIsWebPage) {
        FWarnImage->hide();
        FInfoImage->show();
        NavigateWebBrowser();
    } else {
        ShowFailure(LastLine(downloader->StatusText()));
    }
}

void TOpenUrlForm::DownloaderStatus() { ShowStatus(FDownloader->StatusText()); }

void TOpenUrlForm::DownloaderProgress()
{
    const int32_t max = FDownloader->Max();
    if (max == -1) {
        FProgressBar->setValue(0);
        return;
    }
    const int32_t position = FDownloader->Position();
    ShowProgress(position, max);
    FProgressBar->show();
    FUrlComboBox->hide();
    // An answer without a length counts its bytes only.
    FStatusLabel->setText(max == 0 ? Utils::FormatSize(position)
                                   : Utils::FormatSize(position) + QStringLiteral(" of ") + Utils::FormatSize(max));
}

bool TOpenUrlForm::DecodeDownload()
{
    try {
        FStream->SetPosition(0);
        const auto progress = [this](const void*, int32_t Position, int32_t Size) {
            if (Position >= 0)
                ShowProgress(Position, Size);
        };
        FSurface = Graphics::TCorvSurface::CreateFromStream(*FStream, progress);
        FStream->SetPosition(0);
        return true;
    } catch (const std::exception& Error) {
        // Also a picture too large to hold.
        FSurface.reset();
        FStream.reset();
        ShowFailure(LastLine(QString::fromStdString(Error.what())));
        return false;
    }
}

void TOpenUrlForm::NavigateWebBrowser()
{
    if (!FWebBrowser) {
        FWebBrowser = std::make_unique<Platform::TCorvWebPage>();
        FWebBrowser->OnStatusTextChange = [this](const QString& Text) { WebBrowserStatusTextChange(Text); };
        FWebBrowser->OnProgressChange = [this](int32_t Progress, int32_t Max) { WebBrowserProgressChange(Progress, Max); };
        FWebBrowser->OnTitleChange = [this](const QString& Text) { WebBrowserTitleChange(Text); };
        FWebBrowser->OnNavigateError = [this](int32_t StatusCode) { WebBrowserNavigateError(StatusCode); };
        FWebBrowser->OnDocumentComplete = [this] { WebBrowserDocumentComplete(); };
    }
    FWebBrowser->SetSize(Settings::Current().PageCaptureWidth, 100);
    FWebBrowser->Navigate(GetUrl());
}

bool TOpenUrlForm::CheckContentType(const QString& ContentType)
{
    const QString type = ContentTypeBase(ContentType);
    if (type.compare(QLatin1String(WebPageContentType), Qt::CaseInsensitive) == 0) {
        FIsWebPage = true;
        return false;
    }
    FIsWebPage = false;
    Platform::TGuid clsid;
    return GetEncoderClsid(type, clsid) >= 0;
}

void TOpenUrlForm::ShowStatus(const QString& Text)
{
    FWarnImage->hide();
    FInfoImage->show();
    FStatusLabel->setText(FitToLabel(Text, *FStatusLabel));
    FStatusLabel->show();
}

void TOpenUrlForm::ShowFailure(const QString& Text)
{
    FUrlComboBox->show();
    FProgressBar->hide();
    FInfoImage->hide();
    FWarnImage->show();
    FStatusLabel->setText(FitToLabel(Text, *FStatusLabel));
    FOpenButton->setEnabled(true);
    FUrlComboBox->setEnabled(true);
    FUrlComboBox->setFocus();
}

void TOpenUrlForm::ShowProgress(int32_t Position, int32_t Max)
{
    FProgressBar->setRange(0, Max);
    FProgressBar->setValue(Position);
}

void TOpenUrlForm::WebBrowserStatusTextChange(const QString& Text)
{
    if (FCancelled || FStream)
        return;
    ShowStatus(Text.isEmpty() ? QString::fromLatin1(PageDownloadingText) : Text);
}

void TOpenUrlForm::WebBrowserProgressChange(int32_t Progress, int32_t ProgressMax)
{
    if (Progress == -1)
        return;
    ShowProgress(Progress, ProgressMax);
    if (!FCancelled) {
        FProgressBar->show();
        FUrlComboBox->hide();
    }
}

void TOpenUrlForm::WebBrowserTitleChange(const QString& Text) { FTitle = Text; }

void TOpenUrlForm::WebBrowserNavigateError(int32_t StatusCode)
{
    ShowFailure(QString::number(StatusCode));
    FCancelled = true;
    if (FWebBrowser)
        FWebBrowser->Stop();
}

void TOpenUrlForm::WebBrowserDocumentComplete()
{
    if (FCancelled || FStream || FRendering)
        return;
    FRendering = true;
    FStatusLabel->setText(QString::fromLatin1(GeneratingImageText));
    Utils::Delay(400);
    std::unique_ptr<Graphics::TCorvSurface> surface;
    if (!FCancelled) {
        try {
            surface = RenderWebPage(*FWebBrowser);
        } catch (const ECorvError&) {
            // A page too large to hold: no picture, like a page without a body.
        }
    }
    FRendering = false;
    // Cancel may have come while the page was waited for or drawn.
    if (FCancelled)
        return;
    if (!surface) {
        FCancelled = true;
        ShowFailure(QString::fromLatin1(PageNotDrawnText));
        return;
    }
    try {
        StorePage(*surface);
    } catch (const ECorvError& Error) {
        FStream.reset();
        FFileCache.Remove(GetUrl());
        FCancelled = true;
        ShowFailure(LastLine(QString::fromStdString(Error.what())));
        return;
    }
    FNotice = FWebBrowser->ContentHeight() > surface->Height() ? PageCutNotice(surface->Width(), surface->Height())
                                                                 : QString();
    FSurface = std::move(surface);
    accept();
}

void TOpenUrlForm::StoreDownload()
{
    if (FIsWebPage || !FStream)
        return;
    Platform::TStream& download = *FStream;
    try {
        ReplaceCacheEntry([&download](Platform::TStream& Entry) {
            download.SetPosition(0);
            std::vector<uint8_t> buffer(64 * 1024);
            while (const int32_t count = download.Read(buffer.data(), int32_t(buffer.size())))
                Entry.WriteBuffer(buffer.data(), count);
        });
    } catch (const ECorvError&) {
        // The picture is open all the same; only reopening it later will
        // need it anew.
        FFileCache.Remove(GetUrl());
    }
}

void TOpenUrlForm::StorePage(Graphics::TCorvSurface& Surface)
{
    ReplaceCacheEntry([&Surface](Platform::TStream& Entry) { Surface.SaveToStream(Entry, Platform::ImageFormatPNG); });
}

void TOpenUrlForm::ReplaceCacheEntry(const std::function<void(Platform::TStream&)>& Write)
{
    std::unique_ptr<Platform::TStream> entry = FFileCache.OpenEntry(GetUrl());
    Write(*entry);
    // The new picture replaces a longer one completely.
    entry->SetSize(entry->Position());
    entry->SetPosition(0);
    FStream = std::move(entry);
}

} // namespace Corvanith::Forms
