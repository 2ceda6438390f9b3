#include "document/documentsource.h"

#include "graphics/errors.h"
#include "io/datafiles.h"
#include "io/random.h"
#include "platform/streams.h"

#include <QLocale>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Corvanith::Document {

namespace {

using Kind = TCorvDocumentSourceKind;

constexpr int64_t MSecsPerDay = 86400000;
const QDate OleEpoch(1899, 12, 30);
// 1 January 100 and the day after 31 December 9999.
constexpr double OleFirst = -657434.0;
constexpr double OleEnd = 2958466.0;

// The locale's long time without Qt's time-zone field, which the locale's own
// long time form does not show.
QString LongTimeFormat(const QLocale& Locale)
{
    const QString format = Locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        result += c;
    }
    return result.trimmed();
}

// Short date and long time; the time is left out when hours, minutes and
// seconds are all zero.
QString PseudoUrlTime(const QDateTime& Time)
{
    const QLocale locale;
    QString text = locale.toString(Time.date(), QLocale::ShortFormat);
    const QTime t = Time.time();
    if (t.hour() != 0 || t.minute() != 0 || t.second() != 0)
        text += u' ' + locale.toString(t, LongTimeFormat(locale));
    return text;
}

// Short date, a blank and short time; empty for a time no date can hold.
QString CaptureTimeText(double Time)
{
    const QDateTime time = OleDateToDateTime(Time);
    if (!time.isValid())
        return {};
    const QLocale locale;
    return locale.toString(time.date(), QLocale::ShortFormat) + u' '
        + locale.toString(time.time(), QLocale::ShortFormat);
}

// What follows the last "\", ":" or "/"; the whole text when there is none.
QString FileNamePart(const QString& Location)
{
    const qsizetype cut =
        std::max({Location.lastIndexOf(u'\\'), Location.lastIndexOf(u':'), Location.lastIndexOf(u'/')});
    return Location.mid(cut + 1);
}

// The host as the text writes it: QUrl gives it in lower case.
QString HostAsWritten(const QString& Url)
{
    const qsizetype scheme = Url.indexOf(QStringLiteral("://"));
    if (scheme < 0)
        return {};
    const qsizetype start = scheme + 3;
    qsizetype end = start;
    while (end < Url.size() && Url[end] != u'/' && Url[end] != u'?' && Url[end] != u'#')
        ++end;
    QString authority = Url.mid(start, end - start);
    authority = authority.mid(authority.lastIndexOf(u'@') + 1);
    if (authority.startsWith(u'['))
        return authority.mid(1, authority.indexOf(u']') - 1);
    return authority.left(authority.indexOf(u':'));
}

struct THostAndDocument {
    QString Host;
    QString Document;
};

// Host without a leading "www." and the last path segment (empty when the
// path ends in "/" or is missing).
THostAndDocument SplitUrl(const QString& Location)
{
    const QUrl url(Location);
    QString host = url.host();
    const QString written = HostAsWritten(Location);
    if (QString::compare(written, host, Qt::CaseInsensitive) == 0)
        host = written;
    if (host.startsWith(QStringLiteral("www."), Qt::CaseInsensitive))
        host = host.mid(4, 1024);
    return {host, url.fileName(QUrl::PrettyDecoded)};
}

// Both texts join a label (host, "Clipboard" or "Screenshot") and a detail
// (document, page title or capture time); the menu puts the label first, the
// caption last. A file shows only its name; unknown kinds show nothing.
QString SourceText(const TCorvDocumentSource& Source, bool LabelFirst)
{
    QString label;
    QString detail;
    switch (Source.Kind) {
    case Kind::dskFile: return FileNamePart(Source.Location);
    case Kind::dskUrl:
    case Kind::dskWebPage: {
        THostAndDocument parts = SplitUrl(Source.Location);
        label = std::move(parts.Host);
        const bool titled = Source.Kind == Kind::dskWebPage && !Source.Title.isEmpty();
        detail = titled ? Source.Title : std::move(parts.Document);
        break;
    }
    case Kind::dskClipboard:
        label = QStringLiteral("Clipboard");
        detail = CaptureTimeText(Source.Time);
        break;
    case Kind::dskScreenshot:
    case Kind::dskWindowshot:
        label = QStringLiteral("Screenshot");
        detail = CaptureTimeText(Source.Time);
        break;
    default: return {};
    }
    return LabelFirst ? label + QStringLiteral(", ") + detail : detail + QStringLiteral(", ") + label;
}

