#include "serial/comport.h"

#include "platform/eventwait.h"
#include "platform/filenames.h"
#include "platform/mainthreadcall.h"
#include "platform/serialdevice.h"
#include "platform/sleep.h"
#include "serial/comthread.h"
#include "serial/ecomport.h"

#include <QDebug>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {

constexpr std::uint32_t baudRates[16] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                         14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};

std::function<void(const QString&)>& exceptionDisplay() {
    static std::function<void(const QString&)> display;
    return display;
}

} // namespace

void SetComExceptionDisplay(std::function<void(const QString& message)> display) {
    exceptionDisplay() = std::move(display);
}

void ShowComException(const std::exception& failure) {
    const auto* com = dynamic_cast<const EComPort*>(&failure);
    const QString text = com ? com->Message() : QString::fromUtf8(failure.what());
    if (exceptionDisplay())
        exceptionDisplay()(text);
    else
        qWarning().noquote() << text;
}

TCustomComPort::TCustomComPort() : TCustomComPort(platform::makeSerialDevice()) {}

TCustomComPort::TCustomComPort(std::unique_ptr<platform::SerialDevice> device)
    : device_(std::move(device)), mainCall_(std::make_unique<platform::MainThreadCall>()),
      abortSignal_(std::make_unique<platform::WakeSignal>()),
      inputKick_(std::make_unique<platform::WakeSignal>()),
      txKick_(std::make_unique<platform::WakeSignal>()) {}

TCustomComPort::~TCustomComPort() {
    const auto notices = std::move(removalNotices_);
    for (const auto& notice : notices)
        notice.second();
    try {
        Disconnect();
    } catch (const std::exception& e) {
        // A destructor cannot raise; make sure nothing is left running or open.
        ShowComException(e);
        stopThread();
        CloseDevice();
        connected_ = false;
    }
}

void TCustomComPort::Loaded() {
    loading_ = false;
    if (connectAfterLoading_) {
        connectAfterLoading_ = false;
        try {
            Connect();
        } catch (const std::exception& e) {
            ShowComException(e);
        }
    }
}

void TCustomComPort::SetConnected(bool value) {
    if (loading_) {
        connectAfterLoading_ = value;
        return;
    }
    if (value == connected_) return;
    if (value)
        Connect();
    else
        Disconnect();
}

void TCustomComPort::Connect() {
    if (connected_) return;
    reapRetiredThreads();
    FireBeforeOpen();
    OpenDevice();
    connected_ = true;
    // The device gets the port's line settings before anything else happens on it, even inside a settings
    // batch (a port change in the setup dialog): a terminal left in its default mode would echo the
    // programmer's bytes back to it.
    opening_ = true;
    try {
        PushAllSettings();
        // Bytes that arrived while nobody held the device belong to no one: a reply to an earlier,
        // interrupted run must not pass for the answer to this one.
        if (const int err = device_->discardInput()) throw EComPort(CError_PurgeFailed, err);
        discardQueuedInput();
    } catch (...) {
        opening_ = false;
        CloseDevice();
        connected_ = false;
        throw;
    }
    opening_ = false;
    if (events_.empty()) {
        threadCreated_ = false;
    } else {
        thread_ = std::make_unique<TComThread>(this);
        threadCreated_ = true;
    }
    forListeners([](TComListener& l) {
        if (l.Connection) l.Connection(true);
    });
    FireAfterOpen();
    ReportSignals(true);
}

void TCustomComPort::Disconnect() {
    reapRetiredThreads();
    if (!connected_) return;
    ReportSignals(false);
    FireBeforeClose();
    AbortTransfers();
    if (threadCreated_) {
        stopThread();
        threadCreated_ = false;
    }
    CloseDevice();
    connected_ = false;
    forListeners([](TComListener& l) {
        if (l.Connection) l.Connection(false);
    });
    FireAfterClose();
}

void TCustomComPort::stopThread() {
    if (!thread_) return;
    thread_->SignalStop();
    if (handOverDepth_ > 0) {
        // Called by a handler the thread is waiting for: it cannot end before this delivery returns, so it is
        // joined later instead of being waited for here (which could never finish).
        retiredThreads_.push_back(std::move(thread_));
        return;
    }
    // Keep serving hand-overs while waiting, so a delivery in flight completes instead of deadlocking.
    mainCall_->serveUntil([this] { return thread_->Finished(); });
    thread_.reset();
}

