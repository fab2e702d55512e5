// The program as a host: the remote-control server, the report server and the
// scheduler's tick on one event loop, with runs started through the run job.
// Also the other end: driving a remote copy from the command line.
#pragma once

#include <string>
#include <vector>

#include "unattended/scheduler.h"

namespace tallowick::app {

// Serves until SIGTERM, SIGINT or a remote "quitapp", on the settings the
// command line has built. report_server: "-http" was given. The schedule is
// ticked with `scheduler` unless a service already ticks it. Returns the exit code.
int run_host_mode(bool report_server, unattended::SchedulerHooks scheduler);

// "-connect host[:port]": logs in with the remote-control password of the
// settings, sends `commands` (a settings file's lines or single commands) and
// prints every line that comes back. Returns the exit code.
int run_remote_client(const std::string& address, const std::vector<std::string>& commands);

}  // namespace tallowick::app
