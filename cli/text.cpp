#include "cli/text.hpp"

#include <cstdint>

namespace vexmira::cli {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHexEscape(std::string& out, const char* prefix, unsigned value, int digits) {
    out += prefix;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kHexDigits[(value >> shift) & 0xF];
}

// Bytes that need no decoding or escaping in either form.
bool IsPlainAscii(std::uint8_t byte) noexcept { return byte >= 0x20 && byte < 0x7F && byte != '\\' && byte != '"'; }

// Calls onCodePoint(code point, its UTF-8 bytes) for each character.
template <class OnCodePoint>
void ForEachCodePoint(std::string_view bytes, Encoding encoding, OnCodePoint onCodePoint) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<std::uint8_t>(bytes[i]);
        if (lead < 0x80) {
            onCodePoint(lead, bytes.substr(i, 1));
            ++i;
        } else if (encoding == Encoding::Latin1) {
            const char utf8[2] = {static_cast<char>(0xC0 | (lead >> 6)), static_cast<char>(0x80 | (lead & 0x3F))};
            onCodePoint(lead, std::string_view(utf8, 2));
            ++i;
        } else {
            // Valid UTF-8 by contract: the lead byte gives the length.
            const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
            unsigned codePoint = lead & (0x7F >> length);
            for (std::size_t k = 1; k < length && i + k < bytes.size(); ++k) {
                codePoint = (codePoint << 6) | (static_cast<std::uint8_t>(bytes[i + k]) & 0x3F);
            }
            onCodePoint(codePoint, bytes.substr(i, length));
            i += length;
        }
    }
}

bool IsControl(unsigned codePoint) noexcept { return codePoint < 0x20 || (codePoint >= 0x7F && codePoint < 0xA0); }

// The length of the UTF-8 character at bytes[i] and its code point; length 0
// where the bytes there are not UTF-8.
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

}  // namespace

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

void AppendUtf8(std::string& out, std::string_view bytes, Encoding encoding) {
    if (encoding == Encoding::Utf8 && IsValidUtf8(bytes)) {
        out.append(bytes);
        return;
    }
    ForEachCodePoint(bytes, Encoding::Latin1, [&](unsigned, std::string_view utf8) { out.append(utf8); });
}

std::string ToUtf8(std::string_view bytes, Encoding encoding) {
    std::string out;
    AppendUtf8(out, bytes, encoding);
    return out;
}

void AppendTerminalText(std::string& out, std::string_view bytes, Encoding encoding) {
    std::size_t plain = 0;
    while (plain < bytes.size() && IsPlainAscii(static_cast<std::uint8_t>(bytes[plain]))) ++plain;
    out.append(bytes.substr(0, plain));
    if (plain == bytes.size()) return;
    const std::string_view rest = bytes.substr(plain);
    if (encoding == Encoding::Utf8 && !IsValidUtf8(rest)) encoding = Encoding::Latin1;  // never pass on broken UTF-8
    ForEachCodePoint(rest, encoding, [&](unsigned codePoint, std::string_view utf8) {
        if (IsControl(codePoint)) {
            AppendHexEscape(out, "\\x", codePoint, 2);
        } else if (codePoint == '\\' && utf8.data() + 1 < rest.data() + rest.size() && utf8.data()[1] == 'x') {
            out += "\\x5C";
        } else {
            out.append(utf8);
        }
    });
}

std::string TerminalText(std::string_view bytes, Encoding encoding) {
    std::string out;
    AppendTerminalText(out, bytes, encoding);
    return out;
}

void AppendTerminalLine(std::string& out, std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        std::uint32_t codePoint = 0;
        std::size_t length = Utf8CharacterAt(text, i, codePoint);
        if (length == 0) {
            // Not UTF-8 here: this byte is read as Latin-1, as a path's would be.
            codePoint = static_cast<std::uint8_t>(text[i]);
            length = 1;
        }
        if (IsControl(codePoint)) {
            AppendHexEscape(out, "\\x", codePoint, 2);
        } else if (codePoint >= 0x80 && length == 1) {
            const char utf8[2] = {static_cast<char>(0xC0 | (codePoint >> 6)), static_cast<char>(0x80 | (codePoint & 0x3F))};
            out.append(utf8, 2);
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
}

void AppendJsonString(std::string& out, std::string_view bytes, Encoding encoding) {
    out += '"';
    std::size_t plain = 0;
    while (plain < bytes.size() && IsPlainAscii(static_cast<std::uint8_t>(bytes[plain]))) ++plain;
    out.append(bytes.substr(0, plain));
    if (plain < bytes.size()) {
        const std::string_view rest = bytes.substr(plain);
        if (encoding == Encoding::Utf8 && !IsValidUtf8(rest)) encoding = Encoding::Latin1;
        ForEachCodePoint(rest, encoding, [&](unsigned codePoint, std::string_view utf8) {
            switch (codePoint) {
                case '"': out += "\\\""; break;
                case '\\': out += "\\\\"; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                case '\b': out += "\\b"; break;
                case '\f': out += "\\f"; break;
                default:
                    if (codePoint < 0x20) {
                        AppendHexEscape(out, "\\u", codePoint, 4);
                    } else {
                        out.append(utf8);
                    }
            }
        });
    }
    out += '"';
}

}  // namespace vexmira::cli
