// import vexmira: the command-line tool's listings as Python values.
//
// Every listing is in place (no side file is written; only carve() writes),
// and gives the keys and values of one `vexmira --json --in-place` object,
// plus each entry's name as bytes. Errors raise the module's own exception
// classes, one per error class of the core, with the same messages. Files
// are read with the GIL released; a Python file object is read through its
// own read and seek, each call taking the GIL.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "archive/compress.hpp"
#include "archive/entry_text.hpp"
#include "archive/plausibility.hpp"
#include "cli/writer.hpp"
#include "listing/examine.hpp"
#include "listing/fields.hpp"
#include "listing/resume_token.hpp"
#include "locator/locator.hpp"
#include "locator/scan.hpp"
#include "report/json.hpp"
#include "report/output.hpp"
#include "report/text.hpp"
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

// The module's OpenError, set up at import.
PyObject* g_open_error = nullptr;

std::string TypeName(const py::handle& object) {
    return py::str(py::type::handle_of(object).attr("__name__")).cast<std::string>();
}

// A stream over a binary, seekable Python file object, through its seek and
// its readinto (read where it has none), each call under the GIL. Reads go
// through a read-ahead window that follows the file stream's rule (small
// after every jump, doubling while reading stays sequential), so a walk
// makes few calls and skipping stored data reads none of it. The size is taken once, at the
// start: data the object grows by later is never read. The first failure is
// kept and every read after it delivers nothing; RaiseFailure then raises it.
class PythonFileStream final : public support::Stream {
public:
    // Under the GIL. Raises TypeError for a text-mode object, OpenError for
    // one that cannot seek.
    PythonFileStream(py::object file, std::string name) : file_(std::move(file)), name_(std::move(name)) {
        if (py::isinstance(file_, py::module_::import("io").attr("TextIOBase"))) {
            throw py::type_error("a text-mode file object: open the file in binary mode (\"rb\")");
        }
        if (py::hasattr(file_, "seekable") && !file_.attr("seekable")().cast<bool>()) {
            throw support::EFOpenError("Cannot open file \"" + name_ + "\". The file object cannot seek");
        }
        has_readinto_ = py::hasattr(file_, "readinto");
        try {
            size_ = file_.attr("seek")(0, 2).cast<std::int64_t>();
            file_.attr("seek")(0, 0);
            object_position_ = 0;
        } catch (py::error_already_set& error) {
            failure_ = "Cannot open file \"" + name_ + "\". seek() raised " + ErrorText(error);
            python_failure_.emplace(std::move(error));
            RaiseFailure();
        } catch (const py::cast_error&) {
            throw support::EFOpenError("Cannot open file \"" + name_ + "\". seek() did not return a position");
        }
        if (size_ < 0) throw support::EFOpenError("Cannot open file \"" + name_ + "\". seek() returned a negative position");
    }

    std::size_t Read(void* buffer, std::size_t count) noexcept override {
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::size_t done = 0;
        while (done < count && position_ < size_) {
            if (position_ < window_start_ || position_ >= window_start_ + static_cast<std::int64_t>(window_length_)) {
                if (!Fetch(position_)) break;
            }
            const auto at = static_cast<std::size_t>(position_ - window_start_);
            const std::size_t take = std::min(count - done, window_length_ - at);
            std::memcpy(out + done, buffer_.get() + at, take);
            done += take;
            position_ += static_cast<std::int64_t>(take);
        }
        return done;
    }
    std::int64_t Seek(std::int64_t offset, support::SeekOrigin origin) noexcept override {
        const std::int64_t target = support::SeekTarget(position_, offset, origin);
        if (target >= 0) position_ = target;
        return target;
    }
    std::int64_t Size() noexcept override { return size_; }
    std::int64_t Position() const noexcept override { return position_; }

    bool Failed() const noexcept { return broken_ || !failure_.empty(); }
    // Under the GIL: the kept failure as OpenError, the Python exception as its cause.
    void RaiseFailure() {
        if (failure_.empty() && broken_) throw support::EFOpenError(std::string(support::kOutOfMemoryMessage));
        if (failure_.empty()) return;
        if (python_failure_) {
            python_failure_->restore();
            python_failure_.reset();
            py::raise_from(g_open_error, failure_.c_str());
            throw py::error_already_set();
        }
        throw support::EFOpenError(failure_);
    }
    // Bytes the object delivered so far.
    std::uint64_t BytesRead() const noexcept { return bytes_read_; }

protected:
    std::size_t Write(const void*, std::size_t) noexcept override { return 0; }

private:
    static std::string ErrorText(const py::error_already_set& error) {
        return py::str(error.type().attr("__name__")).cast<std::string>() + ": " + py::str(error.value()).cast<std::string>();
    }

