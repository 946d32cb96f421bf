#pragma once

#include <QString>

// What the command-line tool says when a port does not open: which port, which device, the system's reason,
// and for the usual causes what to do about them (EACCES: membership of the dialout group; ENOENT: another
// port name; EBUSY: another program holds the port). systemErrorCode is an errno value, or -1 for none.
QString portOpenErrorText(const QString& portName, const QString& devicePath, int systemErrorCode,
                          const QString& componentMessage);
