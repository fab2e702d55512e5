// The process-wide settings record and log list: the ones every run works on. The
// command line and settings files fill them (app/), the run job reads them.
#pragma once

#include "base/settings.h"
#include "logs/log_list.h"

namespace tallowick::run {

Settings& settings();
logs::LogList& log_list();

}  // namespace tallowick::run