    // Refills the window with the bytes from `offset` on; false at a failure
    // or when the object delivers nothing.
    bool Fetch(std::int64_t offset) noexcept {
        try {
            return FetchUnguarded(offset);
        } catch (...) {
            // Only a failure to build the failure's own text ends here.
            broken_ = true;
            return false;
        }
    }

    bool FetchUnguarded(std::int64_t offset) {
        if (!failure_.empty()) return false;
        read_ahead_ = support::FileStream::NextReadAhead(read_ahead_, offset, fetch_end_);
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(read_ahead_), size_ - offset));
        try {
            if (capacity_ < want) {
                buffer_.reset();
                buffer_ = std::make_unique<std::uint8_t[]>(want);
                capacity_ = want;
            }
        } catch (const std::bad_alloc&) {
            capacity_ = 0;
            failure_ = "Cannot read file \"" + name_ + "\". " + std::string(support::kOutOfMemoryMessage);
            return false;
        }
        window_start_ = offset;
        window_length_ = 0;
        py::gil_scoped_acquire locked;
        try {
            if (object_position_ != offset) {
                const py::object moved = file_.attr("seek")(offset, 0);
                if (!moved.is_none() && moved.cast<std::int64_t>() != offset) return Fail("seek() did not reach the position asked");
                object_position_ = offset;
            }
            // A short read is no end: only nothing delivered is.
            while (window_length_ < want) {
                const std::size_t asked = want - window_length_;
                const std::size_t got = has_readinto_ ? ReadInto(asked) : ReadCopy(asked);
                if (got == 0 || got == kFailed) break;
                window_length_ += got;
                object_position_ += static_cast<std::int64_t>(got);
                bytes_read_ += got;
            }
        } catch (py::error_already_set& error) {
            const std::string reason = ErrorText(error);
            python_failure_.emplace(std::move(error));
            return Fail(reason);
        } catch (const std::exception& error) {
            return Fail(error.what());
        }
        fetch_end_ = window_start_ + static_cast<std::int64_t>(window_length_);
        return failure_.empty() && window_length_ > 0;
    }

    static constexpr std::size_t kFailed = static_cast<std::size_t>(-1);

    // Into a bytearray of Python's, copied out under the GIL: a view the
    // object keeps past the call then holds that bytearray, never this
    // stream's memory.
    std::size_t ReadInto(std::size_t asked) {
        auto into = py::reinterpret_steal<py::object>(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(asked)));
        if (!into) throw py::error_already_set();
        const py::object got = file_.attr("readinto")(into);
        if (got.is_none()) {
            Fail("readinto() returned None: the object has no data ready (non-blocking?)");
            return kFailed;
        }
        if (!py::isinstance<py::int_>(got)) {
            Fail("readinto() returned " + TypeName(got) + ", not a byte count");
            return kFailed;
        }
        const auto count = got.cast<long long>();
        // The object may have resized the bytearray meanwhile.
        const auto held = static_cast<unsigned long long>(PyByteArray_GET_SIZE(into.ptr()));
        if (count < 0 || static_cast<unsigned long long>(count) > std::min<unsigned long long>(asked, held)) {
            Fail("readinto() returned " + std::to_string(count) + " for " + std::to_string(asked) + " bytes asked");
            return kFailed;
        }
        std::memcpy(buffer_.get() + window_length_, PyByteArray_AS_STRING(into.ptr()), static_cast<std::size_t>(count));
        return static_cast<std::size_t>(count);
    }

    std::size_t ReadCopy(std::size_t asked) {
        const py::object got = file_.attr("read")(asked);
        if (!py::isinstance<py::bytes>(got) && !py::isinstance<py::bytearray>(got)) {
            Fail("read() returned " + TypeName(got) + ", not bytes");
            return kFailed;
        }
        const char* data = py::isinstance<py::bytes>(got) ? PyBytes_AS_STRING(got.ptr()) : PyByteArray_AS_STRING(got.ptr());
        const auto count = static_cast<std::size_t>(py::len(got));
        if (count > asked) {
            Fail("read() returned " + std::to_string(count) + " bytes for " + std::to_string(asked) + " asked");
            return kFailed;
        }
        std::memcpy(buffer_.get() + window_length_, data, count);
        return count;
    }

    bool Fail(const std::string& reason) {
        if (failure_.empty()) failure_ = "Cannot read file \"" + name_ + "\". " + reason;
        window_length_ = 0;
        return false;
    }

    py::object file_;
    std::string name_;
    bool has_readinto_ = false;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
    std::int64_t object_position_ = -1;  // where the object stands; -1: unknown
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t capacity_ = 0;
    std::int64_t window_start_ = 0;
    std::size_t window_length_ = 0;
    std::int64_t fetch_end_ = -1;
    std::size_t read_ahead_ = support::FileStream::kMinReadAhead;
    std::uint64_t bytes_read_ = 0;
    std::string failure_;
    bool broken_ = false;  // failed, and even its text could not be made
    std::optional<py::error_already_set> python_failure_;
};

