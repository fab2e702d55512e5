// Helpers shared by every test executable.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tallowick::test {

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

void write_file(const std::filesystem::path& path, const std::string& content);
std::string read_file(const std::filesystem::path& path);

// The folder of real logs beside the checkout, when it is there.
std::optional<std::filesystem::path> shared_logs_dir();
// A combined-format log of 600 hits from 40 clients over two days, written once
// per test process under its HOME: for end-to-end tests whose subject is not the
// parsing, so that they run where the real logs are absent.
std::filesystem::path sample_log();

// The built program and the source tree.
std::filesystem::path tallowick_binary();
std::filesystem::path source_dir();

struct ProcessResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// Runs a program with arguments (no shell), standard input from /dev/null, and
// captures both outputs. extra_env entries are "NAME=value".
ProcessResult run_process(const std::filesystem::path& program,
                          const std::vector<std::string>& args,
                          const std::vector<std::string>& extra_env = {});

}  // namespace tallowick::test
