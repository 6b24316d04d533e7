// import vexmira: the command-line tool's listings as Python values.
//
// The bindings only: every rule (the route a name takes, the walk, the
// plausible end, carve ranges and refusals) is the core's, reached through
// Examine and its sinks. Listings are in place (only carve writes, through
// the tool's writer). Errors raise the classes of vexmira._errors with the
// tool's messages. Files are read with the GIL released; a Python file
// object is read through its own read and seek, each call taking the GIL.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>

#include "archive/compress.hpp"
#include "listing/entry_data.hpp"
#include "listing/examine.hpp"
#include "listing/fields.hpp"
#include "report/json.hpp"
#include "report/output.hpp"
#include "report/text.hpp"
#include "listing/plan.hpp"
#include "locator/locator.hpp"
#include "locator/scan.hpp"
#include "outputs/output_files.hpp"
#include "outputs/places.hpp"
#include "outputs/writer.hpp"
#include "python/entries.hpp"
#include "python/extract.hpp"
#include "python/file_object.hpp"
#include "python/guard.hpp"
#include "listing/repeated_listings.hpp"
#include "listing/resume_token.hpp"
#include "support/exception.hpp"
#include "support/file_stream.hpp"
#include "support/file_system.hpp"
#include "support/path.hpp"

namespace py = pybind11;
using namespace vexmira;
using python::MemoryGuarded;
using python::PathBytes;
using python::SharedSource;
using python::Source;
using python::SourceOf;

