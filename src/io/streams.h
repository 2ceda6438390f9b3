#pragma once
// The little-endian fields of the data files (recent documents, cache index)
// and their safe replacement on disk.
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

class QIODevice;

namespace Corvanith::IO {

// Each throws EStreamError when Stream does not take every byte.
void WriteInt32(QIODevice& Stream, int32_t Value);
void WriteByte(QIODevice& Stream, uint8_t Value);
// A 32-bit byte length, then the UTF-8 bytes without a terminator.
void WriteText(QIODevice& Stream, const QString& Text);

// Each throws EStreamError when Stream ends before the field does; nothing
// is allocated for a length the stream cannot hold.
int32_t ReadInt32(QIODevice& Stream);
uint8_t ReadByte(QIODevice& Stream);
// A length of zero or less reads as the empty text.
QString ReadText(QIODevice& Stream);

// Runs Read on FileName opened for reading; nothing when the file does not
// exist. Throws EStreamError when it exists but cannot be opened.
void ReadFileIfExists(const QString& FileName, const std::function<void(QIODevice&)>& Read);
// Runs Write on a new file that replaces FileName only once everything was
// written, so a failure leaves the old file whole. Throws EStreamError.
void ReplaceFile(const QString& FileName, const std::function<void(QIODevice&)>& Write);

} // namespace Corvanith::IO