TCorvDocumentSource MakeSimpleSource(Kind SourceKind, const QString& Location, const QString& Title)
{
    TCorvDocumentSource source;
    source.Kind = SourceKind;
    source.Time = DateTimeToOleDate(QDateTime::currentDateTime());
    source.Location = Location;
    source.Title = Title;
    return source;
}

TCorvDocumentSource MakeCaptureSourceNow(Kind SourceKind)
{
    return MakeCaptureSource(SourceKind, QDateTime::currentDateTime(), Utils::Random(1000000));
}

} // namespace

double DateTimeToOleDate(const QDateTime& Time)
{
    if (!Time.isValid())
        return 0;
    const double days = double(OleEpoch.daysTo(Time.date()));
    const double fraction = double(Time.time().msecsSinceStartOfDay()) / MSecsPerDay;
    // Before the epoch the fraction still counts forward from midnight.
    return days < 0 ? days - fraction : days + fraction;
}

QDateTime OleDateToDateTime(double Time)
{
    if (!std::isfinite(Time) || Time <= OleFirst - 1 || Time >= OleEnd)
        return {};
    const auto msecs = int64_t(std::nearbyint(Time * MSecsPerDay));
    const int64_t days = msecs / MSecsPerDay;
    const auto msOfDay = int(std::abs(msecs) % MSecsPerDay);
    return QDateTime(OleEpoch.addDays(days), QTime::fromMSecsSinceStartOfDay(msOfDay));
}

TCorvDocumentSource MakeFileSource(const QString& FileName) { return MakeSimpleSource(Kind::dskFile, FileName, {}); }

TCorvDocumentSource MakeUrlSource(const QString& Url) { return MakeSimpleSource(Kind::dskUrl, Url, {}); }

TCorvDocumentSource MakeWebPageSource(const QString& Url, const QString& Title)
{
    return MakeSimpleSource(Kind::dskWebPage, Url, Title);
}

TCorvDocumentSource MakeClipboardSource() { return MakeCaptureSourceNow(Kind::dskClipboard); }

TCorvDocumentSource MakeScreenshotSource() { return MakeCaptureSourceNow(Kind::dskScreenshot); }

TCorvDocumentSource MakeWindowshotSource() { return MakeCaptureSourceNow(Kind::dskWindowshot); }

TCorvDocumentSource MakeCaptureSource(TCorvDocumentSourceKind SourceKind, const QDateTime& Time, uint32_t Number)
{
    QString scheme;
    switch (SourceKind) {
    case Kind::dskClipboard: scheme = QStringLiteral("clipboard://"); break;
    case Kind::dskScreenshot: scheme = QStringLiteral("screenshot://"); break;
    case Kind::dskWindowshot: scheme = QStringLiteral("windowshot://"); break;
    default: throw EArgumentError("Only a capture has a pseudo-URL");
    }
    TCorvDocumentSource source;
    source.Kind = SourceKind;
    source.Time = DateTimeToOleDate(Time);
    source.Location = scheme + PseudoUrlTime(Time) + u'/' + QString::number(Number);
    return source;
}

bool SameDocumentSource(const TCorvDocumentSource& A, const TCorvDocumentSource& B)
{
    return A.Kind == B.Kind && QString::compare(A.Location, B.Location, Qt::CaseInsensitive) == 0;
}

bool DifferentDocumentSource(const TCorvDocumentSource& A, const TCorvDocumentSource& B)
{
    return !SameDocumentSource(A, B);
}

QString DocumentSourceToMenuText(const TCorvDocumentSource& Source) { return SourceText(Source, true); }

QString DocumentSourceToCaption(const TCorvDocumentSource& Source) { return SourceText(Source, false); }

void WriteDocumentSource(const TCorvDocumentSource& Source, Platform::TStream& Stream)
{
    Stream.WriteUInt32(1);
    Stream.WriteUInt32(uint8_t(Source.Kind));
    Stream.WriteDouble(Source.Time);
    IO::WriteText(Stream, Source.Location);
    IO::WriteText(Stream, Source.Title);
}

void ReadDocumentSource(TCorvDocumentSource& Source, Platform::TStream& Stream)
{
    TCorvDocumentSource read;
    Stream.ReadUInt32(); // every version reads alike
    read.Kind = TCorvDocumentSourceKind(uint8_t(Stream.ReadUInt32()));
    read.Time = Stream.ReadDouble();
    read.Location = IO::ReadText(Stream);
    read.Title = IO::ReadText(Stream);
    Source = std::move(read);
}

TCorvDocumentSource LoadDocumentSource(Platform::TStream& Stream)
{
    TCorvDocumentSource source;
    ReadDocumentSource(source, Stream);
    return source;
}

} // namespace Corvanith::Document
