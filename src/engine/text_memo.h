// TextMemo: what was worked out for recently seen texts (a URL, a referrer, an
// agent), so that the next hit with the same text skips the work. A log holds
// few distinct agents and referrers and repeats its URLs, but may hold millions
// of distinct texts too: the memory is fixed when the memo is made, a new text
// takes the slot its hash selects from whatever was there, and texts longer than
// kMaxText are not kept.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

    // The memo's own hash (nothing outside it sees it): eight bytes a step with a
    // multiply, about three times faster than the library's string hash on the
    // short texts of a hit.
    static std::size_t Hash(std::string_view text) {
        const char* p = text.data();
        std::size_t n = text.size();
        std::uint64_t h = 0x9E3779B97F4A7C15ull ^ (n * 0xC2B2AE3D27D4EB4Full);
        auto mix = [&h](std::uint64_t word) {
            h = (h ^ word) * 0xFF51AFD7ED558CCDull;
            h ^= h >> 32;
        };
        if (n >= 8) {
            for (; n > 8; n -= 8, p += 8) mix(Load8(p));
            mix(Load8(p + n - 8));  // the last eight bytes, overlapping what came before
        } else {
            std::uint64_t word = 0;
            for (std::size_t i = 0; i < n; ++i) word |= std::uint64_t(std::uint8_t(p[i])) << (8 * i);
            mix(word);
        }
        h *= 0xC4CEB9FE1A85EC53ull;
        return static_cast<std::size_t>(h ^ (h >> 29));
    }

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
    static std::uint64_t Load8(const char* p) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        return word;
    }

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
