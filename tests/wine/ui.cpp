#include "tests/wine/ui.hpp"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <algorithm>

#include "form/layout.hpp"
#include "tests/wine/check.hpp"

namespace vexmira::wine_test {

Plugin::Plugin(const std::string& path) {
    module_ = LoadLibraryA(path.c_str());
    ok(module_ != nullptr, "LoadLibrary(%s) failed, error %lu\n", path.c_str(), GetLastError());
    if (!module_) return;
    LoadDll = reinterpret_cast<LoadDllFunction>(reinterpret_cast<void*>(GetProcAddress(module_, "LoadDll")));
    DoMyJob = reinterpret_cast<DoMyJobFunction>(reinterpret_cast<void*>(GetProcAddress(module_, "DoMyJob")));
    About = reinterpret_cast<AboutFunction>(reinterpret_cast<void*>(GetProcAddress(module_, "About")));
    ok(LoadDll && DoMyJob && About, "exports missing: LoadDll %p, DoMyJob %p, About %p\n",
       reinterpret_cast<void*>(LoadDll), reinterpret_cast<void*>(DoMyJob), reinterpret_cast<void*>(About));
}

Plugin::~Plugin() { Unload(); }

void Plugin::Unload() {
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
    LoadDll = nullptr;
    DoMyJob = nullptr;
    About = nullptr;
}

const char* IconName(Icon icon) {
    switch (icon) {
    case Icon::None: return "none";
    case Icon::Error: return "error";
    case Icon::Information: return "information";
    case Icon::Warning: return "warning";
    case Icon::Question: return "question";
    case Icon::Other: return "other";
    }
    return "?";
}

std::string WindowText(HWND window) {
    const LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const LRESULT got = SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(got));
    return text;
}

