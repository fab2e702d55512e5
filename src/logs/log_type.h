// Log types: the 16-bit format code of the current log and its display name,
// which the report's summary shows.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tallowick::logs {

enum class LogType : std::uint16_t {
    unknown = 0,
    common = 1,
    webstar = 2,
    purveyor = 3,
    netscape = 4,
    iis = 5,
    netpresenz = 6,  // not analysed
    realserver = 7,
    website = 8,
    filemaker = 9,
    firstclass = 10,
    w3c = 11,
    openmarket = 12,  // not analysed
    sendmail = 13,
    unixftp = 14,
    homedoor = 15,
    zeus = 16,  // pipe-separated lines
    bounce = 17,
    oracle_wrb = 18,
    squid = 30,
    msproxy = 31,
    wsproxy = 32,
    radius = 40,
    cisco = 41,
    firewall = 42,
    raptor = 43,
    custom = 99,
    database = 100,  // a history database file read as a log
};

// The display name of a type; an empty view for a code without a name (6, 18
// and codes outside the table).
std::string_view log_type_name(LogType type);

// Every code of the table, in code order (for tests and the fuzz target).
std::span<const LogType> all_log_types();

}  // namespace tallowick::logs
