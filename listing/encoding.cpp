#include "listing/encoding.hpp"

namespace vexmira::listing {

std::size_t Utf8CharacterAt(std::string_view bytes, std::size_t i, std::uint32_t& codePoint) noexcept {
    const auto lead = static_cast<std::uint8_t>(bytes[i]);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    std::size_t length = 0;
    std::uint32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (length > bytes.size() - i) return 0;
    codePoint = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<std::uint8_t>(bytes[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if (codePoint < minimum || (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF) return 0;
    return length;
}

bool IsValidUtf8(std::string_view bytes) noexcept {
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::uint32_t codePoint = 0;
        const std::size_t length = Utf8CharacterAt(bytes, i, codePoint);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

Encoding PathEncoding(std::string_view path) noexcept { return IsValidUtf8(path) ? Encoding::Utf8 : Encoding::Latin1; }

std::string_view EncodingName(Encoding encoding) noexcept { return encoding == Encoding::Utf8 ? "utf-8" : "latin-1"; }

}  // namespace vexmira::listing
