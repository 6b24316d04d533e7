// import vexmira: the command-line tool's listings as Python values.
//
// Every listing is in place (no side file is written; only carve() writes),
// and gives the keys and values of one `vexmira --json --in-place` object,
// plus each entry's name as bytes. Errors raise the module's own exception
// classes, one per error class of the core, with the same messages. Files
// are read with the GIL released.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "archive/compress.hpp"
#include "archive/entry_text.hpp"
#include "archive/plausibility.hpp"
#include "cli/examine.hpp"
#include "cli/output.hpp"
#include "cli/report.hpp"
#include "cli/text.hpp"
#include "locator/locator.hpp"
#include "locator/scan.hpp"
#include "support/exception.hpp"
#include "support/file_stream.hpp"
#include "support/memory_stream.hpp"
#include "support/path.hpp"

namespace py = pybind11;
using namespace vexmira;

namespace {

// Paths arrive as str (os.fsdecode's form), bytes or os.PathLike; the core
// takes bytes. A NUL byte would cut the name the system opens short of the
// name reported, so it is refused.
std::string PathBytes(const py::object& path) {
    py::object encoded = py::module_::import("os").attr("fsencode")(path);
    std::string bytes = encoded.cast<std::string>();
    if (bytes.find('\0') != std::string::npos) {
        throw py::value_error("path contains a NUL byte: " + py::repr(encoded).cast<std::string>());
    }
    return bytes;
}

// Python's own MemoryError (a dict, a list or a str that could not be made)
// becomes the module's, as every allocation failure of the core does.
template <class Result, class... Args>
auto MemoryGuarded(Result (*function)(Args...)) {
    return [function](Args... args) -> Result {
        try {
            return function(std::forward<Args>(args)...);
        } catch (py::error_already_set& error) {
            if (error.matches(PyExc_MemoryError)) throw support::EOutOfMemory();
            throw;
        } catch (const support::Exception&) {
            throw;
        } catch (const std::runtime_error&) {
            // pybind11's own wrappers fail this way, Python's MemoryError set.
            if (PyErr_Occurred() == nullptr || !PyErr_ExceptionMatches(PyExc_MemoryError)) throw;
            PyErr_Clear();
            throw support::EOutOfMemory();
        }
    };
}

// A buffer-protocol object's bytes, held (not copied) for as long as this lives.
class HeldBuffer {
public:
    explicit HeldBuffer(const py::object& data) {
        if (PyObject_GetBuffer(data.ptr(), &view_, PyBUF_SIMPLE) != 0) {
            PyErr_Clear();
            throw py::type_error("expected a contiguous bytes-like object (bytes, bytearray, memoryview, mmap), not " +
                                 py::str(py::type::handle_of(data).attr("__name__")).cast<std::string>());
        }
    }
    ~HeldBuffer() { PyBuffer_Release(&view_); }
    HeldBuffer(const HeldBuffer&) = delete;
    HeldBuffer& operator=(const HeldBuffer&) = delete;
    const std::uint8_t* Data() const noexcept { return static_cast<const std::uint8_t*>(view_.buf); }
    std::size_t Size() const noexcept { return static_cast<std::size_t>(view_.len); }

private:
    Py_buffer view_{};
};

// Collects the JSON report in memory: the CLI's own serialiser, so that the
// module and the tool cannot disagree.
class StringOutput final : public cli::LineOutput {
public:
    StringOutput() : LineOutput(std::size_t{1} << 16) {}
    std::string Text;

protected:
    void Send(const char* data, std::size_t size) override { Text.append(data, size); }
    void SendError(std::string_view) override {}
};

// The JSON report, plus each name's bytes and the end of the listing.
class Collector final : public cli::ListingSink {
public:
    explicit Collector(cli::LineOutput& out) : json_(out) {}
    void Begin(const cli::ListingHead& head) override { json_.Begin(head); }
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override {
        Names.emplace_back(name);
        json_.Entry(name, info, suspect);
    }
    void End(const cli::ListingHead& head, const cli::ListingEnd& end) override {
        Failure = end.Failure;
        json_.End(head, end);
    }
    std::vector<std::string> Names;
    std::exception_ptr Failure;

private:
    cli::JsonReport json_;
};

py::dict ToDict(const std::string& json, const std::vector<std::string>& names) {
    py::dict object = py::module_::import("json").attr("loads")(py::bytes(json));
    py::list entries = object["entries"];
    for (std::size_t i = 0; i < names.size(); ++i) entries[i]["name_bytes"] = py::bytes(names[i]);
    return object;
}

// Runs a listing without the GIL and raises what it failed with.
py::dict Listed(const std::function<void(cli::ListingSink&)>& run) {
    StringOutput out;
    Collector collector(out);
    {
        py::gil_scoped_release unlocked;
        run(collector);
        out.Flush();
    }
    if (collector.Failure) std::rethrow_exception(collector.Failure);
    return ToDict(out.Text, collector.Names);
}

py::dict List(const py::object& path) {
    const std::string file = PathBytes(path);
    cli::Options options;  // lists in place
    return Listed([&](cli::ListingSink& sink) { cli::Examine(file, options, sink); });
}

// The lines the tool prints for one file with --json --in-place, errors
// included: for callers that hand the contract on as it is.
py::bytes JsonLines(const py::object& path) {
    const std::string file = PathBytes(path);
    StringOutput out;
    {
        py::gil_scoped_release unlocked;
        cli::JsonReport json(out);
        cli::Options options;  // lists in place
        cli::Examine(file, options, json);
        out.Flush();
    }
    return py::bytes(out.Text);
}

py::dict ListBytes(const py::object& data, std::int64_t offset) {
    const HeldBuffer bytes(data);
    if (offset < 0 || static_cast<std::uint64_t>(offset) > bytes.Size()) throw py::value_error("offset outside the data");
    return Listed([&](cli::ListingSink& sink) {
        cli::ListingHead head;
        head.File = "<bytes>";
        head.Located = false;  // the caller chose the offset
        head.Offset = offset;
        head.OffsetText = locator::OffsetText(offset);
        head.Listed = head.File;
        support::MemoryStream stream(bytes.Data(), bytes.Size());
        stream.Seek(offset, support::SeekOrigin::Beginning);
        sink.Begin(head);
        cli::ListingEnd end;
        archive::PlausibleEnd plausible(stream.Size());
        archive::WalkSummary walk;
        try {
            archive::TCompress().WalkArchiveStream(
                stream,
                [&](std::string_view name, const archive::TCompressedFileInfo& info) {
                    sink.Entry(name, info, plausible.Add(name, info));
                },
                &walk);
            end.Walk = walk;
            end.PlausibleEnd = plausible.End(walk);
            end.TrailingEntries = plausible.TrailingEntries();
        } catch (const support::Exception& error) {
            end.Error = cli::Text{error.FullMessage()};
            end.Failure = std::current_exception();
            end.Result = cli::Outcome::Failed;
        }
        sink.End(head, end);
    });
}

class NoDisplay final : public locator::Display {
public:
    void SetProgressRange(std::int32_t) override {}
    void SetProgressPosition(std::int32_t) override {}
    void SetOffsetText(const std::string&) override {}
    void ShowMessage(const std::string&) override {}
};

py::dict Locate(const py::object& path) {
    const std::string file = PathBytes(path);
    std::int64_t offset = -1;
    {
        py::gil_scoped_release unlocked;
        support::FileStream input(file, support::FileMode::OpenReadExclusive);
        NoDisplay display;
        offset = locator::LocateArchive(input, display);
    }
    py::dict result;
    result["offset"] = offset;
    result["offset_text"] = offset < 0 ? std::string(locator::kNotFoundText) : locator::OffsetText(offset);
    return result;
}

// Built here rather than by pybind11's conversion, which reports a failed
// allocation as a TypeError.
py::list Candidates(const py::object& path) {
    const std::string file = PathBytes(path);
    std::vector<std::int64_t> offsets;
    {
        py::gil_scoped_release unlocked;
        support::FileStream input(file, support::FileMode::OpenReadExclusive);
        locator::ForEachCandidate(input, [&](std::int64_t offset) { offsets.push_back(offset); });
    }
    auto result = py::reinterpret_steal<py::list>(PyList_New(static_cast<Py_ssize_t>(offsets.size())));
    if (!result) throw py::error_already_set();
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        PyObject* offset = PyLong_FromLongLong(offsets[i]);
        if (offset == nullptr) throw py::error_already_set();
        PyList_SET_ITEM(result.ptr(), static_cast<Py_ssize_t>(i), offset);
    }
    return result;
}

