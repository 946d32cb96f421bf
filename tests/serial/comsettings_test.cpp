#include "serial/comport.h"
#include "serial/comsettings.h"
#include "serial/comtextforms.h"
#include "serial/ecomport.h"
#include "support/tempconfig.h"

#include <QDir>
#include <QFile>

#include <functional>
#include <gtest/gtest.h>

namespace {

const QString kLocation = QStringLiteral("\\HKEY_LOCAL_MACHINE\\Software\\HexFileOpenSet");

QString portKeyFile(const TempConfigHome& home) {
    return home.registry() +
           QStringLiteral("/HKEY_CURRENT_USER/HKEY_LOCAL_MACHINE/Software/HexFileOpenSet/ComPort/"
                          "values.reg");
}

// Every setting away from its default.
void changeEverything(TCustomComPort& p) {
    p.SetPort(QStringLiteral("ttyUSB3"));
    p.SetBaudRate(brCustom);
    p.SetCustomBaudRate(31250);
    p.SetStopBits(sbTwoStopBits);
    p.SetDataBits(dbSeven);
    p.Parity().SetBits(prMark);
    p.FlowControl().SetFlowControl(fcSoftware);
    p.SetEventChar(13);
    p.SetDiscardNull(true);
    p.Parity().SetCheck(true);
    p.Parity().SetReplace(true);
    p.Parity().SetReplaceChar('?');
    p.Buffer().SetOutputSize(4096);
    p.Buffer().SetInputSize(2048);
    p.Timeouts().SetReadInterval(20);
    p.Timeouts().SetReadTotalConstant(30);
    p.Timeouts().SetReadTotalMultiplier(40);
    p.Timeouts().SetWriteTotalConstant(50);
    p.Timeouts().SetWriteTotalMultiplier(60);
    p.FlowControl().SetControlDTR(dtrHandshake);
    p.FlowControl().SetDSRSensitivity(true);
    p.FlowControl().SetOutDSRFlow(true);
    p.FlowControl().SetTxContinueOnXoff(true);
    p.FlowControl().SetXonChar(200);
    p.FlowControl().SetXoffChar('x');
}

struct GroupCheck {
    TPersistGroup group;
    std::function<void(const TCustomComPort&, const TCustomComPort&)> same; // restored vs. saved
};

const std::vector<GroupCheck> groupChecks = {
    {pgLine,
     [](const TCustomComPort& a, const TCustomComPort& b) {
         EXPECT_EQ(a.Port(), b.Port());
         EXPECT_EQ(a.BaudRate(), b.BaudRate());
         EXPECT_EQ(a.CustomBaudRate(), b.CustomBaudRate());
         EXPECT_EQ(a.StopBits(), b.StopBits());
         EXPECT_EQ(a.DataBits(), b.DataBits());
         EXPECT_EQ(a.Parity().Bits(), b.Parity().Bits());
         EXPECT_EQ(a.FlowControl().FlowControl(), b.FlowControl().FlowControl());
     }},
    {pgOther,
     [](const TCustomComPort& a, const TCustomComPort& b) {
         EXPECT_EQ(a.EventChar(), b.EventChar());
         EXPECT_EQ(a.DiscardNull(), b.DiscardNull());
     }},
    {pgParityDetail,
     [](const TCustomComPort& a, const TCustomComPort& b) {
         EXPECT_EQ(a.Parity().Check(), b.Parity().Check());
         EXPECT_EQ(a.Parity().Replace(), b.Parity().Replace());
         EXPECT_EQ(a.Parity().ReplaceChar(), b.Parity().ReplaceChar());
     }},
    {pgBuffer,
     [](const TCustomComPort& a, const TCustomComPort& b) {
         EXPECT_EQ(a.Buffer().InputSize(), b.Buffer().InputSize());
         EXPECT_EQ(a.Buffer().OutputSize(), b.Buffer().OutputSize());
     }},
    {pgTimeouts,
     [](const TCustomComPort& a, const TCustomComPort& b) {
         EXPECT_EQ(a.Timeouts().ReadInterval(), b.Timeouts().ReadInterval());
         EXPECT_EQ(a.Timeouts().ReadTotalConstant(), b.Timeouts().ReadTotalConstant());
         EXPECT_EQ(a.Timeouts().ReadTotalMultiplier(), b.Timeouts().ReadTotalMultiplier());
         EXPECT_EQ(a.Timeouts().WriteTotalConstant(), b.Timeouts().WriteTotalConstant());
         EXPECT_EQ(a.Timeouts().WriteTotalMultiplier(), b.Timeouts().WriteTotalMultiplier());
     }},
    {pgFlowDetail,
     [](const TCustomComPort& a, const TCustomComPort& b) {
         const TComFlowControl &x = a.FlowControl(), &y = b.FlowControl();
         EXPECT_EQ(x.ControlRTS(), y.ControlRTS());
         EXPECT_EQ(x.ControlDTR(), y.ControlDTR());
         EXPECT_EQ(x.DSRSensitivity(), y.DSRSensitivity());
         EXPECT_EQ(x.OutCTSFlow(), y.OutCTSFlow());
         EXPECT_EQ(x.OutDSRFlow(), y.OutDSRFlow());
         EXPECT_EQ(x.TxContinueOnXoff(), y.TxContinueOnXoff());
         EXPECT_EQ(x.XonXoffIn(), y.XonXoffIn());
         EXPECT_EQ(x.XonXoffOut(), y.XonXoffOut());
         EXPECT_EQ(x.XonChar(), y.XonChar());
         EXPECT_EQ(x.XoffChar(), y.XoffChar());
     }},
};

} // namespace

