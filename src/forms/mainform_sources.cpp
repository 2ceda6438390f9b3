// Pictures from somewhere other than a file picked in the open dialog: the
// screen, one window, the clipboard and files dropped on the window. Every
// picture that is not a file is kept in the file cache under its source's
// location, so a recent document of that kind reopens from there.
#include "forms/mainform.h"

#include "forms/forms.h"
#include "forms/openurl.h"
#include "forms/shield.h"
#include "forms/windowpicker.h"
#include "graphics/errors.h"
#include "graphics/surface.h"
#include "io/filecache.h"
#include "io/mrulist.h"
#include "io/settings.h"
#include "io/utils.h"
#include "platform/desktop.h"
#include "platform/streams.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPointer>
#include <QUrl>

namespace Corvanith::Forms {

namespace {

// The first local file the dragged data lists; empty when it lists none.
QString FirstDroppedFile(const QMimeData* Data)
{
    if (Data == nullptr || !Data->hasUrls())
        return {};
    for (const QUrl& url : Data->urls()) {
        if (url.isLocalFile())
            return url.toLocalFile();
    }
    return {};
}

// A copy where the data lists a file, else no drop.
void AnswerDrag(QDragMoveEvent& Event, bool CanDrop)
{
    if (CanDrop) {
        Event.setDropAction(Qt::CopyAction);
        Event.accept();
    } else {
        Event.ignore();
    }
}

IO::TCorvFileCache& FileCache() { return Settings::DataFiles().FileCache(); }

} // namespace

std::unique_ptr<Graphics::TCorvSurface> TMainForm::LoadCached(const QString& Location)
{
    std::unique_ptr<Graphics::TCorvSurface> surface;
    try {
        const std::unique_ptr<Platform::TStream> stream = FileCache().OpenEntry(Location);
        surface = Graphics::TCorvSurface::CreateFromStream(*stream, ProgressHandler());
    } catch (const std::exception&) {
        surface.reset();
    }
    // A picture that no longer decodes is taken anew next time.
    if (!surface)
        FileCache().Remove(Location);
    return surface;
}

void TMainForm::StoreInCache(const QString& Location, Graphics::TCorvSurface& Surface)
{
    try {
        const std::unique_ptr<Platform::TStream> stream = FileCache().OpenEntry(Location);
        Surface.SaveToStream(*stream, Platform::ImageFormatPNG);
        stream->SetSize(stream->Position());
    } catch (const ECorvError&) {
        // The picture still opens; only reopening it later will need it anew.
        FileCache().Remove(Location);
    }
}

std::unique_ptr<Graphics::TCorvSurface> TMainForm::KeepInCache(const QString& Location,
                                                               const Platform::TBitmap* Bitmap)
{
    if (Bitmap == nullptr)
        return nullptr;
    auto surface = Graphics::TCorvSurface::CreateFromBitmap(*Bitmap, true);
    StoreInCache(Location, *surface);
    return surface;
}

void TMainForm::MinimizeForCapture()
{
    FStatesBeforeCapture = windowState() & ~Qt::WindowMinimized;
    setWindowState(FStatesBeforeCapture | Qt::WindowMinimized);
    if (Settings::Current().HideMainFormOnCapture)
        hide();
}

void TMainForm::RestoreAfterCapture()
{
    if (Settings::Current().HideMainFormOnCapture)
        show();
    setWindowState(FStatesBeforeCapture);
    raise();
    activateWindow();
}

void TMainForm::OpenUrlMenuItemClick()
{
    TShieldForm::RunShielded(*this, [this](QWidget&) {
        Document::TCorvDocumentSource source = Document::MakeUrlSource(QString());
        OpenSource(source, nullptr);
    });
    // The toolbars and the status bar follow the document that opened.
    UpdateControls();
}

std::unique_ptr<Graphics::TCorvSurface> TMainForm::LoadFromUrl(Document::TCorvDocumentSource& Source, bool Reload)
{
    if (!Source.Location.isEmpty() && FileCache().Contains(Source.Location) && !Reload)
        return LoadCached(Source.Location);
    FPendingSource = Source;
    FPendingReload = Reload;
    FPendingSurface.reset();
    TShieldForm::RunShielded(*this, [this](QWidget&) { ExecuteOpenUrlDialog(); });
    Source = FPendingSource;
    // Nothing reached the cache unless a picture came: a Refresh that gives
    // none keeps the picture cached for the open document.
    return std::move(FPendingSurface);
}

void TMainForm::ExecuteOpenUrlDialog()
{
    FPendingSurface.reset();
    TOpenUrlForm dialog(this, FileCache(), Settings::DataFiles().MruList(), FPendingSource.Location, FPendingReload);
    PositionForm(dialog, *this, 0.5f, 0.33f);
    if (dialog.exec() != QDialog::Accepted)
        return;
    RefreshNow();
    if (dialog.IsWebPage()) {
        FPendingSource = Document::MakeWebPageSource(dialog.GetUrl(), dialog.Title());
        FPendingSurface = dialog.TakeSurface();
        FPendingNotice = dialog.Notice();
        return;
    }
    // The dialog closes on a picture only once it has decoded it.
    FPendingSource = Document::MakeUrlSource(dialog.GetUrl());
    FPendingSurface = dialog.TakeSurface();
    dialog.StoreDownload();
}

void TMainForm::CaptureWindowMenuItemClick()
{
    Document::TCorvDocumentSource source = Document::MakeWindowshotSource();
    OpenSource(source, nullptr);
    UpdateControls();
}

void TMainForm::CaptureFullscreenMenuItemClick()
{
    Document::TCorvDocumentSource source = Document::MakeScreenshotSource();
    OpenSource(source, nullptr);
    UpdateControls();
}

void TMainForm::FromClipboardMenuItemClick()
{
    Document::TCorvDocumentSource source = Document::MakeClipboardSource();
    OpenSource(source, nullptr);
    UpdateControls();
}

std::unique_ptr<Graphics::TCorvSurface> TMainForm::LoadFromClipboard(const Document::TCorvDocumentSource& Source)
{
    if (FileCache().Contains(Source.Location))
        return LoadCached(Source.Location);
    return KeepInCache(Source.Location, Platform::ClipboardBitmap().get());
}

std::unique_ptr<Graphics::TCorvSurface> TMainForm::CaptureFullScreen(const Document::TCorvDocumentSource& Source)
{
    if (FileCache().Contains(Source.Location))
        return LoadCached(Source.Location);
    MinimizeForCapture();
    // The window manager needs a moment to take the window off the screen,
    // and the closed menu must be painted over before the screen is taken.
    Utils::Delay(400);
    const std::unique_ptr<Platform::TBitmap> shot = Platform::GrabScreen(Platform::ScreenRect());
    RestoreAfterCapture();
    Utils::Delay(100);
    return KeepInCache(Source.Location, shot.get());
}

std::unique_ptr<Graphics::TCorvSurface> TMainForm::CaptureWindow(const Document::TCorvDocumentSource& Source)
{
    if (FileCache().Contains(Source.Location))
        return LoadCached(Source.Location);
    MinimizeForCapture();
    Utils::Delay(100);
    // The picker frees itself once it has reported; the window may be gone by then.
    const QPointer<TMainForm> self(this);
    PickWindow([self](const TWindowPick& Pick) {
        if (self)
            self->WindowPicked(Pick);
    });
    return nullptr;
}

void TMainForm::WindowPicked(const TWindowPick& Pick)
{
    if (Pick.Picture.isNull()) {
        RestoreAfterCapture();
        UpdateControls();
        return;
    }
    RestoreAfterCapture();
    Utils::Delay(100);
    // The picture arrives under a source of its own, stored before the
    // document exists, so its recent entry reopens from the cache at once.
    Document::TCorvDocumentSource source = Document::MakeWindowshotSource();
    const Platform::TBitmap picture(Pick.Picture);
    OpenSource(source, KeepInCache(source.Location, &picture));
    UpdateControls();
}

void TMainForm::dragEnterEvent(QDragEnterEvent* Event)
{
    FCanDrop = !FirstDroppedFile(Event->mimeData()).isEmpty();
    AnswerDrag(*Event, FCanDrop);
}

void TMainForm::dragMoveEvent(QDragMoveEvent* Event) { AnswerDrag(*Event, FCanDrop); }

void TMainForm::dragLeaveEvent(QDragLeaveEvent* Event)
{
    FCanDrop = false;
    Event->accept();
}

void TMainForm::dropEvent(QDropEvent* Event)
{
    Event->setDropAction(Qt::CopyAction);
    Event->accept();
    const QString fileName = FirstDroppedFile(Event->mimeData());
    if (fileName.isEmpty())
        return;
    raise();
    activateWindow();
    QCoreApplication::processEvents();
    Document::TCorvDocumentSource source = Document::MakeFileSource(fileName);
    OpenSource(source, nullptr);
    UpdateControls();
}

} // namespace Corvanith::Forms
