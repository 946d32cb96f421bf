#pragma once

#include "serial/comtypes.h"

#include <QComboBox>
#include <QString>

class TCustomComPort;

// Which setting a selector edits.
enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// The selector's companion: the entries, the bound port, the setting kind and one remembered value per kind.
// The remembered value is what ApplyToPort gives the port; it changes only by a pick or by finding the port's
// present value in the list.
class TComSelect {
public:
    QString port;
    TBaudRate baudRate = brCustom;
    TDataBits dataBits = dbFive;
    TStopBits stopBits = sbOneStopBit;
    TParityBits parityBits = prNone;
    TFlowControl flowControl = fcHardware;

    // Remembers the value of text for kind (cpPort: the text itself).
    void Remember(TComProperty kind, const QString& text);
    // The text form of the port's present value for kind (empty for cpNone).
    static QString PresentText(const TCustomComPort& port, TComProperty kind);
    // Gives the remembered value of kind to the port through its setter.
    void Apply(TCustomComPort& port, TComProperty kind) const;
};

// A drop-down list that edits one setting of a bound port: no free text, except in the port box, which takes a
// typed name as well as a listed one (a typed name counts as a pick).
class TComComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TComComboBox(QWidget* parent = nullptr);
    ~TComComboBox() override;

    TCustomComPort* ComPort() const { return port_; }
    void SetComPort(TCustomComPort* port);
    TComProperty ComProperty() const { return kind_; }
    // Refills the list for the kind (cpPort: the machine's ports, which can raise "Registry error").
    void SetComProperty(TComProperty kind);
    bool AutoApply() const { return autoApply_; }
    void SetAutoApply(bool value) { autoApply_ = value; }
    // The selected entry's text (the port box: the text shown, typed or picked), or the empty text.
    QString Text() const;
    // Selects the entry equal to text when there is one; otherwise nothing changes.
    void SetText(const QString& text);

    void ReadFromPort();
    void ApplyToPort();
    const TComSelect& Select() const { return select_; }

signals:
    // A user's pick, after the companion has remembered it (and applied it with AutoApply).
    void Change();

private:
    void picked();
    void unbind();

    TComSelect select_;
    TCustomComPort* port_ = nullptr;
    int removalTicket_ = 0;
    TComProperty kind_ = cpNone;
    bool autoApply_ = false;
};
