// A small persistent key/value store of our own for what the program remembers
// between runs (the last settings file, service parameters). It is a text file
// "registry.txt" in the per-user data folder, one "key=value" line per entry.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tallowick::platform {

class Registry {
public:
    // The store at path; the default is the per-user data folder's registry.txt.
    explicit Registry(std::filesystem::path path);
    static Registry user();

    std::optional<std::string> get(std::string_view key) const;
    // Sets a value and saves the store at once (atomically). Keys and values may not
    // hold line breaks; such characters are replaced by spaces. Returns false when
    // the store could not be written.
    bool set(std::string_view key, std::string_view value);
    bool erase(std::string_view key);

private:
    void load();
    bool save() const;

    std::filesystem::path path_;
    std::map<std::string, std::string, std::less<>> values_;
};

}  // namespace tallowick::platform
