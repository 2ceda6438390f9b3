#pragma once
// TMainForm: the program's only top-level window. It owns what the user
// works on and ties the commands of its menus, toolbars and keys together.
//
// Menu items are enabled lazily: each menu's popup handler sets its items'
// states from the open document when the menu opens, and every keyboard
// shortcut and every toolbar button runs that handler first and then clicks
// its menu item, which acts only when the handler left it enabled. The
// toolbar buttons' own states are refreshed by UpdateControls after every
// command that can change the document.
#include <QKeySequence>
#include <QMainWindow>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QProgressBar;
class QSpinBox;
class QToolBar;

namespace Corvanith::Forms {

class TMainForm : public QMainWindow {
    Q_OBJECT

public:
    explicit TMainForm(QWidget* Parent = nullptr);
    ~TMainForm() override;

    // File menu.
    void FileMenuPopup();
    void ExitMenuItemClick();

    // Resize menu.
    void ResizeMenuPopup();

    // Tool menu and brush toolbar.
    void ToolMenuPopup();
    void DecreaseToolSizeMenuItemClick();
    void IncreaseToolSizeMenuItemClick();

    void UpdateControls();
    void UpdateFileToolbar();
    void UpdateRetargetingToolbar();
    void UpdateBrushToolbar();
    void UpdateStatusBar();
    void UpdateCaption();

    // Decoding progress of every picture the window opens: Position bytes of
    // Size; (-1, -1) when decoding has ended.
    void LoadProgress(const void* Sender, int32_t Position, int32_t Size);

    // The menu items, their toolbar twins and the status bar, as the user
    // sees them.
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

    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    QProgressBar* ProgressBar = nullptr;

private:
    using TPopup = void (TMainForm::*)();

    void CreateMenus();
    void CreateToolbars();
    void CreateStatusBar();

    QAction* AddMenuItem(QMenu& Menu, const QString& Caption, const QKeySequence& Keys, TPopup Popup);
    // A toolbar button that does exactly what its menu twin does, under the
    // same enabling rule computed at the moment of the click.
    QAction* AddToolbarTwin(QToolBar& Toolbar, const QString& Caption, const QIcon& Icon, QAction& MenuItem,
                            TPopup Popup);
    void RunMenuItem(QAction& Item, TPopup Popup);
};

} // namespace Corvanith::Forms
