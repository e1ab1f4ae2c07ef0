// Whole local files in and out, and the signal handling of the writing commands.
#include "local_files.hpp"

#include "output_lock.hpp"
#include "quillmere/common/file_system.hpp"
#include "quillmere/common/io_error.hpp"
#include "quillmere/common/try.hpp"
#include "quillmere/dat/termination_cleanup.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quillmere::dat_tool {
namespace {

using common::kTerminationSignals;
using common::retry_interrupted;

static_assert(kTerminationSignals.size() == TerminationRequests::kSignals);

volatile std::sig_atomic_t g_pending_signal = 0;

extern "C" void record_termination(int signal_number) {
    g_pending_signal = signal_number;
}

extern "C" void clean_up_and_end(int signal_number) {
    dat::remove_pending_temporaries();
    TerminationRequests::end_process(signal_number);
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

// Writes all of `contents` to `fd`: 0, or the errno of the failure.
int write_all(int fd, std::span<const std::uint8_t> contents) noexcept {
    std::size_t done = 0;
    while (done < contents.size()) {
        const ssize_t wrote = retry_interrupted(
            [&] { return ::write(fd, contents.data() + done, contents.size() - done); });
        if (wrote < 0) {
            return errno;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return 0;
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
    const int fd = retry_interrupted([&] { return ::openat(directory, name, flags); });
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
        const ssize_t got =
            retry_interrupted([&] { return ::read(fd_, buffer.data() + at + done, size_ - done); });
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
    const auto failed = [&](int code) {
        return std::unexpected("cannot write " + shown + ": " + system_reason(code));
    };
    // A file written here gets the permissions a new file gets.
    const auto [fd, temporary] =
        common::create_temporary(path.string() + ".tmp-", [](const std::string& name) {
            return retry_interrupted([&] {
                return ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            });
        });
    if (fd < 0) {
        return failed(errno);
    }
    Descriptor file(fd);
    int code = write_all(file.get(), contents);
    if (code == 0) {
        code = common::sync_file(file.get());
    }
    if (const int closed = file.close(); code == 0) {
        code = closed;
    }
    if (code == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
        code = errno;
    }
    if (code != 0) {
        ::unlink(temporary.c_str());
        return failed(code);
    }
    return {};
}

Gathered<void> write_new_file(const std::filesystem::path& path,
                              std::span<const std::uint8_t> contents, const std::string& shown) {
    const auto failed = [&](int code) {
        return std::unexpected("cannot write " + shown + ": " + system_reason(code));
    };
    Descriptor file(retry_interrupted(
        [&] { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); }));
    if (file.get() < 0) {
        return failed(errno);
    }
    if (const int code = write_all(file.get(), contents); code != 0) {
        return failed(code);
    }
    if (const int code = file.close(); code != 0) {
        return failed(code);
    }
    return {};
}

void clean_up_on_termination() noexcept {
    common::handle_termination_signals(clean_up_and_end);
}

void ignore_file_size_signal() noexcept {
    std::signal(SIGXFSZ, SIG_IGN);
}

TerminationRequests::TerminationRequests() noexcept {
    g_pending_signal = 0;
    for (int i = 0; i < kSignals; ++i) {
        if (!common::has_default_action(kTerminationSignals[static_cast<std::size_t>(i)])) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = record_termination;
        sigemptyset(&action.sa_mask);
        installed_[i] = sigaction(kTerminationSignals[static_cast<std::size_t>(i)], &action,
                                  &previous_[i]) == 0;
    }
}

TerminationRequests::~TerminationRequests() {
    for (int i = 0; i < kSignals; ++i) {
        if (installed_[i]) {
            sigaction(kTerminationSignals[static_cast<std::size_t>(i)], &previous_[i], nullptr);
        }
    }
}

int TerminationRequests::pending() const noexcept {
    return g_pending_signal;
}

void TerminationRequests::end_process(int signal_number) noexcept {
    remove_held_lock_file();
    common::end_by_signal(signal_number);
}

} // namespace quillmere::dat_tool
