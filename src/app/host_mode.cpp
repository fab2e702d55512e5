#include "app/host_mode.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <optional>

#include "app/command_line.h"
#include "app/options.h"
#include "app/settings_keywords.h"
#include "app/settings_store.h"
#include "base/julian_date.h"
#include "base/status.h"
#include "platform/service_manager.h"
#include "report/report_assembly.h"
#include "run/processing.h"
#include "run/run_job.h"
#include "unattended/host.h"
#include "unattended/remote_client.h"

namespace tallowick::app {

namespace {

using unattended::RemoteCommands;

// Status lines of a host go to standard output, one a line, for the journal.
class HostStatusSink : public StatusSink {
public:
    explicit HostStatusSink(bool quiet) : quiet_(quiet) {}
    void status(std::string_view text) override {
        if (quiet_ || text.empty()) return;
        std::printf("%.*s\n", static_cast<int>(text.size()), text.data());
        std::fflush(stdout);
    }

private:
    bool quiet_;
};

// The program's side of the host: the settings record, the log list and the run
// job, changed only while no run is active.
class ProgramServices : public unattended::HostServices {
public:
    std::string settings_text() override {
        std::string text;
        WriteSettingsText(text, settings());
        return text;
    }
    std::vector<std::string> logs() override { return log_list().names(); }
    bool clear_logs() override {
        if (run::run_in_progress()) return false;
        log_list().clear();
        return true;
    }
    bool begin_settings_stream() override {
        if (run::run_in_progress()) return false;
        // The stream that follows carries every list entry the sender has.
        Settings& s = settings();
        for (SettingsList* list : {&s.filters.url, &s.filters.site, &s.filters.source,
                                   &s.filters.browser, &s.filters.referal,
                                   &s.filters.internalnetwork, &s.run.vhostmap,
                                   &s.analysis.orgmap, &s.analysis.groupdir,
                                   &s.report.notifyrules})
            list->clear();
        s.run.editpath.clear();
        keyword_context().block.clear();
        return true;
    }
    bool apply_settings_line(std::string_view line) override {
        if (run::run_in_progress()) return false;
        const std::vector<std::string_view> tokens = split_settings_line(line);
        if (!tokens.empty() || keyword_context().block.open())
            ApplyKeyword(keyword_context(), tokens, 0, line);
        return true;
    }
    bool settings_steady() override { return !run::scheduled_run_in_progress(); }
    RunStart start_run() override {
        if (run::run_in_progress()) return RunStart::busy;
        prepare_run();
        return run::StartProcessing(false) == run::kRunSucceeded ? RunStart::started
                                                                 : RunStart::not_started;
    }
    void stop_run() override { run::cancel_run(); }
    void quit() override { quit_ = true; }
    void set_progress(int percent) override { ShowProgress(percent, {}); }
    std::string usage_text() override { return std::string(app::usage_text()); }

    unattended::ReportSite report_site() override {
        unattended::ReportSite site;
        const Settings& s = settings();
        site.main_page = report::completeReportPath(s.run.out, s.report.reportformat).main.string();
        site.logs = log_list().names();
        if (scheduler_)
            for (const auto& entry : scheduler_->list().entries())
                site.schedule.push_back(schedule_line(entry));
        return site;
    }
    // The scheduler ticks here unless a service already ticks the same schedule.
    void tick_scheduler() override {
        if (!scheduler_) return;
        if (++seconds_ % kScheduleCheckSeconds == 0 &&
            scheduler_->scheduleFileStamp() != scheduler_->remembered_stamp())
            scheduler_->initSchedule(false);
        scheduler_->tickScheduler();
    }
    bool quit_requested() override { return quit_; }
    void finish_run() override {
        run::cancel_run();
        run::wait_for_run();
    }

    // Takes the schedule when no service holds it.
    void start_scheduler(unattended::SchedulerHooks hooks) {
        long owner = 0;
        lock_ = platform::InstanceLock::acquire(unattended::scheduler_lock_path(), owner);
        if (!lock_) {
            ShowStatus("Schedule left to the running service (process " + std::to_string(owner) +
                       ")");
            return;
        }
        scheduler_.emplace(unattended::schedule_file_path(), std::move(hooks));
        scheduler_->initSchedule(false);
    }

private:
    static constexpr int kScheduleCheckSeconds = 30;

    static std::string schedule_line(const unattended::ScheduleEntry& e) {
        const CalendarTime next = CalendarFromJulian(e.next);
        char when[64];
        std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d", next.year, next.month,
                      next.day, next.hour, next.minute);
        return std::to_string(e.number) + ". " + (e.enabled ? "" : "(disabled) ") + "next " +
               (e.next > 0 ? when : "not yet computed") + ", every " +
               std::to_string(e.repeat_count) + " " + std::string(unattended::unit_word(e.repeat_unit)) +
               ": " + e.logs + " with " + e.settings_file;
    }

    std::atomic<bool> quit_{false};
    std::optional<platform::InstanceLock> lock_;
    std::optional<unattended::Scheduler> scheduler_;
    int seconds_ = 0;
};

}  // namespace

int run_host_mode(bool report_server, unattended::SchedulerHooks scheduler) {
    ProcessMode& mode = process_mode();
    // Like the desktop: errors go to the status sinks (and to a connected client).
    mode.command_line = false;
    HostStatusSink sink(mode.quiet_given);
    StatusSink* previous = set_status_sink(&sink);

    const RunSettings& r = settings().run;
    unattended::HostOptions options;
    options.remote_control = r.remoteloginon;
    options.remote.address = r.remotelogin_addr;
    options.remote.port = r.remotelogin_port;
    options.remote.password = r.remotelogin_passwd;
    options.remote.idle_timeout = std::chrono::seconds(r.remotelogin_timeout);
    options.remote.login_timeout = std::min(options.remote.login_timeout, options.remote.idle_timeout);
    options.remote.lockout = std::chrono::seconds(r.remotelogin_wait);
    options.remote.program_folder = r.remote_programs;
    options.report_server = report_server;
    options.http.address = r.http_addr;
    options.http.port = static_cast<std::uint16_t>(r.http_port);

    ProgramServices services;
    services.start_scheduler(std::move(scheduler));
    const int rc = unattended::run_host(options, services);
    set_status_sink(previous);
    return rc == 0 ? kExitOk : kExitNotStarted;
}

int run_remote_client(const std::string& address, const std::vector<std::string>& commands) {
    auto session = unattended::parse_remote_address(address, settings().run.remotelogin_port);
    if (!session) {
        ShowError("-connect: not a host[:port]: " + address);
        return kExitNotStarted;
    }
    session->password = settings().run.remotelogin_passwd;
    session->commands = commands;
    std::string error;
    const auto result = unattended::run_remote_session(
        *session,
        [](std::string_view line) {
            std::printf("%.*s\n", static_cast<int>(line.size()), line.data());
            std::fflush(stdout);
        },
        error);
    switch (result) {
        case unattended::SessionResult::ok: return kExitOk;
        case unattended::SessionResult::connect_failed: return kExitNotStarted;
        case unattended::SessionResult::login_failed:
        case unattended::SessionResult::lost: break;
    }
    return kExitRunFailed;
}

}  // namespace tallowick::app
