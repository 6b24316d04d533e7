#pragma once
// A byte stream: reads never raise, seeks are 64-bit, writes are all or nothing.

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexmira::support {

enum class SeekOrigin { Beginning, Current };

class Stream {
public:
    Stream() = default;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    virtual ~Stream() = default;

    // Delivers up to count bytes and returns how many: fewer, or 0, at the end
    // of the data, and 0 when the system reports a read error.
    virtual std::size_t Read(void* buffer, std::size_t count) noexcept = 0;

    // Returns the new position. A target that is negative or does not fit in
    // 64 bits leaves the position unchanged and returns -1. Positions past the
    // end are allowed; reading there delivers nothing.
    virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) noexcept = 0;

    // -1 when the system cannot tell.
    virtual std::int64_t Size() noexcept = 0;
    virtual std::int64_t Position() const noexcept = 0;

    // Writes the whole buffer or raises EWriteError ("Stream write error").
    void WriteBuffer(const void* buffer, std::size_t count);

protected:
    // Returns how many bytes were written; never raises.
    virtual std::size_t Write(const void* buffer, std::size_t count) noexcept = 0;
    // Where and why the last short write fell short, for EWriteError's
    // detail; empty when the stream cannot tell.
    virtual std::string WriteFailureDetail() const { return {}; }
};

}  // namespace vexmira::support