void TCustomComPort::reapRetiredThreads() {
    if (handOverDepth_ > 0) return;
    for (auto& thread : retiredThreads_)
        mainCall_->serveUntil([&thread] { return thread->Finished(); });
    retiredThreads_.clear();
}

void TCustomComPort::deliverHandedOver(TComEvents events) {
    ++handOverDepth_;
    try {
        DeliverEvents(events);
    } catch (...) {
        --handOverDepth_;
        throw;
    }
    --handOverDepth_;
}

bool TCustomComPort::DeviceHungUp() const {
    if (!connected_ || !device_) return false;
    bool ready = false, hangUp = false;
    return device_->waitReady(false, -1, 0, ready, hangUp) == 0 && hangUp;
}

bool TCustomComPort::EventThreadRunning() const {
    return thread_ && !thread_->Finished();
}

void TCustomComPort::OpenDevice() {
    // The port name byte for byte, UTF-8 or not.
    const std::string path = platform::SerialDevice::devicePath(platform::fileNameBytes(port_).toStdString());
    if (const int err = device_->open(path)) throw EComPort(CError_OpenFailed, err);
}

void TCustomComPort::CloseDevice() {
    if (device_->isOpen()) {
        // write() returns once the bytes are queued; the last frame of an operation (a stop frame, a Lock)
        // may still be on its way. Let it leave, within the time the line needs for it, then drop only what
        // arrived unread. Output that cannot leave in that time (flow control held off, an adapter gone) is
        // dropped too, or the close itself would wait for it.
        const auto start = std::chrono::steady_clock::now();
        int queued = 0;
        device_->outputQueueCount(queued);
        const int boundMs = drainBoundMs(std::max(queued, bytesStillOnTheLine(start)));
        if (device_->drainOutput(boundMs) != 0)
            device_->discardOutput();
        else
            waitForTheLine(start + std::chrono::milliseconds(boundMs));
        device_->discardInput();
    }
    discardQueuedInput();
    device_->close();
    std::lock_guard lock(lineMutex_);
    lineFreeAt_ = {};
}

std::chrono::nanoseconds TCustomComPort::charTime() const {
    std::lock_guard lock(lineMutex_);
    // Rates below 50 baud are rare but real (teleprinter lines): they count at their own rate.
    const std::int64_t rate = std::max<std::int32_t>(lineRate_, 1);
    return std::chrono::nanoseconds((std::int64_t(lineBitsPerChar_) * 1000000000 + rate - 1) / rate);
}

int TCustomComPort::drainBoundMs(int queuedBytes) const {
    // A UART's transmit FIFO and a USB adapter's buffer hold bytes the driver no longer counts.
    constexpr std::int64_t hiddenBytes = 64;
    constexpr std::int64_t marginMs = 50;
    const std::int64_t chars = std::max(queuedBytes, 0) + hiddenBytes;
    const std::int64_t ms = (chars * charTime().count() + 999999) / 1000000 + marginMs;
    return static_cast<int>(std::min<std::int64_t>(ms, 60000));
}

void TCustomComPort::wroteBytes(long n) {
    if (n <= 0) return;
    written_ += static_cast<std::uint64_t>(n);
    txKick_->raise();
    const auto wire = charTime() * n;
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(lineMutex_);
    lineFreeAt_ = std::max(lineFreeAt_, now) + wire;
}

int TCustomComPort::bytesStillOnTheLine(std::chrono::steady_clock::time_point now) const {
    std::chrono::steady_clock::time_point freeAt;
    {
        std::lock_guard lock(lineMutex_);
        freeAt = lineFreeAt_;
    }
    if (freeAt <= now) return 0;
    const auto perChar = charTime().count();
    const std::int64_t chars = ((freeAt - now).count() + perChar - 1) / perChar;
    return static_cast<int>(std::min<std::int64_t>(chars, 1 << 30));
}

