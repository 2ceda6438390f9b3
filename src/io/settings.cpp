#include "io/settings.h"

#include <QGuiApplication>
#include <QPalette>
#include <QStringList>

namespace Corvanith::Settings {

namespace {

TSettings TheSettings;

Graphics::TCorvColor OpaqueFromPalette(QPalette::ColorRole Role)
{
    const QColor c = QGuiApplication::palette().color(QPalette::Active, Role);
    return 0xFF000000u | (uint32_t(c.red()) << 16) | (uint32_t(c.green()) << 8) | uint32_t(c.blue());
}

// Every default, once; no value depends on another.
void AssignFixedSettings()
{
    TSettings& s = TheSettings;
    s.UseMultipleThreads = true;
    s.PageCaptureWidth = 950;
    s.HideMainFormOnCapture = false;
    s.ViewBackgroundColor1 = OpaqueFromPalette(QPalette::Button);
    s.ViewBackgroundColor2 = OpaqueFromPalette(QPalette::Shadow);
    s.DocumentViewPadding = 4;
    s.BackgroundColor = 0xFFFFFFFF;
    s.BorderWidth = 1;
    s.BorderColor = 0xFF000000;
    s.BackgroundStyle = TBackgroundStyle::Checkerboard;
    s.ShadowColor1 = 0x0A000000;
    s.ShadowColor2 = 0x5C000000;
    s.ShowShadow = true;
}

} // namespace

const TSettings& Current() { return TheSettings; }

void InitializeSettings() { AssignFixedSettings(); }

QString FileDialogFilter(const char* Filter)
{
    const QStringList parts = QString::fromUtf8(Filter).split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
        for (QString& p : patterns) {
            if (p == u"*.*")
                p = QStringLiteral("*");
        }
        entries << parts[i] + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return entries.join(QStringLiteral(";;"));
}

} // namespace Corvanith::Settings
