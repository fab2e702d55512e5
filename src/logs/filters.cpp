#include "logs/filters.h"

#include <array>

#include "logs/pattern.h"

namespace tallowick::logs {

bool ListRejects(std::string_view text, std::span<const std::string> list, bool ignore_case) {
    if (list.empty() || text.empty()) return false;
    bool has_include = false;
    bool include_matched = false;
    for (const std::string& pattern : list) {
        if (!pattern.empty() && pattern.front() == '!') {
            if (MatchPattern(text, std::string_view(pattern).substr(1), ignore_case)) return true;
        } else {
            has_include = true;
            // Once an include pattern matched, only the excludes can still reject.
            if (!include_matched && MatchPattern(text, pattern, ignore_case)) include_matched = true;
        }
    }
    return has_include && !include_matched;
}

bool ListRejects(std::string_view text, const SettingsList& list, bool ignore_case) {
    return ListRejects(text, std::span<const std::string>(list.entries()), ignore_case);
}

FilterSubject filter_subject(const HitRecord& hit) {
    return {hit.client, hit.source, hit.agent, hit.referrer, hit.url};
}

bool FiltersKeep(const FilterSettings& filters, const FilterSubject& subject) {
    struct Kind {
        const SettingsList& list;
        std::string_view item;
        bool ignore_case;
    };
    // The order of the checks; the source list follows the URL case setting.
    const std::array<Kind, 5> kinds{{
        {filters.site, subject.client, filters.site_case},
        {filters.source, subject.source, filters.url_case},
        {filters.browser, subject.agent, filters.agent_case},
        {filters.referal, subject.referrer, filters.referal_case},
        {filters.url, subject.url, filters.url_case},
    }};

    bool checked = false;
    for (const Kind& kind : kinds) {
        // A kind whose item the hit lacks is not checked at all: under OR logic a
        // missing item must not count as a list that kept the hit.
        if (kind.list.empty() || kind.item.empty()) continue;
        checked = true;
        const bool rejected = ListRejects(kind.item, kind.list, kind.ignore_case);
        if (filters.or_logic) {
            if (!rejected) return true;
        } else if (rejected) {
            return false;
        }
    }
    // AND: no list rejected. OR: no list kept, so keep only when none was checked.
    return filters.or_logic ? !checked : true;
}

bool FiltersKeep(const FilterSettings& filters, const HitRecord& hit) {
    return FiltersKeep(filters, filter_subject(hit));
}

}  // namespace tallowick::logs
