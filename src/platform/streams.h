#pragma once
// Byte streams with 64-bit positions (memory, files, files saved through a
// temporary, temporary files), and the COM-style stream interface the imaging
// layer reads and writes pictures through, with its standard adapter over a
// byte stream.
#include "platform/guid.h"

#include <cstdint>
#include <memory>
#include <vector>

#include <QString>

class QFileDevice;

namespace Corvanith::Platform {

enum class TSeekOrigin : uint8_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
public:
    virtual ~TStream() = default;

    // Transfer up to Count bytes and return how many moved; a Count of 0 or
    // less moves nothing.
    virtual int32_t Read(void* Buffer, int32_t Count) = 0;
    virtual int32_t Write(const void* Buffer, int32_t Count) = 0;
    // The new position from the beginning.
    virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
    // The narrow forms: Origin 0, 1, 2 as above; the result is cut to 32 bits.
    virtual int32_t Seek(int32_t Offset, uint16_t Origin);
    virtual int64_t GetSize();
    virtual void SetSize(int64_t NewSize) = 0;
    virtual void SetSize(int32_t NewSize) { SetSize(int64_t(NewSize)); }

    int64_t Position() { return Seek(int64_t(0), TSeekOrigin::soCurrent); }
    void SetPosition(int64_t Value) { Seek(Value, TSeekOrigin::soBeginning); }
    int64_t Size() { return GetSize(); }

    // Whole transfers: a short one throws EStreamError.
    void ReadBuffer(void* Buffer, int32_t Count);
    void WriteBuffer(const void* Buffer, int32_t Count);

    // The fields of our own files, little-endian; a short read throws EStreamError.
    uint32_t ReadUInt32();
    double ReadDouble();
    void WriteUInt32(uint32_t Value);
    void WriteDouble(double Value);
    // Bytes between the position and the end: what a stored length is checked
    // against before anything is allocated for it.
    int64_t Remaining() { return Size() - Position(); }
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> Data) : FData(std::move(Data)) {}

    using TStream::Seek;
    using TStream::SetSize;
    int32_t Read(void* Buffer, int32_t Count) override;
    int32_t Write(const void* Buffer, int32_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t GetSize() override { return int64_t(FData.size()); }
    void SetSize(int64_t NewSize) override;

    const std::vector<uint8_t>& Data() const { return FData; }

private:
    std::vector<uint8_t> FData;
    int64_t FPosition = 0;
};

// A stream over an open file device; the device is owned.
class TDeviceStream : public TStream {
public:
    ~TDeviceStream() override;

