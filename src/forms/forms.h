#pragma once
// What the program's dialogs share: their placement over the window that
// shows them and the font they take.
#include <QFont>

class QWidget;

namespace Corvanith::Forms {

// Moves Form so that HorzFactor of the width its owner has to spare lies left
// of it and VertFactor of the spare height above it (0.5 and 0.33 centre it
// horizontally with a third of the free height above). Outer sizes count;
// halves round to the even neighbour; nothing keeps it on the screen, so a
// form larger than its owner goes left of and above the owner's corner.
void PositionForm(QWidget& Form, const QWidget& Owner, float HorzFactor, float VertFactor);

// The system's font for message texts, which every dialog takes as its own
// when it is made; the application font where the platform names none.
QFont MessageFont();

} // namespace Corvanith::Forms
