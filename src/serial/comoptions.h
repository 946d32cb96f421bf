#pragma once

#include "serial/comtypes.h"

#include <cstdint>

class TCustomComPort;

// The option objects of a port. Each knows the port that owns it (none for a free-standing object). A setter
// stores only a changed value and then asks the owning port to push its group, which the port does only while
// connected and outside a settings batch. Assignment copies every field without pushing anything; the port's
// own SetParity/SetFlowControl/... push once after such a copy.

// What every option object shares: the port that owns it. A copy carries the values, never the owner: a
// copied object stands free, and an assigned one keeps its own port. So the option classes copy with their
// defaults.
class TComOption {
protected:
    // The settings group the owning port pushes to the device as a whole.
    enum class PushGroup { Line, Timeouts, Buffer };

    explicit TComOption(TCustomComPort* port) : port_(port) {}
    TComOption(const TComOption&) {}
    TComOption& operator=(const TComOption&) { return *this; }
    ~TComOption() = default;

    // Stores a changed value and has the owning port push the group it belongs to.
    template <typename T> void set(T& field, T value, PushGroup push) {
        if (field == value) return;
        field = value;
        pushGroup(push);
    }
    void pushGroup(PushGroup push);

    TCustomComPort* port_ = nullptr;
};

class TComTimeouts : public TComOption {
public:
    explicit TComTimeouts(TCustomComPort* port = nullptr) : TComOption(port) {}

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
    void set(std::int32_t& field, std::int32_t value) { TComOption::set(field, value, PushGroup::Timeouts); }

    std::int32_t readInterval_ = -1;
    std::int32_t readTotalMultiplier_ = 0;
    std::int32_t readTotalConstant_ = 0;
    std::int32_t writeTotalMultiplier_ = 100;
    std::int32_t writeTotalConstant_ = 1000;
};

class TComFlowControl : public TComOption {
public:
    explicit TComFlowControl(TCustomComPort* port = nullptr) : TComOption(port) {}

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
    template <typename T> void set(T& field, T value) { TComOption::set(field, value, PushGroup::Line); }

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

class TComParity : public TComOption {
public:
    explicit TComParity(TCustomComPort* port = nullptr) : TComOption(port) {}

    TParityBits Bits() const { return bits_; }
    bool Check() const { return check_; }
    bool Replace() const { return replace_; }
    unsigned char ReplaceChar() const { return replaceChar_; }
    void SetBits(TParityBits value) { set(bits_, value); }
    void SetCheck(bool value) { set(check_, value); }
    void SetReplace(bool value) { set(replace_, value); }
    void SetReplaceChar(unsigned char value) { set(replaceChar_, value); }

private:
    template <typename T> void set(T& field, T value) { TComOption::set(field, value, PushGroup::Line); }

    TParityBits bits_ = prNone;
    bool check_ = false;
    bool replace_ = false;
    unsigned char replaceChar_ = 0;
};

// Queue sizes. Linux drivers have fixed queues, so the sizes are kept for the derived Xon/Xoff limits and for
// the 80 % full event; a positive odd size is stored one lower.
class TComBuffer : public TComOption {
public:
    explicit TComBuffer(TCustomComPort* port = nullptr) : TComOption(port) {}

    std::int32_t InputSize() const { return inputSize_; }
    std::int32_t OutputSize() const { return outputSize_; }
    void SetInputSize(std::int32_t value);
    void SetOutputSize(std::int32_t value);

private:
    static std::int32_t even(std::int32_t value) { return value > 0 && value % 2 != 0 ? value - 1 : value; }

    std::int32_t inputSize_ = 1024;
    std::int32_t outputSize_ = 1024;
};
