// The run's list of log sources, in the order they were added.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tallowick::logs {

class LogList {
public:
    static constexpr std::size_t kMaxEntries = 2000;
    static constexpr std::size_t kTextArea = 300000;   // total bytes of all names

    // AddLog: adds one source (file, folder, shortcut). Returns false when the
    // name does not fit.
    bool AddLog(std::string_view name);
    // AddLogPattern: adds every file that matches a wildcard pattern.
    void AddLogPattern(std::string_view pattern);
    // The value of the `log` keyword or "-l": remote URLs from "ftp:"/"http:" on,
    // wildcards through AddLogPattern, anything else through AddLog.
    void add_from_setting(std::string_view value);

    void clear();
    const std::vector<std::string>& names() const { return names_; }
    std::size_t size() const { return names_.size(); }
    bool empty() const { return names_.empty(); }

private:
    bool append(std::string_view name);

    std::vector<std::string> names_;
    std::size_t text_used_ = 0;
};

}  // namespace tallowick::logs
