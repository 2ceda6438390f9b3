#pragma once
// Small routines the application's windows and files share. None keeps state
// except the terminating flag that Delay watches.
#include <QFont>
#include <QString>

#include <cstdint>
#include <functional>

namespace Corvanith::Utils {

// The platform's identifier of the roaming application-data folder.
inline constexpr int CsidlAppData = 26;

// A byte count as text: "1023 bytes", "-1 bytes", "1.50 Kb", "2.00 Gb"; the
// quotient has two decimals (halves away from zero), the locale's decimal
// separator and no grouping.
QString FormatSize(int32_t Size);

// Text to integer as the user or a stored value may write it: leading blanks,
// an optional sign, then decimal digits, or hexadecimal digits after $, x, X,
// 0x or 0X, and nothing after them. Hexadecimal may spell the whole 32-bit
// pattern ("$FFFFFFFF" is -1); decimal must lie in the signed 32-bit range.
// False for anything else, and Value is then left alone.
bool TryStrToInt(const QString& S, int32_t& Value);

// True when Url has both a scheme and a host; never throws.
bool IsValidUrl(const QString& Url);

// The folder's path without a trailing separator; empty for an unknown
// identifier or when the platform has no such folder.
QString GetSpecialFolderPath(int Csidl);

// Whether a full path is spoken for although no file may stand there yet.
using TCorvNameClaimed = std::function<bool(const QString& Path)>;

// Creates a new empty file named the first three characters of Prefix, one to
// four upper-case hexadecimal digits and ".TMP" in Folder, and returns its
// full path. Names already taken, on disk or by Claimed, are skipped. Throws
// ECorvError when Folder cannot take a new file or every name is taken.
QString CreateTempFileName(const QString& Folder, const QString& Prefix, const TCorvNameClaimed& Claimed = {});
// The same, trying the numbers from FirstNumber on (1 follows $FFFF).
QString CreateTempFileName(const QString& Folder, const QString& Prefix, uint16_t FirstNumber,
                           const TCorvNameClaimed& Claimed = {});

// Once set, the application is terminating and Delay returns at once. The
// shutdown sets it before the main window closes.
void SetTerminating(bool Terminating);
bool IsTerminating();

// Waits at least Milliseconds while the application keeps handling its events
// (about every 10 ms); returns early once the application is terminating.
// Delay(0) returns at once without handling any event.
void Delay(uint32_t Milliseconds);

// The first 1024 characters of Text, cut and ended with an ellipsis where they
// are wider than Width pixels in Font, the font the text will be shown in.
// Ampersands are plain characters.
QString ShortenText(const QString& Text, int32_t Width, const QFont& Font);

} // namespace Corvanith::Utils