    using TStream::Seek;
    using TStream::SetSize;
    int32_t Read(void* Buffer, int32_t Count) override;
    int32_t Write(const void* Buffer, int32_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t GetSize() override;
    void SetSize(int64_t NewSize) override;

protected:
    explicit TDeviceStream(std::unique_ptr<QFileDevice> Device);
    QFileDevice& Device() { return *FDevice; }

private:
    std::unique_ptr<QFileDevice> FDevice;
};

enum class TFileMode : uint8_t {
    fmOpenRead,  // an existing file, read only
    fmCreate,    // created, or emptied when it exists; read and write
};

// Files and Qt resources (":/..." names). Opening fails with EStreamError
// naming the file and the reason.
class TFileStream : public TDeviceStream {
public:
    TFileStream(const QString& FileName, TFileMode Mode);
};

// Writes go to a temporary file beside FileName, which replaces FileName only
// at Commit: until then, and when the stream ends without Commit, an existing
// file stays as it was. Write only.
class TSaveFileStream : public TDeviceStream {
public:
    explicit TSaveFileStream(const QString& FileName);
    // Throws EStreamError when the file cannot be put in place.
    void Commit();
};

// A new file of its own for reading and writing, named after Template (its
// "XXXXXX" made unique) and deleted when the stream ends: room for data too
// large to keep in memory. EStreamError when it cannot be made.
class TTemporaryFileStream : public TDeviceStream {
public:
    explicit TTemporaryFileStream(const QString& Template);
};

// The COM stream interface, its result codes and status record.
using HRESULT = int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = HRESULT(0x80004001u);
inline constexpr HRESULT E_FAIL = HRESULT(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = HRESULT(0x8000FFFFu);
inline constexpr HRESULT STG_E_INVALIDFUNCTION = HRESULT(0x80030001u);
inline constexpr HRESULT STG_E_INVALIDPOINTER = HRESULT(0x80030009u);
inline constexpr HRESULT STG_E_READFAULT = HRESULT(0x8003001Eu);
inline constexpr HRESULT STG_E_REVERTED = HRESULT(0x80030102u);
inline constexpr HRESULT STG_E_CANTSAVE = HRESULT(0x80030103u);

constexpr bool Succeeded(HRESULT Result) { return Result >= 0; }

inline constexpr uint32_t STGTY_STREAM = 2;
inline constexpr uint32_t LOCK_WRITE = 1;

struct TStatStg {
    const char16_t* pwcsName;
    uint32_t dwType;
    uint64_t cbSize;
    int64_t mtime;
    int64_t ctime;
    int64_t atime;
    uint32_t grfMode;
    uint32_t grfLocksSupported;
    TGuid clsid;
    uint32_t grfStateBits;
    uint32_t reserved;
};

// Held through std::shared_ptr: the last holder frees it.
class IStream {
public:
    virtual ~IStream() = default;
    virtual HRESULT Read(void* pv, uint32_t cb, uint32_t* pcbRead) = 0;
    virtual HRESULT Write(const void* pv, uint32_t cb, uint32_t* pcbWritten) = 0;
    virtual HRESULT Seek(int64_t dlibMove, uint32_t dwOrigin, uint64_t* plibNewPosition) = 0;
    virtual HRESULT SetSize(uint64_t libNewSize) = 0;
    virtual HRESULT CopyTo(IStream& pstm, uint64_t cb, uint64_t* pcbRead, uint64_t* pcbWritten) = 0;
    virtual HRESULT Commit(uint32_t grfCommitFlags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT LockRegion(uint64_t libOffset, uint64_t cb, uint32_t dwLockType) = 0;
    virtual HRESULT UnlockRegion(uint64_t libOffset, uint64_t cb, uint32_t dwLockType) = 0;
    virtual HRESULT Stat(TStatStg* pstatstg, uint32_t grfStatFlag) = 0;
    virtual HRESULT Clone(std::shared_ptr<IStream>* ppstm) = 0;
};

// The standard IStream over a byte stream held by reference (never freed by
// the adapter). Exceptions of the stream become result codes.
class TStreamAdapter : public IStream {
public:
    explicit TStreamAdapter(TStream& Stream) : FStream(Stream) {}

    HRESULT Read(void* pv, uint32_t cb, uint32_t* pcbRead) override;
    HRESULT Write(const void* pv, uint32_t cb, uint32_t* pcbWritten) override;
    HRESULT Seek(int64_t dlibMove, uint32_t dwOrigin, uint64_t* plibNewPosition) override;
    HRESULT SetSize(uint64_t libNewSize) override;
    HRESULT CopyTo(IStream& pstm, uint64_t cb, uint64_t* pcbRead, uint64_t* pcbWritten) override;
    HRESULT Commit(uint32_t grfCommitFlags) override;
    HRESULT Revert() override;
    HRESULT LockRegion(uint64_t libOffset, uint64_t cb, uint32_t dwLockType) override;
    HRESULT UnlockRegion(uint64_t libOffset, uint64_t cb, uint32_t dwLockType) override;
    // Type, size and locks only; the other fields are left as they were.
    HRESULT Stat(TStatStg* pstatstg, uint32_t grfStatFlag) override;
    HRESULT Clone(std::shared_ptr<IStream>* ppstm) override;

protected:
    TStream& Stream() { return FStream; }

private:
    TStream& FStream;
};

} // namespace Corvanith::Platform
