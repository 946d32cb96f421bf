#include "serial/comcombobox.h"

#include "serial/comport.h"
#include "serial/comsettings.h"
#include "serial/comtextforms.h"

#include <QLineEdit>

void TComSelect::Remember(TComProperty kind, const QString& text) {
    switch (kind) {
    case cpNone:
        break;
    case cpPort:
        port = text;
        break;
    case cpBaudRate:
        baudRate = ParseBaudRate(text);
        break;
    case cpDataBits:
        dataBits = ParseDataBits(text);
        break;
    case cpStopBits:
        stopBits = ParseStopBits(text);
        break;
    case cpParity:
        parityBits = ParseParity(text);
        break;
    case cpFlowControl:
        flowControl = ParseFlowControl(text);
        break;
    }
}

QString TComSelect::PresentText(const TCustomComPort& p, TComProperty kind) {
    switch (kind) {
    case cpNone:
        return {};
    case cpPort:
        return p.Port();
    case cpBaudRate:
        return BaudRateName(p.BaudRate());
    case cpDataBits:
        return DataBitsName(p.DataBits());
    case cpStopBits:
        return StopBitsName(p.StopBits());
    case cpParity:
        return ParityName(p.Parity().Bits());
    case cpFlowControl:
        return FlowControlName(p.FlowControl().FlowControl());
    }
    return {};
}

void TComSelect::Apply(TCustomComPort& p, TComProperty kind) const {
    switch (kind) {
    case cpNone:
        break;
    case cpPort:
        p.SetPort(port);
        break;
    case cpBaudRate:
        p.SetBaudRate(baudRate);
        break;
    case cpDataBits:
        p.SetDataBits(dataBits);
        break;
    case cpStopBits:
        p.SetStopBits(stopBits);
        break;
    case cpParity:
        p.Parity().SetBits(parityBits);
        break;
    case cpFlowControl:
        p.FlowControl().SetFlowControl(flowControl);
        break;
    }
}

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    connect(this, &QComboBox::activated, this, [this](int) { picked(); });
}

TComComboBox::~TComComboBox() {
    unbind();
}

void TComComboBox::unbind() {
    if (port_) port_->CancelRemovalNotice(removalTicket_);
    port_ = nullptr;
    removalTicket_ = 0;
}

void TComComboBox::SetComPort(TCustomComPort* port) {
    if (port == port_) return;
    unbind();
    port_ = port;
    if (!port_) return;
    removalTicket_ = port_->NotifyRemoval([this] {
        port_ = nullptr;
        removalTicket_ = 0;
        if (count() > 0) setCurrentIndex(0);
    });
    ReadFromPort();
}

void TComComboBox::SetComProperty(TComProperty kind) {
    kind_ = kind;
    // The port box also takes a typed name (a network port, a device the listing does not show).
    setEditable(kind == cpPort);
    if (kind == cpPort) {
        setInsertPolicy(QComboBox::NoInsert);
        connect(lineEdit(), &QLineEdit::textEdited, this, &TComComboBox::picked, Qt::UniqueConnection);
    }
    QStringList entries;
    switch (kind) {
    case cpNone:
        break;
    case cpPort:
        ListSerialPorts(entries);
        break;
    case cpBaudRate:
        entries = BaudRateNames();
        break;
    case cpDataBits:
        entries = DataBitsNames();
        break;
    case cpStopBits:
        entries = StopBitsNames();
        break;
    case cpParity:
        entries = ParityNames();
        break;
    case cpFlowControl:
        entries = FlowControlNames();
        break;
    }
    clear();
    addItems(entries);
    if (count() == 0) return;
    if (!port_)
        setCurrentIndex(0);
    else
        ReadFromPort();
}

QString TComComboBox::Text() const {
    if (isEditable()) return currentText().trimmed();
    return currentIndex() >= 0 ? currentText() : QString();
}

void TComComboBox::SetText(const QString& text) {
    const int i = findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (i >= 0) setCurrentIndex(i);
}

void TComComboBox::ReadFromPort() {
    if (!port_) return;
    if (kind_ == cpNone) {
        setCurrentIndex(-1);
        return;
    }
    const QString present = TComSelect::PresentText(*port_, kind_);
    int i = findText(present, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (i < 0 && kind_ == cpPort && !present.isEmpty()) {
        // A port the listing does not know (a pseudo-terminal, an adapter under an unusual name) is offered as
        // it is: left unselected, an OK without a pick would empty the port name and lose the connection.
        addItem(present);
        i = count() - 1;
    }
    if (i >= 0) select_.Remember(kind_, itemText(i));
    setCurrentIndex(i);
}

void TComComboBox::ApplyToPort() {
    if (port_) select_.Apply(*port_, kind_);
}

void TComComboBox::picked() {
    select_.Remember(kind_, Text());
    if (autoApply_) ApplyToPort();
    emit Change();
}
