// Service mode: the scheduler run as a systemd service. The same executable
// installs and removes the unit, starts and stops it through systemctl, reports on
// it, and, as "-ntservice", runs the service in the foreground: once a second it
// ticks the scheduler, and it re-reads the schedule file when that changes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "unattended/scheduler.h"

namespace tallowick::unattended {

inline constexpr std::string_view kServiceName = "Tallowick - Scheduler";
inline constexpr std::string_view kServiceUnit = "tallowick-scheduler.service";

// Whether a first argument selects the service path. Whole words only ("-i",
// "-nti", "-u", "-ntu", "-nts", "-nte", "-ntv", "-nt", "-ntservice"), so that an
// option such as "-ignorecase" or "-usecgi" stays an option.
bool is_service_switch(std::string_view first);

// Control requests, numbered as service managers number them; in the foreground
// service, signals bring them: SIGTERM and SIGINT stop, SIGHUP continue (re-read
// the schedule), SIGUSR1 128 (save the counter), SIGUSR2 129.
enum ControlCode : unsigned long {
    kControlStop = 1,
    kControlPause = 2,
    kControlContinue = 3,
    kControlInterrogate = 4,
    kControlShutdown = 5,
    kControlSaveStatus = 128,
};

// The general service: its state, the control handler, trace lines (to the
// schedule transcript) and events (to the system log).
class CNTService {
public:
    explicit CNTService(std::string name, int major = 2, int minor = 0);
    virtual ~CNTService() = default;
    CNTService(const CNTService&) = delete;
    CNTService& operator=(const CNTService&) = delete;

    virtual void Run();
    virtual bool OnInit();
    virtual void OnStop();
    virtual void OnInterrogate();
    virtual void OnPause();
    virtual void OnContinue();
    virtual void OnShutdown();
    // Returns whether the code was handled.
    virtual bool OnUserControl(unsigned long code);

    // ServiceMain: takes over the control signals, initialises, runs until
    // stopped. Returns the process exit code (0 after a stop, 1 when the
    // initialisation failed).
    int ServiceMain();
    void Handler(unsigned long code);

    void Trace(std::string_view text) const;
    // Event ids: 100 installed, 101 removed, 102 removal failed, 103 control
    // handler failed, 104 initialisation failed, 105 started, 106 bad control
    // request, 108 stopped.
    void LogEvent(int id) const;

    const std::string& name() const { return name_; }
    int major() const { return major_; }
    int minor() const { return minor_; }
    bool running() const { return running_; }

protected:
    // Waits up to milliseconds, handing every control signal that arrives to
    // Handler; returns early once the service is stopped.
    void Wait(int milliseconds);

private:
    void SetStatus(unsigned long state);

    std::string name_;
    int major_, minor_;
    unsigned long state_ = 1;
    std::atomic<bool> running_{false};
};

// The scheduler service: ticks the scheduler once a second, re-reads the schedule
// file when its time stamp changes (checked every check_seconds), and keeps a
// counter that control 128 saves in the registry store.
class SchedulerService : public CNTService {
public:
    SchedulerService(Scheduler& scheduler, int check_seconds = 30);
    void Run() override;
    bool OnInit() override;
    void OnContinue() override;
    bool OnUserControl(unsigned long code) override;

    std::uint32_t current() const { return current_; }

private:
    Scheduler& scheduler_;
    int check_seconds_;
    std::uint32_t start_ = 0, increment_ = 1, current_ = 0;
};

struct ServiceContext {
    SchedulerHooks scheduler;                       // the settings loader, the clock
    std::function<void()> load_default_settings;    // before the service starts
    bool debug = false;                             // "-debug" goes into the unit's command
};

// The service path for the first argument; prints the messages and returns the
// exit code (3 when systemd is needed but not running).
int service_command(std::string_view first, const ServiceContext& context);

}  // namespace tallowick::unattended