std::string ClassName(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

namespace {

struct ThreadSearch {
    const char* className;
    HWND found = nullptr;
};

BOOL CALLBACK FindVisibleOfClass(HWND window, LPARAM state) {
    auto* search = reinterpret_cast<ThreadSearch*>(state);
    if (IsWindowVisible(window) && ClassName(window) == search->className) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Forms an unloaded library left behind; FindForm passes over them.
std::vector<HWND> leftForms;
SRWLOCK leftFormsLock = SRWLOCK_INIT;

bool LeftBehind(HWND window) {
    AcquireSRWLockShared(&leftFormsLock);
    const bool found = std::find(leftForms.begin(), leftForms.end(), window) != leftForms.end();
    ReleaseSRWLockShared(&leftFormsLock);
    return found;
}

BOOL CALLBACK FindFormOfThread(HWND window, LPARAM state) {
    auto* found = reinterpret_cast<HWND*>(state);
    if (WindowText(window) == form::kFormCaption && !LeftBehind(window)) {
        *found = window;
        return FALSE;
    }
    return TRUE;
}

struct ChildSearch {
    int id;
    HWND found = nullptr;
};

BOOL CALLBACK FindChildById(HWND window, LPARAM state) {
    auto* search = reinterpret_cast<ChildSearch*>(state);
    if (GetDlgCtrlID(window) == search->id) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CountChild(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND window, LPARAM count) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId()) return TRUE;
    ++*reinterpret_cast<int*>(count);
    EnumChildWindows(window, &CountChild, count);
    return TRUE;
}

void SendInputs(std::vector<INPUT>& inputs) {
    const UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    ok(sent == inputs.size(), "SendInput delivered %u of %u inputs\n", sent, static_cast<unsigned>(inputs.size()));
}

INPUT KeyInput(WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
    switch (key) {
    case VK_UP: case VK_DOWN: case VK_LEFT: case VK_RIGHT:
    case VK_HOME: case VK_END: case VK_PRIOR: case VK_NEXT:
        input.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
        break;
    default:
        break;
    }
    if (up) input.ki.dwFlags |= KEYEVENTF_KEYUP;
    return input;
}

INPUT MouseInput(POINT screen, DWORD flags) {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT input{};
    input.type = INPUT_MOUSE;
    // Normalised to 0..65535, rounded up so that it maps back onto the pixel.
    input.mi.dx = (screen.x * 65536 + width - 1) / width;
    input.mi.dy = (screen.y * 65536 + height - 1) / height;
    input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
    return input;
}

// Moves the pointer and waits until the system has it there, so that a
// following press cannot land where the pointer was before.
void MoveMouse(POINT screen) {
    std::vector<INPUT> inputs{MouseInput(screen, MOUSEEVENTF_MOVE)};
    SendInputs(inputs);
    POINT at{};
    WaitUntil([&] { return GetCursorPos(&at) && at.x == screen.x && at.y == screen.y; }, 2000);
    Sleep(20);
}

void AddModifiers(std::vector<INPUT>& inputs, Modifiers modifiers, bool up) {
    if (modifiers.shift) inputs.push_back(KeyInput(VK_SHIFT, up));
    if (modifiers.ctrl) inputs.push_back(KeyInput(VK_CONTROL, up));
}

POINT ToScreen(HWND window, POINT client) {
    ClientToScreen(window, &client);
    return client;
}

}  // namespace

void PassOverForm(HWND form) {
    AcquireSRWLockExclusive(&leftFormsLock);
    leftForms.push_back(form);
    ReleaseSRWLockExclusive(&leftFormsLock);
}

HWND FindForm(DWORD thread) {
    HWND found = nullptr;
    EnumThreadWindows(thread, &FindFormOfThread, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND FindMessageBox(DWORD thread) {
    ThreadSearch search{"#32770"};
    EnumThreadWindows(thread, &FindVisibleOfClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

MessageBoxSeen ReadMessageBox(HWND box) {
    MessageBoxSeen seen;
    seen.caption = WindowText(box);
    seen.text = WindowText(GetDlgItem(box, 0xFFFF));
    GetWindowRect(box, &seen.rect);
    const int centreX = (seen.rect.left + seen.rect.right) / 2;
    const int centreY = (seen.rect.top + seen.rect.bottom) / 2;
    seen.centred = std::abs(centreX - GetSystemMetrics(SM_CXSCREEN) / 2) <= 1 &&
                   std::abs(centreY - GetSystemMetrics(SM_CYSCREEN) / 2) <= 1;

    seen.icon = Icon::None;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        const std::string name = ClassName(child);
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        if (name == "Button") seen.buttons.push_back(WindowText(child));
        if (name != "Static" || (style & SS_TYPEMASK) != SS_ICON) continue;
        // The box uses the system's shared icons, so the handles compare.
        const auto icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
        if (icon == nullptr) continue;
        if (icon == LoadIconA(nullptr, IDI_ERROR)) seen.icon = Icon::Error;
        else if (icon == LoadIconA(nullptr, IDI_INFORMATION)) seen.icon = Icon::Information;
        else if (icon == LoadIconA(nullptr, IDI_WARNING)) seen.icon = Icon::Warning;
        else if (icon == LoadIconA(nullptr, IDI_QUESTION)) seen.icon = Icon::Question;
        else seen.icon = Icon::Other;
    }
    return seen;
}

bool DismissMessageBox(HWND box) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    return WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); });
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() > deadline) return false;
        Sleep(10);
    }
}

void Settle(HWND window) {
    // Sent messages are handled only when the thread looks for messages, which
    // it does after it has worked through what was queued before them.
    for (int i = 0; i < 3; ++i) {
        Sleep(60);
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &ignored);
    }
}

int CountProcessWindows() {
    int count = 0;
    EnumWindows(&CountTopLevel, reinterpret_cast<LPARAM>(&count));
    return count;
}

namespace {

// The Linux process id of this Wine process. Wine opens files in its server,
// so "Z:\\proc\\self" would be the server's; ask the kernel directly instead.
long UnixProcessId() {
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") == nullptr) return -1;
    long pid = -1;
    asm volatile("syscall" : "=a"(pid) : "a"(39L /* getpid */) : "rcx", "r11", "memory");
    return pid;
}

}  // namespace