TEST(ComSettings, EveryGroupRoundTripsThroughBothStores) {
    for (SettingsStoreKind kind : {RegistryStore, IniFileStore}) {
        for (const GroupCheck& check : groupChecks) {
            SCOPED_TRACE(testing::Message() << "store " << kind << " group " << check.group);
            TempConfigHome home;
            const QString where =
                kind == RegistryStore ? kLocation : home.path() + QStringLiteral("/port.ini");
            TComPort saved;
            saved.SetPersistGroups({check.group});
            changeEverything(saved);
            saved.SaveSettings(kind, where);
            TComPort restored;
            restored.SetPersistGroups({check.group});
            restored.RestoreSettings(kind, where);
            check.same(restored, saved);
            // Groups that were not selected keep their defaults (the flow preset of pgLine and the flow
            // details describe the same fields, so they are not independent).
            TComPort fresh;
            const auto flowPair = [](TPersistGroup g) { return g == pgLine || g == pgFlowDetail; };
            for (const GroupCheck& other : groupChecks)
                if (other.group != check.group && !(flowPair(check.group) && flowPair(other.group)))
                    other.same(restored, fresh);
        }
    }
}

TEST(ComSettings, RegistryValuesHaveTheirTextForms) {
    TempConfigHome home;
    TComPort port;
    port.SaveSettings(RegistryStore, kLocation);
    const QByteArray text = readWholeFile(portKeyFile(home));
    for (const char* line : {"\"Port\"=\"COM1\"", "\"BaudRate\"=\"9600\"", "\"StopBits\"=\"1\"",
                             "\"DataBits\"=\"8\"", "\"Parity\"=\"None\"", "\"FlowControl\"=\"None\""})
        EXPECT_TRUE(text.contains(line)) << line << "\n" << text.constData();
    EXPECT_FALSE(text.contains("CustomBaudRate"));

    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(300000);
    port.SaveSettings(RegistryStore, kLocation);
    EXPECT_TRUE(readWholeFile(portKeyFile(home)).contains("\"CustomBaudRate\"=dword:000493e0"));
}

