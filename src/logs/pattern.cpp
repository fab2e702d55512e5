#include "logs/pattern.h"

#include <algorithm>

namespace tallowick::logs {

namespace {

constexpr char fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// "#address/bits": whether the text's address lies in the network. Whole 32-bit
// addresses are compared; a text that is no IPv4 address never matches.
bool network_match(std::string_view text, std::string_view spec) {
    std::string_view address = spec;
    int bits = 32;
    if (const auto slash = spec.find('/'); slash != std::string_view::npos) {
        address = spec.substr(0, slash);
        const std::string_view b = spec.substr(slash + 1);
        if (b.empty() || b.size() > 2) return false;
        bits = 0;
        for (char c : b) {
            if (!is_digit(c)) return false;
            bits = bits * 10 + (c - '0');
        }
        if (bits > 32) return false;
    }
    const auto net = parse_ipv4(address);
    const auto host = parse_ipv4(text);
    if (!net || !host) return false;
    // A shift by 32 is undefined, hence the 64-bit intermediate.
    const auto mask = static_cast<std::uint32_t>(~((std::uint64_t{1} << (32 - bits)) - 1));
    return (*net & mask) == (*host & mask);
}

enum class Step { match, mismatch, fail };

// Tries one pattern element (anything but "*") at pattern[p] against c.
// Sets next to the position after the element. fail means the pattern is broken
// there and can never match (an unterminated set, a trailing "\").
Step match_one(std::string_view pattern, std::size_t p, char c, bool ignore_case, std::size_t& next) {
    auto same = [ignore_case](char a, char b) { return ignore_case ? fold(a) == fold(b) : a == b; };
    const char pc = pattern[p];
    if (pc == '?') {
        next = p + 1;
        return Step::match;
    }
    if (pc == '\\') {
        if (p + 1 >= pattern.size()) return Step::fail;
        next = p + 2;
        return same(pattern[p + 1], c) ? Step::match : Step::mismatch;
    }
    if (pc == '[') {
        bool hit = false;
        std::size_t i = p + 1;
        while (i < pattern.size() && pattern[i] != ']') {
            if (pattern[i] == '\\') {
                if (++i >= pattern.size()) break;
            }
            if (same(pattern[i], c)) hit = true;
            ++i;
        }
        if (i >= pattern.size()) return Step::fail;
        next = i + 1;
        return hit ? Step::match : Step::mismatch;
    }
    next = p + 1;
    return same(pc, c) ? Step::match : Step::mismatch;
}

bool match_body(std::string_view text, std::string_view pattern, bool ignore_case) {
    std::size_t t = 0, p = 0;
    // The one backtrack point: the pattern position after the last "*" and the
    // text position that star's run would end at next.
    std::size_t star_p = std::string_view::npos, star_t = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            while (p < pattern.size() && pattern[p] == '*') ++p;   // "**" is "*"
            if (p == pattern.size()) return true;                   // a final star takes the rest
            star_p = p;
            star_t = t;
            continue;
        }
        Step step = Step::mismatch;
        std::size_t next = p;
        if (p < pattern.size()) step = match_one(pattern, p, text[t], ignore_case, next);
        if (step == Step::fail) return false;
        if (step == Step::match) {
            p = next;
            ++t;
            continue;
        }
        if (star_p == std::string_view::npos) return false;
        // Let the star take one more character and retry after it.
        p = star_p;
        t = ++star_t;
    }
    // The text is used up: what remains of the pattern may only be stars.
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool same_piece(const char* text, std::string_view piece, bool ignore_case) {
    for (std::size_t i = 0; i < piece.size(); ++i)
        if (ignore_case ? fold(text[i]) != fold(piece[i]) : text[i] != piece[i]) return false;
    return true;
}

// The general matcher for a pattern without its "!".
bool match_whole(std::string_view text, std::string_view pattern, bool ignore_case) {
    // The network match answers at once.
    if (!pattern.empty() && pattern.front() == '#') return network_match(text, pattern.substr(1));
    return match_body(text, pattern, ignore_case);
}

}  // namespace

