#pragma once
// The main window's position, size and state kept from one run to the next.
class QSettings;
class QWidget;

namespace Corvanith::Forms {

// Stores Form's normal rectangle and its state under Form's object name.
void SaveFormPlacement(const QWidget& Form, QSettings& Store);
void SaveFormPlacement(const QWidget& Form);

// Applies the stored rectangle and state to Form, keeping its present values
// where nothing usable is stored, and returns whether Form had been stored.
// A stored rectangle that lies on no screen any more keeps Form's present
// position, so the window cannot come up out of sight.
bool LoadFormPlacement(QWidget& Form, const QSettings& Store);
bool LoadFormPlacement(QWidget& Form);

} // namespace Corvanith::Forms
