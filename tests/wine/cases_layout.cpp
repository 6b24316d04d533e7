// The real windows against the layout table: kind, parent, rectangle, text,
// font, state, colours, stacking, tooltips and tab order. And the demo.

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "form/layout.hpp"
#include "tests/wine/cases.hpp"
#include "tests/wine/check.hpp"

namespace vexmira::wine_test {

using form::ControlSpec;
using form::FontFace;
using Kind = form::ControlKind;
using form::kControls;

namespace {

const char* ExpectedClass(Kind kind) {
    switch (kind) {
    case Kind::Panel: return "VexmiraPanel";
    case Kind::GroupBox:
    case Kind::RadioGroup: return "VexmiraGroupBox";
    case Kind::Label: return "Static";
    case Kind::ListBox: return "ListBox";
    case Kind::Edit: return "Edit";
    case Kind::PushButton: return "Button";
    case Kind::ProgressBar: return "msctls_progress32";
    }
    return "?";
}

std::string Name(std::string_view name) { return std::string(name); }

// The rectangle in the parent's client coordinates.
RECT RectInParent(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

SIZE TextSize(HWND window, const std::string& text) {
    HDC dc = GetDC(window);
    const HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0)));
    RECT extent{0, 0, 0, 0};
    DrawTextA(dc, text.c_str(), -1, &extent, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX | DT_EXPANDTABS);
    SelectObject(dc, previous);
    ReleaseDC(window, dc);
    return {extent.right, extent.bottom};
}

