#include "dialog/form.hpp"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <iterator>

#include "archive/entry_text.hpp"
#include "locator/locator.hpp"
#include "support/exception.hpp"
#include "support/file_system.hpp"
#include "support/path.hpp"

namespace vexmira::dialog {

std::unique_ptr<TForm1> Form1;
std::string SourcePath;
std::unique_ptr<archive::EntryList> EntryList;
std::int64_t RipOffset = -1;
std::string ApplicationTitle;

const char* const kCreditText =
    "Vexmira 1.0 - archive information plug-in by Orvel\r\n"
    "\r\n"
    "Lists the entries of TCompress archives, and rips archives\r\n"
    "carried inside other files out into a side file.\r\n"
    "\r\n"
    "Contact: orvel@vexmira.example\r\n"
    "Updates: https://vexmira.example/";

namespace {

static_assert(std::equal(std::begin(archive::kMethodButtonCaptions), std::end(archive::kMethodButtonCaptions),
                         kMethodButtons.begin(), kMethodButtons.end()));

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);

constexpr std::size_t kListBox1 = Row("ListBox1");
constexpr std::size_t kArchiveGroup = Row("ArchiveGroup");
constexpr std::size_t kArchiveLabel = Row("ArchiveLabel");
constexpr std::size_t kArchiveFile = Row("archivefile");
constexpr std::size_t kButton1 = Row("Button1");
constexpr std::size_t kButton2 = Row("Button2");
constexpr std::size_t kCMethod = Row("CMethod");
constexpr std::size_t kPercentage = Row("Percentage");
constexpr std::size_t kTime = Row("Time");
constexpr std::size_t kTimeLabel = Row("TimeLabel");
constexpr std::size_t kRIPoffset = Row("RIPoffset");
constexpr std::size_t kLoadingBar = Row("Loading_Bar");

bool IsContainer(Kind kind) noexcept {
    return kind == Kind::Panel || kind == Kind::GroupBox || kind == Kind::RadioGroup;
}

HBRUSH BrushFor(COLORREF colour) noexcept {
    if (colour == kWhite) return static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    if (colour == GetSysColor(COLOR_WINDOW)) return GetSysColorBrush(COLOR_WINDOW);
    return GetSysColorBrush(COLOR_BTNFACE);
}

void ShowErrorReportQuietly(const char* message) noexcept {
    try {
        ShowErrorReport(message);
    } catch (...) {
        // Out of memory while reporting: nothing more can be shown.
    }
}

// Handlers report what they raise in the error report box, as the show handler
// does; nothing gets past a window procedure.
template <class Handler>
void ReportErrors(Handler&& handler) noexcept {
    try {
        handler();
    } catch (const support::Exception& error) {
        ShowErrorReportQuietly(error.Message().c_str());
    } catch (const std::exception& error) {
        ShowErrorReportQuietly(error.what());
    } catch (...) {
        ShowErrorReportQuietly("");
    }
}

// While the dialog is modal, the thread's other windows take no input.
class ThreadWindowsDisabled {
public:
    explicit ThreadWindowsDisabled(HWND dialog) : dialog_(dialog) {
        EnumThreadWindows(GetCurrentThreadId(), &Collect, reinterpret_cast<LPARAM>(this));
        for (HWND window : disabled_) EnableWindow(window, FALSE);
    }
    ~ThreadWindowsDisabled() { Restore(); }
    ThreadWindowsDisabled(const ThreadWindowsDisabled&) = delete;
    ThreadWindowsDisabled& operator=(const ThreadWindowsDisabled&) = delete;

    void Restore() noexcept {
        for (HWND window : disabled_)
            if (IsWindow(window)) EnableWindow(window, TRUE);
        disabled_.clear();
    }

private:
    static BOOL CALLBACK Collect(HWND window, LPARAM self) {
        auto* state = reinterpret_cast<ThreadWindowsDisabled*>(self);
        if (window != state->dialog_ && IsWindowVisible(window) && IsWindowEnabled(window))
            state->disabled_.push_back(window);
        return TRUE;
    }

