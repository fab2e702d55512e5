// Wildcard patterns: the matcher behind the filters, the organisation map, the
// folder groups and the other pattern lists of the settings.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallowick::logs {

// MatchPattern: whether text matches pattern.
//   *       any run of characters, the empty run included
//   ?       any one character
//   [abc]   one character of the set; "\" inside takes the next one literally;
//           "[]" never matches, and a set without its "]" fails
//   \c      c literally; a trailing "\" fails
//   #a.b.c.d/bits   (the whole pattern) a network match: the text is an IPv4
//           address inside that network; a missing "/bits" means one address
// A leading "!" inverts the result, except for a network match. With ignore_case,
// ASCII letters compare without regard to case. The matcher is iterative with one
// backtrack point, so its time is bounded by text length times pattern length.
bool MatchPattern(std::string_view text, std::string_view pattern, bool ignore_case);

// A pattern prepared once for matching many texts, as MatchPattern matches it.
// It refers to the pattern's text, which must outlive it.
class Pattern {
public:
    explicit Pattern(std::string_view pattern);
    bool Matches(std::string_view text, bool ignore_case) const;
    // True when every text the pattern matches holds an ASCII letter (a pattern
    // of plain characters and stars with a letter in it): such a pattern need not
    // be tried on a numeric address.
    bool NeedsLetter() const { return needs_letter_; }

private:
    void SetByPieces();
    bool MatchPieces(std::string_view text, bool ignore_case) const;

    std::string_view body_;  // without a leading "!"
    bool invert_ = false;
    // Stars and plain characters only: the pieces before the first star, after
    // the last and between (up to four; more go to the general matcher).
    bool by_pieces_ = false, has_star_ = false, needs_letter_ = false;
    std::string_view head_, tail_;
    std::array<std::string_view, 4> middle_{};
    std::size_t middle_count_ = 0;
};

// A dotted IPv4 address ("10.0.0.1") as a 32-bit number; nullopt unless the whole
// text is four decimal parts of 0..255.
std::optional<std::uint32_t> parse_ipv4(std::string_view text);

}  // namespace tallowick::logs
