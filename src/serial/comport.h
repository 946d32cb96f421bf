#pragma once

#include "serial/cominput.h"
#include "serial/comoptions.h"
#include "serial/comtransfer.h"
#include "serial/comtypes.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace platform {
class SerialDevice;
class MainThreadCall;
class RegistryKey;
class WakeSignal;
} // namespace platform

class TComThread;
class TIniFile;
class TCustomComPort;

// Hooks a companion object can attach to a port; every hook is optional. Nothing in the program attaches one,
// but the port calls them where a listener would expect it.
struct TComListener {
    std::function<void(bool OnOff)> Connection;
    std::function<void(TCustomComPort* Sender, const unsigned char* Buffer, int Count)> ReceivedData;
    std::function<void(TCustomComPort* Sender, const unsigned char* Buffer, int Count)> TransmittedData;
    std::function<void(TCustomComPort* Sender)> TxEmpty;
    std::function<void(TCustomComPort* Sender)> EventChar;
    std::function<void(bool OnOff)> CTS;
    std::function<void(bool OnOff)> DSR;
    std::function<void(bool OnOff)> RLSD;
    std::function<void(TCustomComPort* Sender)> Ring;
    std::function<void(bool OnOff)> Sending;
    std::function<void(bool OnOff)> Receiving;
};

// The device-control record the port builds from its settings on every line push (the device state is never
// read back). Kept in the Windows layout so the rules stay checkable; the Linux device takes what it can of
// it.
struct TComDeviceControl {
    std::uint32_t BaudRate = 0;
    std::uint32_t Flags = 0; // fBinary bit 0 ... fAbortOnError bit 14
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 8;
    std::uint8_t Parity = 0;
    std::uint8_t StopBits = 0;
    unsigned char XonChar = 0;
    unsigned char XoffChar = 0;
    unsigned char ErrorChar = 0;
    unsigned char EofChar = 0;
    unsigned char EvtChar = 0;
};

// Shows a failure that nobody above can catch (a window-sync delivery, reopening after loading). The GUI
// installs a message box; the default writes a warning.
void SetComExceptionDisplay(std::function<void(const QString& message)> display);
void ShowComException(const std::exception& failure);

// One serial port: its settings, the device while open, the event thread that turns device events into
// handler calls, and the transfers. All operations belong to the main thread, except that with smNone the
// handlers and the queries they use run on the event thread.
class TCustomComPort {
public:
    using TNotifyEvent = std::function<void(TCustomComPort* Sender)>;
    using TRxCharEvent = std::function<void(TCustomComPort* Sender, int Count)>;
    using TRxBufEvent = std::function<void(TCustomComPort* Sender, const unsigned char* Buffer, int Count)>;
    using TComSignalEvent = std::function<void(TCustomComPort* Sender, bool OnOff)>;
    using TComErrorEvent = std::function<void(TCustomComPort* Sender, TComErrors Errors)>;

    TCustomComPort();
    // A port on a device of the caller's choosing (tests put a recording double here).
    explicit TCustomComPort(std::unique_ptr<platform::SerialDevice> device);
    virtual ~TCustomComPort();
    TCustomComPort(const TCustomComPort&) = delete;
    TCustomComPort& operator=(const TCustomComPort&) = delete;

    // The component name; the settings stores use it as section / key name.
    const QString& Name() const { return name_; }
    void SetName(const QString& name) { name_ = name; }

    // Loading guard: between BeginLoading and Loaded setters only store. Loaded opens the port if Connected
    // was set to true meanwhile; a failure there is shown, not raised, and the port stays closed.
    void BeginLoading() { loading_ = true; }
    virtual void Loaded();
    bool Loading() const { return loading_; }

    void Connect();
    void Disconnect();
    bool Connected() const { return connected_; }
    // Whether the open device has hung up (an adapter unplugged, the far end of a pseudo-terminal gone): the
    // line is lost until the port is opened again. False when closed.
    bool DeviceHungUp() const;
    void SetConnected(bool value);

