#include "platform/file_mapping.h"

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <mutex>

namespace tallowick::platform {
namespace {

// The windows mapped now, for the SIGBUS handler, which may only read plain
// atomics. A slot is claimed through `used` and published through `end`.
struct Slot {
    std::atomic<bool> used{false};
    std::atomic<std::uintptr_t> begin{0}, end{0};
    std::atomic<bool> cut{false};
};
constexpr std::size_t kSlots = 64;
std::array<Slot, kSlots> slots;

struct sigaction previous_action {};
std::size_t page_size = 4096;

void OnBusError(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (Slot& slot : slots) {
        const std::uintptr_t end = slot.end.load(std::memory_order_acquire);
        if (address >= end || address < slot.begin.load(std::memory_order_relaxed)) continue;
        // Past the end of a file cut short: a page of zeros takes its place.
        void* page = reinterpret_cast<void*>(address & ~(page_size - 1));
        if (::mmap(page, page_size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) ==
            MAP_FAILED)
            break;
        slot.cut.store(true, std::memory_order_relaxed);
        return;
    }
    // Not a window of ours: what was there before. The fault repeats on return,
    // and the default action ends the process as it would have.
    if ((previous_action.sa_flags & SA_SIGINFO) && previous_action.sa_sigaction) {
        previous_action.sa_sigaction(signal, info, context);
    } else if (previous_action.sa_handler != SIG_DFL && previous_action.sa_handler != SIG_IGN) {
        previous_action.sa_handler(signal);
    } else {
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        ::sigaction(SIGBUS, &fallback, nullptr);
    }
}

bool InstallHandler() {
    static const bool installed = [] {
        const long size = ::sysconf(_SC_PAGESIZE);
        if (size > 0) page_size = static_cast<std::size_t>(size);
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        return ::sigaction(SIGBUS, &action, &previous_action) == 0;
    }();
    return installed;
}

}  // namespace

std::size_t FileWindow::PageSize() {
    InstallHandler();
    return page_size;
}

std::optional<FileWindow> FileWindow::Map(int fd, std::uint64_t offset, std::size_t length) {
    if (length == 0 || !InstallHandler() || offset % page_size != 0) return std::nullopt;
    int claimed = -1;
    for (std::size_t i = 0; i < kSlots && claimed < 0; ++i) {
        bool expected = false;
        if (slots[i].used.compare_exchange_strong(expected, true, std::memory_order_acquire))
            claimed = static_cast<int>(i);
    }
    if (claimed < 0) return std::nullopt;
    void* at = ::mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, fd,
                      static_cast<off_t>(offset));
    Slot& slot = slots[static_cast<std::size_t>(claimed)];
    if (at == MAP_FAILED) {
        slot.used.store(false, std::memory_order_release);
        return std::nullopt;
    }
    ::madvise(at, length, MADV_SEQUENTIAL);
    const auto begin = reinterpret_cast<std::uintptr_t>(at);
    slot.cut.store(false, std::memory_order_relaxed);
    slot.begin.store(begin, std::memory_order_relaxed);
    slot.end.store(begin + length, std::memory_order_release);
    return FileWindow(claimed, static_cast<const char*>(at), length);
}

FileWindow::FileWindow(FileWindow&& other) noexcept
    : slot_(other.slot_), data_(other.data_), size_(other.size_) {
    other.slot_ = -1;
    other.data_ = nullptr;
    other.size_ = 0;
}

FileWindow& FileWindow::operator=(FileWindow&& other) noexcept {
    if (this != &other) {
        Release();
        slot_ = other.slot_;
        data_ = other.data_;
        size_ = other.size_;
        other.slot_ = -1;
        other.data_ = nullptr;
        other.size_ = 0;
    }
    return *this;
}

FileWindow::~FileWindow() { Release(); }

bool FileWindow::cut() const {
    return slot_ >= 0 && slots[static_cast<std::size_t>(slot_)].cut.load(std::memory_order_relaxed);
}

void FileWindow::Release() {
    if (slot_ < 0) return;
    Slot& slot = slots[static_cast<std::size_t>(slot_)];
    // Out of the handler's table before the addresses may be reused.
    slot.end.store(0, std::memory_order_release);
    slot.begin.store(0, std::memory_order_relaxed);
    ::munmap(const_cast<char*>(data_), size_);
    slot.used.store(false, std::memory_order_release);
    slot_ = -1;
    data_ = nullptr;
    size_ = 0;
}

}  // namespace tallowick::platform
