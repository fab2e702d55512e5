// Name resolution of the analysis run: numeric client addresses become host
// names through the DNS cache ("dnscache.dat") and, with `dnson`, reverse
// look-ups that run while the run goes on reading. A hit whose client is being
// looked up is held back, copied whole, and handed back to the run when the
// answer (or the end of the wait) comes; hits are then accounted in the order
// their answers arrive.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/settings.h"
#include "engine/ip_address.h"
#include "engine/string_lookup.h"
#include "logs/hit_record.h"

namespace tallowick::engine {

class DnsResolver;

// What the run knew of a hit when it was held back.
struct HeldHitContext {
    double time = 0;
    bool has_time = false;
};

// The run's accounting of a hit that comes back, under the client to count it as.
using AccountHeldHit =
    std::function<void(logs::HitRecord& hit, std::string_view client, const HeldHitContext&)>;

class NameResolution {
public:
    // Start: with `dnson` or `dnscache`, a table filled from `cache_file`;
    // with `dnson` also the resolver (at `dnsserver`, or the system's). A
    // resolver that cannot start is reported and the run goes on with the
    // cache alone. nullptr with `dnsoff`, or when memory runs out.
    static std::unique_ptr<NameResolution> Start(const AnalysisSettings& settings,
                                                 std::filesystem::path cache_file,
                                                 AccountHeldHit account,
                                                 std::function<bool()> cancelled);
    ~NameResolution();
    NameResolution(const NameResolution&) = delete;
    NameResolution& operator=(const NameResolution&) = delete;

    // Resolve: the client to count `hit` under. A cached address gives its
    // name; an uncached one, with look-ups on, is looked up (once, however many
    // hits wait for it), the hit is held back and false returned: the run
    // then leaves the hit alone. Waits while `dnsAmount` look-ups run.
    bool Resolve(logs::HitRecord& hit, const HeldHitContext& context, std::string_view& client);
    // Poll: hands back the hits whose answers have come, waiting up to
    // `wait_ms` for traffic. `lines` is the run's line count for the status.
    void Poll(int wait_ms, std::int64_t lines);
    // EndOfLog: waits up to `dnswait` seconds for what is still pending,
    // showing the count each second; then gives up on the rest ("Flushing
    // Remainder..."), whose hits are counted under their addresses.
    void EndOfLog(std::int64_t lines);
    // Finish: "DNS Completed", and the table written to the cache file
    // (reported when it cannot be written).
    void Finish();

    int pending_lookups() const { return static_cast<int>(pending_.size()); }
    const StringLookup& table() const { return *table_; }

private:
    struct HeldHit;
    struct Pending;

    NameResolution() = default;
    // The cached name of an address into `client`; false when not cached.
    bool UseCached(std::string_view& client) const;
    // Sends the look-up of an address; false when it ended at once.
    bool StartLookup(std::string_view client, const IpAddress& address);
    void Hold(Pending& pending, const logs::HitRecord& hit, const HeldHitContext& context);
    void Answered(std::uint32_t tag, bool named, bool cache, std::string_view name);
    void TakeAnswers(std::int64_t lines);
    void GiveUp();

    int mode_ = kDnsOff;
    int max_in_flight_ = 1;
    int wait_seconds_ = 0;
    std::filesystem::path cache_file_;
    AccountHeldHit account_;
    std::function<bool()> cancelled_;
    std::unique_ptr<StringLookup> table_;
    int loaded_ = 0;  // entries when the cache file was last read or written
    std::unique_ptr<DnsResolver> resolver_;

    struct TransparentHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    // Look-ups in flight by address; their slots by tag, reused.
    std::unordered_map<std::string, std::uint32_t, TransparentHash, std::equal_to<>> pending_;
    std::vector<Pending> slots_;
    std::vector<std::uint32_t> free_slots_;
    std::vector<std::unique_ptr<HeldHit>> spare_hits_;
    std::size_t held_hits_ = 0;
    std::int64_t submitted_ = 0, finished_ = 0;
    std::int64_t lines_ = 0;
};

}  // namespace tallowick::engine
