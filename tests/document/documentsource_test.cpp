#include "document/documentsource.h"
#include "platform/streams.h"

#include "graphics/errors.h"
#include "io/random.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QRegularExpression>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>

// Readable failure messages for texts.
void PrintTo(const QString& Text, std::ostream* Out) { *Out << '"' << Text.toStdString() << '"'; }

namespace {

using namespace Corvanith;
using namespace Corvanith::Document;
using Corvanith::Platform::TMemoryStream;
using Kind = TCorvDocumentSourceKind;

TCorvDocumentSource Source(Kind K, const QString& Location, const QString& Title = {}, double Time = 0)
{
    TCorvDocumentSource s;
    s.Kind = K;
    s.Location = Location;
    s.Time = Time;
    s.Title = Title;
    return s;
}

// Texts with dates are checked in one known locale.
class DocumentSourceTextTest : public testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void TearDown() override { QLocale::setDefault(FSaved); }
    const QLocale FSaved;
    const QDateTime FAfternoon{QDate(2024, 3, 5), QTime(14, 7, 9, 600)};
    const QDateTime FMidnight{QDate(2024, 3, 5), QTime(0, 0, 0, 250)};
};

TEST(DocumentSourceTest, ZeroRecordIsNone)
{
    const TCorvDocumentSource s;
    EXPECT_EQ(s.Kind, Kind::dskNone);
    EXPECT_TRUE(s.Location.isEmpty());
    EXPECT_TRUE(s.Title.isEmpty());
    EXPECT_EQ(s.Time, 0.0);
    EXPECT_EQ(sizeof(TCorvDocumentSourceKind), 1u);
}

TEST(DocumentSourceTest, OleDatesConvertBothWays)
{
    struct Case {
        QDateTime Time;
        double Ole;
    };
    const Case cases[] = {
        {QDateTime(QDate(1899, 12, 30), QTime(0, 0)), 0.0},
        {QDateTime(QDate(1899, 12, 31), QTime(6, 0)), 1.25},
        {QDateTime(QDate(1899, 12, 29), QTime(6, 0)), -1.25}, // the fraction counts forward before the epoch too
        {QDateTime(QDate(2024, 3, 5), QTime(12, 0)), 45356.5},
        {QDateTime(QDate(9999, 12, 31), QTime(0, 0)), 2958465.0},
        {QDateTime(QDate(100, 1, 1), QTime(0, 0)), -657434.0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DateTimeToOleDate(c.Time), c.Ole) << c.Ole;
        EXPECT_EQ(OleDateToDateTime(c.Ole), c.Time) << c.Ole;
    }
    const QDateTime withMs(QDate(2024, 3, 5), QTime(14, 7, 9, 600));
    EXPECT_EQ(OleDateToDateTime(DateTimeToOleDate(withMs)), withMs);
}

TEST(DocumentSourceTest, TimesNoDateCanHoldAreInvalid)
{
    const double times[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(), 1e300, -1e300, 2958466.0, -657435.0};
    for (double t : times)
        EXPECT_FALSE(OleDateToDateTime(t).isValid()) << t;
    TCorvDocumentSource s = Source(Kind::dskClipboard, QStringLiteral("clipboard://x/1"), {}, 1e300);
    EXPECT_EQ(DocumentSourceToMenuText(s), "Clipboard, ");
    s.Time = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(DocumentSourceToCaption(s), ", Clipboard");
}

