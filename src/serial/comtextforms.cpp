#include "serial/comtextforms.h"

#include <array>

namespace {

constexpr std::array<const char*, 16> baudNames = {"Custom", "110",    "300",    "600",   "1200",  "2400",
                                                   "4800",   "9600",   "14400",  "19200", "38400", "56000",
                                                   "57600",  "115200", "128000", "256000"};
constexpr std::array<const char*, 3> stopNames = {"1", "1.5", "2"};
constexpr std::array<const char*, 4> dataNames = {"5", "6", "7", "8"};
constexpr std::array<const char*, 5> parityNames = {"None", "Odd", "Even", "Mark", "Space"};
constexpr std::array<const char*, 4> flowNames = {"Hardware", "Software", "None", "Custom"};
constexpr std::array<const char*, 3> dtrNames = {"Disable", "Enable", "Handshake"};
constexpr std::array<const char*, 4> rtsNames = {"Disable", "Enable", "Handshake", "Toggle"};

// Compares ignoring ASCII letter case only, as the stored texts are ASCII.
bool sameAscii(const QString& text, const char* name) {
    const QString n = QString::fromLatin1(name);
    if (text.size() != n.size()) return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char16_t a = text[i].unicode(), b = n[i].unicode();
        if (a >= 'a' && a <= 'z') a = char16_t(a - 32);
        if (b >= 'a' && b <= 'z') b = char16_t(b - 32);
        if (a != b) return false;
    }
    return true;
}

template <typename E, std::size_t N> QString nameOf(const std::array<const char*, N>& names, E value) {
    const auto i = static_cast<std::size_t>(value);
    return i < N ? QString::fromLatin1(names[i]) : QString();
}

template <typename E, std::size_t N>
E parse(const std::array<const char*, N>& names, const QString& text, E fallback) {
    for (std::size_t i = 0; i < N; ++i)
        if (sameAscii(text, names[i])) return static_cast<E>(i);
    return fallback;
}

template <std::size_t N> QStringList all(const std::array<const char*, N>& names) {
    QStringList list;
    for (const char* n : names)
        list << QString::fromLatin1(n);
    return list;
}

} // namespace

QString BaudRateName(TBaudRate value) {
    return nameOf(baudNames, value);
}
TBaudRate ParseBaudRate(const QString& text) {
    return parse(baudNames, text, br9600);
}
QString StopBitsName(TStopBits value) {
    return nameOf(stopNames, value);
}
TStopBits ParseStopBits(const QString& text) {
    return parse(stopNames, text, sbOneStopBit);
}
QString DataBitsName(TDataBits value) {
    return nameOf(dataNames, value);
}
TDataBits ParseDataBits(const QString& text) {
    return parse(dataNames, text, dbEight);
}
QString ParityName(TParityBits value) {
    return nameOf(parityNames, value);
}
TParityBits ParseParity(const QString& text) {
    return parse(parityNames, text, prNone);
}
QString FlowControlName(TFlowControl value) {
    return nameOf(flowNames, value);
}
TFlowControl ParseFlowControl(const QString& text) {
    return parse(flowNames, text, fcCustom);
}
QString DtrModeName(TDTRFlowControl value) {
    return nameOf(dtrNames, value);
}
TDTRFlowControl ParseDtrMode(const QString& text) {
    return parse(dtrNames, text, dtrDisable);
}
QString RtsModeName(TRTSFlowControl value) {
    return nameOf(rtsNames, value);
}
TRTSFlowControl ParseRtsMode(const QString& text) {
    return parse(rtsNames, text, rtsDisable);
}

QString YesNoName(bool value) {
    return value ? QStringLiteral("Yes") : QStringLiteral("No");
}
bool ParseYesNo(const QString& text) {
    return sameAscii(text, "YES");
}

QString CharName(unsigned char value) {
    if (value >= 33 && value <= 127) return QString(QChar(char16_t(value)));
    return QLatin1Char('#') + QString::number(value);
}

unsigned char ParseCharName(const QString& text) {
    if (text.isEmpty()) return 0;
    if (text.size() > 1 && text[0] == QLatin1Char('#')) {
        bool ok = false;
        const qlonglong number = text.mid(1).toLongLong(&ok);
        return ok ? static_cast<unsigned char>(static_cast<unsigned long long>(number) & 0xFFu) : 0;
    }
    return static_cast<unsigned char>(text[0].unicode() & 0xFFu);
}

QStringList BaudRateNames() {
    return all(baudNames);
}
QStringList StopBitsNames() {
    return all(stopNames);
}
QStringList DataBitsNames() {
    return all(dataNames);
}
QStringList ParityNames() {
    return all(parityNames);
}
QStringList FlowControlNames() {
    return all(flowNames);
}
