#include "vdb/password.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <sys/random.h>
#if defined(__x86_64__)
#include <immintrin.h>
#if defined(__clang__)
// The C library's header spells its result type the C way.
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
#else
#include <sys/platform/x86.h>
#endif
#endif

#include "vdb/errors.h"

namespace vdb {

namespace {

constexpr std::array<uint32_t, 64> round_constants{
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

uint32_t rotate(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// One 64-byte block into the state, in plain C++.
void compress_portable(std::array<uint32_t, 8>& h, const unsigned char* block) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = uint32_t(block[4 * i]) << 24 | uint32_t(block[4 * i + 1]) << 16 |
               uint32_t(block[4 * i + 2]) << 8 | uint32_t(block[4 * i + 3]);
    for (int i = 16; i < 64; ++i) {
        uint32_t s0 = rotate(w[i - 15], 7) ^ rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        uint32_t s1 = rotate(w[i - 2], 17) ^ rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
    for (int i = 0; i < 64; ++i) {
        uint32_t t1 = k + (rotate(e, 6) ^ rotate(e, 11) ^ rotate(e, 25)) + ((e & f) ^ (~e & g)) +
                      round_constants[i] + w[i];
        uint32_t t2 = (rotate(a, 2) ^ rotate(a, 13) ^ rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        k = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += k;
}

#if defined(__x86_64__)
// The same with the processor's SHA instructions. The state is kept as the
// instructions want it, ABEF and CDGH; each group of four rounds also makes
// the next four schedule words from the four groups before it.
__attribute__((target("sha,sse4.1"))) void compress_sha_extensions(std::array<uint32_t, 8>& h,
                                                                   const unsigned char* block) {
    const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i dcba = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&h[0])), 0xB1);
    __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&h[4])), 0x1B);
    __m128i abef = _mm_alignr_epi8(dcba, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, dcba, 0xF0);
    const __m128i abef_before = abef, cdgh_before = cdgh;
    __m128i words[4];
    for (int group = 0; group < 16; ++group) {
        __m128i& w = words[group % 4];
        if (group < 4) {
            w = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * group)), byte_swap);
        } else {
            const __m128i& last = words[(group + 3) % 4];
            __m128i sum = _mm_add_epi32(_mm_sha256msg1_epu32(w, words[(group + 1) % 4]),
                                        _mm_alignr_epi8(last, words[(group + 2) % 4], 4));
            w = _mm_sha256msg2_epu32(sum, last);
        }
        __m128i input = _mm_add_epi32(w, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&round_constants[4 * group])));
        cdgh = _mm_sha256rnds2_epu32(cdgh, abef, input);
        abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(input, 0x0E));
    }
    abef = _mm_add_epi32(abef, abef_before);
    cdgh = _mm_add_epi32(cdgh, cdgh_before);
    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&h[0]), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&h[4]), _mm_alignr_epi8(dchg, feba, 8));
}

// Every logon runs a hundred rounds of the hash: where the processor has
// the SHA instructions they do the work in a fraction of the time. The C
// library has asked the processor once at start; asking again with cpuid
// would cost more than the whole hash in a virtual machine.
bool processor_has_sha_extensions() { return CPU_FEATURE_ACTIVE(SHA) && CPU_FEATURE_ACTIVE(SSE4_1); }

void compress(std::array<uint32_t, 8>& h, const unsigned char* block) {
    static const bool has_sha_extensions = processor_has_sha_extensions();
    if (has_sha_extensions)
        compress_sha_extensions(h, block);
    else
        compress_portable(h, block);
}
#else
void compress(std::array<uint32_t, 8>& h, const unsigned char* block) { compress_portable(h, block); }
#endif

constexpr char hex_digits[] = "0123456789abcdef";

// Two lower-case hex digits per byte at out.
void write_hex(const unsigned char* bytes, size_t size, char* out) {
    for (size_t i = 0; i < size; ++i) {
        out[2 * i] = hex_digits[bytes[i] >> 4];
        out[2 * i + 1] = hex_digits[bytes[i] & 15];
    }
}

std::string to_hex(const unsigned char* bytes, size_t size) {
    std::string out(2 * size, '0');
    write_hex(bytes, size, out.data());
    return out;
}

constexpr size_t digest_hex_size = 2 * 32;

// The SHA-256 digest of size bytes at data, as 64 lower-case hex digits at
// out. out may overlap data: it is written once all of data has been read.
void sha256_hex_into(const char* data, size_t size, char* out) {
    std::array<uint32_t, 8> h{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    size_t full = size / 64 * 64;
    for (size_t i = 0; i < full; i += 64) compress(h, reinterpret_cast<const unsigned char*>(data + i));
    unsigned char tail[128] = {};
    size_t rest = size - full;
    std::memcpy(tail, data + full, rest);
    tail[rest] = 0x80;
    size_t tail_size = rest < 56 ? 64 : 128;
    uint64_t bits = uint64_t(size) * 8;
    for (int i = 0; i < 8; ++i) tail[tail_size - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
    for (size_t i = 0; i < tail_size; i += 64) compress(h, tail + i);
    unsigned char digest[32];
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<unsigned char>(h[i] >> (24 - 8 * j));
    write_hex(digest, sizeof digest, out);
}

// Many rounds make guessing from a stolen dictionary slow, while a logon stays cheap.
constexpr int hash_rounds = 100;

// Round 1 hashes salt + password; every further round hashes the previous
// digest's hex digits + salt, in one buffer that each round overwrites.
std::string salted_hash(std::string_view salt, std::string_view password) {
    std::string first = std::string(salt) + std::string(password);
    std::string rounds(digest_hex_size, '0');
    rounds += salt;
    sha256_hex_into(first.data(), first.size(), rounds.data());
    for (int i = 1; i < hash_rounds; ++i) sha256_hex_into(rounds.data(), rounds.size(), rounds.data());
    rounds.resize(digest_hex_size);
    return rounds;
}

bool constant_time_equal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

}  // namespace

std::string sha256_hex(std::string_view data) {
    std::string out(digest_hex_size, '0');
    sha256_hex_into(data.data(), data.size(), out.data());
    return out;
}

std::string hash_password(std::string_view password) {
    unsigned char salt[16];
    if (getrandom(salt, sizeof salt, 0) != static_cast<ssize_t>(sizeof salt))
        fail(code::io_failure, "no random bytes for a password salt");
    std::string salt_hex = to_hex(salt, sizeof salt);
    return salt_hex + "$" + salted_hash(salt_hex, password);
}

bool password_matches(std::string_view password, std::string_view stored) {
    size_t dollar = stored.find('$');
    if (dollar == std::string_view::npos) return false;
    return constant_time_equal(salted_hash(stored.substr(0, dollar), password),
                               stored.substr(dollar + 1));
}

bool is_password_hash(std::string_view text) {
    if (text.size() != 32 + 1 + 64 || text[32] != '$') return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (i != 32 && !(std::isdigit(static_cast<unsigned char>(text[i])) || (text[i] >= 'a' && text[i] <= 'f')))
            return false;
    return true;
}

}  // namespace vdb
