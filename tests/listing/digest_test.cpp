// SHA-256 against the published test vectors, fed whole and in pieces that
// cross the 64-byte blocks and the padding boundary.

#include <gtest/gtest.h>

#include <string>

#include "listing/digest.hpp"
#include "support/exception.hpp"
#include "support/memory_stream.hpp"

namespace vexmira::listing {
namespace {

std::string DigestOn(Sha256Path path, std::string_view bytes) {
    Sha256 digest(path);
    digest.Add(bytes.data(), bytes.size());
    return digest.Hex();
}

TEST(Sha256, PublishedVectorsOnEveryPath) {
    for (const Sha256Path path : Sha256Paths()) {
        SCOPED_TRACE("path " + std::to_string(static_cast<int>(path)));
        EXPECT_EQ(DigestOn(path, ""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
        EXPECT_EQ(DigestOn(path, "abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        EXPECT_EQ(DigestOn(path, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
                  "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
        EXPECT_EQ(DigestOn(path, std::string(1000000, 'a')),
                  "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    }
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// Every length up to a few blocks, so each schedule group and the padding
// meet every path with every byte value.
TEST(Sha256, EveryPathAgreesWithThePortableRounds) {
    std::string bytes;
    for (int i = 0; i < 700; ++i) bytes += static_cast<char>((i * 131 + 17) ^ (i >> 3));
    for (const Sha256Path path : Sha256Paths()) {
        for (std::size_t length = 0; length <= bytes.size(); length += 7) {
            const std::string_view part(bytes.data(), length);
            ASSERT_EQ(DigestOn(path, part), DigestOn(Sha256Path::Portable, part))
                << "path " << static_cast<int>(path) << ", " << length << " bytes";
        }
    }
}

TEST(Sha256, PiecesGiveTheSameDigestAsTheWhole) {
    std::string text;
    for (int i = 0; i < 300; ++i) text += static_cast<char>(i * 7);
    for (const std::size_t piece : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 200u}) {
        Sha256 digest;
        for (std::size_t at = 0; at < text.size(); at += piece) digest.Add(text.data() + at, std::min(piece, text.size() - at));
        EXPECT_EQ(digest.Hex(), Sha256Hex(text)) << "pieces of " << piece;
    }
}

TEST(Sha256, RangeOfAStream) {
    const std::string bytes = "xxabcyy";
    support::MemoryStream stream(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(Sha256OfRange(stream, 2, 5, "f"), Sha256Hex("abc"));
    EXPECT_THROW(Sha256OfRange(stream, 5, 9, "f"), support::Exception) << "the range runs past the end";
}

}  // namespace
}  // namespace vexmira::listing
