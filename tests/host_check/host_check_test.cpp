// Who a serial device is and what stands in its way, on a made-up host: a
// USB receiver plugged in as udev and the kernel lay it out, processes in a
// proc/ of links, udev records, and brltty's program and rules.
#include <gtest/gtest.h>

#include "host_check/serial_device_check.h"
#include "support/fake_host_tree.h"

namespace {

namespace fs = std::filesystem;
using namespace tavrel::host_check;
using tavrel::testing::FakeHostTree;
using tavrel::testing::UsbReceiver;
using tavrel::testing::WriteWholeFile;

const UsbReceiver kReceiver{"ttyUSB0", "FT232R USB UART", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"};
const std::string kIgnoreRule =
    R"(ATTRS{idVendor}=="0403", ATTRS{idProduct}=="6001", ENV{ID_MM_DEVICE_IGNORE}="1")";

void WriteFile(const fs::path& file, const std::string& text)
{
    fs::create_directories(file.parent_path());
    WriteWholeFile(file, text);
}

class HostCheckTest : public ::testing::Test {
protected:
    fs::path PlugIn()
    {
        const fs::path link = host_.PlugIn(kReceiver);
        const fs::path device = fs::canonical(host_.classTty() / kReceiver.kernelName / "device");
        WriteFile(device.parent_path().parent_path() / "serial", "A50285BI\n");
        fs::create_directories(host_.sys() / "bus/usb-serial/drivers/ftdi_sio");
        fs::create_directory_symlink(host_.sys() / "bus/usb-serial/drivers/ftdi_sio", device / "driver");
        return link;
    }
    std::string Node() const { return fs::canonical(host_.dev() / kReceiver.kernelName).string(); }
    // A process called `name`, with descriptor 3 open on `opened` when given.
    void Run(const std::string& pid, const std::string& name, const std::string& opened = "")
    {
        WriteFile(host_.root() / "proc" / pid / "comm", name + "\n");
        fs::create_directories(host_.root() / "proc" / pid / "fd");
        if (!opened.empty()) {
            fs::create_symlink(opened, host_.root() / "proc" / pid / "fd" / "3");
        }
    }
    std::vector<Obstacle> Obstacles(const std::string& path) const { return FindObstacles(path, Roots()); }
    HostRoots Roots() const { return HostRootsUnder(host_.root()); }

    FakeHostTree host_;
};

TEST_F(HostCheckTest, AUsbReceiverIsKnownThroughItsByIdLinkAndADeviceWithoutSysfsByItsNodeAlone)
{
    const fs::path link = PlugIn();
    const SerialDeviceIdentity receiver = DescribeSerialDevice(link.string(), Roots());
    EXPECT_EQ(receiver.node, Node());
    EXPECT_EQ(receiver.kernelName, "ttyUSB0");
    EXPECT_EQ(receiver.deviceNumber, "4:64");
    EXPECT_EQ(receiver.byIdLinks, std::vector<std::string>{link.string()});
    EXPECT_EQ(receiver.usbVendor + ":" + receiver.usbProduct, "0403:6001");
    EXPECT_EQ(receiver.manufacturer + "|" + receiver.product + "|" + receiver.serialNumber,
              "FTDI|FT232R USB UART|A50285BI");
    EXPECT_EQ(receiver.driver, "ftdi_sio");
    EXPECT_EQ(UdevIgnoreRule(receiver), kIgnoreRule);

    WriteFile(host_.dev() / "pts" / "3", "");
    const SerialDeviceIdentity terminal = DescribeSerialDevice((host_.dev() / "pts" / "3").string(), Roots());
    EXPECT_EQ(terminal.kernelName, "pts/3");
    EXPECT_TRUE(terminal.usbVendor.empty() && terminal.driver.empty() && terminal.byIdLinks.empty());
    EXPECT_TRUE(DescribeSerialDevice((host_.dev() / "ttyUSB7").string(), Roots()).node.empty());
    SerialDeviceIdentity uart;   // no USB identity: the rule names the tty
    uart.kernelName = "ttyS0";
    EXPECT_EQ(UdevIgnoreRule(uart), R"(KERNEL=="ttyS0", ENV{ID_MM_DEVICE_IGNORE}="1")");
    uart.kernelName = "tty\"S0";
    EXPECT_EQ(UdevIgnoreRule(uart), "");
}

TEST_F(HostCheckTest, ModemManagerIsInTheWayUntilTheDevicesUdevRecordTellsItToIgnoreIt)
{
    const fs::path link = PlugIn();
    EXPECT_TRUE(Obstacles(link.string()).empty());
    Run("612", "ModemManager");
    const std::vector<Obstacle> found = Obstacles(link.string());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0].what.find("ModemManager (pid 612)"), std::string::npos) << found[0].what;
    EXPECT_NE(found[0].fix.find("/etc/udev/rules.d/99-tavrel-receiver.rules:\n  " + kIgnoreRule + "\n"),
              std::string::npos) << found[0].fix;
    EXPECT_NE(found[0].fix.find("sudo udevadm control --reload && sudo udevadm trigger"), std::string::npos);

