// TextMemo: what was worked out for recently seen texts (a URL, a referrer, an
// agent), so that the next hit with the same text skips the work. A log holds
// few distinct agents and referrers and repeats its URLs, but may hold millions
// of distinct texts too: the memory is fixed when the memo is made, a new text
// takes the slot its hash selects from whatever was there, and texts longer than
// kMaxText are not kept.
#pragma once

#include <bit>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

namespace tallowick::engine {

template <class Value, std::size_t kMaxText = 256>
class TextMemo {
public:
    // slots is rounded up to a power of two (at least one).
    explicit TextMemo(std::size_t slots)
        : slots_(std::bit_ceil(slots < 1 ? std::size_t{1} : slots)),
          text_(slots_.size() * kMaxText) {}

    static std::size_t Hash(std::string_view text) { return std::hash<std::string_view>{}(text); }

    // The value remembered for text (whose Hash is hash), or nullptr.
    Value* Find(std::string_view text, std::size_t hash) {
        Slot& slot = slots_[hash & (slots_.size() - 1)];
        if (!slot.used || slot.hash != hash || slot.length != text.size()) return nullptr;
        const char* kept = &text_[(hash & (slots_.size() - 1)) * kMaxText];
        return std::memcmp(kept, text.data(), text.size()) == 0 ? &slot.value : nullptr;
    }

    // The slot for text's value, reset to Value{}, displacing the text that had it;
    // nullptr when text is too long to keep.
    Value* Store(std::string_view text, std::size_t hash) {
        if (text.size() > kMaxText) return nullptr;
        const std::size_t at = hash & (slots_.size() - 1);
        Slot& slot = slots_[at];
        if (!text.empty()) std::memcpy(&text_[at * kMaxText], text.data(), text.size());
        slot.hash = hash;
        slot.length = text.size();
        slot.used = true;
        slot.value = Value{};
        return &slot.value;
    }

    // Forgets every text.
    void Clear() {
        for (Slot& slot : slots_) slot.used = false;
    }

    std::size_t SlotCount() const { return slots_.size(); }

private:
    struct Slot {
        std::size_t hash = 0;
        std::size_t length = 0;
        bool used = false;
        Value value{};
    };
    std::vector<Slot> slots_;
    std::vector<char> text_;  // kMaxText bytes per slot
};

}  // namespace tallowick::engine
