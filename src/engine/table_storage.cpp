#include "engine/table_storage.h"

#include <algorithm>
#include <cstring>

namespace tallowick::engine::detail {

char* NameArena::Allocate(std::size_t n) {
    if (n == 0) n = 1;
    if (n > left_) {
        // A name larger than a block gets a block of its own; the current block
        // stays open for the names that follow.
        const bool own_block = n > next_block_;
        const std::size_t size = own_block ? n : next_block_;
        std::unique_ptr<char[]> block(new (std::nothrow) char[size]);
        if (!block) return nullptr;
        char* start = block.get();
        try {
            blocks_.push_back(std::move(block));
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        held_ += size;
        if (own_block) return start;
        free_ = start;
        left_ = size;
        next_block_ = std::min(next_block_ * 2, kLargestBlock);
    }
    char* out = free_;
    free_ += n;
    left_ -= n;
    return out;
}

std::optional<std::string_view> NameArena::Store(std::string_view text) {
    char* p = Allocate(text.size() + 1);
    if (p == nullptr) return std::nullopt;
    if (!text.empty()) std::memcpy(p, text.data(), text.size());
    p[text.size()] = '\0';
    return std::string_view(p, text.size());
}

bool HashIndex::Reserve(std::size_t entries, std::size_t* needed_bytes) {
    // The slots are a power of two, at least 16, at least twice the entries:
    // nearly every call finds room, and should cost no more than this.
    if (!slots_.empty() && entries <= slots_.size() / 2) return true;
    std::size_t want = 16;
    unsigned bits = 4;
    while (want < entries * 2) {
        want *= 2;
        ++bits;
    }
    if (want <= slots_.size()) return true;
    if (needed_bytes) *needed_bytes = want * sizeof(Slot);
    if (bits > 31) return false;
    TryVector<Slot> old;
    try {
        TryVector<Slot> fresh(want);
        old.swap(slots_);
        slots_.swap(fresh);
    } catch (const std::bad_alloc&) {
        return false;
    }
    shift_ = 32 - bits;
    for (const Slot& s : old)
        if (s.position_plus_one != 0) Place(s);
    return true;
}

void HashIndex::Place(const Slot& slot) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = Home(slot.hash);
    while (slots_[i].position_plus_one != 0) i = (i + 1) & mask;
    slots_[i] = slot;
}

void HashIndex::Insert(std::uint32_t hash, std::int32_t position, const char* text) {
    Place(Slot{text, hash, position + 1});
    ++used_;
}

void HashIndex::Clear() {
    std::fill(slots_.begin(), slots_.end(), Slot{});
    used_ = 0;
}

std::int32_t HashIndex::FindLowest(std::uint32_t hash) const {
    if (slots_.empty()) return -1;
    const std::size_t mask = slots_.size() - 1;
    std::int32_t lowest = -1;
    for (std::size_t i = Home(hash);; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        if (s.position_plus_one == 0) return lowest;
        const std::int32_t pos = s.position_plus_one - 1;
        if (s.hash == hash && (lowest < 0 || pos < lowest)) lowest = pos;
    }
}

}  // namespace tallowick::engine::detail
