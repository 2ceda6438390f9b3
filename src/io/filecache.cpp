#include "io/filecache.h"

#include "graphics/errors.h"
#include "io/datafiles.h"
#include "io/utils.h"
#include "platform/streams.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <mutex>
#include <set>

namespace Corvanith::IO {

// The files of the cache that have a stream open on them. A stream may be
// freed on another thread than the one that opened it, and after the cache.
struct TCorvFileCache::TOpenFiles {
    std::mutex Lock;
    std::set<QString> Names;
};

namespace {

constexpr uint32_t IndexVersion = 1;

// A cache file that no other opening reaches while it lives.
class TCacheEntryStream : public Platform::TDeviceStream {
public:
    TCacheEntryStream(std::unique_ptr<QFile> File, std::shared_ptr<void> Claim)
        : TDeviceStream(std::move(File)), FClaim(std::move(Claim))
    {
    }

private:
    // Releases the file's name from the open set when the stream goes.
    std::shared_ptr<void> FClaim;
};

bool SameKey(const QString& A, const QString& B) { return QString::compare(A, B, Qt::CaseInsensitive) == 0; }

} // namespace

TCorvFileCache::TCorvFileCacheItem TCorvFileCache::TCorvFileCacheItem::CreateFromStream(Platform::TStream& Stream)
{
    Stream.ReadUInt32(); // every version reads alike
    QString key = ReadText(Stream);
    QString fileName = ReadText(Stream);
    return {std::move(key), std::move(fileName)};
}

void TCorvFileCache::TCorvFileCacheItem::SaveToStream(Platform::TStream& Stream) const
{
    Stream.WriteUInt32(IndexVersion);
    WriteText(Stream, FKey);
    WriteText(Stream, FFileName);
}

TCorvFileCache::TCorvFileCache(const QString& CacheFolder)
    : FCacheFolder(QDir::cleanPath(QDir(CacheFolder).absolutePath()) + u'/'),
      FOpenFiles(std::make_shared<TOpenFiles>())
{
}

std::unique_ptr<TCorvFileCache> TCorvFileCache::CreateFromIndex(const QString& IndexFileName,
                                                                const QString& CacheFolder)
{
    auto cache = std::make_unique<TCorvFileCache>(CacheFolder);
    cache->LoadFromFile(IndexFileName);
    return cache;
}

TCorvFileCache::~TCorvFileCache() = default;

const TCorvFileCache::TCorvFileCacheItem& TCorvFileCache::Item(int32_t Index) const
{
    if (Index < 0 || Index >= Count())
        throw ERangeError("Cache entry index out of range");
    return FList[size_t(Index)];
}

const TCorvFileCache::TCorvFileCacheItem* TCorvFileCache::Find(const QString& Key) const
{
    const auto found = std::find_if(FList.begin(), FList.end(), [&](const auto& i) { return SameKey(i.Key(), Key); });
    return found == FList.end() ? nullptr : &*found;
}

std::unique_ptr<Platform::TStream> TCorvFileCache::OpenEntry(const QString& Key)
{
    // The folder may have been deleted while the program ran; a known entry's
    // file is then made again, empty, like any other file that went.
    QDir().mkpath(FCacheFolder);
    const TCorvFileCacheItem* item = Find(Key);
    const QString fileName = item != nullptr ? item->FileName() : NewFileName();
    {
        const std::lock_guard lock(FOpenFiles->Lock);
        if (!FOpenFiles->Names.insert(fileName).second)
            throw EStreamError("The cache file \"" + fileName.toStdString() + "\" is already open");
    }
    std::shared_ptr<void> claim(nullptr, [openFiles = FOpenFiles, fileName](void*) {
        const std::lock_guard lock(openFiles->Lock);
        openFiles->Names.erase(fileName);
    });
    auto file = std::make_unique<QFile>(fileName);
    if (!file->open(QIODevice::ReadWrite)) {
        if (item == nullptr)
            QFile::remove(fileName);
        throw EStreamError("Cannot open the cache file \"" + fileName.toStdString()
                           + "\": " + file->errorString().toStdString());
    }
    // Only an entry whose file is open joins the cache.
    if (item == nullptr) {
        FList.emplace_back(Key, fileName);
        FAdded.insert(fileName);
    }
    return std::make_unique<TCacheEntryStream>(std::move(file), std::move(claim));
}

std::unique_ptr<Platform::TStream> TCorvFileCache::OpenScratch() const
{
    QDir().mkpath(FCacheFolder);
    // Not named like a cache file, so no index ever takes it for one.
    return std::make_unique<Platform::TTemporaryFileStream>(FCacheFolder + QStringLiteral("Scratch-XXXXXX"));
}

QString TCorvFileCache::NewFileName() const
{
    // A removed entry's file may still be open, its name claimed, when a new
    // key comes: the new file must get another name.
    return Utils::CreateTempFileName(FCacheFolder, QStringLiteral("Fci"), [this](const QString& Name) {
        const std::lock_guard lock(FOpenFiles->Lock);
        return FOpenFiles->Names.count(Name) > 0;
    });
}

void TCorvFileCache::Remove(const QString& Key)
{
    const auto found = std::find_if(FList.begin(), FList.end(), [&](const auto& i) { return SameKey(i.Key(), Key); });
    if (found == FList.end())
        return;
    QFile::remove(found->FileName());
    FAdded.erase(found->FileName());
    FList.erase(found);
}

bool TCorvFileCache::IsAdded(const QString& Key) const
{
    const TCorvFileCacheItem* item = Find(Key);
    return item != nullptr && FAdded.count(item->FileName()) > 0;
}

void TCorvFileCache::RemoveAdded(const QStringList& Keep)
{
    std::erase_if(FList, [&](const TCorvFileCacheItem& i) {
        if (FAdded.count(i.FileName()) == 0
            || std::any_of(Keep.begin(), Keep.end(), [&](const QString& Key) { return SameKey(i.Key(), Key); }))
            return false;
        QFile::remove(i.FileName());
        FAdded.erase(i.FileName());
        return true;
    });
}

void TCorvFileCache::RemoveMissing()
{
    std::erase_if(FList, [](const TCorvFileCacheItem& i) { return !QFileInfo(i.FileName()).isFile(); });
}

bool TCorvFileCache::IsCacheFile(const QString& FileName) const
{
    static const QRegularExpression CacheFileName(QStringLiteral("^Fci[0-9A-F]{1,4}\\.TMP$"),
                                                  QRegularExpression::CaseInsensitiveOption);
    const QFileInfo info(FileName);
    return info.isAbsolute() && QDir::cleanPath(info.absolutePath()) + u'/' == FCacheFolder
        && CacheFileName.match(info.fileName()).hasMatch();
}

void TCorvFileCache::LoadFromStream(Platform::TStream& Stream)
{
    try {
        Stream.ReadUInt32(); // every version reads alike
        const auto count = int32_t(Stream.ReadUInt32());
        for (int32_t i = 0; i < count; ++i) {
            TCorvFileCacheItem item = TCorvFileCacheItem::CreateFromStream(Stream);
            const QString fileName = QDir::cleanPath(item.FileName());
            const bool taken = std::any_of(FList.begin(), FList.end(),
                                           [&](const auto& e) { return e.FileName() == fileName; });
            if (IsCacheFile(fileName) && !taken)
                FList.emplace_back(item.Key(), fileName);
        }
    } catch (const ECorvError&) {
        // A damaged index keeps what was read whole.
    }
    RemoveMissing();
}

void TCorvFileCache::SaveToStream(Platform::TStream& Stream)
{
    RemoveMissing();
    Stream.WriteUInt32(IndexVersion);
    Stream.WriteUInt32(uint32_t(Count()));
    for (const TCorvFileCacheItem& item : FList)
        item.SaveToStream(Stream);
}

void TCorvFileCache::LoadFromFile(const QString& FileName)
{
    ReadFileIfExists(FileName, [this](Platform::TStream& Stream) { LoadFromStream(Stream); });
}

void TCorvFileCache::SaveToFile(const QString& FileName)
{
    ReplaceFile(FileName, [this](Platform::TStream& Stream) { SaveToStream(Stream); });
}

} // namespace Corvanith::IO
