// The window picker on a real X server, against the windows of a second X
// client: the pointer is moved by the server (warped) and the buttons are
// pressed through it (xdotool), as a user's mouse would.
#include "forms/windowpicker.h"
#include "platform/x11windows.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QPointer>
#include <QProcess>
#include <QTest>
#include <QWidget>

#include <memory>
#include <optional>

namespace {

using namespace Corvanith;
using Forms::TWindowPick;
using Forms::TX11WindowPicker;
using Platform::X11::TWindowId;

constexpr QRgb Green = 0xFF00FF00;
constexpr QRgb Magenta = 0xFFFF00FF;

// The second X client: a green window with a magenta child, or an L-shaped one.
class TTestWindow {
public:
    explicit TTestWindow(const QStringList& Arguments)
    {
        FProcess.start(QStringLiteral(CORVANITH_TESTWINDOW), Arguments);
        while (FProcess.waitForReadyRead(5000)) {
            while (FProcess.canReadLine()) {
                const QList<QByteArray> words = FProcess.readLine().trimmed().split(' ');
                if (words.size() == 2 && words[0] == "window")
                    Window = words[1].toUInt();
                else if (words.size() == 2 && words[0] == "child")
                    Child = words[1].toUInt();
            }
            if (Window != 0 && (Child != 0 || !Arguments.contains("child")))
                break;
        }
    }
    ~TTestWindow()
    {
        FProcess.kill();
        FProcess.waitForFinished();
    }

    TWindowId Window = 0;
    TWindowId Child = 0;

private:
    QProcess FProcess;
};

class X11WindowPickerTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Platform::X11::Available()); }
    void TearDown() override
    {
        // A picker left running is cancelled before its caller goes.
        if (Picker)
            Click(3);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                return Picker.isNull();
            },
            3000));
    }

    void Start() { Started(TX11WindowPicker::Create([this](const TWindowPick& P) { Pick = P; })); }

    // Mapped, painted and holding the mouse before the first move.
    void Started(TX11WindowPicker* Started)
    {
        Picker = Started;
        ASSERT_NE(Started, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Started));
        QTest::qWait(50);
    }

    // The pointer warped to Point; true once the picker frames Expected.
    bool MoveTo(const QPoint& Point, TWindowId Expected)
    {
        QCursor::setPos(Point);
        return QTest::qWaitFor([&] { return Picker && Picker->HotWindow() == Expected; }, 5000);
    }

    static void Click(int Button)
    {
        QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("click"), QString::number(Button)});
    }

    bool WaitForPick()
    {
        return QTest::qWaitFor([&] { return Pick.has_value(); }, 5000);
    }

    QPointer<TX11WindowPicker> Picker;
    std::optional<TWindowPick> Pick;
};

TEST_F(X11WindowPickerTest, FramesTheWindowOfAnotherProgramDownToTheInnermostChild)
{
    const TTestWindow other({"700", "100", "240", "160", "00ff00", "child", "40", "50", "80", "60", "ff00ff"});
    ASSERT_NE(other.Window, 0u);
    ASSERT_NE(other.Child, 0u);
    Start();

    ASSERT_TRUE(MoveTo({900, 230}, other.Window));
    EXPECT_EQ(Picker->HotRegion(), QRegion(700, 100, 240, 160));
    // The frame band lies along the window's edge, on the window.
    EXPECT_EQ(Picker->geometry(), QRect(700, 100, 240, 160));
    EXPECT_EQ(Picker->mask(), Forms::FrameBand(QRegion(0, 0, 240, 160)));
    EXPECT_TRUE(Picker->isVisible());

    ASSERT_TRUE(MoveTo({760, 170}, other.Child));
    EXPECT_EQ(Picker->HotRegion(), QRegion(740, 150, 80, 60));

    // On the band itself: the picker's own window never counts.
    ASSERT_TRUE(MoveTo({900, 230}, other.Window));
    QCursor::setPos(701, 230);
    QTest::qWait(200);
    ASSERT_EQ(Platform::X11::WindowAtPointer(), TWindowId(Picker->winId()));
    EXPECT_EQ(Picker->HotWindow(), other.Window);

    // Over no window of any program: the root, the whole screen.
    ASSERT_TRUE(MoveTo({50, 900}, Platform::X11::RootWindow()));
    EXPECT_EQ(Picker->HotRegion(), QRegion(0, 0, 1280, 1024));

    ASSERT_TRUE(MoveTo({760, 170}, other.Child));
    Click(3);
    ASSERT_TRUE(WaitForPick());
    EXPECT_EQ(Pick->NativeWindow, 0u);
    EXPECT_EQ(Pick->X, 0);
    EXPECT_EQ(Pick->Y, 0);
    EXPECT_TRUE(Pick->Picture.isNull());
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Picker.isNull());
}

