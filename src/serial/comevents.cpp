#include "serial/comport.h"
#include "serial/comthread.h"

#include <memory>

void TCustomComPort::DeliverEvents(TComEvents events) {
    for (TComEvent event : DeliveryOrder) {
        if (!events.contains(event)) continue;
        switch (event) {
        case evError:
            ProcessError();
            break;
        case evRxChar:
            ProcessRxChar();
            break;
        case evTxEmpty:
            ProcessTxEmpty();
            break;
        case evBreak:
            ProcessBreak();
            break;
        case evRing:
            ProcessRing();
            break;
        case evCTS:
            ProcessCTSChange();
            break;
        case evDSR:
            ProcessDSRChange();
            break;
        case evRxFlag:
            ProcessRxFlag();
            break;
        case evRLSD:
            ProcessRLSDChange();
            break;
        case evRx80Full:
            ProcessRx80Full();
            break;
        }
    }
}

void TCustomComPort::ProcessEventCode(int code) {
    for (TComEvent event : DeliveryOrder)
        if (EventCode(event) == code) DeliverEvents(TComEvents{event});
}

void TCustomComPort::ProcessRxChar() {
    int count = InputQueueCount();
    if (count > 0)
        forListeners([](TComListener& l) {
            if (l.Receiving) l.Receiving(true);
        });
    if (count > 0 && (!rxCountOnly_ || hasRxBufListener_)) {
        std::unique_ptr<unsigned char[]> buffer;
        int got = 0;
        auto readOnce = [&] {
            if (buffer) return;
            buffer = std::make_unique<unsigned char[]>(static_cast<std::size_t>(count));
            got = ReadBytes(buffer.get(), count);
            FireRxBuf(buffer.get(), got);
        };
        for (TComListener* l : listeners_) {
            if (!l->ReceivedData) continue;
            readOnce();
            l->ReceivedData(this, buffer.get(), got);
        }
        if (!buffer && !rxCountOnly_) readOnce();
        if (buffer) count = 0;
    }
    if (count > 0) FireRxChar(count);
}

void TCustomComPort::ProcessTxEmpty() {
    forListeners([](TComListener& l) {
        if (l.Sending) l.Sending(false);
    });
    forListeners([this](TComListener& l) {
        if (l.TxEmpty) l.TxEmpty(this);
    });
    FireTxEmpty();
}

void TCustomComPort::ProcessRxFlag() {
    forListeners([this](TComListener& l) {
        if (l.EventChar) l.EventChar(this);
    });
    FireRxFlag();
}

void TCustomComPort::ProcessRing() {
    forListeners([this](TComListener& l) {
        if (l.Ring) l.Ring(this);
    });
    FireRing();
}

void TCustomComPort::ProcessBreak() {
    FireBreak();
}

void TCustomComPort::ProcessCTSChange() {
    const bool on = ModemSignals().contains(lsCTS);
    forListeners([on](TComListener& l) {
        if (l.CTS) l.CTS(on);
    });
    FireCTSChange(on);
}

void TCustomComPort::ProcessDSRChange() {
    const bool on = ModemSignals().contains(lsDSR);
    forListeners([on](TComListener& l) {
        if (l.DSR) l.DSR(on);
    });
    FireDSRChange(on);
}

void TCustomComPort::ProcessRLSDChange() {
    const bool on = ModemSignals().contains(lsRLSD);
    forListeners([on](TComListener& l) {
        if (l.RLSD) l.RLSD(on);
    });
    FireRLSDChange(on);
}

void TCustomComPort::ProcessError() {
    const TComErrors errors = TakeLineErrors();
    if (!errors.empty()) FireError(errors);
}

void TCustomComPort::ProcessRx80Full() {
    FireRx80Full();
}

void TCustomComPort::ReportSignals(bool opened) {
    if (opened) {
        ProcessCTSChange();
        ProcessDSRChange();
        ProcessRLSDChange();
        return;
    }
    forListeners([](TComListener& l) {
        if (l.CTS) l.CTS(false);
        if (l.DSR) l.DSR(false);
        if (l.RLSD) l.RLSD(false);
    });
    FireCTSChange(false);
    FireDSRChange(false);
    FireRLSDChange(false);
}
