#include "base/created_files.h"

#include <algorithm>

namespace tallowick {

void CreatedFiles::add(const std::filesystem::path& path) {
    if (!contains(path)) paths_.push_back(path);
}

bool CreatedFiles::contains(const std::filesystem::path& path) const {
    return std::find(paths_.begin(), paths_.end(), path) != paths_.end();
}

}  // namespace tallowick
