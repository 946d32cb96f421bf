#pragma once

#include <QWidget>

#include <functional>

class QPushButton;
class RadioGroup;

// The lock-bit dialog (caption "LockBitForm"): modeless; confirm stores the lock level and has the Lock command
// sent.
class TLockBitForm : public QWidget {
    Q_OBJECT
public:
    // savedLockLevel is the lock level read from the settings at start-up; onConfirm receives the selected level
    // (-1 when no button is selected).
    TLockBitForm(QWidget* owner, int savedLockLevel, std::function<void(int)> onConfirm);

    RadioGroup* LockBit() const { return LockBit_; }
    QPushButton* Button1() const { return Button1_; }
    QPushButton* Button2() const { return Button2_; }

    void Button1Click();
    void Button2Click();

private:
    RadioGroup* LockBit_;
    QPushButton* Button1_;
    QPushButton* Button2_;
    std::function<void(int)> onConfirm_;
};
