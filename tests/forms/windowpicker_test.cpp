#include "forms/windowpicker.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <optional>
#include <vector>

namespace {

using namespace Corvanith::Forms;

constexpr QRgb Grey = 0xFF808080;

QScreen& Screen()
{
    return *QGuiApplication::primaryScreen();
}

QPixmap GreyShot()
{
    QPixmap shot(Screen().geometry().size());
    shot.fill(QColor::fromRgb(Grey));
    return shot;
}

QRegion Rect(int X, int Y, int Width, int Height)
{
    return QRegion(X, Y, Width, Height);
}

TEST(FrameBandTest, ThreePixelsInsideTheEdges)
{
    const QRegion rect = Rect(10, 20, 30, 40);
    EXPECT_EQ(FrameBand(rect), rect - Rect(13, 23, 24, 34));
    EXPECT_EQ(FrameBand(rect, 1, 2), rect - Rect(11, 22, 28, 36));
    // Thinner than the band: all of it.
    EXPECT_EQ(FrameBand(Rect(0, 0, 5, 50)), Rect(0, 0, 5, 50));
    // An L follows its inner corner too.
    const QRegion l = Rect(0, 0, 20, 10) | Rect(0, 10, 10, 10);
    const QRegion band = FrameBand(l);
    EXPECT_TRUE(band.contains(QPoint(15, 8)));
    EXPECT_TRUE(band.contains(QPoint(8, 15)));
    EXPECT_FALSE(band.contains(QPoint(5, 5)));
    EXPECT_TRUE((band - l).isEmpty());
}

class WindowPickerTest : public testing::Test {
protected:
    void SetUp() override
    {
        Main.setGeometry(100, 100, 300, 200);
        Main.show();
        Other.setGeometry(500, 100, 100, 100);
        Other.show();
        QApplication::processEvents();
    }

