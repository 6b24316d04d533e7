#include "form/form_model.hpp"

#include <algorithm>
#include <exception>
#include <iterator>
#include <new>
#include <utility>

#include "archive/entry_text.hpp"
#include "locator/locator.hpp"
#include "support/exception.hpp"
#include "support/file_system.hpp"
#include "support/path.hpp"

namespace vexmira::form {

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

constexpr std::size_t kArchiveFile = Row("archivefile");
constexpr std::size_t kCMethod = Row("CMethod");
constexpr std::size_t kPercentage = Row("Percentage");
constexpr std::size_t kTime = Row("Time");
constexpr std::size_t kTimeLabel = Row("TimeLabel");
constexpr std::size_t kRIPoffset = Row("RIPoffset");

// The locator's display: the progress goes to Loading_Bar, the offset text
// to RIPoffset, messages to the information box.
class ViewDisplay final : public locator::Display {
public:
    explicit ViewDisplay(View& view) noexcept : view_(view) {}
    void SetProgressRange(std::int32_t maximum) override { view_.SetProgressRange(maximum); }
    void SetProgressPosition(std::int32_t position) override { view_.SetProgressPosition(position); }
    void SetOffsetText(const std::string& text) override { view_.SetText(kRIPoffset, text); }
    void ShowMessage(const std::string& text) override { view_.ShowInformation(text); }

private:
    View& view_;
};

}  // namespace

void FormModel::SetArchivePath(std::string path) {
    view_.SetText(kArchiveFile, path);
    archive_path_ = std::move(path);
}

void FormModel::FormShow() {
    view_.ClearList();
    view_.SetText(kRIPoffset, std::string(kOffsetAtShow));
    SetArchivePath(state_.SourcePath);
    if (!support::IsArcPath(state_.SourcePath)) {
        SetArchivePath("");
        Rip_ARC_Archive();
        if (state_.RipOffset < 0) return;
        // A side file this run could not create or replace holds another
        // file's bytes, or a stale run's: it is not listed.
        if (!side_created_) return;
        SetArchivePath(support::SideFilePath(state_.SourcePath));
    }
    ReleaseEntryList();
    state_.EntryList = std::make_unique<archive::EntryList>();
    showfiles();
}

void FormModel::showfiles() {
    view_.ClearList();
    archive::TCompress::FreeFileList(state_.EntryList.get());
    if (!support::RegularFileExists(archive_path_)) return;
    if (!state_.EntryList) state_.EntryList = std::make_unique<archive::EntryList>();
    compress1_.ScanArchiveFile(archive_path_, *state_.EntryList);
    view_.FillList(*state_.EntryList);
}

void FormModel::Rip_ARC_Archive() {
    ViewDisplay display(view_);
    const locator::RipOutcome outcome = locator::RipArchive(state_.SourcePath, display);
    state_.RipOffset = outcome.Offset;
    side_created_ = outcome.SideCreated;
}

void FormModel::ListBox1Click() {
    const std::int64_t focused = view_.FocusedIndex();
    if (focused < 0) return;
    // An empty list box still reports a caret at 0.
    if (!state_.EntryList || static_cast<std::uint64_t>(focused) >= state_.EntryList->Count()) return;

    view_.SetBackground(kCMethod, kWhite);
    view_.SetBackground(kPercentage, kWhite);
    view_.SetBackground(kTime, kWhite);
    view_.SetText(kTimeLabel, std::string(kTimeLabelSelected));
    const EntryDetails details = DetailsOf(state_.EntryList->Info(static_cast<std::size_t>(focused)));
    view_.SetText(kPercentage, details.Percentage);
    view_.SetText(kTime, details.Size);
    view_.SelectMethodButton(details.MethodButton);
}

void FormModel::FormKeyDown(std::uint16_t& key) {
    if (key == kEscapeKey) view_.Close();
}

void FormModel::Button1Click() {
    view_.DropStayOnTop();
    view_.ShowInformation(kCreditText);
}

void FormModel::FormDestroy() noexcept { ReleaseEntryList(); }

void FormModel::ReleaseEntryList() noexcept {
    archive::TCompress::FreeFileList(state_.EntryList.get());
    state_.EntryList.reset();
}

void FormModel::ReportCurrentError() noexcept {
    try {
        try {
            throw;
        } catch (const support::Exception& error) {
            view_.ShowErrorReport(error.Message());
        } catch (const std::bad_alloc&) {
            view_.ShowErrorReport(support::EOutOfMemory().Message());
        } catch (const std::exception& error) {
            view_.ShowErrorReport(error.what());
        } catch (...) {
            view_.ShowErrorReport("");
        }
    } catch (...) {
        // Out of memory while reporting: nothing more can be shown.
    }
}

EntryDetails DetailsOf(const archive::TCompressedFileInfo& info) {
    return {archive::PercentageText(info), archive::SizeText(info.FullSize), archive::MethodButtonIndex(info.Method)};
}

std::optional<std::int64_t> ListItemAt(std::int64_t topIndex, std::int64_t count, int y) noexcept {
    if (y < 0 || topIndex < 0) return std::nullopt;
    const std::int64_t index = topIndex + y / kListItemHeight;
    if (index >= count) return std::nullopt;
    return index;
}

FocusStep FocusStepFor(std::uint16_t key, KeyState keys, bool alt, bool focusUsesArrows) noexcept {
    constexpr std::uint16_t kTab = 9, kLeft = 37, kUp = 38, kRight = 39, kDown = 40;
    if (alt) return FocusStep::None;
    if (key == kTab) return keys.Shift ? FocusStep::Previous : FocusStep::Next;
    if (focusUsesArrows) return FocusStep::None;
    if (key == kRight || key == kDown) return FocusStep::Next;
    if (key == kLeft || key == kUp) return FocusStep::Previous;
    return FocusStep::None;
}

ListPress OnListPress(std::optional<std::int64_t> item, bool itemSelected, KeyState /*keys*/) noexcept {
    // Shift and Ctrl do not turn a press on the selection into an extension
    // of it: the selection stays, as for a plain press.
    return item && itemSelected ? ListPress::DragSelection : ListPress::SelectThenDrag;
}

}  // namespace vexmira::form
