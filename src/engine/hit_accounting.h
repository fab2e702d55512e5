// Hit accounting: what one accepted hit adds to the tables of its report. The run
// prepares the hit (normalised URL, time in days) and calls Account once per hit.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/julian_date.h"
#include "base/settings.h"
#include "engine/agents.h"
#include "engine/report_stats.h"
#include "logs/hit_record.h"

namespace tallowick::engine {

// Totals of the whole run, across its reports.
struct RunTotals {
    std::int64_t lines = 0;
    std::int64_t unparsed = 0;
    std::int64_t accepted = 0;
    std::int64_t failed = 0;
    std::int64_t not_modified = 0;
    double bytes = 0, bytes_in = 0;
    double first_time = 0, last_time = 0;
};

// A hit as the run hands it over: the parsed record and what the run worked out.
struct PreparedHit {
    const logs::HitRecord* record = nullptr;
    std::string_view client;     // the client host, or its resolved name
    std::string_view url;        // normalised (see normalise_url)
    std::string_view date_text;  // "MM/DD/YYYY"; the previous hit's when the line had none
    double time = 0;             // Julian days
    bool has_time = false;       // the line had a time of day
    int format_code = 0;         // logs::LogType of the log
    std::string_view line;       // the line the record's texts point into, when there is one
    // The line stays readable until the accounting's next Settle: a batch then
    // keeps the texts in it where they are. Only for batches counted on the
    // reading thread.
    bool line_stays = false;
};

// The names the hour and weekday tables count under: "00".."23" and
// "Sunday".."Saturday".
std::span<const std::string_view> hour_names();
std::span<const std::string_view> weekday_names();

class HitAccounting {
public:
    // The settings must outlive the accounting and stay unchanged during the run.
    // Hits are counted in batches, in two passes over different tables: the
    // first counts the error, search and referrer tables, the second the file,
    // time, client and agent tables. The tables lag behind Account until Settle.
    // With two threads, a thread of its own runs the second passes (and first
    // passes when it has caught up) while the next batch is read. Without
    // batches every hit is counted at once, for runs that read the tables between
    // lines (streaming, daemons).
    enum class Batching { none, one_thread, two_threads };
    HitAccounting(const Settings& settings, const ReportOptions& options,
                  Batching batching = Batching::none);
    ~HitAccounting();
    HitAccounting(const HitAccounting&) = delete;
    HitAccounting& operator=(const HitAccounting&) = delete;

    // Account: steps 1 to 17 of one accepted hit into `report`, with the run's
    // totals. Failures of single lists (memory) are reported by the lists; the
    // remaining steps still run.
    void Account(ReportStats& report, const PreparedHit& hit, RunTotals& totals);

    // Returns once every hit accounted so far is counted in every table: before
    // the tables are read, pruned or added to by anything else.
    void Settle();

    const AgentCache& agents() const { return agents_; }

private:
    struct Group {
        std::string pattern;
        std::string name;
    };
    // What earlier hits of a report worked out for its URLs, referrers and agents.
    struct Memo;
    struct Hit;
    struct Batches;
    struct UrlFacts;
    struct UrlCount;
    struct ReferrerFacts;
    struct AgentFacts;

    void StartBatches(bool second_thread);
    Memo* MemoFor(const ReportStats& r);
    // Each memo lookup may come with the entry a lookahead found (-1: none).
    void AccountUrl(ReportStats& r, Memo* memo, std::string_view url, std::size_t text_hash,
                    std::int32_t entry, UrlCount& out);
    bool WorkOutUrl(ReportStats& r, std::string_view url, UrlFacts& facts, std::string_view& folder);
    // The two passes over a batch, and over one hit. The second pass runs apart
    // from the first and may run before it: it notes in `later` (by position) the
    // failed pages, which count in the first pass's error list.
    void FirstPass(std::span<Hit> hits);
    void SecondPass(std::span<Hit> hits, std::vector<std::uint32_t>& later);
    void AccountFirst(Hit& hit);
    // True for a failed page.
    bool AccountSecond(const Hit& hit);
    static void CountFailedPage(const Hit& hit);
    void AccountAgent(ReportStats& r, Memo* memo, std::string_view agent, std::size_t text_hash,
                      std::int32_t entry, int client_index,
                      std::int64_t bytes, std::int64_t bytes_in, double time, int flags);
    bool WorkOutAgent(ReportStats& r, std::string_view agent, AgentFacts& facts);
    void AccountReferrer(ReportStats& r, Memo* memo, const Hit& hit, int flags);
    bool WorkOutReferrer(ReportStats& r, const Hit& hit, ReferrerFacts& facts);

    const ReportOptions& options_;
    bool usecgi_;
    bool ignoreself_, ignorebookmark_, ignoreusernames_;
    bool multidomains_;
    std::string_view indexfile_;
    std::string_view hitpattern_, clickpattern_;
    std::string site_host_;
    std::vector<Group> groups_;
    bool pagehistory_, downloadhistory_, topdirhistory_, errorurlhistory_, referhistory_;

    // The reading thread's. Reused from hit to hit, so that accounting
    // allocates only while they grow.
    std::string errurl_key_;
    std::string phrase_;
    std::vector<std::unique_ptr<Memo>> memos_;  // by report index
    std::unique_ptr<Batches> batches_;          // null: hit by hit
    bool second_thread_ = false;                // batches are counted on a thread of their own

    // The second pass's, on a cache line of their own.
    alignas(64) AgentCache agents_;
    // The day of the last hit counted: hits come in time order, so its midnight
    // and weekday are worked out once a day.
    struct Day {
        double midnight = -1;
        int weekday = 0;
        double MidnightOf(double time) {
            if (time < midnight || time >= midnight + 1) {
                midnight = JulianMidnight(time);
                weekday = JulianWeekday(midnight);
            }
            return midnight;
        }
        int WeekdayOf(double day_midnight) {
            return day_midnight == midnight ? weekday : JulianWeekday(day_midnight);
        }
    } day_;
    std::string last_agent_;
    AgentClass last_agent_class_;
};

}  // namespace tallowick::engine
