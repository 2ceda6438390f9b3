#include "io/filecache.h"

#include "graphics/errors.h"
#include "platform/streams.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>

namespace {

using namespace Corvanith;
using Corvanith::IO::TCorvFileCache;

// The index form written byte by byte, independent of the cache's writer.
class IndexBytes {
public:
    IndexBytes& Int32(int32_t Value)
    {
        char bytes[4];
        qToLittleEndian(Value, bytes);
        FBytes.append(bytes, 4);
        return *this;
    }
    IndexBytes& Text(const QString& Text)
    {
        const QByteArray utf8 = Text.toUtf8();
        Int32(int32_t(utf8.size()));
        FBytes.append(utf8);
        return *this;
    }
    IndexBytes& Record(const QString& Key, const QString& FileName) { return Int32(1).Text(Key).Text(FileName); }
    const QByteArray& Bytes() const { return FBytes; }

private:
    QByteArray FBytes;
};

class FileCacheTest : public testing::Test {
protected:
    void SetUp() override
    {
        FFolder = FDir.filePath(QStringLiteral("Cache")) + u'/';
        ASSERT_TRUE(QDir().mkpath(FFolder));
    }
    // A cache file with Content, as a run before would have left it.
    QString MakeFile(const QString& Name, const QByteArray& Content = "x") const
    {
        QFile file(FFolder + Name);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(Content);
        return file.fileName();
    }
    static void Load(TCorvFileCache& Cache, const QByteArray& Bytes)
    {
        Platform::TMemoryStream stream(std::vector<uint8_t>(Bytes.begin(), Bytes.end()));
        Cache.LoadFromStream(stream);
    }
    static QByteArray Save(TCorvFileCache& Cache)
    {
        Platform::TMemoryStream stream;
        Cache.SaveToStream(stream);
        return QByteArray(reinterpret_cast<const char*>(stream.Data().data()), qsizetype(stream.Data().size()));
    }
    static QByteArray ReadRest(Platform::TStream& Stream)
    {
        QByteArray bytes(qsizetype(Stream.Remaining()), Qt::Uninitialized);
        Stream.ReadBuffer(bytes.data(), int32_t(bytes.size()));
        return bytes;
    }
    static QByteArray ReadAll(const QString& FileName)
    {
        QFile file(FileName);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static void Store(TCorvFileCache& Cache, const QString& Key, const QByteArray& Content)
    {
        const auto stream = Cache.OpenEntry(Key);
        stream->WriteBuffer(Content.constData(), int32_t(Content.size()));
        stream->SetSize(stream->Position());
    }

    QTemporaryDir FDir;
    QString FFolder;
};

TEST_F(FileCacheTest, NewKeyGetsAnEmptyCacheFileAtOnce)
{
    TCorvFileCache cache(FFolder);
    const QString key = QStringLiteral("http://example.com/a.png");
    cache.OpenEntry(key);
    ASSERT_TRUE(cache.Contains(key));
    const QFileInfo file(cache.Find(key)->FileName());
    EXPECT_TRUE(file.isFile());
    EXPECT_EQ(file.size(), 0);
    EXPECT_EQ(file.absolutePath() + u'/', cache.CacheFolder());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Fci[0-9A-F]{1,4}\\.TMP$")).match(file.fileName()).hasMatch())
        << file.fileName().toStdString();

    const QByteArray expected =
        IndexBytes().Int32(1).Int32(1).Record(key, file.absoluteFilePath()).Bytes();
    EXPECT_EQ(Save(cache), expected);
}

TEST_F(FileCacheTest, KeysDifferingInCaseNameOneEntry)
{
    TCorvFileCache cache(FFolder);
    Store(cache, QStringLiteral("http://Example.com/Ä.png"), "picture");
    EXPECT_EQ(cache.Count(), 1);
    EXPECT_TRUE(cache.Contains(QStringLiteral("HTTP://EXAMPLE.COM/ä.PNG")));
    EXPECT_EQ(ReadRest(*cache.OpenEntry(QStringLiteral("http://example.com/ä.png"))), QByteArray("picture"));
    EXPECT_EQ(cache.Count(), 1);
}

TEST_F(FileCacheTest, ReopenedEntryReadsWholeAndAShorterStoreLeavesNothingBehind)
{
    TCorvFileCache cache(FFolder);
    const QString key = QStringLiteral("http://example.com/a.png");
    Store(cache, key, "a rather long first picture");
    {
        const auto stream = cache.OpenEntry(key);
        EXPECT_EQ(stream->Position(), 0);
        EXPECT_EQ(ReadRest(*stream), QByteArray("a rather long first picture"));
    }
    Store(cache, key, "short");
    EXPECT_EQ(ReadAll(cache.Find(key)->FileName()), QByteArray("short"));
}

TEST_F(FileCacheTest, AnEntryIsOpenOnlyOnceAtATime)
{
    TCorvFileCache cache(FFolder);
    const QString key = QStringLiteral("clipboard://1/1/2024/5");
    auto first = cache.OpenEntry(key);
    EXPECT_THROW(cache.OpenEntry(key.toUpper()), EStreamError);
    EXPECT_NO_THROW(cache.OpenEntry(QStringLiteral("clipboard://1/1/2024/6")));
    first.reset();
    EXPECT_NO_THROW(cache.OpenEntry(key));
}

TEST_F(FileCacheTest, ARemovedEntrysNameStillOpenIsNotGivenToANewKey)
{
    // Removed while a stream holds its file, an entry's name is free on disk
    // but still claimed; the next new key, in the same tick, must get
    // another name instead of failing and staying in the cache.
    TCorvFileCache cache(FFolder);
    for (int i = 0; i < 50; ++i) {
        const QString key = QStringLiteral("screenshot://%1").arg(i);
        const auto held = cache.OpenEntry(key);
        const QString heldName = cache.Find(key)->FileName();
        cache.Remove(key);
        const QString next = key + QStringLiteral("/next");
        ASSERT_NO_THROW(cache.OpenEntry(next)) << i;
        EXPECT_NE(cache.Find(next)->FileName(), heldName);
    }
    EXPECT_EQ(cache.Count(), 50);
}

TEST_F(FileCacheTest, StreamMayOutliveTheCache)
{
    auto cache = std::make_unique<TCorvFileCache>(FFolder);
    const auto stream = cache->OpenEntry(QStringLiteral("k"));
    cache.reset();
    EXPECT_EQ(stream->Write("late", 4), 4);
}

TEST_F(FileCacheTest, DeletedFileStaysUntilTheNextSaveAndOpensEmpty)
{
    TCorvFileCache cache(FFolder);
    const QString key = QStringLiteral("screenshot://x/1");
    Store(cache, key, "capture");
    const QString fileName = cache.Find(key)->FileName();
    ASSERT_TRUE(QFile::remove(fileName));
    EXPECT_TRUE(cache.Contains(key));
    EXPECT_EQ(cache.OpenEntry(key)->Size(), 0);
    EXPECT_TRUE(QFileInfo(fileName).isFile());
    ASSERT_TRUE(QFile::remove(fileName));
    EXPECT_EQ(Save(cache), IndexBytes().Int32(1).Int32(0).Bytes());
    EXPECT_FALSE(cache.Contains(key));
}

TEST_F(FileCacheTest, OpeningAfterTheFolderWasDeletedMakesItAgain)
{
    TCorvFileCache cache(FFolder);
    Store(cache, QStringLiteral("known"), "picture");
    ASSERT_TRUE(QDir(FFolder).removeRecursively());
    EXPECT_NO_THROW(cache.OpenEntry(QStringLiteral("k")));
    EXPECT_TRUE(QFileInfo(cache.Find(QStringLiteral("k"))->FileName()).isFile());

    ASSERT_TRUE(QDir(FFolder).removeRecursively());
    EXPECT_EQ(cache.OpenEntry(QStringLiteral("known"))->Size(), 0);
    EXPECT_TRUE(QFileInfo(cache.Find(QStringLiteral("known"))->FileName()).isFile());
}

TEST_F(FileCacheTest, RemoveDeletesTheEntryAndItsFile)
{
    TCorvFileCache cache(FFolder);
    Store(cache, QStringLiteral("a"), "1");
    Store(cache, QStringLiteral("b"), "2");
    const QString fileA = cache.Find(QStringLiteral("a"))->FileName();
    cache.Remove(QStringLiteral("nothing"));
    EXPECT_EQ(cache.Count(), 2);
    cache.Remove(QStringLiteral("A"));
    EXPECT_EQ(cache.Count(), 1);
    EXPECT_FALSE(QFileInfo::exists(fileA));
    EXPECT_EQ(cache.Item(0).Key(), QStringLiteral("b"));
    EXPECT_THROW(cache.Item(1), ERangeError);
}

TEST_F(FileCacheTest, IndexRoundTripKeepsOrder)
{
    TCorvFileCache cache(FFolder);
    for (const char* key : {"http://x/2", "clipboard://é/1", "http://x/1"})
        Store(cache, QString::fromUtf8(key), key);
    const QString index = FFolder + QStringLiteral("Index.data");
    cache.SaveToFile(index);

    const auto loaded = TCorvFileCache::CreateFromIndex(index, FFolder);
    ASSERT_EQ(loaded->Count(), 3);
    for (int32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(loaded->Item(i).Key(), cache.Item(i).Key());
        EXPECT_EQ(loaded->Item(i).FileName(), cache.Item(i).FileName());
    }
    EXPECT_EQ(TCorvFileCache::CreateFromIndex(FFolder + QStringLiteral("none.data"), FFolder)->Count(), 0);
}

TEST_F(FileCacheTest, CountOfZeroOrLessLoadsEmpty)
{
    const QString file = MakeFile(QStringLiteral("Fci1.TMP"));
    for (const int32_t count : {0, -1, INT32_MIN}) {
        TCorvFileCache cache(FFolder);
        Load(cache, IndexBytes().Int32(1).Int32(count).Record(QStringLiteral("k"), file).Bytes());
        EXPECT_EQ(cache.Count(), 0) << count;
    }
}

TEST_F(FileCacheTest, RecordsWhoseFilesAreGoneAreDropped)
{
    const QString kept = MakeFile(QStringLiteral("Fci1.TMP"));
    TCorvFileCache cache(FFolder);
    Load(cache, IndexBytes()
                    .Int32(1)
                    .Int32(2)
                    .Record(QStringLiteral("gone"), FFolder + QStringLiteral("Fci2.TMP"))
                    .Record(QStringLiteral("kept"), kept)
                    .Bytes());
    ASSERT_EQ(cache.Count(), 1);
    EXPECT_EQ(cache.Item(0).Key(), QStringLiteral("kept"));
}

TEST_F(FileCacheTest, DuplicateKeysLoadBothAndTheFirstIsFoundAndRemoved)
{
    const QString first = MakeFile(QStringLiteral("Fci1.TMP"), "first");
    const QString second = MakeFile(QStringLiteral("Fci2.TMP"), "second");
    TCorvFileCache cache(FFolder);
    Load(cache, IndexBytes().Int32(1).Int32(2).Record(QStringLiteral("k"), first).Record(QStringLiteral("K"), second).Bytes());
    ASSERT_EQ(cache.Count(), 2);
    EXPECT_EQ(cache.Find(QStringLiteral("k"))->FileName(), first);
    cache.Remove(QStringLiteral("k"));
    EXPECT_FALSE(QFileInfo::exists(first));
    EXPECT_EQ(cache.Find(QStringLiteral("k"))->FileName(), second);
}

// A damaged index must neither invent entries nor lose the whole ones.
TEST_F(FileCacheTest, TruncatedIndexKeepsTheRecordsReadWhole)
{
    const QString a = MakeFile(QStringLiteral("Fci1.TMP"));
    const QString b = MakeFile(QStringLiteral("Fci2.TMP"));
    const QByteArray head = IndexBytes().Int32(1).Int32(3).Record(QStringLiteral("a"), a).Bytes();
    const QByteArray whole = IndexBytes().Int32(1).Int32(3).Record(QStringLiteral("a"), a).Record(QStringLiteral("b"), b).Bytes();
    struct Case {
        QByteArray Bytes;
        int32_t Expected;
    };
    const Case cases[] = {
        {{}, 0},
        {whole.left(2), 0},
        {whole.left(6), 0},
        {whole.left(head.size() - 1), 0},
        {head, 1},
        {whole.left(head.size() + 6), 1},
        {whole.left(whole.size() - 1), 1},
        {whole, 2}, // the count promised a third record
        // A length far beyond the end of the stream.
        {IndexBytes().Int32(1).Int32(1).Int32(1).Int32(INT32_MAX).Bytes(), 0},
    };
    for (const Case& c : cases) {
        TCorvFileCache cache(FFolder);
        Load(cache, c.Bytes);
        EXPECT_EQ(cache.Count(), c.Expected) << c.Bytes.size() << " bytes";
    }
}

// The index names files by their full paths; a hand-edited or damaged one
// must not make the cache open or delete files that are not its own.
TEST_F(FileCacheTest, RecordsNamingOtherFilesAreSkipped)
{
    const QString outside = FDir.filePath(QStringLiteral("Fci1.TMP"));
    {
        QFile file(outside);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const QString index = MakeFile(QStringLiteral("Index.data"));
    const QString own = MakeFile(QStringLiteral("Fci2.TMP"));
    const QString relative = QDir(FDir.path()).relativeFilePath(own);
    TCorvFileCache cache(FFolder);
    Load(cache, IndexBytes()
                    .Int32(1)
                    .Int32(6)
                    .Record(QStringLiteral("outside"), outside)
                    .Record(QStringLiteral("up"), FFolder + QStringLiteral("../Fci1.TMP"))
                    .Record(QStringLiteral("index"), index)
                    .Record(QStringLiteral("relative"), relative)
                    .Record(QStringLiteral("own"), own)
                    .Record(QStringLiteral("same file"), own)
                    .Bytes());
    ASSERT_EQ(cache.Count(), 1);
    EXPECT_EQ(cache.Item(0).Key(), QStringLiteral("own"));
    for (const char* key : {"outside", "up", "index", "relative", "same file"})
        cache.Remove(QString::fromUtf8(key));
    EXPECT_TRUE(QFileInfo::exists(outside));
    EXPECT_TRUE(QFileInfo::exists(index));
    EXPECT_TRUE(QFileInfo::exists(own));
}

} // namespace
