#include "engine/clients.h"

#include <algorithm>
#include <array>
#include <memory>
#include <span>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "base/status.h"
#include "engine/address_places.h"
#include "engine/report_stats.h"
#include "engine/sessions.h"
#include "engine/stat_list.h"
#include "engine/visitor_measures.h"
#include "logs/pattern.h"

namespace tallowick::engine {
namespace {

constexpr std::array<std::string_view, kRegionCount> kRegionNames{{
    "Unknown",                    // 0: not painted on the map
    "North America",              // 1
    "Central and South America",  // 2: with the Caribbean
    "Europe",                     // 3: with Russia
    "Africa",                     // 4
    "Middle East",                // 5: with Turkey and the Caucasus
    "Asia",                       // 6
    "Oceania",                    // 7: with Antarctica
}};

const std::array<logs::Pattern, 4>& government_patterns() {
    static const std::array<logs::Pattern, 4> patterns{
        logs::Pattern("*.gov"), logs::Pattern("*.gov.*"), logs::Pattern("*.mil"),
        logs::Pattern("*.mil.*")};
    return patterns;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Numeric addresses, the most common clients, hold no ASCII letter, except for
// the hex digits of IPv6 ones.
bool has_letter(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    });
}

// Compares a label with a lower-case table code, folding the label.
int compare_label(std::string_view label, std::string_view code) {
    const std::size_t n = std::min(label.size(), code.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char a = lower(label[i]);
        if (a != code[i]) return a < code[i] ? -1 : 1;
    }
    return label.size() < code.size() ? -1 : label.size() > code.size() ? 1 : 0;
}

const Country* find_country(std::string_view label) {
    const auto codes = country_codes();
    const auto it = std::lower_bound(codes.begin(), codes.end(), label,
                                     [](const Country& c, std::string_view l) {
                                         return compare_label(l, c.code) > 0;
                                     });
    if (it != codes.end() && compare_label(label, it->code) == 0) return &*it;
    for (const Country& c : generic_domains())
        if (compare_label(label, c.code) == 0) return &c;
    return nullptr;
}

// Adds a client's counters to the item `name` of a derived list, where a new
// member counts as one visitor (misc1); the index or -1.
int add_client_totals(StatList& to, std::string_view name, const StatItem& client,
                      bool new_member) {
    const int before = to.Add(name);
    if (before < 0) return -1;
    const double timelast = std::max(to.TimeLast(before), client.timelast);
    const int i = to.AddValues(name, client.bytes, client.bytesin, timelast);
    if (i < 0) return -1;
    to.AddReq(i, client.req - 1);  // AddValues counted one
    to.AddVisits(i, client.visits);
    to.AddPages(i, client.pages);
    to.AddTimeTot(i, client.timetot);
    to.SetErrors(i, to.Errors(i) + client.errors);
    if (new_member) to.AddMisc1(i, 1);
    return i;
}

// A government client stays a client as well: its totals are added up and its
// day records copied rather than moved, so the client history still draws it.
void add_government_client(StatList& government, StatList& clients, int index, bool new_member) {
    const StatItem& client = *clients.Item(index);
    const int i = add_client_totals(government, client.name, client, new_member);
    if (i < 0) return;
    TimeRecList* to = government.TimeRecs(i);
    const TimeRecList* from = clients.TimeRecs(index);
    if (!to || !from) return;
    for (const TimeRecord& day : from->Records()) {
        const int at = to->Add(day.key, day.sum);
        if (at < 0) return;   // reported by the record list
        to->SetCountAt(at, to->CountAt(at) - 1 + day.count);
    }
}

// The organisation map ("pattern=Name" entries) prepared for matching many
// clients; it refers to the map's texts. Entries without "=" or a name are left out.
class OrgMap {
public:
    explicit OrgMap(const SettingsList& orgmap) {
        const auto& entries = orgmap.entries();
        patterns_.reserve(entries.size());
        for (std::size_t e = 0; e < entries.size(); ++e) {
            const std::string_view entry(entries[e]);
            const std::size_t eq = entry.find('=');
            if (eq == std::string::npos || eq + 1 == entry.size()) continue;
            patterns_.push_back({logs::Pattern(entry.substr(0, eq)), static_cast<int>(e)});
        }
    }

