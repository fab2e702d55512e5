// The host: the program's event loop when it serves instead of running once. It
// owns the remote-control server and the report server, ticks the scheduler
// once a second, and starts runs through the run job on its thread, so that a
// run never blocks the servers. It runs in the foreground until SIGTERM, SIGINT
// or a remote "quitapp".
#pragma once

#include "unattended/remote_control.h"
#include "unattended/report_server.h"

namespace tallowick::unattended {

struct HostOptions {
    bool remote_control = false;
    RemoteControlOptions remote;
    bool report_server = false;
    ReportServerOptions http;
};

// What the host needs from the program besides the remote commands.
class HostServices : public RemoteCommands {
public:
    // What the report server's pages show now.
    virtual ReportSite report_site() = 0;
    // Once a second: the scheduler's check of its jobs.
    virtual void tick_scheduler() = 0;
    virtual bool quit_requested() = 0;
    // Stops a run in progress and waits until it has ended.
    virtual void finish_run() = 0;
};

// Starts the servers the options ask for and serves until told to stop.
// Returns 0 after a stop, 2 when a server could not be started (said through
// ShowError, with the reason).
int run_host(const HostOptions& options, HostServices& services);

}  // namespace tallowick::unattended
