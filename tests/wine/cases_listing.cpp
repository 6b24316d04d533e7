// What a showing lists: ".ARC" files directly, carriers through the locator,
// and what the user is told when there is nothing to list.

#include <windows.h>

#include <string>

#include "form/layout.hpp"
#include "tests/wine/cases.hpp"
#include "tests/wine/check.hpp"

namespace vexmira::wine_test {

using testing::ArchiveBuilder;
using testing::Bytes;
using testing::Carrier;

std::string Workspace::Write(const std::string& name, const Bytes& bytes) {
    testing::WriteFile(dir_ / name, bytes);
    return Path(name);
}

std::string Workspace::Path(const std::string& name) const { return (dir_ / name).string(); }

testing::Bytes ArchiveOf(const std::vector<Entry>& entries) {
    ArchiveBuilder builder;
    for (const Entry& entry : entries) builder.Add(entry.name, entry.fullSize, entry.compressedSize, entry.method);
    return builder.Build();
}

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string Join(const std::vector<std::string>& items) {
    std::string joined = "[";
    for (std::size_t i = 0; i < items.size(); ++i) joined += (i ? ", \"" : "\"") + items[i] + "\"";
    return joined + "]";
}

void ExpectItems(const Dialog& dialog, const std::vector<std::string>& expected) {
    const std::vector<std::string> items = dialog.Items();
    ok(items == expected, "list got %s, expected %s\n", Join(items).c_str(), Join(expected).c_str());
}

namespace {

void ExpectBox(const JobOutcome& outcome, const std::string& text, Icon icon) {
    ok(outcome.before.size() == 1, "got %u message boxes before the dialog, expected 1\n",
       static_cast<unsigned>(outcome.before.size()));
    if (outcome.before.empty()) return;
    const MessageBoxSeen& box = outcome.before.front();
    ok(box.text == text, "box text got \"%s\", expected \"%s\"\n", box.text.c_str(), text.c_str());
    ok(box.caption.empty(), "box caption got \"%s\", expected empty\n", box.caption.c_str());
    ok(box.icon == icon, "box icon got %s, expected %s\n", IconName(box.icon), IconName(icon));
    ok(box.buttons == std::vector<std::string>{"OK"}, "box buttons got %s, expected [\"OK\"]\n",
       Join(box.buttons).c_str());
    ok(box.centred, "box at %ld,%ld-%ld,%ld is not centred on the screen\n", box.rect.left, box.rect.top,
       box.rect.right, box.rect.bottom);
}

// An archive whose first name keeps the locator's bytes 56 and 57 clear.
ArchiveBuilder SampleArchive() {
    ArchiveBuilder builder;
    builder.Add("readme.txt", 2000, 900, 4)
        .Add("data\\levels.dat", 50000, 20000, 2)
        .Add("readme.txt", 10, 10, 0)
        .Add("", 0, 0, 0);
    return builder;
}
const std::vector<std::string> kSampleNames = {"readme.txt", "data\\levels.dat", "readme.txt", ""};

Bytes Tail(const Bytes& bytes, std::size_t from) { return Bytes(bytes.begin() + static_cast<long>(from), bytes.end()); }

}  // namespace

void ExpectInformationBox(const JobOutcome& outcome, const std::string& text) { ExpectBox(outcome, text, Icon::None); }
void ExpectErrorBox(const JobOutcome& outcome, const std::string& text) { ExpectBox(outcome, text, Icon::Error); }

void ExpectNoBoxes(const JobOutcome& outcome) {
    ok(outcome.before.empty(), "got %u message boxes, expected none; the first says \"%s\"\n",
       static_cast<unsigned>(outcome.before.size()), outcome.before.empty() ? "" : outcome.before[0].text.c_str());
}

void CloseWithEscape(const Dialog& dialog) {
    dialog.Press(VK_ESCAPE);
    ok(dialog.WaitClosed(), "Escape did not close the dialog\n");
}

void CaseArcListing(const Options& options) {
    Workspace files;
    const Bytes archive = SampleArchive().Build();
    const std::string upper = files.Write("sample.ARC", archive);
    const std::string lower = files.Write("lower.arc", archive);
    Plugin plugin(options.dll);

    {
        Context context("sample.ARC");
        const JobOutcome outcome = RunJob(plugin, upper.c_str(), [&](Dialog& dialog) {
            ok(dialog.Text("archivefile") == upper, "archivefile got \"%s\", expected \"%s\"\n",
               dialog.Text("archivefile").c_str(), upper.c_str());
            ExpectItems(dialog, kSampleNames);
            ok(dialog.Text("RIPoffset") == "0", "RIPoffset got \"%s\", expected \"0\"\n", dialog.Text("RIPoffset").c_str());
            // Only the locator moves the bar, and it did not run.
            const PBRANGE range = dialog.ProgressRange();
            ok(range.iLow == 0 && range.iHigh == 100 && dialog.ProgressPosition() == 0,
               "bar got %d..%d at %d, expected 0..100 at 0\n", range.iLow, range.iHigh, dialog.ProgressPosition());
            CloseWithEscape(dialog);
        });
        ok(outcome.result == 0, "DoMyJob returned %d\n", outcome.result);
        ExpectNoBoxes(outcome);
        ok(!FileExists(upper + "$$$"), "a side file was written for an .ARC file\n");
    }
    {
        // The extension test is case-sensitive: ".arc" goes through the locator.
        Context context("lower.arc");
        const JobOutcome outcome = RunJob(plugin, lower.c_str(), [&](Dialog& dialog) {
            ok(dialog.Text("RIPoffset") == "00000000 - 0 Kb", "RIPoffset got \"%s\"\n", dialog.Text("RIPoffset").c_str());
            ok(dialog.Text("archivefile") == lower + "$$$", "archivefile got \"%s\"\n", dialog.Text("archivefile").c_str());
            ExpectItems(dialog, kSampleNames);
            CloseWithEscape(dialog);
        });
        ExpectNoBoxes(outcome);
        ok(FileExists(lower + "$$$") && testing::ReadFile(lower + "$$$") == archive,
           "the side file does not hold the whole archive\n");
    }
}

void CaseCarrier(const Options& options) {
    Workspace files;
    Plugin plugin(options.dll);
    const Bytes archive = SampleArchive().Build();
    struct Row {
        std::size_t prefix;
        const char* offsetText;
    };
    // 5000 lies in the first block; 70000 takes the scan past many blocks.
    for (const Row& row : {Row{5000, "00001388 - 4 Kb"}, Row{70000, "00011170 - 68 Kb"}}) {
        Context context("prefix " + std::to_string(row.prefix));
        // A tail shorter than an entry header ends the walk; a longer one
        // would be read as more entries.
        const Bytes carrier = Carrier(row.prefix, archive, 20);
        const std::string path = files.Write("setup" + std::to_string(row.prefix) + ".exe", carrier);
        const JobOutcome outcome = RunJob(plugin, path.c_str(), [&](Dialog& dialog) {
            ok(dialog.Text("RIPoffset") == row.offsetText, "RIPoffset got \"%s\", expected \"%s\"\n",
               dialog.Text("RIPoffset").c_str(), row.offsetText);
            ok(dialog.Text("archivefile") == path + "$$$", "archivefile got \"%s\"\n", dialog.Text("archivefile").c_str());
            ExpectItems(dialog, kSampleNames);
            const PBRANGE range = dialog.ProgressRange();
            const int size = static_cast<int>(carrier.size());
            ok(range.iLow == 0 && range.iHigh == size, "bar range got %d..%d, expected 0..%d\n", range.iLow,
               range.iHigh, size);
            ok(dialog.ProgressPosition() == size, "bar at %d, expected full at %d\n", dialog.ProgressPosition(), size);
            CloseWithEscape(dialog);
        });
        ok(outcome.result == 0, "DoMyJob returned %d\n", outcome.result);
        ExpectNoBoxes(outcome);
        ok(FileExists(path + "$$$") && testing::ReadFile(path + "$$$") == Tail(carrier, row.prefix),
           "the side file does not hold the carrier from the offset on\n");
    }
}

void CaseNotFound(const Options& options) {
    Workspace files;
    Plugin plugin(options.dll);
    ArchiveBuilder custom = SampleArchive();
    custom.CompressId("CUS");  // its identifier does not start with L, N or R
    struct Row {
        const char* name;
        Bytes bytes;
    };
    const Row rows[] = {
        {"plain.exe", Carrier(6000, {}, 0)},
        {"empty.exe", {}},
        {"custom.exe", Carrier(100, custom.Build(), 0)},
    };
    for (const Row& row : rows) {
        Context context(row.name);
        const std::string path = files.Write(row.name, row.bytes);
        const JobOutcome outcome = RunJob(plugin, path.c_str(), [&](Dialog& dialog) {
            ok(dialog.Text("RIPoffset") == "Not found", "RIPoffset got \"%s\"\n", dialog.Text("RIPoffset").c_str());
            ok(dialog.Text("archivefile").empty(), "archivefile got \"%s\"\n", dialog.Text("archivefile").c_str());
            ExpectItems(dialog, {});
            CloseWithEscape(dialog);
        });
        ok(outcome.result == 0, "DoMyJob returned %d\n", outcome.result);
        ExpectInformationBox(outcome, "File scanned , But NO TCompress ARC Archive found !");
        ok(!FileExists(path + "$$$"), "a side file was written\n");
    }
}

void CaseMissingArc(const Options& options) {
    Workspace files;
    Plugin plugin(options.dll);
    const std::string folder = files.Path("folder.ARC");
    CreateDirectoryA(folder.c_str(), nullptr);
    ok(DirectoryExists(folder), "could not make %s\n", folder.c_str());
    // No file, or a directory where the file would be: an empty list and no message.
    for (const std::string& path : {files.Path("missing.ARC"), folder}) {
        Context context(path);
        const JobOutcome outcome = RunJob(plugin, path.c_str(), [&](Dialog& dialog) {
            ok(dialog.Text("archivefile") == path, "archivefile got \"%s\"\n", dialog.Text("archivefile").c_str());
            ok(dialog.Text("RIPoffset") == "0", "RIPoffset got \"%s\"\n", dialog.Text("RIPoffset").c_str());
            ExpectItems(dialog, {});
            CloseWithEscape(dialog);
        });
        ok(outcome.result == 0, "DoMyJob returned %d\n", outcome.result);
        ExpectNoBoxes(outcome);
    }
}

void CaseBadHeaders(const Options& options) {
    Workspace files;
    Plugin plugin(options.dll);
    struct Row {
        const char* name;
        ArchiveBuilder archive;
        const char* text;
    };
    const Row rows[] = {
        {"signature.ARC", SampleArchive().Signature({'S', 'P', 'I', 'S', 'x'}),
         "Can't recognize compressed file header."},
        {"type.ARC", SampleArchive().ArchiveType(0), "Archive type must be caMulti."},
        {"method.ARC", SampleArchive().CompressId("lzh"), "Unrecognized compression method: \"lzh\" in header."},
    };
    for (const Row& row : rows) {
        Context context(row.name);
        const std::string path = files.Write(row.name, row.archive.Build());
        const JobOutcome outcome = RunJob(plugin, path.c_str(), [&](Dialog& dialog) {
            // The dialog shows after the report, with nothing listed.
            ok(dialog.Text("archivefile") == path, "archivefile got \"%s\"\n", dialog.Text("archivefile").c_str());
            ExpectItems(dialog, {});
            CloseWithEscape(dialog);
        });
        ok(outcome.result == 0, "DoMyJob returned %d\n", outcome.result);
        ExpectErrorBox(outcome, row.text);
    }
    {
        // Located in a carrier, but the side file's header is bad.
        Context context("carrier with archive type 2");
        const std::string path = files.Write("typed.exe", Carrier(3000, SampleArchive().ArchiveType(2).Build(), 0));
        const JobOutcome outcome = RunJob(plugin, path.c_str(), [&](Dialog& dialog) {
            ok(dialog.Text("RIPoffset") == "00000BB8 - 2 Kb", "RIPoffset got \"%s\"\n", dialog.Text("RIPoffset").c_str());
            ok(dialog.Text("archivefile") == path + "$$$", "archivefile got \"%s\"\n", dialog.Text("archivefile").c_str());
            ExpectItems(dialog, {});
            CloseWithEscape(dialog);
        });
        ExpectErrorBox(outcome, "Archive type must be caMulti.");
    }
    {
        // The host holds the file open, so the reader cannot open it.
        Context context("locked.ARC");
        const std::string path = files.Write("locked.ARC", SampleArchive().Build());
        HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ok(held != INVALID_HANDLE_VALUE, "could not hold %s open\n", path.c_str());
        const JobOutcome outcome = RunJob(plugin, path.c_str(), [&](Dialog& dialog) {
            ExpectItems(dialog, {});
            CloseWithEscape(dialog);
        });
        CloseHandle(held);
        ok(outcome.before.size() == 1, "got %u boxes, expected 1\n", static_cast<unsigned>(outcome.before.size()));
        if (!outcome.before.empty()) {
            const MessageBoxSeen& box = outcome.before.front();
            const std::string start = "Cannot open file \"" + path + "\". ";
            ok(box.text.rfind(start, 0) == 0, "box text got \"%s\", expected it to start with \"%s\"\n",
               box.text.c_str(), start.c_str());
            // The system's text loses its own full stop and gets exactly one back.
            ok(box.text.size() > start.size() + 1 && box.text.back() == '.' && box.text[box.text.size() - 2] != '.',
               "box text got \"%s\", expected one full stop at the end\n", box.text.c_str());
            ok(box.icon == Icon::Error, "box icon got %s, expected error\n", IconName(box.icon));
            ok(box.caption.empty(), "box caption got \"%s\"\n", box.caption.c_str());
        }
    }
}

}  // namespace vexmira::wine_test
