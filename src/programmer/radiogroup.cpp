#include "programmer/radiogroup.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>

RadioGroup::RadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this)) {
    auto* layout = new QGridLayout(this);
    const int rows = (static_cast<int>(items.size()) + columns - 1) / columns;
    for (int i = 0; i < items.size(); ++i) {
        auto* radio = new QRadioButton(items[i], this);
        group_->addButton(radio, i);
        layout->addWidget(radio, i % rows, i / rows);
    }
}

int RadioGroup::itemIndex() const { return group_->checkedId(); }

int RadioGroup::count() const { return static_cast<int>(group_->buttons().size()); }

QRadioButton* RadioGroup::button(int index) const { return qobject_cast<QRadioButton*>(group_->button(index)); }

void RadioGroup::setItemIndex(int index) {
    if (index >= count()) index = count() - 1;
    if (index >= 0) {
        group_->button(index)->setChecked(true);
        return;
    }
    // An exclusive group never unchecks its last checked button by itself.
    group_->setExclusive(false);
    for (QAbstractButton* b : group_->buttons()) b->setChecked(false);
    group_->setExclusive(true);
}
