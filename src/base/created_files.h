// The list of files a report creates (pages, images, archives), kept in creation
// order so that post-processing can zip, copy or upload exactly those files.
#pragma once

#include <filesystem>
#include <vector>

namespace tallowick {

class CreatedFiles {
public:
    // Records a path once; writing the same file again does not repeat it.
    void add(const std::filesystem::path& path);
    bool contains(const std::filesystem::path& path) const;
    const std::vector<std::filesystem::path>& paths() const { return paths_; }
    void clear() { paths_.clear(); }

private:
    std::vector<std::filesystem::path> paths_;
};

}  // namespace tallowick
