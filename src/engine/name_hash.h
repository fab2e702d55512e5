// The 32-bit name hash shared by the counting tables, the address-to-name table,
// report names and the page and download extension checks. It is part of the
// history database format (some lists are saved as hashes), so it must never change.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

namespace tallowick::engine {

// The most-significant-bit-first CRC-32 table of polynomial 0x04C11DB7.
inline constexpr std::array<std::uint32_t, 256> kNameHashTable = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t r = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
        table[i] = r;
    }
    return table;
}();

// The case folding of the counting tables: every byte above 0x60 loses 0x20. This
// folds a-z to A-Z and also moves 0x7B..0xFF down ("{" becomes "["), which is how
// the saved hashes were always made.
constexpr unsigned char FoldByte(unsigned char c) {
    return c > 0x60 ? static_cast<unsigned char>(c - 0x20) : c;
}

namespace detail {
// The same hash eight bytes at a time (it is called once per hit and table),
// going on from the hash h of the text before name.
std::uint32_t NameHashWide(std::string_view name, bool fold_case, std::uint32_t h = 0);
}  // namespace detail

// NameHash: h starts at 0; per byte h = rotl(h, 8) XOR T[byte XOR (h >> 24)], with
// the byte folded first when fold_case is set. No final XOR.
constexpr std::uint32_t NameHash(std::string_view name, bool fold_case = false) {
    if (!std::is_constant_evaluated()) return detail::NameHashWide(name, fold_case);
    std::uint32_t h = 0;
    for (char ch : name) {
        auto c = static_cast<unsigned char>(ch);
        if (fold_case) c = FoldByte(c);
        h = ((h << 8) | (h >> 24)) ^ kNameHashTable[c ^ (h >> 24)];
    }
    return h;
}

// The hash of a text that goes on from one whose hash is prefix_hash:
// NameHashFrom(NameHash(a), b) == NameHash(a + b). A name and its leading part
// (a file and its folder, a referrer and its site) are so hashed in one pass.
inline std::uint32_t NameHashFrom(std::uint32_t prefix_hash, std::string_view more,
                                  bool fold_case = false) {
    return detail::NameHashWide(more, fold_case, prefix_hash);
}

namespace detail {
// SameName of two names of one length that differ byte for byte.
bool SameFoldedName(std::string_view a, std::string_view b);
}  // namespace detail

// Whether two names are the same name under the folding that NameHash uses.
// Inline: every table lookup that finds its item ends here.
inline bool SameName(std::string_view a, std::string_view b, bool fold_case) {
    if (a.size() != b.size()) return false;
    // Most matches are spelled alike: try the plain comparison first.
    if (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0) return true;
    return fold_case && detail::SameFoldedName(a, b);
}

}  // namespace tallowick::engine