namespace {

// Collects the JSON report in memory: the tool's own serialiser, so that the
// module and the tool cannot disagree.
class StringOutput final : public report::LineOutput {
public:
    StringOutput() : LineOutput(std::size_t{1} << 16) {}
    std::string Text;

protected:
    void Send(const char* data, std::size_t size) override { Text.append(data, size); }
    void SendError(std::string_view) override {}
};

// A listing's messages, as the JSON's "messages" reads them.
py::list Messages(const listing::ListingHead& head) {
    py::list out;
    for (const listing::Text& message : head.Messages) {
        out.append(python::FieldObject(listing::FieldText{message.Bytes, listing::TextEncoding(message, head)}));
    }
    return out;
}

// The tool's listing object for `head` and `end`, its entries an empty list:
// the field tables' rows and the end's plain values, keys in the tool's
// order (the conformance tests compare it with the tool's JSON).
py::dict ListingObject(const listing::ListingHead& head, const listing::ListingEnd& end) {
    py::dict out;
    out["schema_version"] = std::string(report::kSchemaVersion);
    listing::ForEachHeadField(head, [&](const auto& row, const listing::FieldValue& value) {
        out[py::str(std::string(row.JsonKey))] = python::FieldObject(value);
    });
    out["messages"] = Messages(head);
    out["entries"] = py::list();
    for (const auto& row : listing::kEndFields) {
        out[py::str(std::string(row.JsonKey))] = python::FieldObject(listing::EndFieldValue(row.Field, head, end));
    }
    listing::ForEachEndMember(head, end, [&](const listing::EndMember& member) {
        const py::str key(std::string(member.Key));
        if (!member.IsObject) {
            out[key] = python::FieldObject(member.Value);
            return;
        }
        py::dict members;
        for (std::size_t i = 0; i < member.MemberCount; ++i) {
            members[py::str(std::string(member.Members[i].first))] = python::FieldObject(member.Members[i].second);
        }
        out[key] = members;
    });
    return out;
}

// A message as Python text: paths read as UTF-8 when they are, else as
// Latin-1, as the JSON output reads them.
std::string Utf8(const std::string& text) { return report::ToUtf8(text, listing::Encoding::Utf8); }

std::shared_ptr<SharedSource> Shared(Source source) { return std::make_shared<SharedSource>(std::move(source)); }

// A whole listing through the core, its entries as dicts built batch by
// batch: no JSON round trip per entry. Raises what the listing failed with.
py::dict WholeListing(SharedSource& source, std::optional<std::int64_t> offset) {
    python::ListingWalk walk(source, offset);
    py::list entries;
    std::vector<python::EntryValue> batch;
    for (;;) {
        bool more = false;
        {
            py::gil_scoped_release unlocked;
            more = walk.Next(batch);
        }
        source.Held.Check();
        if (!more) break;
        for (const python::EntryValue& entry : batch) entries.append(python::EntryDict(entry));
    }
    if (walk.End().Failure) std::rethrow_exception(walk.End().Failure);
    py::dict listing = ListingObject(walk.Head(), walk.End());
    listing["entries"] = entries;
    return listing;
}

py::dict List(const py::object& path) { return WholeListing(*Shared(SourceOf(path)), std::nullopt); }

// The lines the tool prints for one file with --json --in-place, errors
// included: for callers that hand the contract on as it is.
py::bytes JsonLines(const py::object& path) {
    const Source source = SourceOf(path);
    StringOutput out;
    {
        py::gil_scoped_release unlocked;
        report::JsonReport json(out);
        listing::Options options;  // lists in place
        options.Input = source.Input();
        listing::Examine(source.File, options, json);
        out.Flush();
    }
    source.Check();
    return py::bytes(out.Text);
}

// The archive at `offset` of `data`, listed there as the tool's --offset lists it.
py::dict ListBytes(const py::object& data, std::int64_t offset) {
    const auto source = Shared(python::DataSource(data, "<bytes>"));
    if (offset < 0 || offset > source->Held.Input()->Size()) throw py::value_error("offset outside the data");
    return WholeListing(*source, offset);
}

// FILE opened for reading, or nullptr when it cannot be: the listing then
// says why, as the tool's does.
support::Stream* OpenedOrNone(const std::string& file, std::optional<support::FileStream>& opened) {
    try {
        return &opened.emplace(file, support::FileMode::OpenReadExclusive);
    } catch (const support::Exception&) {
        return nullptr;
    }
}

// The next piece of json_lines' bytes for one source, of about `limit`
// bytes (one entry more at most), and the token that resumes it, or None
// once the piece ends the listing. A resumed piece reads on from the entry
// header the token holds: nothing before it is read again but the headers
// the token is bound to.
py::tuple JsonPart(const py::object& from, const py::object& resume, std::int64_t limit, const py::object& name) {
    if (limit < 1) throw py::value_error("limit must be at least 1 byte");
    const Source source = SourceOf(from, name);
    std::optional<std::string> token;
    if (!resume.is_none()) {
        if (!py::isinstance<py::bytes>(resume)) throw py::type_error("resume must be bytes or None");
        token = resume.cast<std::string>();
    }
    StringOutput out;
    std::optional<std::string> next;
    std::exception_ptr failure;
    {
        py::gil_scoped_release unlocked;
        try {
            // One stream for the listing and the token, so the token is bound to the bytes listed.
            std::optional<support::FileStream> opened;
            support::Stream* input = token ? &source.Open(opened) : source.Input();
            if (input == nullptr) input = OpenedOrNone(source.File, opened);
            std::optional<listing::ListingCheckpoint> paused;
            report::JsonReport json(out);
            listing::Options options;  // lists in place
            options.Input = input;
            options.PauseAfterEntry = [&] { return out.Text.size() + out.Buffer().size() >= static_cast<std::uint64_t>(limit); };
            options.Paused = &paused;
            if (!token) {
                listing::Examine(source.File, options, json);
            } else {
                listing::ResumeListing(*input, source.File, listing::DecodeResumeToken(*token, source.File, *input), options,
                                   json);
            }
            out.Flush();
            if (paused) {
                // A listing pauses only over bytes it read.
                if (input == nullptr) throw std::logic_error("a listing paused without its input");
                next = listing::EncodeResumeToken(*paused, source.File, *input);
            }
        } catch (...) {
            failure = std::current_exception();
        }
    }
    source.Check();  // a file object's failed read is the cause of anything else
    if (failure) std::rethrow_exception(failure);
    return py::make_tuple(py::bytes(out.Text), next ? py::object(py::bytes(*next)) : py::object(py::none()));
}

// The next part of one source's listing for a dataframe: at most `limit`
// entries, as columns (a list per entry key asked), from the start or from
// `resume`; and the token that goes on after it (None once the listing
// ended). The listing's own failure ends it as the tool's JSON ends it: the
// entries before it count, the error is not raised. A failed read of a
// file object raises.
py::tuple EntryPart(const py::object& from, const py::object& resume, std::int64_t limit, const py::object& name,
                    const std::vector<std::string>& keys, bool hashes) {
    if (limit < 1) throw py::value_error("limit must be at least 1 entry");
    std::vector<listing::EntryField> fields;
    for (const std::string& key : keys) {
        const auto* row = std::find_if(listing::kEntryFields.begin(), listing::kEntryFields.end(),
                                       [&](const auto& each) { return each.PythonKey == key; });
        if (row == listing::kEntryFields.end()) throw py::value_error("no entry field " + key);
        if (row->WithHashes && !hashes) throw py::value_error(key + " needs hashes=True");
        fields.push_back(row->Field);
    }
    std::optional<std::string> token;
    if (!resume.is_none()) {
        if (!py::isinstance<py::bytes>(resume)) throw py::type_error("resume must be bytes or None");
        token = resume.cast<std::string>();
    }
    const auto source = Shared(SourceOf(from, name));
    source->Hashes = hashes;
    python::ListingWalk walk(*source, std::nullopt);
    walk.PauseAfter(static_cast<std::uint64_t>(limit));
    std::vector<py::list> columns(fields.size());
    std::vector<python::EntryValue> batch;
    std::optional<std::string> next;
    for (bool first = true;; first = false) {
        bool more = false;
        std::exception_ptr failure;
        {
            py::gil_scoped_release unlocked;
            try {
                if (first && token) {
                    walk.ResumeFrom(listing::DecodeResumeToken(*token, source->Held.File, source->Held.Hold()));
                }
                more = walk.Next(batch);
                if (!more || walk.Entries() >= static_cast<std::uint64_t>(limit)) {
                    if (walk.Checkpoint()) {
                        next = listing::EncodeResumeToken(*walk.Checkpoint(), source->Held.File, source->Held.Hold());
                    }
                    more = false;
                }
            } catch (...) {
                failure = std::current_exception();
            }
        }
        source->Held.Check();  // a file object's failed read is the cause of anything else
        if (failure) std::rethrow_exception(failure);
        for (const python::EntryValue& entry : batch) {
            for (std::size_t i = 0; i < fields.size(); ++i) {
                const py::object value = python::EntryFieldObject(fields[i], entry);
                if (PyList_Append(columns[i].ptr(), value.ptr()) != 0) throw py::error_already_set();
            }
        }
        if (!more) break;
    }
    source->Held.Release();
    py::dict named;
    for (std::size_t i = 0; i < keys.size(); ++i) named[py::str(keys[i])] = columns[i];
    const listing::ListingHead& head = walk.Head();
    return py::make_tuple(python::FieldObject(listing::HeadFieldValue(listing::HeadField::File, head)),
                          python::FieldObject(listing::HeadFieldValue(listing::HeadField::Offset, head)), named,
                          walk.Entries(), next ? py::object(py::bytes(*next)) : py::object(py::none()));
}

class NoDisplay final : public locator::Display {
public:
    void SetProgressRange(std::int32_t) override {}
    void SetProgressPosition(std::int32_t) override {}
    void SetOffsetText(const std::string&) override {}
    void ShowMessage(const std::string&) override {}
};

// {'offset': ..., 'offset_text': ...}: the locator's answer; offset None
// when it finds none, as the listings say.
py::dict Locate(const py::object& path) {
    const Source source = SourceOf(path);
    std::int64_t offset = -1;
    {
        py::gil_scoped_release unlocked;
        std::optional<support::FileStream> opened;
        support::Stream& input = source.Open(opened);
        input.Seek(0, support::SeekOrigin::Beginning);
        NoDisplay display;
        offset = locator::LocateArchive(input, display);
    }
    source.Check();
    py::dict result;
    result["offset"] = offset < 0 ? py::object(py::none()) : py::object(py::int_(offset));
    result["offset_text"] = offset < 0 ? std::string(locator::kNotFoundText) : locator::OffsetText(offset);
    return result;
}

// The listings --all makes of one source, each by its head: where it starts
// and, for a header the locator passes over, why.
struct Candidate {
    std::int64_t Offset = 0;
    std::optional<std::string> PassedOver;
};

// Running out of memory or a failed read ends a scan; a refused header is
// only that candidate's.
bool EndsTheScan(const listing::ListingEnd& end) noexcept {
    return end.Failure && end.Error && end.Error->EndsTheFile();
}

class CandidateSink final : public listing::ListingSink {
public:
    void Begin(const listing::ListingHead& head) override {
        if (head.Offset >= 0) Found.push_back({head.Offset, head.PassedOver});
    }
    void Entry(std::string_view, const archive::TCompressedFileInfo&, std::optional<std::string_view>) override {}
    void End(const listing::ListingHead&, const listing::ListingEnd& end) override {
        if (!Failure && EndsTheScan(end)) Failure = end.Failure;
    }
    std::vector<Candidate> Found;
    std::exception_ptr Failure;
};

std::vector<Candidate> CandidatesOf(SharedSource& source) {
    CandidateSink sink;
    {
        py::gil_scoped_release unlocked;
        std::lock_guard lock(source.Walking);
        listing::Options options;
        options.All = true;
        options.Input = &source.Held.Hold();
        listing::Examine(source.Held.File, options, sink);
    }
    source.Held.Check();
    if (sink.Failure) std::rethrow_exception(sink.Failure);
    return std::move(sink.Found);
}

// Built here rather than by pybind11's conversion, which reports a failed
// allocation as a TypeError.
py::list Candidates(const py::object& path) {
    const auto source = Shared(SourceOf(path));
    const std::vector<Candidate> found = CandidatesOf(*source);
    auto result = py::reinterpret_steal<py::list>(PyList_New(static_cast<Py_ssize_t>(found.size())));
    if (!result) throw py::error_already_set();
    for (std::size_t i = 0; i < found.size(); ++i) {
        PyObject* offset = PyLong_FromLongLong(found[i].Offset);
        if (offset == nullptr) throw py::error_already_set();
        PyList_SET_ITEM(result.ptr(), static_cast<Py_ssize_t>(i), offset);
    }
    return result;
}

// What a carve ended with: the file written, or none when the route carves
// nothing (an archive listed directly, none found).
class CarveSink final : public listing::ListingSink {
public:
    void Begin(const listing::ListingHead&) override {}
    void Entry(std::string_view, const archive::TCompressedFileInfo&, std::optional<std::string_view>) override {}
    void End(const listing::ListingHead&, const listing::ListingEnd& end) override {
        Failure = end.Failure;
        if (end.Carved) Carved = end.Carved->Path;
    }
    std::exception_ptr Failure;
    std::optional<std::string> Carved;
};

// Carves as the tool's --carve does, below `outDir` (made when missing),
// through the tool's writer: an archive without an entry is refused, and an
// existing file is kept unless `force`.
py::object CarveFrom(SharedSource& source, std::optional<std::int64_t> offset, const py::object& outDir, bool force,
                     const std::string& end, bool bytesPath) {
    if (end != "plausible" && end != "walk") throw py::value_error("end must be \"plausible\" or \"walk\", not " + end);
    const std::string dir = PathBytes(outDir);
    CarveSink sink;
    {
        py::gil_scoped_release unlocked;
        std::lock_guard lock(source.Walking);
        outputs::MakeOutputFolder(dir);
        outputs::Writer writer(dir, std::string(listing::kExistsReason));
        outputs::WriterOutputs outputs(writer);
        listing::Options options;
        options.Offset = offset;
        options.Carve = true;
        options.CarveToWalkEnd = end == "walk";
        options.Force = force;
        options.OutputDir = dir;
        options.Outputs = &outputs;
        options.Input = &source.Held.Hold();
        listing::Examine(source.Held.File, options, sink);
    }
    source.Held.Check();
    if (sink.Failure) std::rethrow_exception(sink.Failure);
    if (!sink.Carved) return py::none();
    if (bytesPath) return py::bytes(*sink.Carved);
    return py::module_::import("os").attr("fsdecode")(py::bytes(*sink.Carved));
}

py::object Carve(const py::object& path, std::int64_t offset, const py::object& outDir, bool force,
                 const std::string& end) {
    if (offset < 0) throw py::value_error("negative offset");
    const auto source = Shared(SourceOf(path));
    return CarveFrom(*source, offset, outDir, force, end, py::isinstance<py::bytes>(path));
}

// What read_stored returns at most unless told otherwise.
constexpr std::int64_t kReadStoredLimit = std::int64_t{64} << 20;

// One listing of a source as an object: what the tool's JSON object says
// of it, and its entries walked afresh for each iteration.
class Archive {
public:
    Archive(std::shared_ptr<SharedSource> source, std::optional<std::int64_t> offset, bool bytesPath)
        : source_(std::move(source)), offset_(offset), bytes_path_(bytesPath) {}

