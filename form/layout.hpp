#pragma once
// The dialog's layout as data: the window code creates the controls from these
// rows, the form model derives the tab sequence from them, and the Wine tests
// compare the real windows against them. The table is checked when it compiles.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace vexmira::form {

inline constexpr std::string_view kFormCaption = "Vexmira by Orvel";
inline constexpr int kClientWidth = 534;
inline constexpr int kClientHeight = 393;

// A colour as its red, green and blue bytes.
struct Colour {
    std::uint8_t Red, Green, Blue;
    friend constexpr bool operator==(const Colour&, const Colour&) = default;
};
// The form's own background; Panel2 covers all of it, so it never shows.
inline constexpr Colour kSkyBlue = {166, 202, 240};
inline constexpr Colour kWhite = {255, 255, 255};

inline constexpr std::string_view kSystemFace = "System";
inline constexpr std::string_view kArialFace = "Arial";
inline constexpr int kCharacterHeight = 13;  // both faces; a character height, so the font height is -13
inline constexpr int kListItemHeight = 16;

enum class ControlKind { Panel, Label, GroupBox, ListBox, Edit, PushButton, RadioGroup, ProgressBar };
enum class FontFace { System, Arial };
enum class BevelStyle { None, RaisedInLoweredOut };

struct ControlSpec {
    std::string_view Name;
    ControlKind Kind;
    std::string_view Parent;  // empty: the form itself
    int Left, Top, Width, Height;
    std::string_view Text;  // caption or initial text
    FontFace Face;
    bool AutoSize = false;    // labels: the rectangle follows the text; fixed labels centre it
    bool ButtonFace = false;  // background starts as the button face (the detail labels turn white later)
    bool Enabled = true;
    int TabOrder = -1;  // among its siblings; -1: not in the tab order
    std::string_view Hint = {};
    BevelStyle Bevel = BevelStyle::None;
};

// Rows for each parent are in stacking order, bottom first.
inline constexpr std::array<ControlSpec, 18> kControls = {{
    {"Panel2", ControlKind::Panel, "", 0, 0, 534, 393, "", FontFace::System, false, true, true, 0},
    {"Label1", ControlKind::Label, "Panel2", 118, 362, 295, 16, "On exe file I skip first .ARC file when RIPP-ing",
     FontFace::System, true, false, false},
    {"ArchiveGroup", ControlKind::GroupBox, "Panel2", 8, 8, 518, 314, "Archived Files", FontFace::Arial, false, true,
     true, 1, "Drag the entire archive too if you wish..."},
    {"ArchiveLabel", ControlKind::Label, "ArchiveGroup", 14, 18, 46, 16, "Archive:", FontFace::Arial, true},
    {"Label2", ControlKind::Label, "ArchiveGroup", 14, 66, 55, 16, "Contains:", FontFace::Arial, true},
    {"ListBox1", ControlKind::ListBox, "ArchiveGroup", 15, 86, 320, 212, "", FontFace::Arial, false, false, true, 1,
     "Click filename for file compression information"},
    {"archivefile", ControlKind::Edit, "ArchiveGroup", 17, 36, 491, 24, "", FontFace::Arial, false, false, true, 0},
    {"Button1", ControlKind::PushButton, "Panel2", 20, 355, 73, 29, "About", FontFace::System, false, false, true, 2},
    {"Panel1", ControlKind::Panel, "Panel2", 351, 184, 168, 124, "", FontFace::System, false, true, true, 3, {},
     BevelStyle::RaisedInLoweredOut},
    {"Time", ControlKind::Label, "Panel1", 6, 61, 150, 16, ".", FontFace::Arial, false, true},
    {"Percentage", ControlKind::Label, "Panel1", 6, 23, 150, 16, "please click on file name", FontFace::Arial, false,
     true},
    {"TimeLabel", ControlKind::Label, "Panel1", 6, 43, 150, 14, "Size", FontFace::Arial},
    {"Label7", ControlKind::Label, "Panel1", 6, 5, 150, 16, "% Compressed", FontFace::Arial},
    {"Label3", ControlKind::Label, "Panel1", 6, 80, 150, 16, "Archive Offset if RIPP-ed", FontFace::Arial},
    {"RIPoffset", ControlKind::Label, "Panel1", 6, 98, 150, 16, "0000", FontFace::Arial, false, true},
    {"Button2", ControlKind::PushButton, "Panel2", 430, 355, 89, 29, "Exit", FontFace::System, false, false, true, 4},
    {"CMethod", ControlKind::RadioGroup, "Panel2", 351, 68, 168, 113, "Detected Compression", FontFace::Arial, false,
     true, true, 0},
    {"Loading_Bar", ControlKind::ProgressBar, "Panel2", 8, 330, 518, 17, "", FontFace::System, false, false, true, 5},
}};

