// The library's load and unload, and its three exports.

#include <windows.h>

#include "dialog/form.hpp"
#include "plugin/exports.hpp"

namespace vexmira::plugin {
namespace {

constexpr char kDescription[] = "Vexmira 1.0: lists TCompress archives, also those carried inside other files";

bool Attach() noexcept {
    try {
        dialog::ApplicationTitle.clear();  // every message box gets an empty caption
        dialog::Form1 = std::make_unique<dialog::TForm1>();
        return true;
    } catch (...) {
        return false;  // without its dialog the library is of no use: refuse the load
    }
}

void Detach() noexcept {
    dialog::SourcePath.clear();
    dialog::SourcePath.shrink_to_fit();
    dialog::Form1.reset();  // its FormDestroy releases EntryList
}

}  // namespace
}  // namespace vexmira::plugin

extern "C" {

const char* __cdecl About(void) noexcept { return vexmira::plugin::kDescription; }

const char* __cdecl LoadDll(void) noexcept { return About(); }

std::int32_t __cdecl DoMyJob(std::int32_t /*reserved*/, const char* path) noexcept {
    using namespace vexmira::dialog;
    try {
        // A second request while the dialog is up (from a nested message loop
        // or from another thread) cannot show it again: it is declined
        // without touching the running one.
        if (!Form1 || GetCurrentThreadId() != Form1->ThreadId() || Form1->Showing()) return 0;
        SourcePath = path != nullptr ? path : "";
        Form1->ShowModal();
    } catch (...) {
        // Nothing crosses the export; the dialog has reported what it could.
    }
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        return vexmira::plugin::Attach() ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
        vexmira::plugin::Detach();
        break;
    default:
        break;
    }
    return TRUE;
}

}  // extern "C"
