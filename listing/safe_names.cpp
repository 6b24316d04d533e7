#include "listing/safe_names.hpp"

#include <array>
#include <cstdint>

#include "listing/digest.hpp"

namespace vexmira::listing {
namespace {

constexpr std::string_view kEmptyName = "%empty";
// Bytes kept below kLongestName for the "~N" a duplicate may get.
constexpr std::size_t kRoomForCount = 12;
constexpr std::size_t kDigestDigits = 16;

bool Kept(unsigned char c) noexcept {
    if (c < 0x20 || c > 0x7E) return false;
    return std::string_view(R"(/\:*?"<>|%)").find(static_cast<char>(c)) == std::string_view::npos;
}

void AppendEscape(std::string& out, unsigned char c) {
    out += '%';
    out += "0123456789ABCDEF"[c >> 4];
    out += "0123456789ABCDEF"[c & 0xF];
}

char Upper(char c) noexcept { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Uppercase(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) c = Upper(c);
    return upper;
}

bool IsDeviceName(std::string_view name) {
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    const std::string upper = Uppercase(base);
    static constexpr std::array<std::string_view, 6> kDevices = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const std::string_view device : kDevices) {
        if (upper == device) return true;
    }
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) && upper[3] >= '0' &&
           upper[3] <= '9';
}

}  // namespace

std::string SafeName(std::string_view bytes, std::string_view suffix) {
    std::string name;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (Kept(byte)) {
            name += c;
        } else {
            AppendEscape(name, byte);
        }
    }
    if (bytes.empty()) name = kEmptyName;
    const std::size_t limit = kLongestName - kRoomForCount - suffix.size();
    if (name.size() > limit) {
        std::size_t keep = limit - 1 - kDigestDigits;
        // Back to the start of an escape the cut would split ('%' starts one always).
        if (name[keep - 1] == '%') {
            keep -= 1;
        } else if (name[keep - 2] == '%') {
            keep -= 2;
        }
        name.resize(keep);
        name += '~';
        name += Sha256Hex(bytes).substr(0, kDigestDigits);
    }
    if (suffix.empty() && (name.back() == '.' || name.back() == ' ')) {
        const auto last = static_cast<unsigned char>(name.back());
        name.pop_back();
        AppendEscape(name, last);
    }
    name += suffix;
    if (IsDeviceName(name)) {
        const auto first = static_cast<unsigned char>(name.front());
        name.erase(0, 1);
        std::string escaped;
        AppendEscape(escaped, first);
        name.insert(0, escaped);
    }
    return name;
}

UniqueNames::UniqueNames(std::initializer_list<std::string_view> reserved) {
    for (const std::string_view name : reserved) taken_.insert(Uppercase(name));
}

std::string UniqueNames::Take(std::string_view bytes, std::string_view suffix) {
    std::string name = SafeName(bytes, suffix);
    if (taken_.insert(Uppercase(name)).second) return name;
    // The count goes before the last '.' of the name proper, ahead of the suffix.
    const std::size_t stem = name.size() - suffix.size();
    const std::size_t dot = std::string_view(name).substr(0, stem).rfind('.');
    const std::size_t at = dot == std::string_view::npos || dot == 0 ? stem : dot;
    for (std::uint64_t count = 2;; ++count) {
        std::string numbered = name.substr(0, at) + "~" + std::to_string(count) + name.substr(at);
        if (taken_.insert(Uppercase(numbered)).second) return numbered;
    }
}

}  // namespace vexmira::listing