    TBaudRate BaudRate() const { return baudRate_; }
    void SetBaudRate(TBaudRate value);
    std::int32_t CustomBaudRate() const { return customBaudRate_; }
    void SetCustomBaudRate(std::int32_t value);
    const QString& Port() const { return port_; }
    // A changed name reopens an open port on the new device.
    void SetPort(const QString& value);
    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits value);
    TDataBits DataBits() const { return dataBits_; }
    void SetDataBits(TDataBits value);
    bool DiscardNull() const { return discardNull_; }
    void SetDiscardNull(bool value);
    unsigned char EventChar() const { return eventChar_; }
    void SetEventChar(unsigned char value);
    // Takes effect at the next Connect.
    TComEvents Events() const { return events_; }
    void SetEvents(TComEvents value) { events_ = value; }
    TSyncMethod SyncMethod() const { return syncMethod_; }
    // Refused with code 14 while connected.
    void SetSyncMethod(TSyncMethod value);
    int ThreadPriority() const { return threadPriority_; }
    void SetThreadPriority(int value) { threadPriority_ = value; }
    bool RxCountOnly() const { return rxCountOnly_; }
    void SetRxCountOnly(bool value) { rxCountOnly_ = value; }
    bool HasRxBufListener() const { return hasRxBufListener_; }
    void SetHasRxBufListener(bool value) { hasRxBufListener_ = value; }

    TComParity& Parity() { return parity_; }
    const TComParity& Parity() const { return parity_; }
    void SetParity(const TComParity& value);
    TComFlowControl& FlowControl() { return flowControl_; }
    const TComFlowControl& FlowControl() const { return flowControl_; }
    void SetFlowControl(const TComFlowControl& value);
    TComTimeouts& Timeouts() { return timeouts_; }
    const TComTimeouts& Timeouts() const { return timeouts_; }
    void SetTimeouts(const TComTimeouts& value);
    TComBuffer& Buffer() { return buffer_; }
    const TComBuffer& Buffer() const { return buffer_; }
    void SetBuffer(const TComBuffer& value);

    // Settings changed inside a batch reach an open device once, when the outermost batch ends.
    void BeginSettingsBatch() { ++batchDepth_; }
    void EndSettingsBatch();

    std::int32_t InputQueueCount();
    TComLineSignals ModemSignals();
    TComErrors TakeLineErrors();

    // Transfers. With the default timeouts a read returns at once with what is queued (possibly nothing) and
    // a write of n bytes completes within 1000 + 100 n ms with the count actually sent.
    std::int32_t WriteBytes(const void* Buffer, std::int32_t Count);
    std::int32_t ReadBytes(void* Buffer, std::int32_t Count);
    std::int32_t StartWrite(const void* Buffer, std::int32_t Count, PComTransfer AsyncPtr);
    std::int32_t StartRead(void* Buffer, std::int32_t Count, PComTransfer AsyncPtr);
    std::int32_t AwaitTransfer(PComTransfer AsyncPtr);
    void AbortTransfers();

    // Settings persistence: the registry location text or the ini file name.
    TPersistGroups PersistGroups() const { return persistGroups_; }
    void SetPersistGroups(TPersistGroups value) { persistGroups_ = value; }
    void SaveSettings(SettingsStoreKind StoreType, const QString& StoreTo);
    void RestoreSettings(SettingsStoreKind StoreType, const QString& StoreFrom);

    // Runs the setup dialog for this port and applies what the user confirms (needs the GUI library).
    void ShowSetup();

    // Tells fn when this port is destroyed (selector controls unbind then); returns a ticket to cancel it.
    int NotifyRemoval(std::function<void()> fn);
    void CancelRemovalNotice(int ticket);

    // Listeners (the list does not own them).
    void AttachListener(TComListener* listener);
    void DetachListener(TComListener* listener);

    // The record PushLineSettings gives the device for the present settings.
    TComDeviceControl BuildDeviceControl() const;

    // Diagnostics: how often the event thread came back from its kernel wait, and whether it is running.
    std::uint64_t EventWakeCount() const { return wakeCount_.load(); }
    bool EventThreadRunning() const;
    // Deliveries the event thread has handed to the main thread and that have not started yet.
    std::size_t PendingHandOvers() const;

    TNotifyEvent OnAfterOpen, OnAfterClose, OnBeforeOpen, OnBeforeClose;
    TRxCharEvent OnRxChar;
    TRxBufEvent OnRxBuf;
    TNotifyEvent OnTxEmpty, OnBreak, OnRing, OnRxFlag, OnRx80Full;
    TComSignalEvent OnCTSChange, OnDSRChange, OnRLSDChange;
    TComErrorEvent OnError;

    // Event delivery, run by the event thread or on its behalf; public so the thread can call them.
    void DeliverEvents(TComEvents events);
    void ProcessEventCode(int code);
    void ReportSignals(bool opened);

