#pragma once

#include "serial/comtypes.h"

#include <cstdint>

class TCustomComPort;

// The option objects of a port. Each knows the port that owns it (none for a free-standing object). A setter
// stores only a changed value and then asks the owning port to push its group, which the port does only while
// connected and outside a settings batch. Assignment copies every field without pushing anything; the port's
// own SetParity/SetFlowControl/... push once after such a copy.

class TComTimeouts {
public:
    explicit TComTimeouts(TCustomComPort* port = nullptr) : port_(port) {}
    TComTimeouts(const TComTimeouts& other) { copyFields(other); }
    TComTimeouts& operator=(const TComTimeouts& other) {
        copyFields(other);
        return *this;
    }

    std::int32_t ReadInterval() const { return readInterval_; }
    std::int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
    std::int32_t ReadTotalConstant() const { return readTotalConstant_; }
    std::int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
    std::int32_t WriteTotalConstant() const { return writeTotalConstant_; }
    void SetReadInterval(std::int32_t value) { set(readInterval_, value); }
    void SetReadTotalMultiplier(std::int32_t value) { set(readTotalMultiplier_, value); }
    void SetReadTotalConstant(std::int32_t value) { set(readTotalConstant_, value); }
    void SetWriteTotalMultiplier(std::int32_t value) { set(writeTotalMultiplier_, value); }
    void SetWriteTotalConstant(std::int32_t value) { set(writeTotalConstant_, value); }

private:
    void copyFields(const TComTimeouts& o);
    void set(std::int32_t& field, std::int32_t value);

    TCustomComPort* port_ = nullptr;
    std::int32_t readInterval_ = -1;
    std::int32_t readTotalMultiplier_ = 0;
    std::int32_t readTotalConstant_ = 0;
    std::int32_t writeTotalMultiplier_ = 100;
    std::int32_t writeTotalConstant_ = 1000;
};

class TComFlowControl {
public:
    explicit TComFlowControl(TCustomComPort* port = nullptr) : port_(port) {}
    TComFlowControl(const TComFlowControl& other) { copyFields(other); }
    TComFlowControl& operator=(const TComFlowControl& other) {
        copyFields(other);
        return *this;
    }

    bool OutCTSFlow() const { return outCTSFlow_; }
    bool OutDSRFlow() const { return outDSRFlow_; }
    TDTRFlowControl ControlDTR() const { return controlDTR_; }
    TRTSFlowControl ControlRTS() const { return controlRTS_; }
    bool XonXoffOut() const { return xonXoffOut_; }
    bool XonXoffIn() const { return xonXoffIn_; }
    bool DSRSensitivity() const { return dsrSensitivity_; }
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }
    unsigned char XonChar() const { return xonChar_; }
    unsigned char XoffChar() const { return xoffChar_; }
    // The preset these detailed settings amount to (only ControlRTS, OutCTSFlow and the Xon/Xoff flags
    // count).
    TFlowControl FlowControl() const;

    void SetOutCTSFlow(bool value) { set(outCTSFlow_, value); }
    void SetOutDSRFlow(bool value) { set(outDSRFlow_, value); }
    void SetControlDTR(TDTRFlowControl value) { set(controlDTR_, value); }
    void SetControlRTS(TRTSFlowControl value) { set(controlRTS_, value); }
    void SetXonXoffOut(bool value) { set(xonXoffOut_, value); }
    void SetXonXoffIn(bool value) { set(xonXoffIn_, value); }
    void SetDSRSensitivity(bool value) { set(dsrSensitivity_, value); }
    void SetTxContinueOnXoff(bool value) { set(txContinueOnXoff_, value); }
    void SetXonChar(unsigned char value) { set(xonChar_, value); }
    void SetXoffChar(unsigned char value) { set(xoffChar_, value); }
    // Applies a preset (fcCustom keeps every field) and always pushes the line settings once.
    void SetFlowControl(TFlowControl value);

private:
    void copyFields(const TComFlowControl& o);
    template <typename T> void set(T& field, T value) {
        if (field == value) return;
        field = value;
        push();
    }
    void push();

    TCustomComPort* port_ = nullptr;
    bool outCTSFlow_ = false;
    bool outDSRFlow_ = false;
    TDTRFlowControl controlDTR_ = dtrDisable;
    TRTSFlowControl controlRTS_ = rtsDisable;
    bool xonXoffOut_ = false;
    bool xonXoffIn_ = false;
    bool dsrSensitivity_ = false;
    bool txContinueOnXoff_ = false;
    unsigned char xonChar_ = 17;
    unsigned char xoffChar_ = 19;
};

class TComParity {
public:
    explicit TComParity(TCustomComPort* port = nullptr) : port_(port) {}
    TComParity(const TComParity& other) { copyFields(other); }
    TComParity& operator=(const TComParity& other) {
        copyFields(other);
        return *this;
    }

    TParityBits Bits() const { return bits_; }
    bool Check() const { return check_; }
    bool Replace() const { return replace_; }
    unsigned char ReplaceChar() const { return replaceChar_; }
    void SetBits(TParityBits value) { set(bits_, value); }
    void SetCheck(bool value) { set(check_, value); }
    void SetReplace(bool value) { set(replace_, value); }
    void SetReplaceChar(unsigned char value) { set(replaceChar_, value); }

private:
    void copyFields(const TComParity& o);
    template <typename T> void set(T& field, T value) {
        if (field == value) return;
        field = value;
        push();
    }
    void push();

    TCustomComPort* port_ = nullptr;
    TParityBits bits_ = prNone;
    bool check_ = false;
    bool replace_ = false;
    unsigned char replaceChar_ = 0;
};

// Queue sizes. Linux drivers have fixed queues, so the sizes are kept for the derived Xon/Xoff limits and for
// the 80 % full event; a positive odd size is stored one lower.
class TComBuffer {
public:
    explicit TComBuffer(TCustomComPort* port = nullptr) : port_(port) {}
    TComBuffer(const TComBuffer& other) { copyFields(other); }
    TComBuffer& operator=(const TComBuffer& other) {
        copyFields(other);
        return *this;
    }

    std::int32_t InputSize() const { return inputSize_; }
    std::int32_t OutputSize() const { return outputSize_; }
    void SetInputSize(std::int32_t value);
    void SetOutputSize(std::int32_t value);

private:
    void copyFields(const TComBuffer& o);
    static std::int32_t even(std::int32_t value) { return value > 0 && value % 2 != 0 ? value - 1 : value; }

    TCustomComPort* port_ = nullptr;
    std::int32_t inputSize_ = 1024;
    std::int32_t outputSize_ = 1024;
};
