#pragma once
// What the dialog does, decided without a window. TForm1's handlers run here
// against a View: the Win32 window implements it with its controls and message
// boxes, the tests with a recording.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "archive/compress.hpp"
#include "form/layout.hpp"

namespace vexmira::form {

// What the handlers ask of the window. Rows are those of kControls.
class View {
public:
    virtual ~View() = default;

    virtual void ClearList() = 0;
    // Appends the names, in order, to ListBox1.
    virtual void FillList(const archive::EntryList& entries) = 0;
    // ListBox1's focused item (its caret); -1 when none.
    virtual std::int64_t FocusedIndex() const = 0;

    virtual void SetText(std::size_t row, const std::string& text) = 0;
    virtual void SetBackground(std::size_t row, Colour colour) = 0;
    virtual void SelectMethodButton(int index) = 0;
    // Loading_Bar; its minimum is always 0.
    virtual void SetProgressRange(std::int32_t maximum) = 0;
    virtual void SetProgressPosition(std::int32_t position) = 0;

    // The information message box; returns once dismissed.
    virtual void ShowInformation(const std::string& text) = 0;
    // The error report box, for an error's message as raised (the box adds
    // the full stop).
    virtual void ShowErrorReport(const std::string& message) = 0;

    // From stay-on-top to a normal window, for good.
    virtual void DropStayOnTop() = 0;
    // Ends the modal run.
    virtual void Close() = 0;
};

// The dialog module's variables that the handlers share. The plug-in's dialog
// binds its module-level variables, a test its own.
struct ModuleState {
    std::string& SourcePath;
    std::unique_ptr<archive::EntryList>& EntryList;
    std::int64_t& RipOffset;  // -1: nothing located by the last run
};

// What "About" shows.
extern const char* const kCreditText;

inline constexpr std::uint16_t kEscapeKey = 27;

class FormModel {
public:
    FormModel(View& view, archive::TCompress& compress1, ModuleState state) noexcept
        : view_(view), compress1_(compress1), state_(state) {}

    // The handlers, named after the control and the event. They raise what
    // the file layer, the reader or the view raise.
    void FormShow();
    void showfiles();
    void Rip_ARC_Archive();
    void ListBox1Click();
    void FormKeyDown(std::uint16_t& key);
    void Button1Click();
    void Button2Click() { view_.Close(); }
    void FormDestroy() noexcept;

    // Runs a handler; whatever it raises is shown in the error report box.
    // Nothing gets past, so the window procedure stays a wall.
    template <class Handler>
    void Guarded(Handler&& handler) noexcept {
        try {
            handler();
        } catch (...) {
            ReportCurrentError();
        }
    }

    // The path archivefile shows, which showfiles lists.
    const std::string& ArchivePath() const noexcept { return archive_path_; }

private:
    void SetArchivePath(std::string path);
    // FreeFileList on EntryList, then EntryList destroyed.
    void ReleaseEntryList() noexcept;
    void ReportCurrentError() noexcept;

    View& view_;
    archive::TCompress& compress1_;
    ModuleState state_;
    std::string archive_path_;
    bool side_created_ = false;  // by the last Rip_ARC_Archive
};

// The text the selected entry's details show.
struct EntryDetails {
    std::string Percentage;
    std::string Size;
    int MethodButton = kInitialMethodButton;
};
EntryDetails DetailsOf(const archive::TCompressedFileInfo& info);

// The item under a point y pixels below the top of ListBox1's client area,
// with topIndex the first item shown; none above the top or past the last
// item. Computed, not asked of the list box, whose own hit test reports only
// 16 bits of index.
std::optional<std::int64_t> ListItemAt(std::int64_t topIndex, std::int64_t count, int y) noexcept;

struct KeyState {
    bool Shift = false;
    bool Ctrl = false;
};

enum class FocusStep { None, Next, Previous };
// What a key press does to the focus, one tab order for every key that moves
// it: Tab and Ctrl+Tab step through the layout's order, Shift backwards; the
// arrow keys step too (Right and Down onwards) from a control that has no use
// for them, a push button. Keys with Alt are the system's.
FocusStep FocusStepFor(std::uint16_t key, KeyState keys, bool alt, bool focusUsesArrows) noexcept;

enum class ListPress {
    // The list box never sees the press: the selection stays as it is and
    // ListBox1Click does not run; moving drags the selection.
    DragSelection,
    // The list box takes the press (a plain one selects the item, Shift and
    // Ctrl extend the selection); moving on then drags.
    SelectThenDrag,
};
// A press on an item that is already selected drags, whatever keys are held;
// every other press on ListBox1 goes to the list box first.
ListPress OnListPress(std::optional<std::int64_t> item, bool itemSelected, KeyState keys) noexcept;

}  // namespace vexmira::form
