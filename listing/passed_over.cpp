#include "listing/passed_over.hpp"

#include <algorithm>
#include <exception>

#include "locator/scan.hpp"
#include "support/memory_stream.hpp"

namespace vexmira::listing {

namespace {

constexpr std::int64_t kStep = std::int64_t{64} * 1024;
constexpr std::size_t kIdentifierAt = locator::kSignature.size();
constexpr std::size_t kNotGAt = 56;
constexpr std::size_t kNotPAt = 57;

bool ReaderAccepts(std::span<const std::uint8_t> window) {
    support::MemoryStream stream(window.data(), window.size());
    archive::ArchiveHeader header;
    std::string identifier;
    try {
        archive::TCompress().PrepareArchiveHeader(stream, header, identifier);
        return true;
    } catch (const support::Exception&) {
        return false;
    }
}

// Positions examined at a time for `left` bytes to scan (negative: unknown).
std::int64_t StepFor(std::int64_t left) { return left < 0 ? kStep : std::clamp<std::int64_t>(left, 1, kStep); }

}  // namespace

std::optional<std::string> PassedOverReason(std::span<const std::uint8_t> window) {
    if (window.size() <= kIdentifierAt || !std::equal(locator::kSignature.begin(), locator::kSignature.end(), window.begin())) {
        return std::nullopt;
    }
    // The reader takes only the multi-file type: a cheap test first, so a
    // run of signatures costs no failed header read each.
    if (window.size() <= archive::ArchiveHeaderField::kArchiveType || window[archive::ArchiveHeaderField::kArchiveType] != 1) {
        return std::nullopt;
    }
    if (locator::IsCandidate(window) || !ReaderAccepts(window)) return std::nullopt;
    const std::uint8_t first = window[kIdentifierAt];
    if (first != 'L' && first != 'N' && first != 'R') {
        const std::size_t length = std::min<std::size_t>(3, window.size() - kIdentifierAt);
        return std::string(reinterpret_cast<const char*>(window.data() + kIdentifierAt), length) + " identifier";
    }
    if (window.size() > kNotGAt && window[kNotGAt] == 'G') return std::string("G at byte 56");
    if (window.size() > kNotPAt && window[kNotPAt] == 'P') return std::string("P at byte 57");
    return std::nullopt;  // too short for the locator, and yet whole: nothing the rule names
}

PassedOverScan::PassedOverScan(support::Stream& input)
    : input_(input),
      position_(input.Position()),
      // No larger than the stream needs: --all makes one for every file, however small.
      step_(static_cast<std::size_t>(StepFor(input.Size() - position_))),
      buffer_(step_ + locator::kLookahead) {}

std::optional<PassedOverHeader> PassedOverScan::Next(std::optional<std::int64_t> limit) {
    const std::int64_t saved = input_.Position();
    std::optional<PassedOverHeader> found;
    while (!found && (!limit || position_ < *limit)) {
        std::size_t positions = step_;
        if (limit) positions = static_cast<std::size_t>(std::min<std::int64_t>(*limit - position_, static_cast<std::int64_t>(step_)));
        if (input_.Seek(position_, support::SeekOrigin::Beginning) != position_) break;
        const std::size_t read = input_.Read(buffer_.data(), positions + locator::kLookahead);
        if (read == 0) break;
        positions = std::min(positions, read);
        for (std::size_t i = locator::NextSignature(buffer_.data(), read, 0); i < positions;
             i = locator::NextSignature(buffer_.data(), read, i + 1)) {
            const std::span<const std::uint8_t> window(buffer_.data() + i, std::min(locator::kWindowSize, read - i));
            if (std::optional<std::string> reason = PassedOverReason(window)) {
                found = PassedOverHeader{position_ + static_cast<std::int64_t>(i), std::move(*reason)};
                positions = i + 1;
                break;
            }
        }
        position_ += static_cast<std::int64_t>(positions);
        if (!found && read < positions + locator::kLookahead && positions == read) break;  // the end of the file
    }
    input_.Seek(saved, support::SeekOrigin::Beginning);
    return found;
}

}  // namespace vexmira::listing
