#include "program_fixture.h"

#include "graphics/surface.h"
#include "io/mrulist.h"
#include "io/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

using namespace Corvanith;

using StartupTest = ProgramTest;

TEST_F(StartupTest, MakesTheDataFoldersAndSetsEverythingUp)
{
    EXPECT_EQ(Settings::DataFiles().ApplicationDataPath(), AppDataPath());
    EXPECT_EQ(Settings::DataFiles().CachePath(), AppDataPath() + "Cache/");
    EXPECT_TRUE(QFileInfo(AppDataPath() + "Cache/").isDir());
    EXPECT_EQ(Settings::DataFiles().MruList().GetCount(), 0);
    EXPECT_EQ(QDir::currentPath(), QCoreApplication::applicationDirPath());
    EXPECT_TRUE(Settings::Current().UseMultipleThreads);
    for (const auto& corner : Graphics::ShadowCorners())
        ASSERT_NE(corner, nullptr);
}

TEST_F(StartupTest, DataFilesAreWrittenAtTheEndEvenWhenTheFolderWasDeleted)
{
    ASSERT_TRUE(QDir(AppDataPath()).removeRecursively());
    EndProgram();
    EXPECT_TRUE(QFileInfo(AppDataPath() + "MruFiles.data").isFile());
    EXPECT_TRUE(QFileInfo(AppDataPath() + "Cache/Index.data").isFile());
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
