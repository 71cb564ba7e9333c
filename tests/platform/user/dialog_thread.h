// Runs a modal dialog on a thread of its own, as a program's user-interface
// thread would, so that the test thread can act as the person in front of it.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

#include "platform/resources.h"
#include "platform/user.h"

namespace tavrel::testing {

class DialogThread {
public:
    DialogThread(std::vector<BYTE> dialogTemplate, DLGPROC procedure, LPARAM parameter = 0);
    ~DialogThread();   // closes the dialog if it still runs
    DialogThread(const DialogThread&) = delete;
    DialogThread& operator=(const DialogThread&) = delete;

    // The dialog's result once it ended (joins the thread).
    INT_PTR Result();
    bool Ended() const { return ended_; }

private:
    std::vector<BYTE> template_;
    std::atomic<bool> ended_{false};
    INT_PTR result_ = 0;
    std::thread thread_;
};

// A dialog with the controls a test needs: ids 10 (push button "Press"), 11
// (check box), 12 (drop-down combo box), 13 (drop-down list combo box), 14
// (list box, notifies), 15 (static text), 16 (group box).
std::vector<BYTE> SampleDialog(const std::u16string& caption);

}  // namespace tavrel::testing
