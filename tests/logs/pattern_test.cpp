#include "logs/pattern.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "../../fuzz/pattern_fuzz_input.h"

namespace tallowick::logs {
namespace {

struct MatchCase {
    const char* pattern;
    const char* text;
    bool ignore_case;
    bool expected;
};

void check(const std::vector<MatchCase>& cases) {
    for (const MatchCase& c : cases)
        EXPECT_EQ(MatchPattern(c.text, c.pattern, c.ignore_case), c.expected)
            << "pattern \"" << c.pattern << "\" text \"" << c.text << "\" ignore_case " << c.ignore_case;
}

TEST(MatchPattern, StarsBacktrack) {
    check({
        {"/images/*", "/images/a.gif", false, true},
        {"/images/*", "/index.html", false, false},
        {"*", "", false, true},
        {"", "", false, true},
        {"", "a", false, false},
        {"a*", "a", false, true},
        {"*a", "ba", false, true},
        {"*a", "ab", false, false},
        {"a*a", "a", false, false},
        {"a*b*c", "axxbyyc", false, true},
        {"a*b*c", "axxbyy", false, false},
        {"*ab", "aab", false, true},          // the star must give back what it took
        {"*aab", "aaab", false, true},
        {"*a*b", "xaybzb", false, true},
        {"**x**", "x", false, true},
        {"*.gif", "/a.gif.html", false, false},
        {"*.gif*", "/a.gif.html", false, true},
    });
}

TEST(MatchPattern, QuestionMarksAndSets) {
    check({
        {"a?c", "abc", false, true},
        {"a?c", "ac", false, false},
        {"?", "", false, false},
        {"??", "a", false, false},
        {"*?", "", false, false},
        {"[abc]x", "bx", false, true},
        {"[abc]x", "dx", false, false},
        {"[abc]", "", false, false},
        {"[a\\]]", "]", false, true},         // "\" inside a set is literal
        {"[\\\\]", "\\", false, true},
        {"[a-c]", "b", false, false},         // no ranges: "-" is one more member
        {"[a-c]", "-", false, true},
        {"[]", "a", false, false},            // the empty set never matches
        {"x[]", "x", false, false},
        {"*[]*", "abc", false, false},
        {"[abc", "a", false, false},          // a set without "]" fails
        {"*[abc", "xa", false, false},
        {"[a\\", "a", false, false},
        {"*[xy]z", "axaybz", false, false},
        {"*[xy]z", "axaybyz", false, true},
    });
}

TEST(MatchPattern, EscapesCaseAndInversion) {
    check({
        {"\\*", "*", false, true},
        {"\\*", "a", false, false},
        {"\\?", "?", false, true},
        {"\\?", "x", false, false},
        {"a\\", "a", false, false},           // a trailing "\" fails
        {"a\\", "a\\", false, false},
        {"\\\\", "\\", false, true},
        {"ABC", "abc", false, false},
        {"ABC", "abc", true, true},
        {"[A]", "a", true, true},
        {"[A]", "a", false, false},
        {"\\A", "a", true, true},
        {"*.GIF", "/x.gif", true, true},
        {"!abc", "abc", false, false},
        {"!abc", "abd", false, true},
        {"!*.gif", "/a.gif", false, false},
        {"!*.gif", "/a.html", false, true},
        {"!", "", false, false},
        {"!", "a", false, true},
        {"!!a", "!a", false, false},          // only the first "!" inverts
    });
}

TEST(MatchPattern, NetworkMatchComparesWholeAddresses) {
    check({
        {"#10.0.0.0/8", "10.200.3.4", false, true},
        {"#10.0.0.0/8", "11.0.0.1", false, false},
        {"#192.168.1.0/24", "192.168.1.0", false, true},
        {"#192.168.1.0/24", "192.168.1.255", false, true},
        {"#192.168.1.0/24", "192.168.2.0", false, false},   // the first address past the network
        {"#192.168.1.0/24", "192.168.0.255", false, false},
        {"#192.168.1.0/24", "192.200.1.1", false, false},   // same first number, other network
        {"#192.168.1.64/26", "192.168.1.127", false, true},
        {"#192.168.1.64/26", "192.168.1.128", false, false},
        {"#192.168.1.7", "192.168.1.7", false, true},       // no "/bits": one address
        {"#192.168.1.7", "192.168.1.8", false, false},
        {"#192.168.1.7/32", "192.168.1.7", false, true},
        {"#0.0.0.0/0", "255.255.255.255", false, true},
        {"#0.0.0.0/0", "host.example.com", false, false},    // a name is no address
        {"#10.0.0.0/8", "10.1.1", false, false},
        {"#10.0.0.0/8", "10.1.1.1.1", false, false},
        {"#10.0.0.0/8", "10.1.1.256", false, false},
        {"#10.0.0.0/33", "10.1.1.1", false, false},
        {"#10.0.0.0/", "10.1.1.1", false, false},
        {"#10.0.0.0/x", "10.1.1.1", false, false},
        {"#10.0.0/8", "10.1.1.1", false, false},
        {"!#10.0.0.0/8", "10.1.1.1", false, true},          // "!" does not invert it
        {"!#10.0.0.0/8", "11.1.1.1", false, false},
        {"a#10.0.0.0/8", "a#10.0.0.0/8", false, true},      // "#" elsewhere is literal
    });
}

TEST(ParseIpv4, OnlyWholeDottedQuads) {
    EXPECT_EQ(parse_ipv4("0.0.0.0"), 0u);
    EXPECT_EQ(parse_ipv4("10.1.2.3"), 0x0A010203u);
    EXPECT_EQ(parse_ipv4("255.255.255.255"), 0xFFFFFFFFu);
    for (const char* bad : {"", "1.2.3", "1.2.3.4.", ".1.2.3.4", "1..2.3", "256.0.0.1", "1.2.3.4 ",
                            " 1.2.3.4", "1.2.3.0004", "a.b.c.d", "1.2.3.-4"})
        EXPECT_FALSE(parse_ipv4(bad).has_value()) << '"' << bad << '"';
}

// The matcher has one backtrack point: fifty stars against ten thousand
// characters answer at once, where a matcher recursing per star takes forever.
TEST(MatchPattern, ManyStarsAgainstALongTextAnswerAtOnce) {
    const std::string text(10000, 'a');
    std::string no_match;
    std::string match;
    for (int i = 0; i < 50; ++i) {
        no_match += "*a";
        match += "*a";
    }
    no_match += "*b";
    match += "*";
    const std::string thousands_of_stars(5000, '*');

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(MatchPattern(text, no_match, false));
    EXPECT_TRUE(MatchPattern(text, match, true));
    EXPECT_TRUE(MatchPattern(text, thousands_of_stars, false));
    EXPECT_FALSE(MatchPattern(text, thousands_of_stars + "b", false));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(2));
}

// The fuzz target's own checks on a few hostile inputs: byte 0 holds the flags,
// then pattern NUL text.
TEST(MatchPattern, FuzzTargetChecksHoldOnHostileInputs) {
    auto input = [](char flags, std::string_view pattern, std::string_view text) {
        std::string s(1, flags);
        s.append(pattern);
        s.push_back('\0');
        s.append(text);
        return s;
    };
    const std::vector<std::string> inputs = {
        input(0, "[", "a"),
        input(1, "[\\", "["),
        input(0, "\\", "\\"),
        input(0, "*\\", "abc\\"),
        input(1, "*[]*", ""),
        input(0, "!#", "1.2.3.4"),
        input(0, "#1.2.3.4/99999999999", "1.2.3.4"),
        input(0, std::string(4000, '*') + "[a", std::string(4000, 'a')),
        input(1, std::string(2000, '?') + "*", std::string(1999, 'x')),
        input(0, "a*b*c*d*e*f*g*h*i*j*k", std::string(3000, 'a') + "bcdefghij"),
        std::string(1, '\0'),
        std::string("\x01no-text-at-all"),
        std::string("\x00\xff\xfe[\xff]\x00\xff", 8),
    };
    for (const std::string& s : inputs) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(s.data());
        EXPECT_TRUE(fuzz::run_pattern_input({bytes, s.size()})) << s.substr(0, 40);
    }
}

