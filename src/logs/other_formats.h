// Line parsers of the smaller servers that detection recognises by the shape of a
// line: RealServer, Website, Filemaker, FirstClass and pipe-separated logs. Each
// fills `hit` (cleared first) with views into `line` and returns hit, or
// malformed when the line does not have the shape described.
#pragma once

#include <string_view>

#include "logs/hit_record.h"

namespace tallowick::logs {

// RealServer (type 7): common-log lines whose request names the PNA or RTSP
// protocol, followed by bracketed items, the first being the player:
//   host - - [10/Oct/2000:13:55:36 -0700] "GET /song.rm PNA/10" 200 41523 [Win98_4.10_6.0.9.584_play32_RN01_EN_586] [00000000-0000-...] ...
// The player is the agent unless the line has a quoted agent.
LineResult ParseRealServerLine(std::string_view line, HitRecord& hit);

// Website (type 8), tab-separated:
//   date time ⇥ client ⇥ user ⇥ server ⇥ method ⇥ url ⇥ query ⇥ status ⇥ bytes ⇥
//   bytes-in ⇥ time-taken ⇥ referrer ⇥ agent [⇥ more fields]
// Lines that stop after the status are taken, with the missing items empty.
// The first field holds the date and the time separated by a space.
LineResult ParseWebsiteLine(std::string_view line, HitRecord& hit, bool day_first);

// Filemaker (type 9), four or five fields separated by single spaces:
//   date time client url            date time client url status
//   date time client METHOD url
LineResult ParseFilemakerLine(std::string_view line, HitRecord& hit, bool day_first);

// FirstClass (type 10): a bracketed date and time, the client, then the request,
// either quoted or as bare words, then status and bytes:
//   [10/10/2000 13:55:36] 192.168.1.5 "GET /index.html HTTP/1.0" 200 1043 ["referrer" "agent"]
//   [10/10/2000 13:55:36] 192.168.1.5 GET /index.html 200 1043
LineResult ParseFirstClassLine(std::string_view line, HitRecord& hit, bool day_first);

// Pipe-separated lines (type 16), at least seven fields:
//   date|time|client|user|method|url|status[|bytes[|referrer[|agent[|server]]]] ...
// The date field may carry the time too ("2000-10-10 13:55:36"), and then the
// time field may be empty.
LineResult ParsePipeLine(std::string_view line, HitRecord& hit, bool day_first);

}  // namespace tallowick::logs
