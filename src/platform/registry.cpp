#include "platform/registry.h"

#include <fstream>

#include "base/atomic_file.h"
#include "base/status.h"
#include "platform/folders.h"

namespace tallowick::platform {

namespace {

std::string one_line(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c == '\n' || c == '\r') c = ' ';
    return out;
}

}  // namespace

Registry::Registry(std::filesystem::path path) : path_(std::move(path)) { load(); }

Registry Registry::user() { return Registry(user_data_folder() / "registry.txt"); }

void Registry::load() {
    std::ifstream in(path_);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        values_[line.substr(0, eq)] = line.substr(eq + 1);
    }
}

bool Registry::save() const {
    std::string text = "# Tallowick registry\n";
    for (const auto& [key, value] : values_) text += key + "=" + value + "\n";
    std::string error;
    if (!write_file_atomically(path_, text, error)) {
        ShowError("Cannot save " + error + "\n");
        return false;
    }
    return true;
}

std::optional<std::string> Registry::get(std::string_view key) const {
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

bool Registry::set(std::string_view key, std::string_view value) {
    std::string k = one_line(key);
    for (char& c : k)
        if (c == '=') c = '_';
    values_[k] = one_line(value);
    return save();
}

bool Registry::erase(std::string_view key) {
    auto it = values_.find(key);
    if (it == values_.end()) return true;
    values_.erase(it);
    return save();
}

}  // namespace tallowick::platform
