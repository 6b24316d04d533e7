#pragma once
// How texts reach the reader. Plain output is for reading: every text that
// comes from a file or the file system is shown with control characters as
// \xNN. JSON is the lossless form: valid UTF-8 that gives the original bytes
// back once the decoding named beside it is reversed.

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "listing/encoding.hpp"

namespace vexmira::report {

using listing::Encoding;
using listing::EncodingName;
using listing::IsValidUtf8;
using listing::PathEncoding;

// The bytes as UTF-8. A text that is to be read as UTF-8 but is not valid
// UTF-8 is read as Latin-1 instead, here and below: output is never broken.
void AppendUtf8(std::string& out, std::string_view bytes, Encoding encoding);
std::string ToUtf8(std::string_view bytes, Encoding encoding);

// For a terminal: decoded as above, with every control character (U+0000 to
// U+001F, U+007F to U+009F) written as \xNN, and a backslash that is followed
// by 'x' written as \x5C, so that every "\x" shown starts an escape.
void AppendTerminalText(std::string& out, std::string_view bytes, Encoding encoding);
std::string TerminalText(std::string_view bytes, Encoding encoding);

// For a line whose parts may or may not have been through TerminalText
// already (standard error's lines): control characters as \xNN, any byte that
// is not part of a UTF-8 character read as Latin-1. Backslashes stay as they
// are, so a part already shown as on a terminal comes out unchanged; a part
// whose bytes are known (a path, a name) is best passed through TerminalText
// first, so that its own "\x" is marked too.
void AppendTerminalLine(std::string& out, std::string_view text);

// The decimal digits of `value` (inline: JSON and CSV write a dozen a row).
inline void AppendNumber(std::string& out, std::int64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}
std::string NumberText(std::int64_t value);

// A JSON string, quotes included.
void AppendJsonString(std::string& out, std::string_view bytes, Encoding encoding);

}  // namespace vexmira::report
