// Helpers of the log-reader tests: a status sink that records, whole-file reads
// through the reader, and gzip writing.
#pragma once

#include <zlib.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "logs/log_source.h"

namespace tallowick::logs::test {

// Installed for its lifetime; records errors and status texts.
class RecordingSink : public StatusSink {
public:
    RecordingSink() : previous_(set_status_sink(this)) {}
    ~RecordingSink() override { set_status_sink(previous_); }
    void status(std::string_view text) override { statuses.emplace_back(text); }
    void error(std::string_view text) override { errors.emplace_back(text); }

    std::vector<std::string> statuses;
    std::vector<std::string> errors;

private:
    StatusSink* previous_;
};

struct ReadResult {
    bool opened = false;
    bool failed = false;
    std::vector<std::string> lines;
    std::uint64_t bytes_read = 0;
};

inline ReadResult read_log(std::string_view name) {
    ReadResult r;
    auto source = OpenLog(name);
    if (!source) return r;
    r.opened = true;
    std::string_view line;
    while (ReadLogLine(*source, line)) r.lines.emplace_back(line);
    r.failed = source->failed();
    r.bytes_read = source->bytes_read();
    CloseLog(*source);
    return r;
}

inline void write_gzip(const std::filesystem::path& path, std::string_view content) {
    gzFile f = gzopen(path.c_str(), "wb6");
    if (!content.empty()) gzwrite(f, content.data(), static_cast<unsigned>(content.size()));
    gzclose(f);
}

// Splits text the way the reader must: at LF, CR LF and a lone CR; a final
// piece without a line end counts; a piece that reaches the limit is cut there
// and the rest of it, up to its line end, is dropped.
inline std::vector<std::string> expected_lines(std::string_view text) {
    std::vector<std::string> out;
    std::string current;
    bool pending = false, skipping = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            if (!skipping) out.push_back(current);
            current.clear();
            pending = skipping = false;
            continue;
        }
        if (skipping) continue;
        current.push_back(c);
        pending = true;
        if (current.size() == LogSource::kMaxLine) {
            out.push_back(current);
            current.clear();
            pending = false;
            skipping = true;
        }
    }
    if (pending) out.push_back(current);
    return out;
}

}  // namespace tallowick::logs::test
