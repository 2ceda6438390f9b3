#include "io/utils.h"

#include "graphics/errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLocale>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <chrono>

namespace Corvanith::Utils {

namespace {

std::atomic<bool> Terminating{false};

// Size / Divisor with two decimals and the locale's decimal separator. The
// divisors are powers of two, so the quotient is exact in binary and its
// rounding to hundredths (halves away from zero) is done on integers; it never
// has more than six digits, so a seven-digit precision never cuts it.
QString TwoDecimals(int32_t Size, int64_t Divisor)
{
    const int64_t hundredths = (int64_t(Size) * 100 + Divisor / 2) / Divisor;
    return QString::number(hundredths / 100) + QLocale().decimalPoint()
        + QStringLiteral("%1").arg(hundredths % 100, 2, 10, QLatin1Char('0'));
}

} // namespace

QString FormatSize(int32_t Size)
{
    if (Size < 1024)
        return QString::number(Size) + QStringLiteral(" bytes");
    if (Size < 1048576)
        return TwoDecimals(Size, 1024) + QStringLiteral(" Kb");
    if (Size < 1073741824)
        return TwoDecimals(Size, 1048576) + QStringLiteral(" Mb");
    return TwoDecimals(Size, 1073741824) + QStringLiteral(" Gb");
}

bool IsValidUrl(const QString& Url)
{
    const QUrl url(Url);
    return url.isValid() && !url.scheme().isEmpty() && !url.host().isEmpty();
}

QString GetSpecialFolderPath(int Csidl)
{
    if (Csidl != CsidlAppData)
        return {};
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return path.isEmpty() ? QString() : QDir::cleanPath(path);
}

QString CreateTempFileName(const QString& Folder, const QString& Prefix, const TCorvNameClaimed& Claimed)
{
    const auto ticks = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return CreateTempFileName(Folder, Prefix, uint16_t(ticks.count()), Claimed);
}

QString CreateTempFileName(const QString& Folder, const QString& Prefix, uint16_t FirstNumber,
                           const TCorvNameClaimed& Claimed)
{
    const QDir folder(Folder);
    const QString stem = Prefix.left(3);
    uint32_t number = FirstNumber == 0 ? 1 : FirstNumber;
    for (uint32_t tries = 0; tries < 0xFFFF; ++tries) {
        const QString name = stem + QString::number(number, 16).toUpper() + QStringLiteral(".TMP");
        const QString path = folder.absoluteFilePath(name);
        QFile file(path);
        if ((!Claimed || !Claimed(path)) && file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return path;
        // Only a name that is taken is worth skipping; anything else fails for every name.
        const QFileInfo taken(path);
        if (!taken.exists() && !taken.isSymLink() && file.error() != QFileDevice::NoError)
            throw ECorvError("Cannot create a temporary file in \"" + Folder.toStdString()
                             + "\": " + file.errorString().toStdString());
        number = number == 0xFFFF ? 1 : number + 1;
    }
    throw ECorvError("Every temporary file name in \"" + Folder.toStdString() + "\" is taken");
}

void SetTerminating(bool Value) { Terminating = Value; }

bool IsTerminating()
{
    return Terminating || QCoreApplication::instance() == nullptr || QCoreApplication::closingDown();
}

void Delay(uint32_t Milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (uint64_t(timer.elapsed()) < Milliseconds && !IsTerminating()) {
        QThread::msleep(10);
        QCoreApplication::processEvents();
    }
}

QString ShortenText(const QString& Text, int32_t Width, const QFont& Font)
{
    QString text = Text.left(1024);
    // Never keep half of a character that needs two code units.
    if (text.size() == 1024 && text.back().isHighSurrogate())
        text.chop(1);
    return QFontMetrics(Font).elidedText(text, Qt::ElideRight, Width);
}

bool TryStrToInt(const QString& S, int32_t& Value)
{
    const qsizetype n = S.size();
    qsizetype i = 0;
    while (i < n && S[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (S[i] == u'+' || S[i] == u'-'))
        negative = S[i++] == u'-';
    int base = 10;
    if (i < n && (S[i] == u'$' || S[i] == u'x' || S[i] == u'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && S[i] == u'0' && (S[i + 1] == u'x' || S[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i == n)
        return false;
    const int64_t limit = base == 16 ? int64_t(UINT32_MAX) : int64_t(INT32_MAX) + (negative ? 1 : 0);
    int64_t magnitude = 0;
    for (; i < n; ++i) {
        const char16_t c = S[i].unicode();
        int digit = -1;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        if (digit < 0)
            return false;
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            return false;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    Value = base == 16 ? int32_t(uint32_t(uint64_t(value))) : int32_t(value);
    return true;
}

} // namespace Corvanith::Utils