    HWND dialog_;
    std::vector<HWND> disabled_;
};

// The locator reports to the dialog's controls and message boxes.
class FormDisplay final : public locator::Display {
public:
    FormDisplay(HWND bar, HWND offset) : bar_(bar), offset_(offset) {}
    void SetProgressRange(std::int32_t maximum) override { SendMessageA(bar_, PBM_SETRANGE32, 0, maximum); }
    void SetProgressPosition(std::int32_t position) override {
        SendMessageA(bar_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    }
    void SetOffsetText(const std::string& text) override { SetWindowTextA(offset_, text.c_str()); }
    void ShowMessage(const std::string& text) override { ShowInformation(text); }

private:
    HWND bar_;
    HWND offset_;
};

// Keeps a list box from repainting while it is filled.
class RedrawSuspended {
public:
    explicit RedrawSuspended(HWND window) : window_(window) { SendMessageA(window_, WM_SETREDRAW, FALSE, 0); }
    ~RedrawSuspended() {
        SendMessageA(window_, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(window_, nullptr, TRUE);
    }
    RedrawSuspended(const RedrawSuspended&) = delete;
    RedrawSuspended& operator=(const RedrawSuspended&) = delete;

private:
    HWND window_;
};

}  // namespace

// One control of the layout. Panels and group boxes are windows of our own
// classes; the standard controls that react to the mouse are subclassed. Both
// route their messages to the form through Proc.
class Control : public support::Component {
public:
    Control(support::Component* owner, TForm1& form, std::size_t row, HWND window)
        : Component(owner), form_(form), row_(row), window_(window) {
        const ControlSpec& entry = kControls[row];
        if (entry.kind == Kind::ListBox || entry.kind == Kind::Edit) background_ = GetSysColor(COLOR_WINDOW);
        SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }

    ~Control() override {
        if (!IsWindow(window_)) return;
        Detach();
        DestroyWindow(window_);
    }

    // Routes a standard control's messages through Proc.
    void Subclass() {
        original_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Control::Proc)));
    }

    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam) const {
        return original_ ? CallWindowProcA(original_, window_, message, wParam, lParam)
                         : DefWindowProcA(window_, message, wParam, lParam);
    }

    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* control = reinterpret_cast<Control*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (control == nullptr) return DefWindowProcA(window, message, wParam, lParam);
        if (message == WM_NCDESTROY) {
            const WNDPROC original = control->original_;
            control->Detach();
            return original ? CallWindowProcA(original, window, message, wParam, lParam)
                            : DefWindowProcA(window, message, wParam, lParam);
        }
        try {
            return control->form_.ControlMessage(*control, message, wParam, lParam);
        } catch (...) {
            return control->Default(message, wParam, lParam);
        }
    }

    const ControlSpec& Spec() const noexcept { return kControls[row_]; }
    std::size_t RowIndex() const noexcept { return row_; }
    HWND Handle() const noexcept { return window_; }

    COLORREF background_ = GetSysColor(COLOR_BTNFACE);
    HFONT font_ = nullptr;  // for our own classes, which keep their font themselves

private:
    void Detach() noexcept {
        if (original_) SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
        SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    }

    TForm1& form_;
    std::size_t row_;
    HWND window_;
    WNDPROC original_ = nullptr;
};

