// The page's WebAssembly module: the tool's listing of one file, the same
// JSON objects as `vexmira --json --in-place` (with `all`, as `--all`), by the
// tool's own examine and report. The lines go to the worker as they are
// written, so the module's memory does not grow with the listing. Beside
// them go the core's decisions the page shows and must not make itself: the
// route the name took, and for each listing what --carve would write and
// what the views for people show of it.

#include <emscripten.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "archive/entry_text.hpp"
#include "listing/examine.hpp"
#include "listing/extraction.hpp"
#include "listing/plan.hpp"
#include "report/json.hpp"
#include "report/output.hpp"
#include "report/text.hpp"
#include "report/views.hpp"

namespace {

// Hands every chunk of whole lines, and every error line, to the worker.
EM_JS(void, HandLinesToPage, (const char* data, std::size_t size), { Module["onLines"](UTF8ToString(data, size)); });
EM_JS(void, HandErrorToPage, (const char* data, std::size_t size), { Module["onErrorLine"](UTF8ToString(data, size)); });
EM_JS(void, HandPlanToPage, (const char* data, std::size_t size), { Module["onPlan"](UTF8ToString(data, size)); });

using vexmira::listing::Route;

// The page's first object: the route the name took (whole literals, so
// that handing it over allocates nothing and cannot throw).
std::string_view RouteObject(Route route) {
    switch (route) {
        case Route::Direct: return R"({"route":"direct"})";
        case Route::Located: return R"({"route":"located"})";
        case Route::AtOffset: return R"({"route":"at_offset"})";
        case Route::Candidates: return R"({"route":"candidates"})";
    }
    return R"({"route":"located"})";
}

// Hands every listing on to the report, and to the page one object per
// listing, in the same order, with what the core decides for it:
//   "carve": {"offset":O,"end":E,"suffix":".HEX.ARC"}, the range --carve
//     writes (ListingEnd::Plan), or null when --carve takes no such listing;
//     "refusal": "..." instead when it would write nothing;
//   "view": what the page's table shows as the tool's views for people do
//     (report/views.hpp): "fold_from", the index of the first entry past the
//     plausible end (null when none), the line that stands for those
//     entries, and "cells", [index, name, method] for each entry whose name
//     is cut or whose method byte shows as its number (null where not).
class PlanSink final : public vexmira::listing::ListingSink {
public:
    explicit PlanSink(vexmira::listing::ListingSink& report) : report_(report) {}

    void Begin(const vexmira::listing::ListingHead& head) override {
        index_ = 0;
        foldFrom_.reset();
        cells_.clear();
        report_.Begin(head);
    }
    void Entry(std::string_view name, const vexmira::archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override {
        Note(name, info, suspect);
        report_.Entry(name, info, suspect);
    }
    void EntryRun(std::string_view name, const vexmira::archive::TCompressedFileInfo& info,
                  std::optional<std::string_view> suspect, const vexmira::listing::ShiftedCopies& more) override {
        Note(name, info, suspect);
        report_.EntryRun(name, info, suspect, more);
    }
    void End(const vexmira::listing::ListingHead& head, const vexmira::listing::ListingEnd& end) override {
        report_.End(head, end);
        std::string plan = "{";
        if (!end.Plan || end.Error) {
            plan += R"("carve":null)";
        } else if (end.Plan->Refusal) {
            // The refusal's words are the core's own: digits and ASCII.
            plan += R"("carve":null,"refusal":")" + *end.Plan->Refusal + '"';
        } else {
            plan += R"("carve":{"offset":)" + std::to_string(end.Plan->Offset) + R"(,"end":)" +
                    std::to_string(end.Plan->End) + R"(,"suffix":")" + end.Plan->Suffix + R"("})";
        }
        plan += R"(,"view":{"fold_from":)";
        if (foldFrom_ && end.TrailingEntries > 0) {
            plan += std::to_string(*foldFrom_) + R"(,"folded_line":)";
            vexmira::report::AppendJsonString(
                plan, vexmira::report::FoldedEntriesLine(end.TrailingEntries, "\u201cShow trailing entries\u201d lists them"),
                vexmira::listing::Encoding::Utf8);
        } else {
            plan += R"(null,"folded_line":null)";
        }
        plan += R"(,"cells":[)" + cells_ + "]}}";
        HandPlanToPage(plan.data(), plan.size());
    }

private:
    void Note(std::string_view name, const vexmira::archive::TCompressedFileInfo& info,
              std::optional<std::string_view> suspect) {
        const std::uint64_t index = index_++;
        if (suspect && !foldFrom_) foldFrom_ = index;
        // A name's bytes read as Latin-1, as the JSON gives it: one character each.
        const bool cut = name.size() > vexmira::report::kNameWidth;
        const std::string_view method = vexmira::report::MethodCell(info.Method);
        const bool number = method != vexmira::archive::MethodName(info.Method);
        if (!cut && !number) return;
        if (!cells_.empty()) cells_ += ',';
        cells_ += '[' + std::to_string(index) + ',';
        if (cut) {
            vexmira::report::AppendJsonString(
                cells_, vexmira::report::CutName(vexmira::report::ToUtf8(name, vexmira::listing::Encoding::Latin1)),
                vexmira::listing::Encoding::Utf8);
        } else {
            cells_ += "null";
        }
        cells_ += ',';
        if (number) {
            cells_ += '"';
            cells_ += method;
            cells_ += '"';
        } else {
            cells_ += "null";
        }
        cells_ += ']';
    }