HWND FindTooltip(const Dialog& dialog) {
    struct Search {
        HWND owner;
        HWND found = nullptr;
    } search{dialog.Form()};
    EnumThreadWindows(
        dialog.Thread(),
        [](HWND window, LPARAM state) -> BOOL {
            auto* s = reinterpret_cast<Search*>(state);
            if (ClassName(window) == "tooltips_class32" && GetWindow(window, GW_OWNER) == s->owner) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string ToolText(HWND tooltip, HWND tool) {
    char text[256] = {};
    TOOLINFOA info{};
    info.cbSize = TTTOOLINFOA_V2_SIZE;
    info.hwnd = GetParent(tool);
    info.uId = reinterpret_cast<UINT_PTR>(tool);
    info.lpszText = text;
    SendMessageA(tooltip, TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&info));
    return text;
}

void CheckControl(const Dialog& dialog, std::size_t row, const std::string& listedPath) {
    const ControlSpec& entry = kControls[row];
    Context context(Name(entry.Name));
    HWND window = dialog.Control(entry.Name);
    ok(window != nullptr, "no window\n");
    if (!window) return;

    // The plug-in's own classes carry a number that makes them unique to one load.
    const std::string kind = ClassName(window).substr(0, ClassName(window).find('.'));
    ok(_stricmp(kind.c_str(), ExpectedClass(entry.Kind)) == 0, "class got %s, expected %s\n", kind.c_str(),
       ExpectedClass(entry.Kind));
    HWND parent = entry.Parent.empty() ? dialog.Form() : dialog.Control(entry.Parent);
    ok(GetParent(window) == parent, "parent got %p, expected %p\n", static_cast<void*>(GetParent(window)),
       static_cast<void*>(parent));

    const RECT rect = RectInParent(window);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    ok(rect.left == entry.Left && rect.top == entry.Top, "position got %ld,%ld, expected %d,%d\n", rect.left, rect.top,
       entry.Left, entry.Top);
    if (entry.AutoSize) {
        // Sized to its text in its own font; the table's size is what the
        // designer's font gave.
        const SIZE text = TextSize(window, std::string(entry.Text));
        ok(width == text.cx && height == text.cy, "size got %dx%d, expected the text's %ldx%ld\n", width, height,
           text.cx, text.cy);
        trace("%s: sized to its text: %dx%d (table %dx%d)\n", Name(entry.Name).c_str(), width, height, entry.Width,
              entry.Height);
    } else {
        ok(width == entry.Width && height == entry.Height, "size got %dx%d, expected %dx%d\n", width, height, entry.Width,
           entry.Height);
    }

    // The show handler sets two of them; the rest start as the table says.
    std::string expectedText = Name(entry.Text);
    if (entry.Kind == Kind::Edit) expectedText = listedPath;
    if (entry.Name == "RIPoffset") expectedText = form::kOffsetAtShow;
    if (entry.Kind != Kind::ListBox && entry.Kind != Kind::ProgressBar)
        ok(WindowText(window) == expectedText, "text got \"%s\", expected \"%s\"\n", WindowText(window).c_str(),
           expectedText.c_str());

    if (entry.Kind != Kind::ProgressBar) {
        LOGFONTA font{};
        const auto handle = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
        ok(handle && GetObjectA(handle, sizeof font, &font) > 0, "no font\n");
        const std::string_view face = entry.Face == FontFace::Arial ? form::kArialFace : form::kSystemFace;
        ok(face == font.lfFaceName && font.lfHeight == -form::kCharacterHeight,
           "font got \"%s\" %ld, expected \"%.*s\" %d\n", font.lfFaceName, font.lfHeight, static_cast<int>(face.size()),
           face.data(), -form::kCharacterHeight);
    }

    ok(IsWindowVisible(window), "not visible\n");
    ok((IsWindowEnabled(window) != FALSE) == entry.Enabled, "enabled got %d, expected %d\n", IsWindowEnabled(window),
       entry.Enabled);
    // Every background as the layout starts it, the button-face column's and
    // those that come from a parent alike.
    const form::Fill fill = form::InitialFill(row);
    const COLORREF expectedBackground = fill == form::Fill::ButtonFace ? GetSysColor(COLOR_BTNFACE)
                                        : fill == form::Fill::Window   ? GetSysColor(COLOR_WINDOW)
                                                                       : RGB(form::kSkyBlue.Red, form::kSkyBlue.Green,
                                                                             form::kSkyBlue.Blue);
    ok(dialog.Background(entry.Name) == expectedBackground, "background got %06lx, expected %06lx\n",
       dialog.Background(entry.Name), expectedBackground);

    const LONG style = GetWindowLongA(window, GWL_STYLE);
    switch (entry.Kind) {
    case Kind::Label:
        ok((style & SS_TYPEMASK) == static_cast<LONG>(entry.AutoSize ? SS_LEFT : SS_CENTER),
           "alignment style got %lx, expected %s\n", style & SS_TYPEMASK, entry.AutoSize ? "left" : "centred");
        break;
    case Kind::ListBox:
        ok((style & LBS_EXTENDEDSEL) && (style & LBS_NOTIFY), "style got %lx, expected extended selection\n", style);
        ok(SendMessageA(window, LB_GETITEMHEIGHT, 0, 0) == form::kListItemHeight, "item height got %ld\n",
           static_cast<long>(SendMessageA(window, LB_GETITEMHEIGHT, 0, 0)));
        break;
    case Kind::Edit:
        ok((style & ES_READONLY) != 0, "style got %lx, expected read-only\n", style);
        break;
    case Kind::PushButton:
        // No default button: Enter means nothing special.
        ok((style & 0x0F) == BS_PUSHBUTTON, "button style got %lx\n", style & 0x0F);
        break;
    default:
        break;
    }
}

// Each parent's children, top of the stack first, by layout name.
std::vector<std::string> StackOf(const Dialog& dialog, HWND parent) {
    std::vector<std::string> names;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(child);
        const bool inTable = id >= form::kControlIdBase && id < form::ControlId(kControls.size());
        names.push_back(inTable ? Name(kControls[static_cast<std::size_t>(id - form::kControlIdBase)].Name)
                                : WindowText(child));
    }
    (void)dialog;
    return names;
}

void CheckStacking(const Dialog& dialog) {
    for (std::string_view parent : {std::string_view{}, std::string_view{"Panel2"}, std::string_view{"ArchiveGroup"},
                                    std::string_view{"Panel1"}}) {
        Context context("stacking in " + (parent.empty() ? std::string("the form") : Name(parent)));
        std::vector<std::string> expected;
        for (const ControlSpec& entry : kControls)
            if (entry.Parent == parent) expected.insert(expected.begin(), Name(entry.Name));  // the last row is on top
        const std::vector<std::string> got = StackOf(dialog, parent.empty() ? dialog.Form() : dialog.Control(parent));
        ok(got == expected, "got %s, expected %s\n", Join(got).c_str(), Join(expected).c_str());
    }
    // The stack decides who gets the mouse where the panels lie on the group.
    HWND panel2 = dialog.Control("Panel2");
    for (const char* upper : {"CMethod", "Panel1"}) {
        RECT rect = RectInParent(dialog.Control(upper));
        POINT inside{rect.right - 4, rect.bottom - 4};
        ClientToScreen(panel2, &inside);
        HWND hit = WindowFromPoint(inside);
        ok(hit == dialog.Control(upper), "the point inside %s hits %s\n", upper, ClassName(hit).c_str());
    }
}

void CheckMethodButtons(const Dialog& dialog) {
    Context context("CMethod's buttons");
    HWND group = dialog.Control("CMethod");
    RECT client{};
    GetClientRect(group, &client);
    int previousBottom = 0;
    for (std::size_t i = 0; i < form::kMethodButtons.size(); ++i) {
        HWND button = dialog.MethodButton(i);
        ok(button != nullptr && GetParent(button) == group, "button %u is missing\n", static_cast<unsigned>(i));
        if (!button) continue;
        ok(WindowText(button) == form::kMethodButtons[i], "button %u text got \"%s\"\n", static_cast<unsigned>(i),
           WindowText(button).c_str());
        const LONG style = GetWindowLongA(button, GWL_STYLE);
        ok((style & 0x0F) == BS_AUTORADIOBUTTON, "button %u style got %lx\n", static_cast<unsigned>(i), style);
        ok(((style & WS_GROUP) != 0) == (i == 0), "button %u group flag got %d\n", static_cast<unsigned>(i),
           (style & WS_GROUP) != 0);
        // One column, top to bottom, inside the group below its caption.
        const RECT rect = RectInParent(button);
        ok(rect.left == 8 && rect.top >= previousBottom && rect.bottom <= client.bottom && rect.right <= client.right,
           "button %u at %ld,%ld-%ld,%ld\n", static_cast<unsigned>(i), rect.left, rect.top, rect.right, rect.bottom);
        previousBottom = rect.bottom;
    }
    ok(dialog.CheckedMethod() == form::kInitialMethodButton, "checked button got %d, expected %d\n",
       dialog.CheckedMethod(), form::kInitialMethodButton);
}

void CheckForm(const Dialog& dialog) {
    Context context("form");
    HWND form = dialog.Form();
    ok(WindowText(form) == form::kFormCaption, "caption got \"%s\"\n", WindowText(form).c_str());
    RECT client{};
    GetClientRect(form, &client);
    ok(client.right == form::kClientWidth && client.bottom == form::kClientHeight, "client got %ldx%ld\n",
       client.right, client.bottom);
    const LONG style = GetWindowLongA(form, GWL_STYLE);
    const LONG exStyle = GetWindowLongA(form, GWL_EXSTYLE);
    ok((style & WS_CAPTION) == WS_CAPTION && (style & WS_SYSMENU), "style got %lx, expected a caption with a close box\n",
       style);
    ok(!(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)), "style got %lx, expected fixed size and no other boxes\n",
       style);
    ok(exStyle & WS_EX_TOPMOST, "extended style got %lx, expected stay-on-top\n", exStyle);

    LOGBRUSH brush{};
    GetObjectA(reinterpret_cast<HBRUSH>(GetClassLongPtrA(form, GCLP_HBRBACKGROUND)), sizeof brush, &brush);
    const COLORREF skyBlue = RGB(form::kSkyBlue.Red, form::kSkyBlue.Green, form::kSkyBlue.Blue);
    ok(brush.lbColor == skyBlue, "form colour got %06lx, expected %06lx\n", brush.lbColor, skyBlue);
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(form, WM_GETFONT, 0, 0)), sizeof font, &font);
    ok(form::kSystemFace == font.lfFaceName && font.lfHeight == -form::kCharacterHeight, "font got \"%s\" %ld\n",
       font.lfFaceName, font.lfHeight);

    // Centred on the screen the first time it shows.
    RECT frame{};
    GetWindowRect(form, &frame);
    const int dx = (frame.left + frame.right) / 2 - GetSystemMetrics(SM_CXSCREEN) / 2;
    const int dy = (frame.top + frame.bottom) / 2 - GetSystemMetrics(SM_CYSCREEN) / 2;
    ok(std::abs(dx) <= 1 && std::abs(dy) <= 1, "window centre is off the screen's by %d,%d\n", dx, dy);

    // Panel2 covers the client area, so the sky blue never shows.
    HWND panel = dialog.Control("Panel2");
    RedrawWindow(form, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Settle(form);
    HDC dc = GetDC(panel);
    const COLORREF corner = GetPixel(dc, 2, form::kClientHeight - 3);
    ReleaseDC(panel, dc);
    ok(corner == GetSysColor(COLOR_BTNFACE), "pixel in the corner got %06lx, expected button face %06lx\n", corner,
       GetSysColor(COLOR_BTNFACE));
}

