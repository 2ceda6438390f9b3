// The main window's resize commands: one seam at a time and the numeric resize.
#include "datalimit.h"
#include "mainform_fixture.h"

#include "forms/resize.h"
#include "graphics/errors.h"
#include "view/brushtool.h"
#include "view/documentview.h"

#include <QKeyEvent>
#include <QMenuBar>
#include <QSpinBox>
#include <QToolBar>

#include <malloc.h>

namespace {

TEST_F(MainFormTest, WithoutDocumentNoResizeCommandRuns)
{
    for (int key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down})
        Key(key);
    Key(Qt::Key_R, Qt::ControlModifier);
    Form().IncreaseWidthToolbarItem->trigger();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(Form().DecreaseWidthToolbarItem->isEnabled());
    EXPECT_FALSE(Form().ResizeToolbarItem->isEnabled());
    EXPECT_FALSE(Form().SeamReuseSpinEdit->isEnabled());
}

TEST_F(MainFormTest, OpensAFileAndResizesItSeamBySeamByKeysAndButtons)
{
    Open(WritePicture("photo.png", 40, 30));
    ASSERT_NE(Form().GetDocument(), nullptr);
    EXPECT_EQ(Form().windowTitle(), "photo.png - Corvanith");
    EXPECT_EQ(SizeText(), "40 x 30");

    Key(Qt::Key_Left);
    EXPECT_EQ(SizeText(), "39 x 30");
    Key(Qt::Key_Down);
    EXPECT_EQ(SizeText(), "39 x 29");
    Key(Qt::Key_Right);
    Key(Qt::Key_Right);
    EXPECT_EQ(SizeText(), "41 x 29");
    Key(Qt::Key_Up);
    EXPECT_EQ(SizeText(), "41 x 30");
    Form().DecreaseWidthToolbarItem->trigger();
    Form().IncreaseHeightToolbarItem->trigger();
    EXPECT_EQ(SizeText(), "40 x 31");

    // The document's bounds follow the picture.
    const Document::TCorvDocument& doc = *Form().GetDocument();
    EXPECT_EQ(doc.ImageLayer().Surface().Width(), 40);
    EXPECT_EQ(doc.ImageLayer().Surface().Height(), 31);
    EXPECT_EQ(doc.GetBounds().Width - doc.GetBounds().Height, 40 - 31);
}

TEST_F(MainFormTest, AStepThatFailsPartWayLeavesTheDocumentUpToDate)
{
    SKIP_UNLESS_DATA_LIMIT_HOLDS();
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    Open(WritePicture("large.png", 1024, 1024));
    ASSERT_NE(Form().GetDocument(), nullptr);
    // Narrower and wider again: the energy map is made, and both buffers
    // still hold the first width, so the next step must grow both.
    Form().DecWidthMenuItemClick();
    Form().IncWidthMenuItemClick();
    // More room each time, until there is room for the grown picture but
    // not for its grown energy map: a step that fails after the picture grew.
    // A step that fails before changes nothing and is tried again.
    const Document::TCorvDocument& doc = *Form().GetDocument();
    bool grown = false;
    for (int64_t room = 1 << 18; room <= 8 << 20 && !grown; room += 1 << 18) {
        TDataLimit limit(room);
        try {
            Form().IncWidthMenuItemClick();
            break;
        } catch (const EOutOfMemory&) {
            grown = doc.ImageLayer().Surface().Width() == 1025;
        }
    }
    ASSERT_TRUE(grown);
    const int32_t width = doc.ImageLayer().Surface().Width();
    EXPECT_EQ(doc.GetBounds().Width - doc.GetBounds().Height, width - 1024);
    EXPECT_EQ(SizeText(), "1025 x 1024");
}