void TCustomComPort::waitForTheLine(std::chrono::steady_clock::time_point deadline) const {
    // A USB adapter passes bytes on to its UART in bus frames and may keep them up to its latency timer
    // (16 ms by default on the common chips) before they start on the wire.
    constexpr auto adapterMargin = std::chrono::milliseconds(20);
    std::chrono::steady_clock::time_point until;
    {
        std::lock_guard lock(lineMutex_);
        until = lineFreeAt_;
    }
    if (until == std::chrono::steady_clock::time_point{}) return; // nothing written since the port opened
    until = std::min(until + adapterMargin, deadline);
    for (auto now = std::chrono::steady_clock::now(); now < until; now = std::chrono::steady_clock::now()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        platform::sleepMs(static_cast<int>(std::min<std::int64_t>(left.count(), 60000)));
    }
}

void TCustomComPort::PushAllSettings() {
    PushBufferSizes();
    PushLineSettings();
    PushTimeouts();
}

TComDeviceControl TCustomComPort::BuildDeviceControl() const {
    TComDeviceControl dcb;
    dcb.BaudRate = baudRate_ == brCustom ? static_cast<std::uint32_t>(customBaudRate_) : baudRates[baudRate_];
    std::uint32_t f = 1; // fBinary
    if (parity_.Check()) f |= 1u << 1;
    if (flowControl_.OutCTSFlow()) f |= 1u << 2;
    if (flowControl_.OutDSRFlow()) f |= 1u << 3;
    f |= static_cast<std::uint32_t>(flowControl_.ControlDTR()) << 4;
    if (flowControl_.DSRSensitivity()) f |= 1u << 6;
    if (flowControl_.TxContinueOnXoff()) f |= 1u << 7;
    if (flowControl_.XonXoffOut()) f |= 1u << 8;
    if (flowControl_.XonXoffIn()) f |= 1u << 9;
    const bool errorChar = parity_.Check() && parity_.Replace();
    if (errorChar) f |= 1u << 10;
    if (discardNull_) f |= 1u << 11;
    f |= static_cast<std::uint32_t>(flowControl_.ControlRTS()) << 12;
    dcb.Flags = f;
    dcb.XonLim = static_cast<std::uint16_t>(buffer_.InputSize() / 4);
    dcb.XoffLim = static_cast<std::uint16_t>(buffer_.InputSize() / 4);
    dcb.ByteSize = static_cast<std::uint8_t>(5 + dataBits_);
    dcb.Parity = static_cast<std::uint8_t>(parity_.Bits());
    dcb.StopBits = static_cast<std::uint8_t>(stopBits_);
    dcb.XonChar = flowControl_.XonChar();
    dcb.XoffChar = flowControl_.XoffChar();
    dcb.ErrorChar = errorChar ? parity_.ReplaceChar() : 0;
    dcb.EofChar = 0;
    dcb.EvtChar = eventChar_;
    return dcb;
}

void TCustomComPort::PushLineSettings() {
    if (!CanPush()) return;
    const TComDeviceControl dcb = BuildDeviceControl();
    platform::SerialLineConfig c;
    c.baudRate = static_cast<int>(dcb.BaudRate);
    c.dataBits = dcb.ByteSize;
    c.parity = dcb.Parity;
    c.stopBits = dcb.StopBits;
    c.parityCheck = (dcb.Flags & (1u << 1)) != 0;
    c.replaceErrors = (dcb.Flags & (1u << 10)) != 0;
    c.ctsFlow = (dcb.Flags & (1u << 2)) != 0;
    c.dtrMode = static_cast<int>((dcb.Flags >> 4) & 3u);
    c.rtsMode = static_cast<int>((dcb.Flags >> 12) & 3u);
    c.rtsHandshake = c.rtsMode == rtsHandshake;
    c.xonXoffOut = (dcb.Flags & (1u << 8)) != 0;
    c.xonXoffIn = (dcb.Flags & (1u << 9)) != 0;
    c.xonChar = dcb.XonChar;
    c.xoffChar = dcb.XoffChar;
    c.discardNull = (dcb.Flags & (1u << 11)) != 0;
    // A custom rate of 0 or less cannot be set; the device refuses it like any other bad record.
    if (const int err = device_->applyLine(c)) throw EComPort(CError_SetStateFailed, err);
    {
        // Start bit, data bits, parity, stop bits (one and a half counts as two).
        std::lock_guard lock(lineMutex_);
        lineRate_ = c.baudRate;
        lineBitsPerChar_ = 1 + c.dataBits + (c.parity != 0 ? 1 : 0) + (c.stopBits != 0 ? 2 : 1);
    }
    TComInputQueue::Rules rules;
    rules.discardNull = c.discardNull;
    rules.marked = c.parityCheck;
    rules.replace = c.replaceErrors;
    rules.replaceChar = dcb.ErrorChar;
    rules.eventChar = dcb.EvtChar;
    std::lock_guard lock(rxMutex_);
    input_.setRules(rules);
}

