// Search engines: which referrers carry a search phrase and how the phrase is read
// out of them.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace tallowick::engine {

struct SearchEngine {
    std::string_view site;   // must occur in the referrer
    std::string_view param;  // must occur after the site; the phrase follows it
    int skip;                // characters from the parameter's start to the phrase
    char stop;               // a second character that ends the phrase ('\0': none)
};

// The table in the order it is tried. The classic entries come first, so that a
// referrer they decide keeps its engine; today's engines follow.
std::span<const SearchEngine> search_engines();

// search_phrase: the first non-empty phrase an entry of the table gives for the
// referrer, decoded into `out` ("+" runs are one blank, "%XX" with digits or
// upper-case hex letters is that character, control characters are blanks; "&" or
// the entry's stop character ends it; one leading and one trailing blank dropped).
// Returns false, with `out` empty, when no entry gives one. `out` keeps its
// capacity, so a run reuses it without allocating.
bool search_phrase(std::string_view referrer, std::string& out);

// decode_phrase: the decoding step on its own, for the text after a parameter.
void decode_phrase(std::string_view text, char stop, std::string& out);

}  // namespace tallowick::engine
