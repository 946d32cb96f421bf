#include "serial/comsetupdialog.h"

#include "serial/comport.h"
#include "serial/cporttexts.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TComSetupFrm::TComSetupFrm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(CportText("Setup"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(231, 216);

    GroupBox1 = new QGroupBox(CportText(" Settings "), this);
    auto* grid = new QGridLayout(GroupBox1);
    const struct {
        const char* label;
        TComComboBox** combo;
        TComProperty kind;
    } rows[] = {
        {"Port", &Combo1, cpPort},          {"Baud rate", &Combo2, cpBaudRate},
        {"Data bits", &Combo3, cpDataBits}, {"Stop bits", &Combo4, cpStopBits},
        {"Parity", &Combo5, cpParity},      {"Flow control", &Combo6, cpFlowControl},
    };
    int row = 0;
    for (const auto& r : rows) {
        auto* combo = new TComComboBox(GroupBox1);
        combo->setObjectName(QStringLiteral("Combo%1").arg(row + 1));
        *r.combo = combo;
        auto* label = new QLabel(CportText(r.label), GroupBox1);
        label->setBuddy(combo);
        grid->addWidget(label, row, 0);
        grid->addWidget(combo, row, 1);
        ++row;
    }
    // Filled after all six exist, so a failing port listing leaves no half-built dialog behind.
    for (const auto& r : rows)
        (*r.combo)->SetComProperty(r.kind);

    Button1 = new QPushButton(CportText("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    Button2 = new QPushButton(CportText("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(GroupBox1);
    layout->addLayout(buttons);

    setTabOrder(Combo1, Combo2);
    setTabOrder(Combo2, Combo3);
    setTabOrder(Combo3, Combo4);
    setTabOrder(Combo4, Combo5);
    setTabOrder(Combo5, Combo6);
    setTabOrder(Combo6, Button1);
    setTabOrder(Button1, Button2);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TComComboBox* TComSetupFrm::combo(int i) const {
    TComComboBox* const all[] = {Combo1, Combo2, Combo3, Combo4, Combo5, Combo6};
    return i >= 0 && i < 6 ? all[i] : nullptr;
}

// Lives with the dialog in the GUI library; the core library only declares it.
void TCustomComPort::ShowSetup() {
    TComSetupFrm dialog;
    for (int i = 0; i < 6; ++i)
        dialog.combo(i)->SetComPort(this);
    for (int i = 0; i < 6; ++i)
        dialog.combo(i)->ReadFromPort();
    if (dialog.exec() != QDialog::Accepted) return;
    // A failure part-way still ends the batch, so the values applied before it reach the device together.
    BeginSettingsBatch();
    try {
        for (int i = 0; i < 6; ++i)
            dialog.combo(i)->ApplyToPort();
    } catch (...) {
        EndSettingsBatch();
        throw;
    }
    EndSettingsBatch();
}
