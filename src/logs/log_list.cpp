#include "logs/log_list.h"

namespace tallowick::logs {

bool LogList::append(std::string_view name) {
    if (name.empty()) return false;
    if (names_.size() >= kMaxEntries || text_used_ + name.size() + 1 > kTextArea) return false;
    names_.emplace_back(name);
    text_used_ += name.size() + 1;
    return true;
}

bool LogList::AddLog(std::string_view name) { return append(name); }

void LogList::AddLogPattern(std::string_view pattern) { append(pattern); }

void LogList::add_from_setting(std::string_view value) {
    for (std::string_view scheme : {"ftp:", "http:"}) {
        if (auto pos = value.find(scheme); pos != std::string_view::npos) {
            append(value.substr(pos));
            return;
        }
    }
    if (value.find('*') != std::string_view::npos) {
        AddLogPattern(value);
        return;
    }
    AddLog(value);
}

void LogList::clear() {
    names_.clear();
    text_used_ = 0;
}

}  // namespace tallowick::logs
