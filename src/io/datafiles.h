#pragma once
// The texts of the data files (recent documents, cache index) and the safe
// reading and replacing of those files.
#include <QString>

#include <functional>

namespace Corvanith::Platform {
class TStream;
}

namespace Corvanith::IO {

// A 32-bit byte length, then the UTF-8 bytes without a terminator. Throws
// EStreamError when the stream does not take every byte.
void WriteText(Platform::TStream& Stream, const QString& Text);
// A length of zero or less reads as the empty text. Throws EStreamError when
// the stream ends before the text does; nothing is allocated for a length the
// stream cannot hold.
QString ReadText(Platform::TStream& Stream);

// Runs Read on FileName opened for reading; nothing when the file does not
// exist. Throws EStreamError when it exists but cannot be opened.
void ReadFileIfExists(const QString& FileName, const std::function<void(Platform::TStream&)>& Read);
// Runs Write on a new file that replaces FileName only once everything was
// written, so a failure leaves the old file whole. Throws EStreamError.
void ReplaceFile(const QString& FileName, const std::function<void(Platform::TStream&)>& Write);

} // namespace Corvanith::IO
