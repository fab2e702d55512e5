// Test lines in heap buffers of exactly their size, so that AddressSanitizer
// catches a parser that reads one byte past the line.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

namespace tallowick::logs::test {

class ExactLine {
public:
    ExactLine() = default;
    explicit ExactLine(std::string_view text)
        : size_(text.size()), data_(std::make_unique<char[]>(text.empty() ? 1 : text.size())) {
        if (!text.empty()) std::memcpy(data_.get(), text.data(), text.size());
    }
    std::string_view view() const { return {data_.get(), size_}; }
    operator std::string_view() const { return view(); }

private:
    std::size_t size_ = 0;
    std::unique_ptr<char[]> data_;
};

}  // namespace tallowick::logs::test

#include <gtest/gtest.h>

#include "logs/hit_record.h"

namespace tallowick::logs::test {

// What a parser should make of one line; empty texts must be empty in the hit.
struct Want {
    LineResult result = LineResult::hit;
    std::string_view date{}, time{}, client{}, user{}, method{}, url{}, status{}, referrer{},
        agent{}, server{};
    std::int64_t bytes = 0;
};

inline void expect_hit(const HitRecord& hit, LineResult result, const Want& w,
                       std::string_view line) {
    SCOPED_TRACE(line);
    ASSERT_EQ(result, w.result);
    if (w.result != LineResult::hit) return;
    EXPECT_EQ(hit.date.view(), w.date);
    EXPECT_EQ(hit.time, w.time);
    EXPECT_EQ(hit.client, w.client);
    EXPECT_EQ(hit.user, w.user);
    EXPECT_EQ(hit.method, w.method);
    EXPECT_EQ(hit.url, w.url);
    EXPECT_EQ(hit.status, w.status);
    EXPECT_EQ(hit.referrer, w.referrer);
    EXPECT_EQ(hit.agent, w.agent);
    EXPECT_EQ(hit.server, w.server);
    EXPECT_EQ(hit.bytes, w.bytes);
}

// A line and what to expect of it, for table-driven tests.
struct LineCase {
    std::string_view line;
    Want want;
};

}  // namespace tallowick::logs::test
