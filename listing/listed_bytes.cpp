#include "listing/listed_bytes.hpp"

#include <algorithm>
#include <bit>

namespace vexmira::listing {

namespace {

// The bits of one word that stand for bytes [from, to) of it (0 <= from < to <= 64).
std::uint64_t Mask(std::int64_t from, std::int64_t to) {
    const std::uint64_t high = to == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << to) - 1;
    return high & ~((std::uint64_t{1} << from) - 1);
}

}  // namespace

const ListedBytes::Page* ListedBytes::Find(std::int64_t page) const {
    const auto found = pages_.find(page);
    return found == pages_.end() ? nullptr : &found->second;
}

bool ListedBytes::IsHeader(std::int64_t offset) const {
    if (offset < 0) return false;
    const Page* page = Find(offset / kPageBytes);
    const std::int64_t bit = offset % kPageBytes;
    return page != nullptr && (page->Headers[static_cast<std::size_t>(bit / 64)] >> (bit % 64) & 1) != 0;
}

std::optional<std::int64_t> ListedBytes::FirstListedIn(std::int64_t begin, std::int64_t end) const {
    return FirstIn(
        [this](std::int64_t page) -> const Bits* {
            const Page* found = Find(page);
            return found == nullptr ? nullptr : &found->Listed;
        },
        begin, end);
}

std::optional<std::int64_t> ListedBytes::FirstSignatureIn(std::int64_t begin, std::int64_t end) const {
    return FirstIn(
        [this](std::int64_t page) -> const Bits* {
            const auto found = signatures_.find(page);
            return found == signatures_.end() ? nullptr : &found->second;
        },
        begin, end);
}

template <class BitsOf>
std::optional<std::int64_t> ListedBytes::FirstIn(const BitsOf& bitsOf, std::int64_t begin, std::int64_t end) {
    begin = std::max<std::int64_t>(begin, 0);
    // Word by word: a name may span 32 KiB.
    while (begin < end) {
        const std::int64_t pageStart = begin - begin % kPageBytes;
        const std::int64_t pageEnd = end - pageStart < kPageBytes ? end : pageStart + kPageBytes;
        if (const Bits* bits = bitsOf(pageStart / kPageBytes)) {
            for (std::int64_t at = begin; at < pageEnd;) {
                const std::int64_t wordStart = at - at % 64;
                const std::int64_t to = std::min<std::int64_t>(pageEnd - wordStart, 64);
                const std::uint64_t hits =
                    (*bits)[static_cast<std::size_t>((wordStart - pageStart) / 64)] & Mask(at - wordStart, to);
                if (hits != 0) return wordStart + std::countr_zero(hits);
                at = wordStart + 64;
            }
        }
        begin = pageEnd;
    }
    return std::nullopt;
}

std::optional<std::int64_t> ListedBytes::HeaderHolding(std::int64_t offset) const {
    if (offset < 0) return std::nullopt;
    // Each listed range starts at its header and runs on without a gap, so
    // the holder's header is the nearest one at or before `offset` whose
    // bytes reach it: walk back while the bytes stay listed.
    for (std::int64_t at = offset; at >= 0; --at) {
        const Page* page = Find(at / kPageBytes);
        if (page == nullptr) return std::nullopt;
        const std::int64_t bit = at % kPageBytes;
        const auto word = static_cast<std::size_t>(bit / 64);
        if ((page->Listed[word] >> (bit % 64) & 1) == 0) return std::nullopt;
        if ((page->Headers[word] >> (bit % 64) & 1) != 0) return at;
    }
    return std::nullopt;
}

void ListedBytes::Add(std::int64_t header, std::int64_t end) {
    {
        Page& page = pages_[header / kPageBytes];
        const std::int64_t bit = header % kPageBytes;
        page.Headers[static_cast<std::size_t>(bit / 64)] |= std::uint64_t{1} << (bit % 64);
    }
    for (std::int64_t at = header; at < end;) {
        const std::int64_t pageStart = at - at % kPageBytes;
        Page& page = pages_[pageStart / kPageBytes];
        const std::int64_t pageEnd = end - pageStart < kPageBytes ? end : pageStart + kPageBytes;
        while (at < pageEnd) {
            const std::int64_t wordStart = at - at % 64;
            const std::int64_t to = std::min<std::int64_t>(pageEnd - wordStart, 64);
            page.Listed[static_cast<std::size_t>((wordStart - pageStart) / 64)] |= Mask(at - wordStart, to);
            at = wordStart + 64;
        }
        at = pageEnd;
    }
}

void ListedBytes::AddSignature(std::int64_t offset) {
    Bits& bits = signatures_[offset / kPageBytes];
    const std::int64_t bit = offset % kPageBytes;
    bits[static_cast<std::size_t>(bit / 64)] |= std::uint64_t{1} << (bit % 64);
}

}  // namespace vexmira::listing
