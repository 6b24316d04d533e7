#include "report/text.hpp"

#include <charconv>
#include <cstdint>

namespace vexmira::report {

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

}  // namespace

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
        std::size_t length = listing::Utf8CharacterAt(text, i, codePoint);
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

std::string NumberText(std::int64_t value) {
    std::string text;
    AppendNumber(text, value);
    return text;
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

}  // namespace vexmira::report
