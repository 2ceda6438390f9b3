#include "io/settings.h"

#include "graphics/errors.h"
#include "io/filecache.h"
#include "io/mrulist.h"
#include "io/utils.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>
#include <QThread>

#include <chrono>
#include <cstdlib>

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

// The folder's lock, or none when a living instance holds it. A lock left
// behind is judged again and removed under Qt's own ".rmlock", so that
// instances starting together remove one after the other and never a lock
// another one has just made; the removal itself fails while the owner still
// holds its lock file open, so a wrong judgement never takes a living lock.
std::unique_ptr<QLockFile> LockFolder(const QString& FileName)
{
    auto lock = std::make_unique<QLockFile>(FileName);
    // Never taken for stale by its age while its owner runs, however long.
    lock->setStaleLockTime(0);
    const QDeadlineTimer deadline(2 * LockWritingTime);
    while (!lock->tryLock(0)) {
        if (lock->error() != QLockFile::LockFailedError || deadline.hasExpired())
            return nullptr;
        const TLockState state = JudgeLock(*lock, FileName);
        if (state == TLockState::Held)
            return nullptr;
        if (state == TLockState::LeftBehind) {
            QLockFile removal(FileName + QStringLiteral(".rmlock"));
            if (removal.tryLock(0)) {
                if (JudgeLock(*lock, FileName) == TLockState::LeftBehind && !lock->removeStaleLockFile())
                    return nullptr;
                continue;
            }
        }
        QThread::msleep(20);
    }
    return lock;
}

} // namespace

TDataFiles::TDataFiles(const QString& ApplicationDataFolder)
    : FApplicationDataPath(ApplicationDataFolder + u'/' + QString::fromUtf8(ApplicationName) + u'/'),
      FCachePath(FApplicationDataPath + QStringLiteral("Cache/"))
{
    MakeFolders(*this);
    FLock = LockFolder(FApplicationDataPath + QStringLiteral("Corvanith.lock"));
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
