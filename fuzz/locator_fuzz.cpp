// The locator against a position-by-position reading of its rules. The input
// drives a small generator (see locator_script.hpp) that lays signatures on
// block edges, in the overlap, near the end of the file and across the
// whole-file search's chunk edge, or is taken as the file's bytes. Every
// result of the candidate search on every path, the block candidates, the block scan and the
// whole-file search must equal what the model below says, over a memory
// stream and, when the input asks, over a real file (see scratch_file.hpp).

#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "fuzz/fuzz_script.hpp"
#include "fuzz/locator_script.hpp"
#include "fuzz/scratch_file.hpp"
#include "locator/scan.hpp"
#include "support/exception.hpp"
#include "support/file_stream.hpp"
#include "support/memory_stream.hpp"

namespace {

using namespace vexmira;
using namespace vexmira::fuzz::locator_script;
using Bytes = std::vector<std::uint8_t>;

// ---- The model: one position at a time -------------------------------------

constexpr std::int64_t kModelBlock = 4096;
constexpr std::int64_t kModelOverlap = 64;

// Tests 1 to 3 on the file's bytes from p. A byte that tests 1 and 2 need and
// that lies past the end fails them; a missing byte 56 or 57 rejects nothing.
VEXMIRA_UNTRACED bool ModelCandidate(std::span<const std::uint8_t> file, std::size_t p) {
    static constexpr std::uint8_t kSig[] = {'S', 'P', 'I', 'S', 0x1A};
    const std::size_t size = file.size();
    for (std::size_t k = 0; k < 5; ++k) {
        if (p + k >= size || file[p + k] != kSig[k]) return false;
    }
    if (p + 5 >= size) return false;
    if (file[p + 5] != 'L' && file[p + 5] != 'N' && file[p + 5] != 'R') return false;
    if (p + 56 < size && file[p + 56] == 'G') return false;
    if (p + 57 < size && file[p + 57] == 'P') return false;
    return true;
}

// The candidates among positions [first, last) of the file. Only a position
// that holds 'S' can be one, and memchr finds those without a look at each byte.
VEXMIRA_UNTRACED std::vector<std::size_t> ModelCandidates(std::span<const std::uint8_t> file, std::size_t first,
                                                          std::size_t last) {
    std::vector<std::size_t> found;
    std::size_t p = first;
    while (p < last) {
        const void* const s = std::memchr(file.data() + p, 'S', last - p);
        if (s == nullptr) break;
        p = static_cast<std::size_t>(static_cast<const std::uint8_t*>(s) - file.data());
        if (ModelCandidate(file, p)) found.push_back(p);
        ++p;
    }
    return found;
}

std::vector<std::size_t> ModelCandidates(std::span<const std::uint8_t> file) {
    return ModelCandidates(file, 0, file.size());
}

VEXMIRA_UNTRACED std::vector<std::int64_t> ModelAll(const std::vector<std::size_t>& candidates, std::int64_t from) {
    std::vector<std::int64_t> found;
    for (const std::size_t p : candidates) {
        if (static_cast<std::int64_t>(p) >= from) found.push_back(static_cast<std::int64_t>(p));
    }
    return found;
}

// Blocks of 4096 from `start`, the next one 64 bytes before the previous end
// unless that read reached the end; the first block with a candidate ends the
// scan and its last candidate wins.
VEXMIRA_UNTRACED std::int64_t ModelFind(const std::vector<std::size_t>& candidates, std::int64_t size,
                                        std::int64_t start) {
    std::int64_t position = start;
    for (;;) {
        const std::int64_t n = position < size ? std::min(kModelBlock, size - position) : 0;
        if (n == 0) return -1;
        // The last candidate before the block's end, if it lies in the block.
        const auto after = std::lower_bound(candidates.begin(), candidates.end(), static_cast<std::size_t>(position + n));
        if (after != candidates.begin() && static_cast<std::int64_t>(after[-1]) >= position) return static_cast<std::int64_t>(after[-1]);
        position += n;
        if (position < size) position -= kModelOverlap;
    }
}

// ---- The generator ----------------------------------------------------------

struct Setup {
    std::uint8_t flags = 0;
    std::int64_t start = 0;
    std::size_t sliceOffset = 0, sliceLength = 0, misalign = 0;
    std::int64_t blockStart = 0;
    std::size_t blockLength = 0, room = 0, fetchLimit = 0;
    std::size_t chunk = 0;
    Bytes file;
};

VEXMIRA_UNTRACED void Put(Bytes& file, std::int64_t at, std::span<const std::uint8_t> bytes) {
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        const std::int64_t p = at + static_cast<std::int64_t>(k);
        if (p >= 0 && p < static_cast<std::int64_t>(file.size())) file[static_cast<std::size_t>(p)] = bytes[k];
    }
}