void TCustomComPort::PushTimeouts() {
    if (!CanPush()) return;
    if (!device_->isOpen()) throw EComPort(CError_TimeoutsFailed, EBADF);
    deviceTimeouts_ = timeouts_;
}

void TCustomComPort::PushBufferSizes() {
    if (!CanPush()) return;
    if (!device_->isOpen()) throw EComPort(CError_SetupComFailed, EBADF);
    deviceInputSize_ = buffer_.InputSize();
}

void TCustomComPort::SetBaudRate(TBaudRate value) {
    if (value == baudRate_) return;
    baudRate_ = value;
    PushLineSettings();
}

void TCustomComPort::SetCustomBaudRate(std::int32_t value) {
    if (value == customBaudRate_) return;
    customBaudRate_ = value;
    PushLineSettings();
}

void TCustomComPort::SetPort(const QString& value) {
    if (value == port_) return;
    port_ = value;
    if (connected_ && !loading_) {
        Disconnect();
        Connect();
    }
}

void TCustomComPort::SetStopBits(TStopBits value) {
    if (value == stopBits_) return;
    stopBits_ = value;
    PushLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits value) {
    if (value == dataBits_) return;
    dataBits_ = value;
    PushLineSettings();
}

void TCustomComPort::SetDiscardNull(bool value) {
    if (value == discardNull_) return;
    discardNull_ = value;
    PushLineSettings();
}

void TCustomComPort::SetEventChar(unsigned char value) {
    if (value == eventChar_) return;
    eventChar_ = value;
    PushLineSettings();
}

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
    if (value == syncMethod_) return;
    if (connected_ && !loading_) throw EComPort(CError_ConnChangeProp);
    syncMethod_ = value;
}

void TCustomComPort::SetParity(const TComParity& value) {
    parity_ = value;
    PushLineSettings();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& value) {
    flowControl_ = value;
    PushLineSettings();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& value) {
    timeouts_ = value;
    PushTimeouts();
}

void TCustomComPort::SetBuffer(const TComBuffer& value) {
    buffer_ = value;
    PushBufferSizes();
}

void TCustomComPort::EndSettingsBatch() {
    if (batchDepth_ < 1) return;
    --batchDepth_;
    if (batchDepth_ == 0) PushAllSettings();
}

std::int32_t TCustomComPort::InputQueueCount() {
    int count = 0;
    {
        std::lock_guard lock(rxMutex_);
        int waiting = 0;
        if (const int err = device_->inputQueueCount(waiting)) throw EComPort(CError_ClearComFailed, err);
        pumpInputLocked(); // a failed read shows in the reads
        count = queuedLocked();
    }
    // Reading the count clears the pending line errors, as the Windows driver does.
    platform::SerialErrorCounters now;
    if (device_->errorCounters(now) == 0) {
        std::lock_guard lock(errorMutex_);
        errorBase_[0] = now.frame;
        errorBase_[1] = now.parity;
        errorBase_[2] = now.overrun;
        errorBase_[3] = now.bufferOverrun;
        errorBase_[4] = now.brk;
    }
    return count;
}

TComLineSignals TCustomComPort::ModemSignals() {
    unsigned lines = 0;
    if (const int err = device_->modemLines(lines)) throw EComPort(CError_ModemStatFailed, err);
    return TComLineSignals::fromBits(lines);
}

