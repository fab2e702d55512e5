#include "unattended/host.h"

#include <signal.h>
#include <sys/signalfd.h>

#include <cerrno>
#include <chrono>

#include "base/status.h"
#include "base/unique_fd.h"

namespace tallowick::unattended {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTick = std::chrono::seconds(1);
constexpr auto kFlushAtExit = std::chrono::seconds(1);

// SIGTERM and SIGINT arrive through a descriptor the loop polls. They are
// blocked before any thread starts, so every thread inherits the block and the
// signals reach nobody else; the old mask comes back when the host ends.
class StopSignals {
public:
    StopSignals() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGINT);
        pthread_sigmask(SIG_BLOCK, &set, &previous_);
        fd_.reset(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
        // A client that vanishes must not end the process on a write.
        old_pipe_ = ::signal(SIGPIPE, SIG_IGN);
    }
    ~StopSignals() {
        ::signal(SIGPIPE, old_pipe_);
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    int fd() const { return fd_.get(); }
    bool arrived() const {
        signalfd_siginfo info;
        return ::read(fd_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info);
    }

private:
    sigset_t previous_;
    UniqueFd fd_;
    sighandler_t old_pipe_;
};

}  // namespace

int run_host(const HostOptions& options, HostServices& services) {
    StopSignals signals;
    if (!signals.fd()) {
        ShowError("cannot watch for stop signals");
        return 2;
    }

    std::string error;
    std::unique_ptr<RemoteControlServer> remote;
    if (options.remote_control) {
        remote = RemoteControlServer::start(options.remote, services, error);
        if (!remote) {
            ShowError(error);
            return 2;
        }
        ShowStatus("Remote control listening on " + options.remote.address + ":" +
                   std::to_string(remote->port()));
    }
    std::unique_ptr<ReportServer> http;
    if (options.report_server) {
        http = ReportServer::start(options.http, services.report_site(), error);
        if (!http) {
            ShowError("report server: " + error);
            return 2;
        }
        ShowStatus("Report server listening on " +
                   (options.http.address.empty() ? std::string("*") : options.http.address) +
                   ":" + std::to_string(http->port()));
    }

    std::vector<pollfd> fds;
    auto next_tick = Clock::now() + kTick;
    bool stop = false;
    while (!stop) {
        fds.clear();
        fds.push_back({signals.fd(), POLLIN, 0});
        if (remote) remote->poll_fds(fds);
        const auto to_tick = std::chrono::ceil<std::chrono::milliseconds>(next_tick - Clock::now());
        int timeout = static_cast<int>(std::max<long long>(0, to_tick.count()));
        if (remote) timeout = remote->next_timeout_ms(timeout);
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            ShowError("host: poll failed");
            break;
        }
        if ((fds[0].revents & POLLIN) && signals.arrived()) stop = true;
        if (remote) remote->dispatch(std::span(fds).subspan(1));
        if (Clock::now() >= next_tick) {
            services.tick_scheduler();
            next_tick = Clock::now() + kTick;
        }
        if (http && services.settings_steady()) http->update(services.report_site());
        if (services.quit_requested()) stop = true;
    }

    ShowStatus("Stopping...");
    services.finish_run();
    // Let the last replies ("Quit...", the end of the run's progress) go out.
    const auto flush_until = Clock::now() + kFlushAtExit;
    while (remote && !remote->output_flushed() && Clock::now() < flush_until) {
        fds.clear();
        remote->poll_fds(fds);
        ::poll(fds.data(), fds.size(), 50);
        remote->dispatch(fds);
    }
    return 0;
}

}  // namespace tallowick::unattended