void CheckInitialState(const Dialog& dialog) {
    Context context("initial state");
    const PBRANGE range = dialog.ProgressRange();
    ok(range.iLow == 0 && range.iHigh == 100 && dialog.ProgressPosition() == 0, "bar got %d..%d at %d\n", range.iLow,
       range.iHigh, dialog.ProgressPosition());
    HWND tooltip = FindTooltip(dialog);
    ok(tooltip != nullptr, "no tooltip window\n");
    if (tooltip) {
        int hints = 0;
        for (const ControlSpec& entry : kControls) {
            if (entry.Hint.empty()) continue;
            ++hints;
            const std::string text = ToolText(tooltip, dialog.Control(entry.Name));
            ok(text == entry.Hint, "%s tooltip got \"%s\"\n", Name(entry.Name).c_str(), text.c_str());
        }
        const auto tools = SendMessageA(tooltip, TTM_GETTOOLCOUNT, 0, 0);
        ok(tools == hints, "tooltips got %ld, expected %d\n", static_cast<long>(tools), hints);
    }
    // Arial labels are black.
    HDC dc = CreateCompatibleDC(nullptr);
    HWND label = dialog.Control("Percentage");
    SendMessageA(GetParent(label), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label));
    ok(GetTextColor(dc) == RGB(0, 0, 0), "label text colour got %06lx\n", GetTextColor(dc));
    DeleteDC(dc);
}

