// Comparison without regard to ASCII letter case, as keywords, commands and file
// types are compared: lower case folds to upper case.
#pragma once

#include <cstddef>
#include <string_view>

namespace tallowick {

inline char fold_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Whether text begins with word.
inline bool starts_with_ci(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (fold_upper(text[i]) != fold_upper(word[i])) return false;
    return true;
}

inline bool equals_ci(std::string_view a, std::string_view b) {
    return a.size() == b.size() && starts_with_ci(a, b);
}

}  // namespace tallowick
