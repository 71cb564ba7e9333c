// The host serial port scan over fake /sys and /dev trees laid out as the
// kernel and udev lay them out.
#include <gtest/gtest.h>

#include "drivers/serial/host_serial_ports.h"
#include "support/fake_host_tree.h"
#include "testkit/temp_folder.h"

namespace tavrel::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> KernelNames(const std::vector<platform::HostSerialPort>& ports)
{
    std::vector<std::string> names;
    for (const auto& port : ports) {
        names.push_back(port.kernelName);
    }
    return names;
}

TEST(HostSerialPorts, ListsRealPortsWithStablePathsAndFriendlyNames)
{
    FakeHostTree host;
    const fs::path ftdi = host.AddUsbDevice("pci0000:00/0000:00:14.0/usb1/1-2", "FT232R USB UART");
    host.AddTty("ttyUSB0", ftdi / "ttyUSB0");
    host.AddByIdLink("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../../ttyUSB0");
    host.AddByIdLink("usb-Gone_Adapter-if00-port0", "../../ttyUSB9");   // dangling: unplugged

    const std::string longName(80, 'G');
    const fs::path gps = host.AddUsbDevice("pci0000:00/0000:00:14.0/usb1/1-3", longName + "\x01");
    host.AddTty("ttyACM0", gps);

    const fs::path uart0 = host.AddTty("ttyS0", "pnp0/00:00");
    WriteWholeFile(uart0 / "type", "4\n");
    const fs::path phantom = host.AddTty("ttyS1", "platform/serial8250");
    WriteWholeFile(phantom / "type", "0\n");
    WriteWholeFile(host.AddTty("ttyS10", "platform/serial8250") / "type", "4\n");
    WriteWholeFile(host.AddTty("ttyS2", "pnp0/00:01") / "type", "4\n");
    host.AddTty("console", "virtual", false);
    host.AddTty("tty0", "virtual", false);

    const auto ports = platform::ScanHostSerialPorts(host.dev(), host.sys());
    ASSERT_EQ(KernelNames(ports), (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyS2", "ttyS10", "ttyUSB0"}));

    EXPECT_EQ(ports[0].path, (host.dev() / "ttyACM0").string());
    EXPECT_EQ(ports[0].friendlyName, std::string(60, 'G'));   // cut to 60 characters
    EXPECT_EQ(ports[1].path, (host.dev() / "ttyS0").string());
    EXPECT_EQ(ports[1].friendlyName, "Serial port ttyS0");
    EXPECT_EQ(ports[3].friendlyName, "Serial port ttyS10");
    EXPECT_EQ(ports[4].path,
              (host.dev() / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0").string());
    EXPECT_EQ(ports[4].friendlyName, "FT232R USB UART");
}

TEST(HostSerialPorts, CopesWithMissingFoldersAndOddEntries)
{
    FakeHostTree host;
    // No /dev/serial at all, a USB device without a product name, and a
    // tty whose device link leads nowhere.
    const fs::path usb = host.AddUsbDevice("pci0000:00/usb2/2-1", "");
    host.AddTty("ttyUSB3", usb / "ttyUSB3");
    const fs::path broken = host.AddTty("ttyS4", "pnp0/00:04");
    fs::remove(broken / "device");
    fs::create_directory_symlink("../../nowhere", broken / "device");
    fs::remove(host.dev() / "ttyS4");

    const auto ports = platform::ScanHostSerialPorts(host.dev(), host.sys());
    ASSERT_EQ(KernelNames(ports), (std::vector<std::string>{"ttyS4", "ttyUSB3"}));
    EXPECT_EQ(ports[0].path, (host.dev() / "ttyS4").string());
    EXPECT_EQ(ports[0].friendlyName, "Serial port ttyS4");
    EXPECT_EQ(ports[1].friendlyName, "Serial port ttyUSB3");

    TempFolder empty;
    EXPECT_TRUE(platform::ScanHostSerialPorts(empty.path() / "dev", empty.path() / "sys").empty());
}

}  // namespace
}  // namespace tavrel::testing
