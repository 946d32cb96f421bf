#include "programmer/lockbitform.h"

#include "programmer/radiogroup.h"

#include <QPushButton>

TLockBitForm::TLockBitForm(QWidget* owner, int savedLockLevel, std::function<void(int)> onConfirm)
    : QWidget(owner, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), onConfirm_(std::move(onConfirm)) {
    setObjectName(QStringLiteral("LockBitForm"));
    setWindowTitle(QStringLiteral("LockBitForm"));
    setFixedSize(200, 190);

    LockBit_ = new RadioGroup(QStringLiteral("LockBit"),
                              {QStringLiteral("Not Bit"), QStringLiteral("LB1"), QStringLiteral("LB2"),
                               QStringLiteral("LB3")},
                              1, this);
    LockBit_->setObjectName(QStringLiteral("LockBit"));
    LockBit_->setGeometry(8, 8, 184, 136);
    LockBit_->setItemIndex(savedLockLevel);

    Button1_ = new QPushButton(QStringLiteral("確定"), this);
    Button1_->setObjectName(QStringLiteral("Button1"));
    Button1_->setGeometry(16, 152, 76, 28);
    Button2_ = new QPushButton(QStringLiteral("取消"), this);
    Button2_->setObjectName(QStringLiteral("Button2"));
    Button2_->setGeometry(108, 152, 76, 28);
    connect(Button1_, &QPushButton::clicked, this, &TLockBitForm::Button1Click);
    connect(Button2_, &QPushButton::clicked, this, &TLockBitForm::Button2Click);
}

void TLockBitForm::Button1Click() {
    const int level = LockBit_->itemIndex();
    hide();
    onConfirm_(level);
}

void TLockBitForm::Button2Click() { hide(); }
