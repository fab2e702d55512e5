// BatchWorker: hits (or any items) handled a batch at a time in two passes, in
// the order they were made: the first pass on the caller's thread when a batch
// is full, the second on a thread of its own while the caller fills the next
// batch (or at once on the caller's thread, without one). A batch holds its
// items and copies of the texts they name. Whatever the second pass wants done
// to the first pass's tables it records as `Later` entries, which the caller
// applies when it takes the batch back, and at Drain.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <thread>
#include <vector>

#include "base/status.h"

namespace tallowick::engine {

template <class Item, class Later>
class BatchWorker {
public:
    using Pass = std::function<void(std::span<Item> items, std::vector<Later>& later)>;
    using Apply = std::function<void(const Later& later)>;

    // Items a batch holds, and the text room of a batch: a log line is at most
    // 10,239 characters, so one item's texts always fit into an empty batch.
    static constexpr std::size_t kItems = 2048;
    static constexpr std::size_t kText = 1 << 20;
    static constexpr std::size_t kBatches = 3;

    BatchWorker(Pass first, Pass second, Apply apply, bool own_thread)
        : first_(std::move(first)), second_(std::move(second)), apply_(std::move(apply)) {
        const std::size_t batches = own_thread ? kBatches : 1;
        for (std::size_t i = 0; i < batches; ++i) {
            batches_.push_back(std::make_unique<Batch>());
            if (i > 0) free_.push_back(batches_.back().get());
        }
        filling_ = batches_.front().get();
        if (own_thread) thread_ = std::thread([this] { Work(); });
    }

    ~BatchWorker() {
        Drain();
        if (!thread_.joinable()) return;
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_worker_.notify_one();
        thread_.join();
    }

    BatchWorker(const BatchWorker&) = delete;
    BatchWorker& operator=(const BatchWorker&) = delete;

    // The next item, default-made; texts of up to text_bytes in all may then be
    // kept for it. Hands the batch over first when it is full.
    Item& Next(std::size_t text_bytes) {
        if (filling_->items.size() == kItems || kText - filling_->used < text_bytes) Submit();
        return filling_->items.emplace_back();
    }

    // A copy of text in the batch of the last Next, valid until its item is handled.
    std::string_view Keep(std::string_view text) {
        if (text.empty() || kText - filling_->used < text.size()) return {};
        char* at = filling_->text.get() + filling_->used;
        std::memcpy(at, text.data(), text.size());
        filling_->used += text.size();
        return {at, text.size()};
    }

    // Returns once every item made so far is handled and its Later entries applied.
    void Drain() {
        if (!filling_->items.empty()) Submit();
        if (!thread_.joinable()) return;
        std::unique_lock lock(mutex_);
        batch_back_.wait(lock, [this] { return full_.empty() && !busy_; });
        for (Batch* batch : free_) Recycle(*batch);
    }

private:
    struct Batch {
        std::vector<Item> items;
        std::unique_ptr<char[]> text{new char[kText]};
        std::size_t used = 0;
        std::vector<Later> later;
        Batch() { items.reserve(kItems); }
    };

    // Called with the lock held.
    Batch* TakeFree() {
        Batch* batch = free_.back();
        free_.pop_back();
        return batch;
    }

    // On the caller's thread, for a batch the worker has finished with.
    void Recycle(Batch& batch) {
        for (const Later& later : batch.later) apply_(later);
        batch.later.clear();
        batch.items.clear();
        batch.used = 0;
    }

    void Submit() {
        first_(filling_->items, filling_->later);
        if (!thread_.joinable()) {
            second_(filling_->items, filling_->later);
            Recycle(*filling_);
            return;
        }
        Batch* next;
        {
            std::unique_lock lock(mutex_);
            full_.push_back(filling_);
            wake_worker_.notify_one();
            batch_back_.wait(lock, [this] { return !free_.empty(); });
            next = TakeFree();
        }
        Recycle(*next);
        filling_ = next;
    }

    void Work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_worker_.wait(lock, [this] { return stop_ || !full_.empty(); });
            if (full_.empty()) return;  // stopping, nothing left
            Batch* batch = full_.front();
            full_.erase(full_.begin());
            busy_ = true;
            lock.unlock();
            try {
                second_(batch->items, batch->later);
            } catch (const std::exception&) {
                OutOfMemory({}, 0);  // the tables report their own; the batch's rest is lost
            }
            lock.lock();
            busy_ = false;
            free_.push_back(batch);
            batch_back_.notify_one();
        }
    }

    Pass first_, second_;
    Apply apply_;
    std::vector<std::unique_ptr<Batch>> batches_;
    Batch* filling_ = nullptr;        // the caller's; not under the lock
    std::vector<Batch*> full_;         // handed over, oldest first
    std::vector<Batch*> free_;         // handled, waiting to be recycled by the caller
    bool busy_ = false;
    bool stop_ = false;
    std::mutex mutex_;
    std::condition_variable wake_worker_;
    std::condition_variable batch_back_;
    std::thread thread_;
};

}  // namespace tallowick::engine
