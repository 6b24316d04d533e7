// The dialog's handlers against a view that records what they ask of it.

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "form/form_model.hpp"
#include "locator/locator.hpp"
#include "locator/scan.hpp"
#include "support/exception.hpp"
#include "support/file_system.hpp"
#include "tests/archive_builder.hpp"

namespace vexmira::form {
namespace {

using testing::ArchiveBuilder;
using testing::Carrier;
using testing::TempDir;
using testing::WriteFile;
using CallList = std::vector<std::string>;

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
        if (FailFill) FailFill();
        std::string names;
        for (std::size_t i = 0; i < entries.Count(); ++i) names += (i ? "," : "") + std::string(entries.Name(i));
        Record("fill " + names);
    }
    std::int64_t FocusedIndex() const override { return Focused; }
    void SetText(std::size_t row, const std::string& text) override {
        Record("text " + std::string(kControls[row].Name) + "=" + text);
    }
    void SetBackground(std::size_t row, Colour colour) override {
        Record("background " + std::string(kControls[row].Name) + "=" + Hex(colour));
    }
    void SelectMethodButton(int index) override { Record("method " + std::to_string(index)); }
    void SetProgressRange(std::int32_t maximum) override {
        if (FailProgress) throw std::bad_alloc();
        Record("range " + std::to_string(maximum));
    }
    void SetProgressPosition(std::int32_t position) override { Record("position " + std::to_string(position)); }
    void ShowInformation(const std::string& text) override { Record("information " + text); }
    void ShowErrorReport(const std::string& message) override { Record("error " + message); }
    void DropStayOnTop() override { Record("not on top"); }
    void Close() override { Record("close"); }

    // Everything but the bar's positions, which follow the locator's blocks.
    CallList WithoutPositions() const {
        CallList kept;
        for (const std::string& event : Calls)
            if (event.rfind("position ", 0) != 0) kept.push_back(event);
        return kept;
    }

    CallList Calls;
    std::int64_t Focused = -1;
    bool FailProgress = false;
    void (*FailFill)() = nullptr;

private:
    void Record(std::string event) { Calls.push_back(std::move(event)); }
};

// A dialog module of its own: the model, the reader and the module's variables.
struct Dialog {
    RecordingView Recorder;
    archive::TCompress Compress1;
    std::string SourcePath;
    std::unique_ptr<archive::EntryList> EntryList;
    std::int64_t RipOffset = -1;
    FormModel Model{Recorder, Compress1, {SourcePath, EntryList, RipOffset}};

    void Show(const std::string& path) {
        SourcePath = path;
        Recorder.Calls.clear();
        Model.Guarded([this] { Model.FormShow(); });
    }
};

testing::Bytes TwoEntries() { return ArchiveBuilder().Add("readme.txt", 1000, 400).Add("setup.ini", 50, 30, 1).Build(); }

TEST(FormShow, ListsAnArcPathDirectly) {
    TempDir dir;
    const std::string path = (dir / "two.ARC").string();
    WriteFile(path, TwoEntries());
    Dialog dialog;
    dialog.Show(path);
    EXPECT_EQ(dialog.Recorder.Calls, (CallList{"clear", "text RIPoffset=0", "text archivefile=" + path, "clear",
                                          "fill readme.txt,setup.ini"}));
    ASSERT_TRUE(dialog.EntryList);
    EXPECT_EQ(dialog.EntryList->Count(), 2u);
    EXPECT_EQ(dialog.RipOffset, -1) << "the locator ran";
    EXPECT_EQ(dialog.Model.ArchivePath(), path);
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
        EXPECT_EQ(dialog.Recorder.WithoutPositions(),
                  (CallList{"clear", "text RIPoffset=0", "text archivefile=" + path, "text archivefile=",
                          "range " + size, "text RIPoffset=" + locator::OffsetText(3000),
                          "text archivefile=" + path + "$$$", "clear", "fill readme.txt,setup.ini"}));
        EXPECT_EQ(dialog.Recorder.Calls.back(), "fill readme.txt,setup.ini");
        EXPECT_EQ(dialog.RipOffset, 3000);
    }
}