void Put(Bytes& file, std::int64_t at, std::uint8_t byte) { Put(file, at, std::span<const std::uint8_t>(&byte, 1)); }

std::int64_t AnchorPosition(fuzz::ScriptReader& in, Anchor anchor, std::int64_t size, std::int64_t chunk,
                            std::int64_t previous) {
    constexpr auto kStep = static_cast<std::int64_t>(kBlockStep);
    switch (anchor) {
        case Anchor::BlockEnd: {
            const std::int64_t k = in.U8();
            return k * kStep + kModelBlock + in.I8();
        }
        case Anchor::BlockStart: {
            const std::int64_t k = in.U8();
            return k * kStep + in.I8();
        }
        case Anchor::FileEnd: return size - in.U8();
        case Anchor::ChunkEdge: return chunk + in.I8();
        case Anchor::Absolute: return in.U16();
        case Anchor::AfterPrevious: return previous + in.U8();
        case Anchor::PreviousPlus56: return previous + 56;
        case Anchor::PreviousPlus57: return previous + 57;
    }
    return 0;
}

void PlacePieces(fuzz::ScriptReader& in, Bytes& file, std::size_t chunk) {
    static constexpr std::uint8_t kSig[] = {'S', 'P', 'I', 'S', 0x1A};
    const auto size = static_cast<std::int64_t>(file.size());
    std::int64_t previous = 0;
    while (!in.Done()) {
        const std::uint8_t op = in.U8();
        const auto piece = static_cast<Piece>((op & 7) % kPieceCount);
        const auto anchor = static_cast<Anchor>((op >> 3) & 7);
        const auto extra = static_cast<std::uint8_t>(op >> 6);
        const std::int64_t at = AnchorPosition(in, anchor, size, static_cast<std::int64_t>(chunk), previous);
        switch (piece) {
            case Piece::Candidate:
                Put(file, at, kSig);
                Put(file, at + 5, static_cast<std::uint8_t>(kLetters[in.U8() % 8]));
                if (extra & 1) Put(file, at + 56, 'G');
                if (extra & 2) Put(file, at + 57, 'P');
                previous = at;
                break;
            case Piece::SignaturePrefix:
                Put(file, at, std::span<const std::uint8_t>(kSig, 1 + in.U8() % 5));
                previous = at;
                break;
            case Piece::Byte: Put(file, at, in.U8()); break;
            case Piece::Raw: Put(file, at, in.Take(in.U8() % 64)); break;
            case Piece::Run: {
                static constexpr std::uint8_t kRun[] = {'S', 'P', 'I', 'S', 0x1A, 'L'};
                static constexpr std::size_t kLength[] = {2, 1, 5, 6};
                const std::size_t unit = kLength[extra];
                const std::size_t count = in.U8();
                const std::span<const std::uint8_t> pattern = extra == 1 ? std::span(kRun, 1) : std::span(kRun, unit);
                for (std::size_t k = 0; k < count; ++k) Put(file, at + static_cast<std::int64_t>(k * unit), pattern);
                break;
            }
        }
    }
}

// The pattern repeated, by copies that double (a byte at a time costs more
// than the rest of a large input's checks).
void Fill(Bytes& file, std::size_t size, const Bytes& pattern) {
    file.resize(size);
    std::size_t filled = std::min(pattern.size(), size);
    std::copy_n(pattern.begin(), filled, file.begin());
    while (filled < size) {
        const std::size_t n = std::min(filled, size - filled);
        std::memcpy(file.data() + filled, file.data(), n);
        filled += n;
    }
}

