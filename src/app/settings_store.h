// The process-wide settings: the one settings record, the run's log list, the
// name of the current settings file and the keyword interpreter's state between
// lines. Only app/ reaches them through here; subsystems get const references to
// the parts they read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/settings.h"
#include "logs/log_list.h"

namespace tallowick::app {

// What the reader carries from one settings-file line to the next: an open HTML
// head or foot block, or an open PATH pair with its first line, and the count of
// empty lines that the blocks share.
struct KeywordBlockState {
    enum class Kind : std::uint8_t { none, html_head, html_foot, path };

    Kind kind = Kind::none;
    bool have_path_site = false;
    std::string path_site;
    int empty_lines = 0;
    bool overflow_reported = false;   // "block too long" is said once per block

    void clear() { *this = KeywordBlockState{}; }
    bool open() const { return kind != Kind::none; }
};

// Everything a keyword may change. The process has one (keyword_context());
// tests build their own around a local record and log list.
struct KeywordContext {
    KeywordContext(Settings& s, logs::LogList& l) : settings(s), logs(l) {}

    Settings& settings;
    logs::LogList& logs;
    KeywordBlockState block;
    std::string file_name;              // the settings file last loaded or saved
    // Set while a file is loaded over a fresh reset: its first orgmap line replaces
    // the default organisation map instead of adding to it, so that saving and
    // loading does not double the map every time.
    bool replace_default_orgmap = false;
    int nesting = 0;                    // settings files loaded from settings files
    // The settings files being read, outermost first (their real paths), and how
    // many have been read since the outermost one began: a file that names
    // itself, directly or through others, is refused, and the total is bounded.
    // Once one is refused, the rest of the load is not read either.
    std::vector<std::string> open_files;
    int files_read = 0;
    bool include_refused = false;
};

// The process-wide record, log list and interpreter state.
Settings& settings();
logs::LogList& log_list();
KeywordContext& keyword_context();

// The current settings file (empty until one is loaded or saved).
const std::string& settings_file_name();
void set_settings_file_name(std::string name);

}  // namespace tallowick::app