// Whatever holds the side file's name when this run cannot create or replace
// it is not this input's archive: the dialog lists nothing after the message.
TEST(FormShow, ASideFileThatCouldNotBeCreatedIsNotListed) {
    TempDir dir;
    const std::string path = (dir / "setup.exe").string();
    const std::string side = path + "$$$";
    WriteFile(path, Carrier(3000, TwoEntries()));
    const testing::Bytes other = ArchiveBuilder().Add("not-this-one.txt", 10, 10).Build();
    const std::string except = "information Except: Cannot create file \"" + support::AbsolutePath(side) + "\". ";

    struct Case {
        const char* Name;
        void (*Prepare)(const std::string& sidePath, const std::string& otherPath);
    };
    const Case cases[] = {
        {"a stale read-only side file",
         [](const std::string& sidePath, const std::string& otherPath) {
             std::filesystem::copy_file(otherPath, sidePath);
             std::filesystem::permissions(sidePath, std::filesystem::perms::owner_read);
         }},
        {"another file's name through a hard link",
         [](const std::string& sidePath, const std::string& otherPath) {
             std::filesystem::create_hard_link(otherPath, sidePath);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string otherPath = (dir / "other.ARC").string();
        WriteFile(otherPath, other);
        c.Prepare(side, otherPath);
        Dialog dialog;
        dialog.Show(path);
        const CallList calls = dialog.Recorder.WithoutPositions();
        ASSERT_EQ(calls.size(), 7u) << ::testing::PrintToString(calls);
        EXPECT_EQ(calls[5], "text RIPoffset=" + locator::OffsetText(3000)) << "the offset was found all the same";
        EXPECT_EQ(calls[6].substr(0, except.size()), except);
        EXPECT_EQ(dialog.RipOffset, 3000);
        EXPECT_FALSE(dialog.EntryList) << "EntryList was replaced although nothing was listed";
        EXPECT_EQ(dialog.Model.ArchivePath(), "");
        std::filesystem::permissions(side, std::filesystem::perms::owner_all);
        std::filesystem::remove(side);
        std::filesystem::remove(otherPath);
    }
}

// Keeps every file this process writes below a size, for as long as it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);  // a short write, not a signal
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previous_)(int) = SIG_DFL;
};

// A write that fails after the candidate was found: the side file was this
// run's, and the dialog lists however much of it was written.
TEST(FormShow, AWriteErrorAfterTheCandidateListsWhatWasWritten) {
    TempDir dir;
    const std::string path = (dir / "setup.exe").string();
    ArchiveBuilder builder;
    for (int i = 0; i < 400; ++i) builder.Add("entry" + std::to_string(i) + ".txt", 100, 100);
    const testing::Bytes archive = builder.Build();
    ASSERT_GT(archive.size(), 20000u);
    WriteFile(path, Carrier(3000, archive));

    Dialog dialog;
    {
        const FileSizeLimit limit(8192);
        dialog.Show(path);
    }
    EXPECT_EQ(std::filesystem::file_size(path + "$$$"), 8192u);
    const CallList calls = dialog.Recorder.WithoutPositions();
    ASSERT_EQ(calls.size(), 10u) << ::testing::PrintToString(calls);
    EXPECT_EQ(calls[5], "text RIPoffset=" + locator::OffsetText(3000));
    EXPECT_EQ(calls[6].rfind("information Except: Stream write error", 0), 0u) << calls[6];
    EXPECT_EQ(calls[7], "text archivefile=" + path + "$$$");
    ASSERT_TRUE(dialog.EntryList);
    // Each entry takes its 25-byte header, its name and 100 bytes of data.
    EXPECT_GT(dialog.EntryList->Count(), 40u);
    EXPECT_LT(dialog.EntryList->Count(), 400u);
    EXPECT_EQ(calls[9].rfind("fill entry0.txt,entry1.txt,", 0), 0u) << calls[9].substr(0, 80);
}

TEST(FormShow, StopsWhenNothingIsLocatedAndKeepsTheEarlierList) {
    TempDir dir;
    const std::string arc = (dir / "first.ARC").string();
    const std::string plain = (dir / "plain.exe").string();
    WriteFile(arc, TwoEntries());
    WriteFile(plain, testing::Bytes(5000, 'x'));
    Dialog dialog;
    dialog.Show(arc);
    const archive::EntryList* first = dialog.EntryList.get();
    dialog.Show(plain);
    EXPECT_EQ(dialog.Recorder.WithoutPositions(),
              (CallList{"clear", "text RIPoffset=0", "text archivefile=" + plain, "text archivefile=", "range 5000",
                      "information " + std::string(locator::kNotFoundMessage),
                      "text RIPoffset=" + std::string(locator::kNotFoundText)}));
    EXPECT_EQ(dialog.EntryList.get(), first) << "EntryList was replaced although nothing was listed";
    EXPECT_EQ(dialog.RipOffset, -1);
}

