#include "cliargs.h"
#include "portopenerror.h"
#include "portscan.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(CliArgs, ChipLockAndFillTakeTheirDocumentedForms) {
    EXPECT_EQ(parseChip("AT89S52"), 6);
    EXPECT_EQ(parseChip("at89c2051"), 0);
    EXPECT_EQ(parseChip("7"), 7);
    for (const char* bad : {"8", "-1", "", "07", "AT89", "89S52", "1.0"})
        EXPECT_EQ(parseChip(bad), std::nullopt) << bad;
    EXPECT_EQ(parseLock("none"), 0);
    EXPECT_EQ(parseLock("0"), 0);
    EXPECT_EQ(parseLock("lb3"), 3);
    EXPECT_EQ(parseLock("LB1"), 1);
    for (const char* bad : {"LB0", "4", "lb", "", "-1"})
        EXPECT_EQ(parseLock(bad), std::nullopt) << bad;
    EXPECT_EQ(parseFill("ff"), 0xFF);
    EXPECT_EQ(parseFill("00"), 0);
    EXPECT_EQ(parseFill("0"), std::nullopt);
    EXPECT_EQ(parseBaud("9600"), 9600);
    EXPECT_EQ(parseBaud("250000"), 250000);
    EXPECT_EQ(parseBaud("50"), 50);
    for (const char* bad : {"49", "0", "-9600", "9600.0", "09600", "4000001", "fast", "", "1e5"})
        EXPECT_EQ(parseBaud(bad), std::nullopt) << bad;
    EXPECT_EQ(parseCommandLine({"--baud", "19200", "probe"}).options.baud, 19200);
    EXPECT_FALSE(parseCommandLine({"--baud=9k6", "probe"}).ok());
}

TEST(CliArgs, OptionsMayFollowTheCommandAndDoubleDashEndsThem) {
    ParsedCommandLine p = parseCommandLine({"program", "--chip=AT89C4051", "-q", "--", "-image.hex"});
    ASSERT_TRUE(p.ok()) << p.error.toStdString();
    EXPECT_EQ(p.options.command, "program");
    EXPECT_EQ(p.options.arguments, QStringList{"-image.hex"});
    EXPECT_EQ(p.options.chip, 1);
    EXPECT_TRUE(p.options.quiet);
    EXPECT_TRUE(p.options.ports.isEmpty()) << "no option means the saved setting";

    p = parseCommandLine({"--port", "ttyUSB0", "--help"});
    EXPECT_TRUE(p.ok());
    EXPECT_TRUE(p.options.help);
    EXPECT_FALSE(parseCommandLine({"--port=", "erase"}).ok());
}

TEST(CliArgs, SeveralPortsRepeatAndLogGoWithTheProgrammerCommands) {
    ParsedCommandLine p = parseCommandLine(
        {"--port", "ttyUSB0", "auto", "fw.hex", "--port=ttyUSB1", "--repeat", "--log", "chips.log"});
    ASSERT_TRUE(p.ok()) << p.error.toStdString();
    EXPECT_EQ(p.options.ports, (QStringList{"ttyUSB0", "ttyUSB1"})) << "in the order given";
    EXPECT_TRUE(p.options.repeat);
    EXPECT_EQ(p.options.log, QString("chips.log"));
    EXPECT_TRUE(parseCommandLine({"--port", "a", "--port", "b", "read", "out.hex"}).ok());
    EXPECT_TRUE(parseCommandLine({"--port", "a", "chips"}).ok()) << "one port goes with anything, as before";

    const struct {
        QStringList arguments;
        const char* error;
    } refused[] = {
        {{"--port", "a", "--port", "a", "erase"}, "given twice"},
        {{"--port", "a", "--port", "b", "convert", "x.hex", "y.bin"}, "one --port at most"},
        {{"--port", "a", "--port", "b", "read", "-"}, "a file per port"},
        {{"--repeat", "read", "out.hex"}, "--repeat goes with"},
        {{"--repeat", "chips"}, "--repeat goes with"},
        {{"--repeat", "program", "-"}, "standard input"},
        {{"--log", "x.log", "convert", "a.hex", "b.bin"}, "--log goes with"},
        {{"--log=", "erase"}, "--log needs"},
    };
    for (const auto& c : refused) {
        const ParsedCommandLine r = parseCommandLine(c.arguments);
        EXPECT_TRUE(r.error.contains(c.error))
            << c.arguments.join(' ').toStdString() << ": " << r.error.toStdString();
    }
}

