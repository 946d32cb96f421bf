// The installed program finds the serial component's catalogues in <prefix>/share/chipwright/locale; the
// built one finds them in locale/ beside it.
#include "support/tempconfig.h"

#include "serial/cporttexts.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(InstalledLayout, CataloguesAreFoundBesideTheExecutableOrInTheSharedDataFolder) {
    QTemporaryDir dir;
    const QString prefix = dir.path();
    ASSERT_TRUE(QDir().mkpath(prefix + "/bin"));

    // Neither folder: the folder beside the executable, where a build puts them.
    EXPECT_EQ(DefaultCatalogueFolder(prefix + "/bin"), prefix + "/bin/locale");

    ASSERT_TRUE(QDir().mkpath(prefix + "/share/chipwright/locale/zh_TW/LC_MESSAGES"));
    EXPECT_EQ(DefaultCatalogueFolder(prefix + "/bin"), prefix + "/share/chipwright/locale");

    // A build folder's own catalogues win.
    ASSERT_TRUE(QDir().mkpath(prefix + "/bin/locale"));
    EXPECT_EQ(DefaultCatalogueFolder(prefix + "/bin"), prefix + "/bin/locale");
}

TEST(InstalledLayout, TheInstalledTreeTranslatesThePortMessages) {
    // What cmake --install puts in place, read by the same loader the installed program uses.
    QTemporaryDir dir;
    const QString build = qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR");
    const QString target = dir.path() + "/share/chipwright/locale/zh_TW/LC_MESSAGES";
    ASSERT_TRUE(QDir().mkpath(target));
    ASSERT_TRUE(QFile::copy(build + "/locale/zh_TW/LC_MESSAGES/cport.mo", target + "/cport.mo"));
    QDir().mkpath(dir.path() + "/bin");
    const QByteArray lang = qgetenv("LANG");
    qputenv("LANG", "zh_TW.UTF-8");
    LoadSerialLibraryTexts(DefaultCatalogueFolder(dir.path() + "/bin"));
    const QString translated = PortErrorText(1);
    qputenv("LANG", lang);
    LoadSerialLibraryTexts();
    EXPECT_NE(translated, QString::fromUtf8(PortErrorSourceText(1)));
    EXPECT_FALSE(translated.isEmpty());
}

} // namespace
