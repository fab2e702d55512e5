// Small text helpers shared by the field-separated line parsers (W3C, IIS, tab,
// pipe, Netscape, Squid and custom lines). Everything works on views into the
// line; nothing allocates.
#pragma once

#include <cstddef>
#include <array>
#include <cstdint>
#include <string_view>

#include "logs/hit_record.h"

namespace tallowick::logs::detail {

constexpr std::size_t npos = std::string_view::npos;

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Whole-text comparison without regard to ASCII case.
inline bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

// The hit record's rule for absent items: a lone "-" is no item.
inline std::string_view dash_empty(std::string_view s) {
    return s == "-" ? std::string_view{} : s;
}

// Agent, referrer, user and server of field logs: anything beginning with "-"
// ("-", "--") is no item.
inline std::string_view unless_dash(std::string_view s) {
    return (!s.empty() && s.front() == '-') ? std::string_view{} : s;
}

// A byte count or time: the leading decimal digits (an optional "-" sign first),
// saturating instead of overflowing; 0 when the text has no digits.
inline std::int64_t read_count(std::string_view s) {
    bool negative = false;
    std::size_t i = 0;
    if (!s.empty() && s[0] == '-') {
        negative = true;
        i = 1;
    }
    std::int64_t v = 0;
    for (; i < s.size() && is_digit(s[i]); ++i)
        if (v < (INT64_MAX - 9) / 10) v = v * 10 + (s[i] - '0');
    return negative ? -v : v;
}

// True when s is all decimal digits and not empty.
inline bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!is_digit(c)) return false;
    return true;
}

// A dotted IPv4 address: four groups of one to three digits.
inline bool is_ipv4(std::string_view s) {
    int groups = 0;
    std::size_t i = 0;
    while (true) {
        std::size_t digits = 0;
        while (i < s.size() && is_digit(s[i]) && digits < 4) {
            ++i;
            ++digits;
        }
        if (digits == 0 || digits > 3) return false;
        ++groups;
        if (i == s.size()) return groups == 4;
        if (s[i] != '.' || groups == 4) return false;
        ++i;
    }
}

// Splits a request "METHOD URL PROTOCOL" into method and url; a request without
// spaces is taken as the url alone.
inline void split_request(std::string_view request, HitRecord& hit) {
    std::size_t sp = request.find(' ');
    if (sp == npos) {
        hit.url = dash_empty(request);
        return;
    }
    hit.method = request.substr(0, sp);
    std::string_view rest = request.substr(sp + 1);
    std::size_t end = rest.find(' ');
    hit.url = dash_empty(rest.substr(0, end));
}

// The time of a common-log date "10/Oct/2000:13:55:36 -0700": the text after its
// first ":"; empty when there is none.
inline std::string_view clf_time(std::string_view text) {
    std::size_t colon = text.find(':');
    return colon == npos ? std::string_view{} : text.substr(colon + 1);
}

}  // namespace tallowick::logs::detail

namespace tallowick::logs::detail {

// A time of day written as "HH:MM:SS" for formats whose time must be computed
// (Unix timestamps, 12-hour clocks). The dispatcher owns one, so the hit's view
// stays valid until the next line.
class TimeText {
public:
    std::string_view set(int h, int m, int s) {
        put(0, h);
        text_[2] = ':';
        put(3, m);
        text_[5] = ':';
        put(6, s);
        return {text_.data(), text_.size()};
    }

private:
    void put(std::size_t at, int v) {
        text_[at] = static_cast<char>('0' + (v / 10) % 10);
        text_[at + 1] = static_cast<char>('0' + v % 10);
    }
    std::array<char, 8> text_{};
};

// A date text and the time that follows it in the same field: "2000-10-10
// 13:55:36" (a space or "T" before the time) or "10/Oct/2000:13:55:36 -0700"
// (a colon before it).
inline std::string_view time_in_date_field(std::string_view text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        char c = text[i];
        if ((c == ' ' || c == 'T' || c == ':') && is_digit(text[i + 1])) {
            // The time is where a colon follows two digits later.
            std::string_view rest = text.substr(i + 1);
            std::size_t colon = rest.find(':');
            if (colon != npos && colon <= 2) return rest;
        }
    }
    return {};
}

}  // namespace tallowick::logs::detail

namespace tallowick::logs::detail {

// Walks the fields of a line separated by runs of spaces, where a field that
// begins with a double quote or "[" runs to the matching closer (which is not
// part of the field). Calls on_field(field, opener) for each field, opener being
// '"', '[' or 0; stops early when on_field returns false. Returns false for a
// quote or bracket left open.
template <class OnField>
bool for_each_spaced_field(std::string_view line, OnField&& on_field) {
    const std::size_t n = line.size();
    std::size_t i = 0;
    while (true) {
        while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i == n) return true;
        char opener = line[i];
        std::size_t start = i, end;
        if (opener == '"' || opener == '[') {
            start = i + 1;
            end = line.find(opener == '"' ? '"' : ']', start);
            if (end == npos) return false;
            i = end + 1;
        } else {
            opener = 0;
            end = i;
            while (end < n && line[end] != ' ' && line[end] != '\t') ++end;
            i = end;
        }
        if (!on_field(line.substr(start, end - start), opener)) return true;
    }
}

}  // namespace tallowick::logs::detail
