// One fuzz input for the pattern matcher and the list filter, shared by the
// libFuzzer target and the smoke test of the normal test build. Besides not
// crashing or hanging, the matcher must keep three promises on every input;
// run_pattern_input returns false when one is broken (the fuzzer then aborts).
//
// Input layout: byte 0 holds flags (bit 0: ignore case); the rest is the pattern,
// then a NUL byte, then the text (no NUL: the text is empty).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "logs/filters.h"
#include "logs/pattern.h"

namespace tallowick::fuzz {

inline bool run_pattern_input(std::span<const std::uint8_t> data) {
    if (data.empty()) return true;
    const bool ignore_case = (data[0] & 1) != 0;
    const std::string_view rest(reinterpret_cast<const char*>(data.data() + 1), data.size() - 1);
    const std::size_t nul = rest.find('\0');
    const std::string_view pattern = rest.substr(0, nul);
    const std::string_view text = nul == std::string_view::npos ? std::string_view{} : rest.substr(nul + 1);

    const bool matched = logs::MatchPattern(text, pattern, ignore_case);

    // 1. "!" inverts every pattern but a network match.
    if (!pattern.empty() && pattern.front() != '#' && pattern.front() != '!') {
        const std::string negated = "!" + std::string(pattern);
        if (logs::MatchPattern(text, negated, ignore_case) == matched) return false;
    }

    // 2. The text with every character escaped matches itself, and "*" matches anything.
    std::string escaped;
    escaped.reserve(text.size() * 2);
    for (char c : text) {
        escaped += '\\';
        escaped += c;
    }
    if (!logs::MatchPattern(text, escaped, false)) return false;
    if (!logs::MatchPattern(text, "*", ignore_case)) return false;

    // 3. A list of the one include pattern rejects exactly what the pattern does
    // not match (an empty text is always kept).
    if (!pattern.empty() && pattern.front() != '!' && pattern.front() != '#' && !text.empty()) {
        const std::string list[] = {std::string(pattern)};
        if (logs::ListRejects(text, list, ignore_case) == matched) return false;
    }
    return true;
}

}  // namespace tallowick::fuzz
