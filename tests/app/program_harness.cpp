#include "program_harness.h"

#include <algorithm>
#include <stdexcept>

#include "app/program.h"
#include "app/tray_and_about.h"
#include "platform/devices.h"
#include "platform/program_ending.h"
#include "platform/registry.h"
#include "platform/registry_key.h"
#include "platform/user.h"
#include "platform/user_input.h"
#include "platform/winmain.h"
#include "relay/network_outputs.h"
#include "relay/relay_control.h"
#include "settings/settings_store.h"
#include "state/app_settings.h"
#include "state/install_path.h"
#include "state/port_lists.h"
#include "support/scripted_serial_device.h"
#include "support/test_device.h"

namespace tavrel::testing {
namespace {

using platform::RegistryKey;

}  // namespace

void ResetProgramState()
{
    AppSettings = Settings{};
    UseNetworkSettings({});
    DetectedPorts.clear();
    FreeOutputs.clear();
    SplitOutputs.clear();
    RelayControl.stopAckEvent.Reset();
    RelayControl.stopEvent.Reset();
    RelayControl.startedEvent.Reset();
    RelayControl.workerThread.Reset();
    RelayControl.keepAwakeTimer.Reset();
    RelayControl.running = 0;
    hiddenToTray = 0;
    std::fill(std::begin(InstallPath), std::end(InstallPath), u'\0');
    SettingsUnreadable = false;
    ProgramInstance = nullptr;
}

void InstallProgram(TestDevice& device)
{
    device.InstallVirtualPortDriver(QUORVEL_MODULE_PATH);
    WriteText(HKEY_LOCAL_MACHINE, kSettingsKey, u"InstallPath", kInstallFolder);
}

void AddScriptedBuiltInPort(const std::u16string& name, DWORD index)
{
    const std::u16string key = u"Drivers\\BuiltIn\\" + name;
    ScriptedSerialDevices::WriteDriverKey(key, index);
    if (ActivateDeviceEx(key.c_str(), nullptr, 0, nullptr) == nullptr) {
        throw std::runtime_error("the scripted built-in port did not activate");
    }
}

std::optional<RegistryValue> ReadValue(HKEY root, const std::u16string& key, const std::u16string& name)
{
    const RegistryKey opened(root, key, RegistryKey::Open::Existing);
    DWORD size = 0;
    RegistryValue value;
    if (!opened || RegQueryValueExW(opened.get(), name.c_str(), nullptr, &value.type, nullptr, &size) != 0) {
        return std::nullopt;
    }
    value.data.resize(size);
    if (RegQueryValueExW(opened.get(), name.c_str(), nullptr, &value.type, value.data.data(), &size) != 0) {
        return std::nullopt;
    }
    value.data.resize(size);
    return value;
}

std::optional<DWORD> ReadNumber(HKEY root, const std::u16string& key, const std::u16string& name)
{
    const auto value = ReadValue(root, key, name);
    if (!value || value->data.size() != sizeof(DWORD)) {
        return std::nullopt;
    }
    DWORD number = 0;
    std::copy(value->data.begin(), value->data.end(), reinterpret_cast<BYTE*>(&number));
    return number;
}

std::vector<std::u16string> ValueNames(HKEY root, const std::u16string& key)
{
    std::vector<std::u16string> names;
    const RegistryKey opened(root, key, RegistryKey::Open::Existing);
    for (DWORD i = 0; opened; ++i) {
        WCHAR name[256] = {};
        DWORD length = 256;
        if (RegEnumValueW(opened.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != 0) {
            break;
        }
        names.emplace_back(name, length);
    }
    return names;
}

bool KeyExists(HKEY root, const std::u16string& key)
{
    return static_cast<bool>(RegistryKey(root, key, RegistryKey::Open::Existing));
}

void WriteValue(HKEY root, const std::u16string& key, const std::u16string& name, DWORD type,
                const std::vector<BYTE>& data)
{
    const RegistryKey created(root, key, RegistryKey::Open::OrCreate);
    if (!created || RegSetValueExW(created.get(), name.c_str(), 0, type, data.data(),
                                   static_cast<DWORD>(data.size())) != 0) {
        throw std::runtime_error("cannot write a registry value");
    }
}

void WriteNumber(HKEY root, const std::u16string& key, const std::u16string& name, DWORD value)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(&value);
    WriteValue(root, key, name, REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof(value)));
}

std::vector<BYTE> TextBytes(const std::u16string& text)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(char16_t));
}

void WriteText(HKEY root, const std::u16string& key, const std::u16string& name, const std::u16string& text)
{
    WriteValue(root, key, name, REG_SZ, TextBytes(text));
}

void SetUserNumber(const std::u16string& name, DWORD value)
{
    WriteNumber(HKEY_CURRENT_USER, kSettingsKey, name, value);
}

std::optional<DWORD> UserNumber(const std::u16string& name)
{
    return ReadNumber(HKEY_CURRENT_USER, kSettingsKey, name);
}

HWND FindMainWindow()
{
    for (HWND window : platform::input::TopLevelWindows()) {
        const auto state = platform::input::Inspect(window);
        if (state && !state->isMessageBox && state->text == kMainCaption) {
            return window;
        }
    }
    return nullptr;
}

std::vector<HWND> OwnedWindows(HWND owner)
{
    std::vector<HWND> owned;
    for (HWND window : platform::input::TopLevelWindows()) {
        const auto state = platform::input::Inspect(window);
        if (state && state->owner == owner) {
            owned.push_back(window);
        }
    }
    return owned;
}

ProgramRun::ProgramRun()
    : thread_([this] {
          WCHAR commandLine[] = u"";
          exitCode_ = WinMain(GetModuleHandleW(nullptr), nullptr, commandLine, SW_SHOW);
          ended_ = true;
      })
{
}

ProgramRun::~ProgramRun()
{
    EndForGood();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool ProgramRun::WaitEnded(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!ended_ && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ended_;
}

int ProgramRun::ExitCode()
{
    if (thread_.joinable()) {
        thread_.join();
    }
    return exitCode_;
}

// A test that failed half-way may leave the program anywhere: it is ended as
// a signal ends it, its boxes answered and its windows closed.
void ProgramRun::EndForGood()
{
    platform::EndProgram([this](std::chrono::milliseconds wait) { return WaitEnded(wait); }, std::chrono::seconds(60));
}

}  // namespace tavrel::testing
