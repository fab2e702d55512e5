// Squid's native access.log:
//   1576177221.686   3976 203.0.113.1 TCP_MISS/200 13564 GET http://example.com/ - HIER_DIRECT/198.51.100.7 text/html
// timestamp with milliseconds, elapsed milliseconds, client, result code/status,
// bytes, method, URL, user, hierarchy code/peer, content type. Fields are
// separated by runs of spaces; fields after the URL may be missing or extra.
#pragma once

#include <string_view>

#include "logs/hit_record.h"
#include "logs/local_clock.h"

namespace tallowick::logs {

// True when the line has the shape above (used by detection while the type is
// unknown).
bool IsSquidLine(std::string_view line);

// ParseSquidLine: date and time from the timestamp in local time (through
// `clock`), status from the result code, then client, bytes, method, URL, user
// and the elapsed time. Returns hit, or malformed for a line of another shape.
LineResult ParseSquidLine(std::string_view line, HitRecord& hit, LocalClock& clock);

}  // namespace tallowick::logs
