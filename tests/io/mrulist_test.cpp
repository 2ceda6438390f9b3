#include "io/mrulist.h"

#include "graphics/errors.h"
#include "graphics/surface.h"
#include "platform/streams.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cstring>

namespace {

using namespace Corvanith;
using Corvanith::Document::TCorvDocumentSource;
using Corvanith::Document::TCorvDocumentSourceKind;
using Corvanith::Graphics::TCorvSurface;
using Corvanith::IO::TCorvMruItem;
using Corvanith::IO::TCorvMruList;

TCorvDocumentSource Source(TCorvDocumentSourceKind Kind, const QString& Location, const QString& Title = {})
{
    TCorvDocumentSource source;
    source.Kind = Kind;
    source.Location = Location;
    source.Time = 45000.5;
    source.Title = Title;
    return source;
}

TCorvDocumentSource FileSource(int Number)
{
    return Source(TCorvDocumentSourceKind::dskFile, QStringLiteral("/pictures/%1.png").arg(Number));
}

QStringList Locations(const TCorvMruList& List)
{
    QStringList locations;
    for (int32_t i = 0; i < List.GetCount(); ++i)
        locations << List.GetItem(i).Source().Location;
    return locations;
}

std::vector<uint8_t> Saved(const TCorvMruList& List)
{
    Platform::TMemoryStream stream;
    List.SaveToStream(stream);
    return stream.Data();
}

// The file form of one entry, written field by field.
void WriteEntry(Platform::TStream& Stream, const TCorvDocumentSource& Source, TCorvSurface* Thumbnail)
{
    Stream.WriteUInt32(1);
    Document::WriteDocumentSource(Source, Stream);
    const uint8_t flag = Thumbnail != nullptr ? 1 : 0;
    Stream.WriteBuffer(&flag, 1);
    if (Thumbnail != nullptr)
        Thumbnail->SaveToStream(Stream, Graphics::ImageFormatRawSurface);
}

std::vector<uint8_t> FileOf(int32_t Count, int Entries, TCorvSurface* Thumbnail)
{
    Platform::TMemoryStream stream;
    stream.WriteUInt32(1);
    stream.WriteUInt32(uint32_t(Count));
    for (int i = 0; i < Entries; ++i)
        WriteEntry(stream, FileSource(i), Thumbnail);
    return stream.Data();
}

void Load(TCorvMruList& List, std::vector<uint8_t> Bytes)
{
    Platform::TMemoryStream stream(std::move(Bytes));
    List.LoadFromStream(stream);
}

class MruListTest : public testing::Test {
protected:
    // Records the removals in the order they are told.
    void Watch(TCorvMruList& List)
    {
        List.OnRemove = [this](TCorvMruList& From, const TCorvMruItem& Item) {
            EXPECT_NE(From.FindBySource(Item.Source()), nullptr);
            FRemoved << Item.Source().Location;
        };
    }

