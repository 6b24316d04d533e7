#pragma once
// A paused listing as a resume token: a string of fixed size that holds where
// the walk stands and what it has learnt so far, bound to the listing's name
// and to the bytes it goes on from. Only two places of the file are compared
// on resume: the archive header and the header and name of the entry the
// listing paused after; bytes elsewhere may differ unnoticed. Every field is
// checked against the others and the file before it is trusted, since a
// token is input like any other: the checksum finds damage, not forgery.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

#include "listing/examine.hpp"
#include "support/stream.hpp"

namespace vexmira::listing {

// A token that is damaged, forged, or made for another name or other bytes.
// An invalid_argument, so that Python sees a ValueError.
class InvalidResumeToken : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

inline constexpr std::size_t kResumeTokenSize = 129;

// The token of the listing of `file` paused at `at`, reading the headers it
// is bound to from `input`, the stream that listing read. Raises EFOpenError
// when they no longer read as the walk read them (the file changed meanwhile).
std::string EncodeResumeToken(const ListingCheckpoint& at, const std::string& file, support::Stream& input);

// The checkpoint `token` holds for the listing of `file` whose bytes `input`
// reads; raises InvalidResumeToken unless the token is whole, its fields agree
// with each other and with the file, and the bytes it is bound to are there.
ListingCheckpoint DecodeResumeToken(std::string_view token, const std::string& file, support::Stream& input);

}  // namespace vexmira::listing
