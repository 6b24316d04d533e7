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

// A registered window class, unregistered again on destruction so that the
// library can be unloaded and loaded anew without a stale window procedure.
class WindowClass {
public:
    WindowClass(HINSTANCE instance, const char* name, WNDPROC procedure, HBRUSH background);
    ~WindowClass();
    WindowClass(const WindowClass&) = delete;
    WindowClass& operator=(const WindowClass&) = delete;

    const char* Name() const noexcept { return name_.c_str(); }

private:
    HINSTANCE instance_;
    std::string name_;
};

// The module (DLL or program) this code is linked into.
HINSTANCE ThisModule() noexcept;

}  // namespace vexmira::dialog
