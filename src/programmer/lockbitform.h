#pragma once

#include "programmer/choicedialog.h"

// The lock-bit dialog (caption "LockBitForm"), a tool window: confirm stores the lock level and has the Lock
// command sent.
class TLockBitForm : public ChoiceDialog {
    Q_OBJECT
public:
    // savedLockLevel is the lock level read from the settings at start-up; onConfirm receives the selection.
    TLockBitForm(QWidget* owner, int savedLockLevel, std::function<void(int)> onConfirm);

    RadioGroup* LockBit() const { return group(); }
};