TEST(DocumentSourceTest, SimpleMakersTakeTheTextAsGivenAndTheTimeOfNow)
{
    const double before = DateTimeToOleDate(QDateTime::currentDateTime());
    const TCorvDocumentSource file = MakeFileSource(QStringLiteral("/home/u/Pictures/ Photo.JPG"));
    const TCorvDocumentSource url = MakeUrlSource(QStringLiteral("HTTP://WWW.Example.com/a.png"));
    const TCorvDocumentSource page = MakeWebPageSource(QStringLiteral("http://x.org/"), QStringLiteral("X"));
    const double after = DateTimeToOleDate(QDateTime::currentDateTime());
    EXPECT_EQ(file, Source(Kind::dskFile, QStringLiteral("/home/u/Pictures/ Photo.JPG"), {}, file.Time));
    EXPECT_EQ(url, Source(Kind::dskUrl, QStringLiteral("HTTP://WWW.Example.com/a.png"), {}, url.Time));
    EXPECT_EQ(page, Source(Kind::dskWebPage, QStringLiteral("http://x.org/"), QStringLiteral("X"), page.Time));
    for (const TCorvDocumentSource* s : {&file, &url, &page}) {
        EXPECT_GE(s->Time, before);
        EXPECT_LE(s->Time, after);
    }
}

TEST_F(DocumentSourceTextTest, PseudoUrls)
{
    struct Case {
        Kind K;
        QDateTime Time;
        uint32_t Number;
        const char* Location;
    };
    const Case cases[] = {
        {Kind::dskClipboard, FAfternoon, 123456, "clipboard://3/5/24 2:07:09 PM/123456"},
        {Kind::dskScreenshot, FAfternoon, 0, "screenshot://3/5/24 2:07:09 PM/0"},
        {Kind::dskWindowshot, FAfternoon, 999999, "windowshot://3/5/24 2:07:09 PM/999999"},
        {Kind::dskClipboard, FMidnight, 42, "clipboard://3/5/24/42"}, // milliseconds do not count
        {Kind::dskClipboard, QDateTime(QDate(2024, 3, 5), QTime(0, 0, 1)), 7, "clipboard://3/5/24 12:00:01 AM/7"},
    };
    for (const Case& c : cases) {
        const TCorvDocumentSource s = MakeCaptureSource(c.K, c.Time, c.Number);
        EXPECT_EQ(s.Kind, c.K);
        EXPECT_EQ(s.Location, QString::fromUtf8(c.Location));
        EXPECT_EQ(s.Time, DateTimeToOleDate(c.Time));
        EXPECT_TRUE(s.Title.isEmpty());
    }
    for (Kind k : {Kind::dskNone, Kind::dskFile, Kind::dskUrl, Kind::dskWebPage, Kind(7)})
        EXPECT_THROW(MakeCaptureSource(k, FAfternoon, 1), EArgumentError);
}

TEST_F(DocumentSourceTextTest, CaptureMakersUseTheClockAndTheProcessGenerator)
{
    const QRegularExpression form(QStringLiteral("^(clipboard|screenshot|windowshot)://.+/(0|[1-9][0-9]{0,5})$"));
    Utils::RandSeed(20240305);
    const TCorvDocumentSource first = MakeClipboardSource();
    const TCorvDocumentSource second = MakeClipboardSource();
    const TCorvDocumentSource screen = MakeScreenshotSource();
    const TCorvDocumentSource window = MakeWindowshotSource();
    EXPECT_EQ(first.Kind, Kind::dskClipboard);
    EXPECT_EQ(screen.Kind, Kind::dskScreenshot);
    EXPECT_EQ(window.Kind, Kind::dskWindowshot);
    EXPECT_TRUE(first.Location.startsWith(QStringLiteral("clipboard://")));
    EXPECT_TRUE(screen.Location.startsWith(QStringLiteral("screenshot://")));
    EXPECT_TRUE(window.Location.startsWith(QStringLiteral("windowshot://")));
    for (const TCorvDocumentSource* s : {&first, &second, &screen, &window})
        EXPECT_TRUE(form.match(s->Location).hasMatch()) << s->Location.toStdString();
    // The same seed repeats the same numbers.
    Utils::RandSeed(20240305);
    const TCorvDocumentSource again = MakeClipboardSource();
    EXPECT_EQ(again.Location.section(u'/', -1), first.Location.section(u'/', -1));
    EXPECT_NE(first.Location.section(u'/', -1), second.Location.section(u'/', -1));
}

