// Per-item record lists of the counting tables: day-by-day (or otherwise keyed)
// sums for history graphs.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace tallowick::engine {

struct TimeRecord {
    std::int32_t key = 0;    // a day number or a small key chosen by the caller
    std::int32_t count = 0;  // number of adds
    // 64-bit: a busy client moves more than 2 GiB in a day.
    std::int64_t sum = 0;
};

// `TimeRec` list: a small array searched linearly, grown 8 records at a time.
// Sixteen bytes, so that a counting-table item holds its list itself. Keys are
// unique within a list. A list of many records (a busy search engine holds one
// per phrase) grows by half its size and keeps a hash index of its keys after
// the records, in the same block, so that a key is found without a scan.
class TimeRecList {
public:
    static constexpr int kGrowth = 8;
    static constexpr int kIndexedFrom = 64;  // records from which a list is indexed

    TimeRecList() = default;
    TimeRecList(TimeRecList&& other) noexcept { *this = std::move(other); }
    TimeRecList& operator=(TimeRecList&& other) noexcept {
        if (this != &other) {
            records_ = std::move(other.records_);
            count_ = other.count_;
            capacity_ = other.capacity_;
            other.count_ = other.capacity_ = 0;
        }
        return *this;
    }

    // Adds value under key: an existing record gets sum += value and count += 1,
    // otherwise {key, value, 1} is appended. Returns the record's index, or -1
    // when the list cannot grow ("TimeRec Failed to Add" is reported).
    int Add(int key, std::int64_t value) {
        // Hits come in time order: most adds fall on the newest record's day,
        // which is then found without a search or a call.
        if (count_ > 0) {
            TimeRecord& newest = records_[static_cast<std::size_t>(count_ - 1)];
            if (newest.key == key) {
                newest.sum += value;
                newest.count += 1;
                return count_ - 1;
            }
        }
        return AddSearched(key, value);
    }

    // Add for a key whose record the caller found at `known` before (an index
    // Add returned): that record when it still has the key, else Add.
    int AddKnown(int known, int key, std::int64_t value) {
        if (known >= 0 && known < count_) {
            TimeRecord& record = records_[static_cast<std::size_t>(known)];
            if (record.key == key) {
                record.sum += value;
                record.count += 1;
                return known;
            }
        }
        return Add(key, value);
    }

    int Count() const { return count_; }
    int Capacity() const { return capacity_; }
    std::span<const TimeRecord> Records() const { return {records_.get(), std::size_t(count_)}; }

    // By index: -1 outside the allocated records (records between Count() and
    // Capacity() are zero).
    int Key(int index) const;
    std::int64_t Sum(int index) const;
    int CountAt(int index) const;
    // By key: -1 when no record has the key.
    std::int64_t SumFor(int key) const;
    int CountFor(int key) const;

    // The history database restores each record's count after adding it.
    void SetCountAt(int index, int count);

    // Orders the records by sum descending (selector 1) or count descending.
    void Sort(int selector);

private:
    int AddSearched(int key, std::int64_t value);
    int IndexOf(int key) const;
    bool Grow();
    // The key index of an indexed list: slots holding a position + 1, or 0.
    static std::size_t IndexSlots(std::int32_t capacity);
    std::int32_t* IndexBegin() const;
    void IndexKey(int position);
    void RebuildIndex();
    bool InRange(int index) const { return index >= 0 && index < Capacity(); }

    struct Free {
        void operator()(TimeRecord* records) const { ::operator delete(records); }
    };
    std::unique_ptr<TimeRecord[], Free> records_;  // capacity_ records, zero past count_
    std::int32_t count_ = 0;
    std::int32_t capacity_ = 0;
};
static_assert(sizeof(TimeRecList) == 16);

}  // namespace tallowick::engine
