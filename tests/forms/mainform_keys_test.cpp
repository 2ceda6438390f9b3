// The keys of the main window as the system delivers them: to the focused
// widget, through the shortcut map, after every way of opening and closing a
// menu and with a spin box holding the focus.
#include "mainform_fixture.h"

#include "io/mrulist.h"
#include "io/settings.h"
#include "view/brushtool.h"
#include "view/tools.h"

#include <QClipboard>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QSpinBox>

#include <map>
#include <vector>

namespace {

// A click at Point of Widget, through the window as the system delivers it:
// an open menu sees a click outside it and closes, a control clicked takes
// the focus.
void Click(TMainForm& Form, const QWidget& Widget, const QPoint& Point)
{
    QTest::mouseClick(Form.windowHandle(), Qt::LeftButton, Qt::NoModifier, Widget.mapTo(&Form, Point));
}

void ClickMenuBar(TMainForm& Form, QMenu& Menu)
{
    const QMenuBar* bar = Form.menuBar();
    Click(Form, *bar, bar->actionGeometry(Menu.menuAction()).center());
}

void ClickSpinBox(TMainForm& Form, QSpinBox& Spin)
{
    Click(Form, Spin, QPoint(5, Spin.height() / 2));
    ASSERT_EQ(QApplication::focusWidget(), &Spin);
}

void ClickPicture(TMainForm& Form) { Click(Form, *Form.centralWidget(), Form.centralWidget()->rect().center()); }

struct TMenuKey {
    const char* Name;
    QKeyCombination Keys;
    QAction* TMainForm::*Item;
    // A box holding the focus takes the key for itself: it types, steps or
    // pastes there.
    bool BoxKey;
};

// Every key of the shortcut table that belongs to a menu item.
const TMenuKey MenuKeys[] = {
    {"Ctrl+O", Qt::CTRL | Qt::Key_O, &TMainForm::OpenMenuItem, false},
    {"Ctrl+U", Qt::CTRL | Qt::Key_U, &TMainForm::OpenUrlMenuItem, false},
    {"Ctrl+S", Qt::CTRL | Qt::Key_S, &TMainForm::SaveMenuItem, false},
    {"Ctrl+V", Qt::CTRL | Qt::Key_V, &TMainForm::FromClipboardMenuItem, true},
    {"F5", QKeyCombination(Qt::Key_F5), &TMainForm::RefreshMenuItem, false},
    {"Ctrl+R", Qt::CTRL | Qt::Key_R, &TMainForm::ResizeMenuItem, false},
    {"Left", QKeyCombination(Qt::Key_Left), &TMainForm::DecWidthMenuItem, true},
    {"Down", QKeyCombination(Qt::Key_Down), &TMainForm::DecHeightMenuItem, true},
    {"Right", QKeyCombination(Qt::Key_Right), &TMainForm::IncWidthMenuItem, true},
    {"Up", QKeyCombination(Qt::Key_Up), &TMainForm::IncHeightMenuItem, true},
    {"F2", QKeyCombination(Qt::Key_F2), &TMainForm::PreserveBrushMenuItem, false},
    {"F4", QKeyCombination(Qt::Key_F4), &TMainForm::BrushEraserMenuItem, false},
    {"[", QKeyCombination(Qt::Key_BracketLeft), &TMainForm::DecreaseToolSizeMenuItem, true},
    {"]", QKeyCombination(Qt::Key_BracketRight), &TMainForm::IncreaseToolSizeMenuItem, true},
    {"Ctrl+B", Qt::CTRL | Qt::Key_B, &TMainForm::HideStrokesMenuItem, false},
};

class MainFormKeysTest : public MainFormTest {
protected:
    void SetUp() override
    {
        MainFormTest::SetUp();
        // Seven recent documents for Ctrl+1 to Ctrl+7, a picture wide and
        // high enough for every resize, a bitmap for Ctrl+V.
        for (int i = 7; i >= 1; --i)
            Open(WritePicture(QString("recent%1.png").arg(i), 20 + i, 20));
        QApplication::clipboard()->setImage(TestPicture(5, 5));
        // Only the routing is under test: each item counts its triggers
        // instead of running its command (no dialog opens, nothing changes).
        for (const TMenuKey& key : MenuKeys) {
            QAction* item = Form().*key.Item;
            QObject::disconnect(item, &QAction::triggered, &Form(), nullptr);
            Spies.emplace(key.Name, std::make_unique<QSignalSpy>(item, &QAction::triggered));
        }
    }

