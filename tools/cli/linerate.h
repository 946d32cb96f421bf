#pragma once

class TCustomComPort;

// Sets the port's line rate to bitsPerSecond: one of the component's listed rates where it is one, else a
// custom rate. Stored while the port is closed; nothing is saved.
void setLineRate(TCustomComPort& port, int bitsPerSecond);
