#include "programmer/lockbitform.h"

TLockBitForm::TLockBitForm(QWidget* owner, int savedLockLevel, std::function<void(int)> onConfirm)
    : ChoiceDialog(owner,
                   {QStringLiteral("LockBitForm"), QStringLiteral("LockBitForm"), QStringLiteral("LockBit"),
                    QStringLiteral("LockBit"),
                    {QStringLiteral("Not Bit"), QStringLiteral("LB1"), QStringLiteral("LB2"), QStringLiteral("LB3")},
                    1, QSize(200, 190), Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint},
                   savedLockLevel, std::move(onConfirm)) {}
