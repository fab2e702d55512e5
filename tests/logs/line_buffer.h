// Test lines in heap buffers of exactly their size, so that AddressSanitizer
// catches a parser that reads one byte past the line.
#pragma once

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
