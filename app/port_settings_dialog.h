// The settings of one output port ("COM2 Settings"): whether the program on
// it talks back to an input, and how the stream it gets is shaped. Stored
// with the caption's OK; a run that is up keeps the settings it started with.
#pragma once

#include "platform/types.h"
#include "state/port_lists.h"

// Runs the dialog of output `port` in the layout of the screen's shape;
// returns when it closes.
void ShowPortSettingsDialog(PortNumber port);
