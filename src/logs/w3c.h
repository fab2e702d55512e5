// W3C extended logs: the "#Fields:" header announces the order of the fields, and
// data lines carry them separated by spaces or tabs. The Oracle WRB server writes
// the same layout with its own date form.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "logs/hit_record.h"

namespace tallowick::logs {

// Where each hit record field sits in a W3C line: a token number counted from 1,
// 0 when the header does not name the field.
struct W3cLayout {
    enum Slot : std::uint8_t {
        date, time, status, client, url, agent, bytes, referrer, user, server, method,
        bytes_in, kSlots
    };
    // A header may name up to this many fields; a longer header keeps the first ones.
    static constexpr std::size_t kMaxFields = 255;

    std::array<std::uint8_t, kSlots> position{};
    std::size_t field_count = 0;

    void clear() { *this = W3cLayout{}; }
    bool has(Slot s) const { return position[s] != 0; }
};

// ReadW3cLayout: reads a "#Fields:" header ("#Fields: date time c-ip ...") into
// `layout`, which is cleared first. Field names are matched whole and without
// regard to case; for each slot the first field, in header order, that carries
// one of the slot's names wins. The caller switches the zero-byte filter off when
// the layout has no bytes field.
void ReadW3cLayout(std::string_view header, W3cLayout& layout);

// The date of a W3C line or "#Date:" header, "YYYY-MM-DD...": the month and day
// from their places and the year from its last two digits (below 70 is 20xx).
// Empty when the text is too short or a part is not a number, 0 or out of range.
LogDate W3cDate(std::string_view text);

// ParseW3cLine: one data line of a W3C log (type 11) into `hit`. Tokens are cut at
// runs of spaces and tabs; a token that begins with a double quote runs to the
// next one and loses its quotes. A line that holds a tab is cut at each tab only,
// as proxies write it, so that its fields may hold spaces. The token count must equal the layout's field
// count, except for one extra token from a user name with a space in it, which is
// joined back. Without a date field the date comes from `header_date` (the last
// "#Date:" line). Returns hit, or malformed (wrong count, open quote, no date).
LineResult ParseW3cLine(std::string_view line, HitRecord& hit, const W3cLayout& layout,
                        LogDate header_date);

// The Oracle WRB server's lines (type 18): as ParseW3cLine, but a date that is not
// in the W3C form is read by the field-date reader (day first when `day_first`).
LineResult ParseOracleLine(std::string_view line, HitRecord& hit, const W3cLayout& layout,
                           LogDate header_date, bool day_first);

}  // namespace tallowick::logs
