#include "dialog/modal.hpp"

#include <algorithm>

namespace vexmira::dialog {

ThreadWindowsDisabled::ThreadWindowsDisabled(HWND dialog) : dialog_(dialog) {
    EnumThreadWindows(GetCurrentThreadId(), &Collect, reinterpret_cast<LPARAM>(this));
    for (HWND window : disabled_) EnableWindow(window, FALSE);
}

void ThreadWindowsDisabled::Restore() noexcept {
    for (HWND window : disabled_)
        if (IsWindow(window)) EnableWindow(window, TRUE);
    disabled_.clear();
}

BOOL CALLBACK ThreadWindowsDisabled::Collect(HWND window, LPARAM self) {
    auto* state = reinterpret_cast<ThreadWindowsDisabled*>(self);
    if (window != state->dialog_ && IsWindowVisible(window) && IsWindowEnabled(window)) {
        try {
            state->disabled_.push_back(window);
        } catch (...) {
            return FALSE;  // out of memory: the windows collected so far are disabled
        }
    }
    return TRUE;
}

void RunMessageLoop(const bool& closing, const std::function<bool(MSG&)>& filter) {
    MSG message{};
    while (!closing) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            // The host is quitting: end the run and leave WM_QUIT for its own loop.
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (!filter(message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

bool MoveFocusByTab(const std::vector<HWND>& stops, bool backwards,
                    const std::function<bool(HWND stop, HWND focus)>& sameStop) {
    if (stops.empty()) return false;
    const HWND focus = GetFocus();
    const auto current = std::find_if(stops.begin(), stops.end(), [&](HWND stop) { return sameStop(stop, focus); });
    std::size_t next = 0;
    if (current != stops.end()) {
        const auto at = static_cast<std::size_t>(current - stops.begin());
        next = backwards ? (at + stops.size() - 1) % stops.size() : (at + 1) % stops.size();
    } else if (backwards) {
        next = stops.size() - 1;
    }
    SetFocus(stops[next]);
    // An edit field reached by Tab selects its text, as dialog navigation does.
    if (SendMessageA(stops[next], WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageA(stops[next], EM_SETSEL, 0, -1);
    return true;
}

}  // namespace vexmira::dialog
