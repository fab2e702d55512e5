// IIS comma-separated logs (the server's native format): a fixed order of fields,
// each written after a comma and a blank.
#pragma once

#include <string_view>

#include "logs/hit_record.h"

namespace tallowick::logs {

// ParseIisLine: one line
//   client, user, date, time, service, machine, server-ip, time-taken, bytes-in,
//   bytes-out, status, win32-status, method, url, parameters, [referrer, agent,] ...
// into `hit`. The date is read by the field-date reader, day first when
// `day_first` (forceddmm) is set. Returns hit, or malformed for fewer than 10 or
// more than 24 fields or a date that does not read.
LineResult ParseIisLine(std::string_view line, HitRecord& hit, bool day_first);

}  // namespace tallowick::logs
