#include "io/settings.h"

#include "graphics/errors.h"
#include "io/filecache.h"
#include "io/mrulist.h"
#include "io/utils.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>
#include <QThread>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace Corvanith::Settings {

namespace {

std::unique_ptr<TDataFiles> TheDataFiles;

void MakeFolders(const TDataFiles& Files)
{
    QDir().mkpath(Files.ApplicationDataPath());
    QDir().mkpath(Files.CachePath());
}

// Qt creates a lock file first and writes its owner into it just after: an
// unreadable lock younger than this may be one that is being written.
constexpr std::chrono::milliseconds LockWritingTime{1000};

enum class TLockState : uint8_t { Held, LeftBehind, BeingWritten };

// Qt itself takes over the lock of a process that is gone, and of one that
// runs another program (the name of its /proc/PID/exe is not the one the
// lock's writer recorded of its own). What it leaves are locks no living
// instance can hold either: one it cannot read (a crash or a full disk
// while it was written) and one naming this very process (a restarted
// container or PID namespace gives out the same low ids again).
TLockState JudgeLock(const QLockFile& Lock, const QString& FileName)
{
    qint64 pid = 0;
    QString hostName;
    QString appName;
    if (!Lock.getLockInfo(&pid, &hostName, &appName)) {
        const qint64 age = QFileInfo(FileName).lastModified().msecsTo(QDateTime::currentDateTime());
        return std::chrono::milliseconds(std::abs(age)) < LockWritingTime ? TLockState::BeingWritten
                                                                          : TLockState::LeftBehind;
    }
    const bool thisMachine = hostName.isEmpty() || hostName == QSysInfo::machineHostName();
    return thisMachine && pid == QCoreApplication::applicationPid() ? TLockState::LeftBehind : TLockState::Held;
}

// Qt makes its lock as a new regular file that its owner can read and
// write, and writes a few short lines into it; it reads whatever lies in
// that place in full before it judges it, and waits forever on a pipe.
constexpr qint64 MaxLockFileSize = 4096;

// What lies in the lock's place. Qt can judge a lock only when it can
// read and write it; another user's that it cannot is not ours to clear.
enum class TPlaceKind : uint8_t { Free, Lock, OthersUnusable, Debris };

// Debris is what no instance can have made: anything but a regular file (a
// folder, a pipe, a link, dangling or not), a file larger than Qt ever
// writes, a file with more than one name (a hard link shares its mode and
// content with a file elsewhere) and a file of the user's own that the user
// cannot read and write.
TPlaceKind InspectPlace(const QByteArray& Path, struct stat& Place)
{
    if (::lstat(Path.constData(), &Place) != 0)
        return TPlaceKind::Free;
    if (!S_ISREG(Place.st_mode) || Place.st_size > MaxLockFileSize || Place.st_nlink > 1)
        return TPlaceKind::Debris;
    if (::access(Path.constData(), R_OK | W_OK) == 0)
        return TPlaceKind::Lock;
    return Place.st_uid == ::geteuid() ? TPlaceKind::Debris : TPlaceKind::OthersUnusable;
}

enum class TLockPlace : uint8_t { Usable, Cleared, Busy };

QString FailureText(const QString& FileName, const QString& Reason)
{
    return QStringLiteral("The data folder cannot be locked: %1: %2. The recent documents of this run will not be "
                          "saved.")
        .arg(QDir::toNativeSeparators(FileName), Reason);
}

// Debris is removed by its name under Qt's ".rmlock", as a lock left behind
// is; a folder only when it is empty. Nothing in that place ever has its
// mode or content changed. Failure fills Failure.
TLockPlace ClearLockPlace(const QString& FileName, QString& Failure)
{
    const QByteArray path = QFile::encodeName(FileName);
    struct stat place {};
    switch (InspectPlace(path, place)) {
    case TPlaceKind::Free:
    case TPlaceKind::Lock:
        return TLockPlace::Usable;
    case TPlaceKind::OthersUnusable:
        Failure = FailureText(FileName, qt_error_string(errno));
        return TLockPlace::Cleared;
    case TPlaceKind::Debris:
        break;
    }
    QLockFile removal(FileName + QStringLiteral(".rmlock"));
    if (!removal.tryLock(0))
        return TLockPlace::Busy;
    // Judged again under the removal lock: another instance may have cleared
    // the place and made its lock meanwhile.
    if (InspectPlace(path, place) != TPlaceKind::Debris)
        return TLockPlace::Cleared;
    const int removed = S_ISDIR(place.st_mode) ? ::rmdir(path.constData()) : ::unlink(path.constData());
    if (removed != 0)
        Failure = FailureText(FileName, qt_error_string(errno));
    return TLockPlace::Cleared;
}

struct TFolderLock {
    std::unique_ptr<QLockFile> Lock;
    // Why no lock was taken although no living instance holds one.
    QString Failure;
};

// The folder's lock, or none when a living instance holds it. A lock left
// behind is judged again and removed under Qt's own ".rmlock", so that
// instances starting together remove one after the other and never a lock
// another one has just made; the removal itself fails while the owner still
// holds its lock file open, so a wrong judgement never takes a living lock.
TFolderLock LockFolder(const QString& FileName)
{
    TFolderLock result;
    auto lock = std::make_unique<QLockFile>(FileName);
    // Never taken for stale by its age while its owner runs, however long.
    lock->setStaleLockTime(0);
    const QDeadlineTimer deadline(2 * LockWritingTime);
    for (;;) {
        const TLockPlace place = ClearLockPlace(FileName, result.Failure);
        if (!result.Failure.isEmpty())
            return result;
        if (place == TLockPlace::Usable) {
            if (lock->tryLock(0))
                break;
            const int error = errno;
            if (lock->error() != QLockFile::LockFailedError) {
                // A data folder that could not be made is not reported; one
                // that cannot be written is.
                if (QFileInfo(QFileInfo(FileName).path()).isDir())
                    result.Failure = FailureText(FileName, qt_error_string(error));
                return result;
            }
        }
        if (deadline.hasExpired())
            return result;
        if (place == TLockPlace::Cleared)
            continue;
        const TLockState state = place == TLockPlace::Busy ? TLockState::BeingWritten : JudgeLock(*lock, FileName);
        if (state == TLockState::Held)
            return result;
        if (state == TLockState::LeftBehind) {
            QLockFile removal(FileName + QStringLiteral(".rmlock"));
            if (removal.tryLock(0)) {
                if (JudgeLock(*lock, FileName) == TLockState::LeftBehind && !lock->removeStaleLockFile())
                    return result;
                continue;
            }
        }
        QThread::msleep(20);
    }
    result.Lock = std::move(lock);
    return result;
}

} // namespace

