// Field-list logs whose header names the fields in order: Webstar tab-separated
// logs ("!!LOG_FORMAT DATE TIME RESULT HOSTNAME URL BYTES_SENT", or a "#Fields:"
// line without date and time) and Purveyor logs ("#!PARAMETER" header).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "logs/hit_record.h"

namespace tallowick::logs {

// What one field of a field-list line holds.
enum class FieldItem : std::uint8_t {
    none,       // a field the analysis does not use
    date,       // a date alone, read by the field-date reader
    time,
    date_time,  // a common-log date with its time, "10/Oct/2000:13:55:36 -0700"
    status,
    result,     // Webstar's "OK" / "ERR!"; the status when no status field exists
    client,
    url,
    request,    // "GET /url HTTP/1.0": method and url
    agent,
    referrer,
    user,
    server,
    method,
    bytes,
    bytes_in,
    time_taken,
};

// The item at each field position (counted from 0) of the current log.
struct FieldLayout {
    static constexpr std::size_t kMaxFields = 256;
    std::array<FieldItem, kMaxFields> item{};
    std::size_t field_count = 0;

    void clear() { *this = FieldLayout{}; }
    // True when the layout is host, identity, user, date, request, status and
    // bytes in that order, optionally followed by referrer and agent: the lines
    // are then common or combined lines.
    bool is_common() const;
};

// ReadTabLayout: reads a "!!LOG_FORMAT" or "#Fields:" header: after the first word,
// field names separated by blanks, matched without regard to case against the
// Webstar names (DATE, TIME, RESULT, STATUS, HOSTNAME, URL, BYTES_SENT, AGENT,
// REFERER, USER, METHOD, TRANSFER_TIME, ...) and the W3C names (c-ip, sc-bytes...).
void ReadTabLayout(std::string_view header, FieldLayout& layout);

// The layout that detection gives a six-field tab line without a header:
// date, time, result, client, url, bytes.
void SetWebstarDefaultLayout(FieldLayout& layout);

// ParseWebstarLine: a tab-separated line under `layout` (type 2). Fields past the
// layout are ignored; the line must reach the date, time, client and url fields.
// Returns hit, or malformed when a field is missing or the date does not read.
LineResult ParseWebstarLine(std::string_view line, HitRecord& hit, const FieldLayout& layout,
                            bool day_first);

// ReadPurveyorLayout: reads "#!PARAMETER" followed (after an optional ":" or "=")
// by field names separated by blanks or commas: CGI-style names (REMOTE_HOST,
// REMOTE_ADDR, REMOTE_IDENT, REMOTE_USER, DATE, TIME, DATE_TIME, REQUEST,
// REQUEST_METHOD, URL, STATUS, BYTES, CONTENT_LENGTH, HTTP_REFERER,
// HTTP_USER_AGENT, SERVER_NAME, ...) or common-log directives (%h %l %u %t %r %s
// %b, with or without their quotes and brackets).
void ReadPurveyorLayout(std::string_view header, FieldLayout& layout);

// ParsePurveyorLine: a line of space-separated fields, where a field in double
// quotes or square brackets may hold spaces, under `layout` (type 3). Returns hit,
// or malformed for an open quote or bracket, a missing field or an unreadable date.
LineResult ParsePurveyorLine(std::string_view line, HitRecord& hit, const FieldLayout& layout,
                             bool day_first);

}  // namespace tallowick::logs
