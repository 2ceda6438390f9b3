#include "platform/streamdevice.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>

namespace Corvanith::Platform {

TStreamDevice::TStreamDevice(IStream& Stream, OpenMode Mode, size_t ReadAhead) : FStream(Stream), FAhead(ReadAhead)
{
    uint64_t position = 0;
    if (Succeeded(FStream.Seek(0, 1, &position)))
        FBase = int64_t(position);
    else
        FStreamAt = -1;
    open(Mode | QIODevice::Unbuffered);
}

void TStreamDevice::Hide(int64_t Offset, int64_t Length)
{
    const int64_t before = HiddenBytes();
    FHidden.push_back({Offset - before, before + Length});
}

bool TStreamDevice::seek(qint64 pos)
{
    if (!QIODevice::seek(pos))
        return false;
    return MoveStream(StreamOffset(pos));
}

qint64 TStreamDevice::size() const
{
    TStatStg status{};
    if (!Succeeded(FStream.Stat(&status, 0)))
        return 0;
    return std::max<qint64>(0, qint64(status.cbSize) - FBase - HiddenBytes());
}

// After a short read, Qt's PNG reader reads the rest over the bytes it got:
// a read comes back whole unless the stream ends.
qint64 TStreamDevice::readData(char* data, qint64 maxSize)
{
    qint64 done = 0;
    while (done < maxSize) {
        const qint64 at = pos() + done;
        if (at >= FAheadAt && at < FAheadAt + FAheadFilled) {
            const qint64 count = std::min(maxSize - done, FAheadAt + FAheadFilled - at);
            std::memcpy(data + done, FAhead.data() + (at - FAheadAt), size_t(count));
            done += count;
            continue;
        }
        const bool straight = maxSize - done >= qint64(FAhead.size());
        FAheadFilled = 0;
        const qint64 got = straight ? ReadStream(at, data + done, maxSize - done)
                                    : ReadStream(at, FAhead.data(), qint64(FAhead.size()));
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        if (straight) {
            done += got;
        } else {
            FAheadAt = at;
            FAheadFilled = got;
        }
    }
    FShortRead = FShortRead || done < maxSize;
    FReadAtEnd = FReadAtEnd || (maxSize > 0 && done == 0);
    return done;
}

qint64 TStreamDevice::writeData(const char* data, qint64 maxSize)
{
    uint32_t written = 0;
    if (!Succeeded(FStream.Write(data, uint32_t(std::min<qint64>(maxSize, INT32_MAX)), &written))) {
        FStreamAt = -1;
        return -1;
    }
    FStreamAt += written;
    return written;
}

std::vector<TStreamDevice::THidden>::const_iterator TStreamDevice::NextHidden(qint64 Pos) const
{
    return std::upper_bound(FHidden.begin(), FHidden.end(), Pos,
                            [](qint64 P, const THidden& Range) { return P < Range.At; });
}

int64_t TStreamDevice::StreamOffset(qint64 Pos) const
{
    const auto next = NextHidden(Pos);
    return next == FHidden.begin() ? Pos : Pos + std::prev(next)->Through;
}

qint64 TStreamDevice::ReadStream(qint64 At, char* Data, qint64 MaxSize)
{
    const auto next = NextHidden(At);
    if (next != FHidden.end())
        MaxSize = std::min<qint64>(MaxSize, next->At - At);
    if (!MoveStream(StreamOffset(At)))
        return -1;
    uint32_t got = 0;
    const auto asked = uint32_t(std::min<qint64>(MaxSize, INT32_MAX));
    if (!Succeeded(FStream.Read(Data, asked, &got))) {
        FStreamAt = -1;
        return -1;
    }
    got = std::min(got, asked);
    FStreamAt += got;
    return got;
}

bool TStreamDevice::MoveStream(int64_t Offset)
{
    if (Offset == FStreamAt)
        return true;
    FStreamAt = Succeeded(FStream.Seek(FBase + Offset, 0, nullptr)) ? Offset : -1;
    return FStreamAt >= 0;
}

} // namespace Corvanith::Platform
