#pragma once

#include <QWidget>

#include <functional>

class QPushButton;
class RadioGroup;

// The chip selection dialog (caption "ICtype"): modeless; the choice takes effect only on confirm.
class TForm2 : public QWidget {
    Q_OBJECT
public:
    // savedChipIndex is the chip index read from the settings at start-up; onConfirm receives the selected index
    // (-1 when no button is selected).
    TForm2(QWidget* owner, int savedChipIndex, std::function<void(int)> onConfirm);

    RadioGroup* ICtypeGroup() const { return ICtypeGroup_; }
    QPushButton* Button1() const { return Button1_; }
    QPushButton* Button2() const { return Button2_; }

    void Button1Click();
    void Button2Click();

private:
    RadioGroup* ICtypeGroup_;
    QPushButton* Button1_;
    QPushButton* Button2_;
    std::function<void(int)> onConfirm_;
};
