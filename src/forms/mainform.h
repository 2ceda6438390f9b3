#pragma once
// TMainForm: the program's only top-level window. It owns what the user
// works on (the open document and the resizer that works on its picture) and
// ties the commands of its menus, toolbars and keys together.
//
// Menu items are enabled lazily: each menu's popup handler sets its items'
// states from the open document when the menu opens, and every keyboard
// shortcut and every toolbar button runs that handler first and then clicks
// its menu item, which acts only when the handler left it enabled. The
// toolbar buttons' own states are refreshed by UpdateControls after every
// command that can change the document.
//
// Every picture source yields either a picture or nothing; nothing leaves
// the open document as it was, without a message.
#include "document/documentsource.h"
#include "graphics/surface.h"

#include <QKeySequence>
#include <QMainWindow>
#include <QStyle>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QSpinBox;
class QToolBar;
class QDragEnterEvent;
class QDragLeaveEvent;
class QDragMoveEvent;
class QDropEvent;
class QKeyEvent;

namespace Corvanith::Graphics {
class TCorvSurface;
}
namespace Corvanith::Graphics::Retargeting {
class TCorvSeamIterativeResizer;
}
namespace Corvanith::Document {
class TCorvDocument;
}
namespace Corvanith::Platform {
class TBitmap;
}
namespace Corvanith::View {
class TCorvDocumentView;
class TCorvOverlays;
class TCorvTools;
} // namespace Corvanith::View

namespace Corvanith::Forms {

struct TWindowPick;

class TMainForm : public QMainWindow {
    Q_OBJECT

public:
    explicit TMainForm(QWidget* Parent = nullptr);
    ~TMainForm() override;

    // The open document, or null until the first successful open.
    Document::TCorvDocument* GetDocument() const { return FDocument.get(); }
    Graphics::Retargeting::TCorvSeamIterativeResizer* GetResizer() const { return FResizer.get(); }
    View::TCorvTools& GetTools() const { return *FTools; }

    // ---- Opening ----

    // The only way a document is opened. Without Surface the picture is
    // loaded according to Source's kind; with one, that picture is taken. A
    // loader may replace Source, and the new document takes the replaced
    // record. A picture that opens a document passes to it.
    void OpenSource(Document::TCorvDocumentSource& Source, std::unique_ptr<Graphics::TCorvSurface> Surface);
    std::unique_ptr<Graphics::TCorvSurface> LoadFromFile(const Document::TCorvDocumentSource& Source);
    // A new picture for the same document from its source; strokes go.
    void ReloadDocument(Document::TCorvDocument& Doc);
    void UpdateCaption();

    void OpenMenuItemClick();
    void OpenUrlMenuItemClick();
    // The cached picture unless Reload; otherwise the open-URL dialog, which
    // may replace Source (the URL typed, a web page's title).
    std::unique_ptr<Graphics::TCorvSurface> LoadFromUrl(Document::TCorvDocumentSource& Source, bool Reload);
    void ExecuteOpenUrlDialog();
    void CaptureWindowMenuItemClick();
    void CaptureFullscreenMenuItemClick();
    void FromClipboardMenuItemClick();
    std::unique_ptr<Graphics::TCorvSurface> LoadFromClipboard(const Document::TCorvDocumentSource& Source);
    std::unique_ptr<Graphics::TCorvSurface> CaptureFullScreen(const Document::TCorvDocumentSource& Source);
    // The cached picture when there is one; otherwise starts the window
    // picker and yields nothing: the picked window opens in WindowPicked.
    std::unique_ptr<Graphics::TCorvSurface> CaptureWindow(const Document::TCorvDocumentSource& Source);
    void WindowPicked(const TWindowPick& Pick);
    void RefreshMenuItemClick();
    void FileMenuPopup();
    // Opens recent entry Index (0 the most recent) from a copy of its source:
    // the list replaces the entry while the document opens.
    void RecentItemClick(int32_t Index);
    void ClearRecentClick();

    // ---- Resizing ----

