#include "serial/comoptions.h"

#include "serial/comport.h"

void TComOption::pushGroup(PushGroup push) {
    if (!port_) return;
    switch (push) {
    case PushGroup::Line:
        port_->PushLineSettings();
        break;
    case PushGroup::Timeouts:
        port_->PushTimeouts();
        break;
    case PushGroup::Buffer:
        port_->PushBufferSizes();
        break;
    }
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
    pushGroup(PushGroup::Line);
}

void TComBuffer::SetInputSize(std::int32_t value) {
    set(inputSize_, even(value), PushGroup::Buffer);
}

void TComBuffer::SetOutputSize(std::int32_t value) {
    set(outputSize_, even(value), PushGroup::Buffer);
}
