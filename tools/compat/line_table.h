// The lines a program drives on each descriptor of a Tavrel port, DTR and
// RTS, remembered from its first modem-line request until it closes the
// descriptor. Both start on, as Linux raises them when a serial port is
// opened. A fixed table of slots, each claimed with one compare-and-swap:
// safe from any thread and from a signal handler, and it never allocates.
#pragma once

#include "port_recognition.h"

namespace tavrel::compat {

inline constexpr int kMaxOpenPorts = 128;

struct LineSlot;

// The slot of `fd` for that port; null when there is none. A slot left by a
// descriptor that now names another device is freed.
LineSlot* FindLines(int fd, const PortIdentity& identity);

// A slot for a descriptor just recognised as a port, with DTR and RTS on;
// null when every slot is taken (the port is still answered, but what the
// program sets is not kept).
LineSlot* AddLines(int fd, const PortIdentity& identity);

// TIOCM_DTR and TIOCM_RTS as set; both on for a null slot.
unsigned DrivenLines(const LineSlot* slot);
// Turns on `raise` and then turns off `lower` (TIOCM_DTR, TIOCM_RTS; other bits are ignored).
void DriveLines(LineSlot* slot, unsigned raise, unsigned lower);

// Frees the slot of a descriptor that is being closed.
void ForgetLines(int fd);

}  // namespace tavrel::compat
