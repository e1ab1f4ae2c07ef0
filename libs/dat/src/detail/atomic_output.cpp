// Temporary output files: their creation, the process-wide table of those still pending, the
// termination-signal handlers that remove them, and the final rename.
#include "detail/atomic_output.hpp"

#include "quillmere/common/random.hpp"
#include "quillmere/common/try.hpp"
#include "quillmere/dat/archive_writer.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quillmere::dat {
namespace {

// The table of pending temporary files. A signal handler may read it at any moment, on any
// thread, so it is a fixed array of fixed-size slots guarded by one lock-free state word each:
// a slot's path is only written while its state is `Filling`, and only read while `Ready`.
enum SlotState : int { Free, Filling, Ready };

struct PendingSlot {
    std::atomic<int> state{Free};
    char path[PATH_MAX]{};
};

constexpr int kPendingSlots = 32;
PendingSlot g_pending[kPendingSlots];
static_assert(std::atomic<int>::is_always_lock_free);

// Claims a slot for `path` (absolute, shorter than PATH_MAX); -1 when all are taken.
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

extern "C" void remove_pending_and_reraise(int signal_number) {
    const int saved_errno = errno;
    remove_pending_temporaries();
    // Back to the default action, which the re-raised signal takes as soon as this handler
    // returns and the signal is unblocked: the process ends as if the handler never ran.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(signal_number, &default_action, nullptr);
    raise(signal_number);
    errno = saved_errno;
}

// The signals that end a process and leave it time to clean up: Ctrl-C, kill, a closed
// terminal, Ctrl-\.
constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Installs the handler for the termination signals where the disposition is the default, so an
// application's own handler (or an ignored signal) is never overridden. Only on request
// (`install_termination_cleanup`): a library takes over no signal of its own accord.
void install_signal_cleanup() noexcept {
    for (const int signal_number : kTerminationSignals) {
        struct sigaction current {};
        if (sigaction(signal_number, nullptr, &current) != 0) {
            continue;
        }
        if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = remove_pending_and_reraise;
        sigemptyset(&action.sa_mask);
        for (const int blocked : kTerminationSignals) {
            sigaddset(&action.sa_mask, blocked);
        }
        sigaction(signal_number, &action, nullptr);
    }
}

// Six characters for a temporary name, different on every call in every process.
std::string random_suffix() {
    static std::atomic<std::uint64_t> counter{0};
    const auto now =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    common::SplitMix64 random(now ^ (static_cast<std::uint64_t>(::getpid()) << 40) ^
                              common::mix64(counter.fetch_add(1, std::memory_order_relaxed)));
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix(6, ' ');
    for (char& c : suffix) {
        c = kAlphabet[random.below(sizeof kAlphabet - 1)];
    }
    return suffix;
}

// Blocks the termination signals for the calling thread while alive, so that a signal meant for it
// cannot land between creating a temporary file and entering it in the table.
class TerminationSignalsBlocked {
  public:
    TerminationSignalsBlocked() noexcept {
        sigset_t block;
        sigemptyset(&block);
        for (const int signal_number : kTerminationSignals) {
            sigaddset(&block, signal_number);
        }
        pthread_sigmask(SIG_BLOCK, &block, &previous_);
    }
    ~TerminationSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    TerminationSignalsBlocked(const TerminationSignalsBlocked&) = delete;
    TerminationSignalsBlocked& operator=(const TerminationSignalsBlocked&) = delete;

  private:
    sigset_t previous_{};
};

DatError io_error(int code) {
    return DatError(common::IoError::from_errno(code));
}

int system_open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

int system_exchange(const char* from, const char* to) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE);
}

constexpr detail::FileOperations kSystemOperations{
    .open = system_open,
    .pwrite = ::pwrite,
    .fsync = ::fsync,
    .close = ::close,
    .rename = ::rename,
    .exchange = system_exchange,
    .unlink = ::unlink,
};

std::atomic<const detail::FileOperations*> g_operations{&kSystemOperations};

} // namespace

void remove_pending_temporaries() noexcept {
    for (PendingSlot& slot : g_pending) {
        if (slot.state.load(std::memory_order_acquire) == Ready) {
            ::unlink(slot.path);
        }
    }
}

void install_termination_cleanup() noexcept {
    install_signal_cleanup();
}

