// UTF-8 as reports and charts read it. Log text comes in whatever encoding the
// server wrote (older logs are often Latin-1), while every page declares UTF-8:
// a byte that does not begin a valid UTF-8 sequence is read as the Latin-1
// character of the same number, so any text has one well-defined reading.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tallowick {

// The character at `pos`, advancing `pos` past it: a valid UTF-8 sequence
// (shortest form, no surrogates, at most U+10FFFF) gives its code point, any
// other byte its Latin-1 reading. `pos` must be below text.size().
char32_t next_code_point(std::string_view text, std::size_t& pos);

// Appends the UTF-8 form of a code point.
void append_utf8(std::string& out, char32_t code);

// The text itself when it is valid UTF-8; otherwise its reading as above,
// re-encoded into `buffer`, which the result then views.
std::string_view valid_utf8(std::string_view text, std::string& buffer);

}  // namespace tallowick
