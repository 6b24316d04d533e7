#include "dialog/controls.hpp"

#include <commctrl.h>
#include <windowsx.h>

#include "form/form_model.hpp"
#include "support/exception.hpp"

namespace vexmira::dialog {

using form::ControlKind;
using form::ControlSpec;
using form::kControls;

namespace {

constexpr std::size_t kListBox1 = form::Row("ListBox1");
constexpr std::size_t kCMethod = form::Row("CMethod");
constexpr std::size_t kLoadingBar = form::Row("Loading_Bar");

constexpr COLORREF kBlack = RGB(0, 0, 0);

constexpr COLORREF ColourRef(form::Colour colour) noexcept { return RGB(colour.Red, colour.Green, colour.Blue); }

// A control's background as the layout starts it: a system colour follows
// the system's scheme, so it is kept as its index.
Backdrop InitialBackdrop(std::size_t row) noexcept {
    switch (form::InitialFill(row)) {
    case form::Fill::ButtonFace:
        return {COLOR_BTNFACE, 0};
    case form::Fill::Window:
        return {COLOR_WINDOW, 0};
    case form::Fill::Form:
        break;
    }
    return {-1, ColourRef(form::kSkyBlue)};
}

UniqueFont CreateFace(std::string_view face) {
    return UniqueFont(CreateFontA(-form::kCharacterHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                                  std::string(face).c_str()));
}

POINT ScreenPoint(HWND window, LPARAM lParam) noexcept {
    POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ClientToScreen(window, &point);
    return point;
}

// Labels that lie on a drag source keep a press to themselves (a static
// without SS_NOTIFY passes the mouse to its parent): only the drag sources
// themselves start drags.
bool KeepsPress(std::size_t row) noexcept {
    const std::optional<std::size_t> parent = form::FindControl(kControls[row].Parent);
    return form::IsDragSource(row) || (parent && form::IsDragSource(*parent));
}

}  // namespace

// One control of the layout. Panels and group boxes are windows of our own
// classes; the standard controls that start drags are subclassed. Both route
// their messages to Controls::Message.
class Control : public support::Component {
public:
    Control(support::Component* owner, Controls& controls, std::size_t row, HWND window)
        : Component(owner), Background(InitialBackdrop(row)), controls_(controls), row_(row), window_(window) {
        SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }

    ~Control() override { Destroy(); }

    void Destroy() noexcept {
        if (window_ == nullptr) return;
        if (IsWindow(window_)) {
            Detach();
            DestroyWindow(window_);
        }
        window_ = nullptr;
    }

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
            return control->controls_.Message(*control, message, wParam, lParam);
        } catch (...) {
            return control->Default(message, wParam, lParam);
        }
    }

    // Leaves the window to a procedure outside this module and forgets it.
    void Abandon() noexcept {
        if (!original_) SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
        Detach();
        window_ = nullptr;
    }

    const ControlSpec& Spec() const noexcept { return kControls[row_]; }
    std::size_t Row() const noexcept { return row_; }
    HWND Handle() const noexcept { return window_; }

    Backdrop Background;
    HFONT Font = nullptr;  // for our own classes, which keep their font themselves

private:
    void Detach() noexcept {
        if (original_) SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
        original_ = nullptr;
        SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    }

    Controls& controls_;
    std::size_t row_;
    HWND window_;
    WNDPROC original_ = nullptr;
};

