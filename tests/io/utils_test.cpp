#include "io/utils.h"

#include "graphics/errors.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

using namespace Corvanith;
using namespace Corvanith::Utils;

TEST(TryStrToIntTest, AcceptsTheIntegerForms)
{
    const std::pair<const char*, int32_t> cases[] = {
        {"0", 0},          {"123", 123},         {"   12", 12},         {"-5", -5},
        {"+5", 5},         {"$1F", 31},          {"x1f", 31},          {"X10", 16},
        {"0x10", 16},      {"0X1a", 26},         {"-$10", -16},        {"007", 7},
        {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN}, {"$7FFFFFFF", INT32_MAX}, {"-0x80000000", INT32_MIN},
        // Hexadecimal spells the whole 32-bit pattern.
        {"$FFFFFFFF", -1}, {"$80000000", INT32_MIN},
    };
    for (const auto& [text, expected] : cases) {
        int32_t value = 42;
        EXPECT_TRUE(TryStrToInt(QString::fromUtf8(text), value)) << text;
        EXPECT_EQ(value, expected) << text;
    }
}

TEST(TryStrToIntTest, RefusesEverythingElseAndKeepsTheValue)
{
    const char* cases[] = {"",    " ",   "12 ", "12.5", "abc", "2147483648", "-2147483649", "$",    "0x",
                           "-",   "12ab", "$100000000", "1e3", "\t12", "+-5", "--5", "5-", "1 2", "0x-1", "\xd9\xa3"};
    for (const char* text : cases) {
        int32_t value = 42;
        EXPECT_FALSE(TryStrToInt(QString::fromUtf8(text), value)) << text;
        EXPECT_EQ(value, 42) << text;
    }
}

TEST(FormatSizeTest, Table)
{
    struct Case {
        int32_t Size;
        const char* Expected;
    };
    const Case cases[] = {
        {0, "0 bytes"},
        {1023, "1023 bytes"},
        {-1, "-1 bytes"},
        {INT32_MIN, "-2147483648 bytes"},
        {1024, "1.00 Kb"},
        {1536, "1.50 Kb"},
        {1048575, "1024.00 Kb"},
        {1048576, "1.00 Mb"},
        {1073741823, "1024.00 Mb"},
        {1073741824, "1.00 Gb"},
        {2147483647, "2.00 Gb"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatSize(c.Size), QString::fromUtf8(c.Expected)) << c.Size;
}

TEST(FormatSizeTest, RoundsTheExactQuotientOnceHalvesAwayFromZero)
{
    EXPECT_EQ(FormatSize(1152), "1.13 Kb");       // 1.125
    EXPECT_EQ(FormatSize(1126), "1.10 Kb");       // 1.099609375
    EXPECT_EQ(FormatSize(102487), "100.08 Kb");   // 100.0849609375: no rounding at a third decimal first
    EXPECT_EQ(FormatSize(1059062), "1.01 Mb");    // 1.0100002...
    EXPECT_EQ(FormatSize(1058013), "1.01 Mb");    // 1.0089998...
}

TEST(FormatSizeTest, UsesTheLocaleDecimalSeparatorWithoutGrouping)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatSize(1536), "1,50 Kb");
    EXPECT_EQ(FormatSize(1048575), "1024,00 Kb");
    EXPECT_EQ(FormatSize(1023), "1023 bytes");
    QLocale::setDefault(saved);
}

TEST(IsValidUrlTest, Table)
{
    struct Case {
        const char* Url;
        bool Valid;
    };
    const Case cases[] = {
        {"http://example.com/a.png", true},
        {"ftp://h", true},
        {"HTTP://H/x", true},
        {"https://user:pw@www.example.com:8080/p?q=1#f", true},
        {"example.com/a.png", false},
        {"http://", false},
        {"mailto:a@b", false},
        {"localhost:8080/x", false},
        {"file:///tmp/a.png", false},
        {"http://exa mple.com/", false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsValidUrl(QString::fromUtf8(c.Url)), c.Valid) << c.Url;
}

TEST(GetSpecialFolderPathTest, AppDataHasNoTrailingSeparatorAndOtherIdsAreEmpty)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path() + "/share/"));
    EXPECT_EQ(GetSpecialFolderPath(CsidlAppData), dir.path() + "/share");
    EXPECT_EQ(GetSpecialFolderPath(5), QString());
    EXPECT_EQ(GetSpecialFolderPath(0), QString());
    if (saved.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", saved);
}

class CreateTempFileNameTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FDir.isValid()); }
    QTemporaryDir FDir;
};

TEST_F(CreateTempFileNameTest, MakesDistinctEmptyFilesOfThePlatformForm)
{
    const QRegularExpression form(QStringLiteral("^Fci[0-9A-F]{1,4}\\.TMP$"));
    const QString first = CreateTempFileName(FDir.path(), QStringLiteral("Fcix"));
    const QString second = CreateTempFileName(FDir.path(), QStringLiteral("Fci"));
    EXPECT_NE(first, second);
    for (const QString& path : {first, second}) {
        const QFileInfo info(path);
        EXPECT_TRUE(info.isFile()) << path.toStdString();
        EXPECT_EQ(info.size(), 0);
        EXPECT_TRUE(info.isAbsolute());
        EXPECT_EQ(info.absolutePath(), QDir(FDir.path()).absolutePath());
        EXPECT_TRUE(form.match(info.fileName()).hasMatch()) << info.fileName().toStdString();
    }
}

