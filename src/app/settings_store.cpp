#include "app/settings_store.h"

#include <utility>

#include "run/live_settings.h"

namespace tallowick::app {

namespace {

// Built on first use, so no other static initialiser can see it half made. The
// record and log list themselves belong to the run library, which every run reads.
struct Store {
    KeywordContext context{run::settings(), run::log_list()};
};

Store& store() {
    static Store s;
    return s;
}

}  // namespace

Settings& settings() { return run::settings(); }
logs::LogList& log_list() { return run::log_list(); }
KeywordContext& keyword_context() { return store().context; }

const std::string& settings_file_name() { return store().context.file_name; }
void set_settings_file_name(std::string name) { store().context.file_name = std::move(name); }

}  // namespace tallowick::app