std::int64_t ResidentBytes() {
    // Wine's own counters (GetProcessMemoryInfo and the like) are stubs.
    const long pid = UnixProcessId();
    if (pid <= 0) return -1;
    const std::string proc = "Z:\\proc\\" + std::to_string(pid) + "\\";
    char name[64] = {};
    if (std::FILE* file = std::fopen((proc + "comm").c_str(), "r")) {
        if (!std::fgets(name, sizeof name, file)) name[0] = 0;
        std::fclose(file);
    }
    ok(std::strncmp(name, "vexmira_wine", 12) == 0, "process %ld is \"%s\", not this host\n", pid, name);
    std::FILE* file = std::fopen((proc + "statm").c_str(), "r");
    if (!file) return -1;
    long long size = 0, resident = 0;
    const int got = std::fscanf(file, "%lld %lld", &size, &resident);
    std::fclose(file);
    return got == 2 ? resident * 4096 : -1;
}

std::string WindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string windows = "Z:" + path;
    for (char& c : windows)
        if (c == '/') c = '\\';
    return windows;
}

HWND Dialog::Control(std::string_view name) const {
    const auto row = form::FindControl(name);
    if (!row) return nullptr;
    ChildSearch search{form::ControlId(*row)};
    EnumChildWindows(form_, &FindChildById, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND Dialog::MethodButton(std::size_t index) const {
    return GetDlgItem(Control("CMethod"), form::MethodButtonId(index));
}

int Dialog::Count() const { return static_cast<int>(SendMessageA(Control("ListBox1"), LB_GETCOUNT, 0, 0)); }

std::string Dialog::Item(int index) const {
    HWND list = Control("ListBox1");
    const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0) return "<no item>";
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const LRESULT got = SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
    return text;
}

std::vector<std::string> Dialog::Items() const {
    std::vector<std::string> items;
    const int count = Count();
    for (int i = 0; i < count; ++i) items.push_back(Item(i));
    return items;
}

int Dialog::Caret() const { return static_cast<int>(SendMessageA(Control("ListBox1"), LB_GETCARETINDEX, 0, 0)); }

std::vector<int> Dialog::Selection() const {
    HWND list = Control("ListBox1");
    const LRESULT count = SendMessageA(list, LB_GETSELCOUNT, 0, 0);
    std::vector<int> selection(count > 0 ? static_cast<std::size_t>(count) : 0);
    if (count > 0) SendMessageA(list, LB_GETSELITEMS, static_cast<WPARAM>(count), reinterpret_cast<LPARAM>(selection.data()));
    return selection;
}

int Dialog::CheckedMethod() const {
    int checked = -1;
    for (std::size_t i = 0; i < form::kMethodButtons.size(); ++i)
        if (SendMessageA(MethodButton(i), BM_GETCHECK, 0, 0) == BST_CHECKED) {
            if (checked != -1) return -2;  // more than one
            checked = static_cast<int>(i);
        }
    return checked;
}

int Dialog::ProgressPosition() const {
    return static_cast<int>(SendMessageA(Control("Loading_Bar"), PBM_GETPOS, 0, 0));
}

PBRANGE Dialog::ProgressRange() const {
    PBRANGE range{};
    SendMessageA(Control("Loading_Bar"), PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    return range;
}

COLORREF Dialog::Background(std::string_view name) const {
    HWND control = Control(name);
    // A group's colours are those it hands its buttons.
    if (name == "CMethod") control = MethodButton(0);
    UINT message = WM_CTLCOLORSTATIC;
    const std::string kind = ClassName(control);
    if (kind == "ListBox") message = WM_CTLCOLORLISTBOX;
    HDC dc = CreateCompatibleDC(nullptr);
    const auto brush = reinterpret_cast<HBRUSH>(
        SendMessageA(GetParent(control), message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control)));
    const COLORREF text = GetBkColor(dc);
    DeleteDC(dc);
    LOGBRUSH description{};
    if (brush == nullptr || GetObjectA(brush, sizeof description, &description) == 0) return CLR_INVALID;
    ok(description.lbColor == text, "%.*s: brush %06lx differs from text background %06lx\n",
       static_cast<int>(name.size()), name.data(), description.lbColor, text);
    return description.lbColor;
}

HWND Dialog::Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(thread_, &info);
    return info.hwndFocus;
}

