// The library as the host sees it: exports, version, load and unload, and
// many jobs in a row.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/wine/cases.hpp"
#include "tests/wine/check.hpp"

namespace vexmira::wine_test {

using testing::ArchiveBuilder;

namespace {

void* Export(HMODULE module, const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); }

void ExpectVersion(const std::string& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ok(size > 0, "no version resource in %s\n", path.c_str());
    if (size == 0) return;
    std::string block(size, '\0');
    GetFileVersionInfoA(path.c_str(), 0, size, block.data());
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ok(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) && fixed != nullptr,
       "no fixed version information\n");
    if (!fixed) return;
    ok(fixed->dwFileVersionMS == 0x00010000 && fixed->dwFileVersionLS == 0,
       "file version got %lu.%lu.%lu.%lu, expected 1.0.0.0\n", fixed->dwFileVersionMS >> 16,
       fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16, fixed->dwFileVersionLS & 0xFFFF);
    ok(fixed->dwProductVersionMS == 0x00010000 && fixed->dwProductVersionLS == 0,
       "product version got %lu.%lu.%lu.%lu, expected 1.0.0.0\n", fixed->dwProductVersionMS >> 16,
       fixed->dwProductVersionMS & 0xFFFF, fixed->dwProductVersionLS >> 16, fixed->dwProductVersionLS & 0xFFFF);
}

}  // namespace

void CaseExports(const Options& options) {
    ok(FindForm(GetCurrentThreadId()) == nullptr, "a dialog exists before the library is loaded\n");
    Plugin plugin(options.dll);
    if (!plugin.Loaded()) return;
    HMODULE module = plugin.Module();

    ok(Export(module, MAKEINTRESOURCEA(1)) == Export(module, "LoadDll"), "ordinal 1 is not LoadDll\n");
    ok(Export(module, MAKEINTRESOURCEA(2)) == Export(module, "DoMyJob"), "ordinal 2 is not DoMyJob\n");
    ok(Export(module, MAKEINTRESOURCEA(3)) == Export(module, "About"), "ordinal 3 is not About\n");
    ok(Export(module, MAKEINTRESOURCEA(4)) == nullptr, "there is an export at ordinal 4\n");

    const char* description = plugin.About();
    const char* again = plugin.LoadDll();
    ok(description != nullptr && description == again, "About returned %p, LoadDll %p; expected the same text\n",
       static_cast<const void*>(description), static_cast<const void*>(again));
    ok(description && std::strstr(description, "Vexmira") != nullptr, "description got \"%s\"\n",
       description ? description : "(null)");
    ExpectVersion(options.dll);

    // Loading created the dialog, hidden, on the loading thread.
    HWND form = FindForm(GetCurrentThreadId());
    ok(form != nullptr, "no dialog after loading\n");
    ok(form && !IsWindowVisible(form), "the dialog shows before any job\n");

    // A null path reads as empty: the locator cannot open it and says so.
    for (const char* path : {static_cast<const char*>(nullptr), ""}) {
        Context context(path ? "empty path" : "null path");
        const JobOutcome outcome = RunJob(plugin, path, [](Dialog& dialog) {
            ExpectItems(dialog, {});
            ok(dialog.Text("archivefile").empty(), "archivefile got \"%s\"\n", dialog.Text("archivefile").c_str());
            ok(dialog.Text("RIPoffset") == "0", "RIPoffset got \"%s\"\n", dialog.Text("RIPoffset").c_str());
            CloseWithEscape(dialog);
        });
        ok(outcome.result == 0, "DoMyJob returned %d\n", outcome.result);
        ok(outcome.before.size() == 1 && outcome.before[0].text.rfind("Except: Cannot open file \"", 0) == 0 &&
               outcome.before[0].icon == Icon::None && outcome.before[0].caption.empty(),
           "got %u boxes, the first \"%s\" with icon %s, expected one \"Except: Cannot open file ...\" without icon\n",
           static_cast<unsigned>(outcome.before.size()), outcome.before.empty() ? "" : outcome.before[0].text.c_str(),
           outcome.before.empty() ? "-" : IconName(outcome.before[0].icon));
    }
}

