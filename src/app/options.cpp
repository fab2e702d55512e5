// Provisional bridge until the keyword interpreter lands.
#include "app/options.h"

#include "platform/folders.h"

namespace tallowick::app {

void reset_for_command_line() {}
bool apply_option(std::span<const std::string_view>, std::size_t) { return false; }
void prepare_run() {}
std::string current_output_path() { return platform::default_output_path(); }

}  // namespace tallowick::app
