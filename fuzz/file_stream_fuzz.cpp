// The buffered file stream against the memory stream. The input gives the
// file's size and content and a run of reads, seeks, size queries and writes
// (see stream_script.hpp); both streams get the same calls, and every result,
// every position and every byte delivered must agree. A file opened for
// reading may also grow meanwhile: its stream still ends where the file ended. System reads are routed
// through __wrap_pread (linked with --wrap=pread) so the input can also make
// them come back short or interrupted, as the kernel may.

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "fuzz/fuzz_script.hpp"
#include "fuzz/scratch_file.hpp"
#include "fuzz/stream_script.hpp"
#include "support/exception.hpp"
#include "support/file_stream.hpp"
#include "support/memory_stream.hpp"

namespace {

using namespace vexmira;
using namespace vexmira::fuzz::stream_script;
using Bytes = std::vector<std::uint8_t>;

// What the next system reads do; set by Op::ShortReads.
struct ReadFaults {
    int remaining = 0;
    std::size_t cap = 0;  // 0: interrupt each one once
    bool interrupted = false;
} faults;

}  // namespace

// Names the linker's --wrap gives the system read and its replacement.
extern "C" ssize_t __real_pread(int fd, void* buffer, std::size_t count, off_t offset);  // NOLINT(bugprone-reserved-identifier)

extern "C" ssize_t __wrap_pread(int fd, void* buffer, std::size_t count, off_t offset) {  // NOLINT(bugprone-reserved-identifier)
    if (faults.remaining > 0) {
        if (faults.cap == 0) {
            faults.interrupted = !faults.interrupted;
            if (faults.interrupted) {
                errno = EINTR;
                return -1;
            }
        } else {
            count = std::min(count, faults.cap);
        }
        --faults.remaining;
    }
    return __real_pread(fd, buffer, count, offset);
}

namespace {

constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kSmallest = std::numeric_limits<std::int64_t>::min();
// Bounds the work of one input: a script of large reads would otherwise copy gigabytes.
constexpr std::size_t kReadBudget = std::size_t{64} << 20;
// Writes further out would make the memory stream hold a file mostly of zeros.
constexpr std::int64_t kWriteReach = std::int64_t{1} << 20;

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

// The most content an input asks for: a file of SizeClass::Large at the
// largest limit (Op::Grow asks for far less).
constexpr std::size_t kLargestLimit = support::FileStream::kMinReadAhead + std::size_t{0xFFFF} * 4;
constexpr std::size_t kLargestContent = 3 * kLargestLimit;

// Every byte depends on its offset, so a read from the wrong place shows. One
// table, made once, serves every input: the seed picks where in it the file's
// bytes start (making megabytes for each input would cost more than the rest).
std::span<const std::uint8_t> Content(std::size_t size, std::uint8_t seed) {
    static const Bytes kTable = [] {
        Bytes bytes(kLargestContent + 0xFF);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            std::uint64_t x = (i / 8) * 0x9E3779B97F4A7C15ULL;
            x ^= x >> 29;
            x *= 0xBF58476D1CE4E5B9ULL;
            x ^= x >> 32;
            bytes[i] = static_cast<std::uint8_t>(x >> (8 * (i % 8)));
        }
        return bytes;
    }();
    return std::span(kTable).subspan(seed, size);
}

// a + b, wrapping around as the machine does: the operands may be anywhere in
// the 64-bit range, and a wrapped offset is as good a test as any.
std::int64_t WrappingAdd(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}

std::int64_t OffsetOperand(fuzz::ScriptReader& in, std::int64_t size, std::int64_t position) {
    switch (static_cast<Offset>(in.U8() % kOffsetCount)) {
        case Offset::Small: return in.U16();
        case Offset::BeforeEnd: return size - in.U8();
        case Offset::AfterEnd: return size + in.U8();
        case Offset::Negative: return -1 - in.U8();
        case Offset::Largest: return kLargest - in.U8();
        case Offset::Smallest: return kSmallest + in.U8();
        case Offset::BackToStart: return WrappingAdd(-position, in.I8());
        case Offset::Far: return in.U32();
        case Offset::Blocks: return std::int64_t{in.I8()} * 4096;
        case Offset::Megabytes: return std::int64_t{in.I8()} * 65536;
        case Offset::AroundEndAhead: return WrappingAdd(size - position, in.I8());
    }
    return 0;
}

std::size_t EdgeCount(fuzz::ScriptReader& in, std::size_t limit) {
    using support::FileStream;
    const std::size_t edgeReads[] = {
        FileStream::kMinReadAhead, 2 * FileStream::kMinReadAhead, std::size_t{64} * 1024, limit / 2, limit, 2 * limit,
    };
    const std::size_t base = edgeReads[in.U8() % std::size(edgeReads)];
    const std::int8_t delta = in.I8();
    return delta < 0 ? base - static_cast<std::size_t>(-delta) : base + static_cast<std::size_t>(delta);
}