// What a listing reads: a file by its path, or a Python file object; and
// the name the listing gives it.
struct Source {
    std::string File;
    std::unique_ptr<PythonFileStream> Object;
    std::unique_ptr<support::FileStream> Opened;  // a path listed under another name
    support::Stream* Input() const noexcept {
        if (Object) return Object.get();
        return Opened.get();
    }
    // The bytes to read: Input, or the file opened by its path into `opened`.
    support::Stream& Open(std::optional<support::FileStream>& opened) const {
        if (support::Stream* input = Input()) return *input;
        return opened.emplace(File, support::FileMode::OpenReadExclusive);
    }
    // After a listing, under the GIL: a failed read of the object raises.
    void Check() const {
        if (Object) Object->RaiseFailure();
    }
};

bool IsFileObject(const py::object& source) {
    if (py::isinstance<py::str>(source) || py::isinstance<py::bytes>(source)) return false;
    if (py::isinstance(source, py::module_::import("os").attr("PathLike"))) return false;
    return py::hasattr(source, "read") && py::hasattr(source, "seek");
}

// A path names itself; a file object is named by its `name` when that is
// text or bytes, else "<file object>". A `name` given wins for either kind
// (a path is then opened at once, and an open error raises).
Source SourceOf(const py::object& source, const py::object& name = py::none()) {
    Source result;
    if (!name.is_none() && !py::isinstance<py::str>(name) && !py::isinstance<py::bytes>(name)) {
        throw py::type_error("name must be str or bytes, not " + TypeName(name));
    }
    if (!IsFileObject(source)) {
        const std::string path = PathBytes(source);
        if (name.is_none()) {
            result.File = path;
        } else {
            result.File = PathBytes(name);
            py::gil_scoped_release unlocked;
            result.Opened = std::make_unique<support::FileStream>(path, support::FileMode::OpenReadExclusive);
        }
        return result;
    }
    const py::object own = name.is_none() ? py::getattr(source, "name", py::none()) : name;
    result.File = py::isinstance<py::str>(own) || py::isinstance<py::bytes>(own) ? PathBytes(own) : "<file object>";
    result.Object = std::make_unique<PythonFileStream>(source, report::ToUtf8(result.File, listing::Encoding::Utf8));
    return result;
}

// The C++ runtime keeps a thread's exception state in thread-local storage
// of its own library, which the C library makes on that thread's first use
// (the library is loaded after the thread started) and aborts the process
// when it cannot. Made on entry, while memory is still there, so that the
// first exception thrown once memory has run out is raised like any later one.
// The result goes to a volatile: the call is declared pure, and would be dropped.
void PrepareThreadForExceptions() noexcept {
    const volatile int uncaught = std::uncaught_exceptions();
    static_cast<void>(uncaught);
}

