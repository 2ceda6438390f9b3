#include "io/settings.h"

#include "graphics/errors.h"
#include "io/filecache.h"
#include "io/mrulist.h"
#include "io/utils.h"

#include <QDir>
#include <QLockFile>

namespace Corvanith::Settings {

namespace {

std::unique_ptr<TDataFiles> TheDataFiles;

void MakeFolders(const TDataFiles& Files)
{
    QDir().mkpath(Files.ApplicationDataPath());
    QDir().mkpath(Files.CachePath());
}

} // namespace

TDataFiles::TDataFiles(const QString& ApplicationDataFolder)
    : FApplicationDataPath(ApplicationDataFolder + u'/' + QString::fromUtf8(ApplicationName) + u'/'),
      FCachePath(FApplicationDataPath + QStringLiteral("Cache/"))
{
    MakeFolders(*this);
    // Never taken for stale while its owner runs, however long: only the
    // lock of an instance that is gone is.
    auto lock = std::make_unique<QLockFile>(FApplicationDataPath + QStringLiteral("Corvanith.lock"));
    lock->setStaleLockTime(0);
    if (lock->tryLock(0))
        FLock = std::move(lock);
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
