// The three forms the program reads back from the user's disk, written by
// their own writers and then damaged: cut at every offset and overwritten at
// every offset with the sizes a damaged field is most likely to hold.
#include "document/documentsource.h"
#include "graphics/errors.h"
#include "graphics/graphics.h"
#include "graphics/surface.h"
#include "io/filecache.h"
#include "io/mrulist.h"
#include "io/utils.h"
#include "platform/streams.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFont>
#include <QTemporaryDir>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>

namespace {

using namespace Corvanith;
using Document::TCorvDocumentSource;
using Graphics::TCorvSurface;
using IO::TCorvFileCache;
using IO::TCorvMruList;

constexpr int32_t Capacity = 7;

// 0, 1, the thumbnail box and one beyond it, the largest and negative sizes.
const int32_t DamagedValues[] = {0, 1, 56, 57, INT32_MAX, -1, -56, INT32_MIN};

std::vector<uint8_t> Saved(const std::function<void(Platform::TStream&)>& Write)
{
    Platform::TMemoryStream stream;
    Write(stream);
    return stream.Data();
}

// Where each record of a file ends, given the record writer: the records
// follow the 8 bytes of version and count.
std::vector<size_t> RecordEnds(int32_t Count, const std::function<void(int32_t, Platform::TStream&)>& Write)
{
    std::vector<size_t> ends;
    size_t end = 8;
    for (int32_t i = 0; i < Count; ++i) {
        end += Saved([&](Platform::TStream& s) { Write(i, s); }).size();
        ends.push_back(end);
    }
    return ends;
}

// How many of those records lie wholly before Offset.
int32_t RecordsBefore(const std::vector<size_t>& Ends, size_t Offset)
{
    return int32_t(std::upper_bound(Ends.begin(), Ends.end(), Offset) - Ends.begin());
}

// Every cut, then every offset overwritten with every damaged value.
void ForEachDamage(const std::vector<uint8_t>& Bytes,
                   const std::function<void(const std::vector<uint8_t>& Damaged, size_t DamageAt)>& Check)
{
    for (size_t length = 0; length < Bytes.size(); ++length)
        Check({Bytes.begin(), Bytes.begin() + ptrdiff_t(length)}, length);
    for (size_t at = 0; at + 4 <= Bytes.size(); ++at)
        for (const int32_t value : DamagedValues) {
            std::vector<uint8_t> damaged = Bytes;
            std::memcpy(damaged.data() + at, &value, 4);
            if (damaged != Bytes)
                Check(damaged, at);
        }
}

// Picture sources whose thumbnails take several shapes: wide, tall, with
// alpha; small, so that every offset can be tried.
std::vector<std::pair<TCorvDocumentSource, std::unique_ptr<TCorvSurface>>> Documents()
{
    std::vector<std::pair<TCorvDocumentSource, std::unique_ptr<TCorvSurface>>> documents;
    documents.emplace_back(Document::MakeFileSource(QStringLiteral("/pictures/wide.png")),
                           TCorvSurface::CreateFilled(9, 4, 0xFF336699));
    documents.emplace_back(Document::MakeWebPageSource(QStringLiteral("http://example.com/"), QStringLiteral("Page")),
                           TCorvSurface::CreateFilled(3, 7, 0x80FF0000));
    documents.emplace_back(Document::MakeCaptureSource(Document::TCorvDocumentSourceKind::dskScreenshot,
                                                       QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)), 42),
                           TCorvSurface::CreateFilled(5, 5, 0xFF00FF00));
    return documents;
}

// What the main window does with every entry when the recent menu opens.
void BuildRecentMenu(const TCorvMruList& List)
{
    for (int32_t i = 0; i < List.GetCount(); ++i) {
        const IO::TCorvMruItem& entry = List.GetItem(i);
        Utils::ShortenText(Document::DocumentSourceToMenuText(entry.Source()), 250, QFont());
        if (entry.Thumbnail() != nullptr) {
            EXPECT_LE(entry.Thumbnail()->Width(), IO::MruThumbnailSize);
            EXPECT_LE(entry.Thumbnail()->Height(), IO::MruThumbnailSize);
            Graphics::CreateThumbnailBox(*entry.Thumbnail(), 60);
        }
    }
}

