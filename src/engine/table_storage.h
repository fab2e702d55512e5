// Storage shared by the counting tables and the address-to-name table: an
// allocator whose failure the tables can report instead of dying, an arena that
// holds each name once, and an open-addressing index from the 32-bit name hash to
// an array position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

namespace tallowick::engine::detail {

// An allocator that asks for memory with the non-throwing operator new and turns
// a refusal into std::bad_alloc for the table to catch. The throwing operator new
// aborts under AddressSanitizer, which would hide the tables' failure path.
template <class T>
struct TryAllocator {
    using value_type = T;
    static constexpr bool kOverAligned = alignof(T) > __STDCPP_DEFAULT_NEW_ALIGNMENT__;
    TryAllocator() = default;
    template <class U>
    TryAllocator(const TryAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
        void* p = kOverAligned
                      ? ::operator new(n * sizeof(T), std::align_val_t(alignof(T)), std::nothrow)
                      : ::operator new(n * sizeof(T), std::nothrow);
        if (p == nullptr) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) noexcept {
        if constexpr (kOverAligned)
            ::operator delete(p, std::align_val_t(alignof(T)));
        else
            ::operator delete(p);
    }
    template <class U>
    bool operator==(const TryAllocator<U>&) const noexcept { return true; }
};

template <class T>
using TryVector = std::vector<T, TryAllocator<T>>;

// Names copied into a few large blocks that never move, so views stay valid while
// the tables grow and sort. Nothing is freed before the arena itself.
class NameArena {
public:
    NameArena() = default;
    NameArena(const NameArena&) = delete;
    NameArena& operator=(const NameArena&) = delete;

    // Room for n bytes, or nullptr when the memory cannot be had.
    char* Allocate(std::size_t n);
    // A copy of text followed by a NUL; nullopt when the memory cannot be had.
    std::optional<std::string_view> Store(std::string_view text);
    std::size_t BytesHeld() const { return held_; }

private:
    static constexpr std::size_t kFirstBlock = 256;
    static constexpr std::size_t kLargestBlock = 64 * 1024;

    std::vector<std::unique_ptr<char[]>> blocks_;
    char* free_ = nullptr;
    std::size_t left_ = 0;
    std::size_t next_block_ = kFirstBlock;
    std::size_t held_ = 0;
};

// Open addressing with linear probing over (hash, position) slots, at most half
// full. Several entries may share a hash: the caller's match decides identity.
class HashIndex {
public:
    // Room for `entries` entries. False when the memory cannot be had; the index
    // is then unchanged. needed_bytes tells what the failed allocation asked for.
    bool Reserve(std::size_t entries, std::size_t* needed_bytes = nullptr);
    // Adds an entry with the text it is found by; Reserve(size() + 1) must have
    // succeeded.
    void Insert(std::uint32_t hash, std::int32_t position, const char* text);
    // Forgets every entry, keeping the slots.
    void Clear();
    std::size_t size() const { return used_; }
    std::size_t SlotCount() const { return slots_.size(); }

    // The position of the entry with this hash that match(position, text) accepts,
    // or -1. text is what the entry was inserted with: reading it straight from the
    // slot lets its cache miss overlap the one for the caller's record.
    template <class Match>
    std::int32_t Find(std::uint32_t hash, Match&& match) const {
        if (slots_.empty()) return -1;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = Home(hash);; i = (i + 1) & mask) {
            const Slot& s = slots_[i];
            if (s.position_plus_one == 0) return -1;
            if (s.hash == hash && match(s.position_plus_one - 1, s.text))
                return s.position_plus_one - 1;
        }
    }
    // Asks the CPU to fetch the slot where a search for hash starts, so that a
    // Find a little later does not wait for memory.
    void Prefetch(std::uint32_t hash) const {
        if (!slots_.empty()) __builtin_prefetch(&slots_[Home(hash)]);
    }
    // The position of the first entry with this hash, and the text it was
    // inserted with; -1 when there is none. Find takes the same entry unless two
    // names share the hash: enough to prefetch what a Find will read.
    std::int32_t FirstWithHash(std::uint32_t hash, const char** text) const {
        if (slots_.empty()) return -1;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = Home(hash);; i = (i + 1) & mask) {
            const Slot& s = slots_[i];
            if (s.position_plus_one == 0) return -1;
            if (s.hash == hash) {
                *text = s.text;
                return s.position_plus_one - 1;
            }
        }
    }
    // The lowest position of any entry with this hash, or -1.
    std::int32_t FindLowest(std::uint32_t hash) const;

private:
    struct Slot {
        const char* text = nullptr;
        std::uint32_t hash = 0;
        std::int32_t position_plus_one = 0;  // 0: empty
    };
    // Fibonacci hashing spreads the name hash over the top bits.
    std::size_t Home(std::uint32_t hash) const { return (hash * 0x9E3779B1u) >> shift_; }
    void Place(const Slot& slot);

    TryVector<Slot> slots_;
    unsigned shift_ = 32;
    std::size_t used_ = 0;
};

}  // namespace tallowick::engine::detail
