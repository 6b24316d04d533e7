#pragma once
// The modal run: the thread's other windows disabled while it lasts, a message
// loop that gives the form the first look at each message, and Tab moving the
// focus in the layout's order.

#include <windows.h>

#include <functional>
#include <vector>

namespace vexmira::dialog {

// While the dialog is modal, the thread's other windows take no input.
class ThreadWindowsDisabled {
public:
    explicit ThreadWindowsDisabled(HWND dialog);
    ~ThreadWindowsDisabled() { Restore(); }
    ThreadWindowsDisabled(const ThreadWindowsDisabled&) = delete;
    ThreadWindowsDisabled& operator=(const ThreadWindowsDisabled&) = delete;

    void Restore() noexcept;

private:
    static BOOL CALLBACK Collect(HWND window, LPARAM self);

    HWND dialog_;
    std::vector<HWND> disabled_;
};

// Pumps the thread's messages until closing is set; filter sees each message
// first and returns true when it is done with. Close wakes the loop with a
// posted message, since a sent one does not end the wait. A WM_QUIT ends the
// run and is posted again for the host's own loop.
void RunMessageLoop(const bool& closing, const std::function<bool(MSG&)>& filter);

// Moves the focus to the next (or previous) of stops from the one holding it;
// a window for which sameStop(stop, focus) holds counts as that stop. Returns
// false when there is no stop.
bool MoveFocusByTab(const std::vector<HWND>& stops, bool backwards,
                    const std::function<bool(HWND stop, HWND focus)>& sameStop);

}  // namespace vexmira::dialog
