#include "forms/mainform.h"

#include "io/settings.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QShortcut>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

// Resources of a static library are registered by name, outside any namespace.
static void InitMainFormResources() { Q_INIT_RESOURCE(mainform); }

namespace Corvanith::Forms {

namespace {

QIcon StandardIcon(QStyle::StandardPixmap Pixmap) { return QApplication::style()->standardIcon(Pixmap); }

QIcon OwnIcon(const char* Name) { return QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(Name))); }

QString AppName() { return QString::fromUtf8(Settings::ApplicationName); }

} // namespace

TMainForm::TMainForm(QWidget* Parent) : QMainWindow(Parent)
{
    InitMainFormResources();
    setObjectName(QStringLiteral("MainForm"));
    setMinimumSize(700, 500);
    resize(800, 600);
    CreateMenus();
    CreateToolbars();
    CreateStatusBar();

    UpdateCaption();
    setWindowIcon(QApplication::windowIcon());
    AboutMenuItem->setText(QStringLiteral("About ") + AppName());
    UpdateControls();
}

TMainForm::~TMainForm() = default;

QAction* TMainForm::AddMenuItem(QMenu& Menu, const QString& Caption, const QKeySequence& Keys, TPopup Popup)
{
    QAction* item = Menu.addAction(Caption);
    if (!Keys.isEmpty()) {
        // The menu shows the keys; the window carries them out, through the
        // menu's popup handler, so a key obeys the item's enabling rule.
        item->setShortcut(Keys);
        item->setShortcutContext(Qt::WidgetShortcut);
        auto* shortcut = new QShortcut(Keys, this);
        connect(shortcut, &QShortcut::activated, this, [this, item, Popup] { RunMenuItem(*item, Popup); });
    }
    return item;
}

QAction* TMainForm::AddToolbarTwin(QToolBar& Toolbar, const QString& Caption, const QIcon& Icon, QAction& MenuItem,
                                   TPopup Popup)
{
    QAction* item = Toolbar.addAction(Icon, Caption);
    connect(item, &QAction::triggered, this, [this, &MenuItem, Popup] { RunMenuItem(MenuItem, Popup); });
    return item;
}

void TMainForm::RunMenuItem(QAction& Item, TPopup Popup)
{
    (this->*Popup)();
    // A disabled action ignores the trigger.
    Item.trigger();
}