    WriteFile(host_.root() / "run/udev/data/c4:64", "S:serial/by-id/x\nE:ID_MM_DEVICE_IGNORE=1\nE:ID_BUS=usb\n");
    EXPECT_TRUE(Obstacles(link.string()).empty());
    WriteFile(host_.dev() / "pts" / "3", "");   // no modem is probed on a pseudo-terminal
    EXPECT_TRUE(Obstacles((host_.dev() / "pts" / "3").string()).empty());
}

TEST_F(HostCheckTest, BrlttyIsInTheWayOfAUsbAdapterWhenItRunsOrItsUdevRulesCanStartIt)
{
    const fs::path link = PlugIn();
    WriteFile(host_.root() / "usr/bin/brltty", "");
    EXPECT_TRUE(Obstacles(link.string()).empty()) << "installed without udev rules, nothing starts it";
    WriteFile(host_.root() / "usr/lib/udev/rules.d/85-brltty.rules", "");
    std::vector<Obstacle> found = Obstacles(link.string());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0].fix.find("sudo apt remove brltty"), std::string::npos);
    EXPECT_NE(found[0].fix.find("sudo ln -s /dev/null /etc/udev/rules.d/85-brltty.rules && "), std::string::npos);
    // The same when the receiver is gone: brltty may be what took it.
    EXPECT_EQ(Obstacles((host_.dev() / "ttyUSB1").string()).size(), 2u);

    fs::create_directories(host_.root() / "etc/udev/rules.d");
    fs::create_symlink("/dev/null", host_.root() / "etc/udev/rules.d/85-brltty.rules");
    EXPECT_TRUE(Obstacles(link.string()).empty());
    Run("700", "brltty");
    found = Obstacles(link.string());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0].what.find("brltty runs (pid 700)"), std::string::npos) << found[0].what;
}

TEST_F(HostCheckTest, AnotherProgramWithTheDeviceOpenIsNamedButTavrelItselfIsNot)
{
    const fs::path link = PlugIn();
    Run("900", "tavrel", Node());
    Run("901", "bash", (host_.dev() / "ttyS0").string());
    EXPECT_TRUE(Obstacles(link.string()).empty());
    Run("812", "gpsd", Node());
    Run("1200", "minicom", Node());
    const std::vector<Obstacle> found = Obstacles(link.string());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].what, Node() + " is open in gpsd (pid 812), minicom (pid 1200)");
    EXPECT_NE(found[0].fix.find("USBAUTO=\"false\""), std::string::npos) << found[0].fix;
    EXPECT_FALSE(SomeProgramsUnseen(Roots()));
}

TEST_F(HostCheckTest, AMissingDeviceNamesTheByIdLinksThereAre)
{
    std::vector<Obstacle> found = Obstacles((host_.dev() / "ttyUSB0").string());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].what, (host_.dev() / "ttyUSB0").string() + " does not exist");
    EXPECT_NE(found[0].fix.find("no USB serial device is plugged in"), std::string::npos) << found[0].fix;

    const fs::path link = host_.PlugIn({"ttyACM3", "u-blox 7", "usb-u-blox_AG_u-blox_7-if00"});
    found = Obstacles((host_.dev() / "ttyUSB0").string());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0].fix.find("plugged into another port?"), std::string::npos) << found[0].fix;
    EXPECT_NE(found[0].fix.find("\n  " + link.string() + "\n"), std::string::npos) << found[0].fix;
    EXPECT_EQ(Obstacles("").at(0).what, "no device is named");
}

}  // namespace