    // The first entry whose pattern matches the client, or -1.
    int EntryOf(std::string_view client) const {
        const bool letters = has_letter(client);
        for (const auto& [pattern, entry] : patterns_)
            if ((letters || !pattern.NeedsLetter()) && pattern.Matches(client, true)) return entry;
        return -1;
    }

private:
    std::vector<std::pair<logs::Pattern, int>> patterns_;
};

// The name of organisation map entry `e`; empty when there is none such.
std::string_view orgmap_name(const SettingsList& orgmap, int e) {
    if (e < 0 || static_cast<std::size_t>(e) >= orgmap.size()) return {};
    const std::string_view entry(orgmap.entries()[static_cast<std::size_t>(e)]);
    const std::size_t eq = entry.find('=');
    return eq == std::string_view::npos ? std::string_view{} : entry.substr(eq + 1);
}

// What the derived lists need to know of a client, from its name: only what
// lists that are kept ask for. `find_place` places a client that stays an address.
template <class FindPlace>
ClientGroups groups_with(std::string_view name, const ClientLists& lists, const OrgMap& orgmap,
                         FindPlace&& find_place) {
    ClientGroups g;
    g.known = true;
    g.government = lists.government && is_government(name);
    if (!lists.organisations && !lists.countries) return g;
    AddressPlace place{country_of(name), {}};
    if (lists.places && place.country.name == kUnresolvedIp) place = find_place(name);
    g.country = place.country.name;
    g.region = place.country.region;
    if (lists.organisations) {
        g.orgmap_entry = static_cast<std::int16_t>(orgmap.EntryOf(name));
        if (g.orgmap_entry < 0) g.as_name = place.organisation;
    }
    return g;
}

ClientGroups groups_of(std::string_view name, const ClientLists& lists, const OrgMap& orgmap) {
    return groups_with(name, lists, orgmap,
                       [&lists](std::string_view client) { return lists.places->Find(client); });
}

// Adds client item `index` to the derived lists as `g` places it. Only a client
// that is a `new_member` counts as one more visitor of its groups.
void add_to_groups(StatList& clients, int index, const ClientLists& lists,
                   const ClientGroups& g, const SettingsList& orgmap, bool new_member) {
    const StatItem* client = clients.Item(index);
    const std::string_view name = client->name;
    if (lists.users && is_user_name(name)) lists.users->Merge(clients, index);
    if (lists.government && g.government)
        add_government_client(*lists.government, clients, index, new_member);
    if (lists.organisations) {
        const std::string_view org =
            g.orgmap_entry >= 0 ? orgmap_name(orgmap, g.orgmap_entry) : g.as_name;
        if (!org.empty()) add_client_totals(*lists.organisations, org, *client, new_member);
    }
    if (lists.countries) {
        const int i = add_client_totals(*lists.countries, g.country, *client, new_member);
        if (i >= 0) lists.countries->SetMisc2(i, g.region);
        if (lists.regions)
            add_client_totals(*lists.regions, region_name(g.region), *client, new_member);
    }
    if (lists.second_domains)
        if (const auto domain = second_domain_of(name))
            add_client_totals(*lists.second_domains, *domain, *client, new_member);
}

}  // namespace

std::string_view region_name(int region) {
    return region >= 0 && region < kRegionCount ? kRegionNames[static_cast<std::size_t>(region)]
                                                : std::string_view{};
}

