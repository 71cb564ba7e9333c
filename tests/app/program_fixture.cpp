#include "program_fixture.h"

#include <algorithm>
#include <filesystem>

#include <unistd.h>

#include "platform/answer_socket.h"
#include "platform/user_input.h"
#include "relay/relay_control.h"
#include "state/port_lists.h"
#include "status/status_service.h"
#include "testkit/pty_pair.h"

namespace tavrel::testing {

std::vector<std::u16string> PortEntries(const std::vector<int>& numbers)
{
    std::vector<std::u16string> entries;
    for (int n : numbers) {
        std::u16string text = u"COM";
        for (char c : std::to_string(n)) {
            text += static_cast<char16_t>(c);
        }
        entries.push_back(text + u":");
    }
    return entries;
}

std::vector<int> Numbers(const std::vector<unsigned char>& ports)
{
    return std::vector<int>(ports.begin(), ports.end());
}

ProgramTest::ProgramTest(Input inputKind)
{
    ResetProgramState();
    InstallProgram(device_);
    if (inputKind == Input::ScriptedCom1) {
        AddScriptedBuiltInPort(u"Gps", kInputPort);
    }
}

ProgramTest::~ProgramTest()
{
    program_.reset();
    ResetProgramState();
}

HWND ProgramTest::Launch()
{
    program_.emplace();
    HWND window = nullptr;
    person_.WaitUntil([&] {
        window = FindMainWindow();
        return window != nullptr;
    });
    if (window != nullptr) {
        platform::input::WaitForIdle(window);
    }
    return window;
}

int ProgramTest::WaitForExit()
{
    if (!program_ || !program_->WaitEnded()) {
        return -1;
    }
    return program_->ExitCode();
}

void ProgramTest::PressWithoutWaiting(HWND dialog, int id) const
{
    platform::input::Click(person_.Control(dialog, id));
}

void ProgramTest::AddOutputs(HWND dialog, const std::vector<int>& numbers) const
{
    for (const std::u16string& entry : PortEntries(numbers)) {
        const auto entries = person_.Entries(dialog, 1007);
        const auto found = std::find(entries.begin(), entries.end(), entry);
        ASSERT_NE(found, entries.end()) << "no free entry for the output";
        person_.Choose(dialog, 1007, static_cast<int>(found - entries.begin()));
        person_.Click(dialog, 1008);
    }
}

bool ProgramTest::StartRelaying(HWND dialog) const
{
    person_.Click(dialog, 1010);
    return person_.WaitUntil([&] {
        return RelayControl.running == 1 && person_.Text(dialog, 1010) == u"STOP SPLITTER" &&
               person_.Enabled(dialog, 1010);
    });
}

bool ProgramTest::PortLinkExists(int number) const
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(device_.PortLink(number), error));
}

bool ProgramTest::Relays(int number)
{
    const int reader = OpenRaw(device_.PortLink(number).string());
    bool arrived = false;
    for (int attempt = 0; reader >= 0 && attempt < 200 && !arrived; ++attempt) {
        input().Feed({'~'});
        arrived = !ReadFor(reader, 1, std::chrono::milliseconds(50)).empty();
    }
    if (reader >= 0) {
        ::close(reader);
    }
    return arrived;
}

bool ProgramTest::RelayControlEmpty()
{
    return RelayControl.stopAckEvent.get() == nullptr && RelayControl.stopEvent.get() == nullptr &&
           RelayControl.startedEvent.get() == nullptr && RelayControl.workerThread.get() == nullptr &&
           RelayControl.keepAwakeTimer.get() == 0 && RelayControl.running == 0;
}

void ProgramTest::ExpectListsInStep(HWND dialog) const
{
    EXPECT_EQ(person_.Entries(dialog, 1007), PortEntries(Numbers(FreeOutputs)));
    EXPECT_EQ(person_.Entries(dialog, 1006), PortEntries(Numbers(SplitOutputs)));
}

bool ProgramTest::TellOfStoredSetting(const std::string& registryName) const
{
    const auto socket = platform::AnswerSocketPath(device_.root(), kStatusSocketName);
    return platform::AskAnswerSocket(socket, kSettingChangedRequest + registryName) == kSettingChangedTaken;
}

}  // namespace tavrel::testing
