// The command line's view of the settings: reset for a batch run, apply one
// option, prepare the record for a run.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace tallowick::app {

// Resets the settings record with the organisation map and empties the log list.
void reset_for_command_line();
// Applies the option at tokens[index] (its values follow it). Returns whether the
// token was a known keyword.
bool apply_option(std::span<const std::string_view> tokens, std::size_t index);
// Before a run: rebuilds a record that lacks its magic and computes the date range.
void prepare_run();
// The report output path of the current settings.
std::string current_output_path();

}  // namespace tallowick::app
