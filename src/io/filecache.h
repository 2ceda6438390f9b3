#pragma once
// Local copies of the pictures that cannot simply be read again from a file:
// downloads, rendered web pages, captures and pasted pictures. A key (the
// document source's location, a URL or pseudo-URL, compared without regard
// to case) maps to a file in the cache folder; the map is kept across runs in
// an index file.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

namespace Corvanith::Platform {
class TStream;
}

namespace Corvanith::IO {

class TCorvFileCache {
public:
    class TCorvFileCacheItem {
    public:
        TCorvFileCacheItem(QString Key, QString FileName) : FKey(std::move(Key)), FFileName(std::move(FileName)) {}
        // One index record: int32 version (written as 1, any read alike),
        // then the key and the full path of the file as texts.
        static TCorvFileCacheItem CreateFromStream(Platform::TStream& Stream);
        void SaveToStream(Platform::TStream& Stream) const;

        const QString& Key() const { return FKey; }
        const QString& FileName() const { return FFileName; }

    private:
        QString FKey;
        QString FFileName;
    };

    // An empty cache whose files go into CacheFolder.
    explicit TCorvFileCache(const QString& CacheFolder);
    // The same, loaded from IndexFileName when that file exists.
    static std::unique_ptr<TCorvFileCache> CreateFromIndex(const QString& IndexFileName, const QString& CacheFolder);
    TCorvFileCache(const TCorvFileCache&) = delete;
    TCorvFileCache& operator=(const TCorvFileCache&) = delete;
    // The cache files stay on disk.
    ~TCorvFileCache();

    // Absolute, ending with "/".
    const QString& CacheFolder() const { return FCacheFolder; }
    int32_t Count() const { return int32_t(FList.size()); }
    const TCorvFileCacheItem& Item(int32_t Index) const;

    // The first entry in list order with that key; nullptr when none. The
    // disk is not looked at.
    const TCorvFileCacheItem* Find(const QString& Key) const;
    bool Contains(const QString& Key) const { return Find(Key) != nullptr; }

    // The entry's file open for reading and writing at its start, its content
    // intact. A new key first gets a new empty file "Fci<hex>.TMP" (never the
    // name of a file a stream still holds) and, once that file is open, an
    // entry that stays even if nothing is written; a file deleted meanwhile is
    // made again, empty. The stream is exclusive: opening the entry again
    // while it lives throws EStreamError, as does a file that cannot be
    // opened. A writer that replaces the content ends it with
    // SetSize(Position()), so nothing of a longer old content stays behind.
    std::unique_ptr<Platform::TStream> OpenEntry(const QString& Key);

    // A file of its own in the cache folder, for reading and writing, that is
    // never an entry and goes when the stream ends: room for content on its
    // way into an entry. EStreamError when it cannot be made.
    std::unique_ptr<Platform::TStream> OpenScratch() const;

    // Deletes the first entry with that key and its file (a file that cannot
    // be deleted is left); nothing when there is none.
    void Remove(const QString& Key);
    // Whether the first entry with that key got its file from this cache
    // object (OpenEntry of a new key), not from an index it loaded.
    bool IsAdded(const QString& Key) const;
    // Removes, with their files, the entries whose files this object made,
    // but for those whose keys are among Keep.
    void RemoveAdded(const QStringList& Keep = {});
    // Drops every entry whose file does not exist.
    void RemoveMissing();

    // Index form: int32 version (written as 1), int32 count, the records.
    // Loading appends the records in file order, then drops entries whose
    // files are gone. A record that ends early ends the loading with the
    // entries read whole; a record whose file is not a cache file of this
    // folder, or is already another entry's file, is skipped, so the cache
    // never deletes anything else.
    void LoadFromStream(Platform::TStream& Stream);
    // Drops entries whose files are gone first.
    void SaveToStream(Platform::TStream& Stream);
    // Nothing when FileName does not exist; EStreamError when it cannot be
    // opened.
    void LoadFromFile(const QString& FileName);
    // Replaces FileName only once the whole index is written; EStreamError.
    void SaveToFile(const QString& FileName);

private:
    struct TOpenFiles;

    bool IsCacheFile(const QString& FileName) const;
    // A new empty cache file under a name no stream holds.
    QString NewFileName() const;

    QString FCacheFolder;
    std::vector<TCorvFileCacheItem> FList;
    std::shared_ptr<TOpenFiles> FOpenFiles;
    // The files OpenEntry made for new keys.
    std::set<QString> FAdded;
};

} // namespace Corvanith::IO