    // A listing --all made, whole: its head and end as the scan had them,
    // and how many entries it listed (a run counted out).
    Archive(std::shared_ptr<SharedSource> source, const listing::ListingHead& head, const listing::ListingEnd& end,
            std::uint64_t entries, bool bytesPath)
        : source_(std::move(source)), offset_(head.Offset), bytes_path_(bytesPath), head_(head), end_(end),
          scanned_entries_(entries), ended_(true) {
        end_.Failure = nullptr;  // told by error; a refused candidate does not raise
        head_.ListedBytes = nullptr;  // valid during the scan only
    }

    // Reads the head (and the end, when the first batch reaches it); a
    // header the core refuses raises here.
    void Open() { Walk(false); }

    py::object Iterate(bool stopAtSuspect) {
        CheckOpen();
        return python::IterateEntries(source_, offset_, true, stopAtSuspect, scanned_entries_);
    }

    // A row of the head's field table.
    py::object HeadField(listing::HeadField field) const { return python::FieldObject(listing::HeadFieldValue(field, head_)); }

    py::list MessageList() const { return Messages(head_); }

    // A row of the end's; the first walks the listing to its end, once.
    py::object EndField(listing::EndField field) {
        if (!ended_) {
            CheckOpen();
            Walk(true);
        }
        return python::FieldObject(listing::EndFieldValue(field, head_, end_));
    }

