#pragma once

#include "serial/comtypes.h"

#include <QString>
#include <QStringList>

// Readable text forms of the settings, as stored and as listed by the setup dialog. Parsing ignores ASCII
// letter case, takes the first matching row and never fails: a text matching no row gives the fallback.

QString BaudRateName(TBaudRate value);
TBaudRate ParseBaudRate(const QString& text); // fallback br9600
QString StopBitsName(TStopBits value);
TStopBits ParseStopBits(const QString& text); // fallback sbOneStopBit
QString DataBitsName(TDataBits value);
TDataBits ParseDataBits(const QString& text); // fallback dbEight
QString ParityName(TParityBits value);
TParityBits ParseParity(const QString& text); // fallback prNone
QString FlowControlName(TFlowControl value);
TFlowControl ParseFlowControl(const QString& text); // fallback fcCustom
QString DtrModeName(TDTRFlowControl value);
TDTRFlowControl ParseDtrMode(const QString& text); // fallback dtrDisable
QString RtsModeName(TRTSFlowControl value);
TRTSFlowControl ParseRtsMode(const QString& text); // fallback rtsDisable
// "Yes"/"No"; true exactly for "YES" in any case.
QString YesNoName(bool value);
bool ParseYesNo(const QString& text);
// Codes 33 to 127 as the character itself, any other as '#' and the decimal code.
QString CharName(unsigned char value);
unsigned char ParseCharName(const QString& text);

// Every row of a table, in enumeration order (the setup dialog's lists).
QStringList BaudRateNames();
QStringList StopBitsNames();
QStringList DataBitsNames();
QStringList ParityNames();
QStringList FlowControlNames();
