// Whether an open descriptor is one of Tavrel's ports: a pseudo-terminal
// slave (a character device of the UNIX98 pty slave majors) that a symbolic
// link in one of the port folders leads to. Only system calls that allocate
// nothing and are safe in a signal handler; any failure means "not a port".
#pragma once

#include <sys/types.h>

namespace tavrel::compat {

// What tells two opens of one pseudo-terminal apart from every other device:
// the devpts instance (st_dev) and the device number (st_rdev).
struct PortIdentity {
    dev_t filesystem = 0;
    dev_t device = 0;
};

// The identity of `fd` when it is a pty slave; false for anything else
// (including a descriptor that is not open).
bool PseudoTerminalSlave(int fd, PortIdentity* identity);

// N of /dev/pts/N.
int PtyNumber(const PortIdentity& identity);

// Whether a symbolic link in one of the port folders resolves to that pty.
bool LinkedFromPortFolder(const PortIdentity& identity);

}  // namespace tavrel::compat