// Into `setup`, whose file keeps its storage from input to input.
void Generate(std::span<const std::uint8_t> input, Setup& setup) {
    fuzz::ScriptReader in(input);
    setup = Setup{.file = std::move(setup.file)};
    setup.flags = in.U8();
    if (setup.flags & kStartOffset) setup.start = in.U16();
    setup.sliceOffset = in.U16();
    setup.sliceLength = in.U16();
    setup.misalign = in.U8() % 64;
    const std::int64_t blockIndex = in.U8();
    setup.blockStart = blockIndex * static_cast<std::int64_t>(kBlockStep) + in.I8();
    setup.blockLength = in.U16() % (kModelBlock + 1);
    const std::uint8_t room = in.U8();
    setup.room = room < 200 ? 57 : room % 58;  // mostly the full look-ahead room
    const std::uint8_t limit = in.U8();
    setup.fetchLimit = limit < 200 ? SIZE_MAX : limit % 58;  // mostly as much as the file has
    setup.chunk = (std::size_t{in.U8()} + 1) * kChunkStep;

    if (setup.flags & kRaw) {
        const auto rest = in.Rest();
        setup.file.assign(rest.begin(), rest.end());
        return;
    }
    std::size_t size = 0;
    switch (static_cast<SizeClass>((setup.flags >> kSizeClassShift) & 3)) {
        case SizeClass::Tiny: size = in.U8(); break;
        case SizeClass::Small: size = in.U16() % 12289; break;
        case SizeClass::Blocks: size = in.U16(); break;
        case SizeClass::Chunk: size = setup.chunk - std::min<std::size_t>(setup.chunk, 8192) + in.U16() % 16384; break;
    }
    Bytes pattern(1 + in.U8() % 4);
    for (auto& byte : pattern) byte = in.U8();
    Fill(setup.file, size, pattern);
    PlacePieces(in, setup.file, setup.chunk);
}

// ---- The checks -------------------------------------------------------------

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

// Storage kept from input to input, of which only the bytes last asked for
// may be touched: those past them are poisoned, so a read past them is caught
// as past an allocation of exactly that size, without mapping fresh pages for
// every input.
class ExactBuffer {
public:
    ExactBuffer() = default;
    ExactBuffer(const ExactBuffer&) = delete;
    ExactBuffer& operator=(const ExactBuffer&) = delete;
    ~ExactBuffer() { ASAN_UNPOISON_MEMORY_REGION(storage_.get(), capacity_); }

    std::span<std::uint8_t> Take(std::size_t size) {
        ASAN_UNPOISON_MEMORY_REGION(storage_.get(), capacity_);
        if (size > capacity_) {
            storage_ = std::make_unique<std::uint8_t[]>(size);
            capacity_ = size;
        }
        ASAN_POISON_MEMORY_REGION(storage_.get() + size, capacity_ - size);
        return {storage_.get(), size};
    }

private:
    std::unique_ptr<std::uint8_t[]> storage_;
    std::size_t capacity_ = 0;
};

// Runs the candidate search on every path over bytes held in exactly their
// size, at the given misalignment, so any read past them is caught; with no
// look-ahead, the model sees a file that ends with them.
void CheckSearchPaths(const std::uint8_t* bytes, std::size_t length, std::size_t misalign) {
    static ExactBuffer storage;
    const std::span<std::uint8_t> data = storage.Take(length + misalign).subspan(misalign);
    std::copy(bytes, bytes + length, data.begin());
    const std::vector<std::size_t> expected = ModelCandidates(data);
    const locator::LookaheadFetch nothing = [](std::span<std::uint8_t>) -> std::size_t { return 0; };
    for (const locator::SearchPath path : locator::SearchPaths()) {
        Require(locator::BlockCandidates(data, length, nothing, path) == expected);
    }
}

void CheckBlockCandidates(const Setup& setup) {
    const Bytes& file = setup.file;
    const auto size = static_cast<std::int64_t>(file.size());
    if (setup.blockStart < 0 || setup.blockStart >= size) return;
    const auto start = static_cast<std::size_t>(setup.blockStart);
    const std::size_t length = std::min(setup.blockLength, file.size() - start);
    // Exactly the block and the room after it, so a write or read past the
    // room is caught.
    static ExactBuffer storage;
    const std::span<std::uint8_t> buffer = storage.Take(length + setup.room);

    // The fetch hands over at most fetchLimit bytes of what follows; the
    // model sees a file that ends where the fetched bytes end.
    const std::size_t after = start + length;
    const std::size_t given = std::min({setup.room, file.size() - after, setup.fetchLimit});
    int fetches = 0;
    const locator::LookaheadFetch fetch = [&](std::span<std::uint8_t> out) -> std::size_t {
        ++fetches;
        Require(out.data() == buffer.data() + length && out.size() == setup.room);
        const std::size_t n = std::min(given, out.size());
        std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(after), n, out.begin());
        return n;
    };
    const std::span<const std::uint8_t> seen = std::span(file).first(after + given);
    std::vector<std::size_t> expected = ModelCandidates(seen, start, after);
    for (std::size_t& i : expected) i -= start;
    for (const locator::SearchPath path : locator::SearchPaths()) {
        fetches = 0;
        std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(start), length, buffer.begin());
        Require(locator::BlockCandidates(buffer, length, fetch, path) == expected);
        Require(fetches <= 1);
    }
}