TComErrors TCustomComPort::TakeLineErrors() {
    platform::SerialErrorCounters now;
    if (const int err = device_->errorCounters(now)) throw EComPort(CError_ClearComFailed, err);
    TComErrors errors;
    std::lock_guard lock(errorMutex_);
    if (now.frame != errorBase_[0]) errors.insert(ceFrame);
    if (now.parity != errorBase_[1] && parity_.Check()) errors.insert(ceRxParity);
    if (now.overrun != errorBase_[2]) errors.insert(ceOverrun);
    if (now.bufferOverrun != errorBase_[3]) errors.insert(ceRxOver);
    if (now.brk != errorBase_[4]) errors.insert(ceBreak);
    errorBase_[0] = now.frame;
    errorBase_[1] = now.parity;
    errorBase_[2] = now.overrun;
    errorBase_[3] = now.bufferOverrun;
    errorBase_[4] = now.brk;
    return errors;
}

std::uint64_t TCustomComPort::receivedTotal(int& queued) {
    std::lock_guard lock(rxMutex_);
    pumpInputLocked();
    queued = queuedLocked();
    return consumed_ + input_.size();
}

int TCustomComPort::pumpInputLocked() {
    if (!device_->isOpen()) return EBADF;
    unsigned char raw[4096];
    bool added = false;
    int err = 0;
    while (input_.room() > 0) {
        const long n = device_->readSome(raw, std::min(sizeof raw, input_.room()));
        if (n < 0) err = static_cast<int>(-n);
        if (n <= 0) break;
        const std::size_t before = input_.size();
        if (input_.take(raw, static_cast<std::size_t>(n))) eventCharArrived_ = true;
        added = added || input_.size() > before;
    }
    // A read waiting for the device may have been overtaken by this pump: wake it to look again.
    if (added) inputKick_->raise();
    return err;
}

int TCustomComPort::queuedLocked() {
    int count = static_cast<int>(input_.size());
    int waiting = 0;
    if (input_.room() == 0 && device_->inputQueueCount(waiting) == 0) count += std::max(waiting, 0);
    return count;
}

void TCustomComPort::discardQueuedInput() {
    std::lock_guard lock(rxMutex_);
    input_.clear();
    eventCharArrived_ = false;
}

void TCustomComPort::AttachListener(TComListener* listener) {
    if (listener && std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
        listeners_.push_back(listener);
}

void TCustomComPort::DetachListener(TComListener* listener) {
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void TCustomComPort::FireAfterClose() {
    if (OnAfterClose) OnAfterClose(this);
}
void TCustomComPort::FireAfterOpen() {
    if (OnAfterOpen) OnAfterOpen(this);
}
void TCustomComPort::FireBeforeClose() {
    if (OnBeforeClose) OnBeforeClose(this);
}
void TCustomComPort::FireBeforeOpen() {
    if (OnBeforeOpen) OnBeforeOpen(this);
}
void TCustomComPort::FireRxChar(int Count) {
    if (OnRxChar) OnRxChar(this, Count);
}
void TCustomComPort::FireRxBuf(const unsigned char* Buffer, int Count) {
    if (OnRxBuf) OnRxBuf(this, Buffer, Count);
}
void TCustomComPort::FireTxEmpty() {
    if (OnTxEmpty) OnTxEmpty(this);
}
void TCustomComPort::FireBreak() {
    if (OnBreak) OnBreak(this);
}
void TCustomComPort::FireRing() {
    if (OnRing) OnRing(this);
}
void TCustomComPort::FireRxFlag() {
    if (OnRxFlag) OnRxFlag(this);
}
void TCustomComPort::FireCTSChange(bool OnOff) {
    if (OnCTSChange) OnCTSChange(this, OnOff);
}
void TCustomComPort::FireDSRChange(bool OnOff) {
    if (OnDSRChange) OnDSRChange(this, OnOff);
}
void TCustomComPort::FireError(TComErrors Errors) {
    if (OnError) OnError(this, Errors);
}
void TCustomComPort::FireRLSDChange(bool OnOff) {
    if (OnRLSDChange) OnRLSDChange(this, OnOff);
}
void TCustomComPort::FireRx80Full() {
    if (OnRx80Full) OnRx80Full(this);
}

std::size_t TCustomComPort::PendingHandOvers() const {
    return mainCall_->pending();
}

int TCustomComPort::NotifyRemoval(std::function<void()> fn) {
    removalNotices_.emplace_back(nextRemovalTicket_, std::move(fn));
    return nextRemovalTicket_++;
}

void TCustomComPort::CancelRemovalNotice(int ticket) {
    std::erase_if(removalNotices_, [ticket](const auto& n) { return n.first == ticket; });
}
