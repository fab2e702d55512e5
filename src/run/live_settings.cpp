#include "run/live_settings.h"

namespace tallowick::run {

namespace {

// Built on first use, so no other static initialiser can see it half made.
struct Live {
    Settings settings;
    logs::LogList logs;
};

Live& live() {
    static Live l;
    return l;
}

}  // namespace

Settings& settings() { return live().settings; }
logs::LogList& log_list() { return live().logs; }

}  // namespace tallowick::run
