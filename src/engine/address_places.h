// Countries and organisations of numeric clients: an IP-to-country database in
// the MaxMind DB format and a table of autonomous-system names by address range.
// Client grouping asks for each client that stays an address; the answers for
// public addresses are kept in a cache of bounded size (a client that pruning
// drops keeps its place with it, see DroppedClients).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/settings.h"
#include "engine/clients.h"
#include "engine/ip_address.h"

namespace tallowick::engine {

class CountryDatabase;
class AsTable;

// Where the databases are looked for: "ipdata" in the program folder, then
// /usr/local/share/tallowick/ipdata, then /usr/share/tallowick/ipdata.
inline constexpr std::string_view kCountryDatabaseFile = "geo-whois-asn-country.mmdb";
inline constexpr std::string_view kAsTableFile = "asn.tbl";
std::filesystem::path find_ip_data_file(std::string_view name);

struct AddressPlace {
    CountryOf country{kUnresolvedIp, kRegionNone};
    std::string_view organisation;  // the AS name, or empty
};

class AddressPlaces {
public:
    // The databases the settings ask for (`geoip`, with `geoipdb` naming another
    // country database), opened on the first Find; nullptr when geoip is off.
    static std::unique_ptr<AddressPlaces> ForSettings(const AnalysisSettings& settings);
    // The same with explicit files; an empty path leaves that database out.
    static std::unique_ptr<AddressPlaces> ForFiles(std::filesystem::path country_file,
                                                   std::filesystem::path as_file);
    ~AddressPlaces();
    AddressPlaces(const AddressPlaces&) = delete;
    AddressPlaces& operator=(const AddressPlaces&) = delete;

    // Find: the place of a client that is a numeric address. Private and
    // loopback ranges are "[LOCAL NET]"; an address neither database knows, and
    // a client that is no address, stays "[UNRESOLVED IP]", as does everything
    // when no database could be opened. A file that cannot be opened is
    // reported once; installed files that are simply absent are not.
    AddressPlace Find(std::string_view client);

    // Find without the cache, for several threads at once: available() must
    // have been asked before, and the AS names given are counted by CountAsNames.
    AddressPlace FindUncached(std::string_view client) const;
    void CountAsNames(std::uint64_t given);

    // Whether a database could be opened (opens them when not yet tried).
    bool available();
    // How many AS names Find has handed out (reports that used some credit the data).
    std::uint64_t as_names_given() const { return as_names_given_; }

private:
    AddressPlaces() = default;
    void OpenFiles();
    AddressPlace Look(const IpAddress& address) const;
    AddressPlace PlaceOf(const IpAddress& address);

    // One cached place; a later address whose hash picks the same slot takes it over.
    struct CachedPlace {
        IpAddress address;
        bool used = false;
        AddressPlace place;
    };
    static constexpr std::size_t kCacheSlots = std::size_t{1} << 16;

    std::filesystem::path country_file_, as_file_;
    bool opened_ = false;
    std::unique_ptr<CountryDatabase> countries_;
    std::unique_ptr<AsTable> as_names_;
    std::vector<CachedPlace> cache_;  // kCacheSlots once the first public address is met
    std::uint64_t as_names_given_ = 0;
};

// The credit line of the AS data, for the report's footer.
inline constexpr std::string_view kAsDataCredit =
    "Organisations of numeric addresses: AS data of RouteViews, DB-IP and NRO "
    "(ip-location-db), CC BY 4.0";

}  // namespace tallowick::engine
