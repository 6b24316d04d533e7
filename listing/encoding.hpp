#pragma once
// How a listing's texts are read: which bytes a path or a name holds, and
// how they become characters. Deciding it is the listing's; showing it is the
// reports'.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vexmira::listing {

// How a text's bytes are read. Names inside an archive are 8-bit text of the
// system's code page, read as Latin-1 (each byte the code point of the same
// value). Paths are read as UTF-8 when they are valid UTF-8, else as Latin-1,
// so that no byte is ever lost.
enum class Encoding { Utf8, Latin1 };

bool IsValidUtf8(std::string_view bytes) noexcept;
Encoding PathEncoding(std::string_view path) noexcept;
std::string_view EncodingName(Encoding encoding) noexcept;  // "utf-8" or "latin-1"

// The length of the UTF-8 character at bytes[i] and its code point; length 0
// where the bytes there are not UTF-8.
std::size_t Utf8CharacterAt(std::string_view bytes, std::size_t i, std::uint32_t& codePoint) noexcept;

}  // namespace vexmira::listing
