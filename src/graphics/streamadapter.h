#pragma once
// The two adapters between our byte streams and the stream interface the
// imaging layer reads and writes pictures through: a forwarding stream that
// reports how much has been read through it, and the interface over a stream
// with a status record that holds defined values only.
#include "platform/streams.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

namespace Corvanith::IO {

// Stream is the wrapped stream; Position the bytes read through the adapter.
using TCorvStreamProgressEvent = std::function<void(Platform::TStream& Stream, int32_t Position)>;

// Forwards every operation to Stream, which it never frees. After each read,
// with a handler set, the running total of bytes read is reported; seeks do
// not lower it, so a reader that goes back reports more than the size.
class TCorvStreamAdapter : public Platform::TStream {
public:
    TCorvStreamAdapter(Platform::TStream& Stream, TCorvStreamProgressEvent OnProgress);

    int64_t GetSize() override;
    void SetSize(int32_t NewSize) override;
    void SetSize(int64_t NewSize) override;
    int32_t Read(void* Buffer, int32_t Count) override;
    int32_t Write(const void* Buffer, int32_t Count) override;
    int32_t Seek(int32_t Offset, uint16_t Origin) override;
    int64_t Seek(int64_t Offset, Platform::TSeekOrigin Origin) override;

    Platform::TStream& Stream() { return FStream; }
    // Bytes read so far; stays 0 while no handler is set.
    int32_t Position() const { return FPosition; }
    // The first exception a write through the adapter threw, or none: an
    // encoder behind the COM stream interface sees only a result code.
    std::exception_ptr WriteFailure() const { return FWriteFailure; }

    TCorvStreamProgressEvent OnProgress;

private:
    Platform::TStream& FStream;
    int32_t FPosition = 0;
    std::exception_ptr FWriteFailure;
};

// The standard interface adapter whose Stat zero-fills the whole record and
// stamps its three times with the local time of the call.
class TStreamAdapter_DateTimeFix : public Platform::TStreamAdapter {
public:
    using Platform::TStreamAdapter::TStreamAdapter;
    Platform::HRESULT Stat(Platform::TStatStg* pstatstg, uint32_t grfStatFlag) override;
};

// An interface over Stream, held by reference: releasing it leaves Stream alone.
std::shared_ptr<Platform::IStream> CreateStreamInterface(Platform::TStream& Stream);

// Days since 1899-12-30 with the time of day as fraction, to 100-nanosecond
// intervals since 1601-01-01; no time-zone conversion.
int64_t DateTimeToFileTime(double DateTime);

// The local date and time now, in days since 1899-12-30.
double Now();

} // namespace Corvanith::IO