TEST(FormShow, AMissingArcGivesAnEmptyListAndNoMessage) {
    TempDir dir;
    const std::string path = (dir / "missing.ARC").string();
    Dialog dialog;
    dialog.Show(path);
    EXPECT_EQ(dialog.Recorder.Calls, (CallList{"clear", "text RIPoffset=0", "text archivefile=" + path, "clear"}));
    ASSERT_TRUE(dialog.EntryList) << "EntryList is replaced before the listing";
    EXPECT_EQ(dialog.EntryList->Count(), 0u);
}

TEST(FormShow, ErrorsReachTheErrorReportAndTheListStaysEmpty) {
    TempDir dir;
    const std::string path = (dir / "bad.ARC").string();
    WriteFile(path, ArchiveBuilder().Signature({'S', 'P', 'I', 'X', 0x1A}).Add("a", 1, 1).Build());
    Dialog dialog;
    dialog.Show(path);
    ASSERT_FALSE(dialog.Recorder.Calls.empty());
    EXPECT_EQ(dialog.Recorder.Calls.back().rfind("error ", 0), 0u) << dialog.Recorder.Calls.back();
    for (const std::string& event : dialog.Recorder.Calls) EXPECT_NE(event.rfind("fill", 0), 0u) << event;
}

TEST(FormShow, AnUnopenableInputIsTheLocatorsExceptMessage) {
    Dialog dialog;
    dialog.Show("");
    const CallList calls = dialog.Recorder.WithoutPositions();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[3], "text archivefile=");
    EXPECT_EQ(calls[4].rfind("information Except: Cannot open file \"", 0), 0u) << calls[4];
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
        dialog.Recorder.FailProgress = true;
        dialog.Show(carrier);
        EXPECT_EQ(dialog.Recorder.Calls.back(), "information Except: " + outOfMemory);
        EXPECT_EQ(dialog.RipOffset, -1);
    }
    {
        // While listing: the error report, not "std::bad_alloc".
        Dialog dialog;
        dialog.Recorder.FailFill = [] { throw std::bad_alloc(); };
        dialog.Show(arc);
        EXPECT_EQ(dialog.Recorder.Calls.back(), "error " + outOfMemory);
    }
    {
        Dialog dialog;
        dialog.Recorder.FailFill = [] { throw std::runtime_error("odd"); };
        dialog.Show(arc);
        EXPECT_EQ(dialog.Recorder.Calls.back(), "error odd");
        dialog.Recorder.FailFill = [] { throw 42; };
        dialog.Show(arc);
        EXPECT_EQ(dialog.Recorder.Calls.back(), "error ");
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
        std::int64_t Focused;
        const char* Percentage;
        const char* Size;
        int Method;
    };
    const Row rows[] = {{0, "75%", "4 Kb", 1}, {1, "(empty) (locked)", "0 Kb", 0}, {2, "75%", "98 Kb", 3}};
    for (const Row& row : rows) {
        SCOPED_TRACE("focused " + std::to_string(row.Focused));
        dialog.Recorder.Calls.clear();
        dialog.Recorder.Focused = row.Focused;
        dialog.Model.ListBox1Click();
        EXPECT_EQ(dialog.Recorder.Calls,
                  (CallList{"background CMethod=ffffff", "background Percentage=ffffff", "background Time=ffffff",
                          "text TimeLabel=Full Size:", std::string("text Percentage=") + row.Percentage,
                          std::string("text Time=") + row.Size, "method " + std::to_string(row.Method)}));
    }
}

