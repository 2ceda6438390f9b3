#include "io/settings.h"

#include "helperprocess.h"
#include "residentmemory.h"

#include "graphics/errors.h"
#include "graphics/surface.h"
#include "io/filecache.h"
#include "io/mrulist.h"
#include "platform/streams.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <latch>
#include <thread>
#include <vector>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace Corvanith;
using namespace Corvanith::Settings;
using Corvanith::Document::TCorvDocumentSource;
using Corvanith::Document::TCorvDocumentSourceKind;

TCorvDocumentSource Capture(int Number)
{
    TCorvDocumentSource source;
    source.Kind = TCorvDocumentSourceKind::dskScreenshot;
    source.Location = QStringLiteral("screenshot://today/%1").arg(Number);
    return source;
}

class DataFolderTest : public testing::Test {
protected:
    QString Folder() const { return FDir.path() + QStringLiteral("/Corvanith/"); }

    // Opens a capture the way the program does: its picture goes to the
    // cache, the document to the recent list.
    void Open(TDataFiles& Files, int Number) const
    {
        {
            const auto stream = Files.FileCache().OpenEntry(Capture(Number).Location);
            stream->WriteBuffer("png", 3);
        }
        Files.MruList().Add(Capture(Number), *FPicture);
    }
    static QString CacheFile(TDataFiles& Files, int Number)
    {
        const auto* item = Files.FileCache().Find(Capture(Number).Location);
        return item != nullptr ? item->FileName() : QString();
    }

    QTemporaryDir FDir;
    const std::unique_ptr<Graphics::TCorvSurface> FPicture = Graphics::TCorvSurface::CreateFilled(20, 20, 0xFF808080);
};

TEST_F(DataFolderTest, FirstRunMakesTheFoldersAndWritesEmptyFiles)
{
    TDataFiles files(FDir.path());
    EXPECT_EQ(files.ApplicationDataPath(), Folder());
    EXPECT_EQ(files.CachePath(), Folder() + QStringLiteral("Cache/"));
    EXPECT_TRUE(QFileInfo(files.CachePath()).isDir());
    EXPECT_EQ(files.MruList().GetCount(), 0);
    EXPECT_EQ(files.FileCache().Count(), 0);
    files.Save();
    for (const QString& name : {files.MruFileName(), files.IndexFileName()}) {
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        EXPECT_EQ(file.readAll(), QByteArray("\1\0\0\0\0\0\0\0", 8)) << name.toStdString();
    }
}

TEST_F(DataFolderTest, FoldersDeletedMeanwhileAreMadeAgainAtSaving)
{
    TDataFiles files(FDir.path());
    ASSERT_TRUE(QDir(Folder()).removeRecursively());
    files.Save();
    EXPECT_TRUE(QFileInfo::exists(files.MruFileName()));
    EXPECT_TRUE(QFileInfo::exists(files.IndexFileName()));
}

TEST_F(DataFolderTest, PicturesGoWithTheirRecentEntries)
{
    TDataFiles files(FDir.path());
    for (int i = 1; i <= 8; ++i)
        Open(files, i);
    EXPECT_FALSE(files.FileCache().Contains(Capture(1).Location));
    const QString eighth = CacheFile(files, 8);
    Open(files, 8); // opened again: same entry, same picture
    EXPECT_EQ(CacheFile(files, 8), eighth);
    EXPECT_TRUE(QFileInfo::exists(eighth));

    files.MruList().Clear();
    EXPECT_EQ(files.FileCache().Count(), 0);
    EXPECT_FALSE(QFileInfo::exists(eighth));
}

TEST_F(DataFolderTest, EntriesDroppedWhileLoadingKeepTheirPictures)
{
    {
        TDataFiles files(FDir.path());
        for (int i = 1; i <= 7; ++i)
            Open(files, i);
        files.Save();
    }
    // A list file longer than the capacity, as an older run might leave it.
    {
        IO::TCorvMruList longer(10, Folder() + QStringLiteral("MruFiles.data"));
        longer.Add(Capture(8), *FPicture);
        longer.Add(Capture(9), *FPicture);
        longer.SaveToFile(Folder() + QStringLiteral("MruFiles.data"));
    }
    TDataFiles files(FDir.path());
    EXPECT_EQ(files.MruList().GetCount(), 7);
    EXPECT_EQ(files.FileCache().Count(), 7);
    EXPECT_TRUE(QFileInfo::exists(CacheFile(files, 1)));
}

