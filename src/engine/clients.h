// Client classification: after a report's logs are read, every client is rolled
// up into the derived client statistics: user names, government and military
// clients, organisations (by the organisation map), countries (by the last label
// of the name) and world regions (by country).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "base/settings.h"

namespace tallowick::engine {

class AddressPlaces;
class StatList;
struct ReportStats;

// Country names for clients the table cannot place.
inline constexpr std::string_view kUnresolvedIp = "[UNRESOLVED IP]";  // numeric addresses
inline constexpr std::string_view kLocalNet = "[LOCAL NET]";          // unknown last label

// World regions. The region map chart paints 1 to 7; 0 collects what has no
// place: numeric addresses, local names and the worldwide generic domains.
enum Region : std::int8_t {
    kRegionNone = 0,
    kRegionNorthAmerica = 1,
    kRegionLatinAmerica = 2,
    kRegionEurope = 3,
    kRegionAfrica = 4,
    kRegionMiddleEast = 5,
    kRegionAsia = 6,
    kRegionOceania = 7,
};
inline constexpr int kRegionCount = 8;  // 0 included

// region_name: the display name of a region; an empty text outside 0..7.
std::string_view region_name(int region);

// One entry of the country table: a top-level domain, its English name and the
// region it lies in.
struct Country {
    std::string_view code;  // lower case
    std::string_view name;
    Region region;
};

// The ISO 3166 two-letter codes (and the few country domains outside ISO: ac, eu,
// su, uk), sorted by code; then the generic top-level domains.
std::span<const Country> country_codes();
std::span<const Country> generic_domains();

struct CountryOf {
    std::string_view name;  // a country table name, kUnresolvedIp or kLocalNet
    Region region;
};

// country_of: the country of a client name, from the text after its last "."
// (the whole name when there is none; one trailing "." of a full name is
// ignored). A label beginning with a digit, or a name holding ":" (an IPv6
// address), is "[UNRESOLVED IP]"; a label the table lacks is "[LOCAL NET]".
// Labels compare without regard to case.
CountryOf country_of(std::string_view client);

// region_of: the region of a country table name (as country_of gives it);
// kRegionNone for the special names and for names not in the table.
Region region_of(std::string_view country_name);

// second_domain_of: the domain a client name belongs to: its last two labels
// ("example.com" of "www.cs.example.com"), or three where a country writes
// its own second level ("example.co.uk"); nothing for addresses and user names.
std::optional<std::string_view> second_domain_of(std::string_view client);

// is_user_name: a client name holding no "." is a user name taken as the client.
bool is_user_name(std::string_view client);

// is_government: the name matches "*.gov", "*.gov.*", "*.mil" or "*.mil.*",
// without regard to case.
bool is_government(std::string_view client);

// organisation_of: the name of the first organisation map entry ("pattern=Name")
// whose pattern matches the client, without regard to case; nothing when none
// does. Entries without "=" or with an empty name are passed over.
std::optional<std::string_view> organisation_of(std::string_view client,
                                                const SettingsList& orgmap);

// The derived client lists of one report; a list that is null is not kept.
struct ClientLists {
    StatList* users = nullptr;
    StatList* government = nullptr;
    StatList* organisations = nullptr;
    StatList* countries = nullptr;
    StatList* regions = nullptr;
    StatList* second_domains = nullptr;
    // Countries and AS names of numeric clients; none: they stay "[UNRESOLVED IP]".
    AddressPlaces* places = nullptr;
};

// group_client: rolls client item `index` of `clients` into the derived lists.
// Users are merged under their own names (their day and session records move
// along, see StatList::Merge). Government clients, organisations, countries and
// regions add up the client's requests, bytes, bytes in, visits, pages, time
// online and errors; a government item also adds up the client's day records,
// which stay with the client for its own history. A country item keeps its
// region number in misc2. A numeric client takes its country from the address
// databases (`lists.places`), and its AS name as organisation when no map
// pattern matches it.
// A bad index does nothing.
void group_client(StatList& clients, int index, const ClientLists& lists,
                  const SettingsList& orgmap);

// group_clients: group_client for every client in list order, showing
// "Processing clients..." and the percentage done when it changes. `per_client`,
// when given, runs before each client is grouped, while the client still holds
// its record lists (grouping moves those of users to the users list).
void group_clients(StatList& clients, const ClientLists& lists, const SettingsList& orgmap,
                   const std::function<void(int index)>& per_client = {});

// group_report_clients: the end-of-run client grouping of one report: its
// client list into its users, government, organisation, country and region
// lists, the visitor measures of every client (with what pruning dropped before)
// into its loyalty, circulation, time online and session-depth results, and the
// mean path table sorted. The derived lists are made anew each time from the
// settled lists (what pruning dropped), so grouping again after more hits (a
// daemon cycle) counts every client once; a client that pruning dropped before
// adds its counters but is no new member (visitor) of its groups. With two
// `threads`, a second one helps work out the clients' groups. `again`: the run
// groups the report again later (a daemon), so the places looked up are kept
// for then. Non-zero when memory ran out (reported).
int group_report_clients(ReportStats& report, const SettingsList& orgmap,
                         AddressPlaces* places = nullptr, int threads = 1, bool again = true);

// group_dropped_client: one client that pruning is about to drop, grouped for
// good: into the settled derived lists and into the report's lasting visitor
// tally. The tally keeps what grouping worked out for the client, so that when
// it returns and is dropped again it is neither placed nor matched again, and
// counts once as a member of its groups.
void group_dropped_client(ReportStats& report, StatList& clients, int index,
                          const SettingsList& orgmap, AddressPlaces* places = nullptr);

}  // namespace tallowick::engine
