#pragma once
// The end-to-end cases, each run as its own CTest test in its own process.

#include <string>
#include <vector>

#include "tests/archive_builder.hpp"
#include "tests/wine/ui.hpp"

namespace vexmira::wine_test {

struct Options {
    std::string dll;                // Windows path of the plug-in
    std::vector<std::string> args;  // what follows on the command line
};

// Files for one case, in a fresh folder that goes away with it.
class Workspace {
public:
    // Writes the bytes and returns the file's path.
    std::string Write(const std::string& name, const testing::Bytes& bytes);
    std::string Path(const std::string& name) const;

private:
    testing::TempDir dir_;
};

struct Entry {
    std::string name;
    std::int64_t fullSize;
    std::int64_t compressedSize;
    std::uint8_t method;
};
// A well-formed archive of these entries.
testing::Bytes ArchiveOf(const std::vector<Entry>& entries);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
std::string Join(const std::vector<std::string>& items);

// The list box holds exactly these names, in this order.
void ExpectItems(const Dialog& dialog, const std::vector<std::string>& expected);
// Exactly one message box came up before the dialog, with this text, no
// icon, an empty caption, one "OK", centred.
void ExpectInformationBox(const JobOutcome& outcome, const std::string& text);
// Exactly one error report box came up before the dialog, with this text.
void ExpectErrorBox(const JobOutcome& outcome, const std::string& text);
void ExpectNoBoxes(const JobOutcome& outcome);
void CloseWithEscape(const Dialog& dialog);

void CaseExports(const Options& options);
void CaseLifetime(const Options& options);
void CaseUnloadElsewhere(const Options& options);
void CaseLayout(const Options& options);
void CaseArcListing(const Options& options);
void CaseCarrier(const Options& options);
void CaseNotFound(const Options& options);
void CaseMissingArc(const Options& options);
void CaseBadHeaders(const Options& options);
void CaseDetails(const Options& options);
void CaseDrag(const Options& options);
void CaseClosing(const Options& options);
void CaseAbout(const Options& options);
void CaseTwoJobs(const Options& options);
void CaseModality(const Options& options);
void CaseRepeat(const Options& options);
void CaseBigList(const Options& options);
void CaseSideFile(const Options& options);
// Not a test: shows the dialog on a carrier for a screenshot.
void Demo(const Options& options);

}  // namespace vexmira::wine_test
