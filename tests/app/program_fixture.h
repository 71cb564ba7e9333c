// A device with the program installed and one scripted serial port listed
// among the built-in drivers as COM1 (the input), the program started
// through WinMain, and a person in front of the headless screen.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "program_harness.h"
#include "resources/resource_ids.h"
#include "support/scripted_serial_device.h"
#include "support/test_device.h"
#include "support/user_driver.h"

namespace tavrel::testing {

inline constexpr DWORD kInputPort = 1;

// The seven controls that are disabled while relaying runs.
inline constexpr int kSettingControls[] = {IDC_BAUD, IDC_INPUT_PORT, IDC_FREE_OUTPUTS, IDC_ADD,
                                            IDC_DELETE, IDC_OUTPUT_LIST, IDC_EXIT};

// "COM<n>:" for each number.
std::vector<std::u16string> PortEntries(const std::vector<int>& numbers);
std::vector<int> Numbers(const std::vector<unsigned char>& ports);

class ProgramTest : public ::testing::Test {
protected:
    enum class Input { ScriptedCom1, None };
    explicit ProgramTest(Input inputKind = Input::ScriptedCom1);
    ~ProgramTest() override;

    // Starts the program and waits until its main window exists and its
    // thread has handled everything that its start queued (shown or not).
    HWND Launch();
    // Ends the program's run and gives WinMain's result.
    int WaitForExit();

    // A tap that does not wait for the program's thread, for a press after
    // which that thread blocks until the relay worker has answered.
    void PressWithoutWaiting(HWND dialog, int id) const;
    // Chooses each output by its entry text and adds it.
    void AddOutputs(HWND dialog, const std::vector<int>& numbers) const;
    // Starts relaying with the window's choices; true once it relays.
    bool StartRelaying(HWND dialog) const;

    ScriptedPort& input() { return scripted_.Port(kInputPort); }
    bool PortLinkExists(int number) const;
    // Whether a byte fed to the input comes out of output `number`'s port.
    bool Relays(int number);
    // RelayControl holds no event, thread, timer, nor a running flag.
    static bool RelayControlEmpty();
    // The free-output box and the output list show FreeOutputs and SplitOutputs.
    void ExpectListsInStep(HWND dialog) const;
    // Tells the running program, over its status socket as tavrel-config
    // does, that the setting `registryName` was stored; true once it took it.
    bool TellOfStoredSetting(const std::string& registryName) const;

    UserDriver person_;
    ScriptedSerialDevices scripted_;
    TestDevice device_;
    std::optional<ProgramRun> program_;
};

}  // namespace tavrel::testing