// Tabs on until target has the focus; the focus cannot be set from the test's thread.
void FocusByTab(const Dialog& dialog, HWND target) {
    for (int i = 0; i < 8 && dialog.Focus() != target; ++i) {
        const HWND before = dialog.Focus();
        dialog.Press(VK_TAB);
        WaitUntil([&] { return dialog.Focus() != before; });
    }
}

void CheckTabOrder(const Dialog& dialog) {
    Context context("tab order");
    ok(dialog.Focus() == dialog.Control("ListBox1"), "focus at show got %s\n", ClassName(dialog.Focus()).c_str());
    struct Stop {
        const char* name;
        HWND window;
    };
    // CMethod, ArchiveGroup (archivefile, ListBox1), Button1, Panel1 (nothing
    // to focus), Button2, Loading_Bar (not a stop).
    const Stop forward[] = {
        {"Button1", dialog.Control("Button1")},
        {"Button2", dialog.Control("Button2")},
        {"CMethod's checked button", dialog.MethodButton(form::kInitialMethodButton)},
        {"archivefile", dialog.Control("archivefile")},
        {"ListBox1", dialog.Control("ListBox1")},
    };
    // Every key that moves the focus walks the same order: Tab with or
    // without Ctrl, Shift backwards.
    for (const bool ctrl : {false, true}) {
        const char* tab = ctrl ? "Ctrl+Tab" : "Tab";
        for (const Stop& stop : forward) {
            dialog.Press(VK_TAB, {.ctrl = ctrl});
            WaitUntil([&] { return dialog.Focus() == stop.window; });
            ok(dialog.Focus() == stop.window, "%s: focus got %s \"%s\", expected %s\n", tab,
               ClassName(dialog.Focus()).c_str(), WindowText(dialog.Focus()).c_str(), stop.name);
        }
        for (int i = static_cast<int>(std::size(forward)) - 2; i >= -1; --i) {
            const Stop& stop = forward[i < 0 ? std::size(forward) - 1 : static_cast<std::size_t>(i)];
            dialog.Press(VK_TAB, {.shift = true, .ctrl = ctrl});
            WaitUntil([&] { return dialog.Focus() == stop.window; });
            ok(dialog.Focus() == stop.window, "Shift+%s: focus got %s \"%s\", expected %s\n", tab,
               ClassName(dialog.Focus()).c_str(), WindowText(dialog.Focus()).c_str(), stop.name);
        }
    }
    // The arrows step from the push buttons, which have no use for them, in
    // the same order; the list box keeps its own.
    struct Arrow {
        WORD key;
        const char* name;
        HWND from;
        HWND to;
    };
    const Arrow arrows[] = {
        {VK_RIGHT, "Right", dialog.Control("Button1"), dialog.Control("Button2")},
        {VK_DOWN, "Down", dialog.Control("Button2"), dialog.MethodButton(form::kInitialMethodButton)},
        {VK_LEFT, "Left", dialog.Control("Button2"), dialog.Control("Button1")},
        {VK_UP, "Up", dialog.Control("Button1"), dialog.Control("ListBox1")},
    };
    for (const Arrow& arrow : arrows) {
        FocusByTab(dialog, arrow.from);
        dialog.Press(arrow.key);
        WaitUntil([&] { return dialog.Focus() == arrow.to; });
        ok(dialog.Focus() == arrow.to, "%s from \"%s\": focus got %s \"%s\", expected \"%s\"\n", arrow.name,
           WindowText(arrow.from).c_str(), ClassName(dialog.Focus()).c_str(), WindowText(dialog.Focus()).c_str(),
           WindowText(arrow.to).c_str());
    }
}

