// The table of pending temporary files and the termination-signal handler that removes them.
#include "quillmere/dat/termination_cleanup.hpp"

#include "detail/pending_temporaries.hpp"
#include "quillmere/common/file_system.hpp"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

namespace quillmere::dat {
namespace {

// A signal handler may read the table at any moment, on any thread, so it is a fixed array of
// fixed-size slots guarded by one lock-free state word each: a slot's path is only written while
// its state is `Filling`, and only read while `Ready`.
enum SlotState : int { Free, Filling, Ready };

struct PendingSlot {
    std::atomic<int> state{Free};
    char path[PATH_MAX]{};
};

PendingSlot g_pending[detail::kPendingSlots];
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void remove_pending_and_end(int signal_number) {
    remove_pending_temporaries();
    common::end_by_signal(signal_number);
}

} // namespace

namespace detail {

int register_pending(const std::string& path) noexcept {
    for (int i = 0; i < kPendingSlots; ++i) {
        int expected = Free;
        if (g_pending[i].state.compare_exchange_strong(expected, Filling,
                                                       std::memory_order_acquire)) {
            std::memcpy(g_pending[i].path, path.c_str(), path.size() + 1);
            g_pending[i].state.store(Ready, std::memory_order_release);
            return i;
        }
    }
    return -1;
}

void unregister_pending(int slot) noexcept {
    if (slot >= 0) {
        g_pending[slot].state.store(Free, std::memory_order_release);
    }
}

} // namespace detail

void remove_pending_temporaries() noexcept {
    const int saved_errno = errno;
    for (PendingSlot& slot : g_pending) {
        if (slot.state.load(std::memory_order_acquire) == Ready) {
            ::unlink(slot.path);
        }
    }
    errno = saved_errno;
}

// Only on request: a library takes over no signal of its own accord.
void install_termination_cleanup() noexcept {
    common::handle_termination_signals(remove_pending_and_end);
}

} // namespace quillmere::dat
