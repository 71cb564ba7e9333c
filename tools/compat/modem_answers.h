// The answers that a connected null-modem cable gives to the modem-line
// requests, for Tavrel's ports only: DTR and RTS are the program's to drive
// and are remembered per open descriptor; CTS, DSR and CD are on while the
// port exists (Tavrel holds its far end) and off once it is gone (the slave
// is hung up); RI is off. TIOCMIWAIT sleeps until a watched line changes,
// which is when the port goes away; TIOCGICOUNT counts nothing; TIOCGSERIAL
// describes an ordinary UART at a standard speed, so that no program goes on
// to change it with TIOCSSERIAL.
#pragma once

namespace tavrel::compat {

struct Answer {
    bool given = false;   // false: not ours to answer, the call goes to the system unchanged
    int result = 0;       // what ioctl() returns
    int error = 0;        // errno when result is -1
};

// Answers TIOCMGET, TIOCMSET, TIOCMBIS, TIOCMBIC, TIOCMIWAIT, TIOCGICOUNT and
// TIOCGSERIAL on a descriptor of a Tavrel port. Anything else, or any
// failure to tell what `fd` is, is not given. May change errno.
Answer AnswerModemRequest(int fd, unsigned long request, void* argument);

}  // namespace tavrel::compat