// Panel1 draws a lowered outer and a raised inner bevel; Panel2 none.
void CheckBevels(const Dialog& dialog) {
    Context context("bevels");
    RedrawWindow(dialog.Form(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Settle(dialog.Form());
    HWND panel = dialog.Control("Panel1");
    RECT client{};
    GetClientRect(panel, &client);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    const COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
    const int midX = client.right / 2, midY = client.bottom / 2;
    struct Pixel {
        const char* where;
        int x, y;
        COLORREF expected;
    };
    // Outer ring: shadow top and left, highlight bottom and right; the inner
    // ring the other way round.
    const Pixel pixels[] = {
        {"outer top", midX, 0, shadow},
        {"outer left", 0, midY, shadow},
        {"outer bottom", midX, client.bottom - 1, highlight},
        {"outer right", client.right - 1, midY, highlight},
        {"inner top", midX, 1, highlight},
        {"inner left", 1, midY, highlight},
        {"inner bottom", midX, client.bottom - 2, shadow},
        {"inner right", client.right - 2, midY, shadow},
    };
    HDC dc = GetDC(panel);
    for (const Pixel& pixel : pixels) {
        const COLORREF got = GetPixel(dc, pixel.x, pixel.y);
        ok(got == pixel.expected, "Panel1 %s got %06lx, expected %06lx\n", pixel.where, got, pixel.expected);
    }
    ReleaseDC(panel, dc);
    HWND outer = dialog.Control("Panel2");
    dc = GetDC(outer);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    for (const POINT point : {POINT{200, 0}, POINT{0, 200}, POINT{1, 200}, POINT{200, form::kClientHeight - 1}}) {
        const COLORREF got = GetPixel(dc, point.x, point.y);
        ok(got == face, "Panel2 at %ld,%ld got %06lx, expected the plain face %06lx\n", point.x, point.y, got, face);
    }
    ReleaseDC(outer, dc);
}

}  // namespace

void CaseLayout(const Options& options) {
    Workspace files;
    // A path with nothing to list keeps every control as it starts.
    const std::string path = files.Path("nothing.ARC");
    Plugin plugin(options.dll);
    RunJob(plugin, path.c_str(), [&](Dialog& dialog) {
        CheckForm(dialog);
        for (std::size_t row = 0; row < kControls.size(); ++row) CheckControl(dialog, row, path);
        CheckStacking(dialog);
        CheckMethodButtons(dialog);
        CheckInitialState(dialog);
        CheckBevels(dialog);
        CheckTabOrder(dialog);
        CloseWithEscape(dialog);
    });
}

void Demo(const Options& options) {
    // demo CARRIER READY DONE: shows the dialog on CARRIER, selects an entry,
    // writes the dialog's place on the screen to READY, and closes once DONE
    // exists.
    if (options.args.size() < 3) {
        std::printf("usage: demo DLL CARRIER READY DONE\n");
        return;
    }
    const std::string carrier = WindowsPath(options.args[0]);
    const std::string ready = WindowsPath(options.args[1]);
    const std::string done = WindowsPath(options.args[2]);
    Plugin plugin(options.dll);
    const JobOutcome outcome = RunJob(plugin, carrier.c_str(), [&](Dialog& dialog) {
        if (dialog.Count() > 0) {
            const int entry = dialog.Count() > 1 ? 1 : 0;
            dialog.ClickItem(entry);
            WaitUntil([&] { return dialog.Caret() == entry && dialog.Text("TimeLabel") == "Full Size:"; });
        }
        std::printf("demo: %s: %d entries, offset %s\n", carrier.c_str(), dialog.Count(), dialog.Text("RIPoffset").c_str());
        Settle(dialog.Form());
        // The screenshot's crop: the window and a margin, as WxH+X+Y.
        RECT frame{};
        GetWindowRect(dialog.Form(), &frame);
        constexpr int kMargin = 8;
        const std::string crop = std::to_string(frame.right - frame.left + 2 * kMargin) + "x" +
                                 std::to_string(frame.bottom - frame.top + 2 * kMargin) + "+" +
                                 std::to_string(std::max(0L, frame.left - kMargin)) + "+" +
                                 std::to_string(std::max(0L, frame.top - kMargin));
        testing::WriteFile(ready, testing::Bytes(crop.begin(), crop.end()));
        ok(WaitUntil([&] { return FileExists(done); }, 60000), "no one took the screenshot\n");
        CloseWithEscape(dialog);
    });
    for (const MessageBoxSeen& box : outcome.before) std::printf("demo: message \"%s\"\n", box.text.c_str());
}

}  // namespace vexmira::wine_test
