#include "dialog/form.hpp"

#include <commctrl.h>

#include "dialog/controls.hpp"
#include "dialog/modal.hpp"
#include "support/exception.hpp"

namespace vexmira::dialog {

std::unique_ptr<TForm1> Form1;
std::string SourcePath;
std::unique_ptr<archive::EntryList> EntryList;
std::int64_t RipOffset = -1;
std::string ApplicationTitle;

namespace {

constexpr std::size_t kListBox1 = form::Row("ListBox1");
constexpr std::size_t kButton1 = form::Row("Button1");
constexpr std::size_t kButton2 = form::Row("Button2");
constexpr std::size_t kLoadingBar = form::Row("Loading_Bar");

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

bool KeyDown(int key) noexcept { return (GetKeyState(key) & 0x8000) != 0; }

}  // namespace

TForm1::TForm1(support::Component* owner)
    : Component(owner),
      Compress1(CreateOwned<archive::TCompress>()),
      model_(*this, Compress1, {SourcePath, EntryList, RipOffset}),
      thread_id_(GetCurrentThreadId()) {
    try {
        // The progress bar and tooltip classes come from the common controls.
        INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
        InitCommonControlsEx(&classes);
        const HINSTANCE instance = ThisModule();
        sky_blue_.reset(CreateSolidBrush(RGB(form::kSkyBlue.Red, form::kSkyBlue.Green, form::kSkyBlue.Blue)));
        form_class_ = std::make_unique<WindowClass>(instance, "VexmiraForm", &TForm1::FormProc, sky_blue_.get());

        constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
        constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_CONTROLPARENT;
        RECT frame{0, 0, form::kClientWidth, form::kClientHeight};
        AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
        const std::string caption(form::kFormCaption);
        window_.reset(CreateWindowExA(kExStyle, form_class_->Name(), caption.c_str(), kStyle, 0, 0,
                                      frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance,
                                      this));
        if (!window_) throw support::Exception("Cannot create the dialog window");
        controls_ = &CreateOwned<Controls>(window_.get());
    } catch (...) {
        window_.reset();
        throw;
    }
}

TForm1::~TForm1() {
    FormDestroy();
    window_.reset();  // takes every control's window with it
}

HWND TForm1::ControlHandle(std::size_t row) const noexcept { return controls_->Handle(row); }

void TForm1::Abandon() noexcept {
    controls_->Abandon();
    HWND window = window_.release();
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    form_class_->Keep();
    // The class's background brush must outlive the class.
    (void)sky_blue_.release();
}

void TForm1::Close() noexcept {
    closing_ = true;
    // Wakes the modal loop: a sent WM_CLOSE runs inside its wait and would
    // leave it waiting for the next input.
    if (window_) PostMessageA(window_.get(), WM_NULL, 0, 0);
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

bool TForm1::ShowModal(const std::function<void()>& prepare) {
    if (GetCurrentThreadId() != thread_id_ || showing_) return false;
    showing_ = true;
    // However the run ends, the window hides and the next job may show it.
    struct RunEnd {
        TForm1& form;
        ~RunEnd() {
            form.controls_->EndDrag();
            ShowWindow(form.window_.get(), SW_HIDE);
            form.showing_ = false;
        }
    } runEnd{*this};
    if (prepare) prepare();

    closing_ = false;
    ThreadWindowsDisabled others(window_.get());
    // Whatever the show handler raises is reported; the dialog shows all the same.
    model_.Guarded([this] { FormShow(); });
    PlaceOnFirstShow();
    ShowWindow(window_.get(), SW_SHOW);
    SetForegroundWindow(window_.get());
    SetFocus(ControlHandle(kListBox1));
    RunMessageLoop(closing_, [this](MSG& message) { return PreTranslate(message); });
    // Re-enable the host's windows before hiding, so that one of them gets activated.
    others.Restore();
    return true;
}

bool TForm1::PreTranslate(MSG& message) {
    const bool ours = message.hwnd == window_.get() || IsChild(window_.get(), message.hwnd);
    if (ours && (message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN)) {
        // The form sees every key before the focused control does.
        auto key = static_cast<std::uint16_t>(message.wParam);
        model_.Guarded([&] { FormKeyDown(key); });
        if (key == 0) return true;
        message.wParam = key;
        // The tab order is the layout's, which differs from the stacking order
        // that the system's own dialog navigation would follow, and every key
        // that moves the focus follows it.
        if (message.message == WM_KEYDOWN) {
            const auto code = SendMessageA(message.hwnd, WM_GETDLGCODE, key, reinterpret_cast<LPARAM>(&message));
            // The method buttons keep their arrows, which move the check within the group.
            const bool usesArrows = (code & (DLGC_WANTARROWS | DLGC_WANTALLKEYS | DLGC_RADIOBUTTON)) != 0;
            const form::FocusStep step =
                form::FocusStepFor(key, {KeyDown(VK_SHIFT), KeyDown(VK_CONTROL)}, KeyDown(VK_MENU), usesArrows);
            // Any of the method buttons stands for the radio group.
            auto sameStop = [this](HWND stop, HWND focus) {
                return stop == focus || (controls_->IsMethodButton(stop) && controls_->IsMethodButton(focus));
            };
            if (step != form::FocusStep::None &&
                MoveFocusByTab(controls_->TabStops(), step == form::FocusStep::Previous, sameStop))
                return true;
        }
    }
    return IsDialogMessageA(window_.get(), &message) != FALSE;
}

LRESULT CALLBACK TForm1::FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY) SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    if (form == nullptr || !form->window_ || form->controls_ == nullptr)
        return DefWindowProcA(window, message, wParam, lParam);
    try {
        return form->FormMessage(message, wParam, lParam);
    } catch (...) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT TForm1::FormMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CLOSE:
        Close();
        return 0;
    case WM_COMMAND: {
        const auto from = reinterpret_cast<HWND>(lParam);
        const UINT code = HIWORD(wParam);
        if (from == nullptr) return 0;  // the dialog keys' IDOK and IDCANCEL mean nothing here
        if (from == ControlHandle(kListBox1) && code == LBN_SELCHANGE) model_.Guarded([this] { ListBox1Click(); });
        if (from == ControlHandle(kButton1) && code == BN_CLICKED) model_.Guarded([this] { Button1Click(); });
        if (from == ControlHandle(kButton2) && code == BN_CLICKED) model_.Guarded([this] { Button2Click(); });
        return 0;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        return controls_->ColourMessage(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(controls_->SystemFont());
    default:
        return DefWindowProcA(window_.get(), message, wParam, lParam);
    }
}

// The view: values in and out of the controls.

void TForm1::ClearList() { SendMessageA(ControlHandle(kListBox1), LB_RESETCONTENT, 0, 0); }

void TForm1::FillList(const archive::EntryList& entries) {
    HWND list = ControlHandle(kListBox1);
    const std::size_t count = entries.Count();
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < count; ++i) bytes += entries.Name(i).size() + 1;
    RedrawSuspended quiet(list);
    // Reserving the storage keeps the list box from growing its arrays item by item.
    SendMessageA(list, LB_INITSTORAGE, count, static_cast<LPARAM>(bytes));
    std::string name;
    for (std::size_t i = 0; i < count; ++i) {
        name.assign(entries.Name(i));
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
}

std::int64_t TForm1::FocusedIndex() const { return SendMessageA(ControlHandle(kListBox1), LB_GETCARETINDEX, 0, 0); }

void TForm1::SetText(std::size_t row, const std::string& text) { controls_->SetText(row, text); }

void TForm1::SetBackground(std::size_t row, form::Colour colour) { controls_->SetBackground(row, colour); }

void TForm1::SelectMethodButton(int index) { controls_->SelectMethodButton(index); }

void TForm1::SetProgressRange(std::int32_t maximum) {
    SendMessageA(ControlHandle(kLoadingBar), PBM_SETRANGE32, 0, maximum);
}

void TForm1::SetProgressPosition(std::int32_t position) {
    SendMessageA(ControlHandle(kLoadingBar), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void TForm1::ShowInformation(const std::string& text) { dialog::ShowInformation(text); }

void TForm1::ShowErrorReport(const std::string& message) { dialog::ShowErrorReport(message); }

void TForm1::DropStayOnTop() {
    SetWindowPos(window_.get(), HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
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
