#include "programmer/chipdialog.h"

#include "programmer/chipcatalogue.h"
#include "programmer/radiogroup.h"

#include <QPushButton>

TForm2::TForm2(QWidget* owner, int savedChipIndex, std::function<void(int)> onConfirm)
    : QWidget(owner, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      onConfirm_(std::move(onConfirm)) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("ICtype"));
    setFixedSize(290, 200);

    QStringList types;
    for (const ChipInfo& chip : chipCatalogue) types << QLatin1String(chip.type);
    ICtypeGroup_ = new RadioGroup(QStringLiteral("芯片型號"), types, 2, this);
    ICtypeGroup_->setObjectName(QStringLiteral("ICtypeGroup"));
    ICtypeGroup_->setGeometry(8, 8, 274, 145);
    ICtypeGroup_->setItemIndex(savedChipIndex);

    Button1_ = new QPushButton(QStringLiteral("確定"), this);
    Button1_->setObjectName(QStringLiteral("Button1"));
    Button1_->setGeometry(48, 162, 80, 28);
    Button2_ = new QPushButton(QStringLiteral("取消"), this);
    Button2_->setObjectName(QStringLiteral("Button2"));
    Button2_->setGeometry(162, 162, 80, 28);
    connect(Button1_, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(Button2_, &QPushButton::clicked, this, &TForm2::Button2Click);
}

void TForm2::Button1Click() {
    const int index = ICtypeGroup_->itemIndex();
    hide();
    onConfirm_(index);
}

void TForm2::Button2Click() { hide(); }
