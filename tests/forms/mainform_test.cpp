// The main window's files, tools, status, recent list, clipboard and drops.
#include "mainform_fixture.h"

#include "forms/about.h"
#include "forms/windowpicker.h"
#include "io/filecache.h"
#include "io/mrulist.h"
#include "io/settings.h"
#include "view/preservebrush.h"
#include "view/strokeseraser.h"
#include "view/tools.h"

#include <QClipboard>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QScreen>
#include <QSpinBox>
#include <QUrl>

namespace {

IO::TCorvMruList& Recent() { return Settings::DataFiles().MruList(); }
IO::TCorvFileCache& Cache() { return Settings::DataFiles().FileCache(); }

TEST_F(MainFormTest, WithoutDocumentTheCommandsThatNeedOneDoNothing)
{
    EXPECT_EQ(Form().windowTitle(), "Corvanith");
    EXPECT_EQ(SizeText(), "");
    for (int key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down})
        Key(key);
    Key(Qt::Key_S, Qt::ControlModifier);
    Key(Qt::Key_F5);
    EXPECT_EQ(Form().GetDocument(), nullptr);
    EXPECT_FALSE(Form().SaveToolbarItem->isEnabled());
    EXPECT_FALSE(Form().RefreshToolbarItem->isEnabled());
    EXPECT_TRUE(Form().OpenToolbarItem->isEnabled());
}

TEST_F(MainFormTest, PlacementIsKeptFromOneWindowToTheNext)
{
    EXPECT_EQ(Form().size(), QSize(800, 600));
    Form().setGeometry(30, 40, 720, 520);
    RecreateForm();
    EXPECT_EQ(Form().geometry(), QRect(30, 40, 720, 520));
}

TEST_F(MainFormTest, OpenCommandOpensTheChosenFileAndCancelKeepsTheDocument)
{
    const QString path = WritePicture("chosen.png", 14, 6);
    WhenDialogOpens([&](QWidget& dialog) {
        auto& fileDialog = dynamic_cast<QFileDialog&>(dialog);
        fileDialog.selectFile(path);
        static_cast<QDialog&>(fileDialog).accept();
    });
    Key(Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(Form().windowTitle(), "chosen.png - Corvanith");
    const Document::TCorvDocument* doc = Form().GetDocument();

    WhenDialogOpens([](QWidget& dialog) { static_cast<QDialog&>(dialog).reject(); });
    Form().OpenToolbarItem->trigger();
    EXPECT_EQ(Form().GetDocument(), doc);
}

TEST_F(MainFormTest, APickedWindowOpensUnderANewPseudoUrlAndIsCached)
{
    Forms::TWindowPick cancelled;
    Form().WindowPicked(cancelled);
    EXPECT_EQ(Form().GetDocument(), nullptr);

    Forms::TWindowPick pick;
    pick.Picture = TestPicture(11, 7);
    pick.Bounds = QRect(0, 0, 11, 7);
    Form().WindowPicked(pick);
    ASSERT_NE(Form().GetDocument(), nullptr);
    const TCorvDocumentSource& source = Form().GetDocument()->Source();
    EXPECT_EQ(source.Kind, Document::TCorvDocumentSourceKind::dskWindowshot);
    EXPECT_TRUE(source.Location.startsWith("windowshot://"));
    EXPECT_EQ(SizeText(), "11 x 7");
    EXPECT_TRUE(Cache().Contains(source.Location));
    EXPECT_EQ(Recent().GetItem(0).Source().Location, source.Location);
    Form().FileMenuPopup();
    EXPECT_FALSE(Form().RefreshMenuItem->isEnabled());
}

TEST_F(MainFormTest, AScreenCaptureOpensTheWholeScreenAndReopensFromTheCache)
{
    Form().CaptureFullscreenMenuItem->trigger();
    ASSERT_NE(Form().GetDocument(), nullptr);
    const TCorvDocumentSource source = Form().GetDocument()->Source();
    EXPECT_EQ(source.Kind, Document::TCorvDocumentSourceKind::dskScreenshot);
    const QSize screen = QApplication::primaryScreen()->geometry().size();
    EXPECT_EQ(SizeText(), QString("%1 x %2").arg(screen.width()).arg(screen.height()));
    EXPECT_TRUE(Form().isVisible());
    EXPECT_FALSE(Form().isMinimized());
    ASSERT_TRUE(Cache().Contains(source.Location));

    Open(WritePicture("other.png", 5, 5));
    Key(Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(Form().GetDocument()->Source().Location, source.Location);
}

TEST_F(MainFormTest, AboutBoxAndExit)
{
    EXPECT_EQ(Form().AboutMenuItem->text(), "About Corvanith");
    QString caption;
    WhenDialogOpens([&](QWidget& dialog) {
        caption = dialog.windowTitle();
        EXPECT_NE(dynamic_cast<Forms::TAboutForm*>(&dialog), nullptr);
        static_cast<QDialog&>(dialog).accept();
    });
    Form().AboutMenuItem->trigger();
    EXPECT_EQ(caption, "About Corvanith");

    Form().ExitMenuItem->trigger();
    EXPECT_FALSE(Form().isVisible());
}

TEST_F(MainFormTest, AFileThatDoesNotLoadLeavesTheDocumentAsItWas)
{
    Open(WritePicture("good.png", 20, 10));
    const Document::TCorvDocument* before = Form().GetDocument();

    QFile junk(TempPath() + "/junk.png");
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a picture at all");
    junk.close();
    for (const QString& name : {junk.fileName(), TempPath() + "/missing.png"}) {
        Open(name);
        EXPECT_EQ(Form().GetDocument(), before) << name.toStdString();
        EXPECT_EQ(Form().windowTitle(), "good.png - Corvanith");
        EXPECT_EQ(SizeText(), "20 x 10");
        EXPECT_FALSE(Form().ProgressBar->isVisible());
        EXPECT_EQ(Form().StatusPanel0->text(), "");
    }
}

TEST_F(MainFormTest, SavesThePictureAsBmpWhateverTheName)
{
    Open(WritePicture("photo.png", 12, 9));
    const QString target = TempPath() + "/saved.png";
    WhenDialogOpens([&](QWidget& dialog) {
        auto& fileDialog = dynamic_cast<QFileDialog&>(dialog);
        fileDialog.selectFile(target);
        static_cast<QDialog&>(fileDialog).accept();
    });
    Key(Qt::Key_S, Qt::ControlModifier);

    QFile saved(target);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.read(2), QByteArray("BM"));
    saved.close();
    const auto read = Graphics::TCorvSurface::CreateFromFile(target);
    const Graphics::TCorvSurface& picture = Form().GetDocument()->ImageLayer().Surface();
    ASSERT_EQ(read->Width(), 12);
    ASSERT_EQ(read->Height(), 9);
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 12; ++x)
            ASSERT_EQ(*read->GetPixelPtr(x, y), *picture.GetPixelPtr(x, y)) << x << "," << y;
    }
}

