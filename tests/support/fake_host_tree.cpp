#include "support/fake_host_tree.h"

#include <system_error>

namespace tavrel::testing {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& file, const std::string& text)
{
    fs::create_directories(file.parent_path());
    WriteWholeFile(file, text);
}

void Link(const fs::path& link, const fs::path& target)
{
    fs::create_directories(link.parent_path());
    fs::create_directory_symlink(target, link);
}

void RemoveIfEmpty(const fs::path& folder)
{
    std::error_code error;
    if (fs::is_empty(folder, error) && !error) {
        fs::remove(folder, error);
    }
}

}  // namespace

FakeHostTree::FakeHostTree()
{
    fs::create_directories(classTty());
    fs::create_directories(dev());
}

fs::path FakeHostTree::AddTty(const std::string& name, const fs::path& deviceFolder, bool hasDevice)
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

fs::path FakeHostTree::AddUsbDevice(const fs::path& usbDevice, const std::string& product)
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

void FakeHostTree::AddByIdLink(const std::string& name, const fs::path& target)
{
    Link(byId() / name, target);
}

fs::path FakeHostTree::UsbDeviceOf(const UsbReceiver& receiver)
{
    return fs::path("pci0000:00") / "0000:00:14.0" / "usb1" / ("1-" + receiver.kernelName);
}

fs::path FakeHostTree::PlugIn(const UsbReceiver& receiver)
{
    const fs::path interface = AddUsbDevice(UsbDeviceOf(receiver), receiver.product);
    AddTty(receiver.kernelName, interface / receiver.kernelName);
    AddByIdLink(receiver.byId, fs::path("..") / ".." / receiver.kernelName);
    return byId() / receiver.byId;
}

void FakeHostTree::PullOut(const UsbReceiver& receiver)
{
    fs::remove(dev() / receiver.kernelName);
    fs::remove(classTty() / receiver.kernelName);
    fs::remove_all(sys() / "devices" / UsbDeviceOf(receiver));
    fs::remove(byId() / receiver.byId);
    RemoveIfEmpty(byId());
    RemoveIfEmpty(dev() / "serial");
}

}  // namespace tavrel::testing