protected:
    virtual void WriteRegistry(platform::RegistryKey& key);
    virtual void WriteIniFile(TIniFile& ini);
    virtual void ReadRegistry(platform::RegistryKey* key);
    virtual void ReadIniFile(TIniFile& ini);
    virtual void OpenDevice();
    virtual void CloseDevice();
    virtual void PushAllSettings();

    virtual void FireAfterClose();
    virtual void FireAfterOpen();
    virtual void FireBeforeClose();
    virtual void FireBeforeOpen();
    virtual void FireRxChar(int Count);
    virtual void FireRxBuf(const unsigned char* Buffer, int Count);
    virtual void FireTxEmpty();
    virtual void FireBreak();
    virtual void FireRing();
    virtual void FireRxFlag();
    virtual void FireCTSChange(bool OnOff);
    virtual void FireDSRChange(bool OnOff);
    virtual void FireError(TComErrors Errors);
    virtual void FireRLSDChange(bool OnOff);
    virtual void FireRx80Full();

public:
    // The three push groups; each does nothing unless connected, outside a batch and not loading.
    virtual void PushLineSettings();
    virtual void PushTimeouts();
    virtual void PushBufferSizes();

protected:
    bool CanPush() const { return connected_ && (batchDepth_ == 0 || opening_) && !loading_; }

    void ProcessRxChar();
    void ProcessTxEmpty();
    void ProcessRxFlag();
    void ProcessRing();
    void ProcessBreak();
    void ProcessCTSChange();
    void ProcessDSRChange();
    void ProcessRLSDChange();
    void ProcessError();
    void ProcessRx80Full();

