// The program in the test process: its globals as a fresh process has them,
// its device as the installer leaves it, and WinMain on a thread of its own
// (the program's user-interface thread) while the test thread plays the
// person in front of the screen.
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/types.h"
#include "state/setting_table.h"

namespace tavrel::testing {

class TestDevice;

inline constexpr const char16_t* kMainCaption = u"Tavrel V1.20";
inline constexpr const char16_t* kInstallFolder = u"\\Program Files\\Tavrel";

// Every global of the program back to its start value.
void ResetProgramState();

// What the installer leaves on a device: the virtual port driver module in
// kInstallFolder and "InstallPath" naming that folder.
void InstallProgram(TestDevice& device);

// A scripted serial port listed among the built-in drivers as
// "\Drivers\BuiltIn\<name>" with "Index" index, and activated as the boot
// would, so that "COM<index>:" opens it.
void AddScriptedBuiltInPort(const std::u16string& name, DWORD index);

// Registry values, read and written as they are stored.
struct RegistryValue {
    DWORD type = 0;
    std::vector<BYTE> data;
};
std::optional<RegistryValue> ReadValue(HKEY root, const std::u16string& key, const std::u16string& name);
// A value of exactly four bytes as a number.
std::optional<DWORD> ReadNumber(HKEY root, const std::u16string& key, const std::u16string& name);
std::vector<std::u16string> ValueNames(HKEY root, const std::u16string& key);
bool KeyExists(HKEY root, const std::u16string& key);
void WriteValue(HKEY root, const std::u16string& key, const std::u16string& name, DWORD type,
                const std::vector<BYTE>& data);
void WriteNumber(HKEY root, const std::u16string& key, const std::u16string& name, DWORD value);
void WriteText(HKEY root, const std::u16string& key, const std::u16string& name, const std::u16string& text);
std::vector<BYTE> TextBytes(const std::u16string& text);   // with its terminating null

// The per-user settings under kSettingsKey.
void SetUserNumber(const std::u16string& name, DWORD value);
std::optional<DWORD> UserNumber(const std::u16string& name);

// The main window, shown or hidden; null when there is none.
HWND FindMainWindow();
// Top-level windows of this process whose owner is `owner`.
std::vector<HWND> OwnedWindows(HWND owner);

// WinMain(GetModuleHandleW(nullptr), nullptr, u"", SW_SHOW) on its own
// thread. At the end a program that still runs is ended as a signal ends it:
// message boxes answered with OK, windows closed.
class ProgramRun {
public:
    ProgramRun();
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    bool WaitEnded(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    bool Ended() const { return ended_; }
    // WinMain's result; the program must have ended.
    int ExitCode();

private:
    void EndForGood();

    std::atomic<bool> ended_{false};
    std::atomic<int> exitCode_{-1};
    std::thread thread_;
};

}  // namespace tavrel::testing
