#include "base/cancel.h"

#include <signal.h>

#include <atomic>

namespace tallowick {

namespace {

// Lock-free atomics: the only state a signal handler may touch.
std::atomic<bool> g_cancel{false};
std::atomic<int> g_signal{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

extern "C" void on_cancel_signal(int sig) {
    g_signal.store(sig, std::memory_order_relaxed);
    g_cancel.store(true, std::memory_order_relaxed);
}

}  // namespace

void install_cancel_signals() {
    struct sigaction action{};
    action.sa_handler = on_cancel_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGXFSZ, SIG_IGN);
}

void request_cancel() { g_cancel.store(true, std::memory_order_relaxed); }
bool cancel_requested() { return g_cancel.load(std::memory_order_relaxed); }
int cancel_signal() { return g_signal.load(std::memory_order_relaxed); }

void clear_cancel() {
    g_cancel.store(false, std::memory_order_relaxed);
    g_signal.store(0, std::memory_order_relaxed);
}

}  // namespace tallowick
