// The dialog's handlers against a view that records what they ask of it.

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "form/form_model.hpp"
#include "locator/locator.hpp"
#include "locator/scan.hpp"
#include "support/exception.hpp"
#include "tests/archive_builder.hpp"

namespace vexmira::form {
namespace {

using testing::ArchiveBuilder;
using testing::Carrier;
using testing::TempDir;
using testing::WriteFile;
using Events = std::vector<std::string>;

std::string Hex(Colour colour) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x%02x", colour.Red, colour.Green, colour.Blue);
    return text;
}

// Every call, in order, as text naming the control by its layout row.
class RecordingView final : public View {
public:
    void ClearList() override { Record("clear"); }
    void FillList(const archive::EntryList& entries) override {
        if (fail_fill) fail_fill();
        std::string names;
        for (std::size_t i = 0; i < entries.Count(); ++i) names += (i ? "," : "") + std::string(entries.Name(i));
        Record("fill " + names);
    }
    std::int64_t FocusedIndex() const override { return focused; }
    void SetText(std::size_t row, const std::string& text) override {
        Record("text " + std::string(kControls[row].Name) + "=" + text);
    }
    void SetBackground(std::size_t row, Colour colour) override {
        Record("background " + std::string(kControls[row].Name) + "=" + Hex(colour));
    }
    void SelectMethodButton(int index) override { Record("method " + std::to_string(index)); }
    void SetProgressRange(std::int32_t maximum) override {
        if (fail_progress) throw std::bad_alloc();
        Record("range " + std::to_string(maximum));
    }
    void SetProgressPosition(std::int32_t position) override { Record("position " + std::to_string(position)); }
    void ShowInformation(const std::string& text) override { Record("information " + text); }
    void ShowErrorReport(const std::string& message) override { Record("error " + message); }
    void DropStayOnTop() override { Record("not on top"); }
    void Close() override { Record("close"); }

    // Everything but the bar's positions, which follow the locator's blocks.
    Events WithoutPositions() const {
        Events kept;
        for (const std::string& event : events)
            if (event.rfind("position ", 0) != 0) kept.push_back(event);
        return kept;
    }

    Events events;
    std::int64_t focused = -1;
    bool fail_progress = false;
    void (*fail_fill)() = nullptr;

private:
    void Record(std::string event) { events.push_back(std::move(event)); }
};

// A dialog module of its own: the model, the reader and the module's variables.
struct Dialog {
    RecordingView view;
    archive::TCompress compress1;
    std::string sourcePath;
    std::unique_ptr<archive::EntryList> entryList;
    std::int64_t ripOffset = -1;
    FormModel model{view, compress1, {sourcePath, entryList, ripOffset}};

