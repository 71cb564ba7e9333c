// Opening a file as a user other than the tests' own, as another person's
// program would. A tty in exclusive mode (TIOCEXCL) refuses every open but
// root's with EBUSY, so as root the open runs in a child process under the
// ids of `nobody` (setpriv); any other user is held back as the tests' own
// user is, and opens it itself. Make the file world-readable and -writable
// first, so that only the exclusive mode can stand in the way.
#pragma once

#include <string>

namespace tavrel::testing {

struct OpenAttempt {
    bool opened = false;
    std::string error;   // why it failed, as the C library words it ("Device or resource busy")
};

// Opens `path` for reading and writing, as a terminal program does
// (O_NOCTTY, O_NONBLOCK), and closes it again.
OpenAttempt OpenAsAnotherUser(const std::string& path);

}  // namespace tavrel::testing
