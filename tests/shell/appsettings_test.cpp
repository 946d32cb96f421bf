#include "shell/appsettings.h"
#include "shell/appsettingsstore.h"
#include "support/tempconfig.h"

#include <gtest/gtest.h>

namespace {
const QString storeName = AppSettingsStore::nameForExecutableFolder("/opt/chipwright/bin");
QString valuesFile(const TempConfigHome& home) {
    return home.registry() + "/HKEY_CURRENT_USER/opt/chipwright/bin/Program.ini/HexFileOpen/values.reg";
}
} // namespace

TEST(AppSettings, FirstRunGivesTheDefaults) {
    TempConfigHome home;
    AppSettingsStore store(storeName);
    const AppSettings s = AppSettings::read(store);
    EXPECT_EQ(s.fill, 255);
    EXPECT_EQ(s.chipIndex, 6);
    EXPECT_EQ(s.lockLevel, 0);
    EXPECT_FALSE(s.comSeted);
}

TEST(AppSettings, RoundTripAsDecimalStringsInTheStoreNamedByTheFolder) {
    TempConfigHome home;
    AppSettingsStore store(storeName);
    AppSettings s;
    s.fill = 0;
    s.chipIndex = 4;
    s.lockLevel = 3;
    s.comSeted = true;
    ASSERT_TRUE(s.write(store));
    EXPECT_EQ(readWholeFile(valuesFile(home)), QByteArray("\"DownLoadset.Fill\"=\"0\"\n"
                                                         "\"ICtypeGroup.ItemIndex\"=\"4\"\n"
                                                         "\"LockBit.ItemIndex\"=\"3\"\n"
                                                         "\"ComSeted\"=\"1\"\n"));
    const AppSettings back = AppSettings::read(AppSettingsStore(storeName));
    EXPECT_EQ(back.fill, 0);
    EXPECT_EQ(back.chipIndex, 4);
    EXPECT_EQ(back.lockLevel, 3);
    EXPECT_TRUE(back.comSeted);

    // Another folder is another store.
    EXPECT_EQ(AppSettings::read(AppSettingsStore("/usr/local/bin/Program.ini")).chipIndex, 6);
}

TEST(AppSettings, UnreadableValuesFallBackToTheirDefaults) {
    TempConfigHome home;
    writeWholeFile(valuesFile(home), "\"DownLoadset.Fill\"=\"FF\"\n"
                                     "\"ICtypeGroup.ItemIndex\"=dword:00000003\n" // a number value, not a string
                                     "\"LockBit.ItemIndex\"=\" 2 \"\n"
                                     "\"ComSeted\"=\"yes\"\n"
                                     "this line is damaged\n");
    const AppSettings s = AppSettings::read(AppSettingsStore(storeName));
    EXPECT_EQ(s.fill, 255);
    EXPECT_EQ(s.chipIndex, 6);
    EXPECT_EQ(s.lockLevel, 2);
    EXPECT_FALSE(s.comSeted);
}

TEST(AppSettings, AStoreThatCannotBeWrittenReportsItAndStillReads) {
    TempConfigHome home;
    // A file where the section's folder should be: even root cannot write below it.
    writeWholeFile(home.registry() + "/HKEY_CURRENT_USER/opt/chipwright/bin/Program.ini/HexFileOpen", "x");
    AppSettingsStore store(storeName);
    AppSettings s;
    s.fill = 0;
    EXPECT_FALSE(s.write(store));
    EXPECT_EQ(AppSettings::read(store).fill, 255);
}
