// The serial device details on a fake device tree laid out as the kernel and udev lay out the real one.
#include "platform/portdetails.h"
#include "platform/portlist.h"
#include "support/tempconfig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class FakeDeviceTree {
public:
    FakeDeviceTree() { EXPECT_TRUE(dir_.isValid()); }

    platform::DeviceTreeRoots roots() const { return {path("sys").toStdString(), path("dev").toStdString()}; }

    void file(const QString& relative, const QByteArray& content = {}) {
        QDir().mkpath(QFileInfo(path(relative)).path());
        writeWholeFile(path(relative), content);
    }
    void link(const QString& relative, const QString& target) {
        QDir().mkpath(QFileInfo(path(relative)).path());
        EXPECT_TRUE(QFile::link(target, path(relative))) << relative.toStdString();
    }
    // A tty below device folder (relative to sys/devices), with its /dev node.
    void tty(const QString& name, const QString& deviceFolder, bool node = true) {
        const QString device = "sys/devices/" + deviceFolder;
        QDir().mkpath(path(device + "/tty/" + name));
        link("sys/class/tty/" + name + "/device", path(device));
        if (node) file("dev/" + name);
    }
    // USB attributes, one line each with a line end, as sysfs gives them.
    void usb(const QString& deviceFolder, const std::map<QString, QByteArray>& attributes) {
        for (const auto& [name, value] : attributes)
            file("sys/devices/" + deviceFolder + "/" + name, value + "\n");
    }

private:
    QString path(const QString& relative) const { return dir_.filePath(relative); }
    QTemporaryDir dir_;
};

TEST(PortDetails, UsbIdsNamesSerialAndByIdLinksOfEachListedDevice) {
    FakeDeviceTree t;
    const QString ftdi = "pci0000:00/0000:00:14.0/usb1/1-2";
    t.usb(ftdi, {{"idVendor", "0403"},
                 {"idProduct", "6001"},
                 {"manufacturer", "FTDI"},
                 {"product", "FT232R USB UART"},
                 {"serial", "A600XYZ"}});
    t.tty("ttyUSB0", ftdi + "/1-2:1.0/ttyUSB0");
    // A CDC device whose product and serial the kernel does not know.
    const QString acm = "pci0000:00/0000:00:14.0/usb1/1-3";
    t.usb(acm, {{"idVendor", "2341"}, {"idProduct", "0043"}, {"manufacturer", "Arduino (www.arduino.cc)"}});
    t.tty("ttyACM0", acm + "/1-3:1.0");
    // A UART on the mainboard, a placeholder without hardware, a virtual terminal and a vanished device.
    t.tty("ttyS0", "platform/serial8250/tty/ttyS0-port");
    t.file("sys/class/tty/ttyS0/type", "4\n");
    t.tty("ttyS1", "platform/serial8250/tty/ttyS1-port");
    t.file("sys/class/tty/ttyS1/type", "0\n");
    t.file("sys/class/tty/tty1/dev", "4:1\n");
    t.tty("ttyUSB1", ftdi + "/1-2:1.1/ttyUSB1", false);
    t.link("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A600XYZ-if00-port0", "../../ttyUSB0");
    t.link("dev/serial/by-id/usb-Arduino__www.arduino.cc__0043-if00", "../../ttyACM0");

    std::vector<platform::SerialPortDetails> ports;
    ASSERT_EQ(platform::listSerialPortDetails(ports, t.roots()), 0);
    std::sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    ASSERT_EQ(ports.size(), 3u);

    EXPECT_EQ(ports[0].name, "COM1");
    EXPECT_EQ(ports[0].tty, "ttyS0");
    EXPECT_EQ(ports[0].vendorId, "");
    EXPECT_TRUE(ports[0].byId.empty());

    EXPECT_EQ(ports[1].name, "ttyACM0");
    EXPECT_EQ(ports[1].vendorId, "2341");
    EXPECT_EQ(ports[1].productId, "0043");
    EXPECT_EQ(ports[1].manufacturer, "Arduino (www.arduino.cc)");
    EXPECT_EQ(ports[1].product, "");
    EXPECT_EQ(ports[1].serial, "");
    ASSERT_EQ(ports[1].byId.size(), 1u);
    EXPECT_TRUE(QString::fromStdString(ports[1].byId[0])
                    .endsWith("/dev/serial/by-id/usb-Arduino__www.arduino.cc__0043-if00"));

    EXPECT_EQ(ports[2].name, "ttyUSB0");
    EXPECT_EQ(ports[2].vendorId, "0403");
    EXPECT_EQ(ports[2].productId, "6001");
    EXPECT_EQ(ports[2].manufacturer, "FTDI");
    EXPECT_EQ(ports[2].product, "FT232R USB UART");
    EXPECT_EQ(ports[2].serial, "A600XYZ");
    ASSERT_EQ(ports[2].byId.size(), 1u);
    EXPECT_EQ(ports[2].byId[0], t.roots().dev + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A600XYZ-if00-port0");
}

TEST(PortDetails, NoDeviceListIsAnErrorAndNoByIdFolderIsNone) {
    FakeDeviceTree t;
    std::vector<platform::SerialPortDetails> ports;
    EXPECT_NE(platform::listSerialPortDetails(ports, t.roots()), 0) << "no sys/class/tty";
    t.tty("ttyUSB0", "usb1/1-1/1-1:1.0");
    ASSERT_EQ(platform::listSerialPortDetails(ports, t.roots()), 0);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_TRUE(ports[0].byId.empty());
    EXPECT_EQ(ports[0].vendorId, "") << "no USB attributes anywhere above it";
}

// ports --probe writes to no console the kernel uses and to no placeholder port, whatever name reaches it.
TEST(ProbeRefusal, TheKernelsConsolesAndPlaceholderPortsAreNeverWrittenTo) {
    FakeDeviceTree t;
    t.tty("ttyS0", "platform/serial8250/tty/ttyS0-port");
    t.file("sys/class/tty/ttyS0/type", "4\n");
    t.tty("ttyS1", "platform/serial8250/tty/ttyS1-port");
    t.file("sys/class/tty/ttyS1/type", "0\n");
    t.tty("ttyS2", "platform/serial8250/tty/ttyS2-port");
    t.file("sys/class/tty/ttyS2/type", "4\n");
    t.tty("ttyUSB0", "usb1/1-1/1-1:1.0");
    t.file("sys/class/tty/console/active", "tty0 ttyS2\n");
    for (const char* node : {"console", "tty", "tty0", "tty12", "pts/3"})
        t.file(QStringLiteral("dev/") + node);
    t.link("dev/serial/by-id/console-uart", "../../ttyS2");
    const std::string dev = t.roots().dev;
    const std::string console = "the kernel's console";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/console", console},
        {"/tty", console},
        {"/tty0", console},
        {"/tty12", console},
        {"/ttyS2", console},                          // the active console is a serial port
        {"/serial/by-id/console-uart", console},      // the same through a link
        {"/ttyS1", "no hardware behind it"},
        {"/ttyS0", ""},
        {"/ttyUSB0", ""},
        {"/pts/3", ""},
        {"/ttyS9", ""}, // no such device: the open says so
    };
    for (const auto& [node, refusal] : cases)
        EXPECT_EQ(platform::probeRefusal(dev + node, t.roots().sys, dev), refusal) << node;
    EXPECT_EQ(platform::probeRefusal("/elsewhere/tty0", t.roots().sys, dev), "") << "not below the device folder";
}

} // namespace