    void TearDown() override { QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    TWindowPicker* Start(bool WithCallback = true)
    {
        TWindowPicker* picker = TWindowPicker::Create(
            WithCallback ? TWindowPickEvent([this](const TWindowPick& Pick) { Picks.push_back(Pick); })
                         : TWindowPickEvent(),
            Screen(), GreyShot());
        Picker = picker;
        return picker;
    }

    void Send(QEvent::Type Type, const QPoint& Global, Qt::MouseButton Button = Qt::NoButton)
    {
        QMouseEvent event(Type, QPointF(Global - Picker->geometry().topLeft()), QPointF(Global), Button,
                          Type == QEvent::MouseMove ? Qt::NoButton : Qt::MouseButtons(Button), Qt::NoModifier);
        QApplication::sendEvent(Picker, &event);
    }

    void Move(const QPoint& Global) { Send(QEvent::MouseMove, Global); }

    bool Freed()
    {
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return Picker.isNull();
    }

    QWidget Main;
    QWidget Other;
    QPointer<TWindowPicker> Picker;
    std::vector<TWindowPick> Picks;
};

TEST_F(WindowPickerTest, CoversTheScreen)
{
    Start();
    EXPECT_TRUE(Picker->isVisible());
    EXPECT_EQ(Picker->geometry(), Screen().geometry());
    EXPECT_TRUE(Picker->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(Picker->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(Picker, &escape);
}

TEST_F(WindowPickerTest, OutlinesTheWindowUnderTheCursorOrTheScreen)
{
    Start();
    Move({150, 150});
    EXPECT_EQ(Picker->HotWindow(), Main.windowHandle());
    EXPECT_EQ(Picker->HotRegion(), QRegion(Main.frameGeometry()));
    Move({520, 120});
    EXPECT_EQ(Picker->HotWindow(), Other.windowHandle());
    Move({50, 400});
    EXPECT_EQ(Picker->HotWindow(), nullptr);
    EXPECT_EQ(Picker->HotRegion(), QRegion(Screen().geometry()));
    Send(QEvent::MouseButtonRelease, {50, 400}, Qt::RightButton);
}

TEST_F(WindowPickerTest, LeftReleasePicksAndFreesThePicker)
{
    Start();
    Move({150, 150});
    Send(QEvent::MouseButtonRelease, {160, 170}, Qt::LeftButton);
    ASSERT_EQ(Picks.size(), 1u);
    EXPECT_EQ(Picks[0].Window, Main.windowHandle());
    EXPECT_EQ(Picks[0].Bounds, Main.frameGeometry());
    EXPECT_EQ(Picks[0].X, 160);
    EXPECT_EQ(Picks[0].Y, 170);
    EXPECT_EQ(Picks[0].Picture.size(), Main.frameGeometry().size());
    EXPECT_EQ(Picks[0].Picture.pixel(0, 0), Grey);
    EXPECT_FALSE(Picker->isVisible());
    // Nothing after the pick reaches the caller a second time.
    Send(QEvent::MouseButtonRelease, {160, 170}, Qt::LeftButton);
    EXPECT_EQ(Picks.size(), 1u);
    EXPECT_TRUE(Freed());
}

TEST_F(WindowPickerTest, ReleaseWithoutAMovePicksWhatIsUnderTheCursor)
{
    Start();
    Send(QEvent::MouseButtonRelease, {550, 150}, Qt::LeftButton);
    ASSERT_EQ(Picks.size(), 1u);
    EXPECT_EQ(Picks[0].Window, Other.windowHandle());
    EXPECT_EQ(Picks[0].Bounds, Other.frameGeometry());
}

TEST_F(WindowPickerTest, PickingTheScreen)
{
    Start();
    Send(QEvent::MouseButtonRelease, {50, 400}, Qt::LeftButton);
    ASSERT_EQ(Picks.size(), 1u);
    EXPECT_EQ(Picks[0].Window, nullptr);
    EXPECT_EQ(Picks[0].Bounds, Screen().geometry());
    EXPECT_EQ(Picks[0].Picture.size(), Screen().geometry().size());
}

TEST_F(WindowPickerTest, RightReleaseEscapeAndClosingCancel)
{
    for (int way = 0; way < 3; ++way) {
        Picks.clear();
        Start();
        Move({150, 150});
        if (way == 0) {
            Send(QEvent::MouseButtonRelease, {150, 150}, Qt::RightButton);
        } else if (way == 1) {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(Picker, &escape);
        } else {
            Picker->close();
        }
        ASSERT_EQ(Picks.size(), 1u) << way;
        EXPECT_EQ(Picks[0].Window, nullptr) << way;
        EXPECT_TRUE(Picks[0].Bounds.isEmpty()) << way;
        EXPECT_EQ(Picks[0].X, 0) << way;
        EXPECT_EQ(Picks[0].Y, 0) << way;
        EXPECT_TRUE(Picks[0].Picture.isNull()) << way;
        EXPECT_TRUE(Freed()) << way;
    }
}

TEST_F(WindowPickerTest, OtherButtonsAndKeysDoNothing)
{
    Start();
    Send(QEvent::MouseButtonRelease, {150, 150}, Qt::MiddleButton);
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(Picker, &key);
    EXPECT_TRUE(Picks.empty());
    EXPECT_FALSE(Freed());
    Send(QEvent::MouseButtonRelease, {150, 150}, Qt::RightButton);
}

TEST_F(WindowPickerTest, FreesItselfWithoutACallback)
{
    Start(false);
    Send(QEvent::MouseButtonRelease, {150, 150}, Qt::LeftButton);
    EXPECT_TRUE(Freed());
}

TEST_F(WindowPickerTest, SkipsHiddenMinimisedAndMaskedWindows)
{
    Other.hide();
    Main.setMask(QRegion(0, 0, 50, 50));
    Start();
    Move({550, 150});
    EXPECT_EQ(Picker->HotWindow(), nullptr);
    Move({120, 120});
    EXPECT_EQ(Picker->HotWindow(), Main.windowHandle());
    EXPECT_EQ(Picker->HotRegion(), QRegion(Main.geometry().x(), Main.geometry().y(), 50, 50));
    Move({200, 200});
    EXPECT_EQ(Picker->HotWindow(), nullptr);
    Main.clearMask();
    Main.showMinimized();
    QApplication::processEvents();
    Move({201, 200});
    Move({120, 120});
    EXPECT_EQ(Picker->HotWindow(), nullptr);
    Send(QEvent::MouseButtonRelease, {150, 150}, Qt::RightButton);
}

TEST_F(WindowPickerTest, ADialogOverItsOwnerWins)
{
    QDialog dialog(&Main);
    dialog.setGeometry(150, 150, 100, 80);
    dialog.show();
    QApplication::processEvents();
    Start();
    Move({160, 160});
    EXPECT_EQ(Picker->HotWindow(), dialog.windowHandle());
    Move({110, 110});
    EXPECT_EQ(Picker->HotWindow(), Main.windowHandle());
    Send(QEvent::MouseButtonRelease, {150, 150}, Qt::RightButton);
}

TEST_F(WindowPickerTest, PaintsAHatchedInvertedFrameOverThePicture)
{
    Start();
    Move({150, 150});
    const QImage shown = Picker->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect frame = Main.frameGeometry().translated(-Screen().geometry().topLeft());
    const QRgb inverted = 0xFF7F7F7F;
    const QRgb hatch = (Grey ^ Picker->palette().color(QPalette::WindowText).rgb()) | 0xFF000000;
    int invertedPixels = 0;
    int hatchPixels = 0;
    for (int y = frame.top() - 2; y <= frame.bottom() + 2; ++y) {
        for (int x = frame.left() - 2; x <= frame.right() + 2; ++x) {
            const QRgb pixel = shown.pixel(x, y);
            const bool inBand = frame.contains(x, y) && !frame.adjusted(3, 3, -3, -3).contains(x, y);
            if (!inBand) {
                ASSERT_EQ(pixel, Grey) << x << ", " << y;
                continue;
            }
            ASSERT_TRUE(pixel == inverted || pixel == hatch) << x << ", " << y << ": " << std::hex << pixel;
            (pixel == inverted ? invertedPixels : hatchPixels)++;
        }
    }
    EXPECT_GT(invertedPixels, hatchPixels);
    EXPECT_GT(hatchPixels, 0);
    Send(QEvent::MouseButtonRelease, {150, 150}, Qt::RightButton);
}

} // namespace