TEST_F(CreateTempFileNameTest, SkipsTakenNamesAndWrapsAfterFFFF)
{
    QFile taken(FDir.filePath(QStringLiteral("FciFFFE.TMP")));
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    taken.write("keep");
    taken.close();
    EXPECT_EQ(QFileInfo(CreateTempFileName(FDir.path(), "Fci", 0xFFFE)).fileName(), "FciFFFF.TMP");
    EXPECT_EQ(QFileInfo(CreateTempFileName(FDir.path(), "Fci", 0xFFFE)).fileName(), "Fci1.TMP");
    EXPECT_EQ(QFileInfo(CreateTempFileName(FDir.path(), "Fci", 0)).fileName(), "Fci2.TMP");
    EXPECT_EQ(QFileInfo(CreateTempFileName(FDir.path(), "Fci", 0xAB)).fileName(), "FciAB.TMP");
    ASSERT_TRUE(taken.open(QIODevice::ReadOnly));
    EXPECT_EQ(taken.readAll(), "keep");
}

TEST_F(CreateTempFileNameTest, ThrowsWhereNoFileCanBeMade)
{
    QFile plain(FDir.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    const QString folders[] = {FDir.filePath(QStringLiteral("missing")), plain.fileName()};
    for (const QString& folder : folders) {
        EXPECT_THROW(CreateTempFileName(folder, QStringLiteral("Fci")), ECorvError) << folder.toStdString();
        EXPECT_THROW(CreateTempFileName(folder, QStringLiteral("Fci"), 1), ECorvError) << folder.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(FDir.filePath(QStringLiteral("missing"))));
}

// Counts the events it receives, so a test can see whether Delay let the
// application handle its posted events.
class TEventCounter : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User) {
            ++FCount;
            return true;
        }
        return QObject::event(e);
    }
    int FCount = 0;
};

class DelayTest : public testing::Test {
protected:
    void TearDown() override
    {
        SetTerminating(false);
        QCoreApplication::removePostedEvents(&FCounter);
    }
    TEventCounter FCounter;
};

TEST_F(DelayTest, ZeroHandlesNoEvent)
{
    QCoreApplication::postEvent(&FCounter, new QEvent(QEvent::User));
    Delay(0);
    EXPECT_EQ(FCounter.FCount, 0);
}

TEST_F(DelayTest, WaitsAtLeastTheTimeWhileHandlingEvents)
{
    QCoreApplication::postEvent(&FCounter, new QEvent(QEvent::User));
    QElapsedTimer timer;
    timer.start();
    Delay(50);
    EXPECT_GE(timer.elapsed(), 50);
    EXPECT_EQ(FCounter.FCount, 1);
}

TEST_F(DelayTest, ReturnsAtOnceWhileTerminating)
{
    SetTerminating(true);
    EXPECT_TRUE(IsTerminating());
    QCoreApplication::postEvent(&FCounter, new QEvent(QEvent::User));
    QElapsedTimer timer;
    timer.start();
    Delay(60000);
    EXPECT_LT(timer.elapsed(), 30000);
    EXPECT_EQ(FCounter.FCount, 0);
    SetTerminating(false);
    EXPECT_FALSE(IsTerminating());
}

TEST(ShortenTextTest, FitsTheWidthInTheGivenFont)
{
    QFont font;
    font.setPixelSize(13);
    const QFontMetrics metrics(font);
    struct Case {
        QString Text;
        int32_t Width;
    };
    const Case cases[] = {
        {QStringLiteral("Short"), 250},
        {QStringLiteral("Tom & Jerry"), 250},
        {QString(2000, u'W'), 250},
        {QStringLiteral("A rather long file name that will never fit.png"), 120},
        {QString(2000, u'i'), 100000},
    };
    for (const Case& c : cases) {
        const QString shown = ShortenText(c.Text, c.Width, font);
        EXPECT_LE(shown.size(), 1024) << c.Text.left(40).toStdString();
        EXPECT_LE(metrics.horizontalAdvance(shown), c.Width) << c.Text.left(40).toStdString();
        const QString kept = c.Text.left(1024);
        if (metrics.horizontalAdvance(kept) <= c.Width)
            EXPECT_EQ(shown, kept);
        else
            EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
    }
    EXPECT_EQ(ShortenText(QStringLiteral("Tom & Jerry"), 250, font), "Tom & Jerry");
    EXPECT_EQ(ShortenText(QString(2000, u'i'), 100000, font), QString(1024, u'i'));
}

TEST(ShortenTextTest, NeverSplitsACharacterAtTheCut)
{
    QFont font;
    font.setPixelSize(13);
    const QString face = QString::fromUcs4(U"\U0001F600");
    const QString text = QString(1023, u'a') + face + face;
    const QString shown = ShortenText(text, 1000000, font);
    EXPECT_EQ(shown, QString(1023, u'a'));
}

} // namespace
