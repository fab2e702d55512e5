// BatchWorker: items (hits) handled a batch at a time by two passes that count
// into different tables, each pass over the batches in the order they were made.
// The caller fills batches (items, and copies of the texts they name). With a
// thread of its own, the worker runs every second pass and, when it has caught
// up, the next first pass; the caller runs first passes only while it waits for
// a batch to fill, so that both threads stay busy whatever the log. Passes of one
// kind never overlap, so each table is only ever touched by one thread at a time,
// and the tables end up the same however the passes were shared out.
//
// What the second pass owes the first pass's tables it records as items to come
// back to (`later`): they are handed to `apply` once both passes of their batch
// are done, by whoever holds the first pass's tables then.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <thread>
#include <vector>

#include "base/status.h"

namespace tallowick::engine {

template <class Item>
class BatchWorker {
public:
    using Pass = std::function<void(std::span<Item> items, std::vector<std::uint32_t>& later)>;
    using Apply = std::function<void(Item& item)>;

    // Items a batch holds, and the text room of a batch: a log line is at most
    // 10,239 characters, so one item's texts always fit into an empty batch.
    static constexpr std::size_t kItems = 1024;
    static constexpr std::size_t kText = 1 << 19;
    static constexpr std::size_t kBatches = 6;

    BatchWorker(Pass first, Pass second, Apply apply, bool own_thread)
        : first_(std::move(first)), second_(std::move(second)), apply_(std::move(apply)) {
        const std::size_t batches = own_thread ? kBatches : 1;
        for (std::size_t i = 0; i < batches; ++i) ring_.push_back(std::make_unique<Batch>());
        filling_ = ring_.front().get();
        if (own_thread) thread_ = std::thread([this] { Work(); });
    }

    ~BatchWorker() {
        Drain();
        if (!thread_.joinable()) return;
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    BatchWorker(const BatchWorker&) = delete;
    BatchWorker& operator=(const BatchWorker&) = delete;

    // The next item, a copy of item; texts of up to text_bytes in all may then be
    // kept for it. Hands the batch over first when it is full.
    Item& Next(std::size_t text_bytes, const Item& item) {
        if (filling_->items.size() == kItems || kText - filling_->used < text_bytes) Submit();
        return filling_->items.emplace_back(item);
    }

    // A copy of text in the batch of the last Next, valid until its item is handled.
    std::string_view Keep(std::string_view text) {
        Batch& batch = *filling_;
        if (text.empty() || kText - batch.used < text.size()) return {};
        char* at = batch.text.get() + batch.used;
        std::memcpy(at, text.data(), text.size());
        batch.used += text.size();
        return {at, text.size()};
    }

    // Returns once every item made so far is handled and what it owed applied.
    void Drain() {
        if (!Filling().items.empty()) Submit();
        if (!thread_.joinable()) return;
        std::unique_lock lock(mutex_);
        // Helping with what is left of the first passes and the debts, under the
        // same rule as the worker: one holder of the first pass's tables at a time.
        while (first_running_ || first_done_ < filled_ || second_done_ < filled_ ||
               applied_ < filled_)
            if (!RunFirstIfDue(lock)) wake_.wait(lock);
        while (recycled_ < filled_) Recycle(*ring_[recycled_++ % ring_.size()]);
    }

private:
    struct Batch {
        std::vector<Item> items;
        std::unique_ptr<char[]> text{new char[kText]};
        std::size_t used = 0;
        std::vector<std::uint32_t> later;
        Batch() { items.reserve(kItems); }
    };

    Batch& Filling() { return *filling_; }

    void Recycle(Batch& batch) {
        batch.later.clear();
        batch.items.clear();
        batch.used = 0;
    }

    // Runs the passes of a batch on the caller's thread (no worker thread).
    void RunInline(Batch& batch) {
        first_(batch.items, batch.later);
        second_(batch.items, batch.later);
        for (std::uint32_t i : batch.later) apply_(batch.items[i]);
        Recycle(batch);
    }

    void Submit() {
        if (!thread_.joinable()) {
            RunInline(Filling());
            return;
        }
        std::unique_lock lock(mutex_);
        ++filled_;
        filling_ = ring_[filled_ % ring_.size()].get();
        wake_.notify_all();
        // The next batch to fill must be back: until it is, help with first passes.
        for (;;) {
            while (recycled_ < filled_ && Finished(recycled_) && recycled_ < applied_)
                Recycle(*ring_[recycled_++ % ring_.size()]);
            if (filled_ - recycled_ < ring_.size()) return;
            if (!RunFirstIfDue(lock)) wake_.wait(lock);
        }
    }

    bool Finished(std::size_t batch) const { return batch < first_done_ && batch < second_done_; }

    // With the lock held: when nobody holds the first pass's tables and there is
    // work for them (a first pass, or debts of finished batches), takes them, does
    // that work unlocked and returns true.
    bool RunFirstIfDue(std::unique_lock<std::mutex>& lock) {
        if (first_running_) return false;
        const bool pass = first_done_ < filled_;
        if (!pass && !Finished(applied_)) return false;
        first_running_ = true;
        Batch& batch = *ring_[first_done_ % ring_.size()];
        lock.unlock();
        ApplyCompleted();
        if (pass) Guarded([&] { first_(batch.items, batch.later); });
        lock.lock();
        if (pass) ++first_done_;
        first_running_ = false;
        wake_.notify_all();
        return true;
    }

    // By the holder of the first pass's tables: what finished batches owe them.
    void ApplyCompleted() {
        for (;;) {
            std::size_t next;
            {
                std::lock_guard lock(mutex_);
                if (!Finished(applied_)) return;
                next = applied_;
            }
            Batch& batch = *ring_[next % ring_.size()];
            for (std::uint32_t i : batch.later) apply_(batch.items[i]);
            std::lock_guard lock(mutex_);
            ++applied_;
        }
    }

    void Work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (second_done_ < filled_) {
                Batch& batch = *ring_[second_done_ % ring_.size()];
                lock.unlock();
                Guarded([&] { second_(batch.items, batch.later); });
                lock.lock();
                ++second_done_;
                wake_.notify_all();
                continue;
            }
            if (RunFirstIfDue(lock)) continue;
            if (stop_) return;
            wake_.wait(lock);
        }
    }

    template <class Fn>
    static void Guarded(Fn&& fn) {
        try {
            fn();
        } catch (const std::exception&) {
            OutOfMemory({}, 0);  // the tables report their own; the batch's rest is lost
        }
    }

    Pass first_, second_;
    Apply apply_;
    std::vector<std::unique_ptr<Batch>> ring_;
    Batch* filling_ = nullptr;  // ring_[filled_ % size], kept: a division per hit shows
    // Batch numbers count up from 0; batch n lives in ring_[n % size]. Batches
    // below filled_ are handed over; first_done_ and second_done_ count the
    // batches each pass has finished, applied_ those whose debts are paid,
    // recycled_ those back for filling.
    std::size_t filled_ = 0, first_done_ = 0, second_done_ = 0, applied_ = 0, recycled_ = 0;
    bool first_running_ = false;
    bool stop_ = false;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
};

}  // namespace tallowick::engine