TEST_F(DataFolderTest, UnreadableFilesStartEmptyAndAreNotReplaced)
{
    // Folders in their place: the files exist but cannot be opened.
    ASSERT_TRUE(QDir().mkpath(Folder() + QStringLiteral("MruFiles.data")));
    ASSERT_TRUE(QDir().mkpath(Folder() + QStringLiteral("Cache/Index.data")));
    TDataFiles files(FDir.path());
    EXPECT_EQ(files.MruList().GetCount(), 0);
    EXPECT_EQ(files.FileCache().Count(), 0);
    Open(files, 1);
    EXPECT_NO_THROW(files.Save());
    EXPECT_TRUE(QFileInfo(Folder() + QStringLiteral("MruFiles.data")).isDir());
    EXPECT_TRUE(QFileInfo(Folder() + QStringLiteral("Cache/Index.data")).isDir());
}

TEST_F(DataFolderTest, RunsWithAnUnreadableFileLeaveNoPicturesBehind)
{
    // Either file unreadable: three runs of three captures each must not
    // leave pictures that no saved list can ever reach or remove.
    for (const QString& unreadable : {QStringLiteral("MruFiles.data"), QStringLiteral("Cache/Index.data")}) {
        SCOPED_TRACE(unreadable.toStdString());
        ASSERT_TRUE(QDir(Folder()).removeRecursively());
        ASSERT_TRUE(QDir().mkpath(Folder() + unreadable));
        for (int run = 0; run < 3; ++run) {
            TDataFiles files(FDir.path());
            for (int i = 1; i <= 3; ++i)
                Open(files, run * 3 + i);
            files.Save();
        }
        TDataFiles files(FDir.path());
        files.MruList().Clear();
        EXPECT_EQ(files.FileCache().Count(), 0);
        EXPECT_EQ(QDir(files.CachePath()).entryList({QStringLiteral("Fci*")}, QDir::Files), QStringList());
    }
}

TEST_F(DataFolderTest, APictureNoSavedEntryReachesGoesAtTheEnd)
{
    {
        TDataFiles files(FDir.path());
        Open(files, 1);
        files.FileCache().OpenEntry(QStringLiteral("http://example.com/never-opened.png"))->WriteBuffer("gif", 3);
        files.Save();
    }
    TDataFiles next(FDir.path());
    ASSERT_EQ(next.FileCache().Count(), 1);
    EXPECT_EQ(next.FileCache().Item(0).Key(), Capture(1).Location);
    EXPECT_EQ(QDir(next.CachePath()).entryList({QStringLiteral("Fci*")}, QDir::Files).size(), 1);
}

