#include "listing/digest.hpp"

#include <algorithm>
#include <vector>

#if (defined(__x86_64__) || defined(__i386__)) && !defined(__EMSCRIPTEN__)
#define VEXMIRA_SHA_EXTENSIONS 1
#include <cpuid.h>
#include <immintrin.h>
#endif

#include "support/exception.hpp"
#include "support/file_system.hpp"

namespace vexmira::listing {

namespace {

constexpr std::array<std::uint32_t, 64> kRound = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5, 0xd807aa98, 0x12835b01,
    0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc,
    0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147,
    0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116, 0x1e376c08,
    0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3, 0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208,
    0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t Rotate(std::uint32_t value, int bits) noexcept { return (value >> bits) | (value << (32 - bits)); }

void PortableBlock(std::array<std::uint32_t, 8>& state, const std::uint8_t* block) noexcept {
    std::array<std::uint32_t, 64> w{};
    for (std::size_t i = 0; i < 16; ++i) {
        w[i] = std::uint32_t{block[4 * i]} << 24 | std::uint32_t{block[4 * i + 1]} << 16 |
               std::uint32_t{block[4 * i + 2]} << 8 | std::uint32_t{block[4 * i + 3]};
    }
    for (std::size_t i = 16; i < 64; ++i) {
        const std::uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    auto [a, b, c, d, e, f, g, h] = state;
    for (std::size_t i = 0; i < 64; ++i) {
        const std::uint32_t t1 = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
        const std::uint32_t t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    const std::array<std::uint32_t, 8> add = {a, b, c, d, e, f, g, h};
    for (std::size_t i = 0; i < 8; ++i) state[i] += add[i];
}

#if defined(VEXMIRA_SHA_EXTENSIONS)
bool HasShaExtensions() noexcept {
    static const bool has = [] {
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
        const bool ssse3 = (ecx & bit_SSSE3) != 0, sse41 = (ecx & bit_SSE4_1) != 0;
        if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
        return ssse3 && sse41 && (ebx & bit_SHA) != 0;
    }();
    return has;
}

// Runs only where HasShaExtensions says so. The instructions keep the state
// as two halves, ABEF and CDGH, and take four message words and four round
// constants at a time; each 16-byte group of the schedule is made from the
// four groups before it, between the two halves of the rounds before its
// own, so that it is ready when they end (half as fast again as making it
// just before its rounds, on the processors measured).
__attribute__((target("sha,sse4.1,ssse3"))) void ShaExtensionBlocks(std::array<std::uint32_t, 8>& state,
                                                                     const std::uint8_t* blocks,
                                                                     std::size_t count) noexcept {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state.data()));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state.data() + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    for (; count > 0; --count, blocks += 64) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        __m128i group[4];  // NOLINT(*-avoid-c-arrays): std::array drops the vector type's attributes
        for (std::size_t i = 0; i < 4; ++i) {
            group[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), byteSwap);
        }
#pragma GCC unroll 16
        for (std::size_t i = 0; i < 16; ++i) {
            __m128i input = _mm_add_epi32(group[i % 4], _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRound.data() + 4 * i)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, input);
            if (i >= 3 && i < 15) {
                // Group i+1 in place of group i-3: W[t-16] + s0(W[t-15]), plus
                // W[t-7], then s1(W[t-2]) added word by word.
                __m128i& next = group[(i + 1) % 4];
                const __m128i partial = _mm_add_epi32(_mm_sha256msg1_epu32(next, group[(i + 2) % 4]),
                                                      _mm_alignr_epi8(group[i % 4], group[(i + 3) % 4], 4));
                next = _mm_sha256msg2_epu32(partial, group[i % 4]);
            }
            input = _mm_shuffle_epi32(input, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, input);
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state.data()), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state.data() + 4), hgfe);
}
#endif

}  // namespace

std::vector<Sha256Path> Sha256Paths() {
    std::vector<Sha256Path> paths{Sha256Path::Portable};
#if defined(VEXMIRA_SHA_EXTENSIONS)
    if (HasShaExtensions()) paths.push_back(Sha256Path::ShaExtensions);
#endif
    return paths;
}

namespace {

Sha256Path FastestSha256Path() noexcept {
#if defined(VEXMIRA_SHA_EXTENSIONS)
    if (HasShaExtensions()) return Sha256Path::ShaExtensions;
#endif
    return Sha256Path::Portable;
}

}  // namespace

Sha256::Sha256() noexcept : Sha256(FastestSha256Path()) {}

Sha256::Sha256(Sha256Path path) noexcept
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19},
      path_(path) {}

void Sha256::Blocks(const std::uint8_t* blocks, std::size_t count) noexcept {
#if defined(VEXMIRA_SHA_EXTENSIONS)
    if (path_ == Sha256Path::ShaExtensions) {
        ShaExtensionBlocks(state_, blocks, count);
        return;
    }
#endif
    for (; count > 0; --count, blocks += 64) PortableBlock(state_, blocks);
}

void Sha256::Add(const void* data, std::size_t size) noexcept {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    total_bytes_ += size;
    while (size > 0) {
        if (pending_size_ == 0 && size >= pending_.size()) {
            const std::size_t whole = size / pending_.size();
            Blocks(bytes, whole);
            bytes += whole * pending_.size();
            size -= whole * pending_.size();
            continue;
        }
        const std::size_t take = std::min(size, pending_.size() - pending_size_);
        std::copy_n(bytes, take, pending_.data() + pending_size_);
        pending_size_ += take;
        bytes += take;
        size -= take;
        if (pending_size_ == pending_.size()) {
            Blocks(pending_.data(), 1);
            pending_size_ = 0;
        }
    }
}

std::string Sha256::Hex() noexcept {
    const std::uint64_t bits = total_bytes_ * 8;
    const std::uint8_t one = 0x80;
    Add(&one, 1);
    const std::uint8_t zero = 0;
    while (pending_size_ != 56) Add(&zero, 1);
    std::uint8_t length[8];
    for (int i = 0; i < 8; ++i) length[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    Add(length, sizeof length);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint32_t word : state_) {
        for (int shift = 28; shift >= 0; shift -= 4) hex += kDigits[(word >> shift) & 0xF];
    }
    return hex;
}

std::string Sha256Hex(std::string_view bytes) {
    Sha256 digest;
    digest.Add(bytes.data(), bytes.size());
    return digest.Hex();
}

std::string Sha256OfRange(support::Stream& stream, std::int64_t offset, std::int64_t end, const std::string& file) {
    if (stream.Seek(offset, support::SeekOrigin::Beginning) != offset) {
        throw support::EFOpenError(support::OpenErrorMessage(file, "Seek failed"));
    }
    Sha256 digest;
    std::vector<std::uint8_t> buffer(std::size_t{1} << 20);
    for (std::int64_t left = end - offset; left > 0;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(buffer.size())));
        const std::size_t got = stream.Read(buffer.data(), want);
        if (got == 0) throw support::EFOpenError(support::OpenErrorMessage(file, "Read failed"));
        digest.Add(buffer.data(), got);
        left -= static_cast<std::int64_t>(got);
    }
    return digest.Hex();
}

}  // namespace vexmira::listing
