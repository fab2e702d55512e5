#include "logs/tokens.h"

namespace tallowick::logs {

void TokenTable::clear() {
    for (std::size_t i = 0; i < count_; ++i) items_[i] = {};
    count_ = 0;
}

bool TokenTable::push(std::string_view token) {
    if (count_ == kCapacity) return false;
    items_[count_++] = token;
    return true;
}

TokenTable& line_tokens() {
    thread_local TokenTable table;
    return table;
}

}  // namespace tallowick::logs