TEST_F(MainFormTest, CancelledSaveWritesNothing)
{
    Open(WritePicture("photo.png", 12, 9));
    WhenDialogOpens([](QWidget& dialog) { dynamic_cast<QFileDialog&>(dialog).reject(); });
    Form().SaveToolbarItem->trigger();
    EXPECT_FALSE(QFile::exists(TempPath() + "/image.bmp"));
}

TEST_F(MainFormTest, RefreshTakesTheChangedFileAndDropsTheStrokes)
{
    const QString path = WritePicture("photo.png", 20, 10);
    Open(path);
    const Document::TCorvDocument* doc = Form().GetDocument();
    Form().GetDocument()->BrushesLayer().GetSurface();
    WritePicture("photo.png", 30, 12);
    Key(Qt::Key_F5);
    EXPECT_EQ(Form().GetDocument(), doc);
    EXPECT_EQ(SizeText(), "30 x 12");
    EXPECT_FALSE(doc->BrushesLayer().HasBrushes());
    EXPECT_EQ(Recent().GetCount(), 1);

    // A refresh that cannot load changes nothing.
    ASSERT_TRUE(QFile::remove(path));
    Form().RefreshToolbarItem->trigger();
    EXPECT_EQ(SizeText(), "30 x 12");
}

TEST_F(MainFormTest, EachBrushKeepsItsOwnSize)
{
    View::TCorvTools& tools = Form().GetTools();
    ASSERT_NE(dynamic_cast<View::TCorvPreserveBrushTool*>(tools.ActiveTool()), nullptr);
    Key(Qt::Key_BracketRight);
    EXPECT_EQ(Form().BrushSizeSpinEdit->value(), 75);
    Key(Qt::Key_F4);
    ASSERT_NE(dynamic_cast<View::TCorvStrokesEraserTool*>(tools.ActiveTool()), nullptr);
    EXPECT_EQ(Form().BrushSizeSpinEdit->value(), 50);
    EXPECT_TRUE(Form().StrokesEraserToolbarItem->isChecked());
    Form().PreserveBrushToolbarItem->trigger();
    ASSERT_NE(dynamic_cast<View::TCorvPreserveBrushTool*>(tools.ActiveTool()), nullptr);
    EXPECT_EQ(Form().BrushSizeSpinEdit->value(), 75);
    EXPECT_TRUE(Form().PreserveBrushToolbarItem->isChecked());
    Form().ToolMenuPopup();
    EXPECT_TRUE(Form().PreserveBrushMenuItem->isChecked());

    // Choosing a tool shows strokes hidden before.
    Open(WritePicture("photo.png", 8, 8));
    Key(Qt::Key_B, Qt::ControlModifier);
    Key(Qt::Key_F2);
    EXPECT_FALSE(Form().GetDocument()->BrushesLayer().Hidden);
}

