#pragma once

#include "platform/registry.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Where a registry location text leads: the text before the first backslash picks the root
// (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER, any case; anything else, an empty text included, the current
// user's); the rest, ending in a backslash, followed by the component name is the key path. A text without a
// backslash names no key.
struct ComRegistryLocation {
    platform::RegistryHive hive = platform::RegistryHive::CurrentUser;
    QString keyPath;
};
std::optional<ComRegistryLocation> ResolveComRegistryLocation(const QString& location,
                                                              const QString& componentName);

// Replaces the list with the machine's serial port names, sorted case-insensitively ascending. Raises code 23
// ("Registry error") when the device list cannot be read.
void ListSerialPorts(QStringList& list);
// Replaces where ListSerialPorts takes its names from (nothing: the machine's devices). For tests and tools
// that work with pseudo-terminals.
void SetSerialPortListSource(std::function<QStringList()> source);

// The listing's order: ascending, ignoring letter case (so COM10 comes before COM2).
void SortSerialPortNames(QStringList& names);