Controls::Controls(support::Component* owner, HWND form) : Component(owner), form_(form) {
    const HINSTANCE instance = ThisModule();
    panel_class_ = std::make_unique<WindowClass>(instance, "VexmiraPanel", &Control::Proc, nullptr);
    group_class_ = std::make_unique<WindowClass>(instance, "VexmiraGroupBox", &Control::Proc, nullptr);
    system_font_ = CreateFace(form::kSystemFace);
    arial_font_ = CreateFace(form::kArialFace);

    try {
        for (std::size_t row = 0; row < kControls.size(); ++row) Create(row);
        // Creation left them in some order; put each parent's children in the
        // layout's stacking order, the last row on top.
        for (std::size_t row = 0; row < kControls.size(); ++row)
            SetWindowPos(Handle(row), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        SendMessageA(Handle(kLoadingBar), PBM_SETRANGE32, 0, 100);
        SendMessageA(Handle(kLoadingBar), PBM_SETPOS, 0, 0);
        CreateTooltips();
    } catch (...) {
        DestroyWindows();
        throw;
    }
}

Controls::~Controls() { DestroyWindows(); }

void Controls::DestroyWindows() noexcept {
    tooltip_.reset();
    // Before the classes they belong to are unregistered; children first.
    for (auto control = controls_.rbegin(); control != controls_.rend(); ++control) (*control)->Destroy();
}

HWND Controls::Handle(std::size_t row) const noexcept {
    return row < controls_.size() ? controls_[row]->Handle() : nullptr;
}

HWND Controls::MethodButton(std::size_t index) const noexcept {
    return index < method_buttons_.size() ? method_buttons_[index] : nullptr;
}

Control& Controls::Create(std::size_t row) {
    const ControlSpec& layout = kControls[row];
    const HWND parent = layout.Parent.empty() ? form_ : Handle(*form::FindControl(layout.Parent));
    const HFONT font = layout.Face == form::FontFace::Arial ? arial_font_.get() : system_font_.get();

    const char* className = nullptr;
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    DWORD exStyle = 0;
    switch (layout.Kind) {
    case ControlKind::Panel:
    case ControlKind::GroupBox:
    case ControlKind::RadioGroup:
        className = layout.Kind == ControlKind::Panel ? panel_class_->Name() : group_class_->Name();
        style |= WS_CLIPCHILDREN;
        exStyle |= WS_EX_CONTROLPARENT;
        break;
    case ControlKind::Label:
        className = "STATIC";
        style |= SS_NOPREFIX | (layout.AutoSize ? SS_LEFT : SS_CENTER);
        if (KeepsPress(row)) style |= SS_NOTIFY;
        break;
    case ControlKind::ListBox:
        className = "LISTBOX";
        style |= WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_EXTENDEDSEL | LBS_NOINTEGRALHEIGHT;
        exStyle |= WS_EX_CLIENTEDGE;
        break;
    case ControlKind::Edit:
        className = "EDIT";
        style |= WS_TABSTOP | ES_AUTOHSCROLL | ES_READONLY;
        exStyle |= WS_EX_CLIENTEDGE;
        break;
    case ControlKind::PushButton:
        className = "BUTTON";
        style |= WS_TABSTOP | BS_PUSHBUTTON;
        break;
    case ControlKind::ProgressBar:
        className = PROGRESS_CLASSA;
        break;
    }
    if (!layout.Enabled) style |= WS_DISABLED;

    const std::string text(layout.Text);
    HWND window = CreateWindowExA(exStyle, className, text.c_str(), style, layout.Left, layout.Top, layout.Width,
                                  layout.Height, parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(form::ControlId(row))), ThisModule(),
                                  nullptr);
    if (window == nullptr) throw support::Exception("Cannot create the control " + std::string(layout.Name));

    Control& control = CreateOwned<Control>(*this, row, window);
    controls_.push_back(&control);
    if (form::IsContainer(layout.Kind))
        control.Font = font;
    else if (form::IsDragSource(row))
        control.Subclass();  // they start drags; the list box also relays to its tooltip
    SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);

    if (layout.Kind == ControlKind::Label && layout.AutoSize) {
        HDC dc = GetDC(window);
        const HGDIOBJ previous = SelectObject(dc, font);
        RECT extent{0, 0, 0, 0};
        DrawTextA(dc, text.c_str(), -1, &extent, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX | DT_EXPANDTABS);
        SelectObject(dc, previous);
        ReleaseDC(window, dc);
        SetWindowPos(window, nullptr, 0, 0, extent.right, extent.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (layout.Kind == ControlKind::ListBox) SendMessageA(window, LB_SETITEMHEIGHT, 0, form::kListItemHeight);
    if (layout.Kind == ControlKind::RadioGroup) CreateMethodButtons(control);
    return control;
}

void Controls::CreateMethodButtons(Control& group) {
    HDC dc = GetDC(group.Handle());
    const HGDIOBJ previous = SelectObject(dc, group.Font);
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, previous);
    ReleaseDC(group.Handle(), dc);

    // One group, created consecutively, the first button opening it.
    for (std::size_t i = 0; i < form::kMethodButtons.size(); ++i) {
        const form::ButtonRect place = form::MethodButtonRect(i, metrics.tmHeight);
        const std::string caption(form::kMethodButtons[i]);
        DWORD style = WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON;
        if (i == 0) style |= WS_GROUP | WS_TABSTOP;
        HWND button = CreateWindowExA(0, "BUTTON", caption.c_str(), style, place.Left, place.Top, place.Width,
                                      place.Height, group.Handle(),
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(form::MethodButtonId(i))),
                                      ThisModule(), nullptr);
        if (button == nullptr) throw support::Exception("Cannot create the method buttons");
        SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(group.Font), FALSE);
        method_buttons_.push_back(button);
    }
    SelectMethodButton(form::kInitialMethodButton);
}