void TMainForm::CreateMenus()
{
    FileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    connect(FileMenu, &QMenu::aboutToShow, this, &TMainForm::FileMenuPopup);
    OpenMenuItem = AddMenuItem(*FileMenu, QStringLiteral("&Open..."), QKeySequence(Qt::CTRL | Qt::Key_O),
                               &TMainForm::FileMenuPopup);
    OpenMenuItem->setIcon(StandardIcon(QStyle::SP_DialogOpenButton));
    OpenUrlMenuItem = AddMenuItem(*FileMenu, QStringLiteral("Open &URL..."), QKeySequence(Qt::CTRL | Qt::Key_U),
                                  &TMainForm::FileMenuPopup);
    SaveMenuItem = AddMenuItem(*FileMenu, QStringLiteral("&Save..."), QKeySequence(Qt::CTRL | Qt::Key_S),
                               &TMainForm::FileMenuPopup);
    SaveMenuItem->setIcon(StandardIcon(QStyle::SP_DialogSaveButton));
    FileMenu->addSeparator();
    ScreenCaptureMenu = FileMenu->addMenu(StandardIcon(QStyle::SP_ComputerIcon), QStringLiteral("Screen C&apture"));
    CaptureWindowMenuItem = ScreenCaptureMenu->addAction(QStringLiteral("Capture &Window..."));
    CaptureFullscreenMenuItem = ScreenCaptureMenu->addAction(QStringLiteral("Capture Full &Screen"));
    FromClipboardMenuItem = AddMenuItem(*FileMenu, QStringLiteral("From &Clipboard"),
                                        QKeySequence(Qt::CTRL | Qt::Key_V), &TMainForm::FileMenuPopup);
    FileMenu->addSeparator();
    RefreshMenuItem = AddMenuItem(*FileMenu, QStringLiteral("&Refresh"), QKeySequence(Qt::Key_F5),
                                  &TMainForm::FileMenuPopup);
    RefreshMenuItem->setIcon(StandardIcon(QStyle::SP_BrowserReload));
    OpenRecentMenuItem = FileMenu->addMenu(QStringLiteral("O&pen Recent"));
    FileMenu->addSeparator();
    ExitMenuItem = FileMenu->addAction(QStringLiteral("&Exit"));
    connect(ExitMenuItem, &QAction::triggered, this, &TMainForm::ExitMenuItemClick);

    ResizeMenu = menuBar()->addMenu(QStringLiteral("&Resize"));
    connect(ResizeMenu, &QMenu::aboutToShow, this, &TMainForm::ResizeMenuPopup);
    ResizeMenuItem = AddMenuItem(*ResizeMenu, QStringLiteral("&Numeric Resize..."),
                                 QKeySequence(Qt::CTRL | Qt::Key_R), &TMainForm::ResizeMenuPopup);
    ResizeMenuItem->setIcon(OwnIcon("resize"));
    ResizeMenu->addSeparator();
    DecWidthMenuItem = AddMenuItem(*ResizeMenu, QStringLiteral("Decrease &Width"), QKeySequence(Qt::Key_Left),
                                   &TMainForm::ResizeMenuPopup);
    DecWidthMenuItem->setIcon(StandardIcon(QStyle::SP_ArrowLeft));
    DecHeightMenuItem = AddMenuItem(*ResizeMenu, QStringLiteral("Decrease &Height"), QKeySequence(Qt::Key_Down),
                                    &TMainForm::ResizeMenuPopup);
    DecHeightMenuItem->setIcon(StandardIcon(QStyle::SP_ArrowDown));
    ResizeMenu->addSeparator();
    IncWidthMenuItem = AddMenuItem(*ResizeMenu, QStringLiteral("Increase W&idth"), QKeySequence(Qt::Key_Right),
                                   &TMainForm::ResizeMenuPopup);
    IncWidthMenuItem->setIcon(StandardIcon(QStyle::SP_ArrowRight));
    IncHeightMenuItem = AddMenuItem(*ResizeMenu, QStringLiteral("Increase H&eight"), QKeySequence(Qt::Key_Up),
                                    &TMainForm::ResizeMenuPopup);
    IncHeightMenuItem->setIcon(StandardIcon(QStyle::SP_ArrowUp));

    ToolMenu = menuBar()->addMenu(QStringLiteral("&Tool"));
    connect(ToolMenu, &QMenu::aboutToShow, this, &TMainForm::ToolMenuPopup);
    auto* toolGroup = new QActionGroup(this);
    PreserveBrushMenuItem = AddMenuItem(*ToolMenu, QStringLiteral("&Preserve Brush"), QKeySequence(Qt::Key_F2),
                                        &TMainForm::ToolMenuPopup);
    PreserveBrushMenuItem->setIcon(OwnIcon("preserve"));
    BrushEraserMenuItem = AddMenuItem(*ToolMenu, QStringLiteral("&Brush Strokes Eraser"), QKeySequence(Qt::Key_F4),
                                      &TMainForm::ToolMenuPopup);
    BrushEraserMenuItem->setIcon(OwnIcon("eraser"));
    for (QAction* item : {PreserveBrushMenuItem, BrushEraserMenuItem}) {
        item->setCheckable(true);
        toolGroup->addAction(item);
    }
    PreserveBrushMenuItem->setChecked(true);
    ToolMenu->addSeparator();
    DecreaseToolSizeMenuItem = AddMenuItem(*ToolMenu, QStringLiteral("Decrease Tool Size"),
                                           QKeySequence(Qt::Key_BracketLeft), &TMainForm::ToolMenuPopup);
    connect(DecreaseToolSizeMenuItem, &QAction::triggered, this, &TMainForm::DecreaseToolSizeMenuItemClick);
    IncreaseToolSizeMenuItem = AddMenuItem(*ToolMenu, QStringLiteral("Increase Tool Size"),
                                           QKeySequence(Qt::Key_BracketRight), &TMainForm::ToolMenuPopup);
    connect(IncreaseToolSizeMenuItem, &QAction::triggered, this, &TMainForm::IncreaseToolSizeMenuItemClick);
    ToolMenu->addSeparator();
    HideStrokesMenuItem = AddMenuItem(*ToolMenu, QStringLiteral("Hide Brush Strokes"),
                                      QKeySequence(Qt::CTRL | Qt::Key_B), &TMainForm::ToolMenuPopup);

    HelpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    AboutMenuItem = HelpMenu->addAction(QStringLiteral("&About..."));
}