TForm1::TForm1(support::Component* owner)
    : Component(owner), Compress1(CreateOwned<archive::TCompress>()), thread_id_(GetCurrentThreadId()) {
    try {
        // The progress bar and tooltip classes come from the common controls.
        INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
        InitCommonControlsEx(&classes);
        const HINSTANCE instance = ThisModule();
        sky_blue_.reset(CreateSolidBrush(RGB(kSkyBlue[0], kSkyBlue[1], kSkyBlue[2])));
        form_class_ = std::make_unique<WindowClass>(instance, "VexmiraForm", &TForm1::FormProc, sky_blue_.get());
        panel_class_ = std::make_unique<WindowClass>(instance, "VexmiraPanel", &Control::Proc, nullptr);
        group_class_ = std::make_unique<WindowClass>(instance, "VexmiraGroupBox", &Control::Proc, nullptr);

        const auto height = -kCharacterHeight;
        system_font_.reset(CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                                       kSystemFace.data()));
        arial_font_.reset(CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                                      kArialFace.data()));

        constexpr DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
        constexpr DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_CONTROLPARENT;
        RECT frame{0, 0, kClientWidth, kClientHeight};
        AdjustWindowRectEx(&frame, style, FALSE, exStyle);
        window_.reset(CreateWindowExA(exStyle, form_class_->Name(), kFormCaption.data(), style, 0, 0,
                                      frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance,
                                      this));
        if (!window_) throw support::Exception("Cannot create the dialog window");
        CreateControls();
        CreateTooltips();
    } catch (...) {
        tooltip_.reset();
        window_.reset();
        throw;
    }
}

TForm1::~TForm1() {
    FormDestroy();
    tooltip_.reset();
    window_.reset();  // takes every control's window with it
}

HWND TForm1::ControlHandle(std::size_t row) const noexcept {
    return row < controls_.size() ? controls_[row]->Handle() : nullptr;
}

void TForm1::CreateControls() {
    for (std::size_t row = 0; row < kControls.size(); ++row) CreateControl(row);

    // Creation left them in some order; put each parent's children in the
    // layout's stacking order, the last row on top.
    for (std::size_t row = 0; row < kControls.size(); ++row)
        SetWindowPos(ControlHandle(row), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    HWND bar = ControlHandle(kLoadingBar);
    SendMessageA(bar, PBM_SETRANGE32, 0, 100);
    SendMessageA(bar, PBM_SETPOS, 0, 0);
}

Control& TForm1::CreateControl(std::size_t row) {
    const ControlSpec& entry = kControls[row];
    const HWND parent = entry.parent.empty() ? window_.get() : ControlHandle(*FindControl(entry.parent));
    const HFONT font = entry.face == Face::Arial ? arial_font_.get() : system_font_.get();

    const char* className = nullptr;
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    DWORD exStyle = 0;
    switch (entry.kind) {
    case Kind::Panel:
        className = panel_class_->Name();
        style |= WS_CLIPCHILDREN;
        exStyle |= WS_EX_CONTROLPARENT;
        break;
    case Kind::GroupBox:
    case Kind::RadioGroup:
        className = group_class_->Name();
        style |= WS_CLIPCHILDREN;
        exStyle |= WS_EX_CONTROLPARENT;
        break;
    case Kind::Label:
        className = "STATIC";
        style |= SS_NOPREFIX | (entry.autoSize ? SS_LEFT : SS_CENTER);
        // A static passes the mouse to its parent unless it notifies.
        if (row == kArchiveLabel) style |= SS_NOTIFY;
        break;
    case Kind::ListBox:
        className = "LISTBOX";
        style |= WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_EXTENDEDSEL | LBS_NOINTEGRALHEIGHT;
        exStyle |= WS_EX_CLIENTEDGE;
        break;
    case Kind::Edit:
        className = "EDIT";
        style |= WS_TABSTOP | ES_AUTOHSCROLL | ES_READONLY;
        exStyle |= WS_EX_CLIENTEDGE;
        break;
    case Kind::PushButton:
        className = "BUTTON";
        style |= WS_TABSTOP | BS_PUSHBUTTON;
        break;
    case Kind::ProgressBar:
        className = PROGRESS_CLASSA;
        break;
    }
    if (!entry.enabled) style |= WS_DISABLED;

    const std::string text(entry.text);
    HWND window = CreateWindowExA(exStyle, className, text.c_str(), style, entry.left, entry.top, entry.width,
                                  entry.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(row))),
                                  ThisModule(), nullptr);
    if (window == nullptr) throw support::Exception("Cannot create the control " + std::string(entry.name));

    Control& control = CreateOwned<Control>(*this, row, window);
    controls_.push_back(&control);
    if (IsContainer(entry.kind)) {
        control.font_ = font;
    } else if (row == kArchiveLabel || row == kListBox1) {
        control.Subclass();  // they start drags; the list box also relays to its tooltip
    }
    SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);

    if (entry.kind == Kind::Label && entry.autoSize) {
        HDC dc = GetDC(window);
        const HGDIOBJ previous = SelectObject(dc, font);
        RECT extent{0, 0, 0, 0};
        DrawTextA(dc, text.c_str(), -1, &extent, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX | DT_EXPANDTABS);
        SelectObject(dc, previous);
        ReleaseDC(window, dc);
        SetWindowPos(window, nullptr, 0, 0, extent.right, extent.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (entry.kind == Kind::ListBox) SendMessageA(window, LB_SETITEMHEIGHT, 0, kListItemHeight);
    if (entry.kind == Kind::RadioGroup) CreateMethodButtons(control);
    return control;
}

void TForm1::CreateMethodButtons(Control& group) {
    HDC dc = GetDC(group.Handle());
    const HGDIOBJ previous = SelectObject(dc, group.font_);
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, previous);
    ReleaseDC(group.Handle(), dc);

    for (std::size_t i = 0; i < kMethodButtons.size(); ++i) {
        const ButtonRect place = MethodButtonRect(i, metrics.tmHeight);
        const std::string caption(kMethodButtons[i]);
        DWORD style = WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON;
        if (i == 0) style |= WS_GROUP | WS_TABSTOP;
        HWND button = CreateWindowExA(0, "BUTTON", caption.c_str(), style, place.left, place.top, place.width,
                                      place.height, group.Handle(),
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(MethodButtonId(i))), ThisModule(),
                                      nullptr);
        if (button == nullptr) throw support::Exception("Cannot create the method buttons");
        SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(group.font_), FALSE);
        method_buttons_.push_back(button);
    }
    SelectMethodButton(kInitialMethodButton);
}

