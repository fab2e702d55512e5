// Filters: the pattern lists that limit a report to the hits of interest, one list
// per kind of item (client, source, agent, referral, URL).
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "base/settings.h"
#include "logs/hit_record.h"

namespace tallowick::logs {

// ListRejects: whether a pattern list rejects the text. Patterns beginning with
// "!" exclude, all others include. The list rejects when it has include patterns
// and none matches, or when any exclude pattern matches (without its "!").
// An empty list, or an empty text (the hit has no such item), keeps the text.
bool ListRejects(std::string_view text, std::span<const std::string> list, bool ignore_case);
bool ListRejects(std::string_view text, const SettingsList& list, bool ignore_case);

// The items of a hit that the filters look at. The run passes the client name
// after name resolution and the URL as it prepared it; an empty view is an item
// the hit does not have.
struct FilterSubject {
    std::string_view client;
    std::string_view source;
    std::string_view agent;
    std::string_view referrer;
    std::string_view url;
};

// The hit's own items, unchanged.
FilterSubject filter_subject(const HitRecord& hit);

// FiltersKeep: whether the filters keep a hit. The kinds are checked in the order
// client, source, agent, referral, URL; a kind is checked when its list is not
// empty and the hit has the item. AND logic (the default) drops the hit at the
// first list that rejects it; OR logic (`filterorlogic`) drops it only when some
// kind was checked and every checked kind rejected it.
bool FiltersKeep(const FilterSettings& filters, const FilterSubject& subject);
bool FiltersKeep(const FilterSettings& filters, const HitRecord& hit);

}  // namespace tallowick::logs