void TMainForm::CreateToolbars()
{
    const auto makeToolbar = [this](const QString& Name) {
        QToolBar* toolbar = addToolBar(Name);
        toolbar->setObjectName(Name);
        toolbar->setMovable(false);
        toolbar->setFloatable(false);
        toolbar->setIconSize(QSize(24, 24));
        return toolbar;
    };

    FileToolbar = makeToolbar(QStringLiteral("FileToolbar"));
    OpenToolbarItem = AddToolbarTwin(*FileToolbar, QStringLiteral("Open"), StandardIcon(QStyle::SP_DialogOpenButton),
                                     *OpenMenuItem, &TMainForm::FileMenuPopup);
    OpenUrlToolbarItem = AddToolbarTwin(*FileToolbar, QStringLiteral("Open URL"), StandardIcon(QStyle::SP_DriveNetIcon),
                                        *OpenUrlMenuItem, &TMainForm::FileMenuPopup);
    SaveToolbarItem = AddToolbarTwin(*FileToolbar, QStringLiteral("Save"), StandardIcon(QStyle::SP_DialogSaveButton),
                                     *SaveMenuItem, &TMainForm::FileMenuPopup);
    FileToolbar->addSeparator();
    RefreshToolbarItem = AddToolbarTwin(*FileToolbar, QStringLiteral("Refresh"),
                                        StandardIcon(QStyle::SP_BrowserReload), *RefreshMenuItem,
                                        &TMainForm::FileMenuPopup);

    RetargetingToolbar = makeToolbar(QStringLiteral("RetargetingToolbar"));
    ResizeToolbarItem = AddToolbarTwin(*RetargetingToolbar, QStringLiteral("Resize"), OwnIcon("resize"),
                                       *ResizeMenuItem, &TMainForm::ResizeMenuPopup);
    ResizeToolbarItem->setToolTip(QStringLiteral("Numeric Resize"));
    RetargetingToolbar->addSeparator();
    DecreaseWidthToolbarItem = AddToolbarTwin(*RetargetingToolbar, QStringLiteral("Decrease Width (Left Arrow)"),
                                              StandardIcon(QStyle::SP_ArrowLeft), *DecWidthMenuItem,
                                              &TMainForm::ResizeMenuPopup);
    DecreaseHeightToolbarItem = AddToolbarTwin(*RetargetingToolbar, QStringLiteral("Decrease Height (Down Arrow)"),
                                               StandardIcon(QStyle::SP_ArrowDown), *DecHeightMenuItem,
                                               &TMainForm::ResizeMenuPopup);
    IncreaseWidthToolbarItem = AddToolbarTwin(*RetargetingToolbar, QStringLiteral("Increase Width (Right Arrow)"),
                                              StandardIcon(QStyle::SP_ArrowRight), *IncWidthMenuItem,
                                              &TMainForm::ResizeMenuPopup);
    IncreaseHeightToolbarItem = AddToolbarTwin(*RetargetingToolbar, QStringLiteral("Increase Height (Up Arrow)"),
                                               StandardIcon(QStyle::SP_ArrowUp), *IncHeightMenuItem,
                                               &TMainForm::ResizeMenuPopup);
    SeamReuseLabel = new QLabel(QStringLiteral("Reuse:"), RetargetingToolbar);
    SeamReuseLabel->setMargin(2);
    RetargetingToolbar->addWidget(SeamReuseLabel);
    SeamReuseSpinEdit = new QSpinBox(RetargetingToolbar);
    SeamReuseSpinEdit->setRange(1, 100);
    SeamReuseSpinEdit->setValue(33);
    SeamReuseSpinEdit->setSuffix(QStringLiteral("%"));
    SeamReuseSpinEdit->setFocusPolicy(Qt::ClickFocus);
    RetargetingToolbar->addWidget(SeamReuseSpinEdit);

    BrushToolbar = makeToolbar(QStringLiteral("BrushToolbar"));
    PreserveBrushToolbarItem = AddToolbarTwin(*BrushToolbar, QStringLiteral("Preserve Brush"), OwnIcon("preserve"),
                                              *PreserveBrushMenuItem, &TMainForm::ToolMenuPopup);
    StrokesEraserToolbarItem = AddToolbarTwin(*BrushToolbar, QStringLiteral("Brush Strokes Eraser"),
                                              OwnIcon("eraser"), *BrushEraserMenuItem, &TMainForm::ToolMenuPopup);
    auto* brushGroup = new QActionGroup(this);
    for (QAction* item : {PreserveBrushToolbarItem, StrokesEraserToolbarItem}) {
        item->setCheckable(true);
        brushGroup->addAction(item);
    }
    PreserveBrushToolbarItem->setChecked(true);
    auto* sizeLabel = new QLabel(QStringLiteral("Size:"), BrushToolbar);
    sizeLabel->setMargin(2);
    BrushToolbar->addWidget(sizeLabel);
    BrushSizeSpinEdit = new QSpinBox(BrushToolbar);
    BrushSizeSpinEdit->setRange(25, 100);
    BrushSizeSpinEdit->setSingleStep(25);
    BrushSizeSpinEdit->setValue(50);
    BrushSizeSpinEdit->setSuffix(QStringLiteral("px"));
    BrushSizeSpinEdit->setFocusPolicy(Qt::ClickFocus);
    BrushToolbar->addWidget(BrushSizeSpinEdit);
}