TEST_F(X11WindowPickerTest, LeftReleasePicksTheWindowWithItsPictureAsItShows)
{
    const TTestWindow other({"700", "100", "240", "160", "00ff00", "child", "40", "50", "80", "60", "ff00ff"});
    struct TCase {
        QPoint At;
        bool Child;
        QRect Bounds;
    };
    const TCase cases[] = {{{760, 170}, true, {740, 150, 80, 60}}, {{900, 230}, false, {700, 100, 240, 160}}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Child);
        Pick.reset();
        Start();
        const TWindowId expected = c.Child ? other.Child : other.Window;
        ASSERT_TRUE(MoveTo(c.At, expected));
        Click(1);
        ASSERT_TRUE(WaitForPick());
        EXPECT_EQ(Pick->NativeWindow, expected);
        EXPECT_EQ(Pick->Bounds, c.Bounds);
        EXPECT_EQ(Pick->X, c.At.x());
        EXPECT_EQ(Pick->Y, c.At.y());
        ASSERT_EQ(Pick->Picture.size(), c.Bounds.size());
        // No trace of the frame band: the picture is the window's own.
        const QImage picture = Pick->Picture.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                const bool inChild = !c.Child && QRect(40, 50, 80, 60).contains(x, y);
                ASSERT_EQ(picture.pixel(x, y), c.Child || inChild ? Magenta : Green) << x << "," << y;
            }
        }
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(Picker.isNull());
    }
}

TEST_F(X11WindowPickerTest, AShapedWindowIsFramedAlongItsShape)
{
    const TTestWindow other({"300", "200", "200", "100", "00ff00", "shape"});
    const QRegion shape = QRegion(300, 200, 200, 50) | QRegion(300, 250, 100, 50);
    EXPECT_EQ(Platform::X11::WindowRegion(other.Window), shape);
    Start();
    ASSERT_TRUE(MoveTo({320, 280}, other.Window));
    EXPECT_EQ(Picker->HotRegion(), shape);
    EXPECT_EQ(Picker->mask(), Forms::FrameBand(shape).translated(-300, -200));
    // The cut-away corner shows what lies beneath: the root.
    ASSERT_TRUE(MoveTo({450, 280}, Platform::X11::RootWindow()));
}

TEST_F(X11WindowPickerTest, AWindowPartlyOffTheScreenIsTakenAsFarAsItShows)
{
    const TTestWindow other({"1200", "900", "200", "300", "00ff00"});
    Start();
    ASSERT_TRUE(MoveTo({1250, 950}, other.Window));
    EXPECT_EQ(Picker->HotRegion(), QRegion(1200, 900, 80, 124));
    Click(1);
    ASSERT_TRUE(WaitForPick());
    EXPECT_EQ(Pick->Bounds, QRect(1200, 900, 80, 124));
    EXPECT_EQ(Pick->Picture.size(), QSize(80, 124));
}

TEST_F(X11WindowPickerTest, TheProgramsOwnWindowIsAWindowLikeAnyOther)
{
    // Without a window manager a minimised window stays on the screen.
    QWidget own;
    own.setGeometry(100, 600, 200, 100);
    own.show();
    own.showMinimized();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&own));
    Start();
    ASSERT_TRUE(MoveTo({150, 650}, TWindowId(own.winId())));
    Click(1);
    ASSERT_TRUE(WaitForPick());
    EXPECT_EQ(Pick->NativeWindow, TWindowId(own.winId()));
    EXPECT_EQ(Pick->Bounds, own.frameGeometry());
}

TEST_F(X11WindowPickerTest, PickWindowStartsTheX11Picker)
{
    Forms::PickWindow([this](const TWindowPick& P) { Pick = P; });
    TX11WindowPicker* started = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* picker = qobject_cast<TX11WindowPicker*>(widget))
            started = picker;
    }
    Started(started);
    Click(3);
    ASSERT_TRUE(WaitForPick());
    EXPECT_EQ(Pick->NativeWindow, 0u);
}

} // namespace