// Patterns of stars and plain characters take a quicker road; a pattern that
// spells each character as a one-character set takes the general one, and both
// must always agree.
TEST(MatchPattern, StarPatternsAgreeWithTheGeneralMatcher) {
    std::uint32_t seed = 12345;
    auto next = [&seed](std::uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    constexpr std::string_view kPatternChars = "ab.A*";
    constexpr std::string_view kTextChars = "abB.1";
    for (int round = 0; round < 20000; ++round) {
        std::string pattern, general, text;
        // Up to twelve characters: more than four pieces between stars go the general way.
        for (std::uint32_t i = next(13); i > 0; --i) {
            const char c = kPatternChars[next(kPatternChars.size())];
            pattern += c;
            general += c == '*' ? std::string("*") : std::string("[") + c + "]";
        }
        for (std::uint32_t i = next(15); i > 0; --i) text += kTextChars[next(kTextChars.size())];
        const Pattern prepared(pattern);
        const bool letter = text.find_first_not_of(".1") != std::string::npos;
        for (const bool fold : {false, true}) {
            ASSERT_EQ(MatchPattern(text, pattern, fold), MatchPattern(text, general, fold))
                << "text \"" << text << "\" pattern \"" << pattern << "\" ignore case " << fold;
            // A pattern that needs a letter matches no text without one.
            if (prepared.NeedsLetter() && !letter) {
                ASSERT_FALSE(prepared.Matches(text, fold)) << pattern;
            }
        }
    }
    // An inverted pattern matches the addresses it does not name.
    EXPECT_FALSE(Pattern("!*.com").NeedsLetter());
    EXPECT_TRUE(Pattern("!*.com").Matches("10.0.0.1", true));
}

}  // namespace
}  // namespace tallowick::logs
