#include "engine/name_hash.h"

#include <cstring>

namespace tallowick::engine {
namespace {

// T is linear (T[a ^ b] = T[a] ^ T[b]), so one step is h' = A(h) ^ T[c] with
// A(h) = rotl(h, 8) ^ T[h >> 24], and eight steps are
//   h8 = A^8(h) ^ A^7(T[c0]) ^ A^6(T[c1]) ^ ... ^ T[c7].
// A^8 of a word is the XOR of A^8 of its four bytes, so eight bytes cost twelve
// independent table reads instead of a chain of eight.
constexpr std::uint32_t StepA(std::uint32_t h) {
    return ((h << 8) | (h >> 24)) ^ kNameHashTable[h >> 24];
}

constexpr std::uint32_t RepeatA(std::uint32_t h, int times) {
    for (int i = 0; i < times; ++i) h = StepA(h);
    return h;
}

struct WideTables {
    std::uint32_t word[4][256];       // A^8(b << 8j)
    std::uint32_t half_word[4][256];  // A^4(b << 8j), for a last step of four bytes
    std::uint32_t byte[2][8][256];    // [fold][k]: A^(7-k)(T[c]) for the k-th byte of eight
};

constexpr WideTables MakeWideTables() {
    WideTables t{};
    for (int b = 0; b < 256; ++b) {
        for (int j = 0; j < 4; ++j) {
            t.word[j][b] = RepeatA(static_cast<std::uint32_t>(b) << (8 * j), 8);
            t.half_word[j][b] = RepeatA(static_cast<std::uint32_t>(b) << (8 * j), 4);
        }
        for (int fold = 0; fold < 2; ++fold) {
            const unsigned char c = fold ? FoldByte(static_cast<unsigned char>(b))
                                         : static_cast<unsigned char>(b);
            for (int k = 0; k < 8; ++k) t.byte[fold][k][b] = RepeatA(kNameHashTable[c], 7 - k);
        }
    }
    return t;
}

constexpr WideTables kWide = MakeWideTables();

}  // namespace

namespace detail {

std::uint32_t NameHashWide(std::string_view name, bool fold_case, std::uint32_t h) {
    const auto* p = reinterpret_cast<const unsigned char*>(name.data());
    std::size_t n = name.size();
    const auto& bytes = kWide.byte[fold_case ? 1 : 0];
    for (; n >= 8; n -= 8, p += 8) {
        h = kWide.word[0][h & 0xFF] ^ kWide.word[1][(h >> 8) & 0xFF] ^
            kWide.word[2][(h >> 16) & 0xFF] ^ kWide.word[3][h >> 24] ^
            bytes[0][p[0]] ^ bytes[1][p[1]] ^ bytes[2][p[2]] ^ bytes[3][p[3]] ^
            bytes[4][p[4]] ^ bytes[5][p[5]] ^ bytes[6][p[6]] ^ bytes[7][p[7]];
    }
    if (n >= 4) {
        // The last four bytes of an eight-byte step are those of a four-byte one.
        h = kWide.half_word[0][h & 0xFF] ^ kWide.half_word[1][(h >> 8) & 0xFF] ^
            kWide.half_word[2][(h >> 16) & 0xFF] ^ kWide.half_word[3][h >> 24] ^
            bytes[4][p[0]] ^ bytes[5][p[1]] ^ bytes[6][p[2]] ^ bytes[7][p[3]];
        n -= 4;
        p += 4;
    }
    for (; n > 0; --n, ++p) h = StepA(h) ^ bytes[7][*p];
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
