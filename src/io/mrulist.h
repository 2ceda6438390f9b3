#pragma once
// The recent-documents list: the last documents opened, most recent first,
// each with its source record and a small thumbnail, kept from one run to
// the next in a file of its own.
#include "document/documentsource.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace Corvanith::Graphics {
class TCorvSurface;
}
namespace Corvanith::Platform {
class TStream;
}

namespace Corvanith::IO {

// Thumbnails fit this square, on a checkerboard where the picture may be
// transparent; pictures narrower than a quarter of their height show their
// top square.
inline constexpr int32_t MruThumbnailSize = 56;
inline constexpr float MruThumbnailMinAspect = 0.25f;

class TCorvMruItem {
public:
    // Thumbnail may be empty.
    TCorvMruItem(Document::TCorvDocumentSource Source, std::unique_ptr<Graphics::TCorvSurface> Thumbnail);
    // A copy of Source with a thumbnail of Picture.
    static std::unique_ptr<TCorvMruItem> CreateFromPicture(const Document::TCorvDocumentSource& Source,
                                                           Graphics::TCorvSurface& Picture);
    static std::unique_ptr<TCorvMruItem> CreateFromStream(Platform::TStream& Stream);
    TCorvMruItem(const TCorvMruItem&) = delete;
    TCorvMruItem& operator=(const TCorvMruItem&) = delete;
    ~TCorvMruItem();

    const Document::TCorvDocumentSource& Source() const { return FSource; }
    // Empty only for an entry read from a file that stored none, or whose
    // thumbnail was larger than MruThumbnailSize or had a side of 0.
    const Graphics::TCorvSurface* Thumbnail() const { return FThumbnail.get(); }

    // One entry record: int32 version (written as 1, any read alike), the
    // source record, a one-byte flag and, when it is not 0, the thumbnail as
    // a raw surface block. A record that ends early or holds something else
    // than a raw block after its flag throws EStreamError and leaves the
    // entry as it was.
    void LoadFromStream(Platform::TStream& Stream);
    void SaveToStream(Platform::TStream& Stream) const;

private:
    Document::TCorvDocumentSource FSource;
    std::unique_ptr<Graphics::TCorvSurface> FThumbnail;
};

class TCorvMruList;

// Told about an entry just before the list lets go of it because it fell off
// the end or the list was cleared; it must not change the list.
using TCorvMruRemoveProc = std::function<void(TCorvMruList& List, const TCorvMruItem& Item)>;

class TCorvMruList {
public:
    // An empty list, loaded from FileName when that is given and exists.
    explicit TCorvMruList(int32_t Capacity, const QString& FileName = {});
    TCorvMruList(const TCorvMruList&) = delete;
    TCorvMruList& operator=(const TCorvMruList&) = delete;
    // Frees the entries without telling OnRemove.
    ~TCorvMruList();

    TCorvMruRemoveProc OnRemove;

    int32_t Capacity() const { return FCapacity; }
    int32_t GetCount() const { return int32_t(FList.size()); }
    // 0 is the most recent; ERangeError outside 0 .. GetCount() - 1.
    const TCorvMruItem& GetItem(int32_t Index) const;
    // The first entry from the most recent on with the same kind and a
    // location equal without regard to case; nullptr when none.
    const TCorvMruItem* FindBySource(const Document::TCorvDocumentSource& Source) const;

    // Records a document as the most recent: an entry with the same source
    // goes (without OnRemove: its cached picture still serves), the new one,
    // with a fresh thumbnail of Picture, comes first, and an entry beyond the
    // capacity falls off the end.
    void Add(const Document::TCorvDocumentSource& Source, Graphics::TCorvSurface& Picture);
    // Every entry goes, the oldest first, each through OnRemove.
    void Clear() { Trim(0); }
    // Drops entries from the end, each through OnRemove, until at most Count
    // remain.
    void Trim(int32_t Count);

    // File form: int32 version (written as 1), int32 count, the entries from
    // the most recent on. Loading appends the entries in file order, stopping
    // at the first one that is damaged or cut short with those read whole,
    // then trims to the capacity.
    void LoadFromStream(Platform::TStream& Stream);
    void SaveToStream(Platform::TStream& Stream) const;
    // Nothing when FileName does not exist; EStreamError when it cannot be
    // opened.
    void LoadFromFile(const QString& FileName);
    // Replaces FileName only once the whole list is written; EStreamError.
    void SaveToFile(const QString& FileName) const;

private:
    void DoRemove(const TCorvMruItem& Item);

    int32_t FCapacity;
    std::vector<std::unique_ptr<TCorvMruItem>> FList;
};

} // namespace Corvanith::IO