TEST(ListBox1Click, DoesNothingWithoutAFocusedEntry) {
    TempDir dir;
    const std::string path = (dir / "details.ARC").string();
    WriteFile(path, DetailArchive());
    Dialog dialog;
    dialog.Model.ListBox1Click();  // before any listing: no EntryList at all
    dialog.Show(path);
    // No caret, and carets past the entries (an empty list box reports 0).
    for (std::int64_t focused : {-1, 3, 4}) {
        dialog.Recorder.Calls.clear();
        dialog.Recorder.Focused = focused;
        dialog.Model.ListBox1Click();
        EXPECT_TRUE(dialog.Recorder.Calls.empty()) << "caret " << focused << ": " << dialog.Recorder.Calls.front();
    }
    dialog.Show((dir / "missing.ARC").string());
    dialog.Recorder.Calls.clear();
    dialog.Recorder.Focused = 0;
    dialog.Model.ListBox1Click();
    EXPECT_TRUE(dialog.Recorder.Calls.empty()) << dialog.Recorder.Calls.front();
}

TEST(Handlers, KeysButtonsAndDestroy) {
    Dialog dialog;
    for (std::uint16_t key : {std::uint16_t{13}, std::uint16_t{'A'}, std::uint16_t{9}}) {
        std::uint16_t pressed = key;
        dialog.Model.FormKeyDown(pressed);
        EXPECT_EQ(pressed, key) << "the handler consumed a key";
    }
    EXPECT_TRUE(dialog.Recorder.Calls.empty()) << dialog.Recorder.Calls.front();
    std::uint16_t escape = kEscapeKey;
    dialog.Model.FormKeyDown(escape);
    EXPECT_EQ(escape, kEscapeKey) << "the handler consumed Escape";
    dialog.Model.Button2Click();
    dialog.Model.Button1Click();
    EXPECT_EQ(dialog.Recorder.Calls, (CallList{"close", "close", "not on top", "information " + std::string(kCreditText)}));

    dialog.EntryList = std::make_unique<archive::EntryList>();
    dialog.Model.FormDestroy();
    EXPECT_FALSE(dialog.EntryList);
}

TEST(ListItemAt, MapsRowsOfSixteenPixelsToItems) {
    struct Row {
        std::int64_t Top, Count;
        int Y;
        std::optional<std::int64_t> Expected;
    };
    const Row rows[] = {
        {0, 5, 0, 0},          {0, 5, 15, 0},         {0, 5, 16, 1},        {0, 5, 79, 4},
        {0, 5, 80, {}},        {0, 5, -1, {}},        {0, 0, 0, {}},        {10, 12, 16, 11},
        {10, 12, 32, {}},      {99990, 100000, 144, 99999},                  {70000, 100000, 0, 70000},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ListItemAt(row.Top, row.Count, row.Y), row.Expected)
            << "top " << row.Top << ", count " << row.Count << ", y " << row.Y;
    }
}

TEST(FocusStepFor, EveryKeyThatMovesTheFocusFollowsOneOrder) {
    constexpr std::uint16_t kTab = 9, kLeft = 37, kUp = 38, kRight = 39, kDown = 40;
    for (int held = 0; held < 4; ++held) {
        const KeyState keys{(held & 1) != 0, (held & 2) != 0};
        SCOPED_TRACE("shift " + std::to_string(keys.Shift) + " ctrl " + std::to_string(keys.Ctrl));
        // Tab and Ctrl+Tab alike, whatever the focused control does with arrows.
        for (bool usesArrows : {false, true}) {
            EXPECT_EQ(FocusStepFor(kTab, keys, false, usesArrows), keys.Shift ? FocusStep::Previous : FocusStep::Next);
            EXPECT_EQ(FocusStepFor(kTab, keys, true, usesArrows), FocusStep::None) << "Alt+Tab is the system's";
        }
        EXPECT_EQ(FocusStepFor(kRight, keys, false, false), FocusStep::Next);
        EXPECT_EQ(FocusStepFor(kDown, keys, false, false), FocusStep::Next);
        EXPECT_EQ(FocusStepFor(kLeft, keys, false, false), FocusStep::Previous);
        EXPECT_EQ(FocusStepFor(kUp, keys, false, false), FocusStep::Previous);
        for (std::uint16_t arrow : {kLeft, kUp, kRight, kDown}) {
            EXPECT_EQ(FocusStepFor(arrow, keys, false, true), FocusStep::None) << "the list box's own arrows, " << arrow;
            EXPECT_EQ(FocusStepFor(arrow, keys, true, false), FocusStep::None);
        }
        for (std::uint16_t other : {std::uint16_t{13}, std::uint16_t{27}, std::uint16_t{'A'}, std::uint16_t{36}})
            EXPECT_EQ(FocusStepFor(other, keys, false, false), FocusStep::None) << other;
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
