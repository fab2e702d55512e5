// A settings record of the test's own, a fixed "today", a day-first date order and
// a sink that records error messages.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "app/settings_file.h"
#include "app/settings_keywords.h"
#include "app/settings_store.h"
#include "base/julian_date.h"
#include "base/status.h"
#include "logs/dates.h"
#include "support/test_support.h"

namespace tallowick::app::test_settings {

struct RecordingSink : StatusSink {
    std::vector<std::string> errors;
    void error(std::string_view t) override { errors.emplace_back(t); }
};

inline double fixed_today() { return JulianDate(2024, 3, 15); }

// The lines of a text, without their line ends.
inline std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_sink_ = set_status_sink(&sink_);
        previous_clock_ = logs::set_today_clock(&fixed_today);
        logs::set_date_order_override(logs::DateOrderKind::day_first);
        ResetSettings(s_, true);
    }
    void TearDown() override {
        set_status_sink(previous_sink_);
        logs::set_today_clock(previous_clock_);
        logs::set_date_order_override(std::nullopt);
    }

    // A settings file holding the given lines after the first line.
    std::string settings_file(const std::vector<std::string>& lines,
                              const std::string& name = "test.tkp") {
        std::string text = "#Tallowick3.6 preferences file\n";
        for (const std::string& l : lines) text += l + "\n";
        auto path = (dir_ / name).string();
        test::write_file(path, text);
        return path;
    }

    // Applies lines as a settings file does (over the current record).
    bool read_lines(Settings& s, const std::vector<std::string>& lines) {
        logs::LogList logs;
        KeywordContext ctx(s, logs);
        return ReadSettingsText(ctx, settings_file(lines));
    }
    bool read_lines(const std::vector<std::string>& lines) {
        return ReadSettingsText(ctx_, settings_file(lines));
    }

    // Applies every token position in turn, as the batch command line does.
    void command_line(const std::vector<std::string>& args) {
        std::vector<std::string_view> tokens(args.begin(), args.end());
        for (std::size_t i = 0; i < tokens.size(); ++i) ApplyKeyword(ctx_, tokens, i, std::nullopt);
    }

    bool load(const std::string& path) { return LoadSettingsFile(ctx_, path); }

    static std::string written(const Settings& s) {
        std::string out;
        WriteSettingsText(out, s);
        return out;
    }

    test::TempDir dir_;
    Settings s_;
    logs::LogList logs_;
    KeywordContext ctx_{s_, logs_};
    RecordingSink sink_;

private:
    StatusSink* previous_sink_ = nullptr;
    logs::TodayClock previous_clock_;
};

}  // namespace tallowick::app::test_settings
