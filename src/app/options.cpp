#include "app/options.h"

#include "app/settings_file.h"
#include "app/settings_keywords.h"
#include "app/settings_store.h"
#include "base/status.h"
#include "logs/dates.h"

namespace tallowick::app {

void reset_for_command_line() {
    ResetSettings(true);
    log_list().clear();
}

bool apply_option(std::span<const std::string_view> tokens, std::size_t index) {
    return ApplyKeyword(tokens, index, std::nullopt);
}

void prepare_run() {
    Settings& s = settings();
    if (s.magic != Settings::kMagic) {
        ShowStatus("Making default prefs");
        ResetSettings(true);
        if (settings_file_name().empty() || !ReadSettingsText(settings_file_name()))
            ResetSettings(true);
    }
    logs::recompute_date_range(s.dates);
    // Settings the record keeps whose work is not built yet: said, not ignored.
    if (!s.filters.internalnetwork.entries().empty())
        ShowWarning("internalnetwork has no effect yet: router logs are not analysed");
}

std::string current_output_path() { return settings().run.out; }

}  // namespace tallowick::app
