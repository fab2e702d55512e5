#include "engine/name_hash.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace tallowick::engine {
namespace {

// One step of polynomial division, bit by bit, without the table.
std::uint32_t BitwiseCrcStep(std::uint32_t byte) {
    std::uint32_t r = byte << 24;
    for (int i = 0; i < 8; ++i) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
    return r;
}

TEST(NameHash, TableIsTheMsbFirstCrc32Table) {
    EXPECT_EQ(kNameHashTable[1], 0x04C11DB7u);
    // Driven as a plain CRC, the table must give the published CRC-32/POSIX check
    // value of "123456789" (init 0, no reflection, final XOR all ones).
    std::uint32_t crc = 0;
    for (unsigned char c : std::string("123456789")) crc = (crc << 8) ^ kNameHashTable[(crc >> 24) ^ c];
    EXPECT_EQ(crc ^ 0xFFFFFFFFu, 0x765E7680u);
}

TEST(NameHash, RotatesAndIndexesWithTheHighByteTakenBeforeTheRotation) {
    // A reference written from the rule, with the table entries computed bitwise.
    auto reference = [](std::string_view s, bool fold) {
        std::uint32_t h = 0;
        for (unsigned char c : s) {
            if (fold && c > 0x60) c = static_cast<unsigned char>(c - 0x20);
            const std::uint32_t top = h >> 24;
            h = ((h << 8) | top) ^ BitwiseCrcStep(c ^ top);
        }
        return h;
    };
    for (std::string_view s : {"", "a", "ab", "/index.html", "www.example.com/a/b?c=d",
                               "\xff\x80\x01 binary"})
        EXPECT_EQ(NameHash(s), reference(s, false)) << s;
    EXPECT_EQ(NameHash(""), 0u);
    // The run-time hash takes eight bytes at a time: every length and tail, every byte.
    std::mt19937 rng(11);
    for (int i = 0; i < 3000; ++i) {
        std::string s(rng() % 41, '\0');
        for (char& c : s) c = static_cast<char>(rng() % 256);
        for (bool fold : {false, true}) ASSERT_EQ(NameHash(s, fold), reference(s, fold)) << i;
    }
    // Compile-time evaluation takes the byte-wise path and must agree.
    static_assert(NameHash("/Index.HTML", true) == NameHash("/INDEX.HTML"));
    constexpr std::uint32_t kAtCompileTime = NameHash("www.example.com/a/b?c=d", true);
    EXPECT_EQ(kAtCompileTime, reference("www.example.com/a/b?c=d", true));
}

TEST(NameHash, CaseFoldingReducesEveryByteAboveX60) {
    EXPECT_EQ(NameHash("Index.HTML", true), NameHash("index.html", true));
    EXPECT_EQ(NameHash("Index.HTML", true), NameHash("INDEX.HTML", false));
    EXPECT_NE(NameHash("Index.HTML", false), NameHash("index.html", false));
    // Not only letters: "{" folds onto "[", 0xE9 to 0xC9 (which itself folds on to
    // 0xA9: one subtraction, not a mapping onto upper case); "@" stays.
    EXPECT_EQ(NameHash("{", true), NameHash("[", true));
    EXPECT_EQ(NameHash("\xe9", true), NameHash("\xc9", false));
    EXPECT_NE(NameHash("\xe9", true), NameHash("\xc9", true));
    EXPECT_NE(NameHash("@", true), NameHash("`", true));

    // SameName must agree with the hash's folding for every pair of bytes, or a
    // name would be missed (or merged) after hashing alike.
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            const std::string sa(1, static_cast<char>(a)), sb(1, static_cast<char>(b));
            for (bool fold : {false, true}) {
                ASSERT_EQ(SameName(sa, sb, fold), NameHash(sa, fold) == NameHash(sb, fold))
                    << a << " " << b << " " << fold;
            }
        }
    }
    EXPECT_FALSE(SameName("abc", "abcd", true));
}

TEST(NameHash, GoesOnFromTheHashOfALeadingPart) {
    // Every split of texts of every length around the eight-byte steps.
    std::mt19937 rng(5);
    for (std::size_t size = 0; size <= 40; ++size) {
        std::string text(size, ' ');
        for (char& c : text) c = static_cast<char>(rng());
        for (std::size_t cut = 0; cut <= size; ++cut) {
            const std::string_view head = std::string_view(text).substr(0, cut);
            const std::string_view tail = std::string_view(text).substr(cut);
            for (bool fold : {false, true})
                ASSERT_EQ(NameHashFrom(NameHash(head, fold), tail, fold), NameHash(text, fold))
                    << size << " " << cut << " " << fold;
        }
    }
}

}  // namespace
}  // namespace tallowick::engine