    py::list CandidateList() {
        CheckOpen();
        py::list out;
        for (const Candidate& candidate : CandidatesOf(*source_)) {
            py::dict item;
            item["offset"] = candidate.Offset;
            item["passed_over"] = candidate.PassedOver ? py::object(py::str(*candidate.PassedOver)) : py::object(py::none());
            out.append(item);
        }
        return out;
    }

    py::object Carve(const py::object& outDir, bool force, const std::string& end) {
        CheckOpen();
        return CarveFrom(*source_, offset_, outDir, force, end, bytes_path_);
    }

    python::ListedArchive Listed() {  // for extract()
        CheckOpen();
        return {*source_, offset_, bytes_path_};
    }

    // The entry's stored bytes as they lie in the source, where the core's
    // range rule places them; refused past max_size and when they run past
    // the end of the source (they are incomplete).
    py::bytes ReadStored(const python::EntryValue& entry, std::int64_t maxSize) {
        CheckOpen();
        if (maxSize < 0) throw py::value_error("max_size must not be negative");
        std::optional<listing::StoredRange> range;
        {
            py::gil_scoped_release unlocked;
            std::lock_guard lock(source_->Walking);
            if (!source_->Closed) range = listing::StoredRangeOf(entry.Info, entry.Name.size(), source_->Held.Hold().Size());
        }
        if (!range) throw py::value_error("I/O operation on a closed archive");
        const std::string named = "entry " + py::repr(python::EntryFieldObject(listing::EntryField::Name, entry)).cast<std::string>();
        if (range->Missing) throw py::value_error(named + ": " + std::string(*range->Missing));
        if (range->Size > maxSize) {
            throw py::value_error(named + " stores " + std::to_string(range->Size) + " bytes, more than max_size (" +
                                  std::to_string(maxSize) + ")");
        }
        // Sized by a range the source holds, below max_size.
        auto out = py::reinterpret_steal<py::bytes>(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(range->Size)));
        if (!out) throw py::error_already_set();
        char* into = PyBytes_AS_STRING(out.ptr());
        bool whole = false;
        bool closed = false;
        {
            py::gil_scoped_release unlocked;
            std::lock_guard lock(source_->Walking);
            closed = source_->Closed;
            support::Stream* input = closed ? nullptr : &source_->Held.Hold();
            if (input != nullptr && input->Seek(range->Start, support::SeekOrigin::Beginning) == range->Start) {
                std::int64_t done = 0;
                while (done < range->Size) {
                    const std::size_t got = input->Read(into + done, static_cast<std::size_t>(range->Size - done));
                    if (got == 0) break;
                    done += static_cast<std::int64_t>(got);
                }
                whole = done == range->Size;
            }
        }
        if (closed) throw py::value_error("I/O operation on a closed archive");
        source_->Held.Check();
        if (!whole) throw support::EFOpenError(support::OpenErrorMessage(source_->Held.File, "Read failed"));
        return out;
    }