// What the model says the scans from setup.start find.
struct Expected {
    std::int64_t winner = -1;
    std::vector<std::int64_t> all;
};

// `grow`, when given, makes the file longer; the scans must end where it ended.
void CheckScans(support::Stream& stream, const Setup& setup, const Expected& expected,
                const std::function<void()>& grow = {}) {
    const auto size = static_cast<std::int64_t>(setup.file.size());
    const std::int64_t start = setup.start;
    Require(stream.Seek(start, support::SeekOrigin::Beginning) == start);
    Require(locator::FindArchive(stream, stream.Size(), setup.chunk) == expected.winner);
    // Reading fewer bytes at a time cuts blocks and their look-ahead at other
    // places; the winner stays.
    // (at least 2048: smaller ones, which the unit tests take, move the cut
    // block once per read and would slow the search for little.)
    const std::size_t readSize = 2048 + (setup.sliceOffset * 31 + setup.sliceLength) % 10000;
    Require(stream.Seek(start, support::SeekOrigin::Beginning) == start);
    Require(locator::FindArchive(stream, stream.Size(), readSize) == expected.winner);

    Require(stream.Seek(start, support::SeekOrigin::Beginning) == start);
    std::vector<std::int64_t> found;
    locator::ForEachCandidate(stream, [&](std::int64_t offset) {
        found.push_back(offset);
        if (grow && found.size() <= 4) grow();
        if (setup.flags & kMoveInCallback) {
            // As a listing in place would: read somewhere else entirely.
            std::uint8_t scratch[64];
            stream.Seek((offset * 7919) % (size + 100), support::SeekOrigin::Beginning);
            stream.Read(scratch, sizeof scratch);
        }
    }, setup.chunk);
    Require(found == expected.all);
}

void CheckFileStream(const Setup& setup, const Expected& expected) {
    const fuzz::ScratchFile& scratch = fuzz::ScratchFile::Get();
    scratch.Fill(setup.file);
    // Reading ahead at most a chunk, as the tool's stream reads ahead at most
    // what its scans read at a time: their reads skip its buffer.
    support::FileStream in(scratch.Path(), support::FileMode::OpenReadExclusive, support::TryAllocateAligned, setup.chunk);
    std::function<void()> grow;
    if (setup.flags & kGrowFile) {
        // Candidates in every position a scan could reach if it went on.
        static const Bytes kMore = [] {
            Bytes more;
            for (int k = 0; k < 700; ++k) more.insert(more.end(), {'S', 'P', 'I', 'S', 0x1A, 'L'});
            return more;
        }();
        grow = [&scratch] { scratch.Grow(kMore); };
        grow();
    }
    Require(in.Size() == static_cast<std::int64_t>(setup.file.size()));
    CheckScans(in, setup, expected, grow);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Setup setup;
    Generate(std::span(data, size), setup);
    const Bytes& file = setup.file;
    const std::vector<std::size_t> candidates = ModelCandidates(file);
    const Expected expected{ModelFind(candidates, static_cast<std::int64_t>(file.size()), setup.start),
                            ModelAll(candidates, setup.start)};

    CheckSearchPaths(file.data(), file.size(), setup.misalign);
    const std::size_t sliceOffset = std::min(setup.sliceOffset, file.size());
    CheckSearchPaths(file.data() + sliceOffset, std::min(setup.sliceLength, file.size() - sliceOffset), setup.misalign);
    CheckBlockCandidates(setup);

    support::MemoryStream memory(file);
    CheckScans(memory, setup, expected);
    if (setup.flags & kAlsoFileStream) CheckFileStream(setup, expected);
    return 0;
}
