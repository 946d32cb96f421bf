#pragma once

#include <string>
#include <vector>

namespace platform {

// What stands behind a serial device, as far as the kernel knows it. USB fields are empty for other devices.
struct SerialPortDetails {
    std::string name;      // the name a port accepts: COM<n+1> for ttyS<n>, else the name below /dev
    std::string tty;       // the kernel's name: ttyUSB0, ttyS0
    std::string vendorId;  // four hex digits, as the kernel gives them ("0403")
    std::string productId; // ("6001")
    std::string manufacturer;
    std::string product;
    std::string serial;
    // The stable names udev made for it: /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A600-if00-port0.
    std::vector<std::string> byId;
};

// Where the machine's device tree is; tests lay out a fake one.
struct DeviceTreeRoots {
    std::string sys = "/sys";
    std::string dev = "/dev";
};

// The details of the serial devices that listSerialDevices lists (the same devices, the same names),
// read from sysfs (the USB device above the tty: idVendor, idProduct, manufacturer, product, serial) and from
// the symbolic links in /dev/serial/by-id. Unsorted. Returns 0, or an errno when the device list cannot be
// read at all; a missing by-id folder or attribute only leaves that field empty.
int listSerialPortDetails(std::vector<SerialPortDetails>& ports, const DeviceTreeRoots& roots = {});

} // namespace platform
