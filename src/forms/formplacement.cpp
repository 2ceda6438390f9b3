#include "forms/formplacement.h"

#include "io/settings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

namespace Corvanith::Forms {

namespace {

using Settings::TFormPlacement;
using Settings::TFormState;

QRect NormalRectangle(const QWidget& Form)
{
    const QRect normal = Form.normalGeometry();
    return normal.isValid() ? normal : Form.geometry();
}

TFormState StateOf(const QWidget& Form)
{
    if (Form.isMinimized())
        return TFormState::fsMinimized;
    if (Form.isMaximized())
        return TFormState::fsMaximized;
    return TFormState::fsNormal;
}

TFormPlacement PlacementOf(const QRect& Rect, TFormState State)
{
    return {Rect.top(), Rect.left(), Rect.width(), Rect.height(), State};
}

bool OnSomeScreen(const QRect& Rect)
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.isEmpty())
        return true;
    for (const QScreen* screen : screens) {
        if (screen->availableGeometry().intersects(Rect))
            return true;
    }
    return false;
}

} // namespace

void SaveFormPlacement(const QWidget& Form, QSettings& Store)
{
    Settings::WriteFormPlacement(Store, Form.objectName(), PlacementOf(NormalRectangle(Form), StateOf(Form)));
}

void SaveFormPlacement(const QWidget& Form) { SaveFormPlacement(Form, *Settings::OpenPlacementStore()); }

bool LoadFormPlacement(QWidget& Form, const QSettings& Store)
{
    const QRect present = NormalRectangle(Form);
    TFormPlacement placement =
        PlacementOf(present, Form.isMaximized() ? TFormState::fsMaximized : TFormState::fsNormal);
    const bool stored = Settings::ReadFormPlacement(Store, Form.objectName(), placement);

    QRect rect(placement.Left, placement.Top, placement.Width, placement.Height);
    if (!OnSomeScreen(rect))
        rect.moveTopLeft(present.topLeft());
    Form.setGeometry(rect);
    const Qt::WindowStates others = Form.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    Form.setWindowState(placement.State == TFormState::fsMaximized ? others | Qt::WindowMaximized : others);
    return stored;
}

bool LoadFormPlacement(QWidget& Form) { return LoadFormPlacement(Form, *Settings::OpenPlacementStore()); }

} // namespace Corvanith::Forms
