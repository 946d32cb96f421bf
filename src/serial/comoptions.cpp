#include "serial/comoptions.h"

#include "serial/comport.h"

void TComTimeouts::copyFields(const TComTimeouts& o) {
    readInterval_ = o.readInterval_;
    readTotalMultiplier_ = o.readTotalMultiplier_;
    readTotalConstant_ = o.readTotalConstant_;
    writeTotalMultiplier_ = o.writeTotalMultiplier_;
    writeTotalConstant_ = o.writeTotalConstant_;
}

void TComTimeouts::set(std::int32_t& field, std::int32_t value) {
    if (field == value) return;
    field = value;
    if (port_) port_->PushTimeouts();
}

void TComFlowControl::copyFields(const TComFlowControl& o) {
    outCTSFlow_ = o.outCTSFlow_;
    outDSRFlow_ = o.outDSRFlow_;
    controlDTR_ = o.controlDTR_;
    controlRTS_ = o.controlRTS_;
    xonXoffOut_ = o.xonXoffOut_;
    xonXoffIn_ = o.xonXoffIn_;
    dsrSensitivity_ = o.dsrSensitivity_;
    txContinueOnXoff_ = o.txContinueOnXoff_;
    xonChar_ = o.xonChar_;
    xoffChar_ = o.xoffChar_;
}

void TComFlowControl::push() {
    if (port_) port_->PushLineSettings();
}

TFlowControl TComFlowControl::FlowControl() const {
    if (controlRTS_ == rtsHandshake && outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) return fcHardware;
    if (controlRTS_ == rtsDisable && !outCTSFlow_ && xonXoffIn_ && xonXoffOut_) return fcSoftware;
    if (controlRTS_ == rtsDisable && !outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) return fcNone;
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value) {
    if (value != fcCustom) {
        controlRTS_ = rtsDisable;
        outCTSFlow_ = false;
        xonXoffIn_ = false;
        xonXoffOut_ = false;
        if (value == fcHardware) {
            controlRTS_ = rtsHandshake;
            outCTSFlow_ = true;
        } else if (value == fcSoftware) {
            xonXoffIn_ = true;
            xonXoffOut_ = true;
        }
    }
    push();
}

void TComParity::copyFields(const TComParity& o) {
    bits_ = o.bits_;
    check_ = o.check_;
    replace_ = o.replace_;
    replaceChar_ = o.replaceChar_;
}

void TComParity::push() {
    if (port_) port_->PushLineSettings();
}

void TComBuffer::copyFields(const TComBuffer& o) {
    inputSize_ = o.inputSize_;
    outputSize_ = o.outputSize_;
}

void TComBuffer::SetInputSize(std::int32_t value) {
    value = even(value);
    if (inputSize_ == value) return;
    inputSize_ = value;
    if (port_) port_->PushBufferSizes();
}

void TComBuffer::SetOutputSize(std::int32_t value) {
    value = even(value);
    if (outputSize_ == value) return;
    outputSize_ = value;
    if (port_) port_->PushBufferSizes();
}
