#include "python/extract.hpp"

#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "listing/plan.hpp"
#include "outputs/places.hpp"
#include "outputs/writer.hpp"
#include "python/file_object.hpp"
#include "report/extract.hpp"
#include "report/text.hpp"

namespace vexmira::python {
namespace {

// The tool's lines for entries not written: each manifest line says the same.
class Unsaid final : public report::LineOutput {
public:
    Unsaid() : LineOutput(kFileChunk) {}

protected:
    void Send(const char*, std::size_t) override {}
    void SendError(std::string_view) override {}
};

// How the listing ended: its error, for the caller to raise.
class EndSink final : public listing::ListingSink {
public:
    void Begin(const listing::ListingHead&) override {}
    void Entry(std::string_view, const archive::TCompressedFileInfo&, std::optional<std::string_view>) override {}
    void End(const listing::ListingHead&, const listing::ListingEnd& end) override {
        if (Failure || Error) return;
        Failure = end.Failure;
        if (end.Error) Error = end.Error->Bytes;
    }
    std::exception_ptr Failure;
    std::optional<std::string> Error;  // without an error class of its own
};

}  // namespace

py::list Extract(const ListedArchive& archive, const py::object& dir, bool includeSuspect, bool force) {
    const std::string folder = PathBytes(dir);
    std::vector<std::string> written;
    EndSink end;
    {
        py::gil_scoped_release unlocked;
        std::lock_guard lock(archive.Source.Walking);
        outputs::MakeOutputFolder(folder);
        outputs::Writer writer(folder, std::string(listing::kExistsReason));
        report::ExtractOptions options{folder, includeSuspect, force, 0, &written};
        Unsaid unsaid;
        report::ExtractingSink extracting(end, writer, options, unsaid);
        listing::Options examine;  // in place, as the tool lists
        examine.Offset = archive.Offset;
        examine.Input = &archive.Source.Held.Hold();
        listing::Examine(archive.Source.Held.File, examine, extracting);
    }
    archive.Source.Held.Check();
    if (end.Failure) std::rethrow_exception(end.Failure);
    if (end.Error) throw py::value_error(report::ToUtf8(*end.Error, listing::Encoding::Utf8));
    py::list paths;
    const py::object decode = py::module_::import("os").attr("fsdecode");
    for (const std::string& path : written) {
        paths.append(archive.BytesPath ? py::object(py::bytes(path)) : decode(py::bytes(path)));
    }
    return paths;
}

}  // namespace vexmira::python