    // The tool's JSON object of this listing, one line without its newline,
    // an error as the tool gives it.
    std::string ToJson() {
        CheckOpen();
        StringOutput out;
        report::JsonReport json(out);
        {
            py::gil_scoped_release unlocked;
            std::lock_guard lock(source_->Walking);
            python::ListingWalk walk(*source_, offset_);
            std::vector<python::EntryValue> batch;
            if (scanned_entries_) {
                // The scan's head and end around the entries walked again from
                // its offset, as many as it listed, folded as the tool folds them.
                listing::RepeatedEntries folded(json);
                folded.Begin(head_);
                std::uint64_t left = *scanned_entries_;
                while (left > 0 && walk.Next(batch)) {
                    for (const python::EntryValue& entry : batch) {
                        if (left == 0) break;
                        folded.Entry(entry.Name, entry.Info, entry.Suspect);
                        --left;
                    }
                }
                folded.End(head_, end_);
            } else {
                json.Begin(head_);
                while (walk.Next(batch)) {
                    for (const python::EntryValue& entry : batch) {
                        if (entry.Data) {
                            json.EntryWithData(entry.Name, entry.Info, entry.Suspect, *entry.Data);
                        } else {
                            json.Entry(entry.Name, entry.Info, entry.Suspect);
                        }
                    }
                }
                json.End(head_, walk.End());
            }
            out.Flush();
        }
        source_->Held.Check();
        if (!out.Text.empty() && out.Text.back() == '\n') out.Text.pop_back();
        return out.Text;
    }

