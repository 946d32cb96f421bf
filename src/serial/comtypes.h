#pragma once

#include <cstdint>
#include <initializer_list>

// Setting enumerations of the serial port component. Ordinal values matter: they index the device tables and
// the text-form tables.

enum TBaudRate {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
enum TComEvent { evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full };
enum TComError { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
enum TComLineSignal { lsCTS, lsDSR, lsRing, lsRLSD };
enum TSyncMethod { smThreadSync, smWindowSync, smNone };
enum TComTransferKind { trWrite = 0, trRead = 1 };
enum TPersistGroup { pgLine, pgFlowDetail, pgBuffer, pgTimeouts, pgParityDetail, pgOther };
enum SettingsStoreKind { RegistryStore = 0, IniFileStore = 1 };

// A set of enumeration values; element n is bit n.
template <typename E> class TEnumSet {
public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> values) {
        for (E v : values)
            bits_ |= bit(v);
    }
    static constexpr TEnumSet fromBits(std::uint32_t bits) {
        TEnumSet s;
        s.bits_ = bits;
        return s;
    }
    constexpr std::uint32_t bits() const { return bits_; }
    constexpr bool contains(E v) const { return (bits_ & bit(v)) != 0; }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr void insert(E v) { bits_ |= bit(v); }
    constexpr void remove(E v) { bits_ &= ~bit(v); }
    constexpr bool operator==(const TEnumSet&) const = default;

private:
    static constexpr std::uint32_t bit(E v) { return std::uint32_t{1} << static_cast<unsigned>(v); }
    std::uint32_t bits_ = 0;
};

using TComEvents = TEnumSet<TComEvent>;
using TComErrors = TEnumSet<TComError>;
using TComLineSignals = TEnumSet<TComLineSignal>;
using TPersistGroups = TEnumSet<TPersistGroup>;

inline constexpr TComEvents AllComEvents = TComEvents::fromBits(0x3FF);

// Bit values that the Windows driver used for each event; they double as the message codes of smWindowSync.
int EventCode(TComEvent event);
std::uint32_t EventsToMask(TComEvents events);
TComEvents MaskToEvents(std::uint32_t mask);