TEST_F(DocumentSourceTextTest, CapturesInOneSecondDifferByTheirNumber)
{
    const TCorvDocumentSource a = MakeCaptureSource(Kind::dskClipboard, FAfternoon, 1);
    const TCorvDocumentSource b = MakeCaptureSource(Kind::dskClipboard, FAfternoon.addMSecs(300), 2);
    EXPECT_TRUE(DifferentDocumentSource(a, b));
    EXPECT_TRUE(SameDocumentSource(a, MakeCaptureSource(Kind::dskClipboard, FAfternoon.addMSecs(300), 1)));
}

TEST(DocumentSourceTest, Identity)
{
    struct Case {
        TCorvDocumentSource A;
        TCorvDocumentSource B;
        bool Same;
    };
    const Case cases[] = {
        {Source(Kind::dskFile, "/Pics/A.png"), Source(Kind::dskFile, "/pics/a.PNG"), true},
        {Source(Kind::dskUrl, "http://x/Ä.png"), Source(Kind::dskUrl, "HTTP://X/ä.png"), true},
        {Source(Kind::dskFile, "/pics/a.png"), Source(Kind::dskUrl, "/pics/a.png"), false},
        {Source(Kind::dskFile, "/pics/a.png"), Source(Kind::dskFile, "/pics/b.png"), false},
        {Source(Kind::dskFile, "/pics/a.png"), Source(Kind::dskFile, "/pics/a.png "), false},
        {Source(Kind::dskWebPage, "http://x/", "One", 1.0), Source(Kind::dskWebPage, "http://x/", "Two", 2.0), true},
        {Source(Kind::dskNone, ""), TCorvDocumentSource(), true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SameDocumentSource(c.A, c.B), c.Same) << c.A.Location.toStdString() << " | "
                                                        << c.B.Location.toStdString();
        EXPECT_EQ(SameDocumentSource(c.B, c.A), c.Same);
        EXPECT_EQ(DifferentDocumentSource(c.A, c.B), !c.Same);
    }
}

