#include "helperprocess.h"
#include "program_fixture.h"

#include "document/documentsource.h"
#include "graphics/surface.h"
#include "io/filecache.h"
#include "io/mrulist.h"
#include "io/settings.h"
#include "platform/streams.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <cstdio>

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

// Opens a capture the way the program does: its picture goes to the cache,
// the document to the recent list.
void OpenCapture(const QString& Location)
{
    Document::TCorvDocumentSource source;
    source.Kind = Document::TCorvDocumentSourceKind::dskScreenshot;
    source.Location = Location;
    Settings::DataFiles().FileCache().OpenEntry(Location)->WriteBuffer("png", 3);
    Settings::DataFiles().MruList().Add(source, *Graphics::TCorvSurface::CreateFilled(8, 8, 0xFF808080));
}

bool WaitForFile(const QString& FileName)
{
    QElapsedTimer timer;
    timer.start();
    while (!QFileInfo::exists(FileName) && timer.elapsed() < 60000)
        QThread::msleep(10);
    return QFileInfo::exists(FileName);
}

// The second program: in the data folder below Arguments[0] it opens two
// captures while the first one runs, tells it so, and ends after it.
int SecondProgramOnOneDataFolder(const QStringList& Arguments)
{
    const QString dataHome = Arguments.value(0);
    qputenv("XDG_DATA_HOME", dataHome.toLocal8Bit());
    Forms::StartProgram();
    const bool owns = Settings::DataFiles().OwnsFolder();
    OpenCapture(QStringLiteral("screenshot://second/1"));
    OpenCapture(QStringLiteral("screenshot://second/2"));
    QFile(dataHome + "/ready").open(QIODevice::WriteOnly);
    const bool toldToEnd = WaitForFile(dataHome + "/go");
    Forms::EndProgram();
    if (owns)
        std::fprintf(stderr, "The second program owned the data folder\n");
    if (!toldToEnd)
        std::fprintf(stderr, "The first program never ended\n");
    return owns || !toldToEnd ? 1 : 0;
}

const bool SecondProgramRegistered =
    RegisterHelperProcess(QStringLiteral("SecondProgramOnOneDataFolder"), &SecondProgramOnOneDataFolder);

TEST_F(StartupTest, TwoProgramsOnOneDataFolderKeepTheFirstOnesData)
{
    QProcess second;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(HelperProcessVariable, QStringLiteral("SecondProgramOnOneDataFolder"));
    second.setProcessEnvironment(environment);
    second.setProcessChannelMode(QProcess::MergedChannels);
    second.start(QCoreApplication::applicationFilePath(), {TempPath()});
    ASSERT_TRUE(WaitForFile(TempPath() + "/ready")) << second.readAll().toStdString();
    for (int i = 1; i <= 3; ++i)
        OpenCapture(QStringLiteral("screenshot://first/%1").arg(i));
    EndProgram();
    QFile(TempPath() + "/go").open(QIODevice::WriteOnly);
    ASSERT_TRUE(second.waitForFinished(60000));
    const QString output = QString::fromLocal8Bit(second.readAll());
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit) << output.toStdString();
    EXPECT_EQ(second.exitCode(), 0) << output.toStdString();

    IO::TCorvMruList list(7, AppDataPath() + "MruFiles.data");
    ASSERT_EQ(list.GetCount(), 3);
    EXPECT_EQ(list.GetItem(0).Source().Location, QStringLiteral("screenshot://first/3"));
    const auto cache = IO::TCorvFileCache::CreateFromIndex(AppDataPath() + "Cache/Index.data", AppDataPath() + "Cache");
    EXPECT_EQ(cache->Count(), 3);
    EXPECT_EQ(QDir(AppDataPath() + "Cache").entryList({QStringLiteral("Fci*")}, QDir::Files).size(), 3);
}

// The program started over a data folder whose lock place holds a folder
// with a file in it, which no instance made and none may clear; every
// message box it shows is noted and closed.
class StartupBlockedLockTest : public ProgramTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(LockName()));
        ASSERT_TRUE(QFile(LockName() + "/kept").open(QIODevice::WriteOnly));
        QObject::connect(&FBoxCloser, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                FShown << box->windowTitle() + "|" + box->text();
                FIcons << box->icon();
                box->accept();
            }
        });
        FBoxCloser.start(10);
        ProgramTest::SetUp();
    }

    QString LockName() const { return AppDataPath() + "Corvanith.lock"; }

    QTimer FBoxCloser;
    QStringList FShown;
    QList<QMessageBox::Icon> FIcons;
};

TEST_F(StartupBlockedLockTest, SaysOnceThatTheRecentListIsNotKept)
{
    ASSERT_EQ(FShown.size(), 1);
    EXPECT_TRUE(FShown[0].startsWith("Corvanith|")) << FShown[0].toStdString();
    EXPECT_TRUE(FShown[0].contains(LockName())) << FShown[0].toStdString();
    EXPECT_EQ(FIcons[0], QMessageBox::Warning);
    EXPECT_FALSE(Settings::DataFiles().OwnsFolder());
    OpenCapture(QStringLiteral("screenshot://blocked/1"));
    EndProgram();
    EXPECT_EQ(FShown.size(), 1);
    EXPECT_TRUE(QFileInfo::exists(LockName() + "/kept"));
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
