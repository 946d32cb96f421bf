#pragma once

#include "serial/comcombobox.h"

#include <QDialog>

class QGroupBox;
class QLabel;
class QPushButton;

// The port setup dialog: six selectors (port, baud rate, data bits, stop bits, parity, flow control) in a
// " Settings " group, then OK and Cancel. Its texts come through the "cport" text domain; the selector
// entries are not translated.
class TComSetupFrm : public QDialog {
    Q_OBJECT
public:
    explicit TComSetupFrm(QWidget* parent = nullptr);

    TComComboBox* Combo1; // port
    TComComboBox* Combo2; // baud rate
    TComComboBox* Combo3; // data bits
    TComComboBox* Combo4; // stop bits
    TComComboBox* Combo5; // parity
    TComComboBox* Combo6; // flow control
    QGroupBox* GroupBox1;
    QPushButton* Button1; // OK
    QPushButton* Button2; // Cancel

    TComComboBox* combo(int i) const;
};
