// Locking a writing command's output with flock, and removing what killed writers left.
#include "output_lock.hpp"

#include "local_files.hpp"
#include "quillmere/common/file_system.hpp"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quillmere::dat_tool {
namespace {

namespace fs = std::filesystem;

// The lock file of the lock held, for a signal handler to remove: written before the flag is
// set, and the flag cleared before the path changes. The tool holds one lock at a time.
char g_held_lock_file[PATH_MAX]{};
std::atomic<bool> g_holds_lock_file{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void remember_lock_file(const fs::path& path) noexcept {
    if (path.native().size() < PATH_MAX && !g_holds_lock_file.load()) {
        std::memcpy(g_held_lock_file, path.c_str(), path.native().size() + 1);
        g_holds_lock_file.store(true);
    }
}

void forget_lock_file(const fs::path& path) noexcept {
    if (g_holds_lock_file.load() && path.native() == g_held_lock_file) {
        g_holds_lock_file.store(false);
    }
}

int open_retrying(int directory, const char* name, int flags) {
    return common::retry_interrupted([&] { return ::openat(directory, name, flags, 0666); });
}

// Takes the lock on `fd` without waiting: 0, or the errno (EWOULDBLOCK when it is held).
int lock_now(int fd) {
    return common::retry_interrupted([fd] { return ::flock(fd, LOCK_EX | LOCK_NB); }) == 0 ? 0
                                                                                           : errno;
}

std::string held_elsewhere(const std::string& shown) {
    return shown + " is being written by another process";
}

// Removes every `{prefix}XXXXXX` in `directory`: a file, or a tree with all it holds (a
// symbolic link is removed, never followed). Best effort: what cannot be removed stays for the
// next writer to try again.
void remove_stale_temporaries(const fs::path& directory, const std::string& prefix) {
    std::error_code ec;
    std::vector<fs::path> stale;
    for (fs::directory_iterator it(directory, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        if (is_temporary_name(it->path().filename().native(), prefix)) {
            stale.push_back(it->path());
        }
    }
    for (const fs::path& path : stale) {
        fs::remove_all(path, ec);
    }
}

} // namespace

void remove_held_lock_file() noexcept {
    if (g_holds_lock_file.load()) {
        ::unlink(g_held_lock_file);
    }
}

bool is_temporary_name(std::string_view name, std::string_view prefix) noexcept {
    if (name.size() != prefix.size() + 6 || !name.starts_with(prefix)) {
        return false;
    }
    for (const char c : name.substr(prefix.size())) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
            return false;
        }
    }
    return true;
}

OutputLock::OutputLock(int fd, fs::path lock_file) noexcept
    : fd_(fd), lock_file_(std::move(lock_file)) {}

OutputLock::OutputLock(OutputLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), lock_file_(std::exchange(other.lock_file_, {})) {}

OutputLock::~OutputLock() {
    if (fd_ < 0) {
        return;
    }
    if (!lock_file_.empty()) {
        forget_lock_file(lock_file_);
        ::unlink(lock_file_.c_str());
    }
    ::close(fd_);
}

Gathered<OutputLock> OutputLock::beside(const fs::path& output, const std::string& shown) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(output, ec);
    const fs::path parent = absolute.parent_path();
    const auto cannot_write = [&](int code) {
        return std::unexpected("cannot write in directory " + parent_shown(shown) + ": " +
                               system_reason(code));
    };
    if (ec) {
        return cannot_write(ec.value());
    }
    if (!absolute.has_filename()) {
        return std::unexpected("cannot write " + shown + ": " + system_reason(EISDIR));
    }
    const std::string name = absolute.filename().string();
    const fs::path lock_file = parent / ("." + name + ".lock");
    // The holder before us may unlink the file between our open and our flock: then the name
    // leads elsewhere (or nowhere) and we try again with whatever it leads to now.
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Read-only: flock needs no more, and another user's lock file can still be opened.
        const int fd =
            open_retrying(AT_FDCWD, lock_file.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            return cannot_write(errno);
        }
        OutputLock lock(fd, {});
        if (const int code = lock_now(fd); code != 0) {
            return std::unexpected(code == EWOULDBLOCK
                                       ? held_elsewhere(shown)
                                       : "cannot lock " + shown + ": " + system_reason(code));
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) != 0 || ::lstat(lock_file.c_str(), &named) != 0 ||
            held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
            continue;
        }
        lock.lock_file_ = lock_file;
        remember_lock_file(lock_file);
        remove_stale_temporaries(parent, "." + name + ".tmp-");
        return lock;
    }
    return std::unexpected(held_elsewhere(shown));
}

Gathered<OutputLock> OutputLock::on_directory(const fs::path& directory,
                                              const std::string& temporary_prefix,
                                              const std::string& shown) {
    const int fd = open_retrying(AT_FDCWD, directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return std::unexpected("cannot use " + shown + ": " + system_reason(errno));
    }
    OutputLock lock(fd, {});
    if (const int code = lock_now(fd); code != 0) {
        return std::unexpected(code == EWOULDBLOCK
                                   ? held_elsewhere(shown)
                                   : "cannot lock " + shown + ": " + system_reason(code));
    }
    remove_stale_temporaries(directory, temporary_prefix);
    return lock;
}

} // namespace quillmere::dat_tool
