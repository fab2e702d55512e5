// The program's folders and path handling.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tallowick::platform {

// The program folder: TALLOWICK_HOME when set, else the executable's folder. It
// holds the schedule, the DNS cache and the language files.
std::filesystem::path program_folder();
// The user's documents folder: the XDG documents directory, else ~/Documents.
std::filesystem::path documents_folder();
// The per-user data folder "Brisvale-Tallowick" under XDG_DATA_HOME
// (~/.local/share), created on first use.
std::filesystem::path user_data_folder();

// The default report path: the user data folder joined with Report/Webreport.html
// (the program folder of an installed program is not the user's to write).
std::string default_output_path();

// Turns "\" separators into "/", so that paths written for either platform work.
std::string normalise_path(std::string_view path);

// The folder part of a path (everything before the last separator), or "." when none.
std::string folder_of(std::string_view path);

}  // namespace tallowick::platform
