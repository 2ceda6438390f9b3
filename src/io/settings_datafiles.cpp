#include "io/settings.h"

#include "graphics/errors.h"
#include "io/filecache.h"
#include "io/mrulist.h"
#include "io/utils.h"

#include <QDir>

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
    FMruList->OnRemove = [cache = FFileCache.get()](IO::TCorvMruList&, const IO::TCorvMruItem& Item) {
        cache->Remove(Item.Source().Location);
    };
}

TDataFiles::~TDataFiles() = default;

QString TDataFiles::MruFileName() const { return FApplicationDataPath + QStringLiteral("MruFiles.data"); }

QString TDataFiles::IndexFileName() const { return FCachePath + QStringLiteral("Index.data"); }

void TDataFiles::Save()
{
    MakeFolders(*this);
    std::string failure;
    try {
        if (!FKeepMruFile)
            FMruList->SaveToFile(MruFileName());
    } catch (const ECorvError& Error) {
        failure = Error.what();
    }
    try {
        if (!FKeepIndexFile)
            FFileCache->SaveToFile(IndexFileName());
    } catch (const ECorvError& Error) {
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