    void Show(const std::string& path) {
        sourcePath = path;
        view.events.clear();
        model.Guarded([this] { model.FormShow(); });
    }
};

testing::Bytes TwoEntries() { return ArchiveBuilder().Add("readme.txt", 1000, 400).Add("setup.ini", 50, 30, 1).Build(); }

TEST(FormShow, ListsAnArcPathDirectly) {
    TempDir dir;
    const std::string path = (dir / "two.ARC").string();
    WriteFile(path, TwoEntries());
    Dialog dialog;
    dialog.Show(path);
    EXPECT_EQ(dialog.view.events, (Events{"clear", "text RIPoffset=0", "text archivefile=" + path, "clear",
                                          "fill readme.txt,setup.ini"}));
    ASSERT_TRUE(dialog.entryList);
    EXPECT_EQ(dialog.entryList->Count(), 2u);
    EXPECT_EQ(dialog.ripOffset, -1) << "the locator ran";
    EXPECT_EQ(dialog.model.ArchivePath(), path);
}

TEST(FormShow, LocatesInACarrierAndListsTheSideFile) {
    TempDir dir;
    // Only ".ARC" exactly is listed directly.
    for (const char* name : {"setup.exe", "lower.arc", "mixed.Arc"}) {
        SCOPED_TRACE(name);
        const std::string path = (dir / name).string();
        const testing::Bytes carrier = Carrier(3000, TwoEntries());
        WriteFile(path, carrier);
        Dialog dialog;
        dialog.Show(path);
        const std::string size = std::to_string(carrier.size());
        EXPECT_EQ(dialog.view.WithoutPositions(),
                  (Events{"clear", "text RIPoffset=0", "text archivefile=" + path, "text archivefile=",
                          "range " + size, "text RIPoffset=" + locator::OffsetText(3000),
                          "text archivefile=" + path + "$$$", "clear", "fill readme.txt,setup.ini"}));
        EXPECT_EQ(dialog.view.events.back(), "fill readme.txt,setup.ini");
        EXPECT_EQ(dialog.ripOffset, 3000);
    }
}

TEST(FormShow, StopsWhenNothingIsLocatedAndKeepsTheEarlierList) {
    TempDir dir;
    const std::string arc = (dir / "first.ARC").string();
    const std::string plain = (dir / "plain.exe").string();
    WriteFile(arc, TwoEntries());
    WriteFile(plain, testing::Bytes(5000, 'x'));
    Dialog dialog;
    dialog.Show(arc);
    const archive::EntryList* first = dialog.entryList.get();
    dialog.Show(plain);
    EXPECT_EQ(dialog.view.WithoutPositions(),
              (Events{"clear", "text RIPoffset=0", "text archivefile=" + plain, "text archivefile=", "range 5000",
                      "information " + std::string(locator::kNotFoundMessage),
                      "text RIPoffset=" + std::string(locator::kNotFoundText)}));
    EXPECT_EQ(dialog.entryList.get(), first) << "EntryList was replaced although nothing was listed";
    EXPECT_EQ(dialog.ripOffset, -1);
}

TEST(FormShow, AMissingArcGivesAnEmptyListAndNoMessage) {
    TempDir dir;
    const std::string path = (dir / "missing.ARC").string();
    Dialog dialog;
    dialog.Show(path);
    EXPECT_EQ(dialog.view.events, (Events{"clear", "text RIPoffset=0", "text archivefile=" + path, "clear"}));
    ASSERT_TRUE(dialog.entryList) << "EntryList is replaced before the listing";
    EXPECT_EQ(dialog.entryList->Count(), 0u);
}

TEST(FormShow, ErrorsReachTheErrorReportAndTheListStaysEmpty) {
    TempDir dir;
    const std::string path = (dir / "bad.ARC").string();
    WriteFile(path, ArchiveBuilder().Signature({'S', 'P', 'I', 'X', 0x1A}).Add("a", 1, 1).Build());
    Dialog dialog;
    dialog.Show(path);
    ASSERT_FALSE(dialog.view.events.empty());
    EXPECT_EQ(dialog.view.events.back().rfind("error ", 0), 0u) << dialog.view.events.back();
    for (const std::string& event : dialog.view.events) EXPECT_NE(event.rfind("fill", 0), 0u) << event;
}

TEST(FormShow, AnUnopenableInputIsTheLocatorsExceptMessage) {
    Dialog dialog;
    dialog.Show("");
    const Events events = dialog.view.WithoutPositions();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[3], "text archivefile=");
    EXPECT_EQ(events[4].rfind("information Except: Cannot open file \"", 0), 0u) << events[4];
}

TEST(FormShow, OutOfMemoryIsReportedWithTheSystemsText) {
    TempDir dir;
    const std::string carrier = (dir / "setup.exe").string();
    const std::string arc = (dir / "two.ARC").string();
    WriteFile(carrier, Carrier(100, TwoEntries()));
    WriteFile(arc, TwoEntries());
    const std::string outOfMemory(support::kOutOfMemoryMessage);
    {
        // Inside the locator: an error of the general class like any other.
        Dialog dialog;
        dialog.view.fail_progress = true;
        dialog.Show(carrier);
        EXPECT_EQ(dialog.view.events.back(), "information Except: " + outOfMemory);
        EXPECT_EQ(dialog.ripOffset, -1);
    }
    {
        // While listing: the error report, not "std::bad_alloc".
        Dialog dialog;
        dialog.view.fail_fill = [] { throw std::bad_alloc(); };
        dialog.Show(arc);
        EXPECT_EQ(dialog.view.events.back(), "error " + outOfMemory);
    }
    {
        Dialog dialog;
        dialog.view.fail_fill = [] { throw std::runtime_error("odd"); };
        dialog.Show(arc);
        EXPECT_EQ(dialog.view.events.back(), "error odd");
        dialog.view.fail_fill = [] { throw 42; };
        dialog.Show(arc);
        EXPECT_EQ(dialog.view.events.back(), "error ");
    }
}

// Entries for the details: name, FullSize, CompressedSize, Method, Locked.
testing::Bytes DetailArchive() {
    return ArchiveBuilder()
        .Add("half.txt", 4000, 1000, 1)
        .Add("empty-locked", 0, 0, 0, true)
        .Add("big.bin", 100001, 25000, 200)
        .Build();
}

