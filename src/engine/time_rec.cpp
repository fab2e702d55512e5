#include "engine/time_rec.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <memory>
#include <new>

#include "base/status.h"

namespace tallowick::engine {

namespace {

std::size_t KeySlot(int key, std::size_t mask) {
    return static_cast<std::size_t>((static_cast<std::uint32_t>(key) * 0x9E3779B1u) >> 7) & mask;
}

}  // namespace

std::size_t TimeRecList::IndexSlots(std::int32_t capacity) {
    if (capacity < kIndexedFrom) return 0;
    return std::bit_ceil(static_cast<std::size_t>(capacity) * 2);
}

std::int32_t* TimeRecList::IndexBegin() const {
    return reinterpret_cast<std::int32_t*>(records_.get() + capacity_);
}

void TimeRecList::IndexKey(int position) {
    const std::size_t mask = IndexSlots(capacity_) - 1;
    std::int32_t* slots = IndexBegin();
    std::size_t i = KeySlot(records_[position].key, mask);
    while (slots[i] != 0) i = (i + 1) & mask;
    slots[i] = position + 1;
}

void TimeRecList::RebuildIndex() {
    const std::size_t slots = IndexSlots(capacity_);
    if (slots == 0) return;
    std::fill_n(IndexBegin(), slots, 0);
    for (int i = 0; i < count_; ++i) IndexKey(i);
}

int TimeRecList::IndexOf(int key) const {
    if (const std::size_t slots = IndexSlots(capacity_); slots > 0) {
        const std::size_t mask = slots - 1;
        const std::int32_t* index = IndexBegin();
        for (std::size_t i = KeySlot(key, mask); index[i] != 0; i = (i + 1) & mask)
            if (records_[index[i] - 1].key == key) return index[i] - 1;
        return -1;
    }
    // Keys are mostly days arriving in time order: the newest record is the
    // likeliest match, so search from the end.
    for (int i = count_ - 1; i >= 0; --i)
        if (records_[i].key == key) return i;
    return -1;
}

bool TimeRecList::Grow() {
    // Eight records at a time, then by half: an indexed list is rebuilt as it grows.
    std::size_t grown = static_cast<std::size_t>(capacity_) + kGrowth;
    if (grown > static_cast<std::size_t>(kIndexedFrom))
        grown = std::max(grown, (static_cast<std::size_t>(capacity_) * 3 / 2 + 7) / 8 * 8);
    if (grown > static_cast<std::size_t>(INT32_MAX / 4)) {
        OutOfMemory("TimeRec Failed to Add", static_cast<long>(grown * sizeof(TimeRecord)));
        return false;
    }
    const auto capacity = static_cast<std::int32_t>(grown);
    const std::size_t bytes =
        grown * sizeof(TimeRecord) + IndexSlots(capacity) * sizeof(std::int32_t);
    void* memory = ::operator new(bytes, std::nothrow);
    if (memory == nullptr) {
        OutOfMemory("TimeRec Failed to Add", static_cast<long>(bytes));
        return false;
    }
    auto* records = static_cast<TimeRecord*>(memory);
    std::uninitialized_copy_n(records_.get(), count_, records);
    std::uninitialized_value_construct_n(records + count_, grown - count_);
    records_.reset(records);
    capacity_ = capacity;
    RebuildIndex();
    return true;
}

int TimeRecList::AddSearched(int key, std::int64_t value) {
    if (int i = IndexOf(key); i >= 0) {
        records_[i].sum += value;
        records_[i].count += 1;
        return i;
    }
    if (count_ >= capacity_ && !Grow()) return -1;
    records_[count_] = TimeRecord{key, 1, value};
    if (IndexSlots(capacity_) > 0) IndexKey(count_);
    return count_++;
}

int TimeRecList::Key(int index) const { return InRange(index) ? records_[index].key : -1; }
std::int64_t TimeRecList::Sum(int index) const { return InRange(index) ? records_[index].sum : -1; }
int TimeRecList::CountAt(int index) const { return InRange(index) ? records_[index].count : -1; }

std::int64_t TimeRecList::SumFor(int key) const {
    const int i = IndexOf(key);
    return i < 0 ? -1 : records_[i].sum;
}

int TimeRecList::CountFor(int key) const {
    const int i = IndexOf(key);
    return i < 0 ? -1 : records_[i].count;
}

void TimeRecList::SetCountAt(int index, int count) {
    if (index >= 0 && index < count_) records_[index].count = count;
}

void TimeRecList::Sort(int selector) {
    TimeRecord* begin = records_.get();
    TimeRecord* end = begin + count_;
    if (selector == 1)
        std::stable_sort(begin, end,
                         [](const TimeRecord& a, const TimeRecord& b) { return a.sum > b.sum; });
    else
        std::stable_sort(begin, end, [](const TimeRecord& a, const TimeRecord& b) {
            return a.count > b.count;
        });
    RebuildIndex();
}

}  // namespace tallowick::engine
