#include "app/settings_store.h"

#include <utility>

namespace tallowick::app {

namespace {

// Built on first use, so no other static initialiser can see it half made.
struct Store {
    Settings settings;
    logs::LogList logs;
    KeywordContext context{settings, logs};
};

Store& store() {
    static Store s;
    return s;
}

}  // namespace

Settings& settings() { return store().settings; }
logs::LogList& log_list() { return store().logs; }
KeywordContext& keyword_context() { return store().context; }

const std::string& settings_file_name() { return store().context.file_name; }
void set_settings_file_name(std::string name) { store().context.file_name = std::move(name); }

}  // namespace tallowick::app
