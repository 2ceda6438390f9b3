#include "graphics/errors.h"
#include "graphics/streamadapter.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <cstring>
#include <numeric>

using namespace Corvanith;
using namespace Corvanith::IO;
using namespace Corvanith::Platform;

namespace {

TMemoryStream Counting(size_t Size)
{
    std::vector<uint8_t> data(Size);
    std::iota(data.begin(), data.end(), uint8_t(0));
    return TMemoryStream(std::move(data));
}

// Records the last seek and can be told to fail its reads; sets a flag when freed.
class TProbeStream : public TMemoryStream {
public:
    explicit TProbeStream(bool* Freed = nullptr) : TMemoryStream(std::vector<uint8_t>(16)), FFreed(Freed) {}
    ~TProbeStream() override
    {
        if (FFreed != nullptr)
            *FFreed = true;
    }
    using TMemoryStream::Seek;
    int32_t Read(void* Buffer, int32_t Count) override
    {
        if (FailReads)
            throw EStreamError("disk gone");
        return TMemoryStream::Read(Buffer, Count);
    }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override
    {
        LastOffset = Offset;
        LastOrigin = Origin;
        return Offset;
    }

    bool FailReads = false;
    int64_t LastOffset = -1;
    TSeekOrigin LastOrigin = TSeekOrigin::soEnd;

private:
    bool* FFreed;
};

int64_t LocalFileTimeNow()
{
    const QDateTime now = QDateTime::currentDateTime();
    constexpr int64_t UnixEpochFileTime = 116444736000000000;
    return UnixEpochFileTime + (now.toMSecsSinceEpoch() + int64_t(now.offsetFromUtc()) * 1000) * 10000;
}

TEST(StreamAdapter, ReportsTheRunningTotalOfBytesRead)
{
    TMemoryStream source = Counting(10000);
    std::vector<int32_t> reports;
    TCorvStreamAdapter adapter(source, [&](TStream& stream, int32_t position) {
        EXPECT_EQ(&stream, &source);
        reports.push_back(position);
    });
    std::vector<uint8_t> buffer(4096);
    for (int i = 0; i < 4; ++i)
        adapter.Read(buffer.data(), 4096);
    // Seeking back does not lower the total.
    EXPECT_EQ(adapter.Seek(int64_t(0), TSeekOrigin::soBeginning), 0);
    EXPECT_EQ(adapter.Read(buffer.data(), 100), 100);
    EXPECT_EQ(reports, (std::vector<int32_t>{4096, 8192, 10000, 10000, 10100}));
    EXPECT_EQ(adapter.Position(), 10100);
    EXPECT_EQ(buffer[99], 99);
}

TEST(StreamAdapter, WithoutHandlerBehavesLikeTheWrappedStream)
{
    TMemoryStream plain = Counting(300);
    TMemoryStream wrapped = Counting(300);
    TCorvStreamAdapter adapter(wrapped, {});
    uint8_t a[64], b[64];
    EXPECT_EQ(adapter.Seek(int64_t(-20), TSeekOrigin::soEnd), plain.Seek(int64_t(-20), TSeekOrigin::soEnd));
    EXPECT_EQ(adapter.Read(a, 64), plain.Read(b, 64));
    EXPECT_EQ(std::memcmp(a, b, 20), 0);
    EXPECT_EQ(adapter.Seek(int32_t(5), uint16_t(0)), 5);
    EXPECT_EQ(adapter.GetSize(), 300);
    adapter.SetSize(int32_t(200));
    EXPECT_EQ(wrapped.Size(), 200);
    EXPECT_EQ(adapter.Write("xy", 2), 2);
    EXPECT_EQ(wrapped.Data()[5], 'x');
    EXPECT_EQ(adapter.Position(), 0);
}

TEST(StreamAdapter, FailingReadAddsNothing)
{
    TProbeStream source;
    int reports = 0;
    TCorvStreamAdapter adapter(source, [&](TStream&, int32_t) { ++reports; });
    source.FailReads = true;
    uint8_t buffer[4];
    EXPECT_THROW(adapter.Read(buffer, 4), EStreamError);
    EXPECT_EQ(adapter.Position(), 0);
    EXPECT_EQ(reports, 0);
}

TEST(StreamInterface, StatGivesDefinedFieldsAndLocalTimes)
{
    TMemoryStream source(std::vector<uint8_t>(1234));
    const auto stream = CreateStreamInterface(source);
    TStatStg status;
    std::memset(static_cast<void*>(&status), 0xAB, sizeof(status));
    const int64_t before = LocalFileTimeNow();
    ASSERT_EQ(stream->Stat(&status, 0), S_OK);
    const int64_t after = LocalFileTimeNow();
    EXPECT_EQ(status.pwcsName, nullptr);
    EXPECT_EQ(status.dwType, STGTY_STREAM);
    EXPECT_EQ(status.cbSize, 1234u);
    EXPECT_EQ(status.grfMode, 0u);
    EXPECT_EQ(status.grfLocksSupported, LOCK_WRITE);
    EXPECT_EQ(status.clsid, TGuid{});
    EXPECT_EQ(status.grfStateBits, 0u);
    constexpr int64_t Second = 10000000;
    for (int64_t time : {status.mtime, status.ctime, status.atime}) {
        EXPECT_GE(time, before - Second);
        EXPECT_LE(time, after + Second);
    }
    EXPECT_EQ(stream->Stat(nullptr, 0), S_OK);
}

TEST(StreamInterface, DateTimeToFileTime)
{
    EXPECT_EQ(DateTimeToFileTime(0.0), 94353120000000000);
    EXPECT_EQ(DateTimeToFileTime(0.5), 94353552000000000);
    // 1970-01-01 is day 25569.
    EXPECT_EQ(DateTimeToFileTime(25569.0), 116444736000000000);
}

TEST(StreamInterface, ResultCodes)
{
    TMemoryStream source = Counting(100);
    const auto stream = CreateStreamInterface(source);
    source.SetPosition(10);
    uint64_t position = 77;
    EXPECT_EQ(stream->Seek(5, 3, &position), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(position, 77u);
    EXPECT_EQ(source.Position(), 10);
    EXPECT_EQ(stream->Seek(-4, 2, &position), S_OK);
    EXPECT_EQ(position, 96u);

    uint32_t count = 9;
    EXPECT_EQ(stream->Read(nullptr, 4, &count), STG_E_INVALIDPOINTER);
    EXPECT_EQ(stream->Write(nullptr, 4, &count), STG_E_INVALIDPOINTER);
    uint8_t buffer[8];
    EXPECT_EQ(stream->Read(buffer, 8, &count), S_OK);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(buffer[0], 96);

    // An encoder never commits: its writes are in the stream at once, and a
    // commit finds nothing left to do.
    EXPECT_EQ(stream->Write("ab", 2, &count), S_OK);
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(source.Size(), 102);
    EXPECT_EQ(source.Data()[100], 'a');
    EXPECT_TRUE(Succeeded(stream->Commit(0)));
    EXPECT_EQ(source.Size(), 102);
    // No second stream over the same bytes: a caller that asks gets none to use.
    std::shared_ptr<IStream> clone = stream;
    EXPECT_FALSE(Succeeded(stream->Clone(&clone)));
    EXPECT_EQ(clone, nullptr);
    EXPECT_EQ(stream->SetSize(40), S_OK);
    EXPECT_EQ(source.Size(), 40);
}

TEST(StreamInterface, CopyToCarriesAtMostCountBytes)
{
    TMemoryStream source = Counting(3000);
    TMemoryStream target;
    const auto from = CreateStreamInterface(source);
    const auto to = CreateStreamInterface(target);
    uint64_t read = 0, written = 0;
    EXPECT_EQ(from->CopyTo(*to, 2500, &read, &written), S_OK);
    EXPECT_EQ(read, 2500u);
    EXPECT_EQ(written, 2500u);
    EXPECT_EQ(from->CopyTo(*to, 9999, &read, &written), S_OK);
    EXPECT_EQ(read, 500u);
    EXPECT_EQ(target.Data(), Counting(3000).Data());
}

TEST(StreamInterface, SeekKeepsAll64Bits)
{
    TProbeStream source;
    const auto stream = CreateStreamInterface(source);
    constexpr int64_t ThreeGiB = int64_t(3) << 30;
    uint64_t position = 0;
    EXPECT_EQ(stream->Seek(ThreeGiB, 0, &position), S_OK);
    EXPECT_EQ(source.LastOffset, ThreeGiB);
    EXPECT_EQ(source.LastOrigin, TSeekOrigin::soBeginning);
    EXPECT_EQ(position, uint64_t(ThreeGiB));
}

TEST(StreamInterface, FailedReadStoresNoCountAndFails)
{
    TProbeStream source;
    source.FailReads = true;
    const auto stream = CreateStreamInterface(source);
    uint8_t buffer[4];
    uint32_t count = 12345;
    const HRESULT result = stream->Read(buffer, 4, &count);
    EXPECT_FALSE(Succeeded(result));
    EXPECT_EQ(result, STG_E_READFAULT);
    EXPECT_EQ(count, 0u);
}

TEST(StreamInterface, NeverFreesTheCallersStream)
{
    bool freed = false;
    {
        TProbeStream source(&freed);
        {
            TCorvStreamAdapter adapter(source, [](TStream&, int32_t) {});
            auto stream = CreateStreamInterface(adapter);
            auto second = stream;
            stream.reset();
            second.reset();
        }
        EXPECT_FALSE(freed);
    }
    EXPECT_TRUE(freed);
}

} // namespace