namespace {

// The form of a freshly loaded plug-in, after one job listed path on it; null
// when either failed.
HWND FormAfterOneJob(Plugin& plugin, const std::string& path) {
    if (!plugin.Loaded()) return nullptr;
    HWND form = FindForm(GetCurrentThreadId());
    ok(form != nullptr, "no dialog after loading\n");
    const JobOutcome outcome = RunJob(plugin, path.c_str(), [](Dialog& dialog) {
        ExpectItems(dialog, {"life.txt"});
        dialog.ClickItem(0);
        WaitUntil([&] { return dialog.Text("Percentage") == "0%"; });
        CloseWithEscape(dialog);
    });
    ok(outcome.shown && outcome.result == 0, "the job did not run: shown %d, result %d\n", outcome.shown,
       outcome.result);
    return form;
}

// Unloading on the dialog's thread takes the dialog and its classes with it.
void UnloadHere(Plugin& plugin, HWND form) {
    const std::string formClass = ClassName(form);
    const HMODULE module = plugin.Module();
    plugin.Unload();
    ok(!IsWindow(form), "the dialog outlived the library\n");
    ok(FindForm(GetCurrentThreadId()) == nullptr, "a dialog remains after unloading\n");
    WNDCLASSEXA description{};
    description.cbSize = sizeof description;
    ok(!GetClassInfoExA(module, formClass.c_str(), &description), "the form's class %s remains registered\n",
       formClass.c_str());
}

}  // namespace

void CaseLifetime(const Options& options) {
    Workspace files;
    const std::string path = files.Write("life.ARC", ArchiveOf({{"life.txt", 10, 10, 0}}));
    // Unloading destroys the dialog; loading again makes a working one,
    // so nothing of the first load lingers (its window classes included).
    for (int round = 1; round <= 3; ++round) {
        Context context("load " + std::to_string(round));
        Plugin plugin(options.dll);
        HWND form = FormAfterOneJob(plugin, path);
        if (!form) return;
        UnloadHere(plugin, form);
    }
}

namespace {

DWORD WINAPI UnloadThread(void* plugin) {
    static_cast<Plugin*>(plugin)->Unload();
    return 0;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM windows) {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

// Top-level windows the form owns: its tooltip.
BOOL CALLBACK CollectOwned(HWND window, LPARAM windows) {
    auto* collected = reinterpret_cast<std::vector<HWND>*>(windows);
    if (GetWindow(window, GW_OWNER) == collected->front()) collected->push_back(window);
    return TRUE;
}

// Messages a window of the thread may get at any time: mouse, keys, fonts,
// colours, painting. A window whose procedure was in the unloaded library
// would take the process down here.
void Disturb(HWND window) {
    SendMessageA(window, WM_NULL, 0, 0);
    SendMessageA(window, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageA(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(40, 40));
    SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(40, 40));
    SendMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0);
    SendMessageA(window, WM_GETFONT, 0, 0);
    HDC dc = GetDC(window);
    SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    SendMessageA(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(window));
    ReleaseDC(window, dc);
    PostMessageA(window, WM_TIMER, 1, 0);
    InvalidateRect(window, nullptr, TRUE);
}

}  // namespace

void CaseUnloadElsewhere(const Options& options) {
    Workspace files;
    const std::string path = files.Write("life.ARC", ArchiveOf({{"life.txt", 10, 10, 0}}));
    // Unloaded from another thread twice, then loaded and unloaded on this one:
    // each load registers its own classes beside the ones left behind.
    for (int round = 1; round <= 3; ++round) {
        Context context("load " + std::to_string(round));
        Plugin plugin(options.dll);
        HWND form = FormAfterOneJob(plugin, path);
        if (!form) return;
        trace("load %d: form class %s\n", round, ClassName(form).c_str());
        if (round == 3) {
            UnloadHere(plugin, form);
            continue;
        }

        std::vector<HWND> windows{form};
        EnumChildWindows(form, &CollectChild, reinterpret_cast<LPARAM>(&windows));
        EnumThreadWindows(GetCurrentThreadId(), &CollectOwned, reinterpret_cast<LPARAM>(&windows));
        HANDLE thread = CreateThread(nullptr, 0, &UnloadThread, &plugin, 0, nullptr);
        const DWORD waited = WaitForSingleObject(thread, 10000);
        ok(waited == WAIT_OBJECT_0, "FreeLibrary on another thread did not return: %lu\n", waited);
        CloseHandle(thread);
        if (waited != WAIT_OBJECT_0) return;
        ok(GetModuleHandleA(options.dll.c_str()) == nullptr, "the library is still mapped\n");

        // The windows stay, hidden, and answer without the library.
        ok(IsWindow(form) && !IsWindowVisible(form), "the form left behind: window %d, visible %d\n",
           IsWindow(form), IsWindowVisible(form));
        for (HWND window : windows) Disturb(window);
        MSG message{};
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        UpdateWindow(form);
        ok(IsWindow(form), "the form left behind went away\n");
        trace("load %d: %u windows left behind and disturbed\n", round, static_cast<unsigned>(windows.size()));
        PassOverForm(form);
    }
}

