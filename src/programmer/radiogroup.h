#pragma once

#include <QGroupBox>

class QButtonGroup;
class QRadioButton;

// A captioned group of radio buttons with one selected index, like a radio group control: -1 means no button is
// selected. Items fill the columns top to bottom, then left to right.
class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    RadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent);

    int itemIndex() const;
    // Selects index, clamped: below 0 selects nothing, above the last item selects the last.
    void setItemIndex(int index);
    QRadioButton* button(int index) const;
    int count() const;

private:
    QButtonGroup* group_;
};
