#include "forms/about.h"
#include "forms/forms.h"
#include "forms/shield.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QDialog>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <vector>

namespace {

using namespace Corvanith::Forms;

// Takes the place of the web browser for http addresses.
class TUrlCatcher : public QObject {
    Q_OBJECT
public:
    TUrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "Open"); }
    ~TUrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }

    std::vector<QUrl> Urls;

public slots:
    void Open(const QUrl& Url) { Urls.push_back(Url); }
};

TEST(RunShieldedTest, SkipsAnUnsetProcedure)
{
    // Called unset, a procedure would throw std::bad_function_call.
    QWidget owner;
    EXPECT_NO_THROW(TShieldForm::RunShielded(owner, nullptr));
    EXPECT_NO_THROW(TShieldForm::RunShielded(owner, TNotifyEvent()));
    int runs = 0;
    TShieldForm::RunShielded(owner, [&](QWidget&) { ++runs; });
    EXPECT_EQ(runs, 1);
}

TEST(RunShieldedTest, ReturnsOnceTheDialogOfTheProcedureHasClosed)
{
    QWidget owner;
    QWidget* sender = nullptr;
    bool wasVisible = false;
    QDialog dialog(&owner);
    TShieldForm::RunShielded(owner, [&](QWidget& Sender) {
        sender = &Sender;
        QTimer::singleShot(0, &dialog, [&] {
            wasVisible = dialog.isVisible();
            dialog.accept();
        });
        dialog.exec();
    });
    EXPECT_EQ(sender, &owner);
    EXPECT_TRUE(wasVisible);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(AboutFormTest, TextsAndFont)
{
    TAboutForm about(nullptr);
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Corvanith"));
    EXPECT_EQ(about.NameText().text(), QStringLiteral("Corvanith 0.4"));
    EXPECT_TRUE(about.NameText().font().bold());
    EXPECT_FALSE(about.CopyrightText().font().bold());
    EXPECT_FALSE(about.CopyrightText().text().isEmpty());
    EXPECT_EQ(about.font(), MessageFont());
    EXPECT_EQ(about.CopyrightText().font(), MessageFont());
    EXPECT_EQ(about.LinksLabel().Caption(),
              QStringLiteral("Some icons are taken from or based on <link>Silk</link> and <link>Aesthetica</link> icons."));
    EXPECT_EQ(about.OkButton().text(), QStringLiteral("OK"));
    EXPECT_EQ(about.minimumSize(), about.maximumSize());
    EXPECT_GE(about.width(), 358);
    EXPECT_GE(about.height(), 138);
}

TEST(AboutFormTest, OkCloses)
{
    TAboutForm about(nullptr);
    about.show();
    about.OkButton().click();
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST(AboutFormTest, EachLinkOpensItsPage)
{
    TUrlCatcher browser;
    TAboutForm about(nullptr);
    emit about.LinksLabel().linkActivated(QStringLiteral("0"));
    emit about.LinksLabel().linkActivated(QStringLiteral("1"));
    // Neither an unknown link nor one past the pages opens anything.
    emit about.LinksLabel().linkActivated(QStringLiteral("2"));
    emit about.LinksLabel().linkActivated(QStringLiteral("x"));
    about.LinksLabelLinkClick(-1, {});
    about.LinksLabelLinkClick(2, {});
    ASSERT_EQ(browser.Urls.size(), 2u);
    EXPECT_EQ(browser.Urls[0], QUrl(QString::fromUtf8(AboutLinkUrls[0])));
    EXPECT_EQ(browser.Urls[1], QUrl(QString::fromUtf8(AboutLinkUrls[1])));
}

TEST(LinkLabelTest, ReportsLinksByNumberAndText)
{
    TLinkLabel label(QStringLiteral("a <link>one</link> & <link>two</link> <b>c</b> <link>open"));
    std::vector<std::pair<int, QString>> clicks;
    label.OnLinkClick = [&](int LinkNumber, const QString& LinkText) { clicks.emplace_back(LinkNumber, LinkText); };
    emit label.linkActivated(QStringLiteral("1"));
    emit label.linkActivated(QStringLiteral("0"));
    emit label.linkActivated(QStringLiteral("2"));
    ASSERT_EQ(clicks.size(), 2u);
    EXPECT_EQ(clicks[0], std::make_pair(1, QStringLiteral("two")));
    EXPECT_EQ(clicks[1], std::make_pair(0, QStringLiteral("one")));
    // Text outside the links is shown as it is written, an unclosed tag included.
    EXPECT_TRUE(label.text().contains(QStringLiteral("&amp;")));
    EXPECT_TRUE(label.text().contains(QStringLiteral("&lt;b&gt;c&lt;/b&gt; &lt;link&gt;open")));
}

TEST(LinkLabelTest, LinkUnderTheMouseTakesTheHighlightColour)
{
    TLinkLabel label(QStringLiteral("<link>one</link> <link>two</link>"));
    QPalette palette = label.palette();
    palette.setColor(QPalette::Link, QColor(0x10, 0x20, 0x30));
    palette.setColor(QPalette::Highlight, QColor(0xA0, 0xB0, 0xC0));
    label.setPalette(palette);
    EXPECT_EQ(label.text().count(QStringLiteral("#102030")), 2);
    emit label.linkHovered(QStringLiteral("1"));
    EXPECT_EQ(label.HotLink(), 1);
    EXPECT_EQ(label.text().count(QStringLiteral("#102030")), 1);
    EXPECT_TRUE(label.text().contains(QStringLiteral("#a0b0c0\"; text-decoration:underline;\">two")) ||
                label.text().contains(QStringLiteral("#a0b0c0; text-decoration:underline;\">two")));
    emit label.linkHovered(QString());
    EXPECT_EQ(label.HotLink(), -1);
    EXPECT_EQ(label.text().count(QStringLiteral("#102030")), 2);
}

} // namespace

#include "about_test.moc"
