#include "engine/name_hash.h"

#include <bit>
#include <cstring>

namespace tallowick::engine {
namespace {

// T is linear (T[a ^ b] = T[a] ^ T[b]), so one step is h' = A(h) ^ T[c] with
// A(h) = rotl(h, 8) ^ T[h >> 24], and eight steps are
//   h8 = A^8(h) ^ A^7(T[c0]) ^ A^6(T[c1]) ^ ... ^ T[c7].
// A^8 of a word is the XOR of A^8 of its four bytes, so eight bytes cost
// independent table reads instead of a chain of eight. Every entry is linear in
// its byte too, so a byte's entry is the XOR of its two nibbles' entries: tables
// of 16 entries (2 KB in all) stay in the first-level cache from one hit to the
// next, where tables of 256 entries (16 KB) were read back from memory.
constexpr std::uint32_t StepA(std::uint32_t h) {
    return ((h << 8) | (h >> 24)) ^ kNameHashTable[h >> 24];
}

constexpr std::uint32_t RepeatA(std::uint32_t h, int times) {
    for (int i = 0; i < times; ++i) h = StepA(h);
    return h;
}

// [position][nibble: 0 low, 1 high][value of the nibble]
using NibbleTable = std::uint32_t[2][16];

struct WideTables {
    NibbleTable word[4];       // A^8(b << 8j) for byte j of h
    NibbleTable half_word[4];  // A^4(b << 8j), for a last step of four bytes
    NibbleTable byte[8];       // A^(7-k)(T[c]) for the k-th byte of eight
};

constexpr WideTables MakeWideTables() {
    WideTables t{};
    for (int v = 0; v < 16; ++v) {
        for (int nibble = 0; nibble < 2; ++nibble) {
            const std::uint32_t b = static_cast<std::uint32_t>(v) << (4 * nibble);
            for (int j = 0; j < 4; ++j) {
                t.word[j][nibble][v] = RepeatA(b << (8 * j), 8);
                t.half_word[j][nibble][v] = RepeatA(b << (8 * j), 4);
            }
            for (int k = 0; k < 8; ++k) t.byte[k][nibble][v] = RepeatA(kNameHashTable[b], 7 - k);
        }
    }
    return t;
}

constexpr WideTables kWide = MakeWideTables();

inline std::uint32_t Entry(const NibbleTable& table, unsigned byte) {
    return table[0][byte & 0xF] ^ table[1][(byte >> 4) & 0xF];
}

// The four bytes of h carried on by A^8 (or A^4 with half_word).
inline std::uint32_t CarryOn(const NibbleTable (&tables)[4], std::uint32_t h) {
    return Entry(tables[0], h & 0xFF) ^ Entry(tables[1], (h >> 8) & 0xFF) ^
           Entry(tables[2], (h >> 16) & 0xFF) ^ Entry(tables[3], h >> 24);
}

// FoldByte on each byte of a word: bytes above 0x60 lose 0x20.
inline std::uint64_t FoldWord(std::uint64_t w) {
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    const std::uint64_t above = (((w & ~kHigh) + 0x1F1F1F1F1F1F1F1Full) | w) & kHigh;
    return w - (above >> 2);
}

}  // namespace

// Byte k of a word loaded from memory is (w >> 8k) & 0xFF.
static_assert(std::endian::native == std::endian::little);

namespace detail {

std::uint32_t NameHashWide(std::string_view name, bool fold_case, std::uint32_t h) {
    const char* p = name.data();
    std::size_t n = name.size();
    for (; n >= 8; n -= 8, p += 8) {
        std::uint64_t w;
        std::memcpy(&w, p, sizeof w);
        if (fold_case) w = FoldWord(w);
        std::uint32_t bytes = 0;
        for (int k = 0; k < 8; ++k) bytes ^= Entry(kWide.byte[k], (w >> (8 * k)) & 0xFF);
        h = CarryOn(kWide.word, h) ^ bytes;
    }
    if (n >= 4) {
        // The last four bytes of an eight-byte step are those of a four-byte one.
        std::uint32_t w;
        std::memcpy(&w, p, sizeof w);
        if (fold_case) w = static_cast<std::uint32_t>(FoldWord(w));
        std::uint32_t bytes = 0;
        for (int k = 0; k < 4; ++k) bytes ^= Entry(kWide.byte[4 + k], (w >> (8 * k)) & 0xFF);
        h = CarryOn(kWide.half_word, h) ^ bytes;
        n -= 4;
        p += 4;
    }
    for (; n > 0; --n, ++p) {
        auto c = static_cast<unsigned char>(*p);
        if (fold_case) c = FoldByte(c);
        h = StepA(h) ^ kNameHashTable[c];
    }
    return h;
}

}  // namespace detail

bool detail::SameFoldedName(std::string_view a, std::string_view b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldByte(static_cast<unsigned char>(a[i])) !=
            FoldByte(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace tallowick::engine
