// The host serial port scan over fake /sys and /dev trees laid out as the
// kernel and udev lay them out.
#include <gtest/gtest.h>

#include <fstream>

#include "drivers/serial/host_serial_ports.h"
#include "testkit/temp_folder.h"

namespace tavrel::testing {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& file, const std::string& text)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

void Link(const fs::path& link, const fs::path& target)
{
    fs::create_directories(link.parent_path());
    fs::create_directory_symlink(target, link);
}

class FakeHost {
public:
    FakeHost() { fs::create_directories(classTty()); }

    fs::path sys() const { return root_.path() / "sys"; }
    fs::path dev() const { return root_.path() / "dev"; }
    fs::path classTty() const { return sys() / "class" / "tty"; }

    // A tty under `deviceFolder` (relative to sys/devices), with its class
    // link and, unless it is virtual, its device link.
    fs::path AddTty(const std::string& name, const fs::path& deviceFolder, bool hasDevice = true)
    {
        const fs::path ttyFolder = sys() / "devices" / deviceFolder / "tty" / name;
        WriteFile(ttyFolder / "dev", "4:64\n");
        if (hasDevice) {
            Link(ttyFolder / "device", "../..");
        }
        Link(classTty() / name, fs::relative(ttyFolder, classTty()));
        WriteFile(dev() / name, "");
        return ttyFolder;
    }

    // A USB device with its interface; returns the interface folder.
    fs::path AddUsbDevice(const fs::path& usbDevice, const std::string& product)
    {
        const fs::path folder = sys() / "devices" / usbDevice;
        WriteFile(folder / "idVendor", "0403\n");
        WriteFile(folder / "idProduct", "6001\n");
        WriteFile(folder / "manufacturer", "FTDI\n");
        if (!product.empty()) {
            WriteFile(folder / "product", product + "\n");
        }
        return usbDevice / (usbDevice.filename().string() + ":1.0");
    }

    void AddByIdLink(const std::string& name, const fs::path& target)
    {
        Link(dev() / "serial" / "by-id" / name, target);
    }

private:
    TempFolder root_;
};

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
    FakeHost host;
    const fs::path ftdi = host.AddUsbDevice("pci0000:00/0000:00:14.0/usb1/1-2", "FT232R USB UART");
    host.AddTty("ttyUSB0", ftdi / "ttyUSB0");
    host.AddByIdLink("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../../ttyUSB0");
    host.AddByIdLink("usb-Gone_Adapter-if00-port0", "../../ttyUSB9");   // dangling: unplugged

    const std::string longName(80, 'G');
    const fs::path gps = host.AddUsbDevice("pci0000:00/0000:00:14.0/usb1/1-3", longName + "\x01");
    host.AddTty("ttyACM0", gps);

    const fs::path uart0 = host.AddTty("ttyS0", "pnp0/00:00");
    WriteFile(uart0 / "type", "4\n");
    const fs::path phantom = host.AddTty("ttyS1", "platform/serial8250");
    WriteFile(phantom / "type", "0\n");
    WriteFile(host.AddTty("ttyS10", "platform/serial8250") / "type", "4\n");
    WriteFile(host.AddTty("ttyS2", "pnp0/00:01") / "type", "4\n");
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
    FakeHost host;
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