TEST_F(MainFormTest, TheDiscHidesWhenResizeStepsOrAnotherDocumentTakeThePictureFromUnderTheCursor)
{
    const QString other = WritePicture("small.png", 10, 10);
    Open(WritePicture("photo.png", 60, 20));
    // The cursor rests over the picture's last column but four.
    QWidget* viewport = Form().View->viewport();
    const Graphics::TCorvRectangle image = Form().View->GetItemScreenRect(Form().GetDocument()->ImageLayer());
    const QPoint at(image.X + image.Width - 5, image.Y + image.Height / 2);
    QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    const auto& brush = dynamic_cast<const View::TCorvBrushTool&>(*Form().GetTools().ActiveTool());
    ASSERT_TRUE(brush.Overlay()->Visible());

    // Each step moves the centred picture's right edge by half a pixel.
    for (int i = 0; i < 12; ++i)
        Key(Qt::Key_Left);
    EXPECT_FALSE(brush.Overlay()->Visible());
    for (int i = 0; i < 12; ++i)
        Key(Qt::Key_Right);
    EXPECT_TRUE(brush.Overlay()->Visible());

    Open(other);
    EXPECT_FALSE(brush.Overlay()->Visible());
    EXPECT_FALSE(Form().GetDocument()->BrushesLayer().HasBrushes());
}

TEST_F(MainFormTest, DecreasingStopsAtThreePixels)
{
    Open(WritePicture("narrow.png", 4, 4));
    Key(Qt::Key_Left);
    Key(Qt::Key_Down);
    EXPECT_EQ(SizeText(), "3 x 3");
    EXPECT_FALSE(Form().DecreaseWidthToolbarItem->isEnabled());
    EXPECT_FALSE(Form().DecreaseHeightToolbarItem->isEnabled());
    Key(Qt::Key_Left);
    Form().DecreaseHeightToolbarItem->trigger();
    EXPECT_EQ(SizeText(), "3 x 3");
    Key(Qt::Key_Right);
    EXPECT_EQ(SizeText(), "4 x 3");
    EXPECT_TRUE(Form().DecreaseWidthToolbarItem->isEnabled());
}
TEST_F(MainFormTest, TinyPicturesGrowAndShrinkWithoutHarm)
{
    Open(WritePicture("dot.png", 1, 1));
    ASSERT_NE(Form().GetDocument(), nullptr);
    Key(Qt::Key_Left);
    Key(Qt::Key_Right);
    Key(Qt::Key_Up);
    EXPECT_EQ(SizeText(), "2 x 2");
}
TEST_F(MainFormTest, RefreshGivesTheResizerTheNewPicture)
{
    const QString path = WritePicture("photo.png", 20, 10);
    Open(path);
    Key(Qt::Key_Left);
    WritePicture("photo.png", 30, 12);
    Key(Qt::Key_F5);
    EXPECT_EQ(SizeText(), "30 x 12");
    Key(Qt::Key_Left);
    Key(Qt::Key_Up);
    EXPECT_EQ(SizeText(), "29 x 13");
}

TEST_F(MainFormTest, ResizesCarveTheStrokesWithThePicture)
{
    Open(WritePicture("photo.png", 20, 10));
    Form().GetDocument()->BrushesLayer().GetSurface().FillRect({0, 0, 5, 10}, Graphics::MaskCorePaint);
    for (int i = 0; i < 4; ++i)
        Key(Qt::Key_Left);
    Key(Qt::Key_Up);
    const Graphics::TCorvSurface& mask = Form().GetDocument()->BrushesLayer().GetSurface();
    EXPECT_EQ(mask.Width(), 16);
    EXPECT_EQ(mask.Height(), 11);
}

