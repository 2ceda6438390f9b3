#include "io/datafiles.h"

#include "graphics/errors.h"
#include "platform/streams.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

namespace {

using namespace Corvanith;
using namespace Corvanith::IO;

Platform::TMemoryStream StreamOf(const QByteArray& Bytes)
{
    return Platform::TMemoryStream(std::vector<uint8_t>(Bytes.begin(), Bytes.end()));
}

TEST(DataTextTest, LengthAndUtf8BytesReadBack)
{
    Platform::TMemoryStream stream;
    WriteText(stream, QStringLiteral("é"));
    WriteText(stream, QString());
    const std::vector<uint8_t> expected = {2, 0, 0, 0, 0xC3, 0xA9, 0, 0, 0, 0};
    EXPECT_EQ(stream.Data(), expected);
    stream.SetPosition(0);
    EXPECT_EQ(ReadText(stream), QStringLiteral("é"));
    EXPECT_EQ(ReadText(stream), QString());
    EXPECT_THROW(ReadText(stream), EStreamError);
}

TEST(DataTextTest, ShortOrOverlongTextsAreRefused)
{
    const QByteArray refused[] = {
        QByteArray("\x01\x02\x03", 3),            // the length cut short
        QByteArray("\x05\x00\x00\x00" "abcd", 8), // one byte missing
        QByteArray("\xFF\xFF\xFF\x7F" "abcd", 8), // far beyond the end
    };
    for (const QByteArray& bytes : refused) {
        auto stream = StreamOf(bytes);
        EXPECT_THROW(ReadText(stream), EStreamError) << bytes.toHex().toStdString();
    }
    auto negative = StreamOf(QByteArray("\xFF\xFF\xFF\xFF" "ab", 6));
    EXPECT_EQ(ReadText(negative), QString());
    EXPECT_EQ(negative.Position(), 4);
}

TEST(DataFilesTest, FailedReplacementLeavesTheOldFileWhole)
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("data"));
    ReplaceFile(name, [](Platform::TStream& Stream) { Stream.WriteUInt32(7); });
    EXPECT_THROW(ReplaceFile(name,
                             [](Platform::TStream& Stream) {
                                 Stream.WriteUInt32(8);
                                 throw EStreamError("disk full");
                             }),
                 EStreamError);
    uint32_t read = 0;
    ReadFileIfExists(name, [&](Platform::TStream& Stream) { read = Stream.ReadUInt32(); });
    EXPECT_EQ(read, 7u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("data")});
}

TEST(DataFilesTest, MissingFileReadsNothingAndAnUnopenableOneThrows)
{
    QTemporaryDir dir;
    bool called = false;
    ReadFileIfExists(dir.filePath(QStringLiteral("none")), [&](Platform::TStream&) { called = true; });
    EXPECT_FALSE(called);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    EXPECT_THROW(ReadFileIfExists(dir.filePath(QStringLiteral("folder")), [](Platform::TStream&) {}), EStreamError);
}

} // namespace
