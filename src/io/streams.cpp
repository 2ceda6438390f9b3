#include "io/streams.h"

#include "graphics/errors.h"

#include <QFile>
#include <QSaveFile>
#include <QtEndian>

namespace Corvanith::IO {

namespace {

void WriteAll(QIODevice& Stream, const char* Data, qint64 Size)
{
    if (Size > 0 && Stream.write(Data, Size) != Size)
        throw EStreamError("Cannot write a data file: " + Stream.errorString().toStdString());
}

QByteArray ReadExactly(QIODevice& Stream, qint64 Size)
{
    QByteArray bytes;
    if (Size <= Stream.bytesAvailable())
        bytes = Stream.read(Size);
    if (bytes.size() != Size)
        throw EStreamError("A data file ends early");
    return bytes;
}

} // namespace

void WriteInt32(QIODevice& Stream, int32_t Value)
{
    char bytes[4];
    qToLittleEndian(Value, bytes);
    WriteAll(Stream, bytes, 4);
}

void WriteByte(QIODevice& Stream, uint8_t Value)
{
    const char byte = char(Value);
    WriteAll(Stream, &byte, 1);
}

void WriteText(QIODevice& Stream, const QString& Text)
{
    const QByteArray bytes = Text.toUtf8();
    if (bytes.size() > INT32_MAX)
        throw EStreamError("A text is too long to store");
    WriteInt32(Stream, int32_t(bytes.size()));
    WriteAll(Stream, bytes.constData(), bytes.size());
}

int32_t ReadInt32(QIODevice& Stream) { return qFromLittleEndian<int32_t>(ReadExactly(Stream, 4).constData()); }

uint8_t ReadByte(QIODevice& Stream) { return uint8_t(ReadExactly(Stream, 1)[0]); }

QString ReadText(QIODevice& Stream)
{
    const int32_t length = ReadInt32(Stream);
    return length <= 0 ? QString() : QString::fromUtf8(ReadExactly(Stream, length));
}

void ReadFileIfExists(const QString& FileName, const std::function<void(QIODevice&)>& Read)
{
    QFile file(FileName);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly))
        throw EStreamError("Cannot open \"" + FileName.toStdString() + "\": " + file.errorString().toStdString());
    Read(file);
}

void ReplaceFile(const QString& FileName, const std::function<void(QIODevice&)>& Write)
{
    QSaveFile file(FileName);
    if (!file.open(QIODevice::WriteOnly))
        throw EStreamError("Cannot create \"" + FileName.toStdString() + "\": " + file.errorString().toStdString());
    Write(file);
    if (!file.commit())
        throw EStreamError("Cannot write \"" + FileName.toStdString() + "\": " + file.errorString().toStdString());
}

} // namespace Corvanith::IO
