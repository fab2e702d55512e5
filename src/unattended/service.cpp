#include "unattended/service.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "base/atomic_file.h"
#include "base/case_compare.h"
#include "base/status.h"
#include "platform/folders.h"
#include "platform/registry.h"
#include "platform/service_manager.h"
#include "platform/system.h"
#include "run/processing.h"

namespace tallowick::unattended {

namespace fs = std::filesystem;

namespace {

// Service states, numbered as service managers number them.
enum State : unsigned long { kStopped = 1, kStartPending = 2, kStopPending = 3, kRunning = 4 };

constexpr int kControlSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2};

sigset_t control_signal_set() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kControlSignals) sigaddset(&set, sig);
    return set;
}

unsigned long control_of_signal(int sig) {
    switch (sig) {
        case SIGTERM:
        case SIGINT: return kControlStop;
        case SIGHUP: return kControlContinue;
        case SIGUSR1: return kControlSaveStatus;
        default: return kControlSaveStatus + 1;
    }
}

std::string registry_key(std::string_view service, std::string_view sub) {
    return "SYSTEM\\CurrentControlSet\\Services\\" + std::string(service) + "\\" + std::string(sub);
}

std::string event_text(int id) {
    switch (id) {
        case 100: return "installed";
        case 101: return "removed";
        case 102: return "could not be removed";
        case 103: return "could not take over its control signals";
        case 104: return "failed to initialise";
        case 105: return "started";
        case 106: return "received a control request it does not handle";
        case 108: return "stopped";
        default: return "event";
    }
}

std::string executable_path() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("tallowick") : exe.string();
}

fs::path unit_path() { return platform::unit_folder() / std::string(kServiceUnit); }

bool unit_installed() {
    std::error_code ec;
    return fs::exists(unit_path(), ec);
}

// A word of a unit file line: "%" starts a specifier there, and a word with
// blanks, quotes or backslashes needs quoting.
std::string unit_file_word(std::string_view text, bool always_quote) {
    std::string word;
    bool quote = always_quote;
    for (char c : text) {
        if (c == '%') word += '%';
        if (c == '"' || c == '\\') word += '\\';
        if (c == ' ' || c == '\t' || c == '"' || c == '\\' || c == '\'') quote = true;
        word += c;
    }
    return quote ? "\"" + word + "\"" : word;
}

std::string unit_text(bool debug, bool system_unit) {
    std::string text = "[Unit]\nDescription=" + std::string(kServiceName) +
                       "\nAfter=network.target\n\n[Service]\nType=simple\nExecStart=" +
                       unit_file_word(executable_path(), false) + " -ntservice" +
                       (debug ? " -debug" : "") + "\n";
    // A program folder named at install time is the one the service works in.
    if (const char* home = std::getenv("TALLOWICK_HOME"); home && *home)
        text += "Environment=" + unit_file_word("TALLOWICK_HOME=" + std::string(home), true) + "\n";
    text += "KillMode=mixed\nTimeoutStopSec=30\n\n[Install]\nWantedBy=";
    text += system_unit ? "multi-user.target\n" : "default.target\n";
    return text;
}

void print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void daemon_reload() {
    std::string error;
    if (platform::systemd_running()) platform::run_systemctl({"daemon-reload"}, error);
}

int install(const CNTService& service, bool debug) {
    const std::string& name = service.name();
    if (unit_installed()) {
        print(name + " is already installed\n");
        return 0;
    }
    std::error_code ec;
    fs::create_directories(platform::unit_folder(), ec);
    std::string error;
    if (!write_file_atomically(unit_path(), unit_text(debug, geteuid() == 0), error)) {
        print(name + " failed to install. Error " + std::to_string(errno) + "\n");
        return 1;
    }
    daemon_reload();
    print(name + " installed\n");
    service.LogEvent(100);
    return 0;
}

int remove(const CNTService& service) {
    const std::string& name = service.name();
    if (!unit_installed()) {
        print(name + " is not installed\n");
        return 0;
    }
    std::error_code ec;
    if (!fs::remove(unit_path(), ec)) {
        print("Could not remove " + name + ". Error " + std::to_string(ec.value()) + "\n");
        service.LogEvent(102);
        return 1;
    }
    daemon_reload();
    print(name + " removed. (You must delete the file (" + executable_path() + ") yourself.)\n");
    service.LogEvent(101);
    return 0;
}

// Start and stop need a running systemd and an installed unit.
bool manager_reachable(const std::string& name, bool starting) {
    if (!platform::systemd_running()) {
        print("OpenSCManager failed - systemd is not running on this system" +
              std::string(starting ? " " : "") + "\n");
        return false;
    }
    if (!unit_installed()) {
        print("OpenService failed - " + name + " is not installed (no " + unit_path().string() +
              ")" + (starting ? " " : "") + "\n");
        return false;
    }
    return true;
}

