// Another process of a device, for the tests of what processes share. It
// boots the device whose root it is given, answers "ready <pid>", then runs
// one command per line from stdin and answers each on stdout:
//
//   mutex <name hex>               -> mutex <handle ok 0|1> <last error>   (held until "close")
//   close                          -> closed
//   publish <local>:<order>:<title hex> ...   -> published
//   windows                        -> windows <hwnd hex>:<order>:<title hex> ...
//   receive                        -> receiving <0|1>; then "post <hwnd hex> <msg> <wParam> <lParam>" per post
//   post <hwnd hex> <msg> <wParam> <lParam>   -> posted <0|1>
//   leave                          -> left
//
// Names and titles travel as hex of their UTF-16 units. End of input shuts down.
#include <unistd.h>

#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/boot.h"
#include "platform/kernel.h"
#include "platform/user.h"
#include "session/device_session.h"
#include "session/run_files.h"

namespace {

using namespace platform::session;

std::mutex outputLock;

void Answer(const std::string& line)
{
    std::lock_guard guard(outputLock);
    std::cout << line << std::endl;
}

std::vector<HANDLE> heldMutexes;

void HoldMutex(std::istringstream& arguments)
{
    std::string hex;
    arguments >> hex;
    const std::u16string name = UnitsOfHex(hex).value_or(u"");
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    const DWORD error = GetLastError();
    heldMutexes.push_back(mutex);
    Answer("mutex " + std::to_string(mutex != nullptr) + " " + std::to_string(error));
}

void CloseMutexes()
{
    for (HANDLE mutex : heldMutexes) {
        CloseHandle(mutex);
    }
    heldMutexes.clear();
    Answer("closed");
}

void Publish(std::istringstream& arguments)
{
    std::vector<PublishedWindow> windows;
    std::string item;
    while (arguments >> item) {
        const auto first = item.find(':');
        const auto second = item.find(':', first + 1);
        const auto local = static_cast<std::uint32_t>(std::stoul(item.substr(0, first)));
        windows.push_back({MakeWindowHandle(static_cast<std::uint32_t>(::getpid()), local),
                           UnitsOfHex(item.substr(second + 1)).value_or(u""),
                           std::stoull(item.substr(first + 1, second - first - 1))});
    }
    PublishWindows(windows);
    Answer("published");
}

void ListWindows()
{
    std::ostringstream text;
    text << "windows";
    for (const PublishedWindow& window : OtherProcessesWindows()) {
        text << " " << std::hex << reinterpret_cast<ULONG_PTR>(window.handle) << std::dec << ":" << window.order << ":"
             << HexOfUnits(window.title);
    }
    Answer(text.str());
}

std::string DescribePost(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::ostringstream text;
    text << "post " << std::hex << reinterpret_cast<ULONG_PTR>(window) << std::dec << " " << message << " " << wParam
         << " " << lParam;
    return text.str();
}

void Post(std::istringstream& arguments)
{
    ULONG_PTR window = 0;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    arguments >> std::hex >> window >> std::dec >> message >> wParam >> lParam;
    const bool posted = PostToOtherProcess(reinterpret_cast<HWND>(window), message, wParam, lParam);
    Answer("posted " + std::to_string(posted));
}

void Run(const std::string& line)
{
    std::istringstream arguments(line);
    std::string command;
    arguments >> command;
    if (command == "mutex") {
        HoldMutex(arguments);
    } else if (command == "close") {
        CloseMutexes();
    } else if (command == "publish") {
        Publish(arguments);
    } else if (command == "windows") {
        ListWindows();
    } else if (command == "receive") {
        const bool receiving =
            ReceivePostsFromOtherProcesses([](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
                Answer(DescribePost(window, message, wParam, lParam));
            });
        Answer("receiving " + std::to_string(receiving));
    } else if (command == "post") {
        Post(arguments);
    } else if (command == "leave") {
        LeaveDeviceSession();
        Answer("left");
    } else {
        Answer("unknown " + command);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        return 2;
    }
    platform::DeviceSettings settings;
    settings.deviceRoot = argv[1];
    settings.syncHostSerialPorts = false;
    platform::BootDevice(settings);
    Answer("ready " + std::to_string(::getpid()));
    for (std::string line; std::getline(std::cin, line);) {
        Run(line);
    }
    CloseMutexes();
    platform::ShutdownDevice();
    return 0;
}