TEST_F(MainFormTest, ToolSizeStepsBetweenItsLimits)
{
    EXPECT_EQ(Form().BrushSizeSpinEdit->value(), 50);
    Key(Qt::Key_BracketLeft);
    EXPECT_EQ(Form().BrushSizeSpinEdit->value(), 25);
    Key(Qt::Key_BracketLeft);
    EXPECT_EQ(Form().BrushSizeSpinEdit->value(), 25);
    for (int i = 0; i < 4; ++i)
        Key(Qt::Key_BracketRight);
    EXPECT_EQ(Form().BrushSizeSpinEdit->value(), 100);
}

TEST_F(MainFormTest, HideStrokesTogglesOnlyWithADocument)
{
    Key(Qt::Key_B, Qt::ControlModifier);
    Form().ToolMenuPopup();
    EXPECT_EQ(Form().HideStrokesMenuItem->text(), "Hide Brush Strokes");
    Open(WritePicture("photo.png", 8, 8));
    Key(Qt::Key_B, Qt::ControlModifier);
    EXPECT_TRUE(Form().GetDocument()->BrushesLayer().Hidden);
    Form().ToolMenuPopup();
    EXPECT_EQ(Form().HideStrokesMenuItem->text(), "Show Brush Strokes");
    Key(Qt::Key_B, Qt::ControlModifier);
    EXPECT_FALSE(Form().GetDocument()->BrushesLayer().Hidden);
}

TEST_F(MainFormTest, DecodingProgressShowsUntilTheClosingReport)
{
    Form().LoadProgress(nullptr, 10, 100);
    EXPECT_EQ(Form().StatusPanel0->text(), "Opening...");
    EXPECT_TRUE(Form().ProgressBar->isVisible());
    EXPECT_EQ(Form().ProgressBar->value(), 10);
    Form().LoadProgress(nullptr, -1, -1);
    EXPECT_EQ(Form().StatusPanel0->text(), "");
    EXPECT_FALSE(Form().ProgressBar->isVisible());
}

TEST_F(MainFormTest, PastesThePictureOnTheClipboard)
{
    QApplication::clipboard()->clear();
    Key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Form().GetDocument(), nullptr);

    QImage picture = TestPicture(7, 5);
    picture.setPixel(2, 3, qRgba(10, 20, 30, 128));
    QApplication::clipboard()->setImage(picture);
    Key(Qt::Key_V, Qt::ControlModifier);
    ASSERT_NE(Form().GetDocument(), nullptr);
    EXPECT_EQ(Form().GetDocument()->Source().Kind, Document::TCorvDocumentSourceKind::dskClipboard);
    EXPECT_EQ(SizeText(), "7 x 5");
    const Graphics::TCorvSurface& surface = Form().GetDocument()->ImageLayer().Surface();
    EXPECT_TRUE(surface.HasAlpha());
    EXPECT_EQ(*surface.GetPixelPtr(2, 3), 0x800A141Eu);
    EXPECT_EQ(*surface.GetPixelPtr(4, 1), picture.pixel(4, 1));
    // A pasted picture has no source to reload.
    Form().FileMenuPopup();
    EXPECT_FALSE(Form().RefreshMenuItem->isEnabled());
}

TEST_F(MainFormTest, OpensTheFirstDroppedFile)
{
    const QString first = WritePicture("first.png", 9, 6);
    const QString second = WritePicture("second.png", 5, 5);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)});
    const QPoint at = Form().rect().center();

    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&Form(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&Form(), &drop);
    EXPECT_EQ(Form().windowTitle(), "first.png - Corvanith");
    EXPECT_EQ(SizeText(), "9 x 6");

    QMimeData text;
    text.setText("no files here");
    QDragEnterEvent textEnter(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&Form(), &textEnter);
    EXPECT_FALSE(textEnter.isAccepted());
    QDropEvent textDrop(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&Form(), &textDrop);
    EXPECT_EQ(Form().windowTitle(), "first.png - Corvanith");
}

