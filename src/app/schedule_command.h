// "-schedule": listing and editing the schedule's jobs from the command line, so
// that nobody has to edit "def_sched.txt" by hand.
#pragma once

#include <span>
#include <string_view>

namespace tallowick::app {

bool is_schedule_command(std::string_view first);

// args: everything after "-schedule". Prints the result and returns the exit code
// (0 done, 1 the file could not be written, 2 bad arguments).
int schedule_command(std::span<const std::string_view> args);

}  // namespace tallowick::app
