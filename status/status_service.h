// The status service: the running Tavrel answers tavrel-status on a local
// socket in the device's run folder ("status.sock"). A request "json" gets
// the relay's health as JSON, "table" as a table for a terminal; the health
// is taken at the moment of asking, so an idle Tavrel does nothing for it.
#pragma once

#include "platform/types.h"

// The socket's name in the run folder, for tavrel-status.
inline constexpr char kStatusSocketName[] = "status";

// Starts answering; FALSE when it cannot (another live Tavrel of the device
// answers already, the run folder cannot be written), which is told on the
// debug output: the program runs on without it.
BOOL StartStatusService();
// Stops answering and removes the socket.
void StopStatusService();
