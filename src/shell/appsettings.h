#pragma once

#include <QString>

class AppSettingsStore;

// The user's choices that survive a restart, section "HexFileOpen" of the application settings store.
struct AppSettings {
    int fill = 255;       // "DownLoadset.Fill"
    int chipIndex = 6;    // "ICtypeGroup.ItemIndex" (AT89S52)
    int lockLevel = 0;    // "LockBit.ItemIndex" ("Not Bit")
    bool comSeted = false; // "ComSeted": the port settings have been seeded once

    // Missing or unparsable values give the defaults above; nothing is reported.
    static AppSettings read(const AppSettingsStore& store);
    // False when any value could not be written.
    bool write(AppSettingsStore& store) const;
};

inline const QString appSettingsSection = QStringLiteral("HexFileOpen");
