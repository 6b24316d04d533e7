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

void Detach(bool processEnding) noexcept {
    dialog::SourcePath.clear();
    dialog::SourcePath.shrink_to_fit();
    if (processEnding) {
        // The process is ending: its other threads are gone, and the system
        // takes the windows with it. No window is touched, so FormDestroy does
        // not run either; the form is left to the ending process.
        (void)dialog::Form1.release();
        return;
    }
    // DestroyWindow works only on the window's own thread, and DllMain must
    // not wait for that thread: unloaded from another one, the form leaves
    // its windows behind, hidden and no longer pointing into this library.
    if (dialog::Form1 && GetCurrentThreadId() != dialog::Form1->ThreadId()) dialog::Form1->Abandon();
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
        // A request while the dialog is up (from a nested message loop) or
        // from another thread is declined by ShowModal before SourcePath is
        // touched.
        if (Form1) Form1->ShowModal([path] { SourcePath = path != nullptr ? path : ""; });
    } catch (...) {
        // Nothing crosses the export; the dialog has reported what it could.
    }
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        return vexmira::plugin::Attach() ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
        // reserved is null for FreeLibrary, non-null when the process ends.
        vexmira::plugin::Detach(reserved != nullptr);
        break;
    default:
        break;
    }
    return TRUE;
}

}  // extern "C"
