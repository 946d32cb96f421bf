#pragma once

#include "programmer/choicedialog.h"

// The chip selection dialog (caption "ICtype"): the eight chips in two columns.
class TForm2 : public ChoiceDialog {
    Q_OBJECT
public:
    // savedChipIndex is the chip index read from the settings at start-up; onConfirm receives the selection.
    TForm2(QWidget* owner, int savedChipIndex, std::function<void(int)> onConfirm);

    RadioGroup* ICtypeGroup() const { return group(); }
};