py::object Carve(const py::object& path, std::int64_t offset, const py::object& outDir) {
    const std::string file = PathBytes(path);
    const std::string dir = PathBytes(outDir);
    std::string carved;
    {
        py::gil_scoped_release unlocked;
        support::FileStream input(file, support::FileMode::OpenReadExclusive);
        if (input.Seek(offset, support::SeekOrigin::Beginning) != offset) throw py::value_error("negative offset");
        archive::PlausibleEnd plausible(input.Size());
        archive::WalkSummary walk;
        archive::TCompress().WalkArchiveStream(
            input, [&](std::string_view name, const archive::TCompressedFileInfo& info) { plausible.Add(name, info); },
            &walk);
        carved = cli::CarveArchive(input, file, offset, plausible.End(walk), dir);
    }
    if (py::isinstance<py::bytes>(path)) return py::bytes(carved);
    return py::module_::import("os").attr("fsdecode")(py::bytes(carved));
}

// One entry as a dict: the JSON entry's keys and values, plus name_bytes.
py::dict EntryDict(const std::string& name, const archive::TCompressedFileInfo& info,
                   std::optional<std::string_view> suspect) {
    py::dict entry;
    entry["name"] = cli::ToUtf8(name, cli::Encoding::Latin1);
    entry["full_size"] = info.FullSize;
    entry["compressed_size"] = info.CompressedSize;
    entry["method"] = info.Method;
    entry["method_name"] = std::string(archive::MethodName(info.Method));
    entry["locked"] = info.Locked;
    entry["header_offset"] = info.HeaderOffset;
    entry["header_size"] = info.HeaderSize;
    entry["data_offset"] = cli::EntryDataOffset(info, name);
    entry["long2"] = info.Long2;
    entry["word6"] = info.Word6;
    entry["long17"] = info.Long17;
    entry["percentage"] = archive::PercentageText(info);
    const std::optional<std::int32_t> percent = archive::PercentCompressed(info);
    entry["percent_compressed"] = percent ? py::object(py::int_(*percent)) : py::object(py::none());
    entry["size"] = archive::SizeText(info.FullSize);
    entry["suspect"] = suspect ? py::object(py::str(std::string(*suspect))) : py::object(py::none());
    entry["name_bytes"] = py::bytes(name);
    return entry;
}

