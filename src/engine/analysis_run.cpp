#include "engine/analysis_run.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <thread>

#include "base/cancel.h"
#include "base/julian_date.h"
#include "base/status.h"
#include "engine/url_tables.h"
#include "logs/filters.h"
#include "logs/log_list.h"
#include "logs/log_source.h"
#include "platform/folders.h"
#include "logs/pattern.h"

namespace tallowick::engine {
namespace {

constexpr int kPreReadLines = 7;
// The most items pruning leaves in one list.
constexpr int kPruneBudget = 3000;
// Detection reads past comment and blank lines to its data lines, but no further
// than this on a log that holds nothing else.
constexpr int kPreReadLimit = 1000;
constexpr std::uint64_t kSmallLog = 2500000;
constexpr std::uint64_t kSmallLogStep = 25000;
constexpr double kFutureDays = 10;
constexpr double kRehashFactor = 1.000011574074074;

std::string_view FileNameOf(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string Format(const char* fmt, long a, long b = 0, long c = 0) {
    char buf[160];
    std::snprintf(buf, sizeof buf, fmt, a, b, c);
    return buf;
}

// "HH:MM:SS" (or "H:MM:SS", as IIS writes hours before ten) as seconds of the
// day; nullopt for a time that is not one.
std::optional<int> SecondsOfDay(std::string_view t) {
    const int h = logs::HourOfTime(t);
    if (h < 0) return std::nullopt;
    const std::size_t minutes = t[1] == ':' ? 2 : 3;
    if (t.size() < minutes + 2 || t[minutes - 1] != ':') return std::nullopt;
    t.remove_prefix(minutes);
    auto two = [&](std::size_t at) -> int {
        if (at + 1 >= t.size() || t[at] < '0' || t[at] > '9' || t[at + 1] < '0' || t[at + 1] > '9')
            return -1;
        return (t[at] - '0') * 10 + (t[at + 1] - '0');
    };
    const int m = two(0);
    int s = 0;
    if (t.size() >= 5 && t[2] == ':') s = two(3);
    if (m < 0 || s < 0 || m > 59 || s > 60) return std::nullopt;
    return h * 3600 + m * 60 + s;
}

struct TransparentHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

}  // namespace

int DaemonIntervalSeconds(int code) {
    static constexpr std::array<int, 16> kSeconds = {
        0, 60, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400,
        604800, 1209600, 1814400, 2592000};
    if (code <= 0) return 0;
    if (code < 16) return kSeconds[static_cast<std::size_t>(code)];
    return code;
}

SplitMode SplitModeOf(const RunSettings& run) {
    if (run.multivhosts) return SplitMode::vhost;
    if (run.multitopdirs) return SplitMode::topdir;
    if (run.multitop2dirs) return SplitMode::top2dir;
    if (run.multimonths) return SplitMode::month;
    if (run.multiweeks) return SplitMode::week;
    if (run.multidomains) return SplitMode::per_log;
    return SplitMode::none;
}

// The open log: its source, its size for progress and the lines that format
// detection read ahead, which are handed out again before the source's own.
struct AnalysisRun::OpenedLog {
    logs::LogSource source;
    std::uint64_t size = 0;
    std::vector<std::string> pre_read;
    std::size_t replay = 0;
    std::uint64_t windows = 0;  // of the source, when its last line was read
    std::uint64_t progress_check = 0;  // bytes read before the next look at the progress
    std::string title;
};

// Report of each split key; the last key is remembered because hits come in runs.
struct AnalysisRun::SplitKeys {
    std::unordered_map<std::string, ReportStats*, TransparentHash, std::equal_to<>> reports;
    std::string last_key;
    ReportStats* last = nullptr;
    logs::LogDate last_date;  // week splits: the date the last key was made from
};

AnalysisRun::AnalysisRun(const Settings& settings, std::vector<std::string> logs, RunHooks hooks)
    : settings_(settings), logs_(std::move(logs)), hooks_(std::move(hooks)) {}

AnalysisRun::~AnalysisRun() {
    // The accounting's second thread may still count into the reports.
    if (accounting_) accounting_->Settle();
}

bool AnalysisRun::cancelled() const {
    return cancel_.load(std::memory_order_relaxed) || out_of_memory() || cancel_requested();
}

// Router and proxy formats count sources and protocols; a custom log does when
// its layout names a source item.
int AnalysisRun::ModeOf(int type) const {
    if (type == static_cast<int>(logs::LogType::custom))
        return settings_.custom.data_index[static_cast<std::size_t>(logs::CustomItem::source)] > 0
                   ? kProxyMode
                   : kWebMode;
    return type > 39 ? kProxyMode : kWebMode;
}

double AnalysisRun::Now() const { return hooks_.now ? hooks_.now() : JulianNow(); }

void AnalysisRun::SleepSecond() const {
    if (hooks_.sleep_second)
        hooks_.sleep_second();
    else
        std::this_thread::sleep_for(std::chrono::seconds(1));
}

ReportStats* AnalysisRun::AddReport(std::string_view name, int mode, int format_code) {
    if (reports_.size() >= static_cast<std::size_t>(kMaxReports)) return nullptr;
    auto report = CreateReportStats(options_, static_cast<int>(reports_.size()) + 1, name, mode);
    if (!report) return nullptr;
    report->format_code = format_code;
    reports_.push_back(std::move(report));
    return reports_.back().get();
}

ReportStats* AnalysisRun::FindReport(std::string_view name) const {
    for (const auto& r : reports_)
        if (r->name == name) return r.get();
    return nullptr;
}

void AnalysisRun::CountLoadedHits(const ReportStats& loaded) {
    totals_.accepted += loaded.accepted_hits;
    totals_.failed += loaded.failed_hits;
    totals_.not_modified += loaded.not_modified_hits;
    totals_.bytes += loaded.bytes;
    totals_.bytes_in += loaded.bytes_in;
    if (loaded.first_time > 0 && (totals_.first_time == 0 || loaded.first_time < totals_.first_time))
        totals_.first_time = loaded.first_time;
    totals_.last_time = std::max(totals_.last_time, loaded.last_time);
}

// ---- run start ---------------------------------------------------------------

void AnalysisRun::StartRun() {
    accounting_.reset();  // its second thread ends before the reports go
    totals_ = {};
    reports_.clear();
    log_reports_.assign(logs_.size(), nullptr);
    consumed_.assign(logs_.size(), 0);
    current_ = nullptr;
    cancel_ = false;
    daemon_cycles_ = 0;
    interim_reports_ = 0;
    in_daemon_cycle_ = false;
    client_threshold_ = 4000;
    hit_threshold_ = 60000;
    last_interim_end_ = last_interim_cost_ = 0;
    have_last_time_ = false;
    last_date_ = {};
    clear_out_of_memory();
    run_start_seconds_ = now_seconds();
    run_start_days_ = Now();
    future_limit_ = JulianMidnight(run_start_days_) + kFutureDays + 1;
    ReportProgress(-1, false, {}, 0);
    ReportProgress(0, true, Format("Processing %d logs", static_cast<long>(logs_.size())),
                   run_start_seconds_);

    // Streaming keeps memory bounded: no mean path, session history or client
    // history graph (the report options carry that to the lists).
    options_ = ReportOptions::From(settings_);
    // Hits are counted in batches, by two threads when there are two; streaming
    // and daemon runs read and prune the tables between lines.
    using Batching = HitAccounting::Batching;
    Batching batching = Batching::none;
    if (!settings_.run.streaming && settings_.run.daemontime <= 0)
        batching = settings_.analysis.threads > 1 && std::thread::hardware_concurrency() != 1
                       ? Batching::two_threads
                       : Batching::one_thread;
    accounting_ = std::make_unique<HitAccounting>(settings_, options_, batching);
    lines_may_stay_ = batching == Batching::one_thread;
    dispatcher_ = std::make_unique<logs::LineDispatcher>(settings_.custom, settings_.analysis);
    filterzero_ = settings_.analysis.filterzero;
    // Without lists, the filters keep every hit under either logic.
    const FilterSettings& f = settings_.filters;
    has_filters_ = !f.site.empty() || !f.source.empty() || !f.browser.empty() ||
                   !f.referal.empty() || !f.url.empty();
    split_mode_ = SplitModeOf(settings_.run);
    split_ = std::make_unique<SplitKeys>();

    names_.reset();
    if (settings_.analysis.dns_mode != kDnsOff) {
        names_ = NameResolution::Start(
            settings_.analysis, platform::program_folder() / "dnscache.dat",
            [this](logs::HitRecord& hit, std::string_view client, const HeldHitContext& held) {
                AccountHit(hit, client, held.time, held.has_time);
            },
            [this] { return cancelled(); });
        if (!names_) Cancel();  // out of memory, reported
    }
}

bool AnalysisRun::OpenLogAt(std::size_t index, bool first) {
    // A database may add to the reports, and a new log may start a report.
    accounting_->Settle();
    const auto names = logs::LogNameContext::for_run(settings_.dates, settings_.run.siteurl);
    auto log = std::make_unique<OpenedLog>();
    auto source = logs::OpenLog(logs_[index], &log->size, &names);
    if (!source) return false;
    log->source = std::move(*source);
    log->title.assign(FileNameOf(logs_[index]));
    log_index_ = index;
    dispatcher_->ResetLogType();

    std::string_view line;
    if (const std::uint64_t skip = consumed_[index]; skip > 0) {
        // A daemon cycle goes on where the last one stopped. The lines passed
        // over still settle the format, and header lines their layout.
        for (int i = 0; log->source.bytes_read() < skip && logs::ReadLogLine(log->source, line);
             ++i)
            if (!line.empty() && (i < kPreReadLines || line.front() == '#'))
                dispatcher_->DispatchLine(line, hit_);
    } else {
        // Format detection: the first data lines (and the headers before them)
        // settle the type together, then all are read again.
        int data_lines = 0;
        for (int i = 0; data_lines < kPreReadLines && i < kPreReadLimit &&
                        logs::ReadLogLine(log->source, line);
             ++i) {
            log->pre_read.emplace_back(line);
            if (!line.empty() && line.front() != '#') ++data_lines;
        }
        dispatcher_->SettleLogType(log->pre_read, hit_);
    }
    if (dispatcher_->zero_byte_filter_off()) filterzero_ = false;
    if (dispatcher_->take_beep()) {
        std::string type_name;
        dispatcher_->LogTypeName(type_name);
        ShowWarning(log->title + " is a log of type " + type_name +
                    ", which is not analysed: its lines are skipped");
    }
    log_ = std::move(log);

    if (logs_.size() > 1)
        ShowStatus(Format("File %i of %i", static_cast<long>(index + 1),
                          static_cast<long>(logs_.size())));

    const auto type = static_cast<int>(dispatcher_->log_type());
    // A ".tdb" that does not begin as a database is a damaged one, not a log.
    if (type == kDatabaseFormat || std::string_view(logs_[index]).ends_with(".tdb")) {
        // A daemon cycle goes on with the reports the database was loaded into.
        if (!in_daemon_cycle_) {
            ShowStatus("Loading database...");
            if (hooks_.load_database) hooks_.load_database(logs_[index], *this);
        }
        // Its lines are not hits: the file ends here for the line loop.
        log_->pre_read.clear();
        logs::CloseLog(log_->source);
        // The logs after it add to the report it restored.
        if (!current_ && !reports_.empty()) current_ = reports_.back().get();
        return true;
    }
    const int mode = ModeOf(type);
    const bool new_report = split_mode_ == SplitMode::none
                                ? first || !current_
                                : split_mode_ == SplitMode::per_log;
    if (new_report && !in_daemon_cycle_) {
        // A report of this name loaded from a database goes on with this log.
        current_ = split_mode_ == SplitMode::per_log ? FindReport(log_->title) : nullptr;
        if (!current_) current_ = AddReport(log_->title, mode, type);
        if (!current_) {
            Cancel();
            return true;
        }
        log_reports_[index] = current_;
    } else if (split_mode_ == SplitMode::per_log && log_reports_[index]) {
        current_ = log_reports_[index];
        current_->start_time = now_seconds();
    }
    if (current_ && current_->format_code == 0) current_->format_code = type;
    return true;
}

bool AnalysisRun::ReadLine(std::string_view& line) {
    if (log_->replay < log_->pre_read.size()) {
        line = log_->pre_read[log_->replay++];
        return true;
    }
    line_stays_ = false;
    if (!logs::ReadLogLine(log_->source, line)) return false;
    if (const std::uint64_t windows = log_->source.windows(); windows != 0 && lines_may_stay_) {
        // A plain log's line stays readable until the window after next: the
        // hits queued from the window before are counted as a new one begins.
        if (windows != log_->windows) {
            accounting_->Settle();
            log_->windows = windows;
        }
        line_stays_ = true;
    }
    return true;
}

// ---- the line loop ---------------------------------------------------------------

void AnalysisRun::Progress() {
    std::uint64_t pos = log_->source.bytes_read();
    if (pos < log_->progress_check) return;
    if (pos > log_->size) log_->size = pos * 2;
    if (log_->size < kSmallLog) pos -= pos % kSmallLogStep;
    const int percent = log_->size ? static_cast<int>(pos * 100 / log_->size) : 0;
    // Before this many bytes are read, the percentage cannot have grown (the
    // size grows only once they pass it): the lines up to there skip the sums.
    const auto next = static_cast<std::uint64_t>(percent + 1);
    log_->progress_check = std::min((next * log_->size + 99) / 100, log_->size + 1);
    if (percent == last_percent_) return;
    last_percent_ = percent;
    set_progress_lines(static_cast<std::uint64_t>(totals_.lines), log_->title);
    ReportProgress(percent, false, {}, run_start_seconds_);
}

void AnalysisRun::StreamingCheck() {
    ReportStats* r = current_;
    if (!r || !r->client) return;
    accounting_->Settle();
    if (r->client->Count() <= client_threshold_ && r->accepted_hits <= hit_threshold_) return;
    // An interim report is written only when the reading since the last one took
    // eight times as long as writing it did: on a log of ever new clients the
    // reports would otherwise cost more than the reading.
    const double start = now_seconds();
    if (start - last_interim_end_ >= 8 * last_interim_cost_) {
        ++interim_reports_;
        if (hooks_.write_report) hooks_.write_report(*r);
        if (hooks_.notify) hooks_.notify(*r, totals_.last_time, NotifyPoint::interim);
        last_interim_end_ = now_seconds();
        last_interim_cost_ = last_interim_end_ - start;
    }
    Prune(*r, totals_.last_time);
    // From what pruning left, so that the lists stay bounded.
    client_threshold_ = r->client->Count() + 2000;
    hit_threshold_ = r->accepted_hits + 50000;
}

void AnalysisRun::ReadLogs() {
    const bool interim = settings_.run.streaming || settings_.run.daemontime > 0;
    std::string_view line;
    while (!cancelled()) {
        if (!ReadLine(line)) {
            if (!EndOfLog()) return;
            continue;
        }
        ++totals_.lines;
        Progress();
        if (interim) StreamingCheck();
        HandleLine(line);
    }
}

bool AnalysisRun::HandleLine(std::string_view line) {
    // An over-long line comes cut at the reader's limit: whatever its first part
    // looks like, it is not the line the log holds.
    const logs::LineResult parsed = line.size() >= logs::LogSource::kMaxLine
                                        ? logs::LineResult::malformed
                                        : dispatcher_->DispatchLine(line, hit_);
    if (parsed == logs::LineResult::skip) return false;
    if (parsed == logs::LineResult::malformed) {
        ++totals_.unparsed;
        if (current_) ++current_->unparsed_lines;
        status_scratch_.assign(line);
        std::replace(status_scratch_.begin(), status_scratch_.end(), '\0', ' ');
        ShowStatus(status_scratch_);
        return false;
    }
    logs::HitRecord& hit = hit_;
    if (!current_ && split_mode_ < SplitMode::vhost) return false;  // a database file's line

    // Acceptance, in order.
    if (hit.bytes == -1) hit.bytes = 0;
    if (filterzero_ && hit.bytes == 0) return false;
    if (hit.client.empty()) return false;

    double time;
    bool has_time = false;
    if (hit.date) {
        const auto key = static_cast<std::uint64_t>(hit.date.year()) * 10000 +
                         static_cast<std::uint64_t>(hit.date.month()) * 100 +
                         static_cast<std::uint64_t>(hit.date.day());
        // Hits come in date order: the calendar sum runs once a day.
        if (key != cached_day_key_) {
            cached_day_key_ = key;
            cached_midnight_ = JulianDate(hit.date.year(), hit.date.month(), hit.date.day());
        }
        time = cached_midnight_;
        if (auto s = SecondsOfDay(hit.time)) {
            time += *s / 86400.0;
            has_time = true;
        }
    } else {
        time = have_last_time_ ? last_time_ : run_start_days_;
        const CalendarTime c = CalendarFromJulian(time);
        hit.date = logs::LogDate(c.year, c.month, c.day);
        has_time = !hit.time.empty();
    }
    if (time >= future_limit_) return false;
    if (settings_.dates.mode != kDateAll &&
        (time < settings_.dates.start || time >= settings_.dates.end + 1))
        return false;

    std::string_view client = hit.client;
    if (names_) {
        // A hit whose client is being looked up comes back through AccountHit.
        const bool now = names_->Resolve(hit, HeldHitContext{time, has_time}, client);
        const bool counted = now && AccountHit(hit, client, time, has_time);
        names_->Poll(0, totals_.lines);
        return counted;
    }
    return AccountHit(hit, client, time, has_time, line, line_stays_);
}

// The rest of a hit's way: the filters, its report and the accounting.
bool AnalysisRun::AccountHit(logs::HitRecord& hit, std::string_view client, double time,
                             bool has_time, std::string_view line, bool line_stays) {
    const std::string_view url = normalise_url(hit.url, settings_.analysis.usecgi, url_scratch_);
    const logs::FilterSubject subject{client, hit.source, hit.agent, hit.referrer, url};
    if (has_filters_ && !logs::FiltersKeep(settings_.filters, subject)) return false;

    ReportStats* report = split_mode_ >= SplitMode::vhost ? ReportFor(hit, url, time) : current_;
    if (!report) return false;
    current_ = report;

    // Accepted.
    ++totals_.accepted;
    ++report->accepted_hits;
    last_time_ = time;
    have_last_time_ = true;
    last_date_ = hit.date;
    if (totals_.first_time == 0 || time < totals_.first_time) totals_.first_time = time;
    if (time > totals_.last_time) totals_.last_time = time;
    if (report->first_time == 0 || time < report->first_time) report->first_time = time;
    if (time > report->last_time) report->last_time = time;

    PreparedHit prepared;
    prepared.record = &hit;
    prepared.client = client;
    prepared.url = url;
    prepared.date_text = hit.date.view();
    prepared.time = time;
    prepared.has_time = has_time;
    prepared.format_code = static_cast<int>(dispatcher_->log_type());
    prepared.line = line;
    prepared.line_stays = line_stays;
    accounting_->Account(*report, prepared, totals_);
    return true;
}

ReportStats* AnalysisRun::ReportFor(const logs::HitRecord& hit, std::string_view url,
                                    double time) {
    SplitKeys& s = *split_;
    std::array<char, 16> buf{};
    std::string_view key;
    switch (split_mode_) {
    case SplitMode::vhost:
        key = VirtualHostOf(hit.server);
        break;
    case SplitMode::topdir:
        key = leading_folders(url, 1);
        break;
    case SplitMode::top2dir:
        key = leading_folders(url, 2);
        break;
    case SplitMode::month: {
        const int n = std::snprintf(buf.data(), buf.size(), "%04d-%02d", hit.date.year(),
                                    hit.date.month());
        key = std::string_view(buf.data(), static_cast<std::size_t>(std::max(n, 0)));
        break;
    }
    case SplitMode::week: {
        if (s.last && hit.date == s.last_date) return s.last;
        // The weekday of a Julian date turns at noon: take it at midnight.
        const double midnight = JulianMidnight(time);
        const double sunday = midnight - JulianWeekday(midnight);
        const CalendarTime c = CalendarFromJulian(sunday);
        const int n = std::snprintf(buf.data(), buf.size(), "%04d-%02d-%02d", c.year, c.month,
                                    c.day);
        key = std::string_view(buf.data(), static_cast<std::size_t>(std::max(n, 0)));
        s.last_date = hit.date;
        break;
    }
    default:
        return current_;
    }
    if (s.last && key == s.last_key) return s.last;
    ReportStats* report;
    if (auto it = s.reports.find(key); it != s.reports.end()) {
        report = it->second;
    } else if ((report = FindReport(key)) == nullptr) {  // new unless loaded from a database
        const int mode = ModeOf(static_cast<int>(dispatcher_->log_type()));
        report = AddReport(key, mode, static_cast<int>(dispatcher_->log_type()));
        if (!report) {
            // More than kMaxReports: the run ends.
            ShowError(Format("No more than %ld reports in one run", kMaxReports));
            Cancel();
            return nullptr;
        }
    }
    if (s.reports.find(key) == s.reports.end()) s.reports.emplace(std::string(key), report);
    s.last_key.assign(key);
    s.last = report;
    return report;
}

// The report title of a hit's server field: renamed by the first `vhostmap`
// entry ("pattern=name") whose pattern matches; a numeric address counts as no
// virtual host with `ignoreipvhosts`.
std::string_view AnalysisRun::VirtualHostOf(std::string_view server) const {
    constexpr std::string_view kNone = "[no virtual host]";
    if (server.empty()) return kNone;
    if (settings_.analysis.ignoreipvhosts &&
        (logs::parse_ipv4(server) || server.find(':') != std::string_view::npos))
        return kNone;
    for (const std::string& entry : settings_.run.vhostmap.entries()) {
        const std::size_t eq = entry.rfind('=');
        if (eq == std::string::npos || eq + 1 == entry.size()) continue;
        if (logs::MatchPattern(server, std::string_view(entry).substr(0, eq), true))
            return std::string_view(entry).substr(eq + 1);
    }
    return server;
}

// ---- end of log, end of run ------------------------------------------------------

bool AnalysisRun::EndOfLog() {
    if (names_) names_->EndOfLog(totals_.lines);
    const std::uint64_t read = log_->source.bytes_read();
    const std::uint64_t fresh = read - std::min(read, consumed_[log_index_]);
    consumed_[log_index_] = read;
    if (current_) {
        if (split_mode_ == SplitMode::per_log)
            current_->bytes_read = read;
        else
            current_->bytes_read += fresh;
        current_->elapsed = std::max(kShortestElapsed, now_seconds() - current_->start_time);
    }
    if (settings_.run.daemontime <= 0) {
        accounting_->Settle();  // queued hits may point into the log's lines
        logs::CloseLog(log_->source);
    }

    return OpenFirstReadable(log_index_ + 1, false) && !cancelled();
}

// A log that cannot be opened has been reported; the run goes on with the next.
bool AnalysisRun::OpenFirstReadable(std::size_t from, bool first) {
    for (std::size_t i = from; i < logs_.size() && !cancelled(); ++i)
        if (OpenLogAt(i, first)) return true;
    return false;
}

void AnalysisRun::Finish() {
    if (names_) names_->Finish();
    accounting_->Settle();
    if (cancelled()) {
        ReportProgress(100, true, "Process Cancelled", run_start_seconds_);
        return;
    }
    if (totals_.unparsed == 0 || totals_.accepted > 0) {
        // Loaded reports are grouped too: their derived lists and visitor
        // measures are worked out anew from their clients, old and new.
        for (auto& r : reports_) {
            if (!hooks_.group_clients) continue;
            if (hooks_.group_clients(*r) != 0) {
                Cancel();
                ReportProgress(100, true, "Process Cancelled", run_start_seconds_);
                return;
            }
        }
        if (settings_.analysis.savedata && hooks_.save_database) {
            ShowStatus("Saving database ...");
            hooks_.save_database(reports_);
        }
        if (hooks_.write_all) hooks_.write_all(reports_);
    }
    if (totals_.lines > 0 && totals_.accepted == 0)
        ShowError("No valid data processed, log file not valid");
    else if (totals_.lines == 0 && std::none_of(reports_.begin(), reports_.end(), [](auto& r) {
                 return r->format_code == kDatabaseFormat;
             }))
        ShowError("No lines in the log, the report is empty");
}

// One daemon pause; false when the daemon ends.
bool AnalysisRun::DaemonCycle() {
    ++daemon_cycles_;
    for (auto& r : reports_) {
        if (hooks_.notify) hooks_.notify(*r, totals_.last_time, NotifyPoint::daemon_cycle);
        Prune(*r, totals_.last_time);
    }
    ReportProgress(100, true, "Sleeping...", run_start_seconds_);
    const int seconds = DaemonIntervalSeconds(settings_.run.daemontime);
    for (int i = 0; i < seconds && !cancelled(); ++i) SleepSecond();
    if (cancelled()) return false;
    ShowStatus("Updating report...");
    return true;
}

int AnalysisRun::Process() {
    const double started = now_seconds();
    for (bool restart = true; restart;) {
        restart = false;
        StartRun();
        if (logs_.empty() || cancelled()) break;
        if (!OpenFirstReadable(0, true)) {
            Cancel();  // no report: no log can be read
            break;
        }
        for (;;) {
            ReadLogs();
            Finish();
            if (settings_.run.daemontime <= 0 || cancelled()) {
                for (auto& r : reports_)
                    if (hooks_.notify) hooks_.notify(*r, totals_.last_time, NotifyPoint::end_of_run);
                break;
            }
            if (!DaemonCycle()) break;
            if (settings_.run.daemonrehash > 0) {
                restart = Now() > settings_.run.daemonrehash * kRehashFactor && daemon_cycles_ >= 1;
                break;
            }
            // Go on with the first log where it stopped, into the same reports.
            in_daemon_cycle_ = true;
            if (!reports_.empty()) {
                current_ = reports_.front().get();
                current_->start_time = now_seconds();
            }
            if (!OpenLogAt(0, true)) break;
        }
    }
    ShowStatus("Cleaning up...");
    names_.reset();
    log_.reset();
    ReportProgress(-1, false, {}, 0);
    seconds_ = now_seconds() - started;
    return cancelled() ? 1 : 0;
}

// ---- pruning --------------------------------------------------------------------

void AnalysisRun::Prune(ReportStats& report, double now) {
    const int rows = std::max(DepthRows(settings_.report.statdepth), 15);
    const int keep_top = 2 * rows;
    // However recent or busy its items, a list keeps no more than this: an endless
    // log of new clients within one day would otherwise keep them all.
    const int budget = std::max(keep_top, kPruneBudget);
    std::vector<int> kept;
    std::vector<char> keep_mask;
    report.ForEachList([&](std::string_view, StatList& list) {
        if (&list == report.url.get() || list.GetNameKind() == kStaticNames ||
            list.Increment() < 100 || list.Count() <= keep_top)
            return;
        const double total_req = std::max(1, list.TotalReq());
        const double total_bytes = std::max(1.0, list.TotalBytes());
        kept.clear();
        for (int i = 0; i < list.Count(); ++i) {
            const StatItem& item = *list.Item(i);
            const double req_share = item.req / total_req;
            const double byte_share = item.bytes / total_bytes;
            if (i < keep_top || item.timelast > now - 1 || req_share > 0.03 ||
                byte_share > 0.03 || item.timelast > now - req_share * 8 ||
                item.timelast > now - byte_share * 8)
                kept.push_back(i);
        }
        if (static_cast<int>(kept.size()) > budget) {
            // The first positions stay; of the others the most recent fill the budget.
            const auto others = kept.begin() + std::min<std::ptrdiff_t>(keep_top, std::ssize(kept));
            const auto last = kept.begin() + budget;
            std::nth_element(others, last, kept.end(), [&](int a, int b) {
                return list.Item(a)->timelast > list.Item(b)->timelast;
            });
            kept.erase(last, kept.end());
            std::sort(others, kept.end());
        }
        if (static_cast<int>(kept.size()) == list.Count()) return;  // nothing to drop

        // Room for what is kept and the next 2000, so that the fresh list does not
        // grow before the next pruning; its steps stay large enough to be pruned.
        const int room = std::max(list.Increment(), static_cast<int>(kept.size()) + 2048);
        auto fresh = StatList::Create(&report, room, list.Options());
        if (!fresh) return;
        fresh->SetNameKind(list.GetNameKind());
        fresh->SetHasTimeRecs(list.HasTimeRecs());
        fresh->SetHasSessionRecs(list.HasSessionRecs());
        const bool clients = &list == report.client.get();
        keep_mask.assign(static_cast<std::size_t>(list.Count()), 0);
        for (int i : kept) keep_mask[static_cast<std::size_t>(i)] = 1;
        for (int i = 0; i < list.Count(); ++i) {
            if (keep_mask[static_cast<std::size_t>(i)])
                fresh->Merge(list, i);
            else if (clients && hooks_.group_dropped_client)
                hooks_.group_dropped_client(report, list, i);
        }
        fresh->CopyTotals(list);
        // Swap the fresh list into the report's slot.
        auto swap_into = [&](std::unique_ptr<StatList>& slot) {
            if (slot.get() == &list) {
                slot = std::move(fresh);
                return true;
            }
            return false;
        };
        if (swap_into(report.client) || swap_into(report.src) ||
            swap_into(report.second_domain) || swap_into(report.org) ||
            swap_into(report.refer) || swap_into(report.rsite) || swap_into(report.dir) ||
            swap_into(report.groupdir) || swap_into(report.topdir) ||
            swap_into(report.errurl) || swap_into(report.pages) || swap_into(report.down) ||
            swap_into(report.addhit) || swap_into(report.addclick) || swap_into(report.date) ||
            swap_into(report.month) || swap_into(report.user))
            return;
        for (auto& slot : report.protocol_clients)
            if (swap_into(slot)) return;
    });
}

}  // namespace tallowick::engine
