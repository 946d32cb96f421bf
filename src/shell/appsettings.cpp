#include "shell/appsettings.h"

#include "shell/appsettingsstore.h"

namespace {
const QString fillKey = QStringLiteral("DownLoadset.Fill");
const QString chipKey = QStringLiteral("ICtypeGroup.ItemIndex");
const QString lockKey = QStringLiteral("LockBit.ItemIndex");
const QString comSetedKey = QStringLiteral("ComSeted");
} // namespace

AppSettings AppSettings::read(const AppSettingsStore& store) {
    AppSettings s;
    s.fill = store.readInteger(appSettingsSection, fillKey, s.fill);
    s.chipIndex = store.readInteger(appSettingsSection, chipKey, s.chipIndex);
    s.lockLevel = store.readInteger(appSettingsSection, lockKey, s.lockLevel);
    s.comSeted = store.readBool(appSettingsSection, comSetedKey, s.comSeted);
    return s;
}

bool AppSettings::write(AppSettingsStore& store) const {
    bool ok = store.writeInteger(appSettingsSection, fillKey, fill);
    ok = store.writeInteger(appSettingsSection, chipKey, chipIndex) && ok;
    ok = store.writeInteger(appSettingsSection, lockKey, lockLevel) && ok;
    ok = store.writeBool(appSettingsSection, comSetedKey, comSeted) && ok;
    return ok;
}
