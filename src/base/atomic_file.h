// Replacing a file atomically: the new content is written to a temporary file in
// the same folder, flushed to disk and renamed over the old one, so a crash or a
// full disk never leaves a half-written file where a good one was.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tallowick {

// Returns true on success; on failure the old file is untouched and error holds
// the path and the system's reason.
bool write_file_atomically(const std::filesystem::path& path, std::string_view content,
                           std::string& error);

}  // namespace tallowick
