// The keys of the main window as the system delivers them: to the focused
// widget, through the shortcut map, after every way of opening and closing a
// menu and with a spin box holding the focus.
#include "mainform_fixture.h"

#include "io/mrulist.h"
#include "io/settings.h"

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

struct TMenuKey {
    const char* Name;
    QKeyCombination Keys;
    QAction* TMainForm::*Item;
};

// Every key of the shortcut table that belongs to a menu item.
const TMenuKey MenuKeys[] = {
    {"Ctrl+O", Qt::CTRL | Qt::Key_O, &TMainForm::OpenMenuItem},
    {"Ctrl+U", Qt::CTRL | Qt::Key_U, &TMainForm::OpenUrlMenuItem},
    {"Ctrl+S", Qt::CTRL | Qt::Key_S, &TMainForm::SaveMenuItem},
    {"Ctrl+V", Qt::CTRL | Qt::Key_V, &TMainForm::FromClipboardMenuItem},
    {"F5", QKeyCombination(Qt::Key_F5), &TMainForm::RefreshMenuItem},
    {"Ctrl+R", Qt::CTRL | Qt::Key_R, &TMainForm::ResizeMenuItem},
    {"Left", QKeyCombination(Qt::Key_Left), &TMainForm::DecWidthMenuItem},
    {"Down", QKeyCombination(Qt::Key_Down), &TMainForm::DecHeightMenuItem},
    {"Right", QKeyCombination(Qt::Key_Right), &TMainForm::IncWidthMenuItem},
    {"Up", QKeyCombination(Qt::Key_Up), &TMainForm::IncHeightMenuItem},
    {"F2", QKeyCombination(Qt::Key_F2), &TMainForm::PreserveBrushMenuItem},
    {"F4", QKeyCombination(Qt::Key_F4), &TMainForm::BrushEraserMenuItem},
    {"[", QKeyCombination(Qt::Key_BracketLeft), &TMainForm::DecreaseToolSizeMenuItem},
    {"]", QKeyCombination(Qt::Key_BracketRight), &TMainForm::IncreaseToolSizeMenuItem},
    {"Ctrl+B", Qt::CTRL | Qt::Key_B, &TMainForm::HideStrokesMenuItem},
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

TEST_F(MainFormKeysTest, EveryKeyReachesItsCommandAfterEveryWayOfOpeningAndClosingAMenu)
{
    const TStep altF = [](TMainForm&) { Press(Qt::ALT | Qt::Key_F); };
    const TStep escape = [](TMainForm&) { Press(QKeyCombination(Qt::Key_Escape)); };
    const TStep clickFile = [](TMainForm& F) { ClickMenuBar(F, *F.FileMenu); };
    const std::vector<std::pair<const char*, std::vector<TStep>>> ways = {
        {"no menu", {}},
        {"Alt+F, Esc", {altF, escape}},
        {"Alt+F, Esc, Esc", {altF, escape, escape}},
        {"Alt+R, Right, Esc",
         {[](TMainForm&) { Press(Qt::ALT | Qt::Key_R); }, [](TMainForm&) { Press(QKeyCombination(Qt::Key_Right)); },
          escape}},
        {"Alt alone", {[](TMainForm&) { Press(QKeyCombination(Qt::Key_Alt)); }}},
        {"click File, Esc", {clickFile, escape}},
        {"click File, click File", {clickFile, clickFile}},
        {"click Tool, click the picture",
         {[](TMainForm& F) { ClickMenuBar(F, *F.ToolMenu); },
          [](TMainForm& F) { Click(F, *F.centralWidget(), F.centralWidget()->rect().center()); }}},
        {"Size: clicked", {[](TMainForm& F) { ClickSpinBox(F, *F.BrushSizeSpinEdit); }}},
        {"Reuse: clicked", {[](TMainForm& F) { ClickSpinBox(F, *F.SeamReuseSpinEdit); }}},
    };
    for (const auto& [way, steps] : ways) {
        SCOPED_TRACE(way);
        for (const TMenuKey& key : MenuKeys) {
            SCOPED_TRACE(key.Name);
            for (const TStep& step : steps)
                step(Form());
            ASSERT_EQ(QApplication::activePopupWidget(), nullptr);
            const int before = int(Spies[key.Name]->count());
            Press(key.Keys);
            EXPECT_EQ(Spies[key.Name]->count(), before + 1);
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

} // namespace
