// vexmira.exe end to end under Wine. One driver runs the tool many times, each
// run a child process with its standard streams in files, and checks what it
// printed: the listing, the JSON contract, exit statuses, --output-dir, what
// the writer may replace, and paths outside ASCII (and outside any ANSI code
// page). One Wine start for all.
// Usage: vexmira_cli_driver VEXMIRA_EXE

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/file_system.hpp"
#include "tests/archive_builder.hpp"
#include "tests/cli/contract.hpp"
#include "tests/wine/check.hpp"

namespace {

namespace fs = std::filesystem;
using vexmira::support::Utf8FromWide;
using vexmira::testing::Bytes;
using vexmira::testing::Carrier;
using vexmira::testing::kObjectKeys;
using vexmira::testing::ReadFile;
using vexmira::testing::SmallArchive;
using vexmira::testing::SmallArchiveListing;
using vexmira::testing::WriteFile;
using vexmira::wine_test::Context;
using Json = nlohmann::ordered_json;
using Lines = std::vector<std::string>;

std::wstring tool;  // full path of vexmira.exe
fs::path work;      // the runs' current folder

struct Run {
    DWORD status = 0xFFFFFFFF;
    std::string out;
    std::string err;
    Lines OutLines() const { return Split(out); }
    Lines ErrLines() const { return Split(err); }
    static Lines Split(const std::string& text) {
        Lines lines;
        for (std::size_t start = 0; start < text.size();) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }
};

// One argument as the C runtime splits a command line back into argv.
std::wstring Quote(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

HANDLE InheritableFile(const fs::path& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string Text(const fs::path& path) {
    const Bytes bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// What standard input is: NUL, a file, or a pipe fed with a file's bytes.
struct Input {
    enum Kind { Nul, File, Pipe } kind = Nul;
    fs::path path;
};

// Writes `bytes` into `pipe` and closes it, on a thread of its own.
std::thread Feed(HANDLE pipe, Bytes bytes) {
    return std::thread([pipe, bytes = std::move(bytes)] {
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD wrote = 0;
            const DWORD step = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 65536));
            if (!::WriteFile(pipe, bytes.data() + done, step, &wrote, nullptr) || wrote == 0) break;
            done += wrote;
        }
        CloseHandle(pipe);
    });
}

// Runs vexmira.exe in `work` with `args`, standard input as `input`. With
// `closedPipe`, standard output is a pipe whose reader is already gone.
Run RunTool(const std::vector<std::wstring>& args, bool closedPipe = false, const Input& input = {}) {
    std::wstring commandLine = Quote(tool);
    for (const std::wstring& argument : args) commandLine += L" " + Quote(argument);
    const fs::path outPath = work / ".stdout";
    const fs::path errPath = work / ".stderr";
    HANDLE in = nullptr;
    std::thread feeder;
    if (input.kind == Input::Pipe) {
        HANDLE writer = nullptr;
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        if (!CreatePipe(&in, &writer, &inherit, 0)) ok(false, "cannot make a pipe: error %lu\n", GetLastError());
        SetHandleInformation(writer, HANDLE_FLAG_INHERIT, 0);
        feeder = Feed(writer, ReadFile(input.path));
    } else {
        in = InheritableFile(input.kind == Input::File ? input.path : fs::path(L"NUL"), GENERIC_READ, OPEN_EXISTING);
    }
    HANDLE out = InheritableFile(outPath, GENERIC_WRITE, CREATE_ALWAYS);
    if (closedPipe) {
        CloseHandle(out);
        HANDLE reader = nullptr;
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        if (!CreatePipe(&reader, &out, &inherit, 0)) ok(false, "cannot make a pipe: error %lu\n", GetLastError());
        CloseHandle(reader);
    }
    HANDLE err = InheritableFile(errPath, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    Run run;
    const std::wstring folder = work.wstring();
    if (CreateProcessW(tool.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &run.status);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        ok(false, "cannot start %s: error %lu\n", Utf8FromWide(tool).c_str(), GetLastError());
    }
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    if (feeder.joinable()) feeder.join();
    run.out = closedPipe ? std::string() : Text(outPath);
    run.err = Text(errPath);
    return run;
}

std::string Show(const Run& run) {
    return "status " + std::to_string(run.status) + "\n--- stdout\n" + run.out + "--- stderr\n" + run.err;
}

std::string Show(const Lines& lines) {
    std::string text;
    for (const std::string& line : lines) text += "  [" + line + "]\n";
    return text;
}

bool Contains(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }

// The path as the tool's messages show it: absolute, in UTF-8.
std::string Absolute(const fs::path& path) { return Utf8FromWide(fs::absolute(path).wstring()); }

std::vector<std::string> SortedKeys(const Json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items()) keys.push_back(item.key());
    std::sort(keys.begin(), keys.end());
    return keys;
}

std::vector<Json> Objects(const Run& run) {
    std::vector<Json> objects;
    for (const std::string& line : run.OutLines()) {
        const Json object = Json::parse(line, nullptr, false);
        ok(!object.is_discarded(), "not JSON: [%s]\n", line.c_str());
        objects.push_back(object);
    }
    return objects;
}

void Listing() {
    const Context context("listing");
    WriteFile(work / "a.ARC", SmallArchive().Build());
    const Run run = RunTool({L"a.ARC"});
    const Lines want = SmallArchiveListing();
    ok(run.status == 0 && run.err.empty(), "got %s\n", Show(run).c_str());
    ok(run.OutLines() == want, "got\n%sexpected\n%s", Show(run.OutLines()).c_str(), Show(want).c_str());
    ok(!Contains(run.out, "\r"), "lines end in \\n alone: %s\n", Show(run).c_str());

    const Bytes archive = SmallArchive().Build();
    WriteFile(work / "setup.exe", Carrier(40000, archive));
    const Run inPlace = RunTool({L"setup.exe"});
    ok(inPlace.status == 0 && inPlace.OutLines().size() > 3 && inPlace.OutLines()[2] == "Listed: setup.exe" &&
           !fs::exists(work / "setup.exe$$$"),
       "the default lists in place and writes nothing: %s\n", Show(inPlace).c_str());
    const Run carrier = RunTool({L"--side-file", L"setup.exe"});
    const Lines lines = carrier.OutLines();
    ok(carrier.status == 0 && lines.size() > 3 && lines[1] == "Offset: 00009C40 - 39 Kb" &&
           lines[2] == "Listed: setup.exe$$$",
       "got %s\n", Show(carrier).c_str());
    ok(ReadFile(work / "setup.exe$$$") == archive, "the side file holds the archive\n");
}

void JsonContract() {
    const Context context("json");
    WriteFile(work / "plain.exe", Carrier(100, {}));
    const Run run = RunTool({L"--json", L"--side-file", L"setup.exe", L"plain.exe", L"absent.ARC"});
    ok(run.status == 2 && run.err.empty(), "got %s\n", Show(run).c_str());
    ok(!Contains(run.out, "\r") && !run.out.empty() && run.out.back() == '\n', "lines end in \\n alone: %s\n",
       Show(run).c_str());
    const std::vector<Json> objects = Objects(run);
    if (objects.size() != 3) {
        ok(false, "got %d objects, expected 3: %s\n", static_cast<int>(objects.size()), Show(run).c_str());
        return;
    }
    for (const Json& object : objects) ok(SortedKeys(object) == kObjectKeys, "keys of %s\n", object.dump().c_str());
    const Json& listed = objects[0];
    ok(listed["listed"] == "setup.exe$$$" && listed["offset"] == 40000 && listed["archive_end"] == 40000 + 3533 &&
           listed["trailing_bytes"] == 0 && listed["error"].is_null(),
       "got %s\n", listed.dump().c_str());
    // Read from the side file, counted from the start of FILE.
    ok(listed["entries"].size() == 3 && listed["entries"][0]["name"] == "README.TXT" &&
           listed["entries"][0]["header_offset"] == 40000 + 21 && listed["entries"][0]["data_offset"] == 40000 + 21 + 25 + 10,
       "entries %s\n",
       listed["entries"].dump().c_str());
    ok(objects[1]["offset"].is_null() && objects[1]["listed"].is_null() && objects[1]["messages"].size() == 1,
       "not found: %s\n", objects[1].dump().c_str());
    const std::string prefix = "Cannot open file \"" + Absolute(work / "absent.ARC") + "\". ";
    const Json& error = objects[2]["error"];
    ok(error.is_string() && error.get<std::string>().rfind(prefix, 0) == 0 && error.get<std::string>().size() > prefix.size(),
       "got %s, expected [%s] and the reason\n", error.dump().c_str(), prefix.c_str());
}

void ExitStatuses() {
    const Context context("status");
    const struct {
        std::vector<std::wstring> args;
        DWORD status;
    } rows[] = {
        {{L"a.ARC"}, 0},
        {{L"plain.exe"}, 1},
        {{L"absent.ARC"}, 2},
        {{L"a.ARC", L"plain.exe", L"absent.ARC"}, 2},
        {{L"a.ARC", L"plain.exe"}, 0},
        {{L"plain.exe", L"plain.exe"}, 1},
        {{L"--bogus", L"a.ARC"}, 64},
        {{}, 64},
        {{L"--output-dir", L"a.ARC", L"setup.exe"}, 64},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Run run = RunTool(rows[i].args);
        ok(run.status == rows[i].status, "row %d: got %s, expected status %lu\n", static_cast<int>(i), Show(run).c_str(),
           rows[i].status);
    }
    const Run version = RunTool({L"--version"});
    ok(version.status == 0 && version.out == "vexmira 1.0.0\n", "got %s\n", Show(version).c_str());
}

void OutputDir() {
    const Context context("output-dir");
    const Bytes archive = SmallArchive().Build();
    fs::create_directories(work / "out");
    fs::create_directories(work / "sub");
    WriteFile(work / "sub" / "setup.exe", Carrier(3000, archive));
    WriteFile(work / "sub" / "other.exe", Carrier(3000, archive));
    // Relative paths as given; absolute ones below the folder, the drive's ':' escaped.
    const std::wstring absolute = fs::absolute(work / "sub" / "other.exe").wstring();
    const Run run = RunTool({L"--json", L"--side-file", L"--output-dir", L"out", L"sub\\setup.exe", absolute});
    ok(run.status == 0, "got %s\n", Show(run).c_str());
    const std::vector<Json> objects = Objects(run);
    ok(objects.size() == 2 && objects[0]["listed"] == "out\\sub\\setup.exe$$$", "got %s\n", Show(run).c_str());
    ok(ReadFile(work / "out" / "sub" / "setup.exe$$$") == archive, "out\\sub\\setup.exe$$$ holds the archive\n");
    ok(!fs::exists(work / "sub" / "setup.exe$$$"), "nothing is written next to the input\n");
    std::wstring below = absolute;
    below.replace(below.find(L':'), 1, L"%3A");
    ok(fs::exists(work / "out" / (below + L"$$$")), "the absolute input's side file below out\\ is missing: %s\n",
       Show(run).c_str());

    // A file where a folder should be is refused, and nothing is written through it.
    WriteFile(work / "out" / "sub2", Bytes{'x'});
    fs::create_directories(work / "sub2");
    WriteFile(work / "sub2" / "setup.exe", Carrier(3000, archive));
    const Run blocked = RunTool({L"--side-file", L"--output-dir", L"out", L"sub2\\setup.exe"});
    ok(blocked.status == 2 && Contains(blocked.err, "Cannot create file \"" + Absolute(work / "out" / "sub2" / "setup.exe$$$") +
                                                        "\". A folder on the way is a symbolic link, a junction or a file"),
       "got %s\n", Show(blocked).c_str());
    ok(ReadFile(work / "out" / "sub2") == Bytes{'x'}, "the file in the way is left alone\n");
}

// The one writer on Windows: a carve never replaces, unless --force; a stale
// side file is replaced, a second name of another file or a read-only one is
// refused; no temporary file is left.
void Outputs() {
    const Context context("outputs");
    const Bytes archive = SmallArchive().Build();
    fs::create_directories(work / "w");
    WriteFile(work / "w" / "c.exe", Carrier(3000, archive));
    WriteFile(work / "w" / "c.exe.00000BB8.ARC", Bytes{'o', 'l', 'd'});
    const Run kept = RunTool({L"--carve", L"w\\c.exe"});
    ok(kept.status == 2 && Contains(kept.err, "Cannot create file \"" + Absolute(work / "w" / "c.exe.00000BB8.ARC") +
                                                  "\". The file exists; --force replaces it"),
       "got %s\n", Show(kept).c_str());
    ok(ReadFile(work / "w" / "c.exe.00000BB8.ARC") == (Bytes{'o', 'l', 'd'}), "the earlier carve is kept\n");
    const Run forced = RunTool({L"--carve", L"--force", L"w\\c.exe"});
    ok(forced.status == 0 && ReadFile(work / "w" / "c.exe.00000BB8.ARC") == archive, "got %s\n", Show(forced).c_str());

    WriteFile(work / "w" / "victim", Bytes{'v'});
    const fs::path side = work / "w" / "c.exe$$$";
    fs::create_hard_link(work / "w" / "victim", side);
    const Run linked = RunTool({L"--side-file", L"w\\c.exe"});
    ok(linked.status == 2 && Contains(linked.err, "\". The file has 2 links"), "got %s\n", Show(linked).c_str());
    ok(ReadFile(side) == (Bytes{'v'}) && ReadFile(work / "w" / "victim") == (Bytes{'v'}), "both names keep their file\n");
    fs::remove(side);
    WriteFile(side, Bytes{'s'});
    SetFileAttributesW(side.c_str(), FILE_ATTRIBUTE_READONLY);
    const Run readOnly = RunTool({L"--side-file", L"w\\c.exe"});
    ok(readOnly.status == 2 && Contains(readOnly.err, "\". The file is read-only"), "got %s\n", Show(readOnly).c_str());
    ok(ReadFile(side) == (Bytes{'s'}), "the read-only side file is kept\n");
    SetFileAttributesW(side.c_str(), FILE_ATTRIBUTE_NORMAL);
    const Run stale = RunTool({L"--side-file", L"w\\c.exe"});
    ok(stale.status == 0 && ReadFile(side) == archive, "a stale side file is replaced: %s\n", Show(stale).c_str());

    bool left = false;
    for (const auto& item : fs::directory_iterator(work / "w")) {
        left = left || item.path().filename().wstring().find(L".~") != std::wstring::npos;
    }
    ok(!left, "no temporary file is left\n");
}

void Wildcards() {
    const Context context("wildcards");
    fs::create_directories(work / "wild");
    for (const wchar_t* name : {L"w2.ARC", L"w1.ARC", L"x1.ARC"}) WriteFile(work / "wild" / name, SmallArchive().Build());
    // Expanded as Windows tools do, in byte order, the folder part kept.
    const Run star = RunTool({L"--summary", L"--json", L"wild\\w*.ARC", L"wild\\?1.ARC"});
    std::vector<std::string> files;
    for (const Json& object : Objects(star)) files.push_back(object.value("file", ""));
    // w1.ARC is named twice and, as any file reached twice, examined once.
    const Lines want = {"wild\\w1.ARC", "wild\\w2.ARC", "wild\\x1.ARC"};
    ok(star.status == 0 && files == want, "got\n%sexpected\n%s%s\n", Show(files).c_str(), Show(want).c_str(),
       Show(star).c_str());
    // A pattern that matches nothing stays as given, and cannot be opened.
    const Run none = RunTool({L"wild\\none*.ARC"});
    ok(none.status == 2 && Contains(none.err, "vexmira: wild\\none*.ARC: Cannot open file"), "got %s\n", Show(none).c_str());
}

void RootedPathsAndClosedPipes() {
    const Context context("rooted-paths");
    WriteFile(work / "rooted.ARC", SmallArchive().Build());
    // The same file rooted on the current drive, written both ways: a file,
    // never an option.
    std::wstring rooted = fs::absolute(work / "rooted.ARC").wstring();
    rooted.erase(0, rooted.find(L'\\'));
    std::wstring forward = rooted;
    std::replace(forward.begin(), forward.end(), L'\\', L'/');
    for (const std::wstring& path : {rooted, forward}) {
        const Run run = RunTool({L"--json", path});
        const std::vector<Json> objects = Objects(run);
        ok(run.status == 0 && objects.size() == 1 && objects[0]["entries"].size() == 3, "%s: got %s\n",
           Utf8FromWide(path).c_str(), Show(run).c_str());
    }

    // Output into a pipe nobody reads ends the tool quietly.
    const Run closed = RunTool({L"rooted.ARC", L"rooted.ARC", L"rooted.ARC"}, true);
    ok(closed.err.empty() && closed.status != 0, "got %s\n", Show(closed).c_str());
}

void PathsOutsideAscii() {
    const Context context("non-ascii");
    // Greek, Cyrillic and Japanese: no single ANSI code page holds them all.
    const std::wstring name = L"caf\u00E9 \u03A9\u0416\u65E5.ARC";
    const std::string utf8 = Utf8FromWide(name);
    WriteFile(work / name, SmallArchive().Build());
    const Run run = RunTool({name});
    ok(run.status == 0 && !run.OutLines().empty() && run.OutLines()[0] == "File: " + utf8, "got %s\n", Show(run).c_str());

    const std::wstring carrier = L"\u03A9-setup.exe";
    WriteFile(work / carrier, Carrier(5000, SmallArchive().Build()));
    const std::wstring missing = L"\u0416-absent.ARC";
    const Run json = RunTool({L"--json", L"--side-file", carrier, missing});
    const std::vector<Json> objects = Objects(json);
    ok(json.status == 2 && objects.size() == 2, "got %s\n", Show(json).c_str());
    if (objects.size() == 2) {
        ok(objects[0]["file"] == Utf8FromWide(carrier) && objects[0]["listed"] == Utf8FromWide(carrier + L"$$$") &&
               objects[0]["path_encoding"] == "utf-8" && objects[0]["entries"].size() == 3,
           "got %s\n", objects[0].dump().c_str());
        const std::string prefix = "Cannot open file \"" + Absolute(work / missing) + "\". ";
        ok(objects[1]["error"].is_string() && objects[1]["error"].get<std::string>().rfind(prefix, 0) == 0,
           "got %s, expected [%s...]\n", objects[1]["error"].dump().c_str(), prefix.c_str());
    }
    ok(fs::exists(work / (carrier + L"$$$")), "the side file keeps the name\n");

    // A folder walk and a list file, both outside ASCII; side files are skipped.
    const std::wstring folder = L"dossier-\u00E9\u65E5";
    fs::create_directories(work / folder);
    WriteFile(work / folder / L"b.ARC", SmallArchive().Build());
    WriteFile(work / folder / L"\u0416.ARC", SmallArchive().Build());
    WriteFile(work / folder / L"a.ARC", SmallArchive().Build());
    WriteFile(work / folder / L"a.exe$$$", SmallArchive().Build());
    const std::string list = "a.ARC\r\n" + utf8 + "\r\n";
    WriteFile(work / L"liste-\u00FC.txt", Bytes(list.begin(), list.end()));
    const Run walk = RunTool({L"--json", L"--jobs", L"2", L"-r", folder, L"--files-from", L"liste-\u00FC.txt"});
    std::vector<std::string> files;
    for (const Json& object : Objects(walk)) files.push_back(object.value("file", ""));
    const std::string base = Utf8FromWide(folder) + "\\";
    const Lines want = {base + "a.ARC", base + "b.ARC", base + Utf8FromWide(L"\u0416.ARC"), "a.ARC", utf8};
    ok(walk.status == 0 && files == want, "got\n%sexpected\n%s%s\n", Show(files).c_str(), Show(want).c_str(),
       Show(walk).c_str());
}

void StandardInput() {
    const Context context("standard input");
    const Bytes archive = SmallArchive().Build();
    WriteFile(work / "piped.exe", Carrier(70000, archive));
    const Lines want = RunTool({L"--json", L"piped.exe"}).OutLines();
    for (const Input::Kind kind : {Input::File, Input::Pipe}) {
        const Run run = RunTool({L"--json", L"-"}, false, Input{kind, work / "piped.exe"});
        const std::vector<Json> objects = Objects(run);
        const bool listed = run.status == 0 && objects.size() == 1 && objects[0]["file"] == "-" &&
                            objects[0]["offset"] == 70000 && objects[0]["entries"].size() == 3;
        ok(listed, "%s standard input: %s\n", kind == Input::File ? "file" : "pipe", Show(run).c_str());
        if (listed && !want.empty()) {
            Json expected = Json::parse(want[0]);
            expected["file"] = "-";
            ok(objects[0]["entries"] == expected["entries"], "the same entries as the file's: %s\n", Show(run).c_str());
        }
    }
    // Whatever the pipe held is gone with the process.
    wchar_t temporary[MAX_PATH + 2] = {};
    GetTempPathW(MAX_PATH + 1, temporary);
    bool left = false;
    for (const auto& item : fs::directory_iterator(temporary)) {
        left = left || item.path().filename().wstring().rfind(L"vexmira-stdin-", 0) == 0;
    }
    ok(!left, "no spill of standard input is left in %s\n", Utf8FromWide(temporary).c_str());
}

// --extract on Windows: hostile entry names, device names and case twins
// among them, become files inside the listing's one folder, each holding
// its entry's stored bytes.
void Extract() {
    const Context context("extract");
    const std::vector<std::string> names = {"..\\..\\up.txt", "C:\\x.dll", "CON",    "aux.txt", "nul.tar.gz",
                                            "COM1",           "dots..",       "blank ", "A.TXT",   "a.txt",
                                            "a:b",            std::string(300, 'L')};
    vexmira::testing::ArchiveBuilder archive;
    for (const std::string& name : names) archive.Add(name, 10, 10, 0);
    WriteFile(work / "hostile.ARC", archive.Build());
    const Run run = RunTool({L"--extract", L"ex", L"hostile.ARC"});
    ok(run.status == 0, "got %s\n", Show(run).c_str());
    const fs::path folder = work / "ex" / "hostile.ARC.extracted" / "00000000";
    if (!fs::exists(folder / "manifest.jsonl")) {
        ok(false, "no manifest: %s\n", Show(run).c_str());
        return;
    }
    const Bytes manifest = ReadFile(folder / "manifest.jsonl");
    const Lines lines = Run::Split(std::string(manifest.begin(), manifest.end()));
    ok(lines.size() == names.size(), "%d manifest lines for %d entries\n", static_cast<int>(lines.size()),
       static_cast<int>(names.size()));
    Bytes stored;  // what the builder writes as each entry's 10 bytes
    for (std::uint64_t i = 0; i < 10; ++i) stored.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    for (const std::string& text : lines) {
        const Json line = Json::parse(text);
        const std::string path = line.value("path", "");
        const bool there = !path.empty() && fs::is_regular_file(folder / path);
        ok(there && ReadFile(folder / path) == stored, "%s: not written as %s\n", line["entry"]["name"].dump().c_str(),
           path.c_str());
    }
    std::size_t files = 0;
    for (const auto& item : fs::recursive_directory_iterator(work / "ex")) files += item.is_regular_file() ? 1 : 0;
    ok(files == names.size() + 1, "%d files below ex\\ for %d entries and the manifest\n", static_cast<int>(files),
       static_cast<int>(names.size()));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::printf("usage: vexmira_cli_driver VEXMIRA_EXE\n");
        return 2;
    }
    // A path from the build (a Unix one) reads as one on the current drive.
    std::wstring path = argv[1];
    std::replace(path.begin(), path.end(), L'/', L'\\');
    tool = fs::absolute(path).wstring();
    work = fs::absolute(L"cli_work");
    fs::remove_all(work);
    fs::create_directories(work);

    Listing();
    JsonContract();
    ExitStatuses();
    OutputDir();
    Outputs();
    Wildcards();
    RootedPathsAndClosedPipes();
    PathsOutsideAscii();
    StandardInput();
    Extract();

    std::printf("cli: %ld tests executed (%ld failures)\n", vexmira::wine_test::Checks(), vexmira::wine_test::Failures());
    return vexmira::wine_test::Failures() == 0 ? 0 : 1;
}