    std::unique_ptr<TCorvSurface> FPicture = TCorvSurface::CreateFilled(200, 100, 0xFF336699);
    QStringList FRemoved;
};

TEST_F(MruListTest, KeepsTheSevenMostRecentWithThumbnails)
{
    TCorvMruList list(7);
    Watch(list);
    for (int i = 1; i <= 8; ++i)
        list.Add(FileSource(i), *FPicture);
    ASSERT_EQ(list.GetCount(), 7);
    EXPECT_EQ(list.GetItem(0).Source().Location, QStringLiteral("/pictures/8.png"));
    EXPECT_EQ(list.GetItem(6).Source().Location, QStringLiteral("/pictures/2.png"));
    EXPECT_EQ(FRemoved, QStringList{QStringLiteral("/pictures/1.png")});
    const TCorvSurface* thumbnail = list.GetItem(0).Thumbnail();
    ASSERT_NE(thumbnail, nullptr);
    EXPECT_EQ(thumbnail->Width(), 56);
    EXPECT_EQ(thumbnail->Height(), 28);
    EXPECT_EQ(*thumbnail->GetPixelPtr(10, 10), 0xFF336699u);
    EXPECT_THROW(list.GetItem(7), ERangeError);
    EXPECT_THROW(list.GetItem(-1), ERangeError);
}

TEST_F(MruListTest, AddingAKnownSourceMovesItToTheFrontAsNew)
{
    TCorvMruList list(7);
    Watch(list);
    list.Add(Source(TCorvDocumentSourceKind::dskWebPage, QStringLiteral("http://example.com/"), QStringLiteral("Old")), *FPicture);
    list.Add(FileSource(1), *FPicture);
    const auto other = TCorvSurface::CreateFilled(40, 30, 0xFFFF0000);
    list.Add(Source(TCorvDocumentSourceKind::dskWebPage, QStringLiteral("HTTP://EXAMPLE.COM/"), QStringLiteral("New")), *other);
    ASSERT_EQ(list.GetCount(), 2);
    EXPECT_EQ(list.GetItem(0).Source().Title, QStringLiteral("New"));
    EXPECT_EQ(list.GetItem(0).Source().Location, QStringLiteral("HTTP://EXAMPLE.COM/"));
    EXPECT_EQ(list.GetItem(0).Thumbnail()->Width(), 40);
    EXPECT_TRUE(FRemoved.isEmpty());
}

TEST_F(MruListTest, SameLocationOfAnotherKindIsAnotherEntry)
{
    TCorvMruList list(7);
    const QString url = QStringLiteral("http://example.com/a");
    list.Add(Source(TCorvDocumentSourceKind::dskUrl, url), *FPicture);
    list.Add(Source(TCorvDocumentSourceKind::dskWebPage, url), *FPicture);
    EXPECT_EQ(list.GetCount(), 2);
    EXPECT_EQ(list.FindBySource(Source(TCorvDocumentSourceKind::dskUrl, url.toUpper())), &list.GetItem(1));
    EXPECT_EQ(list.FindBySource(Source(TCorvDocumentSourceKind::dskFile, url)), nullptr);
}

TEST_F(MruListTest, ClearTellsEveryEntryOldestFirst)
{
    TCorvMruList list(7);
    Watch(list);
    for (int i = 1; i <= 3; ++i)
        list.Add(FileSource(i), *FPicture);
    list.Clear();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(FRemoved, (QStringList{QStringLiteral("/pictures/1.png"), QStringLiteral("/pictures/2.png"),
                                     QStringLiteral("/pictures/3.png")}));
}

TEST_F(MruListTest, EmptyListSavesEightBytes)
{
    EXPECT_EQ(Saved(TCorvMruList(7)), (std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(MruListTest, FileRoundTripKeepsSourcesAndThumbnailPixels)
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("MruFiles.data"));
    TCorvMruList list(7);
    list.Add(Source(TCorvDocumentSourceKind::dskClipboard, QStringLiteral("clipboard://1/2/2024/7")), *FPicture);
    list.Add(Source(TCorvDocumentSourceKind::dskWebPage, QStringLiteral("http://x/é"), QStringLiteral("Tïtle")),
             *TCorvSurface::CreateFilled(30, 100, 0x80FF0000));
    list.SaveToFile(name);

    const TCorvMruList loaded(7, name);
    ASSERT_EQ(loaded.GetCount(), 2);
    for (int32_t i = 0; i < 2; ++i) {
        EXPECT_EQ(loaded.GetItem(i).Source(), list.GetItem(i).Source());
        const TCorvSurface& a = *loaded.GetItem(i).Thumbnail();
        const TCorvSurface& b = *list.GetItem(i).Thumbnail();
        ASSERT_EQ(a.Width(), b.Width());
        ASSERT_EQ(a.Height(), b.Height());
        EXPECT_EQ(std::memcmp(a.Bits(), b.Bits(), size_t(a.Width()) * a.Height() * 4), 0);
    }
    EXPECT_EQ(Saved(loaded), Saved(list));
    EXPECT_EQ(TCorvMruList(7, dir.filePath(QStringLiteral("none.data"))).GetCount(), 0);
}

// The file form spelled out byte by byte, independent of every writer.
TEST_F(MruListTest, ReadsAndWritesTheFileFormByteForByte)
{
    std::vector<uint8_t> bytes;
    const auto int32 = [&](uint32_t Value) {
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(uint8_t(Value >> shift));
    };
    const auto text = [&](const char* Text) {
        int32(uint32_t(std::strlen(Text)));
        bytes.insert(bytes.end(), Text, Text + std::strlen(Text));
    };
    const auto time = [&] { // 45000.5 as a little-endian IEEE double
        for (const uint8_t b : {0x00, 0x00, 0x00, 0x00, 0x10, 0xF9, 0xE5, 0x40})
            bytes.push_back(b);
    };
    int32(1); // file version
    int32(2); // count
    int32(1); // entry version
    int32(1);
    int32(2); // dskUrl
    time();
    text("http://a/b.png");
    text("");
    bytes.push_back(1);
    for (const uint8_t b : {'U', 'S', 'Q', 'V'})
        bytes.push_back(b);
    int32(1);
    int32(2); // width
    int32(1); // height
    int32(0x11223344);
    int32(0x80FF0000);
    int32(1);
    int32(1);
    int32(3); // dskWebPage
    time();
    text("http://b/");
    text("Page");
    bytes.push_back(0);

    TCorvMruList list(7);
    Load(list, bytes);
    ASSERT_EQ(list.GetCount(), 2);
    EXPECT_EQ(list.GetItem(0).Source(), Source(TCorvDocumentSourceKind::dskUrl, QStringLiteral("http://a/b.png")));
    const TCorvSurface* thumbnail = list.GetItem(0).Thumbnail();
    ASSERT_NE(thumbnail, nullptr);
    ASSERT_EQ(thumbnail->Width(), 2);
    ASSERT_EQ(thumbnail->Height(), 1);
    EXPECT_EQ(*thumbnail->GetPixelPtr(0, 0), 0x11223344u);
    EXPECT_EQ(*thumbnail->GetPixelPtr(1, 0), 0x80FF0000u);
    EXPECT_EQ(list.GetItem(1).Source(),
              Source(TCorvDocumentSourceKind::dskWebPage, QStringLiteral("http://b/"), QStringLiteral("Page")));
    EXPECT_EQ(list.GetItem(1).Thumbnail(), nullptr);
    EXPECT_EQ(Saved(list), bytes);
}

TEST_F(MruListTest, EntryWithoutThumbnailStaysWithout)
{
    const std::vector<uint8_t> bytes = FileOf(2, 2, nullptr);
    TCorvMruList list(7);
    Load(list, bytes);
    ASSERT_EQ(list.GetCount(), 2);
    EXPECT_EQ(list.GetItem(0).Thumbnail(), nullptr);
    EXPECT_EQ(Saved(list), bytes);
}

TEST_F(MruListTest, CountsOutsideTheCapacity)
{
    QTemporaryDir dir;
    struct Case {
        int32_t Count;
        int Entries;
        int32_t Expected;
    };
    const Case cases[] = {{0, 1, 0}, {-1, 1, 0}, {INT32_MIN, 0, 0}, {10, 10, 7}, {3, 10, 3}};
    for (const Case& c : cases) {
        const QString name = dir.filePath(QStringLiteral("MruFiles.data"));
        {
            QFile file(name);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            const std::vector<uint8_t> bytes = FileOf(c.Count, c.Entries, FPicture.get());
            file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        }
        const TCorvMruList list(7, name);
        EXPECT_EQ(list.GetCount(), c.Expected) << c.Count;
        if (c.Expected == 7) {
            EXPECT_EQ(Locations(list).last(), QStringLiteral("/pictures/6.png"));
        }
    }
}

// A damaged file must neither invent entries nor lose the whole ones.
TEST_F(MruListTest, DamagedFileKeepsTheEntriesReadWhole)
{
    const auto thumbnail = TCorvSurface::CreateFilled(4, 3, 0xFF00FF00);
    Platform::TMemoryStream one;
    WriteEntry(one, FileSource(0), thumbnail.get());
    const auto entrySize = int64_t(one.Data().size());
    const std::vector<uint8_t> whole = FileOf(2, 2, thumbnail.get());
    const auto cut = [&](int64_t Size) { return std::vector<uint8_t>(whole.begin(), whole.begin() + Size); };

    // An entry whose flag promises a thumbnail that is no raw block.
    Platform::TMemoryStream notRaw(FileOf(2, 1, nullptr));
    notRaw.Seek(int64_t(0), Platform::TSeekOrigin::soEnd);
    notRaw.WriteUInt32(1);
    Document::WriteDocumentSource(FileSource(1), notRaw);
    const uint8_t png[] = {1, 0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0};
    notRaw.WriteBuffer(png, int32_t(sizeof(png)));
    // A raw block whose size is far beyond the file.
    std::vector<uint8_t> huge = FileOf(1, 1, thumbnail.get());
    const size_t header = huge.size() - 4 * 3 * 4 - 8;
    huge[header] = 0xFF;
    huge[header + 1] = 0x7F;

    // A raw block of no pixels whose rows could not be addressed.
    std::vector<uint8_t> endless = FileOf(1, 1, nullptr);
    endless.back() = 1;
    for (const uint8_t b : std::initializer_list<uint8_t>{'U', 'S', 'Q', 'V', 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0})
        endless.push_back(b);

    struct Case {
        const char* Name;
        std::vector<uint8_t> Bytes;
        int32_t Expected;
    };
    const Case cases[] = {
        {"empty", {}, 0},
        {"count cut", cut(6), 0},
        {"first entry cut", cut(8 + entrySize - 1), 0},
        {"first whole", cut(8 + entrySize), 1},
        {"second entry cut in its source", cut(8 + entrySize + 10), 1},
        {"second entry cut in its pixels", cut(int64_t(whole.size()) - 1), 1},
        {"whole", whole, 2},
        {"thumbnail not raw", notRaw.Data(), 1},
        // A thumbnail that cannot fit the box is dropped, its entry kept.
        {"thumbnail beyond the file", huge, 1},
        {"thumbnail rows beyond any stride", endless, 1},
    };
    for (const Case& c : cases) {
        TCorvMruList list(7);
        Watch(list);
        Load(list, c.Bytes);
        EXPECT_EQ(list.GetCount(), c.Expected) << c.Name;
        for (int32_t i = 0; i < list.GetCount(); ++i) {
            EXPECT_EQ(list.GetItem(i).Source().Location, FileSource(i).Location) << c.Name;
            if (const TCorvSurface* kept = list.GetItem(i).Thumbnail()) {
                EXPECT_EQ(kept->Width(), 4) << c.Name;
            }
        }
    }
    EXPECT_TRUE(FRemoved.isEmpty());
}

TEST_F(MruListTest, DamagedRecordLeavesTheEntryAsItWas)
{
    TCorvMruItem item(FileSource(5), TCorvSurface::CreateFilled(2, 2, 0xFF000000));
    const auto thumbnail = TCorvSurface::CreateFilled(40, 30, 0xFF336699);
    std::vector<uint8_t> bytes = FileOf(1, 1, thumbnail.get());
    Platform::TMemoryStream stream(std::vector<uint8_t>(bytes.begin() + 8, bytes.end() - 1));
    EXPECT_THROW(item.LoadFromStream(stream), EStreamError);
    EXPECT_EQ(item.Source().Location, FileSource(5).Location);
    ASSERT_NE(item.Thumbnail(), nullptr);
    EXPECT_EQ(item.Thumbnail()->Width(), 2);
}

} // namespace