// Entries one by one, for listings of millions: a reader thread walks the
// archive and hands entries over through a short queue, so memory stays
// bounded; the summary is there once the iterator is exhausted.
class EntryIterator {
public:
    explicit EntryIterator(std::string file) : file_(std::move(file)) {
        worker_ = std::thread([this] { Produce(); });
    }
    ~EntryIterator() { Close(); }
    EntryIterator(const EntryIterator&) = delete;
    EntryIterator& operator=(const EntryIterator&) = delete;

    // Stops the walk and closes the file; the iterator is then exhausted.
    void Close() {
        {
            std::lock_guard lock(mutex_);
            cancelled_ = true;
            queue_.clear();
        }
        changed_.notify_all();
        if (!worker_.joinable()) return;
        py::gil_scoped_release unlocked;
        worker_.join();
    }

    py::dict Next() {
        Item item;
        {
            py::gil_scoped_release unlocked;
            std::unique_lock lock(mutex_);
            if (cancelled_) {
                lock.unlock();
                throw py::stop_iteration();
            }
            changed_.wait(lock, [&] { return !queue_.empty() || done_; });
            if (queue_.empty()) {
                lock.unlock();
                if (failure_) std::rethrow_exception(failure_);
                throw py::stop_iteration();
            }
            item = std::move(queue_.front());
            queue_.pop_front();
        }
        changed_.notify_all();
        return EntryDict(item.Name, item.Info, item.Suspect ? std::optional<std::string_view>(*item.Suspect) : std::nullopt);
    }

