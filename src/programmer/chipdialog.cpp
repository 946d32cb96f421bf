#include "programmer/chipdialog.h"

#include "programmer/chipcatalogue.h"

namespace {
QStringList chipTypes() {
    QStringList types;
    for (const ChipInfo& chip : chipCatalogue) types << QLatin1String(chip.type);
    return types;
}
} // namespace

TForm2::TForm2(QWidget* owner, int savedChipIndex, std::function<void(int)> onConfirm)
    : ChoiceDialog(owner,
                   {QStringLiteral("Form2"), QStringLiteral("ICtype"), QStringLiteral("ICtypeGroup"),
                    QStringLiteral("芯片型號"), chipTypes(), 2, QSize(290, 200),
                    Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint},
                   savedChipIndex, std::move(onConfirm)) {}