// Controls that start a drag when pressed and moved; nothing accepts a drop.
inline constexpr std::array<std::string_view, 3> kDragSources = {"ArchiveGroup", "ArchiveLabel", "ListBox1"};

// CMethod's buttons, top to bottom; "LZH5" is selected at start.
inline constexpr std::array<std::string_view, 4> kMethodButtons = {"None", "RLE", "LZH1", "LZH5"};
inline constexpr int kInitialMethodButton = 3;

inline constexpr std::string_view kTimeLabelSelected = "Full Size:";
inline constexpr std::string_view kOffsetAtShow = "0";

// Control ids: a row's index plus this base; CMethod's buttons follow their own base.
inline constexpr int kControlIdBase = 1000;
inline constexpr int kMethodButtonIdBase = 2000;

constexpr int ControlId(std::size_t row) noexcept { return kControlIdBase + static_cast<int>(row); }
constexpr int MethodButtonId(std::size_t index) noexcept { return kMethodButtonIdBase + static_cast<int>(index); }

constexpr std::optional<std::size_t> FindControl(std::string_view name,
                                                 std::span<const ControlSpec> controls = kControls) noexcept {
    for (std::size_t i = 0; i < controls.size(); ++i)
        if (controls[i].Name == name) return i;
    return std::nullopt;
}

// The row of a control every caller names literally; a typo fails to compile.
consteval std::size_t Row(std::string_view name) {
    const std::optional<std::size_t> row = FindControl(name);
    if (!row) throw "no such control";
    return *row;
}

constexpr bool IsContainer(ControlKind kind) noexcept {
    return kind == ControlKind::Panel || kind == ControlKind::GroupBox || kind == ControlKind::RadioGroup;
}

constexpr bool IsDragSource(std::size_t row) noexcept {
    for (std::string_view name : kDragSources)
        if (kControls[row].Name == name) return true;
    return false;
}

// Checks on a table, run on kControls when this header compiles. The window
// creates rows in order, so a parent must exist before its children.

constexpr bool NamesUnique(std::span<const ControlSpec> controls) noexcept {
    for (std::size_t i = 0; i < controls.size(); ++i)
        for (std::size_t j = i + 1; j < controls.size(); ++j)
            if (controls[i].Name.empty() || controls[i].Name == controls[j].Name) return false;
    return true;
}

constexpr bool ParentsBeforeChildren(std::span<const ControlSpec> controls) noexcept {
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].Parent.empty()) continue;
        const std::optional<std::size_t> parent = FindControl(controls[i].Parent, controls);
        if (!parent || *parent >= i || !IsContainer(controls[*parent].Kind)) return false;
    }
    return true;
}

// Each control in the tab order has a place among its siblings of its own.
constexpr bool TabOrdersDistinct(std::span<const ControlSpec> controls) noexcept {
    for (std::size_t i = 0; i < controls.size(); ++i)
        for (std::size_t j = i + 1; j < controls.size(); ++j)
            if (controls[i].TabOrder >= 0 && controls[i].Parent == controls[j].Parent &&
                controls[i].TabOrder == controls[j].TabOrder)
                return false;
    return true;
}