TEST(CliArgs, ALoneDashIsAWordAndFormatAndTraceTakeValues) {
    ParsedCommandLine p = parseCommandLine({"convert", "-", "-", "--format", "BIN", "--trace=-"});
    ASSERT_TRUE(p.ok()) << p.error.toStdString();
    EXPECT_EQ(p.options.arguments, (QStringList{"-", "-"}));
    EXPECT_EQ(p.options.format, SaveFormat::Binary);
    EXPECT_EQ(p.options.trace, QString("-"));
    EXPECT_EQ(parseCommandLine({"--format=hex", "read", "-"}).options.format, SaveFormat::Hex);
    EXPECT_FALSE(parseCommandLine({"--format", "ihx", "read", "-"}).ok());
    EXPECT_FALSE(parseCommandLine({"--trace=", "erase"}).ok());
    EXPECT_FALSE(parseCommandLine({"erase", "--trace"}).ok());
}

TEST(CliArgs, ProbeGoesWithPortsAndTakesAnyNumberOfNames) {
    ParsedCommandLine p = parseCommandLine({"ports", "--probe", "/dev/pts/1", "ttyUSB0"});
    ASSERT_TRUE(p.ok()) << p.error.toStdString();
    EXPECT_TRUE(p.options.probe);
    EXPECT_EQ(p.options.arguments, (QStringList{"/dev/pts/1", "ttyUSB0"}));
    EXPECT_TRUE(parseCommandLine({"--probe", "ports"}).ok());
    EXPECT_FALSE(parseCommandLine({"ports", "ttyUSB0"}).ok()) << "names only with --probe";
    EXPECT_FALSE(parseCommandLine({"--probe", "erase"}).ok());
}

TEST(PortsReport, EachLineStartsWithThePortNameThenWhatIsBehindIt) {
    platform::SerialPortDetails usb;
    usb.name = "ttyUSB0";
    usb.vendorId = "0403";
    usb.productId = "6001";
    usb.manufacturer = "FTDI";
    usb.product = "FT232R USB UART";
    usb.serial = "A600XYZ";
    usb.byId = {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A600XYZ-if00-port0"};
    EXPECT_EQ(portLine(usb), "ttyUSB0  usb 0403:6001  FTDI  FT232R USB UART  serial A600XYZ  "
                             "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A600XYZ-if00-port0");
    // A COMn name shows the device it stands for; other names are their paths already.
    for (const auto& [name, line] : std::vector<std::pair<std::string, QString>>{
             {"COM1", "COM1  /dev/ttyS0"}, {"COM12", "COM12  /dev/ttyS11"}, {"ttyACM0", "ttyACM0"},
             {"/dev/pts/3", "/dev/pts/3"}, {"./sim-link", "./sim-link"}}) {
        platform::SerialPortDetails port;
        port.name = name;
        EXPECT_EQ(portLine(port), line);
    }

    EXPECT_EQ(outcomeOfOpenError(EBUSY), ProbeOutcome::Busy);
    EXPECT_EQ(outcomeOfOpenError(EACCES), ProbeOutcome::NotPermitted);
    EXPECT_EQ(outcomeOfOpenError(EPERM), ProbeOutcome::NotPermitted);
    EXPECT_EQ(outcomeOfOpenError(ENOENT), ProbeOutcome::Failed);
    EXPECT_EQ(probeLine({"COM1", ProbeOutcome::Refused, {}, "the kernel's console"}, 4),
              "COM1  not probed: the kernel's console");
    ProbeResult denied{"ttyS0", ProbeOutcome::NotPermitted, {}, "Permission denied"};
    EXPECT_EQ(probeLine(denied, 7),
              "ttyS0    not permitted (Permission denied; is the user in the dialout group?)");
}

TEST(PortOpenError, NamesThePortTheDeviceTheReasonAndTheCure) {
    const QString denied = portOpenErrorText("COM1", "/dev/ttyS0", EACCES, "Unable to open com port");
    EXPECT_TRUE(
        denied.startsWith("chipwright-cli: cannot open the port COM1 (/dev/ttyS0): Permission denied"))
        << denied.toStdString();
    EXPECT_TRUE(denied.contains("dialout")) << denied.toStdString();
    EXPECT_TRUE(portOpenErrorText("ttyUSB0", "/dev/ttyUSB0", EBUSY, {}).contains("another program"));
    EXPECT_FALSE(portOpenErrorText("/dev/x", "/dev/x", EIO, {}).contains("dialout"));
    EXPECT_TRUE(portOpenErrorText("/dev/x", "/dev/x", -1, "Unable to open com port")
                    .contains("Unable to open com port"));
}

} // namespace
