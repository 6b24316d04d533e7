#include "dialog/handles.hpp"

#include "support/exception.hpp"

namespace vexmira::dialog {

namespace {
// More classes of one name than a process could leak by unloading.
constexpr int kMaxClassNumbers = 10000;
}  // namespace

WindowClass::WindowClass(HINSTANCE instance, const char* baseName, WNDPROC procedure, HBRUSH background)
    : instance_(instance) {
    WNDCLASSEXA description{};
    description.cbSize = sizeof description;
    description.lpfnWndProc = procedure;
    description.hInstance = instance;
    description.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    description.hbrBackground = background;
    for (int number = 1; number <= kMaxClassNumbers; ++number) {
        name_ = std::string(baseName) + "." + std::to_string(number);
        description.lpszClassName = name_.c_str();
        if (RegisterClassExA(&description) != 0) return;
        if (GetLastError() != ERROR_CLASS_ALREADY_EXISTS) break;
    }
    throw support::Exception("Cannot register the window class " + std::string(baseName));
}

WindowClass::~WindowClass() {
    if (!kept_) UnregisterClassA(name_.c_str(), instance_);
}

HINSTANCE ThisModule() noexcept {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

}  // namespace vexmira::dialog
