#include "io/mrulist.h"

#include "graphics/errors.h"
#include "graphics/surface.h"
#include "io/datafiles.h"
#include "platform/streams.h"

#include <algorithm>

namespace Corvanith::IO {

namespace {

constexpr uint32_t MruVersion = 1;

// A thumbnail block must be a raw surface: any other picture decoder is not
// let loose on a damaged file. A thumbnail that does not fit the thumbnail
// box, or has no pixels, is damage too: the entry keeps no thumbnail, and
// reading goes on after the block as far as the stream holds it.
std::unique_ptr<Graphics::TCorvSurface> ReadThumbnail(Platform::TStream& Stream)
{
    const int64_t start = Stream.Position();
    const uint32_t magic = Stream.ReadUInt32();
    Stream.ReadUInt32(); // version
    const auto width = int32_t(Stream.ReadUInt32());
    const auto height = int32_t(Stream.ReadUInt32());
    if (magic != Graphics::RawSurfaceMagic)
        throw EStreamError("A recent-documents entry holds no thumbnail block");
    if (width < 1 || width > MruThumbnailSize || height < 1 || height > MruThumbnailSize) {
        // Below 2^62 pixels: bounded before it is made a byte count.
        const int64_t pixels = width > 0 && height > 0 ? int64_t(width) * height : 0;
        const int64_t remaining = Stream.Remaining();
        Stream.Seek(pixels > remaining / 4 ? remaining : pixels * 4, Platform::TSeekOrigin::soCurrent);
        return nullptr;
    }
    Stream.SetPosition(start);
    return Graphics::TCorvSurface::CreateFromStream(Stream);
}
} // namespace

TCorvMruItem::TCorvMruItem(Document::TCorvDocumentSource Source, std::unique_ptr<Graphics::TCorvSurface> Thumbnail)
    : FSource(std::move(Source)), FThumbnail(std::move(Thumbnail))
{
}

std::unique_ptr<TCorvMruItem> TCorvMruItem::CreateFromPicture(const Document::TCorvDocumentSource& Source,
                                                              Graphics::TCorvSurface& Picture)
{
    return std::make_unique<TCorvMruItem>(
        Source, Picture.CreateThumbnail(MruThumbnailSize, MruThumbnailSize, true, MruThumbnailMinAspect));
}

std::unique_ptr<TCorvMruItem> TCorvMruItem::CreateFromStream(Platform::TStream& Stream)
{
    auto item = std::make_unique<TCorvMruItem>(Document::TCorvDocumentSource{}, nullptr);
    item->LoadFromStream(Stream);
    return item;
}

TCorvMruItem::~TCorvMruItem() = default;

void TCorvMruItem::LoadFromStream(Platform::TStream& Stream)
{
    Stream.ReadUInt32(); // every version reads alike
    Document::TCorvDocumentSource source;
    Document::ReadDocumentSource(source, Stream);
    uint8_t flag = 0;
    Stream.ReadBuffer(&flag, 1);
    std::unique_ptr<Graphics::TCorvSurface> thumbnail;
    if (flag != 0)
        thumbnail = ReadThumbnail(Stream);
    FSource = std::move(source);
    FThumbnail = std::move(thumbnail);
}

void TCorvMruItem::SaveToStream(Platform::TStream& Stream) const
{
    Stream.WriteUInt32(MruVersion);
    Document::WriteDocumentSource(FSource, Stream);
    const uint8_t flag = FThumbnail ? 1 : 0;
    Stream.WriteBuffer(&flag, 1);
    if (FThumbnail)
        FThumbnail->SaveToStream(Stream, Graphics::ImageFormatRawSurface);
}

TCorvMruList::TCorvMruList(int32_t Capacity, const QString& FileName) : FCapacity(Capacity)
{
    if (!FileName.isEmpty())
        LoadFromFile(FileName);
}

TCorvMruList::~TCorvMruList() = default;

const TCorvMruItem& TCorvMruList::GetItem(int32_t Index) const
{
    if (Index < 0 || Index >= GetCount())
        throw ERangeError("Recent-documents index out of range");
    return *FList[size_t(Index)];
}

const TCorvMruItem* TCorvMruList::FindBySource(const Document::TCorvDocumentSource& Source) const
{
    const auto found = std::find_if(FList.begin(), FList.end(), [&](const auto& item) {
        return Document::SameDocumentSource(item->Source(), Source);
    });
    return found == FList.end() ? nullptr : found->get();
}

void TCorvMruList::Add(const Document::TCorvDocumentSource& Source, Graphics::TCorvSurface& Picture)
{
    // The thumbnail first: a picture that cannot give one leaves the list as it was.
    auto item = TCorvMruItem::CreateFromPicture(Source, Picture);
    if (const TCorvMruItem* same = FindBySource(Source))
        std::erase_if(FList, [same](const auto& i) { return i.get() == same; });
    FList.insert(FList.begin(), std::move(item));
    Trim(FCapacity);
}

void TCorvMruList::Trim(int32_t Count)
{
    while (GetCount() > std::max(Count, 0)) {
        DoRemove(*FList.back());
        FList.pop_back();
    }
}

void TCorvMruList::DoRemove(const TCorvMruItem& Item)
{
    if (OnRemove)
        OnRemove(*this, Item);
}

void TCorvMruList::LoadFromStream(Platform::TStream& Stream)
{
    try {
        Stream.ReadUInt32(); // every version reads alike
        const auto count = int32_t(Stream.ReadUInt32());
        for (int32_t i = 0; i < count; ++i)
            FList.push_back(TCorvMruItem::CreateFromStream(Stream));
    } catch (const ECorvError&) {
        // A damaged file keeps the entries read whole.
    }
    Trim(FCapacity);
}

void TCorvMruList::SaveToStream(Platform::TStream& Stream) const
{
    Stream.WriteUInt32(MruVersion);
    Stream.WriteUInt32(uint32_t(GetCount()));
    for (const auto& item : FList)
        item->SaveToStream(Stream);
}

void TCorvMruList::LoadFromFile(const QString& FileName)
{
    ReadFileIfExists(FileName, [this](Platform::TStream& Stream) { LoadFromStream(Stream); });
}

void TCorvMruList::SaveToFile(const QString& FileName) const
{
    ReplaceFile(FileName, [this](Platform::TStream& Stream) { SaveToStream(Stream); });
}

} // namespace Corvanith::IO
