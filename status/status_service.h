// The status service: the running Tavrel answers tavrel-status on a local
// socket in the device's run folder ("status.sock"). A request "json" gets
// the relay's health as JSON, "table" as a table for a terminal; the health
// is taken at the moment of asking, so an idle Tavrel does nothing for it.
// tavrel-config tells it here of a setting it stored, so that the running
// program uses the change and does not write over it.
#pragma once

#include "platform/types.h"
#include "state/setting_table.h"

// The socket's name in the run folder, for tavrel-status and tavrel-config.
inline constexpr char kStatusSocketName[] = "status";

// tavrel-config's word that it stored a setting ("changed TcpPort"), and the
// answer when the running Tavrel takes the change up.
inline constexpr char kSettingChangedRequest[] = "changed ";
inline constexpr char kSettingChangedTaken[] = "taken\n";

// Takes a stored setting's change to the program's window; false when there
// is none to take it. Called on the socket's own thread.
using SettingChangedHandler = bool (*)(SettingId id);

// Starts answering; FALSE when it cannot (another live Tavrel of the device
// answers already, the run folder cannot be written), which is told on the
// debug output: the program runs on without it. `onSettingChanged` takes the
// changes that tavrel-config tells of.
BOOL StartStatusService(SettingChangedHandler onSettingChanged);
// Stops answering and removes the socket.
void StopStatusService();
