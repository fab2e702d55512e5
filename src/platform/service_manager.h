// The service manager on Linux: systemd units, systemctl, the system log and a
// lock that lets only one process of a kind run per program folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_fd.h"

namespace tallowick::platform {

// Where unit files are installed: TALLOWICK_UNIT_DIR when set, else the system
// unit folder (/etc/systemd/system) for root and the user's unit folder
// ($XDG_CONFIG_HOME/systemd/user, ~/.config/systemd/user) for anybody else.
std::filesystem::path unit_folder();

// Whether the system runs systemd (it then keeps /run/systemd/system).
bool systemd_running();

// Runs "systemctl" with the arguments ("--user" is added for anybody but root),
// its output discarded. Returns its exit status, or nothing when it could not be
// run (error holds the reason).
std::optional<int> run_systemctl(const std::vector<std::string>& args, std::string& error);

// The unit's ActiveState as systemctl shows it ("active", "activating",
// "deactivating", "inactive", "failed"); empty when it cannot be asked.
std::string unit_active_state(std::string_view unit);

// The system log (journald keeps it); priority as syslog(3) takes it.
enum class LogPriority { info, error };
void system_log(std::string_view ident, LogPriority priority, std::string_view text);

// An exclusive lock on a file that holds the owner's process id. The lock goes
// with the process, so a crashed owner never leaves it taken.
class InstanceLock {
public:
    // Takes the lock; when another process holds it, owner_pid names that process.
    static std::optional<InstanceLock> acquire(const std::filesystem::path& path, long& owner_pid);

private:
    explicit InstanceLock(UniqueFd fd) : fd_(std::move(fd)) {}
    UniqueFd fd_;
};

}  // namespace tallowick::platform
