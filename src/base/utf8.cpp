#include "base/utf8.h"

namespace tallowick {

namespace {

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the valid sequence starting at `pos` (1 for ASCII), or 0.
std::size_t sequence_length(std::string_view text, std::size_t pos, char32_t& code) {
    const auto c = static_cast<unsigned char>(text[pos]);
    if (c < 0x80) {
        code = c;
        return 1;
    }
    std::size_t length;
    char32_t least;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2, least = 0x80, code = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3, least = 0x800, code = c & 0x0Fu;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4, least = 0x10000, code = c & 0x07u;
    } else {
        return 0;
    }
    if (pos + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto cc = static_cast<unsigned char>(text[pos + k]);
        if (!continuation(cc)) return 0;
        code = (code << 6) | (cc & 0x3Fu);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

char32_t next_code_point(std::string_view text, std::size_t& pos) {
    char32_t code = 0;
    const std::size_t length = sequence_length(text, pos, code);
    if (length == 0) return static_cast<unsigned char>(text[pos++]);
    pos += length;
    return code;
}

void append_utf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string_view valid_utf8(std::string_view text, std::string& buffer) {
    std::size_t pos = 0;
    char32_t code = 0;
    while (pos < text.size()) {
        const std::size_t length = sequence_length(text, pos, code);
        if (length == 0) break;
        pos += length;
    }
    if (pos == text.size()) return text;
    buffer.assign(text.substr(0, pos));
    while (pos < text.size()) append_utf8(buffer, next_code_point(text, pos));
    return buffer;
}

}  // namespace tallowick
