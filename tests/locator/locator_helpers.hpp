#pragma once
// Shared by the locator tests: candidate bytes and a display that records.

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "locator/locator.hpp"
#include "tests/archive_builder.hpp"

namespace vexmira::testing {

// The 58 bytes a position's tests look at: the signature, the identifier,
// then filler that holds no 'S', 'G' or 'P'.
inline Bytes CandidateBytes(std::string_view identifier) {
    Bytes bytes = {'S', 'P', 'I', 'S', 0x1A};
    PutText(bytes, identifier);
    bytes.resize(58, '.');
    return bytes;
}

// Copies `what` into `into` at `at`, growing it when needed.
inline void Plant(Bytes& into, std::size_t at, const Bytes& what) {
    if (into.size() < at + what.size()) into.resize(at + what.size(), '.');
    std::copy(what.begin(), what.end(), into.begin() + static_cast<std::ptrdiff_t>(at));
}

// Every call, in order, as text: "range N", "position N", "offset T", "message T".
class RecordingDisplay final : public locator::Display {
public:
    void SetProgressRange(std::int32_t maximum) override { events.push_back("range " + std::to_string(maximum)); }
    void SetProgressPosition(std::int32_t position) override {
        events.push_back("position " + std::to_string(position));
    }
    void SetOffsetText(const std::string& text) override { events.push_back("offset " + text); }
    void ShowMessage(const std::string& text) override { events.push_back("message " + text); }

    std::vector<std::string> events;
};

}  // namespace vexmira::testing
