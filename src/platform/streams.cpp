#include "platform/streams.h"

#include "graphics/errors.h"

#include <QFile>
#include <QSaveFile>
#include <QTemporaryFile>

#include <algorithm>
#include <climits>
#include <cstring>

namespace Corvanith::Platform {

int32_t TStream::Seek(int32_t Offset, uint16_t Origin)
{
    if (Origin > 2)
        throw EStreamError("Invalid stream seek origin " + std::to_string(Origin));
    return int32_t(Seek(int64_t(Offset), TSeekOrigin(Origin)));
}

int64_t TStream::GetSize()
{
    const int64_t position = Seek(int64_t(0), TSeekOrigin::soCurrent);
    const int64_t size = Seek(int64_t(0), TSeekOrigin::soEnd);
    Seek(position, TSeekOrigin::soBeginning);
    return size;
}

void TStream::ReadBuffer(void* Buffer, int32_t Count)
{
    if (Count > 0 && Read(Buffer, Count) != Count)
        throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, int32_t Count)
{
    if (Count > 0 && Write(Buffer, Count) != Count)
        throw EStreamError("Stream write error");
}

uint32_t TStream::ReadUInt32()
{
    uint8_t b[4];
    ReadBuffer(b, 4);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

double TStream::ReadDouble()
{
    uint8_t b[8];
    ReadBuffer(b, 8);
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = bits << 8 | b[i];
    double value;
    std::memcpy(&value, &bits, 8);
    return value;
}

void TStream::WriteUInt32(uint32_t Value)
{
    const uint8_t b[4] = {uint8_t(Value), uint8_t(Value >> 8), uint8_t(Value >> 16), uint8_t(Value >> 24)};
    WriteBuffer(b, 4);
}

void TStream::WriteDouble(double Value)
{
    uint64_t bits;
    std::memcpy(&bits, &Value, 8);
    uint8_t b[8];
    for (int i = 0; i < 8; ++i)
        b[i] = uint8_t(bits >> (8 * i));
    WriteBuffer(b, 8);
}

int32_t TMemoryStream::Read(void* Buffer, int32_t Count)
{
    const int64_t available = int64_t(FData.size()) - FPosition;
    if (Count <= 0 || available <= 0)
        return 0;
    const int32_t n = int32_t(std::min<int64_t>(Count, available));
    std::memcpy(Buffer, FData.data() + FPosition, size_t(n));
    FPosition += n;
    return n;
}

int32_t TMemoryStream::Write(const void* Buffer, int32_t Count)
{
    if (Count <= 0)
        return 0;
    // The position may have been sought anywhere: its end must stay a 64-bit size.
    if (FPosition > INT64_MAX - Count)
        throw EStreamError("Memory stream write beyond the largest stream size");
    const int64_t end = FPosition + Count;
    if (end > int64_t(FData.size()))
        FData.resize(size_t(end));
    std::memcpy(FData.data() + FPosition, Buffer, size_t(Count));
    FPosition = end;
    return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    const int64_t base = Origin == TSeekOrigin::soBeginning ? 0
                         : Origin == TSeekOrigin::soCurrent ? FPosition
                                                            : int64_t(FData.size());
    if ((Offset > 0 && base > INT64_MAX - Offset) || base + Offset < 0)
        throw EStreamError("Stream seek out of range");
    FPosition = base + Offset;
    return FPosition;
}

void TMemoryStream::SetSize(int64_t NewSize)
{
    if (NewSize < 0)
        throw EStreamError("Negative stream size");
    FData.resize(size_t(NewSize));
    FPosition = std::min(FPosition, NewSize);
}

TDeviceStream::TDeviceStream(std::unique_ptr<QFileDevice> Device) : FDevice(std::move(Device)) {}

TDeviceStream::~TDeviceStream() = default;

int32_t TDeviceStream::Read(void* Buffer, int32_t Count)
{
    if (Count <= 0)
        return 0;
    const qint64 n = FDevice->read(static_cast<char*>(Buffer), Count);
    if (n < 0)
        throw EStreamError("Cannot read " + FDevice->fileName().toStdString() + ": " +
                           FDevice->errorString().toStdString());
    return int32_t(n);
}

namespace {

EStreamError WriteFailure(const QFileDevice& File)
{
    return EStreamError("Cannot write file \"" + File.fileName().toStdString() + "\". " +
                        File.errorString().toStdString());
}

} // namespace

int32_t TDeviceStream::Write(const void* Buffer, int32_t Count)
{
    const auto* bytes = static_cast<const char*>(Buffer);
    int32_t written = 0;
    while (written < Count) {
        const qint64 n = FDevice->write(bytes + written, Count - written);
        if (n <= 0) {
            // A file system that took a flush of the write buffer only in
            // part (a full disk) gave no reason, so Qt says "Unknown error",
            // and a file being saved refuses every later write without one:
            // what the buffer still holds, flushed once more, fails with the
            // system's reason.
            FDevice->flush();
            throw WriteFailure(*FDevice);
        }
        written += int32_t(n);
    }
    return written;
}

int64_t TDeviceStream::Seek(int64_t Offset, TSeekOrigin Origin)
{
    const int64_t base = Origin == TSeekOrigin::soBeginning ? 0
                         : Origin == TSeekOrigin::soCurrent ? FDevice->pos()
                                                            : FDevice->size();
    if ((Offset > 0 && base > INT64_MAX - Offset) || base + Offset < 0 || !FDevice->seek(base + Offset))
        throw EStreamError("Cannot seek in " + FDevice->fileName().toStdString());
    return FDevice->pos();
}

int64_t TDeviceStream::GetSize() { return FDevice->size(); }

void TDeviceStream::SetSize(int64_t NewSize)
{
    if (NewSize < 0 || !FDevice->resize(NewSize))
        throw EStreamError("Cannot resize " + FDevice->fileName().toStdString());
}

namespace {

std::unique_ptr<QFileDevice> OpenFile(const QString& FileName, TFileMode Mode)
{
    auto file = std::make_unique<QFile>(FileName);
    const QIODevice::OpenMode mode = Mode == TFileMode::fmOpenRead
                                         ? QIODevice::ReadOnly
                                         : QIODevice::ReadWrite | QIODevice::Truncate;
    if (!file->open(mode))
        throw EStreamError("Cannot open file \"" + FileName.toStdString() + "\". " +
                           file->errorString().toStdString());
    return file;
}

std::unique_ptr<QFileDevice> OpenSaveFile(const QString& FileName)
{
    auto file = std::make_unique<QSaveFile>(FileName);
    if (!file->open(QIODevice::WriteOnly))
        throw EStreamError("Cannot create file \"" + FileName.toStdString() + "\". " +
                           file->errorString().toStdString());
    return file;
}

std::unique_ptr<QFileDevice> OpenTemporaryFile(const QString& Template)
{
    auto file = std::make_unique<QTemporaryFile>(Template);
    if (!file->open())
        throw EStreamError("Cannot create a temporary file \"" + Template.toStdString() + "\". " +
                           file->errorString().toStdString());
    return file;
}

} // namespace

TFileStream::TFileStream(const QString& FileName, TFileMode Mode) : TDeviceStream(OpenFile(FileName, Mode)) {}

TSaveFileStream::TSaveFileStream(const QString& FileName) : TDeviceStream(OpenSaveFile(FileName)) {}

TTemporaryFileStream::TTemporaryFileStream(const QString& Template) : TDeviceStream(OpenTemporaryFile(Template)) {}

void TSaveFileStream::Commit()
{
    auto& file = static_cast<QSaveFile&>(Device());
    // QSaveFile::commit() trusts writes that went only as far as the write
    // buffer: the last of them can fail at the flush (a full disk) while
    // commit() still renames the short file over the old one. Flushed and
    // checked first, a failed save never gets that far. A flush that the
    // file system took only in part stops without a reason; the rest is
    // tried once more, and either goes through or fails with one.
    if ((!file.flush() && !file.flush()) || file.error() != QFileDevice::NoError) {
        const EStreamError failure = WriteFailure(file);
        file.cancelWriting();
        throw failure;
    }
    if (!file.commit())
        throw WriteFailure(file);
}

HRESULT TStreamAdapter::Read(void* pv, uint32_t cb, uint32_t* pcbRead)
{
    if (pv == nullptr)
        return STG_E_INVALIDPOINTER;
    try {
        const int32_t n = FStream.Read(pv, int32_t(std::min<uint32_t>(cb, INT32_MAX)));
        if (pcbRead != nullptr)
            *pcbRead = uint32_t(n);
        return S_OK;
    } catch (...) {
        // A caller must never take an unset count for bytes read.
        if (pcbRead != nullptr)
            *pcbRead = 0;
        return STG_E_READFAULT;
    }
}

HRESULT TStreamAdapter::Write(const void* pv, uint32_t cb, uint32_t* pcbWritten)
{
    if (pv == nullptr)
        return STG_E_INVALIDPOINTER;
    try {
        const int32_t n = FStream.Write(pv, int32_t(std::min<uint32_t>(cb, INT32_MAX)));
        if (pcbWritten != nullptr)
            *pcbWritten = uint32_t(n);
        return S_OK;
    } catch (...) {
        return STG_E_CANTSAVE;
    }
}

HRESULT TStreamAdapter::Seek(int64_t dlibMove, uint32_t dwOrigin, uint64_t* plibNewPosition)
{
    if (dwOrigin > 2)
        return STG_E_INVALIDFUNCTION;
    try {
        const int64_t position = FStream.Seek(dlibMove, TSeekOrigin(dwOrigin));
        if (plibNewPosition != nullptr)
            *plibNewPosition = uint64_t(position);
        return S_OK;
    } catch (...) {
        return STG_E_INVALIDPOINTER;
    }
}

HRESULT TStreamAdapter::SetSize(uint64_t libNewSize)
{
    try {
        FStream.SetSize(int64_t(libNewSize));
        return uint64_t(FStream.Size()) == libNewSize ? S_OK : E_FAIL;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT TStreamAdapter::CopyTo(IStream& pstm, uint64_t cb, uint64_t* pcbRead, uint64_t* pcbWritten)
{
    constexpr uint64_t MaxBufferSize = 0x100000;
    HRESULT result = S_OK;
    uint64_t totalRead = 0;
    uint64_t totalWritten = 0;
    try {
        std::vector<uint8_t> buffer(size_t(std::min(cb, MaxBufferSize)));
        while (cb > 0) {
            const int32_t n = FStream.Read(buffer.data(), int32_t(std::min<uint64_t>(cb, buffer.size())));
            if (n <= 0)
                break;
            totalRead += uint64_t(n);
            uint32_t written = 0;
            result = pstm.Write(buffer.data(), uint32_t(n), &written);
            totalWritten += written;
            if (Succeeded(result) && written != uint32_t(n))
                result = E_FAIL;
            if (!Succeeded(result))
                break;
            cb -= uint64_t(n);
        }
    } catch (...) {
        result = E_UNEXPECTED;
    }
    if (pcbRead != nullptr)
        *pcbRead = totalRead;
    if (pcbWritten != nullptr)
        *pcbWritten = totalWritten;
    return result;
}

HRESULT TStreamAdapter::Commit(uint32_t) { return S_OK; }

HRESULT TStreamAdapter::Revert() { return STG_E_REVERTED; }

HRESULT TStreamAdapter::LockRegion(uint64_t, uint64_t, uint32_t) { return STG_E_INVALIDFUNCTION; }

HRESULT TStreamAdapter::UnlockRegion(uint64_t, uint64_t, uint32_t) { return STG_E_INVALIDFUNCTION; }

HRESULT TStreamAdapter::Stat(TStatStg* pstatstg, uint32_t)
{
    if (pstatstg == nullptr)
        return S_OK;
    try {
        pstatstg->dwType = STGTY_STREAM;
        pstatstg->cbSize = uint64_t(FStream.Size());
        pstatstg->grfLocksSupported = LOCK_WRITE;
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT TStreamAdapter::Clone(std::shared_ptr<IStream>* ppstm)
{
    if (ppstm != nullptr)
        ppstm->reset();
    return E_NOTIMPL;
}

} // namespace Corvanith::Platform