    vexmira::listing::ListingSink& report_;
    std::uint64_t index_ = 0;
    std::optional<std::uint64_t> foldFrom_;
    std::string cells_;
};

class PageOutput final : public vexmira::report::LineOutput {
public:
    PageOutput() : LineOutput(kFileChunk) {}

protected:
    void Send(const char* data, std::size_t size) override { HandLinesToPage(data, size); }
    void SendError(std::string_view line) override { HandErrorToPage(line.data(), line.size()); }
};

// Examines `path` into `sink` (whose lines `out` holds, if any) and returns
// the tool's exit status; an error no listing reports goes to the page's
// error lines.
int ExamineForPage(const char* path, const vexmira::listing::Options& options, vexmira::listing::ListingSink& sink,
                   PageOutput* out = nullptr) {
    try {
        const vexmira::listing::Outcome outcome = vexmira::listing::Examine(path, options, sink);
        if (out != nullptr) out->Flush();
        return static_cast<int>(outcome);
    } catch (const std::exception& error) {
        const std::string_view message = error.what();
        HandErrorToPage(message.data(), message.size());
        return static_cast<int>(vexmira::listing::Outcome::Failed);
    }
}

}  // namespace

// Lists `path` (a name in the current folder); returns the tool's exit status
// (0 listed, 1 no archive found, 2 error).
extern "C" EMSCRIPTEN_KEEPALIVE int vexmira_list_json(const char* path, int all) {
    PageOutput out;
    vexmira::listing::Options options;
    // Listed in place (the default): the page writes nothing.
    options.All = all != 0;
    options.FoldRepeats = true;  // as the tool's --json folds runs of repeated candidates
    options.PlanCarves = true;   // what --carve would write, offered as a download
    vexmira::report::JsonReport report(out);
    const Route route = vexmira::listing::RouteOf(path, false, options.All);
    PlanSink planned(report);
    const std::string_view head = RouteObject(route);
    HandPlanToPage(head.data(), head.size());
    return ExamineForPage(path, options, planned, &out);
}

// Entry data for the page: what `--hash` reads and where an entry's stored
// bytes lie, named as `--extract` names them. Both read the file; the page
// asks for them only when told to.

namespace {

// An offset from the page: decimal digits (a JavaScript number cannot hand
// over all of 64 bits); none for anything else, such as "" or "-1".
std::optional<std::int64_t> OffsetFromPage(const char* text) {
    const std::string_view digits = text == nullptr ? std::string_view{} : std::string_view{text};
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size() || value < 0) return std::nullopt;
    return value;
}

