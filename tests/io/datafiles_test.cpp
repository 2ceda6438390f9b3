#include "io/datafiles.h"

#include "graphics/errors.h"
#include "graphics/surface.h"
#include "io/filecache.h"
#include "io/mrulist.h"
#include "io/settings.h"
#include "platform/codecs.h"
#include "platform/streams.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <functional>

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

// Set in the copy of the test program that runs a full-disk test as root of
// a user namespace of its own.
constexpr const char* UserNamespaceVariable = "CORVANITH_TEST_USER_NAMESPACE";

// Mounts made from here on are the calling thread's own, and vanish with it
// when the test program ends; empty when they are, else why not.
std::string TakePrivateMounts()
{
    if (::unshare(CLONE_NEWNS) != 0)
        return std::string("no mount namespace of its own: ") + std::strerror(errno);
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("its mounts cannot be made private: ") + std::strerror(errno);
    return {};
}

// A 1 MB file system of its own, filled up to the last page but for an old
// file of 3000 bytes. Mounting it needs a mount namespace of the test's own:
// as root (CI) the test takes one; otherwise the test runs again in a copy
// of the test program under "unshare -rm", root of a user namespace, and
// passes or fails as that copy does. Only where neither works is it
// skipped, with both reasons.
class FullDiskTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        const std::string refused = TakePrivateMounts();
        if (!refused.empty()) {
            ASSERT_FALSE(qEnvironmentVariableIsSet(UserNamespaceVariable)) << refused;
            RunInUserNamespace(refused);
            return;
        }
        if (::mount("tmpfs", FDir.path().toLocal8Bit().constData(), "tmpfs", 0, "size=1m") != 0)
            GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
        FMounted = true;
        QFile old(OldFile());
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        ASSERT_EQ(old.write(QByteArray(3000, 'o')), 3000);
        old.close();
        QFile filler(FillerFile());
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size()) {
        }
    }
    // Whether the test ran in a copy of the program instead: its body then
    // does nothing here.
    bool RanElsewhere() const { return FRanElsewhere; }
    // Room for part of what is written: the file system takes a write in
    // part before it refuses the rest.
    void LeaveRoom(int64_t Bytes) const
    {
        QFile filler(FillerFile());
        ASSERT_TRUE(filler.resize(filler.size() - Bytes));
    }
    // Check with no room left at all, then with room for a page.
    void ForEachRoomLeft(const std::function<void()>& Check) const
    {
        for (const int64_t room : {0, 4096}) {
            SCOPED_TRACE("room for " + std::to_string(room) + " bytes");
            LeaveRoom(room);
            Check();
        }
    }
    void TearDown() override
    {
        if (FMounted)
            ::umount2(FDir.path().toLocal8Bit().constData(), MNT_DETACH);
    }
    QString OldFile() const { return FDir.filePath(QStringLiteral("old.bmp")); }
    QString FillerFile() const { return FDir.filePath(QStringLiteral("filler")); }
    QString Root() const { return FDir.path(); }
    void ExpectOldFileWhole(const std::string& Error) const
    {
        EXPECT_NE(Error.find(OldFile().toStdString()), std::string::npos) << Error;
        EXPECT_NE(Error.find("No space left on device"), std::string::npos) << Error;
        QFile old(OldFile());
        ASSERT_TRUE(old.open(QIODevice::ReadOnly));
        EXPECT_EQ(old.readAll(), QByteArray(3000, 'o'));
        EXPECT_EQ(QDir(Root()).entryList(QDir::Files), (QStringList{"filler", "old.bmp"}));
    }

private:
    void RunInUserNamespace(const std::string& Refused)
    {
        const testing::TestInfo& test = *testing::UnitTest::GetInstance()->current_test_info();
        QProcess copy;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(UserNamespaceVariable, QStringLiteral("1"));
        copy.setProcessEnvironment(environment);
        copy.setProcessChannelMode(QProcess::MergedChannels);
        copy.start(QStringLiteral("unshare"),
                   {QStringLiteral("-rm"), QCoreApplication::applicationFilePath(),
                    QStringLiteral("--gtest_filter=%1.%2").arg(test.test_suite_name(), test.name())});
        const bool finished = copy.waitForFinished(60000);
        const std::string output = copy.readAll().toStdString();
        // The copy ran the test when GoogleTest summed it up.
        if (finished && output.find("[  PASSED  ] 1 test.") != std::string::npos) {
            FRanElsewhere = true;
            return;
        }
        if (finished && output.find("[  FAILED  ]") != std::string::npos)
            FAIL() << "in a user namespace of its own:\n" << output;
        GTEST_SKIP() << "cannot mount a small file system here: " << Refused << "; unshare -rm: "
                     << (finished ? output : copy.errorString().toStdString());
    }

    QTemporaryDir FDir;
    bool FMounted = false;
    bool FRanElsewhere = false;
};

// What a save threw, or nothing when it went through.
std::string SaveFailure(const std::function<void()>& Save)
{
    try {
        Save();
    } catch (const EStreamError& Error) {
        return Error.what();
    }
    return {};
}

// Small files fit the write buffer, so only the flush at the end finds the
// disk full; larger ones meet it while they are written.
TEST_F(FullDiskTest, SavingAPictureOverAFileKeepsItAndSaysWhy)
{
    if (RanElsewhere())
        return;
    ForEachRoomLeft([&] {
        for (const int side : {40, 200}) {
            SCOPED_TRACE(std::to_string(side) + " pixels square");
            const auto picture = Graphics::TCorvSurface::CreateFilled(side, side, 0xFF336699);
            ExpectOldFileWhole(SaveFailure([&] { picture->SaveToFile(OldFile(), Platform::ImageFormatBMP); }));
        }
    });
}

TEST_F(FullDiskTest, SavingADataFileOverAFileKeepsItAndSaysWhy)
{
    if (RanElsewhere())
        return;
    const auto picture = Graphics::TCorvSurface::CreateFilled(60, 60, 0xFF336699);
    ForEachRoomLeft([&] {
        for (const int entries : {1, 7}) {
            SCOPED_TRACE(std::to_string(entries) + " entries");
            TCorvMruList list(7);
            for (int i = 0; i < entries; ++i)
                list.Add(Document::MakeFileSource(QStringLiteral("/pictures/%1.png").arg(i)), *picture);
            ExpectOldFileWhole(SaveFailure([&] { list.SaveToFile(OldFile()); }));
        }
    });
}

TEST_F(FullDiskTest, TheSaveAtTheEndNamesTheFileAndTheReason)
{
    if (RanElsewhere())
        return;
    // The disk fills while the program runs: room for the folder, its lock
    // and the cached pictures, not for the recent list.
    LeaveRoom(64 * 1024);
    Settings::TDataFiles files(Root());
    ASSERT_TRUE(files.OwnsFolder());
    auto picture = Graphics::TCorvSurface::CreateFilled(60, 60, 0xFF336699);
    for (int i = 0; i < Settings::MruCapacity; ++i) {
        const QString location = QStringLiteral("screenshot://today/%1").arg(i);
        files.FileCache().OpenEntry(location)->WriteBuffer("png", 3);
        Document::TCorvDocumentSource source;
        source.Kind = Document::TCorvDocumentSourceKind::dskScreenshot;
        source.Location = location;
        files.MruList().Add(source, *picture);
    }
    const std::string error = SaveFailure([&] { files.Save(); });
    EXPECT_NE(error.find(files.MruFileName().toStdString()), std::string::npos) << error;
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
}

} // namespace