    void TearDown() override
    {
        // Nothing may stay open for the next test.
        while (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
        Spies.clear();
        MainFormTest::TearDown();
    }

    // Where the system delivers a key: the focused widget, else the active window.
    static QWidget* KeyTarget()
    {
        if (QWidget* popup = QApplication::activePopupWidget())
            return popup;
        if (QWidget* focus = QApplication::focusWidget())
            return focus;
        return QApplication::activeWindow();
    }

    static void Press(QKeyCombination Keys)
    {
        QWidget* target = KeyTarget();
        ASSERT_NE(target, nullptr);
        QTest::keyClick(target, Keys.key(), Keys.keyboardModifiers());
    }

    std::map<std::string, std::unique_ptr<QSignalSpy>> Spies;
};

using TStep = std::function<void(TMainForm&)>;

// What a way leaves holding the focus.
enum class TFocus { Window, Box };

TEST_F(MainFormKeysTest, EveryKeyReachesItsCommandAfterEveryWayOfOpeningAndClosingAMenu)
{
    const TStep altF = [](TMainForm&) { Press(Qt::ALT | Qt::Key_F); };
    const TStep escape = [](TMainForm&) { Press(QKeyCombination(Qt::Key_Escape)); };
    const TStep clickFile = [](TMainForm& F) { ClickMenuBar(F, *F.FileMenu); };
    const TStep clickReuse = [](TMainForm& F) { ClickSpinBox(F, *F.SeamReuseSpinEdit); };
    struct TWay {
        const char* Name;
        std::vector<TStep> Steps;
        TFocus Focus;
    };
    const std::vector<TWay> ways = {
        {"no menu", {}, TFocus::Window},
        {"Alt+F, Esc", {altF, escape}, TFocus::Window},
        {"Alt+F, Esc, Esc", {altF, escape, escape}, TFocus::Window},
        {"Alt+R, Right, Esc",
         {[](TMainForm&) { Press(Qt::ALT | Qt::Key_R); }, [](TMainForm&) { Press(QKeyCombination(Qt::Key_Right)); },
          escape},
         TFocus::Window},
        {"Alt alone", {[](TMainForm&) { Press(QKeyCombination(Qt::Key_Alt)); }}, TFocus::Window},
        {"click File, Esc", {clickFile, escape}, TFocus::Window},
        {"click File, click File", {clickFile, clickFile}, TFocus::Window},
        {"click Tool, click the picture", {[](TMainForm& F) { ClickMenuBar(F, *F.ToolMenu); }, ClickPicture},
         TFocus::Window},
        {"Size: clicked", {[](TMainForm& F) { ClickSpinBox(F, *F.BrushSizeSpinEdit); }}, TFocus::Box},
        {"Reuse: clicked", {clickReuse}, TFocus::Box},
        {"Reuse: clicked, click the picture", {clickReuse, ClickPicture}, TFocus::Window},
    };
    for (const auto& [way, steps, focus] : ways) {
        SCOPED_TRACE(way);
        for (const TMenuKey& key : MenuKeys) {
            SCOPED_TRACE(key.Name);
            for (const TStep& step : steps)
                step(Form());
            ASSERT_EQ(QApplication::activePopupWidget(), nullptr);
            const int before = int(Spies[key.Name]->count());
            Press(key.Keys);
            EXPECT_EQ(Spies[key.Name]->count(), focus == TFocus::Box && key.BoxKey ? before : before + 1);
        }
        for (int index = 0; index < 7; ++index) {
            SCOPED_TRACE(index + 1);
            for (const TStep& step : steps)
                step(Form());
            const QString expected = Settings::DataFiles().MruList().GetItem(index).Source().Location;
            Press(Qt::CTRL | Qt::Key(Qt::Key_1 + index));
            ASSERT_NE(Form().GetDocument(), nullptr);
            EXPECT_EQ(Form().GetDocument()->Source().Location, expected);
        }
    }
}

int32_t ToolSize(const TMainForm& Form)
{
    return dynamic_cast<const View::TCorvBrushTool&>(*Form.GetTools().ActiveTool()).Size();
}

// A key typed into a toolbar box changes that box and nothing else; once the
// picture is clicked, the arrows carve again.
TEST_F(MainFormTest, KeysTypedIntoAToolbarBoxActOnTheBoxOnly)
{
    Open(WritePicture("boxes.png", 30, 20));
    struct TCase {
        const char* Name;
        QSpinBox* TMainForm::*Box;
        int Start;
        std::vector<Qt::Key> Keys;
        int Expected;
    };
    const TCase cases[] = {
        {"Reuse: Up three times", &TMainForm::SeamReuseSpinEdit, 30, {Qt::Key_Up, Qt::Key_Up, Qt::Key_Up}, 33},
        {"Reuse: Down, Left, Right", &TMainForm::SeamReuseSpinEdit, 30, {Qt::Key_Down, Qt::Key_Left, Qt::Key_Right},
         29},
        {"Size: ], Down", &TMainForm::BrushSizeSpinEdit, 50, {Qt::Key_BracketRight, Qt::Key_Down}, 25},
        {"Size: [, Up", &TMainForm::BrushSizeSpinEdit, 50, {Qt::Key_BracketLeft, Qt::Key_Up}, 75},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        QSpinBox& box = *(Form().*c.Box);
        box.setValue(c.Start);
        ClickSpinBox(Form(), box);
        for (const Qt::Key key : c.Keys)
            QTest::keyClick(QApplication::focusWidget(), key);
        EXPECT_EQ(box.value(), c.Expected);
        EXPECT_EQ(SizeText(), "30 x 20");
        EXPECT_EQ(ToolSize(Form()), Form().BrushSizeSpinEdit->value());
    }
    const int reuse = Form().SeamReuseSpinEdit->value();
    const int size = Form().BrushSizeSpinEdit->value();
    ClickPicture(Form());
    QWidget* target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : &Form();
    QTest::keyClick(target, Qt::Key_Up);
    QTest::keyClick(target, Qt::Key_Left);
    QTest::keyClick(target, Qt::Key_BracketRight);
    EXPECT_EQ(SizeText(), "29 x 21");
    EXPECT_EQ(Form().SeamReuseSpinEdit->value(), reuse);
    EXPECT_EQ(Form().BrushSizeSpinEdit->value(), size + 25);
}

} // namespace
