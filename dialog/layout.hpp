#pragma once
// The dialog's layout as data: the window code creates the controls from these
// rows, and the Wine tests compare the real windows against them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vexmira::dialog {

inline constexpr std::string_view kFormCaption = "Vexmira by Orvel";
inline constexpr int kClientWidth = 534;
inline constexpr int kClientHeight = 393;
// The form's own background; Panel2 covers all of it, so it never shows.
inline constexpr std::uint8_t kSkyBlue[3] = {166, 202, 240};

inline constexpr std::string_view kSystemFace = "System";
inline constexpr std::string_view kArialFace = "Arial";
inline constexpr int kCharacterHeight = 13;  // both faces; a character height, so the font height is -13
inline constexpr int kListItemHeight = 16;

enum class Kind { Panel, Label, GroupBox, ListBox, Edit, PushButton, RadioGroup, ProgressBar };
enum class Face { System, Arial };
enum class Bevel { None, RaisedInLoweredOut };

struct ControlSpec {
    std::string_view name;
    Kind kind;
    std::string_view parent;  // empty: the form itself
    int left, top, width, height;
    std::string_view text;  // caption or initial text
    Face face;
    bool autoSize = false;    // labels: the rectangle follows the text; fixed labels centre it
    bool buttonFace = false;  // background starts as the button face (the detail labels turn white later)
    bool enabled = true;
    int tabOrder = -1;  // among its siblings; -1: not in the tab order
    std::string_view hint = {};
    Bevel bevel = Bevel::None;
};

// Rows for each parent are in stacking order, bottom first.
inline constexpr std::array<ControlSpec, 18> kControls = {{
    {"Panel2", Kind::Panel, "", 0, 0, 534, 393, "", Face::System, false, true, true, 0},
    {"Label1", Kind::Label, "Panel2", 118, 362, 295, 16, "On exe file I skip first .ARC file when RIPP-ing",
     Face::System, true, false, false},
    {"ArchiveGroup", Kind::GroupBox, "Panel2", 8, 8, 518, 314, "Archived Files", Face::Arial, false, true, true, 1,
     "Drag the entire archive too if you wish..."},
    {"ArchiveLabel", Kind::Label, "ArchiveGroup", 14, 18, 46, 16, "Archive:", Face::Arial, true},
    {"Label2", Kind::Label, "ArchiveGroup", 14, 66, 55, 16, "Contains:", Face::Arial, true},
    {"ListBox1", Kind::ListBox, "ArchiveGroup", 15, 86, 320, 212, "", Face::Arial, false, false, true, 1,
     "Click filename for file compression information"},
    {"archivefile", Kind::Edit, "ArchiveGroup", 17, 36, 491, 24, "", Face::Arial, false, false, true, 0},
    {"Button1", Kind::PushButton, "Panel2", 20, 355, 73, 29, "About", Face::System, false, false, true, 2},
    {"Panel1", Kind::Panel, "Panel2", 351, 184, 168, 124, "", Face::System, false, true, true, 3, {},
     Bevel::RaisedInLoweredOut},
    {"Time", Kind::Label, "Panel1", 6, 61, 150, 16, ".", Face::Arial, false, true},
    {"Percentage", Kind::Label, "Panel1", 6, 23, 150, 16, "please click on file name", Face::Arial, false, true},
    {"TimeLabel", Kind::Label, "Panel1", 6, 43, 150, 14, "Size", Face::Arial},
    {"Label7", Kind::Label, "Panel1", 6, 5, 150, 16, "% Compressed", Face::Arial},
    {"Label3", Kind::Label, "Panel1", 6, 80, 150, 16, "Archive Offset if RIPP-ed", Face::Arial},
    {"RIPoffset", Kind::Label, "Panel1", 6, 98, 150, 16, "0000", Face::Arial, false, true},
    {"Button2", Kind::PushButton, "Panel2", 430, 355, 89, 29, "Exit", Face::System, false, false, true, 4},
    {"CMethod", Kind::RadioGroup, "Panel2", 351, 68, 168, 113, "Detected Compression", Face::Arial, false, true, true,
     0},
    {"Loading_Bar", Kind::ProgressBar, "Panel2", 8, 330, 518, 17, "", Face::System, false, false, true, 5},
}};

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

constexpr std::optional<std::size_t> FindControl(std::string_view name) noexcept {
    for (std::size_t i = 0; i < kControls.size(); ++i)
        if (kControls[i].name == name) return i;
    return std::nullopt;
}

// The row of a control every caller names literally; a typo fails to compile.
consteval std::size_t Row(std::string_view name) {
    for (std::size_t i = 0; i < kControls.size(); ++i)
        if (kControls[i].name == name) return i;
    throw "no such control";
}

// Where CMethod puts button i (within CMethod), given the caption font's cell
// height: one column, the buttons sharing the height below the caption.
struct ButtonRect {
    int left, top, width, height;
};
constexpr ButtonRect MethodButtonRect(std::size_t index, int captionHeight) noexcept {
    constexpr int count = static_cast<int>(kMethodButtons.size());
    const ControlSpec& group = kControls[Row("CMethod")];
    const int usable = group.height - captionHeight - 5;
    const int height = usable / count;
    const int top = captionHeight + 1 + (usable % count) / 2;
    return {8, top + static_cast<int>(index) * height, group.width - 10, height};
}

}  // namespace vexmira::dialog
