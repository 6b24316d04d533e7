#pragma once
// With --all, the walks of one file share what they have listed: which bytes
// of the file were shown as an entry's header or name, and where those
// entries' headers start. A walk that reaches such a header joins the walk
// that listed it; one whose next entry would show any of those bytes again,
// read another way, stops before it. So every byte is shown as part of at most
// one entry, besides each candidate's first entry shown once more.

#include <array>
#include <cstdint>
#include <optional>
#include <unordered_map>

namespace vexmira::listing {

// Two bits per byte of the file (header start, listed), kept in pages of
// kPageBytes bytes only where an entry was listed: at most a quarter of the
// file's size, and a small map entry per page; and a bit per byte in pages of
// their own where a signature was found in a name.
class ListedBytes {
public:
    static constexpr std::int64_t kPageBytes = 4096;

    // Whether a listed entry's header starts at `offset`.
    bool IsHeader(std::int64_t offset) const;
    // The first byte in [begin, end) that a listed entry's header or name
    // holds; none when there is none.
    std::optional<std::int64_t> FirstListedIn(std::int64_t begin, std::int64_t end) const;
    // Where the header of the listed entry that holds `offset` starts (the
    // entries' ranges never overlap); none when `offset` is not listed.
    std::optional<std::int64_t> HeaderHolding(std::int64_t offset) const;
    // Records an entry whose header starts at `header` and whose header and
    // name end at `end` (after `header`, offsets at or past 0).
    void Add(std::int64_t header, std::int64_t end);

    // Where an archive signature found in an entry's name starts: so that a
    // walk need not read a name that holds one found before.
    void AddSignature(std::int64_t offset);
    // The first such signature in [begin, end), if any.
    std::optional<std::int64_t> FirstSignatureIn(std::int64_t begin, std::int64_t end) const;

private:
    static constexpr std::size_t kWords = kPageBytes / 64;
    using Bits = std::array<std::uint64_t, kWords>;
    struct Page {
        Bits Headers{};
        Bits Listed{};
    };
    const Page* Find(std::int64_t page) const;
    // The first set bit in [begin, end) of the pages `bitsOf` gives (null: none).
    template <class BitsOf>
    static std::optional<std::int64_t> FirstIn(const BitsOf& bitsOf, std::int64_t begin, std::int64_t end);

    std::unordered_map<std::int64_t, Page> pages_;
    std::unordered_map<std::int64_t, Bits> signatures_;
};

}  // namespace vexmira::listing