// Plans every entry of the listing as --extract --include-suspect does (the
// names of earlier entries and the bytes they claim decide a later one's),
// and hands the page the plan of the entry whose header lies at `wanted`:
//   {"name":"README.TXT.lh5.raw","raw":true,"why_raw":"...","offset":O,"size":S}
// with the range in the file, or {"name":null,"refusal":"..."} with the
// core's reason (its stored data runs past the end, or overlaps an earlier
// entry's), or nothing when no entry's header lies there.
class StoredBytesSink final : public vexmira::listing::ListingSink {
public:
    explicit StoredBytesSink(std::int64_t wanted) : wanted_(wanted) {}

    void Begin(const vexmira::listing::ListingHead& head) override {
        head_ = &head;
        planner_.BeginListing();
    }
    void Entry(std::string_view name, const vexmira::archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override {
        if (head_ == nullptr || head_->ListedBytes == nullptr) return;
        const vexmira::listing::EntryExtraction plan = planner_.PlanListed(*head_, name, info, suspect);
        if (info.HeaderOffset != wanted_ || found_) return;
        found_ = true;
        std::string answer = R"({"name":)";
        if (plan.Name) {
            // Safe names are printable ASCII.
            vexmira::report::AppendJsonString(answer, *plan.Name, vexmira::listing::Encoding::Latin1);
            answer += plan.Raw ? R"(,"raw":true,"why_raw":)" : R"(,"raw":false,"why_raw":)";
            if (plan.WhyRaw) {
                vexmira::report::AppendJsonString(answer, *plan.WhyRaw, vexmira::listing::Encoding::Latin1);
            } else {
                answer += "null";
            }
            answer += R"(,"offset":)";
            answer += std::to_string(plan.Start + head_->ListedOrigin);
            answer += R"(,"size":)";
            answer += std::to_string(plan.Size);
        } else {
            answer += R"(null,"refusal":)";
            vexmira::report::AppendJsonString(answer, plan.NotWritten.value_or(""), vexmira::listing::Encoding::Latin1);
        }
        answer += '}';
        HandPlanToPage(answer.data(), answer.size());
    }
    void End(const vexmira::listing::ListingHead&, const vexmira::listing::ListingEnd&) override { head_ = nullptr; }

private:
    std::int64_t wanted_;
    bool found_ = false;
    const vexmira::listing::ListingHead* head_ = nullptr;
    vexmira::listing::ExtractionPlanner planner_{true};
};

}  // namespace

// The stored bytes of the entry whose header lies at `header` in the archive
// at `offset` of `path`: their range and name, or why --extract writes none
// (see StoredBytesSink). Returns the tool's exit status.
extern "C" EMSCRIPTEN_KEEPALIVE int vexmira_stored_bytes(const char* path, const char* offset, const char* header) {
    const std::optional<std::int64_t> archiveOffset = OffsetFromPage(offset);
    const std::optional<std::int64_t> headerOffset = OffsetFromPage(header);
    if (!archiveOffset || !headerOffset) return static_cast<int>(vexmira::listing::Outcome::Failed);
    vexmira::listing::Options options;
    options.Offset = archiveOffset;
    StoredBytesSink sink(*headerOffset);
    return ExamineForPage(path, options, sink);
}

// The listing of `path` with every entry's SHA-256 and entropy and the
// input's SHA-256, the JSON object `vexmira --json --hash --in-place` prints:
// of the located archive when `offset` is not a number, else of the archive
// there (as `--offset`). Beside it, how many of a digest's digits a table
// shows: {"short_digest":N}.
extern "C" EMSCRIPTEN_KEEPALIVE int vexmira_hash_json(const char* path, const char* offset) {
    // Written into a fixed buffer: nothing here may throw past the export.
    constexpr std::string_view kKey = R"({"short_digest":)";
    std::array<char, 48> view{};
    std::copy(kKey.begin(), kKey.end(), view.begin());
    char* end = std::to_chars(view.data() + kKey.size(), view.data() + view.size() - 1, vexmira::report::kShortDigest).ptr;
    *end++ = '}';
    HandPlanToPage(view.data(), static_cast<std::size_t>(end - view.data()));
    PageOutput out;
    vexmira::listing::Options options;
    options.Offset = OffsetFromPage(offset);
    options.Hashes = true;
    vexmira::report::JsonReport report(out);
    return ExamineForPage(path, options, report, &out);
}