TEST_F(DocumentSourceTextTest, MenuTextAndCaption)
{
    const double afternoon = DateTimeToOleDate(FAfternoon);
    const double midnight = DateTimeToOleDate(FMidnight);
    struct Case {
        TCorvDocumentSource S;
        const char* Menu;
        const char* Caption;
    };
    const Case cases[] = {
        {TCorvDocumentSource(), "", ""},
        {Source(Kind::dskFile, "/home/u/Pictures/photo.jpg"), "photo.jpg", "photo.jpg"},
        {Source(Kind::dskFile, "C:\\Pictures\\photo.jpg"), "photo.jpg", "photo.jpg"},
        {Source(Kind::dskFile, "C:photo.jpg"), "photo.jpg", "photo.jpg"},
        {Source(Kind::dskFile, "photo.jpg"), "photo.jpg", "photo.jpg"},
        {Source(Kind::dskFile, "/home/u/dir/"), "", ""},
        {Source(Kind::dskUrl, "http://www.example.com/a/b.png?x=1#f"), "example.com, b.png", "b.png, example.com"},
        {Source(Kind::dskUrl, "HTTP://WWW.Example.COM/b.png"), "Example.COM, b.png", "b.png, Example.COM"},
        {Source(Kind::dskUrl, "http://user:pw@WWW.Example.com:8080/b.png"), "Example.com, b.png", "b.png, Example.com"},
        {Source(Kind::dskUrl, "http://www2.example.com/b.png"), "www2.example.com, b.png", "b.png, www2.example.com"},
        {Source(Kind::dskUrl, "http://example.com/dir/"), "example.com, ", ", example.com"},
        {Source(Kind::dskUrl, "http://example.com"), "example.com, ", ", example.com"},
        {Source(Kind::dskUrl, "http://[::1]:80/b.png"), "::1, b.png", "b.png, ::1"},
        {Source(Kind::dskUrl, "http://example.com/a%20b.png"), "example.com, a b.png", "a b.png, example.com"},
        {Source(Kind::dskWebPage, "http://www.Example.com/news/today.html", "Today"), "Example.com, Today",
         "Today, Example.com"},
        {Source(Kind::dskWebPage, "http://www.Example.com/news/today.html"), "Example.com, today.html",
         "today.html, Example.com"},
        {Source(Kind::dskWebPage, "http://example.com/"), "example.com, ", ", example.com"},
        {Source(Kind::dskClipboard, "clipboard://x/1", {}, afternoon), "Clipboard, 3/5/24 2:07 PM",
         "3/5/24 2:07 PM, Clipboard"},
        {Source(Kind::dskScreenshot, "screenshot://x/1", {}, afternoon), "Screenshot, 3/5/24 2:07 PM",
         "3/5/24 2:07 PM, Screenshot"},
        {Source(Kind::dskWindowshot, "windowshot://x/1", {}, midnight), "Screenshot, 3/5/24 12:00 AM",
         "3/5/24 12:00 AM, Screenshot"},
        {Source(Kind(7), "http://example.com/b.png"), "", ""},
        {Source(Kind(255), "photo.jpg"), "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DocumentSourceToMenuText(c.S), QString::fromUtf8(c.Menu)) << c.S.Location.toStdString();
        EXPECT_EQ(DocumentSourceToCaption(c.S), QString::fromUtf8(c.Caption)) << c.S.Location.toStdString();
    }
}

TEST_F(DocumentSourceTextTest, LongHostsKeepAtMost1024CharactersAfterWww)
{
    QString host;
    for (int i = 0; i < 150; ++i)
        host += QStringLiteral("abcdefgh.");
    host += QStringLiteral("com");
    const TCorvDocumentSource s = Source(Kind::dskUrl, "http://www." + host + "/b.png");
    const QString menu = DocumentSourceToMenuText(s);
    EXPECT_EQ(menu, host.left(1024) + QStringLiteral(", b.png"));
}

QByteArray Written(const TCorvDocumentSource& S)
{
    TMemoryStream stream;
    WriteDocumentSource(S, stream);
    return QByteArray(reinterpret_cast<const char*>(stream.Data().data()), qsizetype(stream.Data().size()));
}

TMemoryStream StreamOf(const QByteArray& Bytes)
{
    return TMemoryStream(std::vector<uint8_t>(Bytes.begin(), Bytes.end()));
}

TCorvDocumentSource Loaded(const QByteArray& Bytes)
{
    TMemoryStream stream = StreamOf(Bytes);
    return LoadDocumentSource(stream);
}

TEST(DocumentSourceStreamTest, WritesTheFixedLittleEndianForm)
{
    const TCorvDocumentSource s = Source(Kind::dskWebPage, "http://a/b", "T\u00EF", 45356.5);
    const QByteArray expected = QByteArray::fromHex("01000000"
                                                    "03000000"
                                                    "000000009025e640"
                                                    "0a000000")
        + "http://a/b" + QByteArray::fromHex("03000000") + "T\xC3\xAF";
    EXPECT_EQ(Written(s).toHex(), expected.toHex());
    EXPECT_EQ(Written(TCorvDocumentSource()), QByteArray::fromHex("01000000000000000000000000000000"
                                                                  "0000000000000000"));
}

TEST(DocumentSourceStreamTest, RoundTripsByteForByte)
{
    const TCorvDocumentSource sources[] = {
        TCorvDocumentSource(),
        Source(Kind::dskFile, "/home/u/Bilder/Größe €.png", {}, 45356.123456789),
        Source(Kind::dskWebPage, "http://x/", "Ünïcode 🙂 title", -1.25),
        Source(Kind::dskClipboard, "clipboard://3/5/24 2:07:09 PM/123456", {}, 45356.588),
        Source(Kind(200), "x", "y", std::numeric_limits<double>::infinity()),
    };
    for (const TCorvDocumentSource& s : sources) {
        const QByteArray bytes = Written(s);
        const TCorvDocumentSource back = Loaded(bytes);
        EXPECT_EQ(back, s) << s.Location.toStdString();
        EXPECT_EQ(Written(back), bytes);
    }
    // Two records one after the other read apart, each where the last ended.
    TMemoryStream both = StreamOf(Written(sources[1]) + Written(sources[2]));
    EXPECT_EQ(LoadDocumentSource(both), sources[1]);
    EXPECT_EQ(LoadDocumentSource(both), sources[2]);
    EXPECT_EQ(both.Remaining(), 0);
}

TEST(DocumentSourceStreamTest, ReaderToleratesVersionKindAndNegativeLengths)
{
    struct Case {
        const char* Hex;
        TCorvDocumentSource Expected;
    };
    const Case cases[] = {
        // Version 7 reads like 1.
        {"07000000" "01000000" "0000000000000000" "01000000" "61" "00000000", Source(Kind::dskFile, "a")},
        // Kind 258 keeps its low byte.
        {"01000000" "02010000" "0000000000000000" "00000000" "00000000", Source(Kind::dskUrl, "")},
        // A length of -5 is an empty text; the next field follows the length.
        {"01000000" "04000000" "000000000000f03f" "fbffffff" "01000000" "62", Source(Kind::dskClipboard, "", "b", 1.0)},
        {"01000000" "ff000000" "0000000000000000" "00000080" "00000080", Source(Kind(255), "")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Loaded(QByteArray::fromHex(c.Hex)), c.Expected) << c.Hex;
}

TEST(DocumentSourceStreamTest, RefusesShortAndOversizedRecordsLeavingTheTargetAlone)
{
    const QByteArray full = Written(Source(Kind::dskUrl, "http://a/b.png", "Title", 45356.5));
    const TCorvDocumentSource untouched = Source(Kind::dskFile, "keep", "me", 3.0);
    auto refused = [&](const QByteArray& Bytes) {
        TMemoryStream stream = StreamOf(Bytes);
        TCorvDocumentSource target = untouched;
        EXPECT_THROW(ReadDocumentSource(target, stream), EStreamError);
        EXPECT_EQ(target, untouched);
    };
    for (qsizetype size = 0; size < full.size(); ++size)
        refused(full.left(size));

    QByteArray huge = full;
    qToLittleEndian<int32_t>(2000000000, huge.data() + 16);
    refused(huge);
    QByteArray titleTooLong = full;
    qToLittleEndian<int32_t>(6, titleTooLong.data() + 20 + 14);
    refused(titleTooLong);
    QByteArray hugeTitle = full;
    qToLittleEndian<int32_t>(INT32_MAX, hugeTitle.data() + 20 + 14);
    refused(hugeTitle);
}

// A stream that takes only so many bytes, as a full disk does.
class TShortStream : public TMemoryStream {
public:
    explicit TShortStream(int32_t Capacity) : FLeft(Capacity) {}
    using TMemoryStream::Seek;
    int32_t Write(const void* Buffer, int32_t Count) override
    {
        const int32_t n = std::min(Count, FLeft);
        FLeft -= n;
        return TMemoryStream::Write(Buffer, n);
    }

private:
    int32_t FLeft;
};

TEST(DocumentSourceStreamTest, WriterRefusesAStreamThatDoesNotTakeEveryByte)
{
    const TCorvDocumentSource s = Source(Kind::dskFile, "a", "b");
    const int32_t full = int32_t(Written(s).size());
    for (int32_t capacity : {0, 3, 19, full - 1}) {
        TShortStream stream(capacity);
        EXPECT_THROW(WriteDocumentSource(s, stream), EStreamError) << capacity;
    }
}

} // namespace