// Prints one "." per second while the unit is in the transient state.
std::string wait_while(std::string_view transient) {
    std::string state = platform::unit_active_state(kServiceUnit);
    for (int seconds = 0; state == transient && seconds < 60; ++seconds) {
        print(".");
        std::this_thread::sleep_for(std::chrono::seconds(1));
        state = platform::unit_active_state(kServiceUnit);
    }
    return state;
}

int start(const CNTService& service) {
    const std::string& name = service.name();
    if (!manager_reachable(name, true)) return 3;
    print("Starting up " + name + ".");
    std::string error;
    auto rc = platform::run_systemctl({"start", "--no-block", std::string(kServiceUnit)}, error);
    if (!rc || *rc != 0) {
        const std::string reason = rc ? "systemctl exit code " + std::to_string(*rc) : error;
        print("\n" + name + " failed to start: " + reason + " \n");
        return 1;
    }
    if (wait_while("activating") == "active") {
        print(name + " started.\n");
        return 0;
    }
    print("\n" + name + " failed to start.\n");
    return 1;
}

int stop(const CNTService& service) {
    const std::string& name = service.name();
    if (!manager_reachable(name, false)) return 3;
    print("Stopping " + name + ".");
    std::string error;
    auto rc = platform::run_systemctl({"stop", "--no-block", std::string(kServiceUnit)}, error);
    const std::string state = rc && *rc == 0 ? wait_while("deactivating") : "";
    if (state == "inactive" || state == "failed") {
        print(name + " stopped.\n");
        return 0;
    }
    print(name + " failed to stop.\n");
    return 1;
}

int check_seconds_setting() {
    // Tests shorten the schedule file check; anything else keeps 30 seconds.
    const char* text = std::getenv("TALLOWICK_SCHEDULE_CHECK_SECONDS");
    const int seconds = text ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 30;
}

}  // namespace

bool is_service_switch(std::string_view first) {
    for (std::string_view word :
         {"-i", "-nti", "-u", "-ntu", "-nts", "-nte", "-ntv", "-nt", "-ntservice"})
        if (equals_ci(first, word)) return true;
    return false;
}

// ---- CNTService ----

CNTService::CNTService(std::string name, int major, int minor)
    : name_(std::move(name)), major_(major), minor_(minor) {}

void CNTService::Trace(std::string_view text) const {
    char head[128];
    std::snprintf(head, sizeof head, "[%s](%lu): ", name_.c_str(),
                  static_cast<unsigned long>(gettid()));
    transcript(std::string(head) + std::string(text), true);
}

void CNTService::LogEvent(int id) const {
    const bool error = id == 102 || id == 103 || id == 104 || id == 106;
    platform::system_log("tallowick", error ? platform::LogPriority::error : platform::LogPriority::info,
                         "event " + std::to_string(id) + ": " + name_ + " " + event_text(id));
}

void CNTService::SetStatus(unsigned long state) {
    char text[96];
    std::snprintf(text, sizeof text, "CNTService::SetStatus(%lu, %lu)",
                  static_cast<unsigned long>(getpid()), state);
    Trace(text);
    state_ = state;
}

void CNTService::Run() {
    Trace("Entering CNTService::Run()");
    while (running_) {
        Trace("Sleeping...");
        Wait(5000);
    }
    Trace("Leaving CNTService::Run()");
}

bool CNTService::OnInit() {
    Trace("CNTService::OnInit()");
    return true;
}
void CNTService::OnStop() { Trace("CNTService::OnStop()"); }
void CNTService::OnInterrogate() { Trace("CNTService::OnInterrogate()"); }
void CNTService::OnPause() { Trace("CNTService::OnPause()"); }
void CNTService::OnContinue() { Trace("CNTService::OnContinue()"); }
void CNTService::OnShutdown() { Trace("CNTService::OnShutdown()"); }

bool CNTService::OnUserControl(unsigned long code) {
    char text[64];
    std::snprintf(text, sizeof text, "CNTService::OnUserControl(%8.8lXH)", code);
    Trace(text);
    return false;
}

void CNTService::Handler(unsigned long code) {
    Trace("CNTService::Handler(" + std::to_string(code) + ")");
    switch (code) {
        case kControlStop:
            SetStatus(kStopPending);
            OnStop();
            running_ = false;
            LogEvent(108);
            break;
        case kControlPause: OnPause(); break;
        case kControlContinue: OnContinue(); break;
        case kControlInterrogate: OnInterrogate(); break;
        case kControlShutdown: OnShutdown(); break;
        default:
            if (code < kControlSaveStatus || !OnUserControl(code)) LogEvent(106);
            break;
    }
    SetStatus(state_);
}