HWND Dialog::Capture() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(thread_, &info);
    return info.hwndCapture;
}

void Dialog::MakeForeground() const {
    auto active = [&] {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        return GetForegroundWindow() == form_ && GetGUIThreadInfo(thread_, &info) && info.hwndActive == form_;
    };
    if (active()) return;
    SetForegroundWindow(form_);
    ok(WaitUntil(active), "the dialog did not come to the foreground\n");
}

POINT Dialog::ItemPoint(int index) const {
    RECT item{};
    SendMessageA(Control("ListBox1"), LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    return {item.left + 10, (item.top + item.bottom) / 2};
}

void Dialog::ClickItem(int index, Modifiers modifiers) const { Click(Control("ListBox1"), ItemPoint(index), modifiers); }

void Dialog::Click(HWND window, POINT client, Modifiers modifiers) const {
    MakeForeground();
    const POINT screen = ToScreen(window, client);
    MoveMouse(screen);
    std::vector<INPUT> inputs;
    AddModifiers(inputs, modifiers, false);
    inputs.push_back(MouseInput(screen, MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN));
    inputs.push_back(MouseInput(screen, MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTUP));
    AddModifiers(inputs, modifiers, true);
    SendInputs(inputs);
}

void Dialog::MouseDown(HWND window, POINT client, Modifiers modifiers) const {
    MakeForeground();
    const POINT screen = ToScreen(window, client);
    MoveMouse(screen);
    std::vector<INPUT> inputs;
    AddModifiers(inputs, modifiers, false);
    inputs.push_back(MouseInput(screen, MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN));
    SendInputs(inputs);
}

void Dialog::MouseMove(HWND window, POINT client) const { MoveMouse(ToScreen(window, client)); }

void Dialog::MouseUp(HWND window, POINT client, Modifiers modifiers) const {
    const POINT screen = ToScreen(window, client);
    MoveMouse(screen);
    std::vector<INPUT> inputs{MouseInput(screen, MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTUP)};
    AddModifiers(inputs, modifiers, true);
    SendInputs(inputs);
}

void Dialog::Press(WORD key, Modifiers modifiers) const {
    MakeForeground();
    std::vector<INPUT> inputs;
    AddModifiers(inputs, modifiers, false);
    inputs.push_back(KeyInput(key, false));
    inputs.push_back(KeyInput(key, true));
    AddModifiers(inputs, modifiers, true);
    SendInputs(inputs);
}

void Dialog::ClickCloseBox() const {
    RECT frame{};
    GetWindowRect(form_, &frame);
    // Ask the window where its close box is rather than assume a theme.
    for (int y = frame.top; y < frame.top + 40; ++y)
        for (int x = frame.right - 1; x > frame.right - 80; --x) {
            const LRESULT hit = SendMessageA(form_, WM_NCHITTEST, 0, MAKELPARAM(x, y));
            if (hit != HTCLOSE) continue;
            const POINT screen{x - 4, y + 4};
            MakeForeground();
            MoveMouse(screen);
            std::vector<INPUT> inputs{MouseInput(screen, MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN),
                                      MouseInput(screen, MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTUP)};
            SendInputs(inputs);
            return;
        }
    ok(false, "no close box found in the title bar\n");
}

std::optional<MessageBoxSeen> Dialog::TakeMessageBox(DWORD timeoutMs) const {
    HWND box = nullptr;
    if (!WaitUntil([&] { return (box = FindMessageBox(thread_)) != nullptr; }, timeoutMs)) return std::nullopt;
    // Let it finish laying itself out.
    Settle(box);
    MessageBoxSeen seen = ReadMessageBox(box);
    ok(DismissMessageBox(box), "message box \"%s\" did not go away\n", seen.text.c_str());
    return seen;
}

bool Dialog::WaitClosed(DWORD timeoutMs) const {
    return WaitUntil([&] { return !IsWindowVisible(form_); }, timeoutMs);
}

namespace {

struct JobRun {
    const std::function<void(Dialog&)>* drive;
    DWORD thread;
    JobOutcome* outcome;
    ULONGLONG started;
};

DWORD WINAPI Driver(void* parameter) {
    auto* run = static_cast<JobRun*>(parameter);
    HWND form = nullptr;
    const bool shown = WaitUntil(
        [&] {
            if (HWND box = FindMessageBox(run->thread)) {
                Settle(box);
                run->outcome->before.push_back(ReadMessageBox(box));
                DismissMessageBox(box);
                return false;
            }
            form = FindForm(run->thread);
            return form != nullptr && IsWindowVisible(form);
        },
        30000);
    run->outcome->shown = shown;
    run->outcome->secondsToShow = static_cast<double>(GetTickCount64() - run->started) / 1000.0;
    if (!shown) {
        ok(false, "the dialog did not show\n");
        return 0;
    }
    Dialog dialog(form, run->thread);
    // Visible comes before active and focused; input sent in between could be lost.
    WaitUntil(
        [&] {
            GUITHREADINFO info{};
            info.cbSize = sizeof info;
            return GetGUIThreadInfo(run->thread, &info) && info.hwndActive == form && info.hwndFocus != nullptr;
        },
        3000);
    try {
        (*run->drive)(dialog);
    } catch (...) {
        ok(false, "the driver raised an exception\n");
    }
    if (!dialog.WaitClosed(3000)) {
        ok(false, "the dialog is still showing after the script\n");
        PostMessageA(form, WM_CLOSE, 0, 0);
        if (!dialog.WaitClosed(10000)) {
            trace("the dialog does not close; giving up\n");
            ExitProcess(3);
        }
    }
    return 0;
}

}  // namespace

namespace {

// A host keeps its message loop going between jobs. Without it, what the
// system still has to tell the hidden dialog's thread (focus changes from the
// X server, for one) would reach it only in the next job, and disturb it.
// Pumps until `until` is signalled, or, without it, until the queue has been
// quiet for a moment.
void PumpMessages(HANDLE until, DWORD timeoutMs) {
    constexpr DWORD kQuiet = 30;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return;
        const DWORD wait = until ? static_cast<DWORD>(deadline - now) : kQuiet;
        const DWORD waited = MsgWaitForMultipleObjects(until ? 1 : 0, until ? &until : nullptr, FALSE, wait, QS_ALLINPUT);
        if (until && waited == WAIT_OBJECT_0) return;
        if (waited == WAIT_TIMEOUT || waited == WAIT_FAILED) return;
        MSG message{};
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

}  // namespace

JobOutcome RunJob(Plugin& plugin, const char* path, const std::function<void(Dialog&)>& drive) {
    JobOutcome outcome;
    if (!plugin.DoMyJob) {
        ok(false, "no DoMyJob to call\n");
        return outcome;
    }
    JobRun run{&drive, GetCurrentThreadId(), &outcome, GetTickCount64()};
    HANDLE driver = CreateThread(nullptr, 0, &Driver, &run, 0, nullptr);
    outcome.result = plugin.DoMyJob(0, path);
    PumpMessages(driver, 60000);
    const DWORD waited = WaitForSingleObject(driver, 0);
    ok(waited == WAIT_OBJECT_0, "the driver thread did not finish: %lu\n", waited);
    PumpMessages(nullptr, 500);
    CloseHandle(driver);
    return outcome;
}

}  // namespace vexmira::wine_test
