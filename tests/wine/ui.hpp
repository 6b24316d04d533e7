#pragma once
// Driving the real dialog the way a user would, from a second thread of the
// host: find windows by title, read controls with their own messages, click
// and type through SendInput, dismiss message boxes.

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/exports.hpp"

namespace vexmira::wine_test {

// The plug-in, loaded for real.
class Plugin {
public:
    explicit Plugin(const std::string& path);
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    bool Loaded() const noexcept { return module_ != nullptr; }
    HMODULE Module() const noexcept { return module_; }
    void Unload();

    LoadDllFunction LoadDll = nullptr;
    DoMyJobFunction DoMyJob = nullptr;
    AboutFunction About = nullptr;

private:
    HMODULE module_ = nullptr;
};

enum class Icon { None, Error, Information, Warning, Question, Other };
const char* IconName(Icon icon);

struct MessageBoxSeen {
    std::string text;
    std::string caption;
    Icon icon = Icon::Other;
    std::vector<std::string> buttons;  // captions of the visible buttons
    RECT rect{};
    bool centred = false;  // on the screen, within a pixel
};

struct Modifiers {
    bool shift = false;
    bool ctrl = false;
};

// The form's window, if it exists, on the given thread.
HWND FindForm(DWORD thread);
// From now on FindForm passes over this form: one left behind by a library
// unloaded from another thread.
void PassOverForm(HWND form);
// A visible message box of the thread, if any.
HWND FindMessageBox(DWORD thread);
MessageBoxSeen ReadMessageBox(HWND box);
// Presses its "OK" and waits until it is gone.
bool DismissMessageBox(HWND box);

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000);
// Lets queued input reach the dialog before checking that nothing changed.
void Settle(HWND window);

std::string WindowText(HWND window);
std::string ClassName(HWND window);

// Windows of the process and all their descendants.
int CountProcessWindows();
// Resident size of this (Linux) process, from /proc.
std::int64_t ResidentBytes();

// Converts a Unix path to the Windows one Wine maps it to (Z:).
std::string WindowsPath(const std::string& path);

class Dialog {
public:
    Dialog(HWND form, DWORD thread) : form_(form), thread_(thread) {}

    HWND Form() const noexcept { return form_; }
    DWORD Thread() const noexcept { return thread_; }
    HWND Control(std::string_view name) const;
    HWND MethodButton(std::size_t index) const;

    std::string Text(std::string_view name) const { return WindowText(Control(name)); }
    int Count() const;
    std::vector<std::string> Items() const;
    std::string Item(int index) const;
    int Caret() const;
    std::vector<int> Selection() const;
    int CheckedMethod() const;  // -1 when none is checked
    int ProgressPosition() const;
    PBRANGE ProgressRange() const;
    // The brush colour the control's parent hands it to paint its background.
    COLORREF Background(std::string_view name) const;
    HWND Focus() const;
    HWND Capture() const;
    bool Visible() const { return IsWindowVisible(form_) != FALSE; }

    // Real input, through the system's input queue.
    void ClickItem(int index, Modifiers modifiers = {}) const;
    void Click(HWND window, POINT client, Modifiers modifiers = {}) const;
    // The modifiers go down before the press and up after the release.
    void MouseDown(HWND window, POINT client, Modifiers modifiers = {}) const;
    void MouseMove(HWND window, POINT client) const;
    void MouseUp(HWND window, POINT client, Modifiers modifiers = {}) const;
    void Press(WORD key, Modifiers modifiers = {}) const;
    // Clicks the close box in the title bar.
    void ClickCloseBox() const;
    POINT ItemPoint(int index) const;  // in the list box's client area

    // Waits for a message box, records it and presses its "OK".
    std::optional<MessageBoxSeen> TakeMessageBox(DWORD timeoutMs = 5000) const;
    // Waits until the form is hidden: the modal run has ended.
    bool WaitClosed(DWORD timeoutMs = 5000) const;

private:
    void MakeForeground() const;

    HWND form_;
    DWORD thread_;
};

struct JobOutcome {
    std::int32_t result = -1;
    bool shown = false;                  // the dialog became visible
    std::vector<MessageBoxSeen> before;  // boxes shown before it did, in order
    double secondsToShow = 0;            // from the call to the dialog being visible
};

// Calls DoMyJob(0, path) on this thread while drive works the dialog from a
// second thread; message boxes shown before the dialog appears are recorded
// and dismissed. drive must close the dialog; if it does not, that fails and
// the dialog is closed for it.
JobOutcome RunJob(Plugin& plugin, const char* path, const std::function<void(Dialog&)>& drive);

}  // namespace vexmira::wine_test
