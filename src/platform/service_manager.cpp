#include "platform/service_manager.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "platform/system.h"

extern char** environ;

namespace tallowick::platform {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> systemctl_args(const std::vector<std::string>& args) {
    std::vector<std::string> all{"systemctl"};
    if (geteuid() != 0) all.push_back("--user");
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

// Runs systemctl with its standard output going to out_fd (or nowhere when -1).
std::optional<int> spawn_systemctl(const std::vector<std::string>& args, int out_fd,
                                   std::string& error) {
    std::vector<std::string> all = systemctl_args(args);
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out_fd >= 0)
        posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, "systemctl", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        error = system_error_text(rc);
        return std::nullopt;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status)) {
        error = "systemctl ended abnormally";
        return std::nullopt;
    }
    // posix_spawnp reports a missing program through exit code 127.
    if (WEXITSTATUS(status) == 127) {
        error = system_error_text(ENOENT);
        return std::nullopt;
    }
    return WEXITSTATUS(status);
}

}  // namespace

fs::path unit_folder() {
    if (const char* dir = std::getenv("TALLOWICK_UNIT_DIR"); dir && *dir) return dir;
    if (geteuid() == 0) return "/etc/systemd/system";
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        return fs::path(config) / "systemd/user";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".config/systemd/user";
}

bool systemd_running() {
    std::error_code ec;
    return fs::is_directory("/run/systemd/system", ec);
}

std::optional<int> run_systemctl(const std::vector<std::string>& args, std::string& error) {
    return spawn_systemctl(args, -1, error);
}

std::string unit_active_state(std::string_view unit) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return {};
    UniqueFd read_end(fds[0]);
    UniqueFd write_end(fds[1]);
    std::string error;
    auto rc = spawn_systemctl({"show", "--property=ActiveState", "--value", std::string(unit)},
                              write_end.get(), error);
    write_end.reset();
    if (!rc) return {};
    std::string out;
    char block[256];
    ssize_t got;
    while ((got = read(read_end.get(), block, sizeof block)) > 0)
        out.append(block, static_cast<std::size_t>(got));
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

void system_log(std::string_view ident, LogPriority priority, std::string_view text) {
    // openlog keeps the ident pointer: it must live until closelog.
    const std::string name(ident);
    openlog(name.c_str(), LOG_PID, LOG_DAEMON);
    syslog(priority == LogPriority::error ? LOG_ERR : LOG_INFO, "%.*s",
           static_cast<int>(text.size()), text.data());
    closelog();
}

std::optional<InstanceLock> InstanceLock::acquire(const fs::path& path, long& owner_pid) {
    owner_pid = 0;
    UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!fd) return std::nullopt;
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        char text[32] = {};
        const ssize_t got = pread(fd.get(), text, sizeof text - 1, 0);
        if (got > 0) owner_pid = std::strtol(text, nullptr, 10);
        return std::nullopt;
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    // The number is for people only: the lock holds without it.
    if (ftruncate(fd.get(), 0) == 0) {
        [[maybe_unused]] const ssize_t written = pwrite(fd.get(), pid.data(), pid.size(), 0);
    }
    return InstanceLock(std::move(fd));
}

}  // namespace tallowick::platform
