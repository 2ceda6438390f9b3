#include "io/settings.h"

#include "graphics/errors.h"

#include <QSettings>
#include <QVariant>

namespace Corvanith::Settings {

namespace {

// QSettings separates sub-keys with "/", the registry with "\".
QString FormGroup(const QString& FormName)
{
    if (FormName.isEmpty())
        throw EArgumentError("A window needs a name to store its placement");
    return QString(FormsKey()).replace(u'\\', u'/') + u'/' + FormName;
}

std::optional<int32_t> ReadInteger(const QSettings& Store, const QString& Key)
{
    const QVariant value = Store.value(Key);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return ParseStoredInteger(value.toString());
}

int HexDigit(QChar C)
{
    if (C >= u'0' && C <= u'9')
        return C.unicode() - u'0';
    if (C >= u'a' && C <= u'f')
        return C.unicode() - u'a' + 10;
    if (C >= u'A' && C <= u'F')
        return C.unicode() - u'A' + 10;
    return -1;
}

} // namespace

QString FormsKey() { return QStringLiteral("software\\") + QString::fromUtf8(RegistryProductName) + QStringLiteral("\\Forms"); }

std::unique_ptr<QSettings> OpenPlacementStore()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QString::fromUtf8(RegistryProductName), QString::fromUtf8(ApplicationName));
}

std::optional<int32_t> ParseStoredInteger(const QString& Text)
{
    qsizetype i = 0;
    while (i < Text.size() && Text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < Text.size() && (Text[i] == u'-' || Text[i] == u'+'))
        negative = Text[i++] == u'-';
    int base = 10;
    if (i < Text.size() && Text[i] == u'$') {
        base = 16;
        ++i;
    } else if (i + 1 < Text.size() && Text[i] == u'0' && (Text[i + 1] == u'x' || Text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i == Text.size())
        return std::nullopt;
    // Hexadecimal texts may spell the whole 32-bit pattern ("$FFFFFFFF" is -1).
    const int64_t limit = base == 16 ? int64_t(UINT32_MAX) : int64_t(INT32_MAX) + (negative ? 1 : 0);
    int64_t value = 0;
    for (; i < Text.size(); ++i) {
        const int digit = HexDigit(Text[i]);
        if (digit < 0 || digit >= base)
            return std::nullopt;
        value = value * base + digit;
        if (value > limit)
            return std::nullopt;
    }
    if (base == 16)
        value = int32_t(uint32_t(value));
    return int32_t(negative ? -value : value);
}

void WriteFormPlacement(QSettings& Store, const QString& FormName, const TFormPlacement& Placement)
{
    const QString group = FormGroup(FormName) + u'/';
    Store.setValue(group + QStringLiteral("Top"), QString::number(Placement.Top));
    Store.setValue(group + QStringLiteral("Left"), QString::number(Placement.Left));
    Store.setValue(group + QStringLiteral("Width"), QString::number(Placement.Width));
    Store.setValue(group + QStringLiteral("Height"), QString::number(Placement.Height));
    Store.setValue(group + QStringLiteral("State"), QString::number(int(Placement.State)));
    Store.sync();
    if (Store.status() != QSettings::NoError)
        throw EStreamError("Cannot store the placement of " + FormName.toStdString());
}

bool ReadFormPlacement(const QSettings& Store, const QString& FormName, TFormPlacement& Placement)
{
    const QString prefix = FormGroup(FormName) + u'/';
    bool existed = false;
    for (const QString& key : Store.allKeys()) {
        if (key.startsWith(prefix)) {
            existed = true;
            break;
        }
    }
    if (const auto top = ReadInteger(Store, prefix + QStringLiteral("Top")))
        Placement.Top = *top;
    if (const auto left = ReadInteger(Store, prefix + QStringLiteral("Left")))
        Placement.Left = *left;
    if (const auto width = ReadInteger(Store, prefix + QStringLiteral("Width")); width && *width > 0)
        Placement.Width = *width;
    if (const auto height = ReadInteger(Store, prefix + QStringLiteral("Height")); height && *height > 0)
        Placement.Height = *height;
    if (const auto state = ReadInteger(Store, prefix + QStringLiteral("State"))) {
        if (*state == int(TFormState::fsNormal) || *state == int(TFormState::fsMaximized))
            Placement.State = TFormState(*state);
    }
    return existed;
}

} // namespace Corvanith::Settings
