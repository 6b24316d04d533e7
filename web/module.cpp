// The page's WebAssembly module: the tool's listing of one file, the same
// JSON objects as `vexmira --json --in-place` (with `all`, as `--all`), by the
// tool's own examine and report. The lines go to the worker as they are
// written, so the module's memory does not grow with the listing. Beside
// them go the core's decisions the page shows and must not make itself: the
// route the name took, and for each listing what --carve would write.

#include <emscripten.h>

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "listing/examine.hpp"
#include "listing/plan.hpp"
#include "report/json.hpp"
#include "report/output.hpp"

namespace {

// Hands every chunk of whole lines, and every error line, to the worker.
EM_JS(void, HandLinesToPage, (const char* data, std::size_t size), { Module["onLines"](UTF8ToString(data, size)); });
EM_JS(void, HandErrorToPage, (const char* data, std::size_t size), { Module["onErrorLine"](UTF8ToString(data, size)); });
EM_JS(void, HandPlanToPage, (const char* data, std::size_t size), { Module["onPlan"](UTF8ToString(data, size)); });

using vexmira::listing::Route;

std::string_view RouteName(Route route) {
    switch (route) {
        case Route::Direct: return "direct";
        case Route::Located: return "located";
        case Route::AtOffset: return "at_offset";
        case Route::Candidates: return "candidates";
    }
    return "located";
}

// Hands every listing on to the report, and to the page one object per
// listing, in the same order: {"carve":{"offset":O,"end":E,"suffix":".HEX.ARC"}}
// with the range --carve writes, {"refusal":"..."} when it would write
// nothing, or {"carve":null} when the listing is not one --carve takes. The
// plan is the core's (ListingEnd::Plan), as the tool's carve reads it.
class CarvePlanSink final : public vexmira::listing::ListingSink {
public:
    explicit CarvePlanSink(vexmira::listing::ListingSink& report) : report_(report) {}

    void Begin(const vexmira::listing::ListingHead& head) override { report_.Begin(head); }
    void Entry(std::string_view name, const vexmira::archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override {
        report_.Entry(name, info, suspect);
    }
    void EntryRun(std::string_view name, const vexmira::archive::TCompressedFileInfo& info,
                  std::optional<std::string_view> suspect, const vexmira::listing::ShiftedCopies& more) override {
        report_.EntryRun(name, info, suspect, more);
    }
    void End(const vexmira::listing::ListingHead& head, const vexmira::listing::ListingEnd& end) override {
        report_.End(head, end);
        std::string plan;
        if (!end.Plan || end.Error) {
            plan = R"({"carve":null})";
        } else if (end.Plan->Refusal) {
            // The refusal's words are the core's own: digits and ASCII.
            plan = R"({"refusal":")" + *end.Plan->Refusal + R"("})";
        } else {
            plan = R"({"carve":{"offset":)" + std::to_string(end.Plan->Offset) + R"(,"end":)" +
                   std::to_string(end.Plan->End) + R"(,"suffix":")" + end.Plan->Suffix + R"("}})";
        }
        HandPlanToPage(plan.data(), plan.size());
    }

private:
    vexmira::listing::ListingSink& report_;
};

class PageOutput final : public vexmira::report::LineOutput {
public:
    PageOutput() : LineOutput(kFileChunk) {}

protected:
    void Send(const char* data, std::size_t size) override { HandLinesToPage(data, size); }
    void SendError(std::string_view line) override { HandErrorToPage(line.data(), line.size()); }
};

}  // namespace

// Lists `path` (a name in the current folder); returns the tool's exit status
// (0 listed, 1 no archive found, 2 error).
extern "C" EMSCRIPTEN_KEEPALIVE int vexmira_list_json(const char* path, int all) {
    PageOutput out;
    vexmira::listing::Options options;
    // Listed in place (the default): the page writes nothing.
    options.All = all != 0;
    options.FoldRepeats = true;  // as the tool's --json folds runs of repeated candidates
    vexmira::report::JsonReport report(out);
    const Route route = vexmira::listing::RouteOf(path, false, options.All);
    CarvePlanSink planned(report);
    try {
        const std::string head = R"({"route":")" + std::string(RouteName(route)) + R"("})";
        HandPlanToPage(head.data(), head.size());
        const vexmira::listing::Outcome outcome = vexmira::listing::Examine(path, options, planned);
        out.Flush();
        return static_cast<int>(outcome);
    } catch (const std::exception& error) {
        const std::string_view message = error.what();
        HandErrorToPage(message.data(), message.size());
        return static_cast<int>(vexmira::listing::Outcome::Failed);
    }
}
