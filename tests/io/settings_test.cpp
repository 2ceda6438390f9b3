#include "io/settings.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPalette>

namespace {

using namespace Corvanith::Settings;

// The application palette with the two roles the view colours come from set
// to known values; the old palette comes back afterwards.
class SettingsTest : public testing::Test {
protected:
    void SetUp() override
    {
        FSaved = QGuiApplication::palette();
        QPalette p = FSaved;
        p.setColor(QPalette::Button, QColor(0x12, 0x34, 0x56));
        p.setColor(QPalette::Dark, QColor(0x01, 0x02, 0x03)); // the plain shadow, not used
        p.setColor(QPalette::Shadow, QColor(0x65, 0x43, 0x21));
        QGuiApplication::setPalette(p);
        InitializeSettings();
    }
    void TearDown() override { QGuiApplication::setPalette(FSaved); }

    QPalette FSaved;
};

TEST_F(SettingsTest, EveryValueMatchesTheTable)
{
    const TSettings& s = Current();
    EXPECT_TRUE(s.UseMultipleThreads);
    EXPECT_EQ(s.PageCaptureWidth, 950);
    EXPECT_FALSE(s.HideMainFormOnCapture);
    EXPECT_EQ(s.ViewBackgroundColor1, 0xFF123456u);
    EXPECT_EQ(s.ViewBackgroundColor2, 0xFF654321u);
    EXPECT_EQ(s.DocumentViewPadding, 4);
    EXPECT_EQ(s.BackgroundColor, 0xFFFFFFFFu);
    EXPECT_EQ(s.BorderWidth, 1);
    EXPECT_EQ(s.BorderColor, 0xFF000000u);
    EXPECT_EQ(s.BackgroundStyle, TBackgroundStyle::Checkerboard);
    EXPECT_EQ(int(s.BackgroundStyle), 1);
    EXPECT_EQ(s.ShadowColor1, 0x0A000000u);
    EXPECT_EQ(s.ShadowColor2, 0x5C000000u);
    EXPECT_TRUE(s.ShowShadow);
}

TEST_F(SettingsTest, ViewColoursKeepThePaletteOfInitialisation)
{
    QPalette later = QGuiApplication::palette();
    later.setColor(QPalette::Button, Qt::red);
    later.setColor(QPalette::Shadow, Qt::green);
    QGuiApplication::setPalette(later);
    EXPECT_EQ(Current().ViewBackgroundColor1, 0xFF123456u);
    EXPECT_EQ(Current().ViewBackgroundColor2, 0xFF654321u);
}

TEST_F(SettingsTest, ViewColoursAreOpaqueEvenFromATranslucentPalette)
{
    QPalette p = QGuiApplication::palette();
    p.setColor(QPalette::Button, QColor(0x10, 0x20, 0x30, 0x40));
    QGuiApplication::setPalette(p);
    InitializeSettings();
    EXPECT_EQ(Current().ViewBackgroundColor1, 0xFF102030u);
}

TEST(SettingsTextTest, ConstantsAreVerbatim)
{
    EXPECT_STREQ(ApplicationName, "Corvanith");
    EXPECT_STREQ(RegistryProductName, "Corvanith");
    EXPECT_STREQ(OpenImageFilter, "All Images (jpeg, jpg, png, gif, bmp, tiff, tif)|*.jpeg;*.jpg;*.png;*.gif;*.bmp;"
                                  "*.tiff;*.tif|All Files (*.*)|*.*");
    EXPECT_STREQ(BmpDefaultExt, "bmp");
    EXPECT_STREQ(BmpFilter, "BMP Images (bmp)|*.bmp|All Files (*.*)|*.*");
}

TEST(SettingsTextTest, FiltersConvertToTheFileDialogForm)
{
    struct Case {
        const char* Filter;
        const char* Expected;
    };
    const Case cases[] = {
        {OpenImageFilter, "All Images (jpeg, jpg, png, gif, bmp, tiff, tif) (*.jpeg *.jpg *.png *.gif *.bmp *.tiff "
                          "*.tif);;All Files (*.*) (*)"},
        {BmpFilter, "BMP Images (bmp) (*.bmp);;All Files (*.*) (*)"},
        {"Text|*.txt;;*.log|Orphan", "Text (*.txt *.log)"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FileDialogFilter(c.Filter), QString::fromUtf8(c.Expected)) << c.Filter;
}

} // namespace
