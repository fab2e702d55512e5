#include "run/notify_actions.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include "base/status.h"
#include "delivery/email.h"
#include "platform/folders.h"

extern char** environ;

namespace tallowick::run {

namespace {

bool graphical_session() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

// Opens the file with xdg-open without waiting for the viewer: a shell starts it
// in the background and exits at once, so nothing is left to reap.
void open_on_desktop(const std::filesystem::path& file) {
    const std::string path = file.string();
    const char* argv[] = {"/bin/sh", "-c", "xdg-open \"$1\" >/dev/null 2>&1 &", "sh",
                          path.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
        ShowError("Can't open '" + path + "' with xdg-open");
        return;
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

}  // namespace

std::filesystem::path notify_folder(const Settings& settings) {
    if (!settings.run.notify_folder.empty())
        return platform::normalise_path(settings.run.notify_folder);
    return platform::user_data_folder();
}

report::NotifyOptions notify_options(const Settings& settings) {
    report::NotifyOptions options;
    options.action = settings.run.notify_type;
    options.destination = settings.run.notify_dest;
    options.folder = notify_folder(settings);
    const PostSettings* post = &settings.post;
    options.send_mail = [post](std::string_view recipient, std::string_view subject,
                               std::string_view body) {
        delivery::email_send(recipient, body, *post, subject);
    };
    options.show = [](const std::filesystem::path& file, std::string_view lines) {
        if (!lines.empty()) {
            std::fwrite(lines.data(), 1, lines.size(), stdout);
            std::fflush(stdout);
        }
        std::error_code ec;
        if (graphical_session() && std::filesystem::exists(file, ec)) open_on_desktop(file);
    };
    return options;
}

}  // namespace tallowick::run