static_assert(NamesUnique(kControls), "two rows of the layout share a name");
static_assert(ParentsBeforeChildren(kControls), "a row comes before its parent, or its parent is no container");
static_assert(TabOrdersDistinct(kControls), "two siblings share a tab order");
static_assert(Row("CMethod") < kControls.size() && Row("ArchiveGroup") < kControls.size());
static_assert([] {
    for (std::string_view name : kDragSources)
        if (!FindControl(name)) return false;
    return true;
}(), "a drag source names no row");

// The controls that Tab visits, in order: each parent's children by their tab
// order, a container standing for its own children in turn. CMethod is one
// stop (the window focuses its checked button); labels and the bar take no
// focus. The unused tail of the array holds kControls.size().
struct TabSequence {
    std::array<std::size_t, kControls.size()> Rows{};
    std::size_t Count = 0;
};

constexpr void AppendTabStops(std::span<const ControlSpec> controls, std::string_view parent, TabSequence& sequence) {
    int previous = -1;
    for (;;) {
        // The sibling with the next tab order above the previous one.
        std::optional<std::size_t> next;
        for (std::size_t row = 0; row < controls.size(); ++row) {
            const ControlSpec& layout = controls[row];
            if (layout.Parent != parent || layout.TabOrder <= previous) continue;
            if (!next || layout.TabOrder < controls[*next].TabOrder) next = row;
        }
        if (!next) return;
        previous = controls[*next].TabOrder;
        switch (controls[*next].Kind) {
        case ControlKind::Panel:
        case ControlKind::GroupBox:
            AppendTabStops(controls, controls[*next].Name, sequence);
            break;
        case ControlKind::RadioGroup:
        case ControlKind::ListBox:
        case ControlKind::Edit:
        case ControlKind::PushButton:
            if (sequence.Count < sequence.Rows.size()) sequence.Rows[sequence.Count++] = *next;
            break;
        case ControlKind::Label:
        case ControlKind::ProgressBar:
            break;
        }
    }
}

constexpr TabSequence TabStops(std::span<const ControlSpec> controls = kControls) {
    TabSequence sequence;
    sequence.Rows.fill(kControls.size());
    AppendTabStops(controls, {}, sequence);
    return sequence;
}

inline constexpr TabSequence kTabSequence = TabStops();

// Where a control's background comes from until the form model sets one: the
// system's button face (the layout's ButtonFace column), the system's window
// colour (edit fields and lists), or else its parent's, the form's own sky blue
// at the top.
enum class Fill { ButtonFace, Window, Form };

constexpr Fill InitialFill(std::size_t row, std::span<const ControlSpec> controls = kControls) noexcept {
    for (std::optional<std::size_t> at = row; at && *at < controls.size();
         at = FindControl(controls[*at].Parent, controls)) {
        const ControlSpec& layout = controls[*at];
        if (layout.ButtonFace) return Fill::ButtonFace;
        if (layout.Kind == ControlKind::ListBox || layout.Kind == ControlKind::Edit) return Fill::Window;
        if (layout.Parent.empty()) break;
    }
    return Fill::Form;
}

// Where CMethod puts button i (within CMethod), given the caption font's cell
// height: one column, the buttons sharing the height below the caption.
struct ButtonRect {
    int Left, Top, Width, Height;
};
constexpr ButtonRect MethodButtonRect(std::size_t index, int captionHeight) noexcept {
    constexpr int kCount = static_cast<int>(kMethodButtons.size());
    const ControlSpec& group = kControls[Row("CMethod")];
    const int usable = group.Height - captionHeight - 5;
    const int height = usable / kCount;
    const int top = captionHeight + 1 + (usable % kCount) / 2;
    return {8, top + static_cast<int>(index) * height, group.Width - 10, height};
}

}  // namespace vexmira::form