void CaseRepeat(const Options& options) {
    Workspace files;
    ArchiveBuilder builder;
    for (int i = 0; i < 200; ++i) builder.Add("entry-" + std::to_string(i) + "-with-a-longer-name.dat", 1000 + i, 500, 4);
    const std::string path = files.Write("repeat.ARC", builder.Build());
    Plugin plugin(options.dll);

    constexpr int kJobs = 200;
    constexpr int kWarmUp = 20;
    int windowsAfterWarmUp = 0;
    std::int64_t residentAfterWarmUp = 0;
    for (int job = 1; job <= kJobs; ++job) {
        const JobOutcome outcome = RunJob(plugin, path.c_str(), [&](Dialog& dialog) {
            WaitUntil([&] { return dialog.Count() == 200; });
            // Select something, so the details are filled in each time.
            dialog.ClickItem(job % 10);
            WaitUntil([&] { return dialog.Caret() == job % 10 && dialog.Text("TimeLabel") == "Full Size:"; });
            switch (job % 3) {
            case 0: dialog.Press(VK_ESCAPE); break;
            case 1: dialog.Click(dialog.Control("Button2"), {20, 10}); break;
            default: dialog.ClickCloseBox(); break;
            }
            ok(dialog.WaitClosed(), "job %d: the dialog did not close\n", job);
        });
        if (outcome.result != 0 || !outcome.shown) {
            ok(false, "job %d: shown %d, result %d\n", job, outcome.shown, outcome.result);
            break;
        }
        if (job == kWarmUp) {
            windowsAfterWarmUp = CountProcessWindows();
            residentAfterWarmUp = ResidentBytes();
        }
    }
    const int windows = CountProcessWindows();
    const std::int64_t resident = ResidentBytes();
    trace("windows %d after %d jobs, %d after %d; resident %lld KiB after %d jobs, %lld KiB after %d\n",
          windowsAfterWarmUp, kWarmUp, windows, kJobs, static_cast<long long>(residentAfterWarmUp / 1024), kWarmUp,
          static_cast<long long>(resident / 1024), kJobs);
    ok(windows == windowsAfterWarmUp, "windows got %d after %d jobs, %d after %d\n", windows, kJobs,
       windowsAfterWarmUp, kWarmUp);
    ok(residentAfterWarmUp > 0 && resident > 0, "cannot read the resident size\n");
    // A leak of the listing alone (200 names and records a job) would add
    // megabytes over 180 jobs; allocator noise stays well below this.
    constexpr std::int64_t kSlack = 1024 * 1024;
    ok(resident - residentAfterWarmUp < kSlack, "resident size grew by %lld KiB over %d jobs\n",
       static_cast<long long>((resident - residentAfterWarmUp) / 1024), kJobs - kWarmUp);
}

void CaseBigList(const Options& options) {
    Workspace files;
    constexpr int kEntries = 100000;
    ArchiveBuilder builder;
    char name[32];
    for (int i = 0; i < kEntries; ++i) {
        std::snprintf(name, sizeof name, "file%06d.dat", i);
        builder.Add(name, i, i % 7, 4);  // a few stored bytes each keeps the file small
    }
    const std::string path = files.Write("big.ARC", builder.Build());
    Plugin plugin(options.dll);
    const JobOutcome outcome = RunJob(plugin, path.c_str(), [&](Dialog& dialog) {
        ok(dialog.Count() == kEntries, "got %d items, expected %d\n", dialog.Count(), kEntries);
        ok(dialog.Item(0) == "file000000.dat", "first item got \"%s\"\n", dialog.Item(0).c_str());
        ok(dialog.Item(kEntries - 1) == "file099999.dat", "last item got \"%s\"\n", dialog.Item(kEntries - 1).c_str());
        // The far end of the list, where 16-bit item numbers would wrap.
        dialog.ClickItem(0);
        dialog.Press(VK_END);
        WaitUntil([&] { return dialog.Caret() == kEntries - 1 && dialog.Text("Time") == "98 Kb"; });
        ok(dialog.Caret() == kEntries - 1, "focused item got %d\n", dialog.Caret());
        ok(dialog.Text("Time") == "98 Kb", "Time got \"%s\", expected \"98 Kb\"\n", dialog.Text("Time").c_str());
        POINT last = dialog.ItemPoint(kEntries - 2);
        dialog.Click(dialog.Control("ListBox1"), last);
        WaitUntil([&] { return dialog.Caret() == kEntries - 2; });
        ok(dialog.Caret() == kEntries - 2, "clicked item got %d, expected %d\n", dialog.Caret(), kEntries - 2);
        CloseWithEscape(dialog);
    });
    trace("%d entries: the dialog showed %.3f s after DoMyJob was called (reading the archive included)\n", kEntries,
          outcome.secondsToShow);
}

}  // namespace vexmira::wine_test
