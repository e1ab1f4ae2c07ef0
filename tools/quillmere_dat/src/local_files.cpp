// Whole local files in and out, and the signal handling of the writing commands.
#include "local_files.hpp"

#include "output_lock.hpp"
#include "quillmere/common/io_error.hpp"
#include "quillmere/common/try.hpp"
#include "quillmere/dat/archive_writer.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quillmere::inspect {
namespace {

constexpr int kTerminationSignals[TerminationRequests::kSignals] = {SIGINT, SIGTERM, SIGHUP,
                                                                    SIGQUIT};

volatile std::sig_atomic_t g_pending_signal = 0;

extern "C" void record_termination(int signal_number) {
    g_pending_signal = signal_number;
}

extern "C" void clean_up_and_end(int signal_number) {
    remove_held_lock_file();
    dat::remove_pending_temporaries();
    TerminationRequests::end_process(signal_number);
}

// Whether `signal_number` has its default disposition, which is all the tool ever replaces.
bool has_default_action(int signal_number) noexcept {
    struct sigaction current {};
    return sigaction(signal_number, nullptr, &current) == 0 &&
           (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_DFL;
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
  public:
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    [[nodiscard]] int get() const noexcept { return fd_; }
    // Closes now, giving close's errno or 0.
    [[nodiscard]] int close() noexcept {
        const int result = ::close(std::exchange(fd_, -1));
        return result == 0 ? 0 : errno;
    }

  private:
    int fd_;
};

int open_retrying(const char* path, int flags, mode_t mode) {
    int fd = -1;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

std::string system_reason(int code) {
    return common::IoError::from_errno(code).message();
}

std::string parent_shown(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.ends_with('/')) {
        trimmed.pop_back();
    }
    const std::filesystem::path given(trimmed);
    return given.has_parent_path() ? given.parent_path().string() : std::string(".");
}

LocalFile::LocalFile(int fd, std::size_t size, std::string shown) noexcept
    : fd_(fd), size_(size), shown_(std::move(shown)) {}

LocalFile::LocalFile(LocalFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_), shown_(std::move(other.shown_)) {}

LocalFile& LocalFile::operator=(LocalFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
        size_ = other.size_;
        shown_ = std::move(other.shown_);
    }
    return *this;
}

LocalFile::~LocalFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

Gathered<LocalFile> LocalFile::open(int directory, const char* name, const std::string& shown,
                                    bool follow_links) {
    const auto failed = [&](const std::string& why) {
        return std::unexpected("cannot read " + shown + ": " + why);
    };
    // Looked at before it is opened (opening a device can act on it, a socket cannot be
    // opened), and again once open. Without O_NONBLOCK, opening a FIFO would wait for a writer
    // that may never come.
    struct stat before {};
    if (::fstatat(directory, name, &before, follow_links ? 0 : AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISREG(before.st_mode)) {
        return failed(S_ISLNK(before.st_mode) ? "a symbolic link" : "not a regular file");
    }
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (follow_links ? 0 : O_NOFOLLOW);
    int fd = -1;
    do {
        fd = ::openat(directory, name, flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return failed(errno == ELOOP && !follow_links ? "a symbolic link" : system_reason(errno));
    }
    LocalFile file(fd, 0, shown);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return failed(system_reason(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return failed("not a regular file");
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size > std::numeric_limits<std::uint32_t>::max()) {
        return failed(std::to_string(size) + " bytes, more than an archive file can hold");
    }
    file.size_ = static_cast<std::size_t>(size);
    return file;
}

Gathered<void> LocalFile::read_into(std::vector<std::uint8_t>& buffer, std::size_t at) {
    const auto failed = [&](const std::string& why) {
        return std::unexpected("cannot read " + shown_ + ": " + why);
    };
    if (buffer.size() < at + size_) {
        try {
            buffer.resize(at + size_);
        } catch (const std::bad_alloc&) {
            return failed("not enough memory for its " + std::to_string(size_) + " bytes");
        }
    }
    std::size_t done = 0;
    while (done < size_) {
        const ssize_t got = ::read(fd_, buffer.data() + at + done, size_ - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return failed(system_reason(errno));
        }
        if (got == 0) {
            return failed("the file shrank while it was read");
        }
        done += static_cast<std::size_t>(got);
    }
    return {};
}

Gathered<void> read_local_file(const std::filesystem::path& path,
                               std::vector<std::uint8_t>& contents) {
    QM_TRY(LocalFile file, LocalFile::open(AT_FDCWD, path.c_str(), path.string(), true));
    contents.clear();
    QM_TRY_VOID(file.read_into(contents, 0));
    return {};
}

Gathered<void> replace_file(const std::filesystem::path& path,
                            std::span<const std::uint8_t> contents, const std::string& shown) {
    std::string temporary = path.string() + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        return std::unexpected("cannot write " + shown + ": " + system_reason(errno));
    }
    ::close(fd);
    // mkstemp makes the file private; a file written here gets the permissions a new file gets.
    ::unlink(temporary.c_str());
    auto written = write_new_file(temporary, contents, shown);
    if (written) {
        const int synced = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
        const bool durable = synced >= 0 && ::fsync(synced) == 0;
        const int code = errno;
        if (synced >= 0) {
            ::close(synced);
        }
        if (!durable || ::rename(temporary.c_str(), path.c_str()) != 0) {
            written = std::unexpected("cannot write " + shown + ": " +
                                      system_reason(durable ? errno : code));
        }
    }
    if (!written) {
        ::unlink(temporary.c_str());
    }
    return written;
}

Gathered<void> write_new_file(const std::filesystem::path& path,
                              std::span<const std::uint8_t> contents, const std::string& shown) {
    const auto failed = [&](int code) {
        return std::unexpected("cannot write " + shown + ": " + system_reason(code));
    };
    Descriptor file(open_retrying(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (file.get() < 0) {
        return failed(errno);
    }
    std::size_t done = 0;
    while (done < contents.size()) {
        const ssize_t wrote = ::write(file.get(), contents.data() + done, contents.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote < 0) {
            return failed(errno);
        }
        done += static_cast<std::size_t>(wrote);
    }
    if (const int code = file.close(); code != 0) {
        return failed(code);
    }
    return {};
}

void clean_up_on_termination() noexcept {
    for (const int signal_number : kTerminationSignals) {
        if (!has_default_action(signal_number)) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = clean_up_and_end;
        sigemptyset(&action.sa_mask);
        for (const int blocked : kTerminationSignals) {
            sigaddset(&action.sa_mask, blocked);
        }
        sigaction(signal_number, &action, nullptr);
    }
}

void ignore_file_size_signal() noexcept {
    std::signal(SIGXFSZ, SIG_IGN);
}

TerminationRequests::TerminationRequests() noexcept {
    g_pending_signal = 0;
    for (int i = 0; i < kSignals; ++i) {
        if (!has_default_action(kTerminationSignals[i])) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = record_termination;
        sigemptyset(&action.sa_mask);
        installed_[i] = sigaction(kTerminationSignals[i], &action, &previous_[i]) == 0;
    }
}

TerminationRequests::~TerminationRequests() {
    for (int i = 0; i < kSignals; ++i) {
        if (installed_[i]) {
            sigaction(kTerminationSignals[i], &previous_[i], nullptr);
        }
    }
}

int TerminationRequests::pending() const noexcept {
    return g_pending_signal;
}

void TerminationRequests::end_process(int signal_number) noexcept {
    remove_held_lock_file();
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

} // namespace quillmere::inspect
