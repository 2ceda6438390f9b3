#include "program_fixture.h"

#include "graphics/surface.h"
#include "io/datafolders.h"
#include "io/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

using namespace Corvanith;

using StartupTest = ProgramTest;

TEST_F(StartupTest, MakesTheDataFoldersAndSetsEverythingUp)
{
    EXPECT_EQ(Settings::ApplicationDataPath(), AppDataPath());
    EXPECT_EQ(Settings::CachePath(), AppDataPath() + "Cache/");
    EXPECT_TRUE(QFileInfo(Settings::CachePath()).isDir());
    EXPECT_EQ(QDir::currentPath(), QCoreApplication::applicationDirPath());
    EXPECT_TRUE(Settings::Current().UseMultipleThreads);
    for (const auto& corner : Graphics::ShadowCorners())
        ASSERT_NE(corner, nullptr);
}

TEST_F(StartupTest, DataFoldersDeletedMeanwhileAreMadeAgainAtTheEnd)
{
    ASSERT_TRUE(QDir(AppDataPath()).removeRecursively());
    EndProgram();
    EXPECT_TRUE(QFileInfo(AppDataPath() + "Cache/").isDir());
    EXPECT_EQ(Graphics::ShadowCorners()[0], nullptr);
}

TEST(StartupWorkingDirectoryTest, ProgramFolderBecomesTheWorkingDirectory)
{
    const QString before = QDir::currentPath();
    QDir::setCurrent(QDir::tempPath());
    Forms::SetProgramFolderAsWorkingDirectory();
    EXPECT_EQ(QDir::currentPath(), QCoreApplication::applicationDirPath());
    QDir::setCurrent(before);
}

} // namespace
