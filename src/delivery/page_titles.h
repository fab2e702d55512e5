// Page titles for the URL rows of reports: the page is fetched from the site
// and the text of its <title> element shown in place of the path.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "report/page_title_seam.h"

namespace tallowick::delivery {

// Bytes of a page that are searched for its title.
inline constexpr std::size_t kTitleBytes = 7999;

struct TitleLimits {
    // One page: connecting and reading its first bytes.
    std::chrono::milliseconds per_page{3000};
    // All the pages of one report; once spent, the remaining rows keep their paths.
    std::chrono::milliseconds per_report{30000};
};

// The title in the first bytes of a page: the text after the first "<title>"
// (any letter case, attributes allowed) up to the next "<" or the end of the
// bytes, with its entities decoded and its white space folded. Nothing when the
// page has no title or an empty one.
std::optional<std::string> title_of_page(std::string_view bytes);

// page_title: fetches the first kTitleBytes of the page at `url` (http or
// https) and returns its title. Nothing when the page cannot be fetched in
// `timeout`, is empty, or has no title; the status line says why.
std::optional<std::string> page_title(std::string_view url, std::chrono::milliseconds timeout);

// The source report assembly asks for each report's lookup. Lookups share one
// memory of fetched pages, so a URL is fetched once per run.
report::PageTitleSource page_title_source(TitleLimits limits = {});

}  // namespace tallowick::delivery