TEST_F(DataFolderTest, ASecondOwnerOfTheFolderChangesNothingStored)
{
    {
        TDataFiles earlier(FDir.path());
        Open(earlier, 0);
        earlier.Save();
    }
    TDataFiles first(FDir.path());
    EXPECT_TRUE(first.OwnsFolder());
    const QString kept = CacheFile(first, 0);
    {
        TDataFiles second(FDir.path());
        EXPECT_FALSE(second.OwnsFolder());
        EXPECT_EQ(second.LockFailure(), QString());
        ASSERT_EQ(second.MruList().GetCount(), 1);
        Open(first, 1);
        Open(first, 2);
        Open(first, 3);
        Open(second, 4);
        Open(second, 5);
        // Leaving the second list, the first one's picture stays; the second
        // one's own pictures go.
        second.MruList().Clear();
        EXPECT_TRUE(QFileInfo::exists(kept));
        Open(second, 6);
        second.Save();
    }
    first.Save();
    TDataFiles next(FDir.path());
    ASSERT_EQ(next.MruList().GetCount(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(next.MruList().GetItem(i).Source().Location, Capture(3 - i).Location);
        EXPECT_TRUE(QFileInfo::exists(CacheFile(next, 3 - i))) << i;
    }
    EXPECT_EQ(QDir(next.CachePath()).entryList({QStringLiteral("Fci*")}, QDir::Files).size(), 4);
}

// A lock file as a run that ended without unlocking leaves it: Qt's form is
// the process id, the program's name and the host name, a line each.
QByteArray LockNaming(qint64 Pid)
{
    return QByteArray::number(Pid) + '\n' + QFileInfo(QCoreApplication::applicationFilePath()).fileName().toUtf8() +
           '\n' + QSysInfo::machineHostName().toUtf8() + '\n';
}

void WriteLock(const QString& Folder, const QByteArray& Content, const QDateTime& Modified)
{
    ASSERT_TRUE(QDir().mkpath(Folder));
    QFile lock(Folder + QStringLiteral("Corvanith.lock"));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    ASSERT_EQ(lock.write(Content), Content.size());
    ASSERT_TRUE(lock.flush());
    ASSERT_TRUE(lock.setFileTime(Modified, QFileDevice::FileModificationTime));
}

TEST_F(DataFolderTest, ALockNoLivingInstanceHoldsIsTakenOver)
{
    QProcess other;
    other.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(other.waitForStarted());
    QProcess gone;
    gone.start(QStringLiteral("true"), QStringList());
    ASSERT_TRUE(gone.waitForStarted());
    const qint64 gonePid = gone.processId();
    ASSERT_TRUE(gone.waitForFinished());
    const QDateTime crashed = QDateTime::currentDateTime().addSecs(-3600);
    const struct {
        const char* Kind;
        QByteArray Content;
        QDateTime Modified;
    } leftovers[] = {
        {"empty", QByteArray(), crashed},
        {"empty, just now", QByteArray(), QDateTime::currentDateTime()},
        {"garbage", QByteArray("\x07\xFFzz\n\n", 6), crashed},
        {"this process", LockNaming(QCoreApplication::applicationPid()), crashed},
        {"another program's process", LockNaming(other.processId()), crashed},
        {"a process that is gone", LockNaming(gonePid), crashed},
    };
    for (const auto& leftover : leftovers) {
        SCOPED_TRACE(leftover.Kind);
        ASSERT_TRUE(QDir(Folder()).removeRecursively());
        WriteLock(Folder(), leftover.Content, leftover.Modified);
        {
            TDataFiles files(FDir.path());
            EXPECT_TRUE(files.OwnsFolder());
            Open(files, 1);
            files.Save();
        }
        TDataFiles next(FDir.path());
        EXPECT_TRUE(next.OwnsFolder());
        EXPECT_EQ(next.MruList().GetCount(), 1);
        EXPECT_EQ(next.FileCache().Count(), 1);
    }
    other.kill();
    other.waitForFinished();
}

TEST_F(DataFolderTest, InstancesStartingTogetherOverALeftLockHaveOneOwner)
{
    constexpr int Instances = 6;
    const QDateTime crashed = QDateTime::currentDateTime().addSecs(-3600);
    for (const QByteArray& content : {QByteArray(), LockNaming(QCoreApplication::applicationPid())}) {
        for (int round = 0; round < 10; ++round) {
            SCOPED_TRACE(round);
            ASSERT_TRUE(QDir(Folder()).removeRecursively());
            WriteLock(Folder(), content, crashed);
            std::vector<std::unique_ptr<TDataFiles>> files(Instances);
            std::latch start(Instances);
            std::vector<std::thread> threads;
            for (auto& instance : files)
                threads.emplace_back([&] {
                    start.arrive_and_wait();
                    instance = std::make_unique<TDataFiles>(FDir.path());
                });
            for (auto& thread : threads)
                thread.join();
            EXPECT_EQ(std::count_if(files.begin(), files.end(), [](const auto& f) { return f->OwnsFolder(); }), 1);
        }
    }
}

// Things another tool or a bad restore can leave where the lock belongs.
// None may keep the program waiting or from saving its list; what cannot be
// cleared is said, and stays as it was.
TEST_F(DataFolderTest, WhatLiesInTheLocksPlaceIsClearedOrReported)
{
    const QString lockName = Folder() + QStringLiteral("Corvanith.lock");
    const struct {
        const char* Kind;
        std::function<bool()> Make;
        bool Cleared;
    } places[] = {
        {"a folder", [&] { return QDir().mkdir(lockName); }, true},
        {"a sparse file of 2 GB without a line end",
         [&] {
             QFile file(lockName);
             return file.open(QIODevice::WriteOnly) && file.resize((qint64(2) << 30) + 1);
         },
         true},
        {"a named pipe", [&] { return ::mkfifo(QFile::encodeName(lockName).constData(), 0600) == 0; }, true},
        {"a dangling link", [&] { return QFile::link(Folder() + QStringLiteral("gone"), lockName); }, true},
        {"a link to a named pipe",
         [&] {
             const QString pipe = FDir.path() + QStringLiteral("/pipe");
             return ::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0 && QFile::link(pipe, lockName);
         },
         true},
        {"a folder with a file in it",
         [&] {
             return QDir().mkpath(lockName) && QFile(lockName + QStringLiteral("/kept")).open(QIODevice::WriteOnly);
         },
         false},
    };
    for (const auto& place : places) {
        SCOPED_TRACE(place.Kind);
        ASSERT_TRUE(QDir(Folder()).removeRecursively());
        ASSERT_TRUE(QDir().mkpath(Folder()));
        ASSERT_TRUE(place.Make());
        Testing::ResetResidentPeak();
        const int64_t before = Testing::ResidentBytes();
        {
            TDataFiles files(FDir.path());
            if (Testing::ResidentMemoryTells) {
                EXPECT_LT(Testing::ResidentBytes("VmHWM:") - before, int64_t(64) << 20);
            }
            EXPECT_EQ(files.OwnsFolder(), place.Cleared);
            if (place.Cleared) {
                EXPECT_EQ(files.LockFailure(), QString());
            } else {
                EXPECT_TRUE(files.LockFailure().contains(lockName)) << files.LockFailure().toStdString();
            }
            Open(files, 1);
            files.Save();
        }
        TDataFiles next(FDir.path());
        EXPECT_EQ(next.OwnsFolder(), place.Cleared);
        EXPECT_EQ(next.MruList().GetCount(), place.Cleared ? 1 : 0);
        if (!place.Cleared) {
            EXPECT_TRUE(QFileInfo::exists(lockName + QStringLiteral("/kept")));
        }
    }
}

// The helper as another user: it opens the data folder below Arguments[0],
// opens one capture and saves, and tells whether it owned the folder and
// what it said about the lock.
int OpenDataFolder(const QStringList& Arguments)
{
    TDataFiles files(Arguments.value(0));
    {
        const auto stream = files.FileCache().OpenEntry(Capture(1).Location);
        stream->WriteBuffer("png", 3);
    }
    files.MruList().Add(Capture(1), *Graphics::TCorvSurface::CreateFilled(20, 20, 0xFF808080));
    files.Save();
    std::printf("%s\n%s\n", files.OwnsFolder() ? "owner" : "second", qPrintable(files.LockFailure()));
    return 0;
}

const bool OpenDataFolderRegistered = RegisterHelperProcess(QStringLiteral("OpenDataFolder"), &OpenDataFolder);

TEST_F(DataFolderTest, AnUnreadableLockIsTakenOverWhenItIsTheUsersOwn)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "Making another user's lock file needs root";
    const passwd* user = ::getpwnam("nobody");
    ASSERT_NE(user, nullptr);
    const uid_t uid = user->pw_uid;
    const gid_t gid = user->pw_gid;
    const QByteArray folder = QFile::encodeName(Folder());
    const QByteArray lockName = folder + "Corvanith.lock";
    // A read-only file of the user's own outside the data folder.
    const QByteArray document = QFile::encodeName(FDir.path()) + "/document";
    const QByteArray documentContent("written once\n");
    const auto makeFile = [gid](const QByteArray& Name, const QByteArray& Content, uid_t Owner, mode_t Mode) {
        QFile file(QString::fromLocal8Bit(Name));
        return file.open(QIODevice::WriteOnly) && file.write(Content) == Content.size() && file.flush() &&
               ::chown(Name.constData(), Owner, gid) == 0 && ::chmod(Name.constData(), Mode) == 0;
    };
    const struct {
        const char* Kind;
        bool FolderWritable;
        // What lies in the lock's place.
        std::function<bool()> Make;
        bool Cleared;
    } locks[] = {
        {"the user's own", true, [&] { return makeFile(lockName, QByteArray(), uid, 0); }, true},
        {"another user's", true, [&] { return makeFile(lockName, QByteArray(), 0, 0); }, false},
        {"none, in a folder the user cannot write", false, [] { return true; }, false},
        {"a hard link to a read-only file of the user's own",
         true,
         [&] {
             return makeFile(document, documentContent, uid, 0400) &&
                    ::link(document.constData(), lockName.constData()) == 0;
         },
         true},
    };
    for (const auto& lock : locks) {
        SCOPED_TRACE(lock.Kind);
        ASSERT_TRUE(QDir(Folder()).removeRecursively());
        ASSERT_TRUE(QDir().mkpath(Folder() + QStringLiteral("Cache")));
        ASSERT_EQ(::chown(QFile::encodeName(FDir.path()).constData(), uid, gid), 0);
        ASSERT_EQ(::chown((folder + "Cache").constData(), uid, gid), 0);
        if (lock.FolderWritable) {
            ASSERT_EQ(::chown(folder.constData(), uid, gid), 0);
        }
        ASSERT_TRUE(lock.Make());
        QProcess other;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(HelperProcessVariable, QStringLiteral("OpenDataFolder"));
        environment.insert(QStringLiteral("HOME"), FDir.path());
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        other.setProcessEnvironment(environment);
        other.setChildProcessModifier([uid, gid] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                ::_exit(99);
        });
        other.start(QCoreApplication::applicationFilePath(), {FDir.path()});
        ASSERT_TRUE(other.waitForFinished(60000));
        const QStringList told = QString::fromLocal8Bit(other.readAllStandardOutput()).split(u'\n');
        ASSERT_EQ(other.exitCode(), 0) << other.readAllStandardError().toStdString();
        ASSERT_GE(told.size(), 2);
        EXPECT_EQ(told[0], lock.Cleared ? QStringLiteral("owner") : QStringLiteral("second"));
        if (lock.Cleared) {
            EXPECT_EQ(told[1], QString());
        } else {
            EXPECT_TRUE(told[1].contains(QString::fromLocal8Bit(lockName))) << told[1].toStdString();
        }
        EXPECT_EQ(QFileInfo::exists(Folder() + QStringLiteral("MruFiles.data")), lock.Cleared);
    }
    // Only the lock's name went; the document is as it was.
    struct stat kept {};
    ASSERT_EQ(::stat(document.constData(), &kept), 0);
    EXPECT_EQ(kept.st_mode & 07777, 0400u);
    EXPECT_EQ(kept.st_uid, uid);
    EXPECT_EQ(kept.st_nlink, 1u);
    QFile documentFile(QString::fromLocal8Bit(document));
    ASSERT_TRUE(documentFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(documentFile.readAll(), documentContent);
}

TEST_F(DataFolderTest, AFailedSaveIsReported)
{
    TDataFiles files(FDir.path());
    Open(files, 1);
    // A plain file where the cache folder belongs: the index cannot be written.
    ASSERT_TRUE(QDir(Folder() + QStringLiteral("Cache")).removeRecursively());
    QFile blocker(Folder() + QStringLiteral("Cache"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_THROW(files.Save(), EStreamError);
    // The list was still written.
    EXPECT_GT(QFileInfo(Folder() + QStringLiteral("MruFiles.data")).size(), 8);
}

TEST_F(DataFolderTest, ProcessWideFilesLiveBetweenInitialisationAndFinalisation)
{
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", FDir.path().toUtf8());
    EXPECT_THROW(DataFiles(), EArgumentError);
    InitializeDataFiles();
    EXPECT_EQ(DataFiles().ApplicationDataPath(), Folder());
    Open(DataFiles(), 1);
    FinalizeDataFiles();
    EXPECT_THROW(DataFiles(), EArgumentError);
    EXPECT_GT(QFileInfo(Folder() + QStringLiteral("MruFiles.data")).size(), 8);
    qputenv("XDG_DATA_HOME", saved);
}

} // namespace
