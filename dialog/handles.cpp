#include "dialog/handles.hpp"

#include "support/exception.hpp"

namespace vexmira::dialog {

WindowClass::WindowClass(HINSTANCE instance, const char* name, WNDPROC procedure, HBRUSH background)
    : instance_(instance), name_(name) {
    WNDCLASSEXA description{};
    description.cbSize = sizeof description;
    description.lpfnWndProc = procedure;
    description.hInstance = instance;
    description.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    description.hbrBackground = background;
    description.lpszClassName = name;
    if (RegisterClassExA(&description) == 0)
        throw support::Exception("Cannot register the window class " + name_);
}

WindowClass::~WindowClass() { UnregisterClassA(name_.c_str(), instance_); }

HINSTANCE ThisModule() noexcept {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

}  // namespace vexmira::dialog
