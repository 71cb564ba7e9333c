// The screen, as the window layer sees it. A display backend mirrors the
// state of the windows (it is told when something changed and reads the
// state with the calls of platform/user_input.h) and turns a person's input
// into the calls of platform/user_input.h. The window layer works without
// one: then it is the headless display with nobody in front of it.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/types.h"

namespace platform {

class Display {
public:
    virtual ~Display() = default;

    // The screen size in pixels (GetSystemMetrics SM_CXSCREEN, SM_CYSCREEN).
    virtual int ScreenWidth() const = 0;
    virtual int ScreenHeight() const = 0;
    // Whether someone can answer a message box: a person is in front of the
    // screen and the program is not being ended. When nobody can, MessageBoxW
    // writes its caption and text to stderr and returns as if OK was pressed.
    bool SomeoneCanAnswer() const { return !nobodyWillAnswer_ && PersonPresent(); }
    // From now on nobody answers a message box here: the program is being
    // ended for good (platform/program_ending.h).
    void NobodyWillAnswer() { nobodyWillAnswer_ = true; }

    // Something about the window changed (created, text, entries, selection,
    // check, enabled, visible, foreground, focus) or it is about to go.
    // Called on the thread that made the change, with no lock of the window
    // layer held; must not block.
    virtual void WindowChanged(HWND window) = 0;
    virtual void WindowDestroyed(HWND window) = 0;
    virtual void TrayChanged() = 0;
    // The program named itself anew (SetHostIdentity).
    virtual void IdentityChanged() {}

protected:
    // Whether a person (or a test driver playing one) is in front of the screen.
    virtual bool PersonPresent() const = 0;

private:
    std::atomic<bool> nobodyWillAnswer_{false};
};

// How the program is known on the host's desktop: the name that a person
// reads (the title of its desktop window) and the desktop entry that its
// windows belong to (their X11 class and Wayland application id follow it),
// so that docks and task bars group and pin them with the entry.
struct HostIdentity {
    std::u16string name;        // e.g. u"Tavrel"
    std::string desktopEntry;   // the entry's file name without ".desktop", e.g. "tavrel"

    bool operator==(const HostIdentity&) const = default;
};

// The program names itself, best before its first window is shown (a desktop
// reads a window's class once, when it appears). A display without a desktop
// has no use for it. Empty until the program calls this.
void SetHostIdentity(HostIdentity identity);
HostIdentity CurrentHostIdentity();

// The display in use; a headless one with nobody in front of it until one is set.
void SetDisplay(std::shared_ptr<Display> display);
std::shared_ptr<Display> CurrentDisplay();

// The headless display: no pixels, a screen size, and whether a person (a
// test driver) is in front of it.
class HeadlessDisplay : public Display {
public:
    HeadlessDisplay(int width = 240, int height = 320, bool personPresent = false);

    int ScreenWidth() const override;
    int ScreenHeight() const override;
    void WindowChanged(HWND window) override;
    void WindowDestroyed(HWND window) override;
    void TrayChanged() override;

    void SetScreenSize(int width, int height);
    void SetPersonPresent(bool present);
    // Counts every change; a driver waits for it to move.
    unsigned long long Changes() const;
    // Waits until Changes() differs from `seen` or the time-out passes.
    unsigned long long WaitForChange(unsigned long long seen, unsigned timeoutMilliseconds) const;

protected:
    bool PersonPresent() const override;

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace platform
