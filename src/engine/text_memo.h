// TextMemo: what was worked out for texts seen before (a URL, a referrer, an
// agent), so that the next hit with the same text skips the work. A log repeats
// its texts, but may hold millions of distinct ones too: the memo keeps up to a
// fixed number of texts, each once, and then keeps what it has; texts longer than
// kMaxText are not kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string_view>

#include "engine/table_storage.h"

namespace tallowick::engine {

template <class Value, std::size_t kMaxText = 256>
class TextMemo {
public:
    // limit: the most texts kept (at least one).
    explicit TextMemo(std::size_t limit) : limit_(limit < 1 ? 1 : limit) {}

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

    // Asks the CPU for the memory a Find of hash will read first (its index slot),
    // and, a little later, for the entry found there: a batch of hits is looked
    // up a few hits ahead, so that the lookups do not wait for memory.
    void Prefetch(std::size_t hash) const { index_.Prefetch(Short(hash)); }
    void PrefetchEntry(std::size_t hash) const {
        const char* text = nullptr;
        const std::int32_t at = index_.FirstWithHash(Short(hash), &text);
        if (at < 0) return;
        __builtin_prefetch(text);
        __builtin_prefetch(&entries_[static_cast<std::size_t>(at)]);
    }

    // The value remembered for text (whose Hash is hash), or nullptr. Good until
    // the next Store.
    Value* Find(std::string_view text, std::size_t hash) { return At(Position(text, hash)); }

    // Where text's value is kept, or -1. A text keeps its position for the life of
    // the memo, so a lookup made ahead of time may be used later through At.
    std::int32_t Position(std::string_view text, std::size_t hash) const {
        return index_.Find(Short(hash), [&](std::int32_t i, const char* kept) {
            return entries_[static_cast<std::size_t>(i)].length == text.size() &&
                   std::memcmp(kept, text.data(), text.size()) == 0;
        });
    }
    Value* At(std::int32_t position) {
        return position < 0 || static_cast<std::size_t>(position) >= entries_.size()
                   ? nullptr
                   : &entries_[static_cast<std::size_t>(position)].value;
    }

    // The value for text, reset to Value{}; nullptr when text is too long to keep,
    // the memo holds its limit, or memory runs out. Good until the next Store.
    Value* Store(std::string_view text, std::size_t hash) {
        if (Value* known = Find(text, hash)) {
            *known = Value{};
            return known;
        }
        if (text.size() > kMaxText || entries_.size() >= limit_) return nullptr;
        try {
            if (!index_.Reserve(entries_.size() + 1)) return nullptr;
            const auto kept = names_.Store(text);
            if (!kept) return nullptr;
            entries_.push_back({static_cast<std::uint32_t>(text.size()), Value{}});
            index_.Insert(Short(hash), static_cast<std::int32_t>(entries_.size() - 1),
                          kept->data());
        } catch (const std::exception&) {
            return nullptr;  // out of memory: the text is worked out hit by hit
        }
        return &entries_.back().value;
    }

    std::size_t Size() const { return entries_.size(); }

private:
    static std::uint64_t Load8(const char* p) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        return word;
    }
    static std::uint32_t Short(std::size_t hash) {
        return static_cast<std::uint32_t>(hash ^ (static_cast<std::uint64_t>(hash) >> 32));
    }

    struct Entry {
        std::uint32_t length;  // kMaxText at most
        Value value;
    };
    std::size_t limit_;
    detail::TryVector<Entry> entries_;
    detail::HashIndex index_;
    detail::NameArena names_;
};

}  // namespace tallowick::engine