    py::object Summary() const {
        std::lock_guard lock(mutex_);
        if (!done_ || !queue_.empty() || !summary_ || cancelled_) return py::none();
        py::dict summary;
        summary["archive_end"] = summary_->ArchiveEnd;
        summary["truncated"] = summary_->Truncated();
        summary["trailing_bytes"] = summary_->TrailingBytes();
        summary["plausible_end"] = plausible_end_;
        summary["entries"] = count_;
        return summary;
    }

private:
    struct Item {
        std::string Name;
        archive::TCompressedFileInfo Info;
        std::optional<std::string> Suspect;
    };
    struct Cancelled {};
    static constexpr std::size_t kQueued = 4096;

    void Produce() {
        try {
            support::FileStream input(file_, support::FileMode::OpenReadExclusive);
            if (!support::IsArcPath(file_)) {
                NoDisplay display;
                const std::int64_t offset = locator::LocateArchive(input, display);
                if (offset < 0) {
                    Finish(std::nullopt, 0);
                    return;
                }
                input.Seek(offset, support::SeekOrigin::Beginning);
            }
            archive::PlausibleEnd plausible(input.Size());
            archive::WalkSummary walk;
            archive::TCompress().WalkArchiveStream(
                input,
                [&](std::string_view name, const archive::TCompressedFileInfo& info) {
                    const auto suspect = plausible.Add(name, info);
                    std::unique_lock lock(mutex_);
                    changed_.wait(lock, [&] { return queue_.size() < kQueued || cancelled_; });
                    if (cancelled_) throw Cancelled();
                    queue_.push_back({std::string(name), info,
                                      suspect ? std::optional<std::string>(*suspect) : std::nullopt});
                    ++count_;
                    changed_.notify_all();
                },
                &walk);
            Finish(walk, plausible.End(walk));
        } catch (const Cancelled&) {
            Finish(std::nullopt, 0);
        } catch (...) {
            {
                std::lock_guard lock(mutex_);
                failure_ = std::current_exception();
            }
            Finish(std::nullopt, 0);
        }
    }

    void Finish(std::optional<archive::WalkSummary> walk, std::int64_t plausibleEnd) {
        {
            std::lock_guard lock(mutex_);
            summary_ = walk;
            plausible_end_ = plausibleEnd;
            done_ = true;
        }
        changed_.notify_all();
    }

    std::string file_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item> queue_;
    bool done_ = false;
    bool cancelled_ = false;
    std::exception_ptr failure_;
    std::optional<archive::WalkSummary> summary_;
    std::int64_t plausible_end_ = 0;
    std::uint64_t count_ = 0;
    std::thread worker_;
};

}  // namespace

// A message as Python text: paths read as UTF-8 when they are, else as Latin-1,
// as the JSON output reads them.
std::string Utf8(const support::Exception& error) { return cli::ToUtf8(error.FullMessage(), cli::Encoding::Utf8); }