CountryOf country_of(std::string_view client) {
    if (client.find(':') != std::string_view::npos) return {kUnresolvedIp, kRegionNone};
    if (client.size() > 1 && client.back() == '.') client.remove_suffix(1);
    const std::size_t dot = client.rfind('.');
    const std::string_view label = dot == std::string_view::npos ? client : client.substr(dot + 1);
    if (!label.empty() && label.front() >= '0' && label.front() <= '9')
        return {kUnresolvedIp, kRegionNone};
    if (const Country* c = find_country(label)) return {c->name, c->region};
    return {kLocalNet, kRegionNone};
}

Region region_of(std::string_view country_name) {
    for (const auto table : {country_codes(), generic_domains()})
        for (const Country& c : table)
            if (c.name == country_name) return c.region;
    return kRegionNone;
}

bool is_user_name(std::string_view client) {
    return client.find('.') == std::string_view::npos;
}

bool is_government(std::string_view client) {
    if (!has_letter(client)) return false;  // every pattern names a domain
    const auto& patterns = government_patterns();
    return std::any_of(patterns.begin(), patterns.end(),
                       [client](const logs::Pattern& p) { return p.Matches(client, true); });
}

std::optional<std::string_view> organisation_of(std::string_view client,
                                                const SettingsList& orgmap) {
    const int e = OrgMap(orgmap).EntryOf(client);
    if (e < 0) return std::nullopt;
    return orgmap_name(orgmap, e);
}

void group_client(StatList& clients, int index, const ClientLists& lists,
                  const SettingsList& orgmap) {
    const StatItem* client = clients.Item(index);
    if (client == nullptr) return;
    add_to_groups(clients, index, lists, groups_of(client->name, lists, OrgMap(orgmap)), orgmap,
                  true);
}

std::optional<std::string_view> second_domain_of(std::string_view client) {
    if (!client.empty() && client.back() == '.') client.remove_suffix(1);
    const std::size_t last_dot = client.rfind('.');
    if (last_dot == std::string_view::npos || last_dot == 0 ||
        client.find(':') != std::string_view::npos || country_of(client).name == kUnresolvedIp)
        return std::nullopt;
    const std::size_t second_dot = client.rfind('.', last_dot - 1);
    if (second_dot == std::string_view::npos) return client;
    // "co.uk", "com.au", "ac.jp": a short label under a country code is the
    // country's own second level.
    const bool country_level = client.size() - last_dot - 1 == 2 && last_dot - second_dot - 1 <= 3;
    if (country_level && second_dot > 0) {
        const std::size_t third_dot = client.rfind('.', second_dot - 1);
        return third_dot == std::string_view::npos ? client : client.substr(third_dot + 1);
    }
    return client.substr(second_dot + 1);
}

