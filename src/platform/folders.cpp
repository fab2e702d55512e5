#include "platform/folders.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <system_error>

namespace tallowick::platform {

namespace fs = std::filesystem;

namespace {

std::string env_or_empty(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

fs::path home_folder() {
    std::string home = env_or_empty("HOME");
    return home.empty() ? fs::path("/tmp") : fs::path(home);
}

// XDG user-dirs keeps the documents folder as a line XDG_DOCUMENTS_DIR="$HOME/Docs".
fs::path xdg_documents_from_user_dirs() {
    std::string config = env_or_empty("XDG_CONFIG_HOME");
    fs::path file = (config.empty() ? home_folder() / ".config" : fs::path(config)) / "user-dirs.dirs";
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        constexpr std::string_view key = "XDG_DOCUMENTS_DIR=";
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0) value = home_folder().string() + value.substr(5);
        if (!value.empty() && value.front() == '/') return value;
    }
    return {};
}

}  // namespace

fs::path program_folder() {
    std::string home = env_or_empty("TALLOWICK_HOME");
    if (!home.empty()) return home;
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && exe.has_parent_path()) return exe.parent_path();
    return fs::current_path(ec);
}

fs::path documents_folder() {
    fs::path xdg = xdg_documents_from_user_dirs();
    if (!xdg.empty()) return xdg;
    return home_folder() / "Documents";
}

fs::path user_data_folder() {
    std::string data = env_or_empty("XDG_DATA_HOME");
    fs::path base = data.empty() ? home_folder() / ".local" / "share" : fs::path(data);
    fs::path folder = base / "Brisvale-Tallowick";
    std::error_code ec;
    fs::create_directories(folder, ec);
    return folder;
}

std::string default_output_path() {
    return (user_data_folder() / "Report" / "Webreport.html").string();
}

std::string normalise_path(std::string_view path) {
    std::string out(path);
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

std::string folder_of(std::string_view path) {
    std::string p = normalise_path(path);
    auto slash = p.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return p.substr(0, slash);
}

}  // namespace tallowick::platform
