// Common and combined log lines, and the two date normalisers that every line
// parser uses to bring a log's date into the hit record's MM/DD/YYYY form.
#pragma once

#include <string_view>

#include "logs/hit_record.h"

namespace tallowick::logs {

// ParseCommonLine: splits a common or combined line
//   host ident user [date:time zone] "method url protocol" status bytes
//   ["referrer" "agent"] [more fields]
// into `hit` (cleared first). The texts of `hit` are views into `line`, which is
// not modified. Returns hit, or malformed for a line that does not fit the layout.
// The tokens of the line stay in line_tokens() (ParseRealServerLine looks there
// for the player), except after a hit with an agent: the ordinary lines that
// the quick path reads leave the table empty then.
LineResult ParseCommonLine(std::string_view line, HitRecord& hit);

namespace detail {

// The two halves of ParseCommonLine, apart for the tests that hold them against
// each other. ReadOrdinaryCommonLine reads only the usual shape (plain host, ident
// and user, [date], a request closed where the status follows, "referrer" "agent"
// and at most one plain field after them) without the general token walk: true
// when it read the line, which is then a hit with the very record that
// ParseCommonLineGeneral gives (and its tokens when the agent is absent); false,
// with `hit` and the token table in no defined state, for any other line.
// ParseCommonLineGeneral reads every line.
bool ReadOrdinaryCommonLine(std::string_view line, HitRecord& hit);
LineResult ParseCommonLineGeneral(std::string_view line, HitRecord& hit);

}  // namespace detail

// NormaliseLogDate: reads a common-log date ("10/Oct/2000:13:55:36 -0700",
// "10-10-2000", "2000.10.10", "Tue, 10 Oct 2000") and gives it as MM/DD/YYYY;
// an empty date when the text is not a date.
LogDate NormaliseLogDate(std::string_view text);

// NormaliseFieldDate: reads the date of a field-separated log (IIS, W3C and
// others). Numeric dates are month first unless `day_first` (the forceddmm
// setting) is set or the dates themselves show day-first order (a first part
// above 12, or a zero-padded second part); that finding is remembered for the
// following lines until a date's second part is 13 or more, or until the
// overload without text is called (a new log, or a header line). An empty date
// when the text is not a date.
LogDate NormaliseFieldDate(std::string_view text, bool day_first);
void NormaliseFieldDate();

}  // namespace tallowick::logs
