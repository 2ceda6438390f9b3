#include "io/streams.h"

#include "graphics/errors.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

using namespace Corvanith;
using namespace Corvanith::IO;

TEST(DataFieldsTest, WrittenLittleEndianAndReadBack)
{
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    WriteInt32(buffer, 0x01020304);
    WriteByte(buffer, 0xFE);
    WriteText(buffer, QStringLiteral("é"));
    WriteText(buffer, QString());
    EXPECT_EQ(buffer.data(), QByteArray("\x04\x03\x02\x01\xFE\x02\x00\x00\x00\xC3\xA9\x00\x00\x00\x00", 15));
    buffer.seek(0);
    EXPECT_EQ(ReadInt32(buffer), 0x01020304);
    EXPECT_EQ(ReadByte(buffer), 0xFE);
    EXPECT_EQ(ReadText(buffer), QStringLiteral("é"));
    EXPECT_EQ(ReadText(buffer), QString());
    EXPECT_THROW(ReadByte(buffer), EStreamError);
}

TEST(DataFieldsTest, ShortOrOverlongFieldsAreRefused)
{
    const QByteArray cases[] = {
        QByteArray("\x01\x02\x03", 3),                  // int32 cut short
        QByteArray("\x05\x00\x00\x00" "abcd", 8),       // text one byte short
        QByteArray("\xFF\xFF\xFF\x7F" "abcd", 8),       // length beyond the stream
    };
    for (const QByteArray& bytes : cases) {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        EXPECT_THROW(ReadText(buffer), EStreamError) << bytes.toHex().toStdString();
    }
    QBuffer negative;
    negative.setData(QByteArray("\xFF\xFF\xFF\xFF", 4));
    negative.open(QIODevice::ReadOnly);
    EXPECT_EQ(ReadText(negative), QString());
}

TEST(DataFilesTest, FailedReplacementLeavesTheOldFileWhole)
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("data"));
    ReplaceFile(name, [](QIODevice& Stream) { WriteInt32(Stream, 7); });
    EXPECT_THROW(ReplaceFile(name,
                             [](QIODevice& Stream) {
                                 WriteInt32(Stream, 8);
                                 throw EStreamError("disk full");
                             }),
                 EStreamError);
    int32_t read = 0;
    ReadFileIfExists(name, [&](QIODevice& Stream) { read = ReadInt32(Stream); });
    EXPECT_EQ(read, 7);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("data")});
}

TEST(DataFilesTest, MissingFileReadsNothingAndAnUnopenableOneThrows)
{
    QTemporaryDir dir;
    bool called = false;
    ReadFileIfExists(dir.filePath(QStringLiteral("none")), [&](QIODevice&) { called = true; });
    EXPECT_FALSE(called);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    EXPECT_THROW(ReadFileIfExists(dir.filePath(QStringLiteral("folder")), [](QIODevice&) {}), EStreamError);
    EXPECT_THROW(ReplaceFile(dir.filePath(QStringLiteral("folder")), [](QIODevice&) {}), EStreamError);
}

} // namespace
