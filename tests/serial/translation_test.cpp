#include "serial/cporttexts.h"
#include "serial/ecomport.h"

#include <QFile>
#include <QLocale>

#include <gtest/gtest.h>

namespace {

// The build folder comes from the environment when the test runner sets it, else from the build itself.
QString buildLocale() {
    QString dir = qEnvironmentVariable("CHIPWRIGHT_BUILD_DIR");
    if (dir.isEmpty()) dir = QStringLiteral(SERIAL_TEST_BUILD_DIR);
    return dir + QStringLiteral("/locale");
}

// Sets LANG for one test and reloads the texts; puts everything back afterwards.
class LangScope {
public:
    explicit LangScope(const char* lang) : previous_(qgetenv("LANG")) {
        qputenv("LANG", lang);
        LoadSerialLibraryTexts(buildLocale());
    }
    ~LangScope() {
        qputenv("LANG", previous_);
        LoadSerialLibraryTexts(buildLocale());
    }

private:
    QByteArray previous_;
};

} // namespace

TEST(CportTexts, TraditionalChineseComesFromLangEvenWithoutTheLocaleInstalled) {
    ASSERT_TRUE(QFile::exists(buildLocale() + QStringLiteral("/zh_TW/LC_MESSAGES/cport.mo")));
    LangScope lang("zh_TW.UTF-8");
    EXPECT_EQ(PortErrorText(1), QStringLiteral("無法開啟通訊埠"));
    EXPECT_EQ(EComPort(1, 2).Message(), QStringLiteral("無法開啟通訊埠（系統錯誤碼：2）"));
    EXPECT_EQ(EComPort(14).Message(), QStringLiteral("連線中無法設定屬性"));
    EXPECT_EQ(CportText("Baud rate"), QStringLiteral("鮑率"));
    // Every numbered text has a translation.
    for (int code = 1; code <= 23; ++code)
        EXPECT_NE(PortErrorText(code), QString::fromUtf8(PortErrorSourceText(code))) << code;
}

TEST(CportTexts, EnglishWithoutACatalogue) {
    for (const char* lang : {"C", "de_DE.UTF-8", ""}) {
        SCOPED_TRACE(lang);
        LangScope scope(lang);
        if (*lang == 0 && QLocale::system().name().startsWith(QLatin1String("zh"))) continue;
        EXPECT_EQ(PortErrorText(1), QStringLiteral("Unable to open com port"));
        EXPECT_EQ(EComPort(1, 2).Message(), QStringLiteral("Unable to open com port (win error code: 2)"));
        EXPECT_EQ(PortErrorText(23), QStringLiteral("Registry error"));
        EXPECT_EQ(PortErrorText(0), QString());
        EXPECT_EQ(PortErrorText(24), QString());
    }
}

TEST(CportTexts, DamagedCataloguesAreReadSafely) {
    QFile file(buildLocale() + QStringLiteral("/zh_TW/LC_MESSAGES/cport.mo"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray mo = file.readAll();
    EXPECT_FALSE(ParseMoCatalogue(mo).isEmpty());
    for (qsizetype cut = 0; cut < mo.size(); cut += 7)
        ParseMoCatalogue(mo.left(cut)); // must not read past the end
    QByteArray bad = mo;
    for (qsizetype i = 8; i < 28 && i < bad.size(); ++i)
        bad[i] = char(0xFF); // offsets far outside the data
    EXPECT_TRUE(ParseMoCatalogue(bad).isEmpty());
    EXPECT_TRUE(ParseMoCatalogue(QByteArray("not a catalogue")).isEmpty());
}