namespace {

// A client's groups worked out ahead, and whether the AS table named it.
struct GroupsAhead {
    ClientGroups groups;
    bool as_named = false;
};

// The groups of clients [begin, end) into `out`; safe on several threads at
// once, as the names alone decide them and the places are found without the cache.
void work_out_groups(const StatList& clients, int begin, int end, const ClientLists& lists,
                     const OrgMap& orgmap, std::span<GroupsAhead> out) {
    for (int i = begin; i < end; ++i) {
        GroupsAhead& ahead = out[static_cast<std::size_t>(i - begin)];
        ahead.as_named = false;
        ahead.groups = groups_with(clients.Item(i)->name, lists, orgmap, [&](std::string_view c) {
            const AddressPlace place = lists.places->FindUncached(c);
            ahead.as_named = !place.organisation.empty();
            return place;
        });
    }
}

// With two threads, clients are grouped a block at a time: both threads work
// out the groups of the block's clients, then this one adds them to the lists
// in list order, so the lists come out as they would on one thread.
constexpr int kGroupBlock = 16384;
constexpr int kFewClients = 4096;  // fewer are not worth a second thread

bool work_out_block(const StatList& clients, int begin, int end, const ClientLists& lists,
                    const OrgMap& orgmap, std::span<GroupsAhead> out) {
    const int middle = begin + (end - begin) / 2;
    try {
        std::thread helper([&] {
            work_out_groups(clients, middle, end, lists, orgmap,
                            out.subspan(static_cast<std::size_t>(middle - begin)));
        });
        work_out_groups(clients, begin, middle, lists, orgmap, out);
        helper.join();
    } catch (const std::system_error&) {
        return false;  // no thread to be had: the clients are grouped one by one
    }
    return true;
}

// Groups every client in list order, showing "Processing clients..." and the
// percentage done when it changes. `per_client` runs first for each client and
// gives what an earlier grouping into the settled lists worked out for it, or
// null: such a client adds its counters as a member counted before.
// `cached`: the places found are kept for the next grouping of a run that
// groups again (a daemon); a run that groups once looks every client up afresh.
template <class PerClient>
void group_each_client(StatList& clients, const ClientLists& lists, const SettingsList& orgmap,
                       int threads, bool cached, PerClient&& per_client) {
    ShowStatus("Processing clients...");
    const OrgMap prepared(orgmap);
    const int count = clients.Count();
    if (!cached && lists.places) lists.places->available();  // as FindUncached asks
    std::vector<GroupsAhead> ahead;
    if (threads > 1 && count >= kFewClients) {
        try {
            ahead.resize(static_cast<std::size_t>(std::min(count, kGroupBlock)));
        } catch (const std::bad_alloc&) {
            ahead.clear();  // grouped one by one
        }
        if (lists.places) lists.places->available();  // opened before the threads share it
    }
    std::uint64_t as_named = 0;
    int ahead_begin = 0, ahead_end = 0;
    int shown = -1;
    for (int i = 0; i < count; ++i) {
        const int percent = static_cast<int>(static_cast<long long>(i) * 100 / count);
        if (percent != shown) {
            ShowProgress(percent, {});
            shown = percent;
        }
        if (!ahead.empty() && i == ahead_end) {
            ahead_begin = i;
            ahead_end = std::min(count, i + static_cast<int>(ahead.size()));
            if (!work_out_block(clients, ahead_begin, ahead_end, lists, prepared, ahead)) {
                ahead.clear();
                ahead_end = 0;
            }
        }
        const ClientGroups* settled = per_client(i);
        if (settled && settled->known) {
            add_to_groups(clients, i, lists, *settled, orgmap, false);
        } else if (i < ahead_end) {
            const GroupsAhead& worked = ahead[static_cast<std::size_t>(i - ahead_begin)];
            as_named += worked.as_named;
            add_to_groups(clients, i, lists, worked.groups, orgmap, true);
        } else if (const StatItem* client = clients.Item(i)) {
            ClientGroups groups;
            if (cached || !lists.places) {
                groups = groups_of(client->name, lists, prepared);
            } else {
                GroupsAhead worked;
                work_out_groups(clients, i, i + 1, lists, prepared, {&worked, 1});
                as_named += worked.as_named;
                groups = worked.groups;
            }
            add_to_groups(clients, i, lists, groups, orgmap, true);
        }
    }
    if (as_named > 0) lists.places->CountAsNames(as_named);
}

}  // namespace

void group_clients(StatList& clients, const ClientLists& lists, const SettingsList& orgmap,
                   const std::function<void(int index)>& per_client) {
    group_each_client(clients, lists, orgmap, 1, true, [&](int i) -> const ClientGroups* {
        if (per_client) per_client(i);
        return nullptr;
    });
}