    void DecWidthMenuItemClick();
    void DecHeightMenuItemClick();
    void IncWidthMenuItemClick();
    void IncHeightMenuItemClick();
    void ResizeMenuPopup();
    // The numeric resize: a target size from the dialog, reached seam by
    // seam with a repaint every second step, until done or Esc is held.
    void ResizeMenuItemClick();
    void ExecuteResizeDialog();
    // Numeric-resize results; ResizeWidth is -1 when the dialog was cancelled.
    int32_t ResizeWidth = -1;
    int32_t ResizeHeight = -1;
    double HorzReuse = 0;
    double VertReuse = 0;

    // ---- Tools, status and saving ----

    void PreserveBrushMenuItemClick();
    void BrushEraserMenuItemClick();
    void BrushSizeSpinEditValueChange(int Value);
    void ViewClick();
    void ViewMouseDown();
    void ToolMenuPopup();
    void DecreaseToolSizeMenuItemClick();
    void IncreaseToolSizeMenuItemClick();
    void HideStrokesMenuItemClick();

    void UpdateControls();
    void UpdateFileToolbar();
    void UpdateRetargetingToolbar();
    void UpdateBrushToolbar();
    void UpdateStatusBar();

    // Decoding progress of every picture the window opens: Position bytes of
    // Size; (-1, -1) when decoding has ended.
    void LoadProgress(const void* Sender, int32_t Position, int32_t Size);

    void SaveMenuItemClick();
    void ExitMenuItemClick();
    void AboutMenuItemClick();

    // ---- The controls, as the user sees them ----

    QMenu* FileMenu = nullptr;
    QMenu* ResizeMenu = nullptr;
    QMenu* ToolMenu = nullptr;
    QMenu* HelpMenu = nullptr;
    QMenu* ScreenCaptureMenu = nullptr;
    QMenu* OpenRecentMenuItem = nullptr;

    QAction* OpenMenuItem = nullptr;
    QAction* OpenUrlMenuItem = nullptr;
    QAction* SaveMenuItem = nullptr;
    QAction* CaptureWindowMenuItem = nullptr;
    QAction* CaptureFullscreenMenuItem = nullptr;
    QAction* FromClipboardMenuItem = nullptr;
    QAction* RefreshMenuItem = nullptr;
    QAction* ExitMenuItem = nullptr;

    QAction* ResizeMenuItem = nullptr;
    QAction* DecWidthMenuItem = nullptr;
    QAction* DecHeightMenuItem = nullptr;
    QAction* IncWidthMenuItem = nullptr;
    QAction* IncHeightMenuItem = nullptr;

    QAction* PreserveBrushMenuItem = nullptr;
    QAction* BrushEraserMenuItem = nullptr;
    QAction* DecreaseToolSizeMenuItem = nullptr;
    QAction* IncreaseToolSizeMenuItem = nullptr;
    QAction* HideStrokesMenuItem = nullptr;

    QAction* AboutMenuItem = nullptr;

    QToolBar* FileToolbar = nullptr;
    QToolBar* RetargetingToolbar = nullptr;
    QToolBar* BrushToolbar = nullptr;

    QAction* OpenToolbarItem = nullptr;
    QAction* OpenUrlToolbarItem = nullptr;
    QAction* SaveToolbarItem = nullptr;
    QAction* RefreshToolbarItem = nullptr;

    QAction* ResizeToolbarItem = nullptr;
    QAction* DecreaseWidthToolbarItem = nullptr;
    QAction* DecreaseHeightToolbarItem = nullptr;
    QAction* IncreaseWidthToolbarItem = nullptr;
    QAction* IncreaseHeightToolbarItem = nullptr;
    QLabel* SeamReuseLabel = nullptr;
    QSpinBox* SeamReuseSpinEdit = nullptr;

    QAction* PreserveBrushToolbarItem = nullptr;
    QAction* StrokesEraserToolbarItem = nullptr;
    QSpinBox* BrushSizeSpinEdit = nullptr;

