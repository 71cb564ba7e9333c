// Replays the saved choices at the start of the main dialog when Autostart is
// on: the saved outputs, a start of relaying, and the window hidden to the
// tray. It works through the main window's own commands, which the window
// hands over, so it needs none of the window's code.
#pragma once

#include "platform/types.h"
#include "state/port_lists.h"

// The main window's commands that the replay runs, each with the dialog.
struct MainWindowCommands {
    void (*addOutput)(HWND dialog);     // the Add command: the chosen free port joins the outputs
    void (*toggleRelay)(HWND dialog);   // the Start/Stop command
    void (*deleteOutput)(HWND dialog);  // the Delete command: the chosen output goes back to the free ports
};

// The hide needs no procedure: it is the dialog's OK command, posted so that
// it runs once the dialog's initialisation has returned.
void ResumeAutostart(HWND dialog, const MainWindowCommands& commands);
// The saved outputs that ResumeAutostart will choose again, in ascending
// order; none when Autostart will not run.
PortList OutputsToResume();

// Writes the input port of AppSettings ("COM3") into the input port box.
void ShowSavedInputPort(HWND dialog);
// Chooses the saved outputs again after another program stored them: those
// chosen now go back to the free ports first. While no relay runs.
void RestoreSavedOutputs(HWND dialog, const MainWindowCommands& commands);