TEST(ComSettings, RegistryLocationRules) {
    struct Case {
        QString location;
        QString folder; // below the registry root; empty: no key at all
    };
    const std::vector<Case> cases = {
        {kLocation, QStringLiteral("HKEY_CURRENT_USER/HKEY_LOCAL_MACHINE/Software/HexFileOpenSet/ComPort")},
        {QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\X"),
         QStringLiteral("HKEY_LOCAL_MACHINE/Software/X/ComPort")},
        {QStringLiteral("hkey_current_user\\A\\"), QStringLiteral("HKEY_CURRENT_USER/A/ComPort")},
        {QStringLiteral("Somewhere\\B"), QStringLiteral("HKEY_CURRENT_USER/B/ComPort")},
        {QStringLiteral("NoBackslash"), QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location.toStdString());
        TempConfigHome home;
        TComPort port;
        if (c.folder.isEmpty()) {
            try {
                port.SaveSettings(RegistryStore, c.location);
                ADD_FAILURE() << "saving without a key succeeded";
            } catch (const EComPort& e) {
                EXPECT_EQ(e.PortErrorCode(), 16);
                EXPECT_EQ(e.Message(), QStringLiteral("Failed to store settings"));
            }
            port.RestoreSettings(RegistryStore, c.location); // strings read as empty texts
            EXPECT_EQ(port.Port(), QString());
            EXPECT_EQ(port.BaudRate(), br9600);
            continue;
        }
        port.SaveSettings(RegistryStore, c.location);
        EXPECT_TRUE(
            QFile::exists(home.registry() + QLatin1Char('/') + c.folder + QStringLiteral("/values.reg")));
    }
}

TEST(ComSettings, MissingRegistryValuesGiveTheFallbacks) {
    TempConfigHome home;
    writeWholeFile(portKeyFile(home), "\"BaudRate\"=\"CUSTOM\"\n\"CustomBaudRate\"=dword:00000100\n");
    TComPort port;
    port.FlowControl().SetControlRTS(rtsToggle); // a detail no preset describes
    port.RestoreSettings(RegistryStore, kLocation);
    EXPECT_EQ(port.Port(), QString());
    EXPECT_EQ(port.BaudRate(), brCustom);
    EXPECT_EQ(port.CustomBaudRate(), 256);
    EXPECT_EQ(port.FlowControl().ControlRTS(), rtsToggle); // "Custom" leaves the details alone

    // A missing integer fails the load; what was read before stays in force.
    writeWholeFile(portKeyFile(home), "\"Port\"=\"ttyACM0\"\n\"BaudRate\"=\"Custom\"\n");
    TComPort other;
    try {
        other.RestoreSettings(RegistryStore, kLocation);
        ADD_FAILURE() << "no failure";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.PortErrorCode(), 17);
        EXPECT_EQ(e.SystemErrorCode(), -1);
        EXPECT_EQ(e.Message(), QStringLiteral("Failed to load settings"));
    }
    EXPECT_EQ(other.Port(), QStringLiteral("ttyACM0"));
    EXPECT_EQ(other.BaudRate(), brCustom);
}

TEST(ComSettings, MissingIniKeysKeepThePresentValues) {
    TempConfigHome home;
    const QString ini = home.path() + QStringLiteral("/p.ini");
    writeWholeFile(ini, "[ComPort]\nBaudRate=custom\nParity=odd\n");
    TComPort port;
    port.SetPort(QStringLiteral("COM7"));
    port.SetStopBits(sbTwoStopBits);
    port.SetCustomBaudRate(1234);
    port.RestoreSettings(IniFileStore, ini);
    EXPECT_EQ(port.Port(), QStringLiteral("COM7"));
    EXPECT_EQ(port.StopBits(), sbTwoStopBits);
    EXPECT_EQ(port.BaudRate(), brCustom);
    EXPECT_EQ(port.CustomBaudRate(), 9600); // the one key whose default is not the present value
    EXPECT_EQ(port.Parity().Bits(), prOdd);
}

