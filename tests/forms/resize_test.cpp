#include "forms/forms.h"
#include "forms/resize.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPushButton>

#include <climits>
#include <optional>
#include <ostream>

void PrintTo(const QString& Text, std::ostream* Stream)
{
    *Stream << '"' << Text.toStdString() << '"';
}

namespace {

using namespace Corvanith::Forms;
using Corvanith::Controls::TNumericEdit;

void SendKey(QWidget& Widget, int Key, Qt::KeyboardModifiers Modifiers = Qt::NoModifier, const QString& Text = {})
{
    QKeyEvent press(QEvent::KeyPress, Key, Modifiers, Text);
    QApplication::sendEvent(&Widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Key, Modifiers, Text);
    QApplication::sendEvent(&Widget, &release);
}

// Replaces the edit's text key by key, as a user would.
void Type(QLineEdit& Edit, const QString& Text)
{
    Edit.selectAll();
    SendKey(Edit, Qt::Key_Delete);
    for (const QChar c : Text)
        SendKey(Edit, 0, Qt::NoModifier, QString(c));
}

TEST(GreatestCommonDivisorTest, Table)
{
    struct Case {
        int32_t A, B;
        int64_t Expected;
    };
    const Case cases[] = {
        {500, 300, 100}, {0, 7, 7},   {7, 0, 7},   {0, 0, 0}, {-4, 6, 2}, {4, -6, 2}, {17, 5, 1},
        {INT32_MIN, INT32_MIN, int64_t(1) << 31}, {INT32_MIN, 6, 2},
        // Two billion subtractions each: these must come back at once.
        {1, INT32_MAX, 1}, {INT32_MAX, INT32_MAX - 1, 1}, {INT32_MAX, 2, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GreatestCommonDivisor(c.A, c.B), c.Expected) << c.A << ", " << c.B;
}

TEST(ParseSizeValueTest, Table)
{
    struct Case {
        const char* Text;
        int32_t Current;
        std::optional<int32_t> Expected;
    };
    const Case cases[] = {
        {"640", 500, 640},  {"+10", 500, 510},  {"-10", 500, 490},  {"50%", 500, 250},   {"+10%", 500, 550},
        {"-12%", 500, 440}, {"2", 500, 2},      {" 12", 500, 12},   {" +5", 500, 505},   {"$10", 500, 16},
        {"5%", 50, 2},      {"15%", 50, 8},     {"-5%", 50, 48},    {"0", 500, 0},       {"-600", 500, -100},
        {"10%", INT32_MAX, 214748365},
        {"12 ", 500, {}},   {"12.5", 500, {}},  {"abc", 500, {}},   {"", 500, {}},       {"+", 500, {}},
        {"%", 500, {}},     {"+%", 500, {}},    {"5+", 500, {}},    {"1%0", 500, {}},    {"10 %", 500, {}},
        // Results outside 32 bits are refused instead of wrapping round.
        {"+2147483647", 500, {}}, {"-2147483647", -500, {}}, {"2147483647%", 500, {}}, {"+100%", INT32_MAX, {}},
    };
    for (const Case& c : cases) {
        int32_t value = -7;
        EXPECT_EQ(ParseSizeValue(QString::fromUtf8(c.Text), c.Current, value), c.Expected.has_value())
            << '"' << c.Text << "\" of " << c.Current;
        EXPECT_EQ(value, c.Expected.value_or(-7)) << '"' << c.Text << "\" of " << c.Current;
    }
}

TEST(ProportionTextTest, Table)
{
    const std::tuple<int32_t, int32_t, const char*> cases[] = {
        {500, 300, "5 : 3 = 1.67"},
        {300, 500, "3 : 5 = 0.60"},
        {640, 480, "4 : 3 = 1.33"},
        {201, 200, "201 : 200 = 1.01"},   // 1.005 in decimal, a little below in binary
        {1, 200, "1 : 200 = 0.01"},
        {1, 1000, "1 : 1000 = 0.00"},
        {-10, 4, "-5 : 2 = -2.50"},
        {0, 5, "0 : 1 = 0.00"},
        {INT32_MAX, 1, "2147483647 : 1 = 2147484000.00"},   // seven significant digits
        {5, 0, "? : ? = ?"},
        {0, 0, "? : ? = ?"},
    };
    for (const auto& [width, height, expected] : cases)
        EXPECT_EQ(ProportionText(width, height), QString::fromUtf8(expected)) << width << " x " << height;
}

TEST(ProportionTextTest, UsesTheLocaleDecimalSeparator)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(ProportionText(500, 300), QStringLiteral("5 : 3 = 1,67"));
    QLocale::setDefault(saved);
}

TEST(CheckResizeEntriesTest, AcceptsValidEntries)
{
    const TResizeCheck check = CheckResizeEntries("+10%", "-12", "33", "100", 500, 300);
    EXPECT_FALSE(check.BadEntry.has_value());
    EXPECT_EQ(check.NewWidth, 550);
    EXPECT_EQ(check.NewHeight, 288);
    EXPECT_DOUBLE_EQ(check.HorzReuse, 0.33);
    EXPECT_DOUBLE_EQ(check.VertReuse, 1.0);

    const TResizeCheck smallest = CheckResizeEntries("3", "3", "1", "1", 500, 300);
    EXPECT_FALSE(smallest.BadEntry.has_value());
    EXPECT_DOUBLE_EQ(smallest.HorzReuse, 0.01);
}

TEST(CheckResizeEntriesTest, ReportsTheFirstBadEntry)
{
    struct Case {
        const char* Width;
        const char* Height;
        const char* HorzReuse;
        const char* VertReuse;
        TResizeEntry Entry;
        const char* Message;
    };
    const Case cases[] = {
        {"2", "300", "33", "33", TResizeEntry::Width, WidthTooSmallMessage},
        {"-100%", "x", "0", "0", TResizeEntry::Width, WidthTooSmallMessage},
        {"abc", "x", "0", "0", TResizeEntry::Width, NotAnIntegerMessage},
        {"12.5", "300", "33", "33", TResizeEntry::Width, NotAnIntegerMessage},
        {"12 ", "300", "33", "33", TResizeEntry::Width, NotAnIntegerMessage},
        {"", "300", "33", "33", TResizeEntry::Width, NotAnIntegerMessage},
        {"500", "-298", "33", "33", TResizeEntry::Height, HeightTooSmallMessage},
        {"500", "", "0", "33", TResizeEntry::Height, NotAnIntegerMessage},
        {"500", "300", "0", "33", TResizeEntry::HorzReuse, ReuseRangeMessage},
        {"500", "300", "101", "33", TResizeEntry::HorzReuse, ReuseRangeMessage},
        {"500", "300", "33%", "0", TResizeEntry::HorzReuse, NotAnIntegerMessage},
        {"500", "300", "33", "101", TResizeEntry::VertReuse, ReuseRangeMessage},
        {"500", "300", "33", "", TResizeEntry::VertReuse, NotAnIntegerMessage},
        // Sides longer than a saved picture may have to open again.
        {"65536", "300", "33", "33", TResizeEntry::Width, "Image should be at most 65535 pixels in width."},
        {"66000", "x", "0", "0", TResizeEntry::Width, "Image should be at most 65535 pixels in width."},
        {"999999", "3", "33", "33", TResizeEntry::Width, "Image should be at most 65535 pixels in width."},
        {"2147483647", "3", "33", "33", TResizeEntry::Width, "Image should be at most 65535 pixels in width."},
        {"+65036", "300", "33", "33", TResizeEntry::Width, "Image should be at most 65535 pixels in width."},
        {"13108%", "300", "33", "33", TResizeEntry::Width, "Image should be at most 65535 pixels in width."},
        {"500", "65536", "0", "0", TResizeEntry::Height, "Image should be at most 65535 pixels in height."},
        {"3", "999999", "33", "33", TResizeEntry::Height, "Image should be at most 65535 pixels in height."},
        // Sizes no picture can have; the changed entry is blamed.
        {"65535", "8193", "33", "33", TResizeEntry::Height, ImageTooLargeMessage},
    };
    for (const Case& c : cases) {
        const TResizeCheck check = CheckResizeEntries(c.Width, c.Height, c.HorzReuse, c.VertReuse, 500, 300);
        ASSERT_TRUE(check.BadEntry.has_value()) << c.Width << " x " << c.Height;
        EXPECT_EQ(*check.BadEntry, c.Entry) << c.Width << " x " << c.Height;
        EXPECT_EQ(check.Message, QString::fromUtf8(c.Message)) << c.Width << " x " << c.Height;
    }
    EXPECT_EQ(CheckResizeEntries("60000", "9000", "33", "33", 500, 9000).BadEntry, TResizeEntry::Width);
    EXPECT_TRUE(QString::fromUtf8(ImageTooLargeMessage).contains(QString::number(MaxImagePixels)));
    // The largest pictures that fit are still accepted.
    EXPECT_FALSE(CheckResizeEntries("65535", "3", "33", "33", 500, 300).BadEntry);
    EXPECT_FALSE(CheckResizeEntries("3", "65535", "33", "33", 500, 300).BadEntry);
    EXPECT_FALSE(CheckResizeEntries("65535", QString::number(MaxImagePixels / 65535), "33", "33", 500, 300).BadEntry);
}

TEST(NumericEditTest, RightAlignedAndTakesAnyText)
{
    TNumericEdit edit;
    EXPECT_TRUE(edit.alignment() & Qt::AlignRight);
    Type(edit, "+1a%");
    EXPECT_EQ(edit.text(), QStringLiteral("+1a%"));
}

class ResizeFormTest : public testing::Test {
protected:
    TResizeForm Form{nullptr, 500, 300};

