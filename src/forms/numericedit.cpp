#include "forms/numericedit.h"

namespace Corvanith::Controls {

TNumericEdit::TNumericEdit(QWidget* Parent) : QLineEdit(Parent)
{
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

} // namespace Corvanith::Controls
