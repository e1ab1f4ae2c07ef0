// Retried system calls, temporary names, flushes to the disk and termination signals.
#include "quillmere/common/file_system.hpp"

#include "quillmere/common/random.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace quillmere::common {
namespace {

int system_open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

constexpr DirectoryCalls kSystemDirectoryCalls{system_open, ::fsync, ::close};

sigset_t termination_set() noexcept {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal_number : kTerminationSignals) {
        sigaddset(&set, signal_number);
    }
    return set;
}

} // namespace

std::string temporary_name(std::string_view prefix) {
    static std::atomic<std::uint64_t> counter{0};
    const auto now =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    SplitMix64 random(now ^ (static_cast<std::uint64_t>(::getpid()) << 40) ^
                      mix64(counter.fetch_add(1, std::memory_order_relaxed)));
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string name(prefix);
    for (int i = 0; i < 6; ++i) {
        name += kAlphabet[random.below(sizeof kAlphabet - 1)];
    }
    return name;
}

int sync_file(int fd) noexcept {
    return retry_interrupted([fd] { return ::fsync(fd); }) == 0 ? 0 : errno;
}

const DirectoryCalls& system_directory_calls() noexcept {
    return kSystemDirectoryCalls;
}

int sync_directory(const std::filesystem::path& directory, const DirectoryCalls& calls) noexcept {
    const int fd = retry_interrupted(
        [&] { return calls.open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
    if (fd < 0) {
        return errno;
    }
    const int flushed = retry_interrupted([&] { return calls.fsync(fd); });
    const int code = errno;
    calls.close(fd);
    return flushed != 0 && code != EINVAL ? code : 0;
}

bool has_default_action(int signal_number) noexcept {
    struct sigaction current {};
    return sigaction(signal_number, nullptr, &current) == 0 &&
           (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_DFL;
}

void handle_termination_signals(void (*handler)(int)) noexcept {
    for (const int signal_number : kTerminationSignals) {
        if (!has_default_action(signal_number)) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = handler;
        action.sa_mask = termination_set();
        sigaction(signal_number, &action, nullptr);
    }
}

void end_by_signal(int signal_number) noexcept {
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(signal_number, &default_action, nullptr);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
    raise(signal_number);
    // Only reached if the signal could not end the process.
    _exit(128 + signal_number);
}

TerminationSignalsBlocked::TerminationSignalsBlocked() noexcept {
    const sigset_t block = termination_set();
    pthread_sigmask(SIG_BLOCK, &block, &previous_);
}

TerminationSignalsBlocked::~TerminationSignalsBlocked() {
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

} // namespace quillmere::common