TDataFiles::TDataFiles(const QString& ApplicationDataFolder)
    : FApplicationDataPath(ApplicationDataFolder + u'/' + QString::fromUtf8(ApplicationName) + u'/'),
      FCachePath(FApplicationDataPath + QStringLiteral("Cache/"))
{
    MakeFolders(*this);
    TFolderLock lock = LockFolder(FApplicationDataPath + QStringLiteral("Corvanith.lock"));
    FLock = std::move(lock.Lock);
    FLockFailure = std::move(lock.Failure);
    // A damaged file is read as far as it is whole; one that cannot be
    // opened at all must not keep the program from starting.
    // Such a file is then left as it is at the end, so that what it holds is
    // not replaced by this session's empty start.
    FMruList = std::make_unique<IO::TCorvMruList>(MruCapacity);
    try {
        FMruList->LoadFromFile(MruFileName());
    } catch (const EStreamError&) {
        FKeepMruFile = true;
    }
    FFileCache = std::make_unique<IO::TCorvFileCache>(FCachePath);
    try {
        FFileCache->LoadFromFile(IndexFileName());
    } catch (const EStreamError&) {
        FKeepIndexFile = true;
    }
    // Installed only now, so entries dropped while loading keep their pictures.
    // Without the lock, a loaded entry's picture still belongs to the owner's list.
    FMruList->OnRemove = [this](IO::TCorvMruList&, const IO::TCorvMruItem& Item) {
        if (OwnsFolder() || FFileCache->IsAdded(Item.Source().Location))
            FFileCache->Remove(Item.Source().Location);
    };
}

TDataFiles::~TDataFiles() = default;

QString TDataFiles::MruFileName() const { return FApplicationDataPath + QStringLiteral("MruFiles.data"); }

QString TDataFiles::IndexFileName() const { return FCachePath + QStringLiteral("Index.data"); }

void TDataFiles::Save()
{
    MakeFolders(*this);
    std::string failure;
    bool listSaved = false;
    try {
        if (OwnsFolder() && !FKeepMruFile) {
            FMruList->SaveToFile(MruFileName());
            listSaved = true;
        }
    } catch (const ECorvError& Error) {
        failure = Error.what();
    }
    // A picture this run cached stays only when the saved list reaches it:
    // otherwise nothing would ever remove it from the cache.
    QStringList reached;
    if (listSaved && !FKeepIndexFile) {
        for (int32_t i = 0; i < FMruList->GetCount(); ++i)
            reached << FMruList->GetItem(i).Source().Location;
    }
    FFileCache->RemoveAdded(reached);
    try {
        if (OwnsFolder() && !FKeepIndexFile)
            FFileCache->SaveToFile(IndexFileName());
    } catch (const ECorvError& Error) {
        // The old index stays, which knows nothing of this run's pictures.
        FFileCache->RemoveAdded();
        if (failure.empty())
            failure = Error.what();
    }
    if (!failure.empty())
        throw EStreamError(failure);
}

void InitializeDataFiles()
{
    TheDataFiles = std::make_unique<TDataFiles>(Utils::GetSpecialFolderPath(Utils::CsidlAppData));
}

void FinalizeDataFiles()
{
    const std::unique_ptr<TDataFiles> files = std::move(TheDataFiles);
    if (files)
        files->Save();
}

TDataFiles& DataFiles()
{
    if (!TheDataFiles)
        throw EArgumentError("The data files are not open");
    return *TheDataFiles;
}

} // namespace Corvanith::Settings
