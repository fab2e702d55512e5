#include "engine/time_rec.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#include "base/status.h"

namespace tallowick::engine {

int TimeRecList::IndexOf(int key) const {
    // Keys are mostly days arriving in time order: the newest record is the
    // likeliest match, so search from the end.
    for (int i = count_ - 1; i >= 0; --i)
        if (records_[i].key == key) return i;
    return -1;
}

int TimeRecList::AddSearched(int key, std::int64_t value) {
    if (int i = IndexOf(key); i >= 0) {
        records_[i].sum += value;
        records_[i].count += 1;
        return i;
    }
    if (count_ >= capacity_) {
        const std::size_t grown = static_cast<std::size_t>(capacity_) + kGrowth;
        void* memory = ::operator new(grown * sizeof(TimeRecord), std::nothrow);
        if (memory == nullptr || grown > static_cast<std::size_t>(INT32_MAX)) {
            ::operator delete(memory);
            OutOfMemory("TimeRec Failed to Add", static_cast<long>(grown * sizeof(TimeRecord)));
            return -1;
        }
        auto* records = static_cast<TimeRecord*>(memory);
        std::uninitialized_copy_n(records_.get(), count_, records);
        std::uninitialized_value_construct_n(records + count_, grown - count_);
        records_.reset(records);
        capacity_ = static_cast<std::int32_t>(grown);
    }
    records_[count_] = TimeRecord{key, 1, value};
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
}

}  // namespace tallowick::engine
