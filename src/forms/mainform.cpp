#include "forms/mainform.h"

#include "document/document.h"
#include "document/layers.h"
#include "forms/formplacement.h"
#include "forms/shield.h"
#include "graphics/graphics.h"
#include "graphics/surface.h"
#include "io/mrulist.h"
#include "io/settings.h"
#include "io/utils.h"
#include "platform/desktop.h"
#include "retargeting/seam_iterative_resizer.h"
#include "view/documentview.h"
#include "view/overlays.h"
#include "view/preservebrush.h"
#include "view/strokeseraser.h"
#include "view/tools.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QProxyStyle>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

// Resources of a static library are registered by name, outside any namespace.
static void InitMainFormResources() { Q_INIT_RESOURCE(mainform); }

namespace Corvanith::Forms {

QIcon TMainForm::StandardIcon(QStyle::StandardPixmap Pixmap) { return QApplication::style()->standardIcon(Pixmap); }

QIcon TMainForm::OwnIcon(const char* Name)
{
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(Name)));
}

namespace {

QString AppName() { return QString::fromUtf8(Settings::ApplicationName); }

// The recent-documents submenu shows its thumbnails at full size.
constexpr int32_t RecentImageSize = 60;
constexpr int32_t RecentTextWidth = 250;

class TRecentMenuStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric Metric, const QStyleOption* Option, const QWidget* Widget) const override
    {
        if (Metric == PM_SmallIconSize)
            return RecentImageSize;
        return QProxyStyle::pixelMetric(Metric, Option, Widget);
    }
};

// The thumbnail centred in the image box with its frame around it.
QIcon RecentItemIcon(const Graphics::TCorvSurface& Thumbnail)
{
    const auto box = Graphics::CreateThumbnailBox(Thumbnail, RecentImageSize);
    return Platform::IconFromBitmap(box->GetGPBitmap());
}

IO::TCorvMruList& MruList() { return Settings::DataFiles().MruList(); }

// The recent entry that a digit key 1 to 7 of the main keyboard names (0 for
// 1), or -1. With Shift held the key reports the character above the digit,
// so the key itself is told by its keycode (xkb's 10 to 16 for 1 to 7).
int32_t RecentKeyIndex(const QKeyEvent& Key)
{
    constexpr quint32 FirstDigitKeycode = 10;
    if (Key.modifiers() & Qt::KeypadModifier)
        return -1;
    if (Key.key() >= Qt::Key_1 && Key.key() <= Qt::Key_7)
        return Key.key() - Qt::Key_1;
    const quint32 keycode = Key.nativeScanCode();
    if ((Key.modifiers() & Qt::ShiftModifier) && keycode >= FirstDigitKeycode && keycode < FirstDigitKeycode + 7)
        return int32_t(keycode - FirstDigitKeycode);
    return -1;
}

// The focused widget takes typed text: a line edit, a spin box, an editable
// combo box.
bool TakesTypedText(const QWidget* Focus)
{
    return Focus != nullptr && Focus->testAttribute(Qt::WA_InputMethodEnabled);
}

// A key that a text field uses for itself: one that types, moves or steps in
// it (any key without Ctrl, Alt or Meta but the function keys), or pastes.
bool IsFieldKey(const QKeyEvent& Key)
{
    if (Key.matches(QKeySequence::Paste))
        return true;
    if (Key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    return Key.key() < Qt::Key_F1 || Key.key() > Qt::Key_F35;
}

} // namespace

