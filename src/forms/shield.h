#pragma once
// The one way the main window runs a procedure that shows a modal dialog, so
// that every such dialog goes through one door.
#include <functional>

class QWidget;

namespace Corvanith::Forms {

// A procedure of the main window, called with its sender.
using TNotifyEvent = std::function<void(QWidget& Sender)>;

class TShieldForm {
public:
    // Calls Proc at once, on this thread, with Owner as its sender, and
    // returns when it returns; an unset Proc is skipped.
    static void RunShielded(QWidget& Owner, const TNotifyEvent& Proc);
};

} // namespace Corvanith::Forms
