// The meeting point of the statistic tables and the fetching of page titles.
// With `remotetitle` on, URL rows show the page's title in place of its path;
// the report library does not fetch anything itself: the program entry
// installs the delivery layer's fetcher here, as it installs the chart driver.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tallowick::report {

// The title of the page at `url` (entities decoded, not yet escaped for the
// report format), or an empty text when there is none.
using PageTitleLookup = std::function<std::string(std::string_view url)>;

// Makes the lookup one report uses (each report has a time budget of its own).
using PageTitleSource = std::function<PageTitleLookup()>;

}  // namespace tallowick::report