void TMainForm::CreateStatusBar()
{
    StatusPanel0 = new QLabel(statusBar());
    StatusPanel0->setFixedWidth(400);
    StatusPanel1 = new QLabel(statusBar());
    StatusPanel1->setMinimumWidth(50);
    statusBar()->addWidget(StatusPanel0);
    statusBar()->addWidget(StatusPanel1);
    // Over the size panel while a picture is being decoded.
    ProgressBar = new QProgressBar(statusBar());
    ProgressBar->setTextVisible(false);
    ProgressBar->setGeometry(402, 2, 117, 18);
    ProgressBar->hide();
}

void TMainForm::FileMenuPopup()
{
    OpenRecentMenuItem->setEnabled(false);
    RefreshMenuItem->setEnabled(false);
    FromClipboardMenuItem->setEnabled(false);
    SaveMenuItem->setEnabled(false);
}

void TMainForm::ExitMenuItemClick() { close(); }

void TMainForm::ResizeMenuPopup()
{
    for (QAction* item : {ResizeMenuItem, DecWidthMenuItem, DecHeightMenuItem, IncWidthMenuItem, IncHeightMenuItem})
        item->setEnabled(false);
}

void TMainForm::ToolMenuPopup()
{
    const int size = BrushSizeSpinEdit->value();
    DecreaseToolSizeMenuItem->setEnabled(size != BrushSizeSpinEdit->minimum());
    IncreaseToolSizeMenuItem->setEnabled(size != BrushSizeSpinEdit->maximum());
    HideStrokesMenuItem->setText(QStringLiteral("Hide Brush Strokes"));
}

void TMainForm::DecreaseToolSizeMenuItemClick()
{
    BrushSizeSpinEdit->setValue(BrushSizeSpinEdit->value() - BrushSizeSpinEdit->singleStep());
}

void TMainForm::IncreaseToolSizeMenuItemClick()
{
    BrushSizeSpinEdit->setValue(BrushSizeSpinEdit->value() + BrushSizeSpinEdit->singleStep());
}

void TMainForm::UpdateControls()
{
    UpdateFileToolbar();
    UpdateRetargetingToolbar();
    UpdateBrushToolbar();
    UpdateStatusBar();
}

void TMainForm::UpdateFileToolbar()
{
    OpenToolbarItem->setEnabled(true);
    OpenUrlToolbarItem->setEnabled(true);
    RefreshToolbarItem->setEnabled(false);
    SaveToolbarItem->setEnabled(false);
}

void TMainForm::UpdateRetargetingToolbar()
{
    for (QAction* item : {ResizeToolbarItem, DecreaseWidthToolbarItem, DecreaseHeightToolbarItem,
                          IncreaseWidthToolbarItem, IncreaseHeightToolbarItem})
        item->setEnabled(false);
    SeamReuseLabel->setEnabled(false);
    SeamReuseSpinEdit->setEnabled(false);
}

void TMainForm::UpdateBrushToolbar() {}

void TMainForm::UpdateStatusBar() { StatusPanel1->clear(); }

void TMainForm::UpdateCaption() { setWindowTitle(AppName()); }

void TMainForm::LoadProgress(const void*, int32_t Position, int32_t Size)
{
    if (Position == -1) {
        StatusPanel0->clear();
        ProgressBar->hide();
        return;
    }
    ProgressBar->setMaximum(Size);
    ProgressBar->setValue(Position);
    StatusPanel0->setText(QStringLiteral("Opening..."));
    if (ProgressBar->isHidden()) {
        ProgressBar->show();
        statusBar()->repaint();
        ProgressBar->repaint();
    }
}

} // namespace Corvanith::Forms
