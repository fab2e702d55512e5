#include "base/settings.h"

namespace tallowick {

SettingsList::AddResult SettingsList::add(std::string_view entry) {
    if (entries_.size() >= kMaxEntries) return AddResult::list_full;
    if (entry.size() > kMaxEntryLength) return AddResult::too_long;
    entries_.emplace_back(entry);
    return AddResult::added;
}

}  // namespace tallowick