std::optional<std::uint32_t> parse_ipv4(std::string_view text) {
    std::uint32_t value = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != '.') return std::nullopt;
            text.remove_prefix(1);
        }
        std::size_t digits = 0;
        unsigned n = 0;
        while (digits < text.size() && is_digit(text[digits])) {
            n = n * 10 + static_cast<unsigned>(text[digits] - '0');
            if (++digits > 3) return std::nullopt;
        }
        if (digits == 0 || n > 255) return std::nullopt;
        text.remove_prefix(digits);
        value = value << 8 | n;
    }
    if (!text.empty()) return std::nullopt;
    return value;
}

// Patterns made of stars and plain characters only ("*.org", "*proxy*"), the
// usual kind, are matched as their pieces between the stars: the first must
// begin the text, the last end it, and those between follow in order, each where
// it first fits. That is what the general matcher decides too, in fewer steps.
Pattern::Pattern(std::string_view pattern) {
    invert_ = !pattern.empty() && pattern.front() == '!';
    if (invert_) pattern.remove_prefix(1);
    body_ = pattern;
    if (!pattern.empty() && pattern.front() == '#') {
        invert_ = false;  // a network match is never inverted
        return;
    }
    for (char c : pattern)
        if (c == '?' || c == '[' || c == '\\') return;
    const std::size_t first_star = pattern.find('*');
    if (first_star == std::string_view::npos) {
        head_ = pattern;
        SetByPieces();
        return;
    }
    const std::size_t last_star = pattern.rfind('*');
    head_ = pattern.substr(0, first_star);
    tail_ = pattern.substr(last_star + 1);
    for (std::size_t p = first_star + 1; p < last_star;) {
        const std::size_t next = pattern.find('*', p);
        const std::string_view piece = pattern.substr(p, next - p);
        p = next + 1;
        if (piece.empty()) continue;
        if (middle_count_ == middle_.size()) return;  // the general matcher takes it
        middle_[middle_count_++] = piece;
    }
    has_star_ = true;
    SetByPieces();
}

void Pattern::SetByPieces() {
    by_pieces_ = true;
    needs_letter_ = !invert_ && std::any_of(body_.begin(), body_.end(), [](char c) {
                        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
                    });
}

bool Pattern::Matches(std::string_view text, bool ignore_case) const {
    if (!by_pieces_) return match_whole(text, body_, ignore_case) != invert_;
    return MatchPieces(text, ignore_case) != invert_;
}

bool Pattern::MatchPieces(std::string_view text, bool ignore_case) const {
    if (!has_star_)
        return text.size() == head_.size() && same_piece(text.data(), head_, ignore_case);
    if (text.size() < head_.size() + tail_.size()) return false;
    if (!same_piece(text.data() + text.size() - tail_.size(), tail_, ignore_case) ||
        !same_piece(text.data(), head_, ignore_case))
        return false;
    // The pieces between the first and the last star, within what head and tail leave.
    std::size_t at = head_.size();
    const std::size_t end = text.size() - tail_.size();
    for (std::size_t m = 0; m < middle_count_; ++m) {
        const std::string_view piece = middle_[m];
        bool found = false;
        // Most places fail on their first byte: that one is looked at first.
        const char first = ignore_case ? fold(piece.front()) : piece.front();
        for (; at + piece.size() <= end; ++at) {
            const char c = ignore_case ? fold(text[at]) : text[at];
            if (c == first && same_piece(text.data() + at, piece, ignore_case)) {
                found = true;
                break;
            }
        }
        if (!found) return false;
        at += piece.size();
    }
    return true;
}

bool MatchPattern(std::string_view text, std::string_view pattern, bool ignore_case) {
    return Pattern(pattern).Matches(text, ignore_case);
}

}  // namespace tallowick::logs