PYBIND11_MODULE(_core, module) {
    module.doc() = "List archive entries and find archives embedded in other files, as vexmira --json --in-place does.";

    static py::exception<support::Exception> error(module, "Error");
    static py::exception<support::EFOpenError> openError(module, "OpenError", error.ptr());
    static py::exception<support::EFCreateError> createError(module, "CreateError", error.ptr());
    static py::exception<support::EWriteError> writeError(module, "WriteError", error.ptr());
    // Also a MemoryError, for callers that catch Python's own.
    static py::exception<support::EOutOfMemory> memoryError(module, "OutOfMemoryError",
                                                            py::make_tuple(error, py::handle(PyExc_MemoryError)));
    static py::exception<archive::EInvalidHeader> headerError(module, "InvalidHeaderError", error.ptr());
    static py::exception<archive::EInvalidHeaderArchiveType> typeError(module, "ArchiveTypeError", error.ptr());
    static py::exception<archive::EUnrecognizedCompressionMethod> methodError(module, "CompressionMethodError",
                                                                               error.ptr());
    py::register_exception_translator([](std::exception_ptr raised) {
        try {
            if (raised) std::rethrow_exception(raised);
        } catch (const support::EFOpenError& e) {
            openError(Utf8(e).c_str());
        } catch (const support::EFCreateError& e) {
            createError(Utf8(e).c_str());
        } catch (const support::EWriteError& e) {
            writeError(Utf8(e).c_str());
        } catch (const support::EOutOfMemory& e) {
            memoryError(Utf8(e).c_str());
        } catch (const archive::EInvalidHeader& e) {
            headerError(Utf8(e).c_str());
        } catch (const archive::EInvalidHeaderArchiveType& e) {
            typeError(Utf8(e).c_str());
        } catch (const archive::EUnrecognizedCompressionMethod& e) {
            methodError(cli::ToUtf8(e.FullMessage(), cli::Encoding::Latin1).c_str());  // the identifier's bytes
        } catch (const support::Exception& e) {
            error(Utf8(e).c_str());
        } catch (const std::bad_alloc&) {
            memoryError(std::string(support::kOutOfMemoryMessage).c_str());
        }
    });

    module.attr("schema_version") = std::string(cli::kSchemaVersion);
    module.attr("__version__") = std::string(VEXMIRA_VERSION);
    module.def("list", MemoryGuarded(&List), py::arg("path"),
               "The listing of one file as `vexmira --json --in-place` gives it, plus name_bytes per entry.");
    module.def("json_lines", MemoryGuarded(&JsonLines), py::arg("path"),
               "The bytes `vexmira --json --in-place PATH` prints, error objects included.");
    module.def("list_bytes", MemoryGuarded(&ListBytes), py::arg("data"), py::arg("offset") = 0,
               "The listing of the archive at `offset` of `data`.");
    module.def("locate", MemoryGuarded(&Locate), py::arg("path"), "{'offset': ..., 'offset_text': ...}; offset -1 when none.");
    module.def("candidates", MemoryGuarded(&Candidates), py::arg("path"), "Every candidate offset, as --all lists them.");
    module.def("carve", MemoryGuarded(&Carve), py::arg("path"), py::arg("offset"), py::arg("out_dir"),
               "Writes the archive at `offset` to its plausible end below out_dir; returns the carved file's path.");
    py::class_<EntryIterator>(module, "EntryIterator")
        .def("__iter__", [](EntryIterator& self) -> EntryIterator& { return self; })
        .def("__next__", MemoryGuarded(+[](EntryIterator& self) { return self.Next(); }))
        .def("close", &EntryIterator::Close, "Stops the walk and releases the file; the iterator is then exhausted.")
        .def("__enter__", [](EntryIterator& self) -> EntryIterator& { return self; })
        .def("__exit__", [](EntryIterator& self, const py::args&) { self.Close(); })
        .def_property_readonly("summary", &EntryIterator::Summary,
                               "archive_end, truncated, trailing_bytes, plausible_end and the count of entries, "
                               "once the iterator is exhausted; None before");
    module.def(
        "iter_entries",
        MemoryGuarded(+[](const py::object& path) { return std::make_unique<EntryIterator>(PathBytes(path)); }),
        py::arg("path"), "The entries one by one, in bounded memory.");
}
