#pragma once
// What a listing reads, as Python hands it over: a path (str, bytes or
// os.PathLike), a binary seekable file object, or bytes-like data in memory.

#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "support/exception.hpp"
#include "support/file_stream.hpp"
#include "support/stream.hpp"

namespace vexmira::python {

namespace py = pybind11;

// Paths arrive as str (os.fsdecode's form), bytes or os.PathLike; the core
// takes bytes. A NUL byte would cut the name the system opens short of the
// name reported, so it is refused.
std::string PathBytes(const py::object& path);

// One of the module's exception classes (vexmira._errors), by name.
py::object ErrorClass(const char* name);

inline std::string TypeName(const py::handle& object) {
    return py::str(py::type::handle_of(object).attr("__name__")).cast<std::string>();
}

// A read-only stream that keeps its own position: seeking only moves it,
// reads start there. Writing delivers nothing.
class PositionedStream : public support::Stream {
public:
    std::int64_t Seek(std::int64_t offset, support::SeekOrigin origin) noexcept override {
        const std::int64_t target = support::SeekTarget(position_, offset, origin);
        if (target >= 0) position_ = target;
        return target;
    }
    std::int64_t Position() const noexcept override { return position_; }

protected:
    std::size_t Write(const void*, std::size_t) noexcept override { return 0; }
    std::int64_t position_ = 0;
};

// A stream over a binary, seekable Python file object, through its seek and
// its readinto (read where it has none), each call under the GIL. Reads go
// through a read-ahead window that follows the file stream's rule (small
// after every jump, doubling while reading stays sequential), so a walk
// makes few calls and skipping stored data reads none of it. The size is taken once, at the
// start: data the object grows by later is never read. The first failure is
// kept and every read after it delivers nothing; RaiseFailure then raises it.
class PythonFileStream final : public PositionedStream {
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
    std::int64_t Size() noexcept override { return size_; }

    bool Failed() const noexcept { return broken_ || !failure_.empty(); }
    // Under the GIL: the kept failure as OpenError, the Python exception as its cause.
    void RaiseFailure() {
        if (failure_.empty() && broken_) throw support::EFOpenError(std::string(support::kOutOfMemoryMessage));
        if (failure_.empty()) return;
        if (python_failure_) {
            const py::object openError = ErrorClass("OpenError");  // looked up before the failure is set again
            python_failure_->restore();
            python_failure_.reset();
            py::raise_from(openError.ptr(), failure_.c_str());
            throw py::error_already_set();
        }
        throw support::EFOpenError(failure_);
    }
    // Bytes the object delivered so far.
    std::uint64_t BytesRead() const noexcept { return bytes_read_; }

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

// A buffer-protocol object's bytes, held (not copied) for as long as this lives.
class HeldBuffer {
public:
    explicit HeldBuffer(const py::object& data);
    ~HeldBuffer() { PyBuffer_Release(&view_); }
    HeldBuffer(const HeldBuffer&) = delete;
    HeldBuffer& operator=(const HeldBuffer&) = delete;
    const std::uint8_t* Data() const noexcept { return static_cast<const std::uint8_t*>(view_.buf); }
    std::size_t Size() const noexcept { return static_cast<std::size_t>(view_.len); }

private:
    Py_buffer view_{};
};

// A stream over a held buffer, read in place: an mmap of a large file is
// never copied.
class BufferStream final : public PositionedStream {
public:
    explicit BufferStream(const HeldBuffer& held) noexcept : data_(held.Data()), size_(held.Size()) {}
    std::size_t Read(void* buffer, std::size_t count) noexcept override {
        if (position_ < 0 || static_cast<std::uint64_t>(position_) >= size_) return 0;
        const std::size_t take = std::min<std::size_t>(count, size_ - static_cast<std::size_t>(position_));
        std::memcpy(buffer, data_ + position_, take);
        position_ += static_cast<std::int64_t>(take);
        return take;
    }
    std::int64_t Size() noexcept override { return static_cast<std::int64_t>(size_); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// What a listing reads: a file by its path, a Python file object or bytes
// in memory; and the name the listing gives it.
struct Source {
    std::string File;
    std::unique_ptr<PythonFileStream> Object;
    std::unique_ptr<support::FileStream> Opened;  // a path held open (or listed under another name)
    std::unique_ptr<HeldBuffer> Buffer;
    std::unique_ptr<BufferStream> Memory;  // over Buffer
    support::Stream* Input() const noexcept {
        if (Object) return Object.get();
        if (Memory) return Memory.get();
        return Opened.get();
    }
    // The bytes to read: Input, or the file opened by its path into `opened`.
    support::Stream& Open(std::optional<support::FileStream>& opened) const {
        if (support::Stream* input = Input()) return *input;
        return opened.emplace(File, support::FileMode::OpenReadExclusive);
    }
    // Input, a path opened now and held from here on. Without the GIL.
    support::Stream& Hold() {
        if (support::Stream* input = Input()) return *input;
        Opened = std::make_unique<support::FileStream>(File, support::FileMode::OpenReadExclusive);
        return *Opened;
    }
    // Lets a held path go; the source can be held again.
    void Release() noexcept {
        if (!Object && !Memory) Opened.reset();
    }
    // After a listing, under the GIL: a failed read of the object raises.
    void Check() const {
        if (Object) Object->RaiseFailure();
    }
};

// A path names itself; a file object is named by its `name` when that is
// text or bytes, else "<file object>". A `name` given wins for either kind
// (a path is then opened at once, and an open error raises). With
// `bytesLike`, data that is neither str, bytes nor a path (a bytearray, a
// memoryview, an mmap) is read in memory as "<bytes>".
Source SourceOf(const py::object& source, const py::object& name = py::none(), bool bytesLike = false);
// Any contiguous bytes-like object (bytes too), read in place.
Source DataSource(const py::object& data, std::string name);

}  // namespace vexmira::python
