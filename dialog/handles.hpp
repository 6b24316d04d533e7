#pragma once
// Owners for the Win32 handles the dialog creates.

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

namespace vexmira::dialog {

struct WindowDestroyer {
    void operator()(HWND window) const noexcept {
        if (IsWindow(window)) DestroyWindow(window);
    }
};
using UniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const noexcept { DeleteObject(object); }
};
using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;
using UniqueBrush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiObjectDeleter>;

// A registered window class, unregistered again on destruction. Its name is
// the base name with a number that no registered class of the process uses:
// a library unloaded from a thread other than its windows' leaves its classes
// registered (see Keep), and a later load must still register its own.
class WindowClass {
public:
    WindowClass(HINSTANCE instance, const char* baseName, WNDPROC procedure, HBRUSH background);
    ~WindowClass();
    WindowClass(const WindowClass&) = delete;
    WindowClass& operator=(const WindowClass&) = delete;

    const char* Name() const noexcept { return name_.c_str(); }
    // Leaves the class registered: windows of it outlive this object.
    void Keep() noexcept { kept_ = true; }

private:
    HINSTANCE instance_;
    std::string name_;
    bool kept_ = false;
};

// The module (DLL or program) this code is linked into.
HINSTANCE ThisModule() noexcept;

}  // namespace vexmira::dialog