TEST(ListBox1Click, ShowsTheFocusedEntrysDetails) {
    TempDir dir;
    const std::string path = (dir / "details.ARC").string();
    WriteFile(path, DetailArchive());
    Dialog dialog;
    dialog.Show(path);
    struct Row {
        std::int64_t focused;
        const char* percentage;
        const char* size;
        int method;
    };
    const Row rows[] = {{0, "75%", "4 Kb", 1}, {1, "(empty) (locked)", "0 Kb", 0}, {2, "75%", "98 Kb", 3}};
    for (const Row& row : rows) {
        SCOPED_TRACE("focused " + std::to_string(row.focused));
        dialog.view.events.clear();
        dialog.view.focused = row.focused;
        dialog.model.ListBox1Click();
        EXPECT_EQ(dialog.view.events,
                  (Events{"background CMethod=ffffff", "background Percentage=ffffff", "background Time=ffffff",
                          "text TimeLabel=Full Size:", std::string("text Percentage=") + row.percentage,
                          std::string("text Time=") + row.size, "method " + std::to_string(row.method)}));
    }
}

TEST(ListBox1Click, DoesNothingWithoutAFocusedEntry) {
    TempDir dir;
    const std::string path = (dir / "details.ARC").string();
    WriteFile(path, DetailArchive());
    Dialog dialog;
    dialog.model.ListBox1Click();  // before any listing: no EntryList at all
    dialog.Show(path);
    // No caret, and carets past the entries (an empty list box reports 0).
    for (std::int64_t focused : {-1, 3, 4}) {
        dialog.view.events.clear();
        dialog.view.focused = focused;
        dialog.model.ListBox1Click();
        EXPECT_TRUE(dialog.view.events.empty()) << "caret " << focused << ": " << dialog.view.events.front();
    }
    dialog.Show((dir / "missing.ARC").string());
    dialog.view.events.clear();
    dialog.view.focused = 0;
    dialog.model.ListBox1Click();
    EXPECT_TRUE(dialog.view.events.empty()) << dialog.view.events.front();
}

TEST(Handlers, KeysButtonsAndDestroy) {
    Dialog dialog;
    for (std::uint16_t key : {std::uint16_t{13}, std::uint16_t{'A'}, std::uint16_t{9}}) {
        std::uint16_t pressed = key;
        dialog.model.FormKeyDown(pressed);
        EXPECT_EQ(pressed, key) << "the handler consumed a key";
    }
    EXPECT_TRUE(dialog.view.events.empty()) << dialog.view.events.front();
    std::uint16_t escape = kEscapeKey;
    dialog.model.FormKeyDown(escape);
    EXPECT_EQ(escape, kEscapeKey) << "the handler consumed Escape";
    dialog.model.Button2Click();
    dialog.model.Button1Click();
    EXPECT_EQ(dialog.view.events, (Events{"close", "close", "not on top", "information " + std::string(kCreditText)}));

    dialog.entryList = std::make_unique<archive::EntryList>();
    dialog.model.FormDestroy();
    EXPECT_FALSE(dialog.entryList);
}

TEST(ListItemAt, MapsRowsOfSixteenPixelsToItems) {
    struct Row {
        std::int64_t top, count;
        int y;
        std::optional<std::int64_t> expected;
    };
    const Row rows[] = {
        {0, 5, 0, 0},          {0, 5, 15, 0},         {0, 5, 16, 1},        {0, 5, 79, 4},
        {0, 5, 80, {}},        {0, 5, -1, {}},        {0, 0, 0, {}},        {10, 12, 16, 11},
        {10, 12, 32, {}},      {99990, 100000, 144, 99999},                  {70000, 100000, 0, 70000},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ListItemAt(row.top, row.count, row.y), row.expected)
            << "top " << row.top << ", count " << row.count << ", y " << row.y;
    }
}

TEST(OnListPress, APressOnTheSelectionDragsWhateverKeysAreHeld) {
    for (int keys = 0; keys < 4; ++keys) {
        const KeyState state{(keys & 1) != 0, (keys & 2) != 0};
        SCOPED_TRACE("shift " + std::to_string(state.Shift) + " ctrl " + std::to_string(state.Ctrl));
        EXPECT_EQ(OnListPress(2, true, state), ListPress::DragSelection);
        EXPECT_EQ(OnListPress(2, false, state), ListPress::SelectThenDrag);
        EXPECT_EQ(OnListPress(std::nullopt, false, state), ListPress::SelectThenDrag);
    }
}

}  // namespace
}  // namespace vexmira::form