namespace {

// The report's derived lists beside their settled partners.
using GroupSlots = std::array<std::pair<std::unique_ptr<StatList>*, std::unique_ptr<StatList>*>, 6>;

GroupSlots group_slots(ReportStats& r) {
    auto& s = r.settled_groups;
    return {{{&r.user, &s.user},
             {&r.government, &s.government},
             {&r.org, &s.org},
             {&r.domain, &s.domain},
             {&r.region, &s.region},
             {&r.second_domain, &s.second_domain}}};
}

// Gives each derived list of the report its settled partner, empty at first.
bool make_settled(ReportStats& r) {
    for (auto [live, settled] : group_slots(r)) {
        if (!*live || *settled) continue;
        *settled = (*live)->EmptyLike();
        if (!*settled) return false;
    }
    return true;
}

ClientLists lists_of(ReportStats& r, AddressPlaces* places) {
    return ClientLists{r.user.get(),   r.government.get(), r.org.get(), r.domain.get(),
                       r.region.get(), r.second_domain.get(), places};
}

ClientLists settled_lists_of(ReportStats& r, AddressPlaces* places) {
    auto& s = r.settled_groups;
    return ClientLists{s.user.get(),   s.government.get(), s.org.get(), s.domain.get(),
                       s.region.get(), s.second_domain.get(), places};
}

// A report whose organisations hold AS names credits the AS data.
void note_as_names(ReportStats& r, const AddressPlaces* places, std::uint64_t given_before) {
    if (places && places->as_names_given() > given_before) r.as_data_used = true;
}

}  // namespace

int group_report_clients(ReportStats& r, const SettingsList& orgmap, AddressPlaces* places,
                         int threads, bool again) {
    // The lasting tally and the settled lists stay as they are: grouping may run
    // again (daemon cycles), and the clients still in the list are counted
    // afresh each time.
    VisitorTally tally;
    try {
        tally = r.visitor_tally;
    } catch (const std::bad_alloc&) {
        OutOfMemory({}, 0);
        return 1;
    }
    if (!make_settled(r)) return 1;
    for (auto [live, settled] : group_slots(r)) {
        if (!*live) continue;
        auto fresh = (*settled)->Copy();
        if (!fresh) return 1;
        *live = std::move(fresh);
    }
    const std::uint64_t as_names_before = places ? places->as_names_given() : 0;
    if (r.client) {
        StatList& clients = *r.client;
        group_each_client(clients, lists_of(r, places), orgmap, threads, again,
                          [&](int i) -> const ClientGroups* {
            add_client_measures(tally, clients, i);
            if (tally.dropped->empty()) return nullptr;
            const auto* seen = tally.dropped->find(DroppedClients::key_of(clients.Item(i)->key()));
            return seen ? &seen->groups : nullptr;
        });
    }
    note_as_names(r, places, as_names_before);
    const bool written = write_visitor_measures(r, tally);
    count_page_visits(r);
    sort_mean_paths(r);
    return written && !out_of_memory() ? 0 : 1;
}

void group_dropped_client(ReportStats& r, StatList& clients, int index,
                          const SettingsList& orgmap, AddressPlaces* places) {
    const StatItem* client = clients.Item(index);
    if (client == nullptr) return;
    // Pruning drops clients in list order, mostly one after the other: what the
    // next two will read of the dropped clients is fetched meanwhile.
    const DroppedClients& dropped = *r.visitor_tally.dropped;
    for (int ahead : {1, 2})
        if (const StatItem* next = clients.Item(index + ahead))
            dropped.prefetch(DroppedClients::key_of(next->key()), ahead == 1);
    add_client_measures(r.visitor_tally, clients, index, true);
    if (!make_settled(r)) return;
    const ClientLists lists = settled_lists_of(r, places);
    DroppedClients::Client* record =
        r.visitor_tally.dropped->find(DroppedClients::key_of(client->key()));
    if (record && record->groups.known) {
        add_to_groups(clients, index, lists, record->groups, orgmap, false);
        return;
    }
    const std::uint64_t as_names_before = places ? places->as_names_given() : 0;
    const ClientGroups groups = groups_of(client->name, lists, OrgMap(orgmap));
    add_to_groups(clients, index, lists, groups, orgmap, true);
    if (record) record->groups = groups;
    note_as_names(r, places, as_names_before);
}

}  // namespace tallowick::engine
