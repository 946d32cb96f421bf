#pragma once

#include <QString>

class HostView;
class Sequencer;
class TCustomComPort;

// Where the port's settings live: below the current user's root (the location's first component is empty), in
// HKEY_LOCAL_MACHINE\Software\HexFileOpenSet\ComPort.
inline const QString portSettingsLocation = QStringLiteral("\\HKEY_LOCAL_MACHINE\\Software\\HexFileOpenSet");

// Start-up: seeds the port's stored settings on a first run (comSeted false: the present settings are saved and
// comSeted becomes true), restores them, opens the port and sends the probe. When the port does not open the
// message box "COM1 Open Fail ! Please Check !" is shown and false returned. A failure while saving or
// restoring the settings is raised to the caller.
bool bringUpPort(TCustomComPort& port, bool& comSeted, Sequencer& sequencer, HostView& view);

// Shutdown: saves the port's settings (raising a failure) and closes the port.
void releasePort(TCustomComPort& port);