// Both streams read count bytes; the counts and the bytes must be equal.
void Read(support::Stream& file, support::Stream& memory, std::size_t count, Bytes& a, Bytes& b) {
    a.resize(count);
    b.resize(count);
    const std::size_t got = file.Read(a.data(), count);
    Require(got == memory.Read(b.data(), count));
    Require(got <= count && std::equal(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(got), b.begin()));
}

// Writes through both; either both raise or neither does.
void Write(support::Stream& file, support::Stream& memory, std::span<const std::uint8_t> bytes) {
    const auto raises = [&](support::Stream& stream) {
        try {
            stream.WriteBuffer(bytes.data(), bytes.size());
        } catch (const support::EWriteError&) {
            return true;
        }
        return false;
    };
    Require(raises(file) == raises(memory));
}

void Run(fuzz::ScriptReader& in, support::FileStream& file, support::MemoryStream& memory, bool writable,
         std::size_t limit) {
    Bytes a, b;
    std::size_t budget = kReadBudget;
    while (!in.Done()) {
        const std::int64_t position = memory.Position();
        const std::int64_t size = memory.Size();
        std::size_t count = 0;
        switch (static_cast<Op>(in.U8() % kOpCount)) {
            case Op::ReadSmall: count = in.U8(); break;
            case Op::ReadMedium: count = in.U16(); break;
            case Op::ReadEdge: count = EdgeCount(in, limit); break;
            case Op::SeekBeginning: {
                const std::int64_t offset = OffsetOperand(in, size, position);
                Require(file.Seek(offset, support::SeekOrigin::Beginning) ==
                        memory.Seek(offset, support::SeekOrigin::Beginning));
                break;
            }
            case Op::SeekCurrent: {
                const std::int64_t offset = OffsetOperand(in, size, position);
                Require(file.Seek(offset, support::SeekOrigin::Current) ==
                        memory.Seek(offset, support::SeekOrigin::Current));
                break;
            }
            case Op::Size: Require(file.Size() == memory.Size()); break;
            case Op::Write: {
                const std::span<const std::uint8_t> bytes = in.Take(in.U8());
                if (writable && position <= size + kWriteReach) Write(file, memory, bytes);
                break;
            }
            case Op::Grow: {
                const std::size_t more = std::size_t{in.U8()} * 64;
                if (!writable) fuzz::ScratchFile::Get().Grow(Content(more, 0xA5));
                break;
            }
            case Op::ShortReads: {
                const std::uint8_t value = in.U8();
                faults = {.remaining = value & 15, .cap = kShortCaps[(value >> 4) & 7]};
                break;
            }
        }
        if (count > 0) {
            if (count > budget) break;
            budget -= count;
            Read(file, memory, count, a, b);
        }
        Require(file.Position() == memory.Position());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ScriptReader in(std::span(data, size));
    const std::uint8_t flags = in.U8();
    const std::uint8_t seed = in.U8();
    const std::size_t limit = support::FileStream::kMinReadAhead + std::size_t{in.U16()} * 4;
    std::size_t length = 0;
    switch (static_cast<SizeClass>((flags >> kSizeClassShift) & 3)) {
        case SizeClass::Tiny: length = in.U8(); break;
        case SizeClass::Small: length = in.U16(); break;
        case SizeClass::ReadAhead: length = limit - std::min<std::size_t>(limit, 8192) + in.U16() % 16384; break;
        case SizeClass::Large: length = 2 * limit + (std::size_t{in.U16()} * 16) % limit; break;
    }
    const std::span<const std::uint8_t> content = Content(length, seed);
    const bool writable = (flags & kReadWrite) != 0;
    faults = {};

    const fuzz::ScratchFile& scratch = fuzz::ScratchFile::Get();
    support::MemoryStream memory(content.data(), content.size());
    if (writable) {
        support::FileStream file(support::NativeFile::Adopt(scratch.NewEmptyDescriptor()), scratch.Path(),
                                 support::TryAllocateAligned, limit);
        file.WriteBuffer(content.data(), content.size());
        file.Seek(0, support::SeekOrigin::Beginning);
        Run(in, file, memory, true, limit);
        // What the writes left must be the same bytes in both.
        faults = {};
        Require(file.Size() == memory.Size());
        Require(file.Seek(0, support::SeekOrigin::Beginning) == 0);
        Bytes written(memory.Bytes().size());
        Require(file.Read(written.data(), written.size()) == written.size() && written == memory.Bytes());
    } else {
        scratch.Fill(content);
        support::FileStream file(scratch.Path(), support::FileMode::OpenReadExclusive, support::TryAllocateAligned, limit);
        Run(in, file, memory, false, limit);
    }
    return 0;
}