void Controls::CreateTooltips() {
    tooltip_.reset(CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, form_, nullptr,
                                   ThisModule(), nullptr));
    if (!tooltip_) throw support::Exception("Cannot create the tooltips");
    for (std::size_t row = 0; row < kControls.size(); ++row) {
        const ControlSpec& layout = kControls[row];
        if (layout.Hint.empty()) continue;
        std::string hint(layout.Hint);
        TOOLINFOA tool{};
        // The version 5 size: the common controls without a manifest refuse the larger one.
        tool.cbSize = TTTOOLINFOA_V2_SIZE;
        // The controls relay their mouse messages themselves (see Message):
        // the tooltip's own subclassing costs a property lookup on every
        // message, which made filling the list box slow.
        tool.uFlags = TTF_IDISHWND;
        tool.hwnd = GetParent(Handle(row));
        tool.uId = reinterpret_cast<UINT_PTR>(Handle(row));
        tool.lpszText = hint.data();
        SendMessageA(tooltip_.get(), TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void Controls::SetText(std::size_t row, const std::string& text) { SetWindowTextA(Handle(row), text.c_str()); }

COLORREF Backdrop::Colour() const noexcept { return SystemColour >= 0 ? GetSysColor(SystemColour) : Fixed; }

HBRUSH Controls::BrushFor(const Backdrop& backdrop) {
    if (backdrop.SystemColour >= 0) return GetSysColorBrush(backdrop.SystemColour);
    for (const auto& [colour, brush] : brushes_)
        if (colour == backdrop.Fixed) return brush.get();
    UniqueBrush brush(CreateSolidBrush(backdrop.Fixed));
    if (!brush) return GetSysColorBrush(COLOR_BTNFACE);  // out of GDI objects: the face rather than nothing
    brushes_.emplace_back(backdrop.Fixed, std::move(brush));
    return brushes_.back().second.get();
}

void Controls::SetBackground(std::size_t row, form::Colour colour) {
    controls_.at(row)->Background = {-1, ColourRef(colour)};
    RedrawWindow(Handle(row), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void Controls::SelectMethodButton(int index) {
    for (std::size_t i = 0; i < method_buttons_.size(); ++i)
        SendMessageA(method_buttons_[i], BM_SETCHECK, static_cast<int>(i) == index ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool Controls::IsMethodButton(HWND window) const noexcept {
    for (HWND button : method_buttons_)
        if (button == window) return true;
    return false;
}

std::vector<HWND> Controls::TabStops() const {
    std::vector<HWND> stops;
    for (std::size_t i = 0; i < form::kTabSequence.Count; ++i) {
        const std::size_t row = form::kTabSequence.Rows[i];
        HWND stop = Handle(row);
        if (row == kCMethod) {
            stop = MethodButton(0);
            for (HWND button : method_buttons_)
                if (SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED) stop = button;
        }
        if (stop != nullptr && IsWindowVisible(stop) && IsWindowEnabled(stop)) stops.push_back(stop);
    }
    return stops;
}

LRESULT Controls::ColourMessage(HDC dc, HWND child) {
    const Control* control = nullptr;
    const int id = GetDlgCtrlID(child);
    if (id >= form::kMethodButtonIdBase && id < form::MethodButtonId(method_buttons_.size()))
        control = controls_[kCMethod];  // the buttons share their group's colours
    else if (id >= form::kControlIdBase && id < form::ControlId(controls_.size()))
        control = controls_[static_cast<std::size_t>(id - form::kControlIdBase)];
    if (control == nullptr)
        return DefWindowProcA(form_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(child));
    // Disabled text keeps the system's grey.
    if (control->Spec().Enabled) SetTextColor(dc, kBlack);
    SetBkColor(dc, control->Background.Colour());
    SetBkMode(dc, OPAQUE);
    return reinterpret_cast<LRESULT>(BrushFor(control->Background));
}

LRESULT Controls::Message(Control& control, UINT message, WPARAM wParam, LPARAM lParam) {
    const ControlSpec& layout = control.Spec();
    HWND window = control.Handle();
    const bool container = form::IsContainer(layout.Kind);

    if (!layout.Hint.empty() && message >= WM_MOUSEFIRST && message <= WM_MOUSELAST && tooltip_) {
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
        if (container) return SendMessageA(form_, message, wParam, lParam);
        break;
    case WM_SETFONT:
        if (!container) break;
        control.Font = reinterpret_cast<HFONT>(wParam);
        if (LOWORD(lParam)) InvalidateRect(window, nullptr, TRUE);
        return 0;
    case WM_GETFONT:
        if (!container) break;
        return reinterpret_cast<LRESULT>(control.Font);
    case WM_ERASEBKGND:
        if (!container) break;
        {
            RECT client{};
            GetClientRect(window, &client);
            FillRect(reinterpret_cast<HDC>(wParam), &client, BrushFor(control.Background));
        }
        return 1;
    case WM_PAINT:
        if (!container) break;
        Paint(control);
        return 0;

    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        if (form::IsDragSource(control.Row())) return Press(control, message, wParam, lParam);
        break;
    case WM_MOUSEMOVE:
        if (!drag_.HeldBy(window)) break;
        if (!drag_.Move(ScreenPoint(window, lParam))) break;
        return 0;
    case WM_LBUTTONUP:
        if (!drag_.HeldBy(window)) break;
        // A source that saw the press must see the release to end its own tracking.
        if (drag_.End()) break;
        return 0;
    case WM_CAPTURECHANGED:
        if (drag_.HeldBy(window) && reinterpret_cast<HWND>(lParam) != window) drag_.Forget();
        break;
    default:
        break;
    }
    return control.Default(message, wParam, lParam);
}

LRESULT Controls::Press(Control& control, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND window = control.Handle();
    const POINT point = ScreenPoint(window, lParam);
    if (control.Row() != kListBox1) {
        drag_.Arm(window, point, false);
        return 0;
    }
    const std::optional<std::int64_t> item = form::ListItemAt(
        SendMessageA(window, LB_GETTOPINDEX, 0, 0), SendMessageA(window, LB_GETCOUNT, 0, 0), GET_Y_LPARAM(lParam));
    const bool selected = item && SendMessageA(window, LB_GETSEL, static_cast<WPARAM>(*item), 0) > 0;
    const form::KeyState keys{(wParam & MK_SHIFT) != 0, (wParam & MK_CONTROL) != 0};
    if (form::OnListPress(item, selected, keys) == form::ListPress::DragSelection) {
        drag_.Arm(window, point, false);
        return 0;
    }
    const LRESULT result = control.Default(message, wParam, lParam);
    drag_.Arm(window, point, true);
    return result;
}

void Controls::Paint(Control& control) {
    const ControlSpec& layout = control.Spec();
    HWND window = control.Handle();
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(window, &paint);
    RECT client{};
    GetClientRect(window, &client);
    if (layout.Kind == ControlKind::Panel) {
        if (layout.Bevel == form::BevelStyle::RaisedInLoweredOut) {
            DrawEdge(dc, &client, BDR_SUNKENOUTER, BF_RECT);
            InflateRect(&client, -1, -1);
            DrawEdge(dc, &client, BDR_RAISEDINNER, BF_RECT);
        }
    } else {
        // A group: an etched frame through the middle of the caption's line.
        const HGDIOBJ previous = SelectObject(dc, control.Font);
        TEXTMETRICA metrics{};
        GetTextMetricsA(dc, &metrics);
        RECT frame = client;
        frame.top += metrics.tmHeight / 2;
        DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
        const std::string caption(layout.Text);
        RECT text{8, 0, 8, metrics.tmHeight};
        DrawTextA(dc, caption.c_str(), -1, &text, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        SetTextColor(dc, kBlack);
        SetBkColor(dc, control.Background.Colour());
        SetBkMode(dc, OPAQUE);
        DrawTextA(dc, caption.c_str(), -1, &text, DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, previous);
    }
    EndPaint(window, &paint);
}

void Controls::Abandon() noexcept {
    for (Control* control : controls_) control->Abandon();
    // The progress bar and the tooltip left behind run in the common controls,
    // which would go with this library when nothing else uses them: they stay
    // loaded for the rest of the process. Pinning a loaded module loads nothing.
    HMODULE commonControls = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&InitCommonControlsEx), &commonControls);
    (void)tooltip_.release();  // the common controls' own window
    if (panel_class_) panel_class_->Keep();
    if (group_class_) group_class_->Keep();
}

}  // namespace vexmira::dialog
