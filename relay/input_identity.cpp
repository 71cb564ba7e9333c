#include "relay/input_identity.h"

#include "platform/devices.h"
#include "platform/kernel.h"
#include "platform/strings.h"
#include "relay/relay_control.h"
#include "relay/relay_counters.h"

namespace {

// The verdict reaches the status; a refusal not told before gets its line.
bool Accept(InputIdentity& identity, DWORD verdict)
{
    if (verdict == identity.told) {
        return verdict == COMM_DEVICE_SAME;
    }
    identity.told = verdict;
    RelayCounters.inputRefusal = verdict;
    NotifyRelayHealthChanged();
    if (verdict == COMM_DEVICE_SAME) {
        return true;
    }
    const std::string line = "Input port not taken: " + InputRefusalReason(verdict) + "; waiting for the receiver\n";
    OutputDebugStringW(platform::ToUtf16(line).c_str());
    return false;
}

}  // namespace

void RememberInput(InputIdentity& identity, CSerial& input)
{
    COMM_DEVICE_IDENTITY found{};
    if (!identity.remembered && input.GetDeviceIdentity(&found) == 0) {
        identity.remembered = found;
    }
}

bool MayTakeInput(InputIdentity& identity, LPCWSTR inputName)
{
    const COMM_DEVICE_IDENTITY* remembered = identity.remembered ? &*identity.remembered : nullptr;
    DWORD verdict = COMM_DEVICE_SAME;
    if (CompareDeviceIdentity(inputName, remembered, &verdict) != ERROR_SUCCESS) {
        return true;
    }
    return Accept(identity, verdict);
}

bool TookSameInput(InputIdentity& identity, CSerial& input)
{
    if (!identity.remembered) {
        RememberInput(identity, input);
        return true;
    }
    DWORD verdict = COMM_DEVICE_SAME;
    if (input.CompareDeviceIdentity(*identity.remembered, &verdict) != 0) {
        return true;
    }
    return Accept(identity, verdict);
}

void ForgetRefusal(InputIdentity& identity)
{
    identity.told = COMM_DEVICE_SAME;
    RelayCounters.inputRefusal = COMM_DEVICE_SAME;
}

std::string InputRefusalReason(DWORD verdict)
{
    switch (verdict) {
    case COMM_DEVICE_SAME: return {};
    case COMM_DEVICE_PSEUDO_TERMINAL_BY_NUMBER:
        return "it is a pseudo-terminal named by its number, which any new terminal may get (name it through a link)";
    case COMM_DEVICE_OTHER_USB_DEVICE: return "another USB device has its name";
    case COMM_DEVICE_OTHER_OWNER: return "the device with its name belongs to another user";
    case COMM_DEVICE_STALE_LINK:
        return "its link was not made anew and leads to the number of the pseudo-terminal that went away";
    default: return "another device has its name";
    }
}
