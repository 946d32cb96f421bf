#include "programmer/choicedialog.h"

#include "programmer/radiogroup.h"

#include <QPushButton>

ChoiceDialog::ChoiceDialog(QWidget* owner, const Layout& layout, int savedIndex, std::function<void(int)> onConfirm)
    : QWidget(owner, layout.flags), onConfirm_(std::move(onConfirm)) {
    setObjectName(layout.objectName);
    setWindowTitle(layout.title);
    setFixedSize(layout.size);
    const int w = layout.size.width();
    const int h = layout.size.height();

    group_ = new RadioGroup(layout.groupCaption, layout.items, layout.columns, this);
    group_->setObjectName(layout.groupName);
    group_->setGeometry(8, 8, w - 16, h - 55);
    group_->setItemIndex(savedIndex);

    Button1_ = new QPushButton(QStringLiteral("確定"), this);
    Button1_->setObjectName(QStringLiteral("Button1"));
    Button1_->setGeometry(w / 2 - 88, h - 38, 80, 28);
    Button2_ = new QPushButton(QStringLiteral("取消"), this);
    Button2_->setObjectName(QStringLiteral("Button2"));
    Button2_->setGeometry(w / 2 + 8, h - 38, 80, 28);
    connect(Button1_, &QPushButton::clicked, this, &ChoiceDialog::Button1Click);
    connect(Button2_, &QPushButton::clicked, this, &ChoiceDialog::Button2Click);
}

void ChoiceDialog::Button1Click() {
    const int index = group_->itemIndex();
    hide();
    onConfirm_(index);
}

void ChoiceDialog::Button2Click() { hide(); }
