// Whether an input that comes back is the receiver that the run had. The
// worker remembers who its input is when it first opens it; Reconnect then
// opens the device that has the input's name only when it is that receiver,
// and says once why it leaves another alone (a debug line, and the status).
#pragma once

#include <optional>
#include <string>

#include "platform/comm.h"
#include "serial/serial_port.h"

struct InputIdentity {
    // Who the input is; nothing before it was first opened, or when its
    // driver cannot tell (then Reconnect takes whatever has its name).
    std::optional<COMM_DEVICE_IDENTITY> remembered;
    // The refusal last told, so that each is told once.
    DWORD told = COMM_DEVICE_SAME;
};

// Remembers who the open `input` is, unless the run knows already.
void RememberInput(InputIdentity& identity, CSerial& input);

// Before Reconnect opens the input `inputName` again: false when what has
// its name now is not the receiver (told once). True when it is, when nothing
// has the name (the open then fails as usual), or when its driver cannot tell.
bool MayTakeInput(InputIdentity& identity, LPCWSTR inputName);

// Right after that open: false when the device it holds is not the receiver
// after all (it took the name in the moment between look and open); true
// otherwise, remembering it when nothing was remembered.
bool TookSameInput(InputIdentity& identity, CSerial& input);

// The input is back: nothing is refused any more.
void ForgetRefusal(InputIdentity& identity);

// Why a device with the input's name is not taken, for a person, in UTF-8;
// empty for COMM_DEVICE_SAME.
std::string InputRefusalReason(DWORD verdict);