void TForm1::CreateTooltips() {
    tooltip_.reset(CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_.get(), nullptr,
                                   ThisModule(), nullptr));
    if (!tooltip_) throw support::Exception("Cannot create the tooltips");
    for (std::size_t row = 0; row < kControls.size(); ++row) {
        const ControlSpec& entry = kControls[row];
        if (entry.hint.empty()) continue;
        std::string hint(entry.hint);
        TOOLINFOA tool{};
        // The version 5 size: the common controls without a manifest refuse the larger one.
        tool.cbSize = TTTOOLINFOA_V2_SIZE;
        // The controls relay their mouse messages themselves (see
        // ControlMessage): the tooltip's own subclassing costs a property
        // lookup on every message, which made filling the list box slow.
        tool.uFlags = TTF_IDISHWND;
        tool.hwnd = GetParent(ControlHandle(row));
        tool.uId = reinterpret_cast<UINT_PTR>(ControlHandle(row));
        tool.lpszText = hint.data();
        SendMessageA(tooltip_.get(), TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void TForm1::SetText(std::size_t row, const std::string& text) { SetWindowTextA(ControlHandle(row), text.c_str()); }

std::string TForm1::Text(std::size_t row) const {
    HWND window = ControlHandle(row);
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

void TForm1::SetBackground(std::size_t row, COLORREF colour) {
    controls_[row]->background_ = colour;
    RedrawWindow(ControlHandle(row), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TForm1::SelectMethodButton(int index) {
    for (std::size_t i = 0; i < method_buttons_.size(); ++i)
        SendMessageA(method_buttons_[i], BM_SETCHECK, static_cast<int>(i) == index ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TForm1::PlaceOnFirstShow() {
    if (placed_) return;
    placed_ = true;
    RECT frame{};
    GetWindowRect(window_.get(), &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowPos(window_.get(), nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool TForm1::ShowModal() {
    if (GetCurrentThreadId() != thread_id_) return false;
    bool idle = false;
    if (!showing_.compare_exchange_strong(idle, true)) return false;
    // However the run ends, the window hides and the next job may show it.
    struct RunEnd {
        TForm1& form;
        ~RunEnd() {
            form.EndDrag();
            ShowWindow(form.window_.get(), SW_HIDE);
            form.showing_ = false;
        }
    } runEnd{*this};

    closing_ = false;
    ThreadWindowsDisabled others(window_.get());
    // Whatever the show handler raises is reported; the dialog shows all the same.
    ReportErrors([this] { FormShow(); });
    PlaceOnFirstShow();
    ShowWindow(window_.get(), SW_SHOW);
    SetForegroundWindow(window_.get());
    SetFocus(ControlHandle(kListBox1));

    MSG message{};
    while (!closing_) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            // The host is quitting: end the run and leave WM_QUIT for its own loop.
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (!PreTranslate(message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    // Re-enable the host's windows before hiding, so that one of them gets activated.
    others.Restore();
    return true;
}

bool TForm1::PreTranslate(MSG& message) {
    const bool ours = message.hwnd == window_.get() || IsChild(window_.get(), message.hwnd);
    if (ours && (message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN)) {
        // The form sees every key before the focused control does.
        WORD key = static_cast<WORD>(message.wParam);
        ReportErrors([&] { FormKeyDown(key); });
        if (key == 0) return true;
        message.wParam = key;
        const bool plainTab = message.message == WM_KEYDOWN && key == VK_TAB &&
                              (GetKeyState(VK_CONTROL) & 0x8000) == 0 && (GetKeyState(VK_MENU) & 0x8000) == 0;
        if (plainTab && MoveFocusByTab((GetKeyState(VK_SHIFT) & 0x8000) != 0)) return true;
    }
    return IsDialogMessageA(window_.get(), &message) != FALSE;
}

// The tab order is the layout's, which differs from the stacking order that
// the system's own dialog navigation would follow.
std::vector<HWND> TForm1::TabStops() const {
    std::vector<HWND> stops;
    auto visit = [&](auto&& self, std::string_view parent) -> void {
        std::vector<std::size_t> children;
        for (std::size_t row = 0; row < kControls.size(); ++row)
            if (kControls[row].parent == parent && kControls[row].tabOrder >= 0) children.push_back(row);
        std::sort(children.begin(), children.end(),
                  [](std::size_t a, std::size_t b) { return kControls[a].tabOrder < kControls[b].tabOrder; });
        for (std::size_t row : children) {
            const ControlSpec& entry = kControls[row];
            switch (entry.kind) {
            case Kind::Panel:
            case Kind::GroupBox:
                self(self, entry.name);
                break;
            case Kind::RadioGroup: {
                HWND stop = method_buttons_.empty() ? nullptr : method_buttons_.front();
                for (HWND button : method_buttons_)
                    if (SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED) stop = button;
                if (stop) stops.push_back(stop);
                break;
            }
            case Kind::ListBox:
            case Kind::Edit:
            case Kind::PushButton:
                stops.push_back(ControlHandle(row));
                break;
            case Kind::Label:
            case Kind::ProgressBar:
                break;
            }
        }
    };
    visit(visit, std::string_view{});
    std::erase_if(stops, [](HWND stop) { return !IsWindowVisible(stop) || !IsWindowEnabled(stop); });
    return stops;
}

bool TForm1::MoveFocusByTab(bool backwards) {
    const std::vector<HWND> stops = TabStops();
    if (stops.empty()) return false;
    const HWND focus = GetFocus();
    auto current = std::find_if(stops.begin(), stops.end(), [&](HWND stop) {
        // Any of the method buttons stands for the radio group.
        return stop == focus || (GetParent(stop) == ControlHandle(kCMethod) && GetParent(focus) == GetParent(stop));
    });
    std::size_t next = 0;
    if (current != stops.end()) {
        const std::size_t at = static_cast<std::size_t>(current - stops.begin());
        next = backwards ? (at + stops.size() - 1) % stops.size() : (at + 1) % stops.size();
    } else if (backwards) {
        next = stops.size() - 1;
    }
    SetFocus(stops[next]);
    if (stops[next] == ControlHandle(kArchiveFile)) SendMessageA(stops[next], EM_SETSEL, 0, -1);
    return true;
}

LRESULT CALLBACK TForm1::FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY) SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    if (form == nullptr || !form->window_) return DefWindowProcA(window, message, wParam, lParam);
    try {
        return form->FormMessage(message, wParam, lParam);
    } catch (...) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT TForm1::FormMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND window = window_.get();
    switch (message) {
    case WM_CLOSE:
        Close();
        return 0;
    case WM_COMMAND: {
        const HWND from = reinterpret_cast<HWND>(lParam);
        const UINT code = HIWORD(wParam);
        if (from == nullptr) return 0;  // the dialog keys' IDOK and IDCANCEL mean nothing here
        if (from == ControlHandle(kListBox1) && code == LBN_SELCHANGE) ReportErrors([this] { ListBox1Click(); });
        if (from == ControlHandle(kButton1) && code == BN_CLICKED) ReportErrors([this] { Button1Click(); });
        if (from == ControlHandle(kButton2) && code == BN_CLICKED) ReportErrors([this] { Button2Click(); });
        return 0;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        return ColourMessage(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(system_font_.get());
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT TForm1::ColourMessage(HDC dc, HWND child) {
    const Control* control = nullptr;
    const int id = GetDlgCtrlID(child);
    if (id >= kMethodButtonIdBase && id < MethodButtonId(kMethodButtons.size()))
        control = controls_[kCMethod];  // the buttons share their group's colours
    else if (id >= kControlIdBase && id < ControlId(controls_.size()))
        control = controls_[static_cast<std::size_t>(id - kControlIdBase)];
    if (control == nullptr) return DefWindowProcA(window_.get(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                                  reinterpret_cast<LPARAM>(child));
    // Disabled text keeps the system's grey.
    if (control->Spec().enabled) SetTextColor(dc, kBlack);
    SetBkColor(dc, control->background_);
    SetBkMode(dc, OPAQUE);
    return reinterpret_cast<LRESULT>(BrushFor(control->background_));
}

LRESULT TForm1::ControlMessage(Control& control, UINT message, WPARAM wParam, LPARAM lParam) {
    const ControlSpec& entry = control.Spec();
    HWND window = control.Handle();
    const bool container = IsContainer(entry.kind);

    if (!entry.hint.empty() && message >= WM_MOUSEFIRST && message <= WM_MOUSELAST && tooltip_) {
        MSG relayed{window, message, wParam, lParam, 0, {}};
        SendMessageA(tooltip_.get(), TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
    }

    switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        // Containers pass their children's notifications on to the form.
        if (container) return SendMessageA(window_.get(), message, wParam, lParam);
        break;
    case WM_SETFONT:
        if (!container) break;
        control.font_ = reinterpret_cast<HFONT>(wParam);
        if (LOWORD(lParam)) InvalidateRect(window, nullptr, TRUE);
        return 0;
    case WM_GETFONT:
        if (!container) break;
        return reinterpret_cast<LRESULT>(control.font_);
    case WM_ERASEBKGND:
        if (!container) break;
        {
            RECT client{};
            GetClientRect(window, &client);
            FillRect(reinterpret_cast<HDC>(wParam), &client, BrushFor(control.background_));
        }
        return 1;
    case WM_PAINT:
        if (!container) break;
        PaintContainer(control);
        return 0;

    case WM_LBUTTONDOWN:
        if (control.RowIndex() == kArchiveGroup || control.RowIndex() == kArchiveLabel) {
            POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            ClientToScreen(window, &point);
            ArmDrag(window, point);
            return 0;
        }
        if (control.RowIndex() == kListBox1) return PressListBox(control, wParam, lParam);
        break;
    case WM_MOUSEMOVE:
        if (drag_source_ != window) break;
        {
            POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            ClientToScreen(window, &point);
            TrackDrag(point);
        }
        if (drag_passes_to_list_ && !dragging_) break;
        return 0;
    case WM_LBUTTONUP:
        if (drag_source_ != window) break;
        {
            // The list box saw the press, so it must see the release to end its own tracking.
            const bool pass = drag_passes_to_list_;
            EndDrag();
            if (pass) return control.Default(message, wParam, lParam);
        }
        return 0;
    case WM_CAPTURECHANGED:
        if (drag_source_ == window && reinterpret_cast<HWND>(lParam) != window) {
            drag_source_ = nullptr;
            dragging_ = false;
            drag_passes_to_list_ = false;
        }
        break;
    default:
        break;
    }
    return control.Default(message, wParam, lParam);
}

void TForm1::PaintContainer(Control& control) {
    const ControlSpec& entry = control.Spec();
    HWND window = control.Handle();
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(window, &paint);
    RECT client{};
    GetClientRect(window, &client);
    if (entry.kind == Kind::Panel) {
        if (entry.bevel == Bevel::RaisedInLoweredOut) {
            DrawEdge(dc, &client, BDR_SUNKENOUTER, BF_RECT);
            InflateRect(&client, -1, -1);
            DrawEdge(dc, &client, BDR_RAISEDINNER, BF_RECT);
        }
    } else {
        // A group: an etched frame through the middle of the caption's line.
        const HGDIOBJ previous = SelectObject(dc, control.font_);
        TEXTMETRICA metrics{};
        GetTextMetricsA(dc, &metrics);
        RECT frame = client;
        frame.top += metrics.tmHeight / 2;
        DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
        const std::string caption(entry.text);
        RECT text{8, 0, 8, metrics.tmHeight};
        DrawTextA(dc, caption.c_str(), -1, &text, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        SetTextColor(dc, kBlack);
        SetBkColor(dc, control.background_);
        SetBkMode(dc, OPAQUE);
        DrawTextA(dc, caption.c_str(), -1, &text, DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, previous);
    }
    EndPaint(window, &paint);
}

LRESULT TForm1::PressListBox(Control& list, WPARAM wParam, LPARAM lParam) {
    HWND window = list.Handle();
    POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ClientToScreen(window, &point);
    // The item under the mouse, computed rather than asked for: the list
    // box's own hit test reports only 16 bits of index.
    const LRESULT count = SendMessageA(window, LB_GETCOUNT, 0, 0);
    const LRESULT index = SendMessageA(window, LB_GETTOPINDEX, 0, 0) + GET_Y_LPARAM(lParam) / kListItemHeight;
    const bool onSelected = GET_Y_LPARAM(lParam) >= 0 && index < count &&
                            SendMessageA(window, LB_GETSEL, static_cast<WPARAM>(index), 0) > 0;
    const bool shift = (wParam & MK_SHIFT) != 0;
    const bool ctrl = (wParam & MK_CONTROL) != 0;
    // Pressing on a selected item drags the selection as it is; extending it
    // with Shift takes precedence, unless Ctrl is down as well.
    if (onSelected && (!shift || ctrl)) {
        ArmDrag(window, point);
        return 0;
    }
    const LRESULT result = list.Default(WM_LBUTTONDOWN, wParam, lParam);
    if (!shift && !ctrl) {
        // A plain press selected the item; moving on drags it.
        ArmDrag(window, point);
        drag_passes_to_list_ = true;
    }
    return result;
}

void TForm1::ArmDrag(HWND source, POINT screenPoint) {
    drag_source_ = source;
    drag_start_ = screenPoint;
    dragging_ = false;
    drag_passes_to_list_ = false;
    SetCapture(source);
}

void TForm1::TrackDrag(POINT screenPoint) {
    if (!dragging_ && (std::abs(screenPoint.x - drag_start_.x) >= GetSystemMetrics(SM_CXDRAG) ||
                       std::abs(screenPoint.y - drag_start_.y) >= GetSystemMetrics(SM_CYDRAG)))
        dragging_ = true;
    // Nothing accepts a drop anywhere.
    if (dragging_) SetCursor(LoadCursorA(nullptr, IDC_NO));
}

void TForm1::EndDrag() {
    const HWND source = drag_source_;
    const bool wasDragging = dragging_;
    drag_source_ = nullptr;
    dragging_ = false;
    drag_passes_to_list_ = false;
    if (source != nullptr && GetCapture() == source) ReleaseCapture();
    if (wasDragging) SetCursor(LoadCursorA(nullptr, IDC_ARROW));
}

// Handlers.

void TForm1::FormShow() {
    SendMessageA(ControlHandle(kListBox1), LB_RESETCONTENT, 0, 0);
    SetText(kRIPoffset, std::string(kOffsetAtShow));
    SetText(kArchiveFile, SourcePath);
    if (!support::IsArcPath(SourcePath)) {
        SetText(kArchiveFile, "");
        Rip_ARC_Archive();
        if (RipOffset < 0) return;
        SetText(kArchiveFile, support::SideFilePath(SourcePath));
    }
    if (EntryList) archive::TCompress::FreeFileList(EntryList.get());
    EntryList = std::make_unique<archive::EntryList>();
    showfiles();
}

void TForm1::showfiles() {
    SendMessageA(ControlHandle(kListBox1), LB_RESETCONTENT, 0, 0);
    archive::TCompress::FreeFileList(EntryList.get());
    const std::string path = Text(kArchiveFile);
    if (!support::RegularFileExists(path)) return;
    if (!EntryList) EntryList = std::make_unique<archive::EntryList>();
    Compress1.ScanArchiveFile(path, *EntryList);
    FillListBox();
}

void TForm1::FillListBox() {
    if (!EntryList) return;
    HWND list = ControlHandle(kListBox1);
    const std::size_t count = EntryList->Count();
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < count; ++i) bytes += EntryList->Name(i).size() + 1;
    RedrawSuspended quiet(list);
    // Reserving the storage keeps the list box from growing its arrays item by item.
    SendMessageA(list, LB_INITSTORAGE, count, static_cast<LPARAM>(bytes));
    std::string name;
    for (std::size_t i = 0; i < count; ++i) {
        name.assign(EntryList->Name(i));
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
}

void TForm1::Rip_ARC_Archive() {
    FormDisplay display(ControlHandle(kLoadingBar), ControlHandle(kRIPoffset));
    RipOffset = locator::Rip_ARC_Archive(SourcePath, display);
}

void TForm1::ListBox1Click() {
    const LRESULT focused = SendMessageA(ControlHandle(kListBox1), LB_GETCARETINDEX, 0, 0);
    if (focused < 0) return;
    // An empty list box still reports a caret at 0.
    if (!EntryList || static_cast<std::size_t>(focused) >= EntryList->Count()) return;

    SetBackground(kCMethod, kWhite);
    SetBackground(kPercentage, kWhite);
    SetBackground(kTime, kWhite);
    SetText(kTimeLabel, std::string(kTimeLabelSelected));
    const archive::TCompressedFileInfo& record = EntryList->Info(static_cast<std::size_t>(focused));
    SetText(kPercentage, archive::PercentageText(record));
    SetText(kTime, archive::SizeText(record.FullSize));
    SelectMethodButton(archive::MethodButtonIndex(record.Method));
}

void TForm1::FormKeyDown(WORD& key) {
    if (key == VK_ESCAPE) Close();
}

void TForm1::Button1Click() {
    // For good: later showings are normal windows too.
    SetWindowPos(window_.get(), HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ShowInformation(kCreditText);
}

void TForm1::FormDestroy() noexcept {
    archive::TCompress::FreeFileList(EntryList.get());
    EntryList.reset();
}

void ShowInformation(const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), ApplicationTitle.c_str(), MB_OK | MB_TASKMODAL | MB_SETFOREGROUND);
}

void ShowErrorReport(const std::string& message) {
    const std::string text = support::ErrorReportText(message);
    MessageBoxA(nullptr, text.c_str(), ApplicationTitle.c_str(),
                MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
}

}  // namespace vexmira::dialog
