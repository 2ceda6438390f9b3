#include "forms/shield.h"

namespace Corvanith::Forms {

void TShieldForm::RunShielded(QWidget& Owner, const TNotifyEvent& Proc)
{
    if (Proc)
        Proc(Owner);
}

} // namespace Corvanith::Forms