    QString NewRatio() const { return Form.NewPropotionValueLabel().text(); }
};

TEST_F(ResizeFormTest, StartsWithThePresentSize)
{
    EXPECT_EQ(Form.windowTitle(), QStringLiteral("Numeric Resize"));
    EXPECT_EQ(Form.OriginalWidth(), 500);
    EXPECT_EQ(Form.OriginalHeight(), 300);
    EXPECT_EQ(Form.WidthEdit().text(), QStringLiteral("500"));
    EXPECT_EQ(Form.HeightEdit().text(), QStringLiteral("300"));
    EXPECT_EQ(Form.HorzReuseEdit().text(), QStringLiteral("33"));
    EXPECT_EQ(Form.VertReuseEdit().text(), QStringLiteral("33"));
    EXPECT_EQ(NewRatio(), QStringLiteral("5 : 3 = 1.67"));
    EXPECT_EQ(Form.OriginalProportionValueLabel().text(), QStringLiteral("5 : 3 = 1.67"));
    EXPECT_FALSE(Form.KeepProportionCheck().isChecked());
    EXPECT_EQ(Form.KeepProportionCheck().toolTip(), QStringLiteral("Press F4 to toggle"));
    EXPECT_TRUE(Form.ResizeButton().isDefault());
    EXPECT_EQ(Form.font(), MessageFont());
    EXPECT_EQ(Form.minimumSize(), Form.maximumSize());
    EXPECT_GE(Form.width(), 254);
    EXPECT_GE(Form.height(), 338);
    QStringList groups;
    for (const QGroupBox* group : Form.findChildren<QGroupBox*>())
        groups << group->title();
    EXPECT_EQ(groups, QStringList({" New size ", " Image reuse on grow ", " Proportion "}));
}

TEST_F(ResizeFormTest, NewRatioFollowsTheEntries)
{
    Type(Form.WidthEdit(), "250");
    EXPECT_EQ(NewRatio(), QStringLiteral("5 : 6 = 0.83"));
    EXPECT_EQ(Form.HeightEdit().text(), QStringLiteral("300"));
    Type(Form.HeightEdit(), "");
    EXPECT_EQ(NewRatio(), QStringLiteral("? : ? = ?"));
    Type(Form.HeightEdit(), "-100%");
    EXPECT_EQ(NewRatio(), QStringLiteral("? : ? = ?"));
    Type(Form.HeightEdit(), "50%");
    EXPECT_EQ(NewRatio(), QStringLiteral("5 : 3 = 1.67"));
    // Text set by the program is no change of the user's.
    Form.WidthEdit().setText("100");
    EXPECT_EQ(NewRatio(), QStringLiteral("5 : 3 = 1.67"));
}

TEST_F(ResizeFormTest, KeepsTheOriginalProportion)
{
    Form.KeepProportionCheck().click();
    ASSERT_TRUE(Form.KeepProportionCheck().isChecked());
    Type(Form.WidthEdit(), "250");
    EXPECT_EQ(Form.HeightEdit().text(), QStringLiteral("150"));
    EXPECT_EQ(NewRatio(), QStringLiteral("5 : 3 = 1.67"));
    Type(Form.HeightEdit(), "+10%");
    EXPECT_EQ(Form.WidthEdit().text(), QStringLiteral("550"));
    Type(Form.HeightEdit(), "x");
    EXPECT_EQ(Form.WidthEdit().text(), QStringLiteral("550"));
}

TEST_F(ResizeFormTest, CheckingAppliesTheProportionAtOnce)
{
    Type(Form.WidthEdit(), "250");
    Form.KeepProportionCheck().click();
    EXPECT_EQ(Form.HeightEdit().text(), QStringLiteral("150"));
    EXPECT_FALSE(Form.WidthEdit().isModified());
    // Unchecking changes nothing.
    Type(Form.WidthEdit(), "500");
    Type(Form.HeightEdit(), "60");
    EXPECT_EQ(Form.WidthEdit().text(), QStringLiteral("100"));
    Form.KeepProportionCheck().click();
    EXPECT_EQ(Form.WidthEdit().text(), QStringLiteral("100"));
    EXPECT_EQ(Form.HeightEdit().text(), QStringLiteral("60"));
}

TEST_F(ResizeFormTest, CheckingWithAChangedHeightOnlySetsTheWidth)
{
    Type(Form.HeightEdit(), "150");
    Form.KeepProportionCheck().click();
    EXPECT_EQ(Form.WidthEdit().text(), QStringLiteral("250"));
}

TEST_F(ResizeFormTest, F4TogglesFromEveryControl)
{
    QWidget* targets[] = {&Form.WidthEdit(), &Form.HeightEdit(), &Form.HorzReuseEdit(), &Form.VertReuseEdit(),
                          &Form.KeepProportionCheck(), &Form.ResizeButton(), &Form.CancelButton(), &Form};
    bool checked = false;
    for (QWidget* target : targets) {
        for (const Qt::KeyboardModifiers modifiers :
             {Qt::KeyboardModifiers(Qt::NoModifier), Qt::ShiftModifier | Qt::ControlModifier}) {
            SendKey(*target, Qt::Key_F4, modifiers);
            checked = !checked;
            EXPECT_EQ(Form.KeepProportionCheck().isChecked(), checked) << target->metaObject()->className();
        }
    }
    SendKey(Form.WidthEdit(), Qt::Key_F5);
    EXPECT_EQ(Form.KeepProportionCheck().isChecked(), checked);
}

TEST_F(ResizeFormTest, F4RunsTheProportionHandler)
{
    Type(Form.WidthEdit(), "1000");
    SendKey(Form.WidthEdit(), Qt::Key_F4);
    EXPECT_EQ(Form.HeightEdit().text(), QStringLiteral("600"));
}

TEST_F(ResizeFormTest, RefusedEntryKeepsTheDialogOpenWithABalloon)
{
    const std::tuple<TNumericEdit*, const char*, const char*> cases[] = {
        {&Form.WidthEdit(), "2", WidthTooSmallMessage},
        {&Form.WidthEdit(), "66000", "Image should be at most 65535 pixels in width."},
        {&Form.HeightEdit(), "abc", NotAnIntegerMessage},
        {&Form.HeightEdit(), "999999", "Image should be at most 65535 pixels in height."},
        {&Form.HorzReuseEdit(), "0", ReuseRangeMessage},
        {&Form.VertReuseEdit(), "101", ReuseRangeMessage},
    };
    for (const auto& [edit, text, message] : cases) {
        const QString before = edit->text();
        Type(*edit, text);
        Form.ResizeButton().click();
        EXPECT_EQ(Form.result(), 0) << text;
        ASSERT_NE(Form.Balloon(), nullptr) << text;
        EXPECT_EQ(&Form.Balloon()->Anchor(), edit) << text;
        EXPECT_EQ(Form.Balloon()->Title(), QStringLiteral("Invalid Value"));
        EXPECT_EQ(Form.Balloon()->Text(), QString::fromUtf8(message));
        EXPECT_EQ(Form.Balloon()->Icon(), TBalloonIcon::Error);
        Type(*edit, before);
    }
}

TEST_F(ResizeFormTest, ResizeGivesTheFourResults)
{
    Type(Form.WidthEdit(), "-12%");
    Type(Form.HeightEdit(), "+10");
    Type(Form.VertReuseEdit(), "50");
    Form.ResizeButton().click();
    EXPECT_EQ(Form.result(), QDialog::Accepted);
    EXPECT_EQ(Form.NewWidth(), 440);
    EXPECT_EQ(Form.NewHeight(), 310);
    EXPECT_DOUBLE_EQ(Form.HorzReuse(), 0.33);
    EXPECT_DOUBLE_EQ(Form.VertReuse(), 0.5);
}

TEST_F(ResizeFormTest, CancelAndEscapeEndWithoutOk)
{
    Form.CancelButton().click();
    EXPECT_EQ(Form.result(), QDialog::Rejected);
    Form.setResult(-1);
    SendKey(Form.HeightEdit(), Qt::Key_Escape);
    EXPECT_EQ(Form.result(), QDialog::Rejected);
}

TEST_F(ResizeFormTest, EnterPressesResize)
{
    Form.show();
    Type(Form.WidthEdit(), "640");
    SendKey(Form.WidthEdit(), Qt::Key_Return);
    EXPECT_EQ(Form.result(), QDialog::Accepted);
    EXPECT_EQ(Form.NewWidth(), 640);
}

TEST_F(ResizeFormTest, BalloonHangsBelowItsEditAndGoesAwayOnEditing)
{
    Form.show();
    Type(Form.WidthEdit(), "1");
    Form.ResizeButton().click();
    ASSERT_NE(Form.Balloon(), nullptr);
    const TBalloonTip* first = Form.Balloon();
    EXPECT_TRUE(first->isVisible());
    const QRect edit(Form.WidthEdit().mapToGlobal(QPoint(0, 0)), Form.WidthEdit().size());
    EXPECT_NEAR(first->geometry().top(), edit.bottom(), 3);
    EXPECT_LT(first->geometry().left(), edit.center().x());
    EXPECT_GT(first->geometry().right(), edit.center().x());

    // A second refusal replaces the balloon instead of stacking another.
    Form.ResizeButton().click();
    EXPECT_NE(Form.Balloon(), first);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(Form.WidthEdit().findChildren<TBalloonTip*>().size(), 1);

    SendKey(Form.WidthEdit(), 0, Qt::NoModifier, "0");
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(Form.Balloon(), nullptr);
}

TEST(ResizeFormZeroSizeTest, NoRatioWithoutASide)
{
    TResizeForm form(nullptr, 0, 0);
    EXPECT_EQ(form.OriginalProportionValueLabel().text(), QStringLiteral("? : ? = ?"));
    form.KeepProportionCheck().click();
    Type(form.WidthEdit(), "250");
    EXPECT_EQ(form.HeightEdit().text(), QStringLiteral("0"));
    Type(form.HeightEdit(), "7");
    EXPECT_EQ(form.WidthEdit().text(), QStringLiteral("250"));
    EXPECT_EQ(form.NewPropotionValueLabel().text(), QStringLiteral("250 : 7 = 35.71"));
}

TEST(ResizeFormLargeTest, KeptProportionOutsideTheIntegersLeavesTheOtherEntry)
{
    TResizeForm form(nullptr, 1, 1000);
    form.KeepProportionCheck().click();
    Type(form.WidthEdit(), "3000000");
    EXPECT_EQ(form.HeightEdit().text(), QStringLiteral("300000000"));
    Type(form.WidthEdit(), "2");
    EXPECT_EQ(form.HeightEdit().text(), QStringLiteral("2000"));
}

} // namespace
