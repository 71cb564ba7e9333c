// Message boxes. With nobody to answer (no screen), the caption and the text go
// to stderr and the box returns as if OK had been pressed, so that an
// unattended program never hangs on one.
#pragma once

#include <functional>
#include <string>

#include "platform/types.h"

inline constexpr UINT MB_OK = 0x00000000;
inline constexpr UINT MB_OKCANCEL = 0x00000001;
inline constexpr UINT MB_ICONHAND = 0x00000010;
inline constexpr UINT MB_ICONSTOP = MB_ICONHAND;
inline constexpr UINT MB_ICONQUESTION = 0x00000020;
inline constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
inline constexpr UINT MB_ICONASTERISK = 0x00000040;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Shows a modal box and returns the button that closed it. Blocks the calling
// thread only; any thread may call it.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

namespace platform {

struct MessageBoxRequest {
    HWND owner;
    std::u16string text;
    std::u16string caption;
    UINT type;
};

// Who answers message boxes: a display, or a test. The answerer runs on the
// thread that called MessageBoxW and returns the button pressed. An empty
// function restores the unattended answer.
using MessageBoxAnswerer = std::function<int(const MessageBoxRequest&)>;
void SetMessageBoxAnswerer(MessageBoxAnswerer answerer);

}  // namespace platform