TEST(ComTextForms, NamesAndParsers) {
    struct Row {
        QString text;
        std::function<int(const QString&)> parse;
        int expected;
    };
    const auto baud = [](const QString& t) { return int(ParseBaudRate(t)); };
    const auto stop = [](const QString& t) { return int(ParseStopBits(t)); };
    const auto data = [](const QString& t) { return int(ParseDataBits(t)); };
    const auto parity = [](const QString& t) { return int(ParseParity(t)); };
    const auto flow = [](const QString& t) { return int(ParseFlowControl(t)); };
    const auto dtr = [](const QString& t) { return int(ParseDtrMode(t)); };
    const auto rts = [](const QString& t) { return int(ParseRtsMode(t)); };
    const auto yes = [](const QString& t) { return int(ParseYesNo(t)); };
    const auto chr = [](const QString& t) { return int(ParseCharName(t)); };
    const std::vector<Row> rows = {
        {"custom", baud, brCustom},
        {"CUSTOM", baud, brCustom},
        {"256000", baud, br256000},
        {"9601", baud, br9600},
        {"", baud, br9600},
        {"110", baud, br110},
        {"1.5", stop, sbOne5StopBits},
        {"3", stop, sbOneStopBit},
        {"5", data, dbFive},
        {"9", data, dbEight},
        {"space", parity, prSpace},
        {"bogus", parity, prNone},
        {"hardware", flow, fcHardware},
        {"", flow, fcCustom},
        {"none", flow, fcNone},
        {"HANDSHAKE", dtr, dtrHandshake},
        {"", dtr, dtrDisable},
        {"toggle", rts, rtsToggle},
        {"x", rts, rtsDisable},
        {"yes", yes, 1},
        {"Y", yes, 0},
        {"", yes, 0},
        {"", chr, 0},
        {"#", chr, 35},
        {"#x", chr, 0},
        {"#300", chr, 44},
        {"#13", chr, 13},
        {"A", chr, 65},
        {"Abc", chr, 65},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.parse(r.text), r.expected) << r.text.toStdString();

    for (int v = 0; v < 256; ++v)
        EXPECT_EQ(ParseCharName(CharName(static_cast<unsigned char>(v))), v);
    EXPECT_EQ(CharName(13), QStringLiteral("#13"));
    EXPECT_EQ(CharName(65), QStringLiteral("A"));
    EXPECT_EQ(CharName(127), QString(QChar(127)));
    EXPECT_EQ(CharName(200), QStringLiteral("#200"));
    EXPECT_EQ(CharName(32), QStringLiteral("#32"));
    EXPECT_EQ(BaudRateNames().size(), 16);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(ParseBaudRate(BaudRateName(TBaudRate(i))), TBaudRate(i));
    EXPECT_EQ(FlowControlNames(), (QStringList{"Hardware", "Software", "None", "Custom"}));
    EXPECT_EQ(YesNoName(true), QStringLiteral("Yes"));
    EXPECT_EQ(StopBitsNames(), (QStringList{"1", "1.5", "2"}));
}

TEST(ComPortList, SortedIgnoringCaseAndOnlyNamesThePortAccepts) {
    QStringList names{"COM2", "ttyUSB0", "COM10", "ttyACM1", "com3"};
    SortSerialPortNames(names);
    EXPECT_EQ(names, (QStringList{"COM10", "COM2", "com3", "ttyACM1", "ttyUSB0"}));

    QStringList found{"stale"};
    ListSerialPorts(found); // this machine's ports, possibly none
    EXPECT_FALSE(found.contains(QStringLiteral("stale")));
    for (const QString& name : found) {
        if (name.startsWith(QLatin1String("COM"))) continue; // COMn means /dev/ttyS<n-1>
        EXPECT_TRUE(QFile::exists(QStringLiteral("/dev/") + name)) << name.toStdString();
    }
}
