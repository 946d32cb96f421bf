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
    return store.writeTexts(appSettingsSection, {{fillKey, AppSettingsStore::integerText(fill)},
                                                 {chipKey, AppSettingsStore::integerText(chipIndex)},
                                                 {lockKey, AppSettingsStore::integerText(lockLevel)},
                                                 {comSetedKey, AppSettingsStore::boolText(comSeted)}});
}
