#include "graphics/errors.h"
#include "platform/streams.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <cstdint>

#include <sys/resource.h>

using namespace Corvanith;
using namespace Corvanith::Platform;

namespace {

// The same walk over any stream: writes, seeks from the three origins,
// reads, whole transfers and resizing.
void Exercise(TStream& s)
{
    s.WriteBuffer("abcdef", 6);
    EXPECT_EQ(s.Position(), 6);
    EXPECT_EQ(s.Size(), 6);
    EXPECT_EQ(s.Seek(int64_t(-2), TSeekOrigin::soEnd), 4);
    char two[2];
    EXPECT_EQ(s.Read(two, 8), 2);
    EXPECT_EQ(std::string(two, 2), "ef");
    EXPECT_EQ(s.Read(two, 2), 0);
    EXPECT_EQ(s.Seek(int64_t(-5), TSeekOrigin::soCurrent), 1);
    EXPECT_EQ(s.Seek(int32_t(2), uint16_t(1)), 3);
    s.ReadBuffer(two, 2);
    EXPECT_EQ(std::string(two, 2), "de");
    EXPECT_THROW(s.ReadBuffer(two, 2), EStreamError);
    EXPECT_THROW(s.Seek(int64_t(-1), TSeekOrigin::soBeginning), EStreamError);
    EXPECT_THROW(s.Seek(int32_t(0), uint16_t(3)), EStreamError);
    s.SetSize(int32_t(3));
    EXPECT_EQ(s.Size(), 3);
    s.SetPosition(0);
    char three[3];
    s.ReadBuffer(three, 3);
    EXPECT_EQ(std::string(three, 3), "abc");
}

TEST(Streams, MemoryStream)
{
    TMemoryStream s;
    Exercise(s);
    EXPECT_EQ(s.Data(), (std::vector<uint8_t>{'a', 'b', 'c'}));
    // Writing beyond the end fills the gap with zeros.
    s.SetPosition(5);
    s.WriteBuffer("z", 1);
    EXPECT_EQ(s.Data(), (std::vector<uint8_t>{'a', 'b', 'c', 0, 0, 'z'}));
    // A write whose end lies past the largest stream size is refused and changes nothing.
    for (int64_t position : {int64_t(INT64_MAX), int64_t(INT64_MAX) - 1}) {
        s.SetPosition(position);
        EXPECT_THROW(s.WriteBuffer("zz", 2), EStreamError) << position;
        EXPECT_EQ(s.Size(), 6);
    }
}

TEST(Streams, FileStream)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("f.bin");
    {
        TFileStream s(path, TFileMode::fmCreate);
        Exercise(s);
    }
    {
        TFileStream s(path, TFileMode::fmOpenRead);
        EXPECT_EQ(s.Size(), 3);
        EXPECT_THROW(s.WriteBuffer("x", 1), EStreamError);
    }
    // Creating empties an existing file.
    TFileStream s(path, TFileMode::fmCreate);
    EXPECT_EQ(s.Size(), 0);
    try {
        TFileStream missing(dir.filePath("missing.bin"), TFileMode::fmOpenRead);
        ADD_FAILURE();
    } catch (const EStreamError& e) {
        EXPECT_NE(std::string(e.what()).find("missing.bin"), std::string::npos);
    }
}

TEST(Streams, SaveFileStreamReplacesOnlyOnCommit)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("s.bin");
    const auto contents = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
    };
    {
        TSaveFileStream s(path);
        s.WriteBuffer("first", 5);
    }
    EXPECT_EQ(contents(), QByteArray("<none>"));
    {
        TSaveFileStream s(path);
        s.WriteBuffer("abX", 3);
        EXPECT_EQ(s.Seek(int64_t(-1), TSeekOrigin::soEnd), 2);
        s.WriteBuffer("c", 1);
        EXPECT_EQ(s.Size(), 3);
        s.Commit();
    }
    EXPECT_EQ(contents(), QByteArray("abc"));
    {
        TSaveFileStream s(path);
        s.WriteBuffer("second", 6);
    }
    EXPECT_EQ(contents(), QByteArray("abc"));
}

TEST(Streams, SaveFileStreamWhoseLastWriteFailsKeepsTheOldFile)
{
    // The file-size limit makes the file system refuse the last write, which
    // reaches it only at the flush: the writes themselves all went into the
    // write buffer and reported success.
    QTemporaryDir dir;
    const QString path = dir.filePath("old.bmp");
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(3000, 'o'));
    }
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit lowered = saved;
    lowered.rlim_cur = 1000;
    setrlimit(RLIMIT_FSIZE, &lowered);
    std::string error;
    try {
        TSaveFileStream s(path);
        s.WriteBuffer(std::string(1500, 'n').data(), 1500);
        s.Commit();
    } catch (const EStreamError& e) {
        error = e.what();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    // The error names the file and the reason.
    EXPECT_NE(error.find(path.toStdString()), std::string::npos) << error;
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray(3000, 'o'));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"old.bmp"});
}

} // namespace
