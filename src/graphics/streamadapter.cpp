#include "graphics/streamadapter.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>

namespace Corvanith::IO {

TCorvStreamAdapter::TCorvStreamAdapter(Platform::TStream& Stream, TCorvStreamProgressEvent OnProgress)
    : OnProgress(std::move(OnProgress)), FStream(Stream)
{
}

int64_t TCorvStreamAdapter::GetSize() { return FStream.Size(); }

void TCorvStreamAdapter::SetSize(int32_t NewSize) { FStream.SetSize(int64_t(NewSize)); }

void TCorvStreamAdapter::SetSize(int64_t NewSize) { FStream.SetSize(NewSize); }

int32_t TCorvStreamAdapter::Read(void* Buffer, int32_t Count)
{
    const int32_t n = FStream.Read(Buffer, Count);
    if (OnProgress) {
        // A 32-bit total, as the progress event carries it: it wraps past 2 GiB.
        FPosition = int32_t(uint32_t(FPosition) + uint32_t(n));
        OnProgress(FStream, FPosition);
    }
    return n;
}

int32_t TCorvStreamAdapter::Write(const void* Buffer, int32_t Count)
{
    try {
        return FStream.Write(Buffer, Count);
    } catch (...) {
        if (!FWriteFailure)
            FWriteFailure = std::current_exception();
        throw;
    }
}

int32_t TCorvStreamAdapter::Seek(int32_t Offset, uint16_t Origin) { return FStream.Seek(Offset, Origin); }

int64_t TCorvStreamAdapter::Seek(int64_t Offset, Platform::TSeekOrigin Origin) { return FStream.Seek(Offset, Origin); }

Platform::HRESULT TStreamAdapter_DateTimeFix::Stat(Platform::TStatStg* pstatstg, uint32_t)
{
    if (pstatstg == nullptr)
        return Platform::S_OK;
    try {
        std::memset(static_cast<void*>(pstatstg), 0, sizeof(*pstatstg));
        pstatstg->dwType = Platform::STGTY_STREAM;
        pstatstg->cbSize = uint64_t(Stream().Size());
        pstatstg->mtime = DateTimeToFileTime(Now());
        pstatstg->ctime = DateTimeToFileTime(Now());
        pstatstg->atime = DateTimeToFileTime(Now());
        pstatstg->grfLocksSupported = Platform::LOCK_WRITE;
        return Platform::S_OK;
    } catch (...) {
        return Platform::E_UNEXPECTED;
    }
}

std::shared_ptr<Platform::IStream> CreateStreamInterface(Platform::TStream& Stream)
{
    return std::make_shared<TStreamAdapter_DateTimeFix>(Stream);
}

int64_t DateTimeToFileTime(double DateTime)
{
    constexpr long double DaysFrom1601To1899 = 109205;
    constexpr long double IntervalsPerDay = 864000000000.0L;
    // The default rounding mode takes halves to the even neighbour.
    return int64_t(std::nearbyint((DateTime + DaysFrom1601To1899) * IntervalsPerDay));
}

double Now()
{
    using namespace std::chrono;
    constexpr double UnixEpochDay = 25569; // 1970-01-01 counted from 1899-12-30
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const double sinceEpoch = duration<double>(now.time_since_epoch()).count() + double(local.tm_gmtoff);
    return UnixEpochDay + sinceEpoch / 86400.0;
}

} // namespace Corvanith::IO
