#include "io/settings.h"

#include "graphics/errors.h"
#include "io/utils.h"

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
    int32_t number = 0;
    if (!Utils::TryStrToInt(value.toString(), number))
        return std::nullopt;
    return number;
}

} // namespace

QString FormsKey() { return QStringLiteral("software\\") + QString::fromUtf8(RegistryProductName) + QStringLiteral("\\Forms"); }

std::unique_ptr<QSettings> OpenPlacementStore()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QString::fromUtf8(RegistryProductName), QString::fromUtf8(ApplicationName));
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
        // The state is one byte wide: only the low byte of the number counts.
        const int lowByte = *state & 0xFF;
        if (lowByte == int(TFormState::fsNormal) || lowByte == int(TFormState::fsMaximized))
            Placement.State = TFormState(lowByte);
    }
    return existed;
}

} // namespace Corvanith::Settings