TEST(StoredForms, DamagedRecentListsKeepTheEntriesBeforeTheDamage)
{
    TCorvMruList original(Capacity);
    auto documents = Documents();
    for (auto it = documents.rbegin(); it != documents.rend(); ++it)
        original.Add(it->first, *it->second);
    const std::vector<uint8_t> bytes = Saved([&](Platform::TStream& s) { original.SaveToStream(s); });
    const std::vector<size_t> ends =
        RecordEnds(original.GetCount(), [&](int32_t I, Platform::TStream& S) { original.GetItem(I).SaveToStream(S); });
    ASSERT_EQ(ends.back(), bytes.size());

    ForEachDamage(bytes, [&](const std::vector<uint8_t>& Damaged, size_t DamageAt) {
        SCOPED_TRACE(testing::Message() << "damage at " << DamageAt << " of " << bytes.size());
        TCorvMruList list(Capacity);
        Platform::TMemoryStream stream(Damaged);
        list.LoadFromStream(stream);
        ASSERT_LE(list.GetCount(), Capacity);
        if (DamageAt >= 8) {
            const int32_t whole = RecordsBefore(ends, DamageAt);
            ASSERT_GE(list.GetCount(), whole);
            for (int32_t i = 0; i < whole; ++i) {
                const IO::TCorvMruItem& read = list.GetItem(i);
                ASSERT_TRUE(Document::SameDocumentSource(read.Source(), original.GetItem(i).Source())) << i;
                ASSERT_NE(read.Thumbnail(), nullptr) << i;
                EXPECT_EQ(read.Thumbnail()->Width(), original.GetItem(i).Thumbnail()->Width()) << i;
            }
            // A cut file makes no entry from the missing part.
            if (Damaged.size() < bytes.size()) {
                EXPECT_EQ(list.GetCount(), whole);
            }
        }
        BuildRecentMenu(list);
    });
}

TEST(StoredForms, DamagedIndexesKeepTheEntriesBeforeTheDamage)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TCorvFileCache original(dir.path());
    for (const auto& [source, picture] : Documents())
        original.OpenEntry(source.Location);
    const std::vector<uint8_t> bytes = Saved([&](Platform::TStream& s) { original.SaveToStream(s); });
    const std::vector<size_t> ends =
        RecordEnds(original.Count(), [&](int32_t I, Platform::TStream& S) { original.Item(I).SaveToStream(S); });
    ASSERT_EQ(ends.back(), bytes.size());

    ForEachDamage(bytes, [&](const std::vector<uint8_t>& Damaged, size_t DamageAt) {
        SCOPED_TRACE(testing::Message() << "damage at " << DamageAt << " of " << bytes.size());
        TCorvFileCache cache(dir.path());
        Platform::TMemoryStream stream(Damaged);
        cache.LoadFromStream(stream);
        ASSERT_LE(cache.Count(), original.Count());
        // Never a file that is not one of the cache's own.
        for (int32_t i = 0; i < cache.Count(); ++i) {
            bool known = false;
            for (int32_t j = 0; j < original.Count(); ++j)
                known = known || cache.Item(i).FileName() == original.Item(j).FileName();
            ASSERT_TRUE(known) << cache.Item(i).FileName().toStdString();
        }
        if (DamageAt >= 8) {
            const int32_t whole = RecordsBefore(ends, DamageAt);
            ASSERT_GE(cache.Count(), whole);
            for (int32_t i = 0; i < whole; ++i) {
                ASSERT_EQ(cache.Item(i).Key(), original.Item(i).Key());
                ASSERT_EQ(cache.Item(i).FileName(), original.Item(i).FileName());
            }
            if (Damaged.size() < bytes.size()) {
                EXPECT_EQ(cache.Count(), whole);
            }
        }
    });
}

TEST(StoredForms, DamagedRawSurfacesReadWholeOrThrowTheStreamError)
{
    auto picture = TCorvSurface::Create(5, 3);
    for (int32_t i = 0; i < 15; ++i)
        picture->GetPixelPtr(0, 0)[i] = 0x01020304u * uint32_t(i + 1);
    const std::vector<uint8_t> bytes =
        Saved([&](Platform::TStream& s) { picture->SaveToStream(s, Graphics::ImageFormatRawSurface); });
    ForEachDamage(bytes, [&](const std::vector<uint8_t>& Damaged, size_t DamageAt) {
        SCOPED_TRACE(testing::Message() << "damage at " << DamageAt << " of " << bytes.size());
        Platform::TMemoryStream stream(Damaged);
        try {
            auto read = TCorvSurface::CreateFromStream(stream);
            // Only as many pixels as the stream holds.
            EXPECT_LE(16 + int64_t(read->Width()) * read->Height() * 4, int64_t(Damaged.size()));
            EXPECT_EQ(stream.Position(), 16 + int64_t(read->Width()) * read->Height() * 4);
        } catch (const EStreamError&) {
            // One error for every damaged stream.
        }
    });
}

} // namespace