    void Close() {
        {
            py::gil_scoped_release unlocked;
            std::lock_guard lock(source_->Walking);
            closed_ = true;
            source_->Closed = true;
            source_->Held.Release();
        }
        // Bytes in memory are let go too (an mmap can then be closed); no walk
        // starts on a closed source, and none is under way once the lock was had.
        source_->Held.Memory.reset();
        source_->Held.Buffer.reset();
    }

private:
    void Walk(bool whole) {
        python::ListingWalk walk(*source_, offset_);
        {
            std::vector<python::EntryValue> batch;
            py::gil_scoped_release unlocked;
            std::lock_guard lock(source_->Walking);
            walk.Next(batch);
            while (whole && walk.Next(batch)) {
            }
        }
        source_->Held.Check();
        if (walk.End().Failure) std::rethrow_exception(walk.End().Failure);
        // A listing refused without an error class of its own (an offset past the end).
        if (walk.Ended() && walk.End().Error) throw py::value_error(Utf8(walk.End().Error->Bytes));
        head_ = walk.Head();
        if (walk.Ended()) {
            end_ = walk.End();
            ended_ = true;
        }
    }

    void CheckOpen() const {
        if (closed_) throw py::value_error("I/O operation on a closed archive");
    }

    std::shared_ptr<SharedSource> source_;
    std::optional<std::int64_t> offset_;
    bool bytes_path_;
    listing::ListingHead head_;
    listing::ListingEnd end_;
    std::optional<std::uint64_t> scanned_entries_;  // a listing of scan(): its entries
    bool ended_ = false;
    bool closed_ = false;
};

std::unique_ptr<Archive> Open(const py::object& source, const std::optional<std::int64_t>& offset, bool hashes) {
    if (offset && *offset < 0) throw py::value_error("negative offset");
    const auto shared = Shared(SourceOf(source, py::none(), true));
    shared->Hashes = hashes;
    auto archive = std::make_unique<Archive>(shared, offset, py::isinstance<py::bytes>(source));
    archive->Open();
    return archive;
}

// The listings of one --all run as the tool's --json shows them (repeats
// folded), each kept as its head, its end and its count of entries.
class ScanSink final : public listing::ListingSink {
public:
    struct Listing {
        listing::ListingHead Head;
        listing::ListingEnd End;
        std::uint64_t Entries = 0;
    };
    void Begin(const listing::ListingHead&) override { entries_ = 0; }
    void Entry(std::string_view, const archive::TCompressedFileInfo&, std::optional<std::string_view>) override {
        ++entries_;
    }
    void EntryRun(std::string_view, const archive::TCompressedFileInfo&, std::optional<std::string_view>,
                  const listing::ShiftedCopies& more) override {
        entries_ += 1 + more.Count;
    }
    void End(const listing::ListingHead& head, const listing::ListingEnd& end) override {
        if (EndsTheScan(end)) {
            if (!Failure) Failure = end.Failure;
            return;
        }
        if (head.Offset < 0) return;  // no archive found: no listing to give
        Found.push_back({head, end, entries_});
    }
    std::vector<Listing> Found;
    std::exception_ptr Failure;

private:
    std::uint64_t entries_ = 0;
};

// Every listing `vexmira --json --all` prints for the source, as an Archive;
// none when there is no archive.
py::list Scan(const py::object& from) {
    const auto source = Shared(SourceOf(from, py::none(), true));
    ScanSink sink;
    {
        py::gil_scoped_release unlocked;
        std::lock_guard lock(source->Walking);
        listing::Options options;
        options.All = true;
        options.FoldRepeats = true;  // as the tool's --json
        options.Input = &source->Held.Hold();
        listing::Examine(source->Held.File, options, sink);
    }
    source->Held.Check();
    if (sink.Failure) std::rethrow_exception(sink.Failure);
    py::list out;
    for (const ScanSink::Listing& listing : sink.Found) {
        out.append(py::cast(std::make_unique<Archive>(source, listing.Head, listing.End, listing.Entries,
                                                      py::isinstance<py::bytes>(from))));
    }
    return out;
}

// vexmira._errors' OutOfMemoryError and raised(), taken at import: raising
// them must not import anything, least of all when memory has run out.
PyObject* g_out_of_memory = nullptr;
PyObject* g_raised = nullptr;

// Raises one of vexmira._errors' classes for `error`.
void RaiseAs(const char* kind, const support::Exception& error, const std::string& message) {
    const support::SystemCause& cause = error.Cause();
    const py::object filename = cause.Path.empty() ? py::object(py::none())
                                                   : py::module_::import("os").attr("fsdecode")(py::bytes(cause.Path));
    const py::object reason = cause.Path.empty() ? py::object(py::none()) : py::object(py::str(Utf8(cause.Reason)));
    const py::object raised = py::handle(g_raised)(kind, message, cause.Code, reason, filename);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(raised.ptr())), raised.ptr());
}

// The class of vexmira._errors for an error of the core.
const char* ClassOf(support::ErrorKind kind) noexcept {
    switch (kind) {
        case support::ErrorKind::Open:
            return "OpenError";
        case support::ErrorKind::Create:
            return "CreateError";
        case support::ErrorKind::Write:
            return "WriteError";
        case support::ErrorKind::OutOfMemory:
            return "OutOfMemoryError";
        case support::ErrorKind::InvalidHeader:
            return "InvalidHeaderError";
        case support::ErrorKind::ArchiveType:
            return "ArchiveTypeError";
        case support::ErrorKind::CompressionMethod:
            return "CompressionMethodError";
        case support::ErrorKind::Other:
            break;
    }
    return "Error";
}