// Fills in the numeric-resize dialog when it opens and confirms it.
// With PressEscape, Esc goes down as soon as the run handles its messages.
void AnswerResizeDialog(const QString& Width, const QString& Height, QWidget* PressEscape = nullptr)
{
    QTimer::singleShot(0, [=] {
        auto* dialog = qobject_cast<Forms::TResizeForm*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->WidthEdit().setText(Width);
        dialog->HeightEdit().setText(Height);
        dialog->ResizeButtonClick();
        if (PressEscape != nullptr)
            QCoreApplication::postEvent(PressEscape, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    });
}
// Does Action once a numeric run of Window handles its messages between
// its steps.
void WhileTheRunHandlesMessages(TMainForm& Window, std::function<void()> Action)
{
    QMetaObject::invokeMethod(qApp, [&Window, Action] {
        if (Window.StatusPanel0->text().isEmpty())
            WhileTheRunHandlesMessages(Window, Action);
        else
            Action();
    }, Qt::QueuedConnection);
}

TEST_F(MainFormTest, NumericResizeWalksToTheTargetAndHidesTheStrokes)
{
    Open(WritePicture("photo.png", 30, 20));
    Form().GetDocument()->BrushesLayer().GetSurface().FillRect({0, 0, 4, 20}, Graphics::MaskCorePaint);
    AnswerResizeDialog("-3", "+2");
    Key(Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(SizeText(), "27 x 22");
    const Document::TCorvDocument& doc = *Form().GetDocument();
    EXPECT_EQ(doc.BrushesLayer().GetSurface().Width(), 27);
    EXPECT_EQ(doc.BrushesLayer().GetSurface().Height(), 22);
    EXPECT_TRUE(doc.BrushesLayer().Hidden);
    EXPECT_EQ(Form().StatusPanel0->text(), "");
    EXPECT_TRUE(Form().menuBar()->isEnabled());
    EXPECT_TRUE(Form().RetargetingToolbar->isEnabled());
    Form().ToolMenuPopup();
    EXPECT_EQ(Form().HideStrokesMenuItem->text(), "Show Brush Strokes");

    // To the current size: no seam, strokes still hidden.
    AnswerResizeDialog("27", "22");
    Form().ResizeToolbarItem->trigger();
    EXPECT_EQ(SizeText(), "27 x 22");
    EXPECT_TRUE(doc.BrushesLayer().Hidden);

    // A bigger step count, both directions, by percentages.
    AnswerResizeDialog("200%", "50%");
    Form().ResizeMenuItem->trigger();
    EXPECT_EQ(SizeText(), "54 x 11");
    EXPECT_EQ(doc.GetBounds().Width - doc.GetBounds().Height, 54 - 11);

    // A press in the view shows the strokes again.
    Form().View->ViewMouseDown(Qt::LeftButton, 0, 1, 1);
    EXPECT_TRUE(doc.BrushesLayer().Hidden);
    QTest::mouseClick(Form().View->viewport(), Qt::RightButton, Qt::NoModifier, QPoint(1, 1));
    EXPECT_FALSE(doc.BrushesLayer().Hidden);
}

TEST_F(MainFormTest, NumericResizeGrowsATinyPicture)
{
    Open(WritePicture("dot.png", 1, 1));
    AnswerResizeDialog("5", "4");
    Key(Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(SizeText(), "5 x 4");
    AnswerResizeDialog("3", "3");
    Form().ResizeToolbarItem->trigger();
    EXPECT_EQ(SizeText(), "3 x 3");
}

TEST_F(MainFormTest, EscStopsTheNumericResizeAtItsNextRefresh)
{
    Open(WritePicture("photo.png", 30, 20));
    AnswerResizeDialog("-10", "+6", &Form());
    Key(Qt::Key_R, Qt::ControlModifier);
    // Step 0 ran and was shown; the run stopped there.
    EXPECT_EQ(SizeText(), "29 x 21");
    EXPECT_EQ(Form().GetDocument()->GetBounds().Width - Form().GetDocument()->GetBounds().Height, 29 - 21);
    EXPECT_TRUE(Form().menuBar()->isEnabled());
    EXPECT_EQ(Form().StatusPanel0->text(), "");
}
TEST_F(MainFormTest, ClosingTheWindowEndsTheNumericResize)
{
    Open(WritePicture("photo.png", 30, 20));
    QTimer::singleShot(0, [this] {
        auto* dialog = qobject_cast<Forms::TResizeForm*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->WidthEdit().setText("-10");
        dialog->ResizeButtonClick();
        QMetaObject::invokeMethod(&Form(), &QWidget::close, Qt::QueuedConnection);
    });
    Key(Qt::Key_R, Qt::ControlModifier);
    // Closed before the first step: no seam is carved into a closed window.
    EXPECT_FALSE(Form().isVisible());
    EXPECT_EQ(SizeText(), "30 x 20");
    EXPECT_TRUE(Form().menuBar()->isEnabled());
}

TEST_F(MainFormTest, DocumentsOpenedDuringTheNumericResizeEndIt)
{
    Open(WritePicture("photo.png", 30, 20));
    const QString second = WritePicture("second.png", 12, 10);
    const QString third = WritePicture("third.png", 14, 10);
    AnswerResizeDialog("-10", "20");
    // Two documents open one after the other, the first freed before the
    // second is made.
    WhileTheRunHandlesMessages(Form(), [&] {
        Open(second);
        Open(third);
    });
    Key(Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(Form().windowTitle(), "third.png - Corvanith");
    EXPECT_EQ(SizeText(), "14 x 10");
}

TEST_F(MainFormTest, NumericResizeAndArrowKeysTogetherStopAtThreePixels)
{
    Open(WritePicture("photo.png", 8, 8));
    AnswerResizeDialog("3", "8");
    // Left is pressed more often than it is offered.
    WhileTheRunHandlesMessages(Form(), [&] {
        QApplication::setActiveWindow(&Form());
        for (int i = 0; i < 6; ++i)
            Key(Qt::Key_Left);
    });
    Key(Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(SizeText(), "3 x 8");
}

// A longer side would be saved but could not be opened again.
TEST_F(MainFormTest, IncreasingStopsAtTheLongestSideThatOpensAgain)
{
    struct TCase {
        int Width, Height;
        int Key;
        QAction* TMainForm::*Button;
        const char* Longest;
    };
    const TCase cases[] = {
        {65534, 3, Qt::Key_Right, &TMainForm::IncreaseWidthToolbarItem, "65535 x 3"},
        {3, 65534, Qt::Key_Up, &TMainForm::IncreaseHeightToolbarItem, "3 x 65535"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Longest);
        Open(WritePicture(QStringLiteral("long%1x%2.png").arg(c.Width).arg(c.Height), c.Width, c.Height));
        ASSERT_NE(Form().GetDocument(), nullptr);
        EXPECT_TRUE((Form().*c.Button)->isEnabled());
        Key(c.Key);
        EXPECT_EQ(SizeText(), c.Longest);
        EXPECT_FALSE((Form().*c.Button)->isEnabled());
        Key(c.Key);
        (Form().*c.Button)->trigger();
        EXPECT_EQ(SizeText(), c.Longest);
    }
}

TEST_F(MainFormTest, NumericResizeAndArrowKeysTogetherStopAtTheLongestSide)
{
    Open(WritePicture("long.png", 65528, 3));
    AnswerResizeDialog("65535", "3");
    // Right is pressed while the run grows the width towards the longest side.
    WhileTheRunHandlesMessages(Form(), [&] {
        QApplication::setActiveWindow(&Form());
        for (int i = 0; i < 6; ++i)
            Key(Qt::Key_Right);
    });
    Key(Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(SizeText(), "65535 x 3");
}

TEST_F(MainFormTest, PicturesOneOrTwoPixelsThinResizeEveryWay)
{
    struct TCase {
        int Width, Height;
        const char* AfterDecrease;
        const char* AfterIncrease;
    };
    const TCase cases[] = {
        {4, 1, "3 x 1", "4 x 2"}, {1, 4, "1 x 3", "2 x 4"}, {5, 2, "4 x 2", "5 x 3"}, {2, 5, "2 x 4", "3 x 5"}};
    for (const TCase& c : cases) {
        // The dialogs of the case before left no active window behind.
        QApplication::setActiveWindow(&Form());
        Open(WritePicture(QStringLiteral("thin%1x%2.png").arg(c.Width).arg(c.Height), c.Width, c.Height));
        for (int key : {Qt::Key_Left, Qt::Key_Down})
            Key(key);
        EXPECT_EQ(SizeText(), c.AfterDecrease) << c.Width << " x " << c.Height;
        for (int key : {Qt::Key_Right, Qt::Key_Up})
            Key(key);
        EXPECT_EQ(SizeText(), c.AfterIncrease) << c.Width << " x " << c.Height;
        AnswerResizeDialog("6", "3");
        Key(Qt::Key_R, Qt::ControlModifier);
        EXPECT_EQ(SizeText(), "6 x 3") << c.Width << " x " << c.Height;
        AnswerResizeDialog("3", "7");
        Form().ResizeToolbarItem->trigger();
        EXPECT_EQ(SizeText(), "3 x 7") << c.Width << " x " << c.Height;
    }
}

TEST_F(MainFormTest, CancelledNumericResizeChangesNothing)
{
    Open(WritePicture("photo.png", 30, 20));
    QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
    Key(Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(SizeText(), "30 x 20");
    EXPECT_FALSE(Form().GetDocument()->BrushesLayer().Hidden);
}

} // namespace