private:
    friend class TComThread;

    void stopThread();
    // How long a close waits at most for written bytes to leave: their time on the wire at the line rate,
    // plus a margin for the transmitter and the adapter.
    int drainBoundMs(int queuedBytes) const;
    // One character's time on the wire at the line settings the device was last given.
    std::chrono::nanoseconds charTime() const;
    // Counts n bytes the device took: the written total for the event thread, and the time the line needs
    // to send them after what it still has.
    void wroteBytes(long n);
    // Bytes written that cannot have left the line yet by their wire time.
    int bytesStillOnTheLine(std::chrono::steady_clock::time_point now) const;
    // Waits until the last bytes written have had their time on the line plus the adapter's margin, but not
    // past deadline. A driver or adapter that reports an empty queue while it still holds bytes (most USB
    // adapters do) would otherwise have its last frame cut by the close.
    void waitForTheLine(std::chrono::steady_clock::time_point deadline) const;
    // Joins event threads that were stopped from inside one of their own deliveries.
    void reapRetiredThreads();
    // Runs a delivery handed over by the event thread (on the main thread).
    void deliverHandedOver(TComEvents events);
    // Bytes received so far: those consumed by reads plus those still queued. Grows exactly when data
    // arrives.
    std::uint64_t receivedTotal(int& queued);
    // Moves what the device has received into the input queue (rxMutex_ held). Returns 0 or an errno; bytes
    // already queued stay readable after a failure.
    int pumpInputLocked();
    // The queued count plus what waits in the device once the queue is full (rxMutex_ held).
    int queuedLocked();
    // True once per arrival of the event character since the last call.
    bool takeEventCharArrival() { return eventCharArrived_.exchange(false); }
    void discardQueuedInput();
    // Reads from the input queue after a pump: the bytes moved, or a negative errno when there were none.
    long readQueued(unsigned char* buffer, std::size_t count);
    std::uint64_t writtenTotal() const { return written_.load(); }
    void waitTransfer(TComTransfer& t);
    template <typename F> void forListeners(F f) {
        for (TComListener* l : listeners_)
            f(*l);
    }

    QString name_ = QStringLiteral("ComPort");
    std::unique_ptr<TComThread> thread_;
    std::vector<std::unique_ptr<TComThread>> retiredThreads_;
    int handOverDepth_ = 0;
    bool threadCreated_ = false;
    std::unique_ptr<platform::SerialDevice> device_;
    std::unique_ptr<platform::MainThreadCall> mainCall_;
    std::unique_ptr<platform::WakeSignal> abortSignal_; // wakes waiting writes (and, raised too, reads)
    std::unique_ptr<platform::WakeSignal> inputKick_;   // wakes waiting reads: bytes reached the input queue
    std::unique_ptr<platform::WakeSignal> txKick_;
    std::int32_t batchDepth_ = 0;
    std::vector<TComListener*> listeners_;
    std::vector<std::pair<int, std::function<void()>>> removalNotices_;
    int nextRemovalTicket_ = 1;
    bool rxCountOnly_ = true;
    int threadPriority_ = 0;
    bool hasRxBufListener_ = false;
    bool connected_ = false;
    bool loading_ = false;
    bool connectAfterLoading_ = false;
    bool opening_ = false; // Connect gives a new device its settings at once, batch or not
    TBaudRate baudRate_ = br9600;
    std::int32_t customBaudRate_ = 9600;
    QString port_ = QStringLiteral("COM1");
    TStopBits stopBits_ = sbOneStopBit;
    TDataBits dataBits_ = dbEight;
    bool discardNull_ = false;
    unsigned char eventChar_ = 0;
    TComEvents events_ = AllComEvents;
    TComParity parity_{this};
    TComFlowControl flowControl_{this};
    TComTimeouts timeouts_{this};
    TComBuffer buffer_{this};
    TSyncMethod syncMethod_ = smThreadSync;
    TPersistGroups persistGroups_{pgLine};

    // What the device was last given: the transfers and the 80 % event work from these.
    TComTimeouts deviceTimeouts_;
    std::atomic<std::int32_t> deviceInputSize_{1024};

    std::mutex rxMutex_; // a read and the consumed count change together
    std::uint64_t consumed_ = 0;
    TComInputQueue input_; // guarded by rxMutex_
    std::atomic<bool> eventCharArrived_{false};
    std::atomic<std::uint64_t> written_{0};
    // Line settings the device was last given, and when the bytes written so far have left the line at the
    // earliest (each write's wire time, after what was still going out).
    mutable std::mutex lineMutex_;
    std::int32_t lineRate_ = 9600;                       // guarded by lineMutex_
    std::int32_t lineBitsPerChar_ = 10;                  // guarded by lineMutex_
    std::chrono::steady_clock::time_point lineFreeAt_{}; // guarded by lineMutex_
    std::atomic<std::uint32_t> abortGeneration_{0};
    std::atomic<std::uint64_t> wakeCount_{0};
    std::mutex errorMutex_;
    std::uint64_t errorBase_[5] = {};
};

// The port with every setting published; the program's port object.
class TComPort : public TCustomComPort {
public:
    using TCustomComPort::TCustomComPort;
};