namespace detail {

const FileOperations& system_file_operations() noexcept {
    return kSystemOperations;
}

void use_file_operations(const FileOperations* operations) noexcept {
    g_operations.store(operations != nullptr ? operations : &kSystemOperations);
}

AtomicOutput::AtomicOutput(const FileOperations& ops, int fd, int slot,
                           std::filesystem::path output, std::filesystem::path temporary) noexcept
    : ops_(&ops), fd_(fd), slot_(slot), output_(std::move(output)),
      temporary_(std::move(temporary)) {}

DatResult<AtomicOutput> AtomicOutput::create(const std::filesystem::path& output_path) {
    const auto path_error = [&](int code) {
        return std::unexpected(
            DatError::path_error(output_path, common::IoError::from_errno(code)));
    };
    std::error_code ec;
    const std::filesystem::path output = std::filesystem::absolute(output_path, ec);
    if (ec) {
        return path_error(ec.value());
    }
    if (!output.has_filename() || std::filesystem::is_directory(output, ec)) {
        return path_error(EISDIR);
    }
    const FileOperations& ops = *g_operations.load();

    // Appended piece by piece: GCC 12 warns (-Wrestrict, a false alarm) on "." + std::string.
    std::string prefix = ".";
    prefix += output.filename().string();
    prefix += ".tmp-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path temporary = output.parent_path() / (prefix + random_suffix());
        if (temporary.native().size() >= PATH_MAX) {
            return path_error(ENAMETOOLONG);
        }
        const TerminationSignalsBlocked blocked;
        int fd = -1;
        do {
            fd = ops.open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return path_error(errno);
        }
        const int slot = register_pending(temporary.native());
        if (slot < 0) {
            ops.close(fd);
            ops.unlink(temporary.c_str());
            return std::unexpected(DatError::other("more than " + std::to_string(kPendingSlots) +
                                                   " archive outputs open at once"));
        }
        return AtomicOutput(ops, fd, slot, output, temporary);
    }
    return path_error(EEXIST);
}

AtomicOutput::AtomicOutput(AtomicOutput&& other) noexcept
    : ops_(other.ops_), fd_(std::exchange(other.fd_, -1)), slot_(std::exchange(other.slot_, -1)),
      output_(std::move(other.output_)), temporary_(std::exchange(other.temporary_, {})) {}

AtomicOutput& AtomicOutput::operator=(AtomicOutput&& other) noexcept {
    if (this != &other) {
        discard();
        ops_ = other.ops_;
        fd_ = std::exchange(other.fd_, -1);
        slot_ = std::exchange(other.slot_, -1);
        output_ = std::move(other.output_);
        temporary_ = std::exchange(other.temporary_, {});
    }
    return *this;
}

AtomicOutput::~AtomicOutput() {
    discard();
}

DatResult<void> AtomicOutput::write_at(std::span<const std::uint8_t> bytes, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ops_->pwrite(fd_, bytes.data() + done, bytes.size() - done,
                                           static_cast<off_t>(offset + done));
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::unexpected(io_error(errno));
        }
        done += static_cast<std::size_t>(wrote);
    }
    // Start writing these pages back now rather than all at the final fsync: the disk works
    // while the next piece is prepared (a repack of a 475 MiB archive took 1.0 s instead of
    // 1.2 s, where `cp` and `sync` took 0.6 s). Only a hint; a file system without it is fine.
    ::sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(bytes.size()),
                      SYNC_FILE_RANGE_WRITE);
    return {};
}

DatResult<void> AtomicOutput::commit() {
    int synced = 0;
    do {
        synced = ops_->fsync(fd_);
    } while (synced != 0 && errno == EINTR);
    if (synced != 0) {
        const int code = errno;
        discard();
        return std::unexpected(io_error(code));
    }
    // A failed close can report a write that never reached the disk (on network file systems):
    // the file is not known to be whole, so it is not put in place.
    if (ops_->close(std::exchange(fd_, -1)) != 0) {
        const int code = errno;
        discard();
        return std::unexpected(io_error(code));
    }
    QM_TRY(const bool exchanged, put_in_place());
    if (const int code = flush_directory(); code != 0) {
        // The rename is not known to be durable: undo it, so the output is its old self. The
        // temporary name holds the old output after an exchange, nothing after a rename.
        if (exchanged) {
            ops_->exchange(temporary_.c_str(), output_.c_str());
        } else if (new_output_) {
            ops_->unlink(output_.c_str());
        }
        discard();
        return std::unexpected(io_error(code));
    }
    // The temporary name now holds the old output, or nothing; a signal from here on removes
    // that, which is harmless.
    discard();
    return {};
}

DatResult<bool> AtomicOutput::put_in_place() {
    if (ops_->exchange(temporary_.c_str(), output_.c_str()) == 0) {
        return true;
    }
    // No output to exchange with (ENOENT), or a file system that cannot exchange.
    const int code = errno;
    if (code != ENOENT && code != EINVAL && code != ENOSYS && code != EOPNOTSUPP) {
        discard();
        return std::unexpected(io_error(code));
    }
    new_output_ = code == ENOENT;
    if (ops_->rename(temporary_.c_str(), output_.c_str()) != 0) {
        const int failed = errno;
        discard();
        return std::unexpected(io_error(failed));
    }
    return false;
}

int AtomicOutput::flush_directory() const {
    // Some file systems cannot flush a directory (EINVAL); their rename is as durable as they
    // make it.
    const int directory =
        ops_->open(output_.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (directory < 0) {
        return errno;
    }
    const int flushed = ops_->fsync(directory);
    const int code = errno;
    ops_->close(directory);
    return flushed != 0 && code != EINVAL ? code : 0;
}

void AtomicOutput::discard() noexcept {
    if (fd_ >= 0) {
        ops_->close(std::exchange(fd_, -1));
    }
    if (!temporary_.empty()) {
        ops_->unlink(temporary_.c_str());
        temporary_.clear();
    }
    unregister_pending(std::exchange(slot_, -1));
}

} // namespace detail
} // namespace quillmere::dat
