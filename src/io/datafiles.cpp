#include "io/datafiles.h"

#include "graphics/errors.h"
#include "platform/streams.h"

#include <QByteArray>
#include <QFileInfo>

namespace Corvanith::IO {

void WriteText(Platform::TStream& Stream, const QString& Text)
{
    const QByteArray bytes = Text.toUtf8();
    if (bytes.size() > INT32_MAX)
        throw EStreamError("A text is too long to store");
    Stream.WriteUInt32(uint32_t(bytes.size()));
    Stream.WriteBuffer(bytes.constData(), int32_t(bytes.size()));
}

QString ReadText(Platform::TStream& Stream)
{
    const auto length = int32_t(Stream.ReadUInt32());
    if (length <= 0)
        return {};
    if (length > Stream.Remaining())
        throw EStreamError("A data file ends inside a text");
    QByteArray bytes(length, Qt::Uninitialized);
    Stream.ReadBuffer(bytes.data(), length);
    return QString::fromUtf8(bytes);
}

void ReadFileIfExists(const QString& FileName, const std::function<void(Platform::TStream&)>& Read)
{
    if (!QFileInfo::exists(FileName))
        return;
    Platform::TFileStream stream(FileName, Platform::TFileMode::fmOpenRead);
    Read(stream);
}

void ReplaceFile(const QString& FileName, const std::function<void(Platform::TStream&)>& Write)
{
    Platform::TSaveFileStream stream(FileName);
    Write(stream);
    stream.Commit();
}

} // namespace Corvanith::IO