TEST_F(MainFormTest, RecentListKeepsOneEntryPerDocumentMostRecentFirst)
{
    const QString a = WritePicture("a.png", 10, 8);
    const QString b = WritePicture("b.png", 12, 8);
    Open(a);
    Open(b);
    Open(a);
    ASSERT_EQ(Recent().GetCount(), 2);
    EXPECT_EQ(Recent().GetItem(0).Source().Location, a);
    EXPECT_EQ(Recent().GetItem(1).Source().Location, b);
    ASSERT_NE(Recent().GetItem(0).Thumbnail(), nullptr);

    Form().FileMenuPopup();
    EXPECT_TRUE(Form().OpenRecentMenuItem->isEnabled());
    const QList<QAction*> items = Form().OpenRecentMenuItem->actions();
    ASSERT_EQ(items.size(), 4); // two entries, a separator, "&Clear List"
    EXPECT_EQ(items[0]->text(), "a.png");
    EXPECT_FALSE(items[0]->icon().isNull());
    EXPECT_EQ(items[3]->text(), "&Clear List");

    // Entry 2 by its menu item, entry 1 by Ctrl+1; Ctrl+3 has no entry.
    items[1]->trigger();
    EXPECT_EQ(Form().windowTitle(), "b.png - Corvanith");
    Key(Qt::Key_1, Qt::ControlModifier);
    EXPECT_EQ(Form().windowTitle(), "b.png - Corvanith");
    Key(Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(Form().windowTitle(), "a.png - Corvanith");
    // With Shift the key reports the character above the digit: Ctrl+Shift+2
    // opens entry 2 as Ctrl+2 does.
    QKeyEvent shifted(QEvent::KeyPress, Qt::Key_At, Qt::ControlModifier | Qt::ShiftModifier, 11, 0x40, 0, "@");
    QApplication::sendEvent(&Form(), &shifted);
    EXPECT_EQ(Form().windowTitle(), "b.png - Corvanith");
    Key(Qt::Key_2, Qt::ControlModifier);
    const Document::TCorvDocument* doc = Form().GetDocument();
    Key(Qt::Key_3, Qt::ControlModifier);
    Key(Qt::Key_2, Qt::ControlModifier | Qt::KeypadModifier);
    Key(Qt::Key_2);
    EXPECT_EQ(Form().GetDocument(), doc);

    // A recent file that has gone opens nothing and stays in the list.
    ASSERT_TRUE(QFile::remove(b));
    Key(Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(Form().GetDocument(), doc);
    EXPECT_EQ(Recent().GetCount(), 2);

    Form().FileMenuPopup();
    Form().OpenRecentMenuItem->actions().last()->trigger();
    EXPECT_EQ(Recent().GetCount(), 0);
    Form().FileMenuPopup();
    EXPECT_FALSE(Form().OpenRecentMenuItem->isEnabled());
}

TEST_F(MainFormTest, PastedPicturesReopenFromTheCacheUntilTheListIsCleared)
{
    QApplication::clipboard()->setImage(TestPicture(7, 5));
    Form().FromClipboardMenuItem->trigger();
    ASSERT_NE(Form().GetDocument(), nullptr);
    const QString location = Form().GetDocument()->Source().Location;
    EXPECT_TRUE(location.startsWith("clipboard://"));
    ASSERT_TRUE(Cache().Contains(location));
    const QString cached = Cache().Find(location)->FileName();
    EXPECT_TRUE(QFile::exists(cached));

    // Reopening takes the cached picture, not what the clipboard holds now.
    QApplication::clipboard()->setImage(TestPicture(3, 9));
    Open(WritePicture("other.png", 20, 20));
    Key(Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(Form().GetDocument()->Source().Location, location);
    EXPECT_EQ(SizeText(), "7 x 5");

    // A cached picture that no longer decodes leaves the cache and opens
    // nothing; the next time the clipboard is taken anew under the entry's
    // old location.
    Open(WritePicture("other.png", 20, 20));
    {
        QFile file(cached);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("damaged");
    }
    Key(Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(Form().windowTitle(), "other.png - Corvanith");
    EXPECT_FALSE(Cache().Contains(location));
    Key(Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(Form().GetDocument()->Source().Location, location);
    EXPECT_EQ(SizeText(), "3 x 9");
    EXPECT_TRUE(Cache().Contains(location));

    Form().ClearRecentClick();
    EXPECT_EQ(Cache().Count(), 0);
}

} // namespace
