#include "forms/formplacement.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>

namespace {

using namespace Corvanith::Forms;

class FormPlacementTest : public testing::Test {
protected:
    // The user's store goes back where it belongs.
    void TearDown() override
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    }
    std::unique_ptr<QSettings> OpenStore() const
    {
        return std::make_unique<QSettings>(FDir.filePath(QStringLiteral("placement.ini")), QSettings::IniFormat);
    }
    static void MakeForm(QWidget& Form, const QRect& Rect)
    {
        Form.setObjectName(QStringLiteral("MainForm"));
        Form.setGeometry(Rect);
    }

    QTemporaryDir FDir;
};

TEST_F(FormPlacementTest, NormalWindowComesBackWhereItWas)
{
    QWidget saved;
    MakeForm(saved, QRect(50, 60, 400, 300));
    SaveFormPlacement(saved, *OpenStore());

    QWidget restored;
    MakeForm(restored, QRect(0, 0, 800, 600));
    EXPECT_TRUE(LoadFormPlacement(restored, *OpenStore()));
    EXPECT_EQ(restored.geometry(), QRect(50, 60, 400, 300));
    EXPECT_FALSE(restored.isMaximized());
}

TEST_F(FormPlacementTest, FirstRunLeavesTheWindowAsItIs)
{
    QWidget form;
    MakeForm(form, QRect(10, 20, 800, 600));
    EXPECT_FALSE(LoadFormPlacement(form, *OpenStore()));
    EXPECT_EQ(form.geometry(), QRect(10, 20, 800, 600));
}

TEST_F(FormPlacementTest, MaximisedWindowKeepsItsRestoredRectangle)
{
    QWidget saved;
    MakeForm(saved, QRect(50, 60, 400, 300));
    saved.show();
    saved.setWindowState(Qt::WindowMaximized);
    SaveFormPlacement(saved, *OpenStore());
    EXPECT_EQ(OpenStore()->value(QStringLiteral("software/Corvanith/Forms/MainForm/State")).toString(),
              QStringLiteral("2"));

    QWidget restored;
    MakeForm(restored, QRect(0, 0, 800, 600));
    LoadFormPlacement(restored, *OpenStore());
    EXPECT_TRUE(restored.isMaximized());
    restored.show();
    restored.setWindowState(Qt::WindowNoState);
    EXPECT_EQ(restored.geometry().size(), QSize(400, 300));
}

TEST_F(FormPlacementTest, WindowStoredOffEveryScreenKeepsItsPosition)
{
    const auto store = OpenStore();
    store->setValue(QStringLiteral("software/Corvanith/Forms/MainForm/Left"), QStringLiteral("30000"));
    store->setValue(QStringLiteral("software/Corvanith/Forms/MainForm/Top"), QStringLiteral("30000"));
    store->setValue(QStringLiteral("software/Corvanith/Forms/MainForm/Width"), QStringLiteral("500"));
    store->sync();

    QWidget form;
    MakeForm(form, QRect(10, 20, 800, 600));
    EXPECT_TRUE(LoadFormPlacement(form, *OpenStore()));
    EXPECT_EQ(form.geometry(), QRect(10, 20, 500, 600));
}

TEST_F(FormPlacementTest, UserStoreFollowsTheConfiguredPath)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, FDir.path());
    QWidget saved;
    MakeForm(saved, QRect(70, 80, 320, 240));
    SaveFormPlacement(saved);

    QWidget restored;
    MakeForm(restored, QRect(0, 0, 800, 600));
    EXPECT_TRUE(LoadFormPlacement(restored));
    EXPECT_EQ(restored.geometry(), QRect(70, 80, 320, 240));
}

} // namespace
