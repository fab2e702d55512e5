// Remote wildcards: the logs of an "ftp:" folder (its name list) or an "http:"
// folder (the links of its index page) whose names match a pattern.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tallowick::logs {

// ListRemotePattern: for "ftp://host/logs/access-*.log" or
// "http://host/logs/*.gz", the URLs of the folder's entries whose names match the
// last part ("*" any run, "?" one character, letters in any case), in the order
// the server lists them; credentials in the URL are kept in each result. On
// failure the result is empty and error holds the reason.
std::vector<std::string> ListRemotePattern(std::string_view url_pattern, std::string& error);

}  // namespace tallowick::logs
