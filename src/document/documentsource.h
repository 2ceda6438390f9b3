#pragma once
// Where a document's picture came from: a file, an image URL, a web page, the
// clipboard or a capture. The record names the document (kind plus location,
// without regard to case), tells how to load it again, gives the texts of the
// recent-documents menu and the window caption, and has a fixed binary form
// inside the recent-documents file.
#include <QDateTime>
#include <QString>

#include <cstdint>


namespace Corvanith::Platform {
class TStream;
}

namespace Corvanith::Document {

// One byte; a damaged stream can give values past dskWindowshot.
enum class TCorvDocumentSourceKind : uint8_t {
    dskNone = 0,
    dskFile = 1,
    dskUrl = 2,
    dskWebPage = 3,
    dskClipboard = 4,
    dskScreenshot = 5,
    dskWindowshot = 6,
};

struct TCorvDocumentSource {
    TCorvDocumentSourceKind Kind = TCorvDocumentSourceKind::dskNone;
    // File path, URL, or for captures a pseudo-URL such as
    // "clipboard://3/5/24 2:07:09 PM/123456".
    QString Location;
    // When the record was made: local time as days since 30 December 1899,
    // the time of day as the fraction (the OLE automation date).
    double Time = 0;
    // The page title of a web page, else empty.
    QString Title;

    friend bool operator==(const TCorvDocumentSource&, const TCorvDocumentSource&) = default;
};

// Local date-time to OLE automation date and back. A value that is not finite
// or lies outside the years 100 to 9999 gives an invalid QDateTime.
double DateTimeToOleDate(const QDateTime& Time);
QDateTime OleDateToDateTime(double Time);

// Records made now; Location is taken as given, without any check.
TCorvDocumentSource MakeFileSource(const QString& FileName);
TCorvDocumentSource MakeUrlSource(const QString& Url);
TCorvDocumentSource MakeWebPageSource(const QString& Url, const QString& Title);
// Records with a new pseudo-URL: the scheme, the time of now in the locale's
// short date and long time (the time left out at exactly midnight), "/" and a
// random number below 1000000 from the process generator.
TCorvDocumentSource MakeClipboardSource();
TCorvDocumentSource MakeScreenshotSource();
TCorvDocumentSource MakeWindowshotSource();
// The pseudo-URL record of a capture Kind (dskClipboard, dskScreenshot or
// dskWindowshot) made at Time with Number; throws EArgumentError for any other
// kind.
TCorvDocumentSource MakeCaptureSource(TCorvDocumentSourceKind Kind, const QDateTime& Time, uint32_t Number);

// Equal kinds and locations equal without regard to case; Time and Title do
// not count.
bool SameDocumentSource(const TCorvDocumentSource& A, const TCorvDocumentSource& B);
bool DifferentDocumentSource(const TCorvDocumentSource& A, const TCorvDocumentSource& B);

// "photo.jpg", "Example.com, photo.jpg", "Clipboard, 3/5/24 2:07 PM"...
QString DocumentSourceToMenuText(const TCorvDocumentSource& Source);
// The same parts the other way round: "photo.jpg, Example.com", "3/5/24 2:07 PM, Clipboard"...
QString DocumentSourceToCaption(const TCorvDocumentSource& Source);

// The stream form, little-endian without padding: int32 version (written as
// 1), int32 kind, double time, int32 byte length and the UTF-8 bytes of
// Location, the same for Title. Throws EStreamError when Stream does not take
// every byte.
void WriteDocumentSource(const TCorvDocumentSource& Source, Platform::TStream& Stream);
// Reads the stream form: any version, the kind's low byte, a length of zero or
// less as an empty text. Throws EStreamError, leaving Source as it was, when
// the stream ends early or a length is larger than what the stream still holds.
void ReadDocumentSource(TCorvDocumentSource& Source, Platform::TStream& Stream);
TCorvDocumentSource LoadDocumentSource(Platform::TStream& Stream);

} // namespace Corvanith::Document