void RaiseOutOfMemory() {
    PyErr_Clear();  // Python's own MemoryError, if one is set, is this one
    PyErr_SetString(g_out_of_memory, std::string(support::kOutOfMemoryMessage).c_str());
}

}  // namespace

PYBIND11_MODULE(_core, module) {
    python::PrepareThreadForExceptions();
    module.doc() = "List archive entries and find archives embedded in other files, as vexmira --json --in-place does.";

    const py::module_ errors = py::module_::import("vexmira._errors");
    g_out_of_memory = py::object(errors.attr("OutOfMemoryError")).release().ptr();  // held for the life of the process
    g_raised = py::object(errors.attr("raised")).release().ptr();
    py::register_exception_translator([](std::exception_ptr raised) {
        try {
            if (raised) std::rethrow_exception(raised);
        } catch (const support::Exception& e) {
            switch (e.Kind()) {
                case support::ErrorKind::OutOfMemory:
                    return RaiseOutOfMemory();
                case support::ErrorKind::CompressionMethod:
                    // The identifier's bytes come from the archive.
                    return RaiseAs("CompressionMethodError", e, report::ToUtf8(e.FullMessage(), listing::Encoding::Latin1));
                default:
                    return RaiseAs(ClassOf(e.Kind()), e, Utf8(e.FullMessage()));
            }
        } catch (const std::bad_alloc&) {
            RaiseOutOfMemory();
        }
    });

    module.attr("schema_version") = std::string(report::kSchemaVersion);
    module.attr("__version__") = std::string(VEXMIRA_VERSION);
    {
        py::tuple ids(archive::CompressIDTable.size());
        for (std::size_t i = 0; i < archive::CompressIDTable.size(); ++i) ids[i] = py::str(std::string(archive::CompressIDTable[i]));
        module.attr("method_ids") = ids;  // method_id's values, by method byte
    }
    python::BindEntries(module);

    py::class_<Archive> archiveClass(module, "Archive",
                        "One listing of a source, as vexmira.open() gives it: the tool's JSON object as attributes, "
                        "its entries by iteration. A context manager; close() releases the file.");
    archiveClass
        .def("__iter__", MemoryGuarded(+[](Archive& self) { return self.Iterate(false); }),
             "Every entry as the JSON lists them, suspect ones marked, in bounded memory.")
        .def("entries", MemoryGuarded(+[](Archive& self, bool plausibleOnly) { return self.Iterate(plausibleOnly); }),
             py::kw_only(), py::arg("plausible_only") = true,
             "The entries; with plausible_only (the default) they stop at the plausible end, before the first "
             "suspect entry.")
        .def("candidates", MemoryGuarded(+[](Archive& self) { return self.CandidateList(); }),
             "Every listing --all makes of the source: [{'offset': ..., 'passed_over': None or why the locator "
             "passes the header over}].")
        .def("carve", MemoryGuarded(+[](Archive& self, const py::object& outDir, bool force, const std::string& end) {
                 return self.Carve(outDir, force, end);
             }),
             py::arg("out_dir"), py::kw_only(), py::arg("force") = false, py::arg("end") = "plausible",
             "Writes the archive to OUT_DIR/NAME.OFFSET.ARC as the tool's --carve does (out_dir made when missing) "
             "and returns its path; None where the tool carves nothing (an archive listed directly, none found). "
             "end=\"walk\" carves to the end of the last whole entry. Raises CreateError for an archive without "
             "an entry (\"Nothing to carve\") and, without force, FileExistsError for a file already there.")
        .def("read_stored",
             MemoryGuarded(+[](Archive& self, const python::EntryValue& entry, std::int64_t maxSize) {
                 return self.ReadStored(entry, maxSize);
             }),
             py::arg("entry"), py::kw_only(), py::arg("max_size") = kReadStoredLimit,
             "The bytes ENTRY (one of this archive's) stores, exactly as they lie in the source: nothing is "
             "decoded, so only a method 0 entry that is not locked is the file itself. Raises ValueError when "
             "they run past the end of the source (incomplete) and when they are more than max_size bytes "
             "(64 MiB unless given).")
        .def("to_json", MemoryGuarded(+[](Archive& self) { return self.ToJson(); }),
             "The tool's JSON object of this listing (`vexmira --json --in-place`), one line.")
        .def("close", MemoryGuarded(+[](Archive& self) { self.Close(); }), "Releases the file; iteration then raises.")
        .def("__enter__", [](Archive& self) -> Archive& { return self; })
        .def("__exit__", MemoryGuarded(+[](Archive& self, const py::args&) { self.Close(); }))
        .def_property_readonly("messages", MemoryGuarded(+[](const Archive& self) { return self.MessageList(); }),
                               "The locator's messages, in order.");
    static const auto endOf = MemoryGuarded(+[](Archive& self, listing::EndField field) { return self.EndField(field); });
    for (const listing::FieldRow<listing::EndField>& row : listing::kEndFields) {
        const listing::EndField field = row.Field;
        archiveClass.def_property_readonly(
            std::string(row.PythonKey).c_str(), [field](Archive& self) { return endOf(self, field); },
            std::string(row.Meaning).c_str());
    }
    python::BindExtract(archiveClass);

    for (const listing::FieldRow<listing::HeadField>& row : listing::kHeadFields) {
        const listing::HeadField field = row.Field;
        archiveClass.def_property_readonly(
            std::string(row.PythonKey).c_str(), [field](const Archive& self) { return self.HeadField(field); },
            std::string(row.Meaning).c_str());
    }

    module.def("open", MemoryGuarded(&Open), py::arg("source"), py::kw_only(), py::arg("offset") = py::none(),
               py::arg("hashes") = false,
               "Opens one listing of SOURCE (a path, a binary seekable file object, or bytes-like data other than "
               "bytes, which is a path) as an Archive. Without offset, the tool's route: a \".ARC\" name is listed "
               "directly, anything else goes through the locator; with offset, the archive there. With hashes, as "
               "the tool's --hash: input_sha256, and each entry's sha256 and entropy of its stored bytes (None, "
               "data_error saying why, where they run past the end), which reads all of them. A header that is "
               "no archive's raises.");
    module.def("scan", MemoryGuarded(&Scan), py::arg("source"),
               "An Archive for every line `vexmira --json --in-place --all` prints for SOURCE, from one scan: located "
               "candidates and headers the locator passes over, repeats folded (also_at), each to_json() the tool's "
               "line. A refused header's Archive carries its error instead of raising; iteration stops where that "
               "listing's walk stopped or joined another. [] when there is no archive.");
    module.def("list", MemoryGuarded(&List), py::arg("path"),
               "The listing of one file as `vexmira --json --in-place` gives it, plus name_bytes per entry.");
    module.def("json_lines", MemoryGuarded(&JsonLines), py::arg("path"),
               "The bytes `vexmira --json --in-place PATH` prints, error objects included.");
    module.def("list_bytes", MemoryGuarded(&ListBytes), py::arg("data"), py::arg("offset") = 0,
               "The listing of the archive at `offset` of `data`, read in place.");
    module.def("locate", MemoryGuarded(&Locate), py::arg("path"),
               "{'offset': ..., 'offset_text': ...}; offset None when there is none.");
    module.def("candidates", MemoryGuarded(&Candidates), py::arg("path"),
               "The offset of every listing --all makes: located candidates and passed-over headers.");
    module.def("carve", MemoryGuarded(&Carve), py::arg("path"), py::arg("offset"), py::arg("out_dir"), py::kw_only(),
               py::arg("force") = false, py::arg("end") = "plausible",
               "Writes the archive at `offset` to its plausible end (end=\"walk\": its walk's end) below out_dir, "
               "made when missing, as --carve does; returns the carved file's path. Refuses an archive without an "
               "entry and, without force, a file already there.");
    module.def("json_part", MemoryGuarded(&JsonPart), py::arg("source"), py::arg("resume") = py::none(), py::kw_only(),
               py::arg("limit") = std::int64_t{8} << 20, py::arg("name") = py::none(),
               "The next piece, of about `limit` bytes, of json_lines(source), and the token that resumes it "
               "(None once the listing is whole).");
    module.def("_entry_part", MemoryGuarded(&EntryPart), py::arg("source"), py::arg("resume") = py::none(),
               py::kw_only(), py::arg("limit"), py::arg("name") = py::none(),
               py::arg("columns") = std::vector<std::string>{}, py::arg("hashes") = false,
               "For vexmira.dask: (file, offset, {key: [values]}, entries, token) of the next at most `limit` "
               "entries of SOURCE's listing, from the start or from `resume`; token None once it ended.");
    module.def("_most_entries", &listing::MostEntriesIn, py::arg("size"),
               "The most entries a listing of a file of SIZE bytes can hold.");
    module.def(
        "iter_entries",
        MemoryGuarded(+[](const py::object& path) {
            return python::IterateEntries(Shared(SourceOf(path)), std::nullopt, false, false);
        }),
        py::arg("path"), "The entries one by one as dicts, in bounded memory.");
}
