// A status sink that records what the delivery code reports, installed for the
// lifetime of the recorder.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace tallowick::delivery::test {

class StatusRecorder : public StatusSink {
public:
    StatusRecorder() : previous_(set_status_sink(this)) {}
    ~StatusRecorder() override { set_status_sink(previous_); }
    StatusRecorder(const StatusRecorder&) = delete;
    StatusRecorder& operator=(const StatusRecorder&) = delete;

    void status(std::string_view text) override { said_.emplace_back(text); }
    void progress(int, std::string_view text, std::string_view) override {
        if (!text.empty()) said_.emplace_back(text);
    }
    void error(std::string_view text) override { errors.emplace_back(text); }

    bool said(std::string_view text) const {
        return std::find(said_.begin(), said_.end(), text) != said_.end();
    }
    int times_said(std::string_view text) const {
        return static_cast<int>(std::count(said_.begin(), said_.end(), text));
    }
    // Every report and error, for failure messages.
    std::string all() const {
        std::string text;
        for (const auto& s : said_) text += s + "\n";
        for (const auto& e : errors) text += "error: " + e + "\n";
        return text;
    }

    std::vector<std::string> errors;

private:
    std::vector<std::string> said_;
    StatusSink* previous_;
};

}  // namespace tallowick::delivery::test

#include <filesystem>

#include "support/loopback_server.h"
#include "support/test_support.h"

namespace tallowick::delivery::test {

// The sorted entry names of a Zip archive, one a line, as python's zipfile reads them.
inline std::string zip_names(const std::filesystem::path& archive) {
    return tallowick::test::run_process(
               tallowick::test::system_python(),
               {"-c", "import sys, zipfile\n"
                      "z = zipfile.ZipFile(sys.argv[1])\n"
                      "assert z.testzip() is None\n"
                      "print('\\n'.join(sorted(z.namelist())))",
                archive.string()})
        .out;
}

// Whether every one of `files` is still there.
inline bool all_exist(const std::vector<std::filesystem::path>& files) {
    return std::all_of(files.begin(), files.end(),
                       [](const std::filesystem::path& f) { return std::filesystem::exists(f); });
}

// The bytes of a gzip file unpacked by python's gzip module.
inline std::string gunzipped(const std::filesystem::path& file) {
    return tallowick::test::run_process(
               tallowick::test::system_python(),
               {"-c", "import gzip, sys\nsys.stdout.buffer.write(gzip.open(sys.argv[1]).read())",
                file.string()})
        .out;
}

}  // namespace tallowick::delivery::test