TMainForm::TMainForm(QWidget* Parent) : QMainWindow(Parent)
{
    InitMainFormResources();
    setObjectName(QStringLiteral("MainForm"));
    setMinimumSize(700, 500);
    CreateMenus();
    CreateToolbars();
    View = new View::TCorvDocumentView(this);
    View->setFrameShape(QFrame::NoFrame);
    View->OnClick = [this] { ViewClick(); };
    View->OnMouseDown = [this](Qt::MouseButton, View::TShiftState, int32_t, int32_t) { ViewMouseDown(); };
    setCentralWidget(View);
    CreateStatusBar();

    UpdateCaption();
    QApplication::setWindowIcon(OwnIcon("program"));
    setWindowIcon(QApplication::windowIcon());
    if (!LoadFormPlacement(*this)) {
        resize(800, 600);
        if (const QScreen* screen = QApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    const int32_t padding = Settings::Current().DocumentViewPadding;
    View->SetPadding({padding, padding, padding, padding});
    FOverlays = std::make_unique<View::TCorvOverlays>();
    View->SetOverlays(FOverlays.get());
    FTools = std::make_unique<View::TCorvTools>(*FOverlays);
    FTools->Add(std::make_unique<View::TCorvPreserveBrushTool>(50));
    FTools->Add(std::make_unique<View::TCorvStrokesEraserTool>(50));
    View->SetTools(FTools.get());
    FTools->SelectTool(typeid(View::TCorvPreserveBrushTool));
    AboutMenuItem->setText(QStringLiteral("About ") + AppName());
    UpdateControls();
    setAcceptDrops(true);
    qApp->installEventFilter(this);
}

TMainForm::~TMainForm()
{
    qApp->removeEventFilter(this);
    try {
        SaveFormPlacement(*this);
    } catch (const std::exception&) {
        // A placement that cannot be stored is taken afresh at the next start.
    }
    // The view refers to what is freed below; the tools go before the
    // overlays they put their discs in, the document before the resizer that
    // worked on its picture.
    delete View;
    View = nullptr;
    FTools.reset();
    FOverlays.reset();
    FDocument.reset();
    FResizer.reset();
}

QAction* TMainForm::AddMenuItem(QMenu& Menu, const QString& Caption, const QKeySequence& Keys, TPopup Popup,
                                const QIcon& Icon)
{
    QAction* item = Menu.addAction(Icon, Caption);
    if (!Keys.isEmpty()) {
        // The menu shows the keys; the window's key filter alone carries them
        // out, through the menu's popup handler, so a key obeys the item's
        // enabling rule. The filter claims the keys before the shortcut map
        // sees them, so the item's own shortcut never fires.
        item->setShortcut(Keys);
        item->setShortcutContext(Qt::WidgetShortcut);
        FMenuKeys.push_back({Keys[0], item, Popup});
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
                               &TMainForm::FileMenuPopup, StandardIcon(QStyle::SP_DialogOpenButton));
    OpenUrlMenuItem = AddMenuItem(*FileMenu, QStringLiteral("Open &URL..."), QKeySequence(Qt::CTRL | Qt::Key_U),
                                  &TMainForm::FileMenuPopup);
    SaveMenuItem = AddMenuItem(*FileMenu, QStringLiteral("&Save..."), QKeySequence(Qt::CTRL | Qt::Key_S),
                               &TMainForm::FileMenuPopup, StandardIcon(QStyle::SP_DialogSaveButton));
    FileMenu->addSeparator();
    ScreenCaptureMenu = FileMenu->addMenu(StandardIcon(QStyle::SP_ComputerIcon), QStringLiteral("Screen C&apture"));
    CaptureWindowMenuItem = ScreenCaptureMenu->addAction(QStringLiteral("Capture &Window..."));
    CaptureFullscreenMenuItem = ScreenCaptureMenu->addAction(QStringLiteral("Capture Full &Screen"));
    FromClipboardMenuItem = AddMenuItem(*FileMenu, QStringLiteral("From &Clipboard"),
                                        QKeySequence(Qt::CTRL | Qt::Key_V), &TMainForm::FileMenuPopup);
    FileMenu->addSeparator();
    RefreshMenuItem = AddMenuItem(*FileMenu, QStringLiteral("&Refresh"), QKeySequence(Qt::Key_F5),
                                  &TMainForm::FileMenuPopup, StandardIcon(QStyle::SP_BrowserReload));
    OpenRecentMenuItem = FileMenu->addMenu(QStringLiteral("O&pen Recent"));
    auto* recentStyle = new TRecentMenuStyle;
    recentStyle->setParent(OpenRecentMenuItem);
    OpenRecentMenuItem->setStyle(recentStyle);
    FileMenu->addSeparator();
    ExitMenuItem = FileMenu->addAction(QStringLiteral("&Exit"));
    connect(ExitMenuItem, &QAction::triggered, this, &TMainForm::ExitMenuItemClick);
    connect(OpenMenuItem, &QAction::triggered, this, &TMainForm::OpenMenuItemClick);
    connect(OpenUrlMenuItem, &QAction::triggered, this, &TMainForm::OpenUrlMenuItemClick);
    connect(SaveMenuItem, &QAction::triggered, this, &TMainForm::SaveMenuItemClick);
    connect(RefreshMenuItem, &QAction::triggered, this, &TMainForm::RefreshMenuItemClick);
    connect(CaptureWindowMenuItem, &QAction::triggered, this, &TMainForm::CaptureWindowMenuItemClick);
    connect(CaptureFullscreenMenuItem, &QAction::triggered, this, &TMainForm::CaptureFullscreenMenuItemClick);
    connect(FromClipboardMenuItem, &QAction::triggered, this, &TMainForm::FromClipboardMenuItemClick);

    CreateResizeMenu();

    ToolMenu = menuBar()->addMenu(QStringLiteral("&Tool"));
    connect(ToolMenu, &QMenu::aboutToShow, this, &TMainForm::ToolMenuPopup);
    auto* toolGroup = new QActionGroup(this);
    PreserveBrushMenuItem = AddMenuItem(*ToolMenu, QStringLiteral("&Preserve Brush"), QKeySequence(Qt::Key_F2),
                                        &TMainForm::ToolMenuPopup, OwnIcon("preserve"));
    BrushEraserMenuItem = AddMenuItem(*ToolMenu, QStringLiteral("&Brush Strokes Eraser"), QKeySequence(Qt::Key_F4),
                                      &TMainForm::ToolMenuPopup, OwnIcon("eraser"));
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
    connect(HideStrokesMenuItem, &QAction::triggered, this, &TMainForm::HideStrokesMenuItemClick);

    connect(PreserveBrushMenuItem, &QAction::triggered, this, &TMainForm::PreserveBrushMenuItemClick);
    connect(BrushEraserMenuItem, &QAction::triggered, this, &TMainForm::BrushEraserMenuItemClick);

    HelpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    AboutMenuItem = HelpMenu->addAction(QStringLiteral("&About..."));
    connect(AboutMenuItem, &QAction::triggered, this, &TMainForm::AboutMenuItemClick);
}

QToolBar* TMainForm::AddDockedToolbar(const QString& Name)
{
    QToolBar* toolbar = addToolBar(Name);
    toolbar->setObjectName(Name);
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setIconSize(QSize(24, 24));
    return toolbar;
}

void TMainForm::CreateToolbars()
{
    FileToolbar = AddDockedToolbar(QStringLiteral("FileToolbar"));
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

    CreateRetargetingToolbar();

    BrushToolbar = AddDockedToolbar(QStringLiteral("BrushToolbar"));
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
    connect(BrushSizeSpinEdit, &QSpinBox::valueChanged, this, &TMainForm::BrushSizeSpinEditValueChange);
}

void TMainForm::CreateStatusBar()
{
    StatusPanel0 = new QLabel(statusBar());
    // A message longer than the panel widens it rather than losing its end.
    StatusPanel0->setMinimumWidth(400);
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

void TMainForm::RefreshNow() { repaint(); }

bool TMainForm::CanRefresh() const
{
    using enum Document::TCorvDocumentSourceKind;
    if (!FDocument)
        return false;
    const Document::TCorvDocumentSourceKind kind = FDocument->Source().Kind;
    return kind == dskFile || kind == dskUrl || kind == dskWebPage;
}

void TMainForm::OpenSource(Document::TCorvDocumentSource& Source, std::unique_ptr<Graphics::TCorvSurface> Surface)
{
    using enum Document::TCorvDocumentSourceKind;
    RefreshNow();
    FPendingNotice.clear();
    if (!Surface) {
        switch (Source.Kind) {
        case dskFile:
            Surface = LoadFromFile(Source);
            break;
        case dskUrl:
        case dskWebPage:
            Surface = LoadFromUrl(Source, false);
            break;
        case dskClipboard:
            Surface = LoadFromClipboard(Source);
            break;
        case dskScreenshot:
            Surface = CaptureFullScreen(Source);
            break;
        case dskWindowshot:
            Surface = CaptureWindow(Source);
            break;
        default:
            break;
        }
    }
    if (Surface) {
        Graphics::TCorvSurface& picture = *Surface;
        auto doc = std::make_unique<Document::TCorvDocument>(std::move(Surface), Source);
        doc->Layers().Insert(std::make_unique<Document::TCorvDocumentShadowLayer>(), 0);
        doc->Layers().Insert(std::make_unique<Document::TCorvBackgroundLayer>(), 0);
        // Nothing refers to the old document by the time it is freed.
        FOverlays->Document = doc.get();
        View->SetDocument(doc.get());
        FResizer.reset();
        FDocument = std::move(doc);
        FResizer = std::make_unique<Graphics::Retargeting::TCorvSeamIterativeResizer>(picture);
        View->Repaint();
        StatusPanel0->setText(FPendingNotice);
        // Last: should the thumbnail fail, the document is already whole.
        MruList().Add(FDocument->Source(), picture);
    }
    UpdateCaption();
}

std::unique_ptr<Graphics::TCorvSurface> TMainForm::LoadFromFile(const Document::TCorvDocumentSource& Source)
{
    try {
        return Graphics::TCorvSurface::CreateFromFile(Source.Location, ProgressHandler());
    } catch (const std::exception&) {
        return nullptr;
    }
}

Graphics::TCorvProgressEvent TMainForm::ProgressHandler()
{
    return [this](const void* Sender, int32_t Position, int32_t Size) { LoadProgress(Sender, Position, Size); };
}

void TMainForm::ReloadDocument(Document::TCorvDocument& Doc)
{
    using enum Document::TCorvDocumentSourceKind;
    RefreshNow();
    FPendingNotice.clear();
    // The document keeps its own record, also when the URL loader replaces the copy.
    Document::TCorvDocumentSource source = Doc.Source();
    std::unique_ptr<Graphics::TCorvSurface> surface;
    if (source.Kind == dskFile)
        surface = LoadFromFile(source);
    else if (source.Kind == dskUrl || source.Kind == dskWebPage)
        surface = LoadFromUrl(source, true);
    if (surface) {
        Graphics::TCorvSurface& picture = *surface;
        Doc.BrushesLayer().ClearBrushes();
        // The old resizer refers to the picture about to be freed.
        FResizer.reset();
        Doc.ImageLayer().SetSurface(std::move(surface));
        FResizer = std::make_unique<Graphics::Retargeting::TCorvSeamIterativeResizer>(picture);
        if (View->ShownDocument() == &Doc) {
            View->PictureChanged();
            View->Repaint();
            StatusPanel0->setText(FPendingNotice);
        }
        // Last: should the thumbnail fail, the document is already whole.
        MruList().Add(Doc.Source(), picture);
    }
    UpdateCaption();
}

void TMainForm::OpenMenuItemClick()
{
    RefreshNow();
    TShieldForm::RunShielded(*this, [this](QWidget&) {
        FOpenFileName = QFileDialog::getOpenFileName(this, QString(), FOpenDialogFileName,
                                                     Settings::FileDialogFilter(Settings::OpenImageFilter));
        if (!FOpenFileName.isEmpty())
            FOpenDialogFileName = FOpenFileName;
    });
    QCoreApplication::processEvents();
    if (!FOpenFileName.isEmpty()) {
        Document::TCorvDocumentSource source = Document::MakeFileSource(FOpenFileName);
        OpenSource(source, nullptr);
    }
    UpdateControls();
}

void TMainForm::RefreshMenuItemClick()
{
    if (FDocument)
        ReloadDocument(*FDocument);
    UpdateControls();
}

void TMainForm::RebuildRecentMenu()
{
    OpenRecentMenuItem->clear();
    const IO::TCorvMruList& list = MruList();
    for (int32_t i = 0; i < list.GetCount(); ++i) {
        const IO::TCorvMruItem& entry = list.GetItem(i);
        QString caption = Utils::ShortenText(Document::DocumentSourceToMenuText(entry.Source()), RecentTextWidth,
                                             OpenRecentMenuItem->font());
        // Ampersands are plain characters in the menu text.
        caption.replace(u'&', QStringLiteral("&&"));
        QAction* item = OpenRecentMenuItem->addAction(caption);
        item->setIcon(entry.Thumbnail() != nullptr ? RecentItemIcon(*entry.Thumbnail())
                                                   : StandardIcon(QStyle::SP_TrashIcon));
        connect(item, &QAction::triggered, this, [this, i] { RecentItemClick(i); });
    }
    if (list.GetCount() > 0) {
        OpenRecentMenuItem->addSeparator();
        QAction* clear =
            OpenRecentMenuItem->addAction(StandardIcon(QStyle::SP_TrashIcon), QStringLiteral("&Clear List"));
        connect(clear, &QAction::triggered, this, &TMainForm::ClearRecentClick);
    }
}

void TMainForm::RecentItemClick(int32_t Index)
{
    if (Index < 0 || Index >= MruList().GetCount())
        return;
    Document::TCorvDocumentSource source = MruList().GetItem(Index).Source();
    OpenSource(source, nullptr);
    UpdateControls();
}

void TMainForm::ClearRecentClick()
{
    MruList().Clear();
    UpdateControls();
}

void TMainForm::FileMenuPopup()
{
    OpenRecentMenuItem->setEnabled(MruList().GetCount() > 0);
    RebuildRecentMenu();
    RefreshMenuItem->setEnabled(CanRefresh());
    FromClipboardMenuItem->setEnabled(Platform::ClipboardHasBitmap());
    SaveMenuItem->setEnabled(FDocument != nullptr);
}

bool TMainForm::OwnsWidget(const QWidget* Widget) const
{
    while (Widget != nullptr && Widget->windowType() == Qt::Popup)
        Widget = Widget->parentWidget();
    return Widget != nullptr && Widget->window() == this;
}

std::function<void()> TMainForm::KeyCommand(const QKeyEvent& Key)
{
    const int32_t index = RecentKeyIndex(Key);
    if (index >= 0 && (Key.modifiers() & Qt::ControlModifier))
        return [this, index] { RecentItemClick(index); };
    // The arrows of the keypad resize as the others do.
    const QKeyCombination keys(Key.modifiers() & ~Qt::KeypadModifier, Qt::Key(Key.key()));
    for (const TMenuKey& menuKey : FMenuKeys) {
        if (menuKey.Keys == keys)
            return [this, &menuKey] { RunMenuItem(*menuKey.Item, menuKey.Popup); };
    }
    return {};
}

bool TMainForm::eventFilter(QObject* Watched, QEvent* Event)
{
    const QEvent::Type type = Event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride)
        return QMainWindow::eventFilter(Watched, Event);
    auto* key = static_cast<QKeyEvent*>(Event);
    if (type != QEvent::ShortcutOverride && key->key() == Qt::Key_Escape && !key->isAutoRepeat())
        FEscapeDown = type == QEvent::KeyPress;
    if (type == QEvent::KeyRelease || !OwnsWidget(qobject_cast<const QWidget*>(Watched)))
        return QMainWindow::eventFilter(Watched, Event);
    // A key typed into a field acts on that field only, also when the field
    // passes it on to the window (a character a spin box refuses).
    if (TakesTypedText(QApplication::focusWidget()) && IsFieldKey(*key))
        return QMainWindow::eventFilter(Watched, Event);
    const std::function<void()> command = KeyCommand(*key);
    if (!command)
        return QMainWindow::eventFilter(Watched, Event);
    // Claimed before the shortcut map looks for the key: nothing else in the
    // window carries it out, whatever has the focus.
    if (type == QEvent::ShortcutOverride) {
        key->accept();
        return true;
    }
    // An open menu keeps its keys (the arrows move through it).
    if (QApplication::activePopupWidget() != nullptr)
        return QMainWindow::eventFilter(Watched, Event);
    // The menu bar, left holding the focus by a menu closed with Esc, gives
    // it up: its highlighted item would no longer say where the keys go.
    if (QWidget* focus = QApplication::focusWidget(); qobject_cast<QMenuBar*>(focus) != nullptr)
        focus->clearFocus();
    key->accept();
    command();
    return true;
}

void TMainForm::UpdateCaption()
{
    if (FDocument)
        setWindowTitle(Document::DocumentSourceToCaption(FDocument->Source()) + QStringLiteral(" - ") + AppName());
    else
        setWindowTitle(AppName());
}

} // namespace Corvanith::Forms