// Python's own MemoryError (a dict, a list or a str that could not be made)
// becomes the module's, as every allocation failure of the core does. Every
// call into the module goes through here.
template <class Result, class... Args>
auto MemoryGuarded(Result (*function)(Args...)) {
    return [function](Args... args) -> Result {
        PrepareThreadForExceptions();
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
class StringOutput final : public report::LineOutput {
public:
    StringOutput() : LineOutput(std::size_t{1} << 16) {}
    std::string Text;

protected:
    void Send(const char* data, std::size_t size) override { Text.append(data, size); }
    void SendError(std::string_view) override {}
};

// The JSON report, plus each name's bytes and the end of the listing.
class Collector final : public listing::ListingSink {
public:
    explicit Collector(report::LineOutput& out) : json_(out) {}
    void Begin(const listing::ListingHead& head) override { json_.Begin(head); }
    void Entry(std::string_view name, const archive::TCompressedFileInfo& info,
               std::optional<std::string_view> suspect) override {
        Names.emplace_back(name);
        json_.Entry(name, info, suspect);
    }
    void End(const listing::ListingHead& head, const listing::ListingEnd& end) override {
        Failure = end.Failure;
        json_.End(head, end);
    }
    std::vector<std::string> Names;
    std::exception_ptr Failure;

private:
    report::JsonReport json_;
};

py::dict ToDict(const std::string& json, const std::vector<std::string>& names) {
    py::dict object = py::module_::import("json").attr("loads")(py::bytes(json));
    py::list entries = object["entries"];
    for (std::size_t i = 0; i < names.size(); ++i) entries[i]["name_bytes"] = py::bytes(names[i]);
    return object;
}

// Runs a listing without the GIL and raises what it failed with.
py::dict Listed(const std::function<void(listing::ListingSink&)>& run, const Source* source = nullptr) {
    StringOutput out;
    Collector collector(out);
    {
        py::gil_scoped_release unlocked;
        run(collector);
        out.Flush();
    }
    if (source != nullptr) source->Check();
    if (collector.Failure) std::rethrow_exception(collector.Failure);
    return ToDict(out.Text, collector.Names);
}

py::dict List(const py::object& path) {
    const Source source = SourceOf(path);
    listing::Options options;  // lists in place
    options.Input = source.Input();
    return Listed([&](listing::ListingSink& sink) { listing::Examine(source.File, options, sink); }, &source);
}

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

py::dict ListBytes(const py::object& data, std::int64_t offset) {
    const HeldBuffer bytes(data);
    if (offset < 0 || static_cast<std::uint64_t>(offset) > bytes.Size()) throw py::value_error("offset outside the data");
    return Listed([&](listing::ListingSink& sink) {
        listing::ListingHead head;
        head.File = "<bytes>";
        head.Located = false;  // the caller chose the offset
        head.Offset = offset;
        head.OffsetText = locator::OffsetText(offset);
        head.Listed = head.File;
        support::MemoryStream stream(bytes.Data(), bytes.Size());
        stream.Seek(offset, support::SeekOrigin::Beginning);
        sink.Begin(head);
        listing::ListingEnd end;
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
            end.Error = listing::Text::Of(error);
            end.Failure = std::current_exception();
            end.Result = listing::Outcome::Failed;
        }
        sink.End(head, end);
    });
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

class NoDisplay final : public locator::Display {
public:
    void SetProgressRange(std::int32_t) override {}
    void SetProgressPosition(std::int32_t) override {}
    void SetOffsetText(const std::string&) override {}
    void ShowMessage(const std::string&) override {}
};

// Runs `work` without the GIL over the source's bytes.
template <class Work>
void OverInput(const Source& source, Work work) {
    {
        py::gil_scoped_release unlocked;
        std::optional<support::FileStream> opened;
        support::Stream& input = source.Open(opened);
        input.Seek(0, support::SeekOrigin::Beginning);
        work(input);
    }
    source.Check();
}

py::dict Locate(const py::object& path) {
    const Source source = SourceOf(path);
    std::int64_t offset = -1;
    OverInput(source, [&](support::Stream& input) {
        NoDisplay display;
        offset = locator::LocateArchive(input, display);
    });
    py::dict result;
    result["offset"] = offset;
    result["offset_text"] = offset < 0 ? std::string(locator::kNotFoundText) : locator::OffsetText(offset);
    return result;
}

// Built here rather than by pybind11's conversion, which reports a failed
// allocation as a TypeError.
py::list Candidates(const py::object& path) {
    const Source source = SourceOf(path);
    std::vector<std::int64_t> offsets;
    OverInput(source, [&](support::Stream& input) {
        locator::ForEachCandidate(input, [&](std::int64_t offset) { offsets.push_back(offset); });
    });
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
    entry["name"] = report::ToUtf8(name, listing::Encoding::Latin1);
    entry["full_size"] = info.FullSize;
    entry["compressed_size"] = info.CompressedSize;
    entry["method"] = info.Method;
    entry["method_name"] = std::string(archive::MethodName(info.Method));
    entry["locked"] = info.Locked;
    entry["header_offset"] = info.HeaderOffset;
    entry["header_size"] = info.HeaderSize;
    entry["data_offset"] = listing::EntryDataOffset(info, name);
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
    explicit EntryIterator(Source source) : source_(std::move(source)) {
        worker_ = std::thread([this] { Produce(); });
    }
    ~EntryIterator() {
        // Locking and joining raise only on a broken system; a destructor has no one to tell.
        try {
            Close();
        } catch (...) {
        }
    }
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
                ended_ = true;
            } else {
                item = std::move(queue_.front());
                queue_.pop_front();
            }
        }
        if (ended_) {
            source_.Check();  // under the GIL again
            throw py::stop_iteration();
        }
        changed_.notify_all();
        return EntryDict(item.Name, item.Info, item.Suspect ? std::optional<std::string_view>(*item.Suspect) : std::nullopt);
    }

    py::object Summary() const {
        std::lock_guard lock(mutex_);
        if (!done_ || !queue_.empty() || !summary_ || cancelled_ || (source_.Object && source_.Object->Failed())) {
            return py::none();
        }
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
        PrepareThreadForExceptions();
        try {
            std::optional<support::FileStream> opened;
            support::Stream& input = source_.Open(opened);
            input.Seek(0, support::SeekOrigin::Beginning);
            if (!support::IsArcPath(source_.File)) {
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

    Source source_;
    bool ended_ = false;  // touched under the GIL only
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
std::string Utf8(const support::Exception& error) { return report::ToUtf8(error.FullMessage(), listing::Encoding::Utf8); }

PYBIND11_MODULE(_core, module) {
    PrepareThreadForExceptions();
    module.doc() = "List archive entries and find archives embedded in other files, as vexmira --json --in-place does.";

    static py::exception<support::Exception> error(module, "Error");
    static py::exception<support::EFOpenError> openError(module, "OpenError", error.ptr());
    g_open_error = openError.ptr();
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
            methodError(report::ToUtf8(e.FullMessage(), listing::Encoding::Latin1).c_str());  // the identifier's bytes
        } catch (const support::Exception& e) {
            error(Utf8(e).c_str());
        } catch (const std::bad_alloc&) {
            memoryError(std::string(support::kOutOfMemoryMessage).c_str());
        }
    });

    module.attr("schema_version") = std::string(report::kSchemaVersion);
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
    module.def("json_part", MemoryGuarded(&JsonPart), py::arg("source"), py::arg("resume") = py::none(), py::kw_only(),
               py::arg("limit") = std::int64_t{8} << 20, py::arg("name") = py::none(),
               "The next piece, of about `limit` bytes, of json_lines(source), and the token that resumes it "
               "(None once the listing is whole).");
    py::class_<EntryIterator>(module, "EntryIterator")
        .def("__iter__", [](EntryIterator& self) -> EntryIterator& { return self; })
        .def("__next__", MemoryGuarded(+[](EntryIterator& self) { return self.Next(); }))
        .def("close", MemoryGuarded(+[](EntryIterator& self) { self.Close(); }),
             "Stops the walk and releases the file; the iterator is then exhausted.")
        .def("__enter__", [](EntryIterator& self) -> EntryIterator& { return self; })
        .def("__exit__", MemoryGuarded(+[](EntryIterator& self, const py::args&) { self.Close(); }))
        .def_property_readonly("summary", MemoryGuarded(+[](const EntryIterator& self) { return self.Summary(); }),
                               "archive_end, truncated, trailing_bytes, plausible_end and the count of entries, "
                               "once the iterator is exhausted; None before");
    module.def(
        "iter_entries",
        MemoryGuarded(+[](const py::object& path) { return std::make_unique<EntryIterator>(SourceOf(path)); }),
        py::arg("path"), "The entries one by one, in bounded memory.");
}