    View::TCorvDocumentView* View = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    QProgressBar* ProgressBar = nullptr;

protected:
    // Sees the keys before the focused control: the keys of the shortcut
    // table belong to the window whatever has the focus, but for those that
    // a focused text field types, steps or pastes with; Esc is tracked.
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    // Files dragged onto the window: the first one is opened.
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dragMoveEvent(QDragMoveEvent* Event) override;
    void dragLeaveEvent(QDragLeaveEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;

private:
    using TPopup = void (TMainForm::*)();

    static QIcon StandardIcon(QStyle::StandardPixmap Pixmap);
    // One of the window's own icons.
    static QIcon OwnIcon(const char* Name);

    void CreateMenus();
    void CreateResizeMenu();
    void CreateToolbars();
    QToolBar* AddDockedToolbar(const QString& Name);
    void CreateRetargetingToolbar();
    void CreateStatusBar();

    QAction* AddMenuItem(QMenu& Menu, const QString& Caption, const QKeySequence& Keys, TPopup Popup,
                         const QIcon& Icon = QIcon());
    // A toolbar button that does exactly what its menu twin does, under the
    // same enabling rule computed at the moment of the click.
    QAction* AddToolbarTwin(QToolBar& Toolbar, const QString& Caption, const QIcon& Icon, QAction& MenuItem,
                            TPopup Popup);
    void RunMenuItem(QAction& Item, TPopup Popup);
    // The window's own widgets, and the menus popped up from them.
    bool OwnsWidget(const QWidget* Widget) const;
    // What a key of the shortcut table does; empty for any other key.
    std::function<void()> KeyCommand(const QKeyEvent& Key);

    // Repaints the whole window at once.
    void RefreshNow();
    bool CanRefresh() const;
    // The brush strokes once painted, else none.
    Graphics::TCorvSurface* PreserveMask() const;
    // One seam command: Step changes the picture by one seam.
    void ResizeOneSeam(void (TMainForm::*Step)());
    void RemoveVerticalSeam();
    void RemoveHorizontalSeam();
    void InsertVerticalSeam();
    void InsertHorizontalSeam();
    // The image layer's bounds follow its surface's new size.
    void ImageSizeChanged();
    // After a seam command, or one that failed part-way and may have changed
    // the picture all the same: the document, the view and the controls
    // follow the picture at once.
    void FollowPicture();

    void RebuildRecentMenu();
    Graphics::TCorvProgressEvent ProgressHandler();
    // The cached picture of Location; one that no longer decodes leaves the
    // cache and yields nothing.
    std::unique_ptr<Graphics::TCorvSurface> LoadCached(const QString& Location);
    void StoreInCache(const QString& Location, Graphics::TCorvSurface& Surface);
    // The picture Bitmap holds, stored in the cache under Location; none
    // without a bitmap.
    std::unique_ptr<Graphics::TCorvSurface> KeepInCache(const QString& Location, const Platform::TBitmap* Bitmap);
    void MinimizeForCapture();
    void RestoreAfterCapture();

    template <typename TTool>
    void ChooseTool();

    // A key of the shortcut table that belongs to a menu item.
    struct TMenuKey {
        QKeyCombination Keys;
        QAction* Item;
        TPopup Popup;
    };
    std::vector<TMenuKey> FMenuKeys;
    std::unique_ptr<View::TCorvOverlays> FOverlays;
    std::unique_ptr<View::TCorvTools> FTools;
    std::unique_ptr<Document::TCorvDocument> FDocument;
    std::unique_ptr<Graphics::Retargeting::TCorvSeamIterativeResizer> FResizer;
    // Exchanged with the open-URL dialog.
    Document::TCorvDocumentSource FPendingSource;
    bool FPendingReload = false;
    std::unique_ptr<Graphics::TCorvSurface> FPendingSurface;
    // What the status bar tells once the picture has opened (a web page cut
    // to the limits); empty for every other picture.
    QString FPendingNotice;
    QString FOpenFileName;
    // The open dialog starts at the last file it gave.
    QString FOpenDialogFileName;
    QString FSaveFileName;
    // The data being dragged lists a file.
    bool FCanDrop = false;
    // Esc is held: the numeric resize stops at its next refresh.
    bool FEscapeDown = false;
    // A numeric resize runs; its messages must not start another.
    bool FResizing = false;
    Qt::WindowStates FStatesBeforeCapture;
};

} // namespace Corvanith::Forms
