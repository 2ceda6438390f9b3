#include "forms/forms.h"

#include <QApplication>
#include <QWidget>

#include <cmath>

namespace Corvanith::Forms {

namespace {

// Offset of a Size part of Space by Factor; the product in double from the
// single-precision factor, rounded half to even (the default rounding mode).
int Share(int Space, int Size, float Factor)
{
    return int(std::nearbyint(double(Space - Size) * double(Factor)));
}

} // namespace

void PositionForm(QWidget& Form, const QWidget& Owner, float HorzFactor, float VertFactor)
{
    // Before a window is first shown its frame is unknown, and the frame
    // geometry is the plain geometry.
    const QRect owner = Owner.frameGeometry();
    const QSize form = Form.frameGeometry().size();
    Form.move(owner.left() + Share(owner.width(), form.width(), HorzFactor),
              owner.top() + Share(owner.height(), form.height(), VertFactor));
}

QFont MessageFont()
{
    // The platform theme gives message boxes their own font where it has one.
    return QApplication::font("QMessageBox");
}

} // namespace Corvanith::Forms
