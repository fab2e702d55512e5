// The token table that the line parsers share: one view per token of the current
// line. It lives as long as the thread, so cutting a line allocates nothing, and it
// keeps the token count of the last line for the run's debug output.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace tallowick::logs {

class TokenTable {
public:
    static constexpr std::size_t kCapacity = 34;

    // Forgets the previous line's tokens (only the entries it used are cleared).
    // Inline, as push: both run for every token of every line.
    void clear() {
        for (std::size_t i = 0; i < count_; ++i) items_[i] = {};
        count_ = 0;
    }
    // Appends a token; false when the table is full (the token is not kept).
    bool push(std::string_view token) {
        if (count_ == kCapacity) return false;
        items_[count_++] = token;
        return true;
    }

    std::size_t size() const { return count_; }
    bool full() const { return count_ == kCapacity; }
    // The token at index i, or an empty view past the last token.
    std::string_view operator[](std::size_t i) const {
        return i < count_ ? items_[i] : std::string_view{};
    }
    std::span<const std::string_view> tokens() const { return {items_.data(), count_}; }

private:
    std::array<std::string_view, kCapacity> items_{};
    std::size_t count_ = 0;
};

// The calling thread's table, filled by the last line parsed on that thread.
TokenTable& line_tokens();

}  // namespace tallowick::logs
