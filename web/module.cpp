// The page's WebAssembly module: the tool's listing of one file, the same
// JSON objects as `vexmira --json --in-place` (with `all`, as `--all`), by the
// tool's own examine and report. The lines go to the worker as they are
// written, so the module's memory does not grow with the listing.

#include <emscripten.h>

#include <exception>
#include <string>
#include <string_view>

#include "listing/examine.hpp"
#include "report/json.hpp"
#include "report/output.hpp"

namespace {

// Hands every chunk of whole lines, and every error line, to the worker.
EM_JS(void, HandLinesToPage, (const char* data, std::size_t size), { Module["onLines"](UTF8ToString(data, size)); });
EM_JS(void, HandErrorToPage, (const char* data, std::size_t size), { Module["onErrorLine"](UTF8ToString(data, size)); });

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
    try {
        const vexmira::listing::Outcome outcome = vexmira::listing::Examine(path, options, report);
        out.Flush();
        return static_cast<int>(outcome);
    } catch (const std::exception& error) {
        const std::string_view message = error.what();
        HandErrorToPage(message.data(), message.size());
        return static_cast<int>(vexmira::listing::Outcome::Failed);
    }
}
