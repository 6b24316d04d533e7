// The user at work: selecting entries, dragging, closing, "About", and the
// dialog shown again and again.

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "form/layout.hpp"
#include "tests/wine/cases.hpp"
#include "tests/wine/check.hpp"

namespace vexmira::wine_test {

using testing::ArchiveBuilder;
using testing::EntrySpec;

namespace {

struct Detail {
    const char* name;
    std::int64_t fullSize;
    std::int64_t compressedSize;
    std::uint8_t method;
    bool locked;
    const char* percentage;
    const char* size;
    int button;  // 0 "None", 1 "RLE", 2 "LZH1", 3 "LZH5"
};

// Each row is one rule of the detail texts.
const Detail kDetails[] = {
    {"alpha.txt", 100000, 25000, 2, false, "75%", "98 Kb", 2},        // first branch of the ratio
    {"beta.txt", 100001, 25000, 0, false, "75%", "98 Kb", 0},         // second branch: 25000 div 1000
    {"empty.txt", 0, 0, 1, true, "(empty) (locked)", "0 Kb", 1},      // nothing to compress
    {"grown.bin", 1000, 1500, 3, false, "-50%", "1 Kb", 3},          // stored larger than it is
    {"small.txt", 511, 100, 4, false, "81%", "0 Kb", 3},             // 511 rounds down
    {"half.txt", 512, 256, 200, false, "50%", "1 Kb", 3},            // 512 rounds up; any method above 3
    {"locked.dat", 2048, 1024, 1, true, "50% (locked)", "2 Kb", 1},
    {"huge.iso", 3000000000LL, 1500000000LL, 4, false, "50%", "2929688 Kb", 3},  // 64-bit sizes
};
constexpr int kDetailCount = static_cast<int>(std::size(kDetails));

ArchiveBuilder DetailArchive() {
    ArchiveBuilder builder;
    for (const Detail& detail : kDetails) {
        EntrySpec entry;
        entry.name = detail.name;
        entry.full_size = detail.fullSize;
        entry.compressed_size = detail.compressedSize;
        entry.method = detail.method;
        entry.flags = detail.locked ? 1 : 0;
        // The last entry's data is not there: it is listed, and the walk ends.
        if (detail.fullSize > 0x7FFFFFFF) entry.data_bytes = 0;
        builder.Add(entry);
    }
    return builder;
}

bool ShowsDetail(const Dialog& dialog, const Detail& detail) {
    return dialog.Text("Percentage") == detail.percentage && dialog.Text("Time") == detail.size &&
           dialog.CheckedMethod() == detail.button;
}

// Waits for the details of row index, then checks every part of them.
void ExpectDetail(const Dialog& dialog, int index) {
    const Detail& detail = kDetails[index];
    Context context(std::string("entry ") + detail.name);
    WaitUntil([&] { return dialog.Caret() == index && ShowsDetail(dialog, detail); });
    ok(dialog.Caret() == index, "focused item got %d, expected %d\n", dialog.Caret(), index);
    ok(dialog.Text("Percentage") == detail.percentage, "Percentage got \"%s\", expected \"%s\"\n",
       dialog.Text("Percentage").c_str(), detail.percentage);
    ok(dialog.Text("Time") == detail.size, "Time got \"%s\", expected \"%s\"\n", dialog.Text("Time").c_str(),
       detail.size);
    ok(dialog.CheckedMethod() == detail.button, "method button got %d, expected %d\n", dialog.CheckedMethod(),
       detail.button);
    ok(dialog.Text("TimeLabel") == form::kTimeLabelSelected, "TimeLabel got \"%s\"\n",
       dialog.Text("TimeLabel").c_str());
}

std::string SelectionText(const std::vector<int>& selection) {
    std::string text;
    for (int index : selection) text += std::to_string(index) + " ";
    return text;
}

void ExpectSelection(const Dialog& dialog, const std::vector<int>& expected) {
    ok(dialog.Selection() == expected, "selection got [ %s], expected [ %s]\n",
       SelectionText(dialog.Selection()).c_str(), SelectionText(expected).c_str());
}

HCURSOR CurrentCursor() {
    CURSORINFO info{};
    info.cbSize = sizeof info;
    GetCursorInfo(&info);
    return info.hCursor;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM windows) {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

// An HDROP naming one file, as the shell hands it over; the receiver frees it.
HGLOBAL DropOf(const std::string& path) {
    const std::size_t bytes = sizeof(DROPFILES) + path.size() + 2;
    HGLOBAL memory = GlobalAlloc(GHND, bytes);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    path.copy(reinterpret_cast<char*>(drop + 1), path.size());
    GlobalUnlock(memory);
    return memory;
}

// The dialog accepts no dropped files or data: no window asks for them, and
// files dropped all the same change nothing.
void ExpectNoDrops(const Dialog& dialog, const std::string& dropped) {
    Context context("dropped files");
    std::vector<HWND> windows = {dialog.Form()};
    EnumChildWindows(dialog.Form(), CollectWindow, reinterpret_cast<LPARAM>(&windows));
    ok(windows.size() > form::kControls.size(), "found %u windows\n", static_cast<unsigned>(windows.size()));
    for (HWND window : windows) {
        ok(!(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES), "%s \"%s\" accepts dropped files\n",
           ClassName(window).c_str(), WindowText(window).c_str());
        ok(GetPropA(window, "OleDropTargetInterface") == nullptr, "%s \"%s\" is a drop target\n",
           ClassName(window).c_str(), WindowText(window).c_str());
    }
    const std::vector<std::string> items = dialog.Items();
    const std::string listed = dialog.Text("archivefile");
    for (HWND target : {dialog.Form(), dialog.Control("ListBox1"), dialog.Control("ArchiveGroup")}) {
        HGLOBAL drop = DropOf(dropped);
        PostMessageA(target, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
        Settle(dialog.Form());
        ok(dialog.Items() == items, "the list changed to \"%s\"\n", Join(dialog.Items()).c_str());
        ok(dialog.Text("archivefile") == listed, "archivefile changed to \"%s\"\n", dialog.Text("archivefile").c_str());
        ok(FindMessageBox(dialog.Thread()) == nullptr, "a message box came up\n");
        GlobalFree(drop);
    }
}

}  // namespace

void CaseDetails(const Options& options) {
    Workspace files;
    Plugin plugin(options.dll);
    const std::string path = files.Write("details.ARC", DetailArchive().Build());
    const COLORREF white = RGB(255, 255, 255);

    RunJob(plugin, path.c_str(), [&](Dialog& dialog) {
        std::vector<std::string> names;
        for (const Detail& detail : kDetails) names.push_back(detail.name);
        ExpectItems(dialog, names);

        {
            Context context("click");
            dialog.ClickItem(0);
            ExpectDetail(dialog, 0);
            ExpectSelection(dialog, {0});
            for (const char* name : {"Percentage", "Time", "CMethod"})
                ok(dialog.Background(name) == white, "%s background got %06lx, expected white\n", name,
                   dialog.Background(name));
        }
        {
            Context context("arrow keys");
            for (int index = 1; index < kDetailCount; ++index) {
                dialog.Press(VK_DOWN);
                ExpectDetail(dialog, index);
                ExpectSelection(dialog, {index});
            }
            dialog.Press(VK_UP);
            ExpectDetail(dialog, kDetailCount - 2);
            dialog.Press(VK_HOME);
            ExpectDetail(dialog, 0);
        }
        {
            // With several selected, the focused item counts.
            Context context("extended selection");
            dialog.ClickItem(2);
            ExpectDetail(dialog, 2);
            dialog.ClickItem(4, {.shift = true});
            ExpectDetail(dialog, 4);
            ExpectSelection(dialog, {2, 3, 4});
            dialog.ClickItem(6, {.ctrl = true});
            ExpectDetail(dialog, 6);
            ExpectSelection(dialog, {2, 3, 4, 6});
        }
        {
            // Pressing on a selected item starts a drag instead, whatever keys
            // are held: nothing changes.
            struct Press {
                const char* Label;
                int Index;
                Modifiers Keys;
            };
            const Press presses[] = {{"plain", 3, {}},
                                     {"Shift", 2, {.shift = true}},
                                     {"Ctrl", 4, {.ctrl = true}},
                                     {"Shift+Ctrl", 6, {.shift = true, .ctrl = true}}};
            for (const Press& press : presses) {
                Context context(std::string("click on a selected item, ") + press.Label);
                dialog.ClickItem(press.Index, press.Keys);
                Settle(dialog.Form());
                ExpectSelection(dialog, {2, 3, 4, 6});
                ok(dialog.Caret() == 6, "focused item got %d, expected 6\n", dialog.Caret());
                ok(ShowsDetail(dialog, kDetails[6]), "details changed to \"%s\" \"%s\"\n",
                   dialog.Text("Percentage").c_str(), dialog.Text("Time").c_str());
            }
        }
        {
            // The user may pick a method by hand; nothing reacts to that.
            Context context("CMethod by hand");
            const std::vector<std::string> texts = {dialog.Text("Percentage"), dialog.Text("Time"),
                                                    dialog.Text("TimeLabel"), dialog.Text("RIPoffset"),
                                                    dialog.Text("archivefile")};
            for (std::size_t button : {std::size_t{0}, std::size_t{3}}) {
                RECT rect{};
                GetClientRect(dialog.MethodButton(button), &rect);
                dialog.Click(dialog.MethodButton(button), {8, rect.bottom / 2});
                WaitUntil([&] { return dialog.CheckedMethod() == static_cast<int>(button); });
                ok(dialog.CheckedMethod() == static_cast<int>(button), "checked button got %d, expected %u\n",
                   dialog.CheckedMethod(), static_cast<unsigned>(button));
                Settle(dialog.Form());
                const std::vector<std::string> now = {dialog.Text("Percentage"), dialog.Text("Time"),
                                                      dialog.Text("TimeLabel"), dialog.Text("RIPoffset"),
                                                      dialog.Text("archivefile")};
                ok(now == texts, "the texts changed to \"%s\"\n", Join(now).c_str());
                ExpectSelection(dialog, {2, 3, 4, 6});
                ok(dialog.Caret() == 6, "focused item got %d, expected 6\n", dialog.Caret());
                ok(FindMessageBox(dialog.Thread()) == nullptr, "a message box came up\n");
                ok(dialog.Visible(), "the dialog closed\n");
            }
            // A selection still shows its details, method included.
            dialog.ClickItem(0);
            ExpectDetail(dialog, 0);
            dialog.ClickItem(6);
            ExpectDetail(dialog, 6);
        }
        ExpectNoDrops(dialog, files.Write("dropped.ARC", ArchiveOf({{"dropped.txt", 10, 10, 1}})));
        CloseWithEscape(dialog);
    });

    // Another showing with nothing to list: the details stay from the last
    // selection, and clicking the empty list changes nothing.
    const std::string missing = files.Path("missing.ARC");
    RunJob(plugin, missing.c_str(), [&](Dialog& dialog) {
        Context context("empty list");
        ExpectItems(dialog, {});
        ok(ShowsDetail(dialog, kDetails[6]), "details got \"%s\" \"%s\", expected those of the last showing\n",
           dialog.Text("Percentage").c_str(), dialog.Text("Time").c_str());
        dialog.Click(dialog.Control("ListBox1"), {40, 40});
        dialog.Press(VK_DOWN);
        Settle(dialog.Form());
        ok(ShowsDetail(dialog, kDetails[6]), "details changed to \"%s\" \"%s\"\n", dialog.Text("Percentage").c_str(),
           dialog.Text("Time").c_str());
        ExpectSelection(dialog, {});
        CloseWithEscape(dialog);
    });
}

void CaseDrag(const Options& options) {
    Workspace files;
    Plugin plugin(options.dll);
    const std::string path = files.Write("drag.ARC", DetailArchive().Build());
    const HCURSOR noDrop = LoadCursorA(nullptr, IDC_NO);

    RunJob(plugin, path.c_str(), [&](Dialog& dialog) {
        HWND list = dialog.Control("ListBox1");
        struct Source {
            const char* name;
            HWND window;
            POINT press;
        };
        // The gap between the list box and the right-hand panels belongs to the group alone.
        const Source sources[] = {
            {"ArchiveGroup", dialog.Control("ArchiveGroup"), {339, 200}},
            {"ArchiveLabel", dialog.Control("ArchiveLabel"), {5, 5}},
            {"ListBox1 on a selected item", list, dialog.ItemPoint(1)},
        };
        dialog.ClickItem(1);
        ExpectDetail(dialog, 1);

        for (const Source& source : sources) {
            Context context(source.name);
            dialog.MouseDown(source.window, source.press);
            ok(WaitUntil([&] { return dialog.Capture() == source.window; }),
               "the mouse is held by %p, expected the drag source %p\n", static_cast<void*>(dialog.Capture()),
               static_cast<void*>(source.window));
            dialog.MouseMove(source.window, {source.press.x + 3, source.press.y + 30});
            ok(WaitUntil([&] { return CurrentCursor() == noDrop; }), "the cursor is %p while dragging, expected no-drop %p\n",
               static_cast<void*>(CurrentCursor()), static_cast<void*>(noDrop));
            dialog.MouseUp(source.window, {source.press.x + 3, source.press.y + 30});
            ok(WaitUntil([&] { return dialog.Capture() == nullptr; }), "the mouse is still held by %p after release\n",
               static_cast<void*>(dialog.Capture()));
            ExpectSelection(dialog, {1});
            ok(ShowsDetail(dialog, kDetails[1]), "details changed to \"%s\"\n", dialog.Text("Percentage").c_str());
            ok(dialog.Visible(), "the dialog closed\n");
        }
        {
            // A press on another item selects it, and moving on drags rather
            // than extends the selection. The list box reports a mouse
            // selection when the button goes up, so the details follow then.
            Context context("ListBox1 on an unselected item");
            const POINT press = dialog.ItemPoint(3);
            dialog.MouseDown(list, press);
            WaitUntil([&] { return dialog.Selection() == std::vector<int>{3}; });
            ExpectSelection(dialog, {3});
            dialog.MouseMove(list, {press.x, press.y + 40});
            ok(WaitUntil([&] { return CurrentCursor() == noDrop; }), "the cursor is %p while dragging\n",
               static_cast<void*>(CurrentCursor()));
            dialog.MouseUp(list, {press.x, press.y + 40});
            ok(WaitUntil([&] { return dialog.Capture() == nullptr; }), "the mouse is still held after release\n");
            ExpectDetail(dialog, 3);
            ExpectSelection(dialog, {3});
        }
        {
            // Shift and Ctrl on an unselected item extend the selection, and
            // moving on drags it rather than extending it further.
            struct Press {
                const char* Label;
                int Index;
                Modifiers Keys;
                std::vector<int> Selection;
            };
            const Press presses[] = {{"Shift", 5, {.shift = true}, {3, 4, 5}}, {"Ctrl", 1, {.ctrl = true}, {1, 3, 4, 5}}};
            for (const Press& press : presses) {
                Context context(std::string("ListBox1 on an unselected item, ") + press.Label);
                const POINT at = dialog.ItemPoint(press.Index);
                dialog.MouseDown(list, at, press.Keys);
                WaitUntil([&] { return dialog.Selection() == press.Selection; });
                ExpectSelection(dialog, press.Selection);
                dialog.MouseMove(list, {at.x, at.y + 40});
                ok(WaitUntil([&] { return CurrentCursor() == noDrop; }), "the cursor is %p while dragging\n",
                   static_cast<void*>(CurrentCursor()));
                dialog.MouseUp(list, {at.x, at.y + 40}, press.Keys);
                ok(WaitUntil([&] { return dialog.Capture() == nullptr; }), "the mouse is still held after release\n");
                ExpectDetail(dialog, press.Index);
                ExpectSelection(dialog, press.Selection);
            }
        }
        {
            // Label2 lies on the group but starts no drag of its own or the group's.
            Context context("Label2");
            HWND label = dialog.Control("Label2");
            dialog.MouseDown(label, {5, 5});
            Settle(dialog.Form());
            ok(dialog.Capture() == nullptr, "the mouse is held by %p after a press on Label2\n",
               static_cast<void*>(dialog.Capture()));
            dialog.MouseMove(label, {8, 35});
            Settle(dialog.Form());
            ok(CurrentCursor() != noDrop, "a press on Label2 started a drag\n");
            dialog.MouseUp(label, {8, 35});
            Settle(dialog.Form());
            ExpectSelection(dialog, {1, 3, 4, 5});
        }
        CloseWithEscape(dialog);
    });
}

void CaseClosing(const Options& options) {
    Workspace files;
    Plugin plugin(options.dll);
    const std::string path = files.Write("close.ARC", DetailArchive().Build());
    struct Row {
        const char* how;
        void (*close)(const Dialog&);
    };
    const Row rows[] = {
        {"Escape in the list", [](const Dialog& dialog) { dialog.Press(VK_ESCAPE); }},
        {"Escape in the path field",
         [](const Dialog& dialog) {
             // The form sees the key first, whichever control has the focus.
             dialog.Click(dialog.Control("archivefile"), {30, 10});
             WaitUntil([&] { return dialog.Focus() == dialog.Control("archivefile"); });
             ok(dialog.Focus() == dialog.Control("archivefile"), "the path field did not take the focus\n");
             dialog.Press(VK_ESCAPE);
         }},
        {"Exit", [](const Dialog& dialog) { dialog.Click(dialog.Control("Button2"), {20, 10}); }},
        {"close box", [](const Dialog& dialog) { dialog.ClickCloseBox(); }},
        // Sent, not posted, once the dialog is idle: it runs inside the modal
        // loop's wait, and nothing follows that would wake the loop.
        {"WM_CLOSE sent from another thread",
         [](const Dialog& dialog) {
             Settle(dialog.Form());
             SendMessageA(dialog.Form(), WM_CLOSE, 0, 0);
         }},
    };
    for (const Row& row : rows) {
        Context context(row.how);
        const JobOutcome outcome = RunJob(plugin, path.c_str(), [&](Dialog& dialog) {
            row.close(dialog);
            ok(dialog.WaitClosed(), "the dialog is still showing\n");
        });
        ok(outcome.result == 0, "DoMyJob returned %d, expected 0\n", outcome.result);
    }
    {
        // No button is a default one: Enter in the list does nothing special.
        Context context("Enter");
        RunJob(plugin, path.c_str(), [&](Dialog& dialog) {
            dialog.Press(VK_RETURN);
            Settle(dialog.Form());
            ok(dialog.Visible(), "Enter closed the dialog\n");
            ok(FindMessageBox(dialog.Thread()) == nullptr, "Enter brought up a message box\n");
            CloseWithEscape(dialog);
        });
    }
}

void CaseAbout(const Options& options) {
    Workspace files;
    Plugin plugin(options.dll);
    const std::string path = files.Write("about.ARC", DetailArchive().Build());
    auto topmost = [](const Dialog& dialog) { return (GetWindowLongA(dialog.Form(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; };

    RunJob(plugin, path.c_str(), [&](Dialog& dialog) {
        ok(topmost(dialog), "the dialog does not stay on top\n");
        dialog.Click(dialog.Control("Button1"), {20, 10});
        const auto box = dialog.TakeMessageBox();
        ok(box.has_value(), "About showed no message box\n");
        if (box) {
            ok(box->text.find("Vexmira") != std::string::npos && box->text.find("Orvel") != std::string::npos,
               "credit text got \"%s\"\n", box->text.c_str());
            ok(box->caption.empty(), "caption got \"%s\"\n", box->caption.c_str());
            ok(box->icon == Icon::None, "icon got %s, expected none\n", IconName(box->icon));
            ok(box->buttons == std::vector<std::string>{"OK"}, "buttons got %s\n", Join(box->buttons).c_str());
            ok(box->centred, "the box is not centred on the screen\n");
        }
        ok(!topmost(dialog), "the dialog still stays on top after About\n");
        ok(dialog.Visible(), "About closed the dialog\n");
        CloseWithEscape(dialog);
    });
    // For good: the next showing is a normal window too.
    RunJob(plugin, path.c_str(), [&](Dialog& dialog) {
        ok(!topmost(dialog), "the next showing stays on top again\n");
        CloseWithEscape(dialog);
    });
}

void CaseTwoJobs(const Options& options) {
    Workspace files;
    Plugin plugin(options.dll);
    const testing::Bytes first = ArchiveOf({{"one.txt", 4000, 1000, 1}, {"two.txt", 100, 100, 0}});
    const std::string carrier = files.Write("first.exe", testing::Carrier(2000, first, 0));
    const std::string second = files.Write("second.ARC",
                                           ArchiveOf({{"x.bin", 10, 5, 2}, {"y.bin", 20, 5, 2}, {"z.bin", 0, 0, 2}}));
    POINT moved{};
    int carrierSize = static_cast<int>(testing::Carrier(2000, first, 0).size());

    RunJob(plugin, carrier.c_str(), [&](Dialog& dialog) {
        ExpectItems(dialog, {"one.txt", "two.txt"});
        dialog.ClickItem(0);
        WaitUntil([&] { return dialog.Text("Percentage") == "75%"; });
        ok(dialog.Text("Percentage") == "75%", "Percentage got \"%s\"\n", dialog.Text("Percentage").c_str());
        // Later showings leave the window where it was.
        RECT frame{};
        GetWindowRect(dialog.Form(), &frame);
        moved = {frame.left - 100, frame.top + 40};
        SetWindowPos(dialog.Form(), nullptr, moved.x, moved.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        CloseWithEscape(dialog);
    });
    const JobOutcome outcome = RunJob(plugin, second.c_str(), [&](Dialog& dialog) {
        ExpectItems(dialog, {"x.bin", "y.bin", "z.bin"});
        ok(dialog.Text("archivefile") == second, "archivefile got \"%s\"\n", dialog.Text("archivefile").c_str());
        ok(dialog.Text("RIPoffset") == "0", "RIPoffset got \"%s\"\n", dialog.Text("RIPoffset").c_str());
        // What FormShow does not reset keeps its value.
        ok(dialog.Text("Percentage") == "75%" && dialog.Text("Time") == "4 Kb" &&
               dialog.Text("TimeLabel") == form::kTimeLabelSelected && dialog.CheckedMethod() == 1,
           "details got \"%s\" \"%s\" \"%s\" button %d, expected those of the first showing\n",
           dialog.Text("Percentage").c_str(), dialog.Text("Time").c_str(), dialog.Text("TimeLabel").c_str(),
           dialog.CheckedMethod());
        ok(dialog.Background("Percentage") == RGB(255, 255, 255), "Percentage is no longer white\n");
        ok(dialog.ProgressPosition() == carrierSize && dialog.ProgressRange().iHigh == carrierSize,
           "bar got %d of %d, expected the first showing's %d\n", dialog.ProgressPosition(),
           dialog.ProgressRange().iHigh, carrierSize);
        RECT frame{};
        GetWindowRect(dialog.Form(), &frame);
        ok(frame.left == moved.x && frame.top == moved.y, "window at %ld,%ld, expected %ld,%ld\n", frame.left,
           frame.top, moved.x, moved.y);
        dialog.ClickItem(2);
        WaitUntil([&] { return dialog.Text("Percentage") == "(empty)"; });
        ok(dialog.Text("Percentage") == "(empty)", "Percentage got \"%s\"\n", dialog.Text("Percentage").c_str());
        CloseWithEscape(dialog);
    });
    ok(outcome.result == 0, "DoMyJob returned %d\n", outcome.result);
}

namespace {

// A window of the host on the plug-in's thread, which asks for a second job
// from inside the running one when told to.
struct HostWindow {
    static constexpr UINT kAskAgain = WM_APP + 1;
    static inline Plugin* plugin = nullptr;
    static inline std::string path;
    static inline volatile LONG answered = 0;
    static inline std::int32_t result = -1;

    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == kAskAgain) {
            result = plugin->DoMyJob(0, path.c_str());
            InterlockedExchange(&answered, 1);
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
};

}  // namespace

void CaseModality(const Options& options) {
    Workspace files;
    Plugin plugin(options.dll);
    const std::string first = files.Write("first.ARC", ArchiveOf({{"first.txt", 10, 10, 0}}));
    const std::string second = files.Write("second.ARC", ArchiveOf({{"second.txt", 10, 10, 0}}));

    WNDCLASSA description{};
    description.lpfnWndProc = &HostWindow::Proc;
    description.hInstance = GetModuleHandleA(nullptr);
    description.lpszClassName = "VexmiraTestHost";
    RegisterClassA(&description);
    HWND host = CreateWindowExA(0, "VexmiraTestHost", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200,
                                nullptr, nullptr, description.hInstance, nullptr);
    HostWindow::plugin = &plugin;
    HostWindow::path = second;

    const JobOutcome outcome = RunJob(plugin, first.c_str(), [&](Dialog& dialog) {
        ok(!IsWindowEnabled(host), "the host's window takes input while the dialog is modal\n");
        {
            Context context("from another thread");
            const ULONGLONG start = GetTickCount64();
            const std::int32_t result = plugin.DoMyJob(0, second.c_str());
            ok(result == 0, "DoMyJob returned %d\n", result);
            ok(GetTickCount64() - start < 2000, "DoMyJob took %llu ms\n", GetTickCount64() - start);
        }
        {
            Context context("nested on the dialog's thread");
            PostMessageA(host, HostWindow::kAskAgain, 0, 0);
            ok(WaitUntil([] { return HostWindow::answered != 0; }), "the nested DoMyJob did not return\n");
            ok(HostWindow::result == 0, "DoMyJob returned %d\n", HostWindow::result);
        }
        Settle(dialog.Form());
        ok(FindMessageBox(dialog.Thread()) == nullptr, "a message box came up\n");
        ok(dialog.Visible(), "the dialog went away\n");
        ok(dialog.Text("archivefile") == first, "archivefile got \"%s\"\n", dialog.Text("archivefile").c_str());
        ExpectItems(dialog, {"first.txt"});
        CloseWithEscape(dialog);
    });
    ok(outcome.result == 0, "DoMyJob returned %d\n", outcome.result);
    ok(IsWindowEnabled(host), "the host's window stays disabled after the dialog closed\n");
    DestroyWindow(host);

    // Nothing of the declined calls stuck: the next job runs as usual.
    RunJob(plugin, second.c_str(), [&](Dialog& dialog) {
        ExpectItems(dialog, {"second.txt"});
        CloseWithEscape(dialog);
    });
}

}  // namespace vexmira::wine_test
