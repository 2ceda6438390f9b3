#pragma once
// A single-line edit for numbers: right-aligned, and otherwise a plain edit.
// It filters no keys, so signs, percent signs and anything else can be typed;
// whoever reads it decides what the text means.
#include <QLineEdit>

namespace Corvanith::Controls {

class TNumericEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TNumericEdit(QWidget* Parent = nullptr);
};

} // namespace Corvanith::Controls