void CNTService::Wait(int milliseconds) {
    const sigset_t set = control_signal_set();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (running_) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        timespec ts{static_cast<time_t>(left.count() / 1'000'000'000),
                    static_cast<long>(left.count() % 1'000'000'000)};
        const int sig = sigtimedwait(&set, nullptr, &ts);
        if (sig > 0) Handler(control_of_signal(sig));
        else if (errno != EINTR) return;
    }
}

int CNTService::ServiceMain() {
    Trace("Entering CNTService::ServiceMain()");
    state_ = kStartPending;
    // The control handler: the control signals are taken from their default
    // actions and collected by Wait. Threads started later (the run) inherit the mask.
    const sigset_t set = control_signal_set();
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        LogEvent(103);
        return 1;
    }
    int exit_code = 0;
    Trace("Entering CNTService::Initialize()");
    SetStatus(kStartPending);
    if (OnInit()) {
        LogEvent(105);
        SetStatus(kRunning);
        Trace("Leaving CNTService::Initialize()");
        running_ = true;
        Run();
        // A run the scheduler started ends with the service.
        if (run::run_in_progress()) run::cancel_run();
        run::wait_for_run();
    } else {
        LogEvent(104);
        exit_code = 1;
    }
    SetStatus(kStopped);
    Trace("Leaving CNTService::ServiceMain()");
    return exit_code;
}

// ---- SchedulerService ----

SchedulerService::SchedulerService(Scheduler& scheduler, int check_seconds)
    : CNTService(std::string(kServiceName)), scheduler_(scheduler), check_seconds_(check_seconds) {}

bool SchedulerService::OnInit() {
    const platform::Registry registry = platform::Registry::user();
    const std::string key = registry_key(name(), "Parameters");
    auto number = [&](std::string_view value, std::uint32_t fallback) {
        auto text = registry.get(key + "\\" + std::string(value));
        return text ? static_cast<std::uint32_t>(std::strtoul(text->c_str(), nullptr, 10)) : fallback;
    };
    start_ = number("Start", 0);
    increment_ = number("Inc", 1);
    current_ = start_;
    scheduler_.initSchedule(true);
    return true;
}

void SchedulerService::Run() {
    int seconds = 0;
    while (running()) {
        Wait(1000);
        if (!running()) break;
        if (++seconds % check_seconds_ == 0 &&
            scheduler_.scheduleFileStamp() != scheduler_.remembered_stamp())
            scheduler_.initSchedule(true);
        scheduler_.tickScheduler();
        current_ += increment_;
    }
}

void SchedulerService::OnContinue() { scheduler_.initSchedule(true); }

bool SchedulerService::OnUserControl(unsigned long code) {
    if (code != kControlSaveStatus) return CNTService::OnUserControl(code);
    Trace("Saving current status");
    const std::string key = registry_key(name(), "Status");
    Trace("Creating key: " + key);
    platform::Registry registry = platform::Registry::user();
    Trace("Saving 'Current' as " + std::to_string(current_));
    if (!registry.set(key + "\\Current", std::to_string(current_))) {
        char text[64];
        std::snprintf(text, sizeof text, "Failed to create Status key (%lu)",
                      static_cast<unsigned long>(errno));
        Trace(text);
    }
    return true;
}

// ---- the command line ----

int service_command(std::string_view first, const ServiceContext& context) {
    auto is = [first](std::string_view word) { return equals_ci(first, word); };
    std::error_code ec;
    fs::current_path(platform::program_folder(), ec);
    if (context.load_default_settings) context.load_default_settings();

    Scheduler scheduler(schedule_file_path(), context.scheduler);
    SchedulerService service(scheduler, check_seconds_setting());
    if (is("-nts")) return start(service);
    if (is("-nte")) return stop(service);
    if (is("-ntv")) {
        print(service.name() + " Version " + std::to_string(service.major()) + "." +
              std::to_string(service.minor()) + "\n");
        print(std::string("The service is ") + (unit_installed() ? "currently" : "not") +
              " installed\n");
        return 0;
    }
    if (is("-i") || is("-nti")) return install(service, context.debug);
    if (is("-u") || is("-ntu")) return remove(service);

    ProcessMode& mode = process_mode();
    mode.service = true;
    mode.service_log = schedule_log_path().string();
    service.Trace("StartDispatcher...");
    long owner = 0;
    auto lock = platform::InstanceLock::acquire(scheduler_lock_path(), owner);
    if (!lock) {
        std::fprintf(stderr, "%s is already running (process %ld) for %s\n", service.name().c_str(),
                     owner, platform::program_folder().c_str());
        return 1;
    }
    return service.ServiceMain();
}

}  // namespace tallowick::unattended
