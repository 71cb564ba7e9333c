// The changes that turn a valid DCB into one SetCommState must refuse, one
// for each rule. The tests of both serial drivers go through this one list,
// so a port of either kind is shown to refuse the same settings.
#pragma once

#include <array>

#include "platform/comm.h"

namespace tavrel::testing {

struct DcbBreakage {
    const char* what;
    void (*apply)(DCB& dcb);
};

inline constexpr std::array<DcbBreakage, 9> refusedDcbChanges{{
    {"no rate", [](DCB& dcb) { dcb.BaudRate = 0; }},
    {"4 data bits", [](DCB& dcb) { dcb.ByteSize = 4; }},
    {"9 data bits", [](DCB& dcb) { dcb.ByteSize = 9; }},
    {"an unknown parity", [](DCB& dcb) { dcb.Parity = SPACEPARITY + 1; }},
    {"an unknown stop bits code", [](DCB& dcb) { dcb.StopBits = TWOSTOPBITS + 1; }},
    {"1.5 stop bits with 8 data bits",
     [](DCB& dcb) {
         dcb.ByteSize = 8;
         dcb.StopBits = ONE5STOPBITS;
     }},
    {"2 stop bits with 5 data bits",
     [](DCB& dcb) {
         dcb.ByteSize = 5;
         dcb.StopBits = TWOSTOPBITS;
     }},
    {"an unknown DTR mode", [](DCB& dcb) { dcb.fDtrControl = DTR_CONTROL_HANDSHAKE + 1; }},
    {"XON the same as XOFF", [](DCB& dcb) { dcb.XoffChar = dcb.XonChar; }},
}};

}  // namespace tavrel::testing
