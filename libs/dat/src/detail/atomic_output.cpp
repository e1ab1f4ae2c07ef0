// Temporary output files: their creation, noted in the table of pending ones that a
// termination signal empties, and the final rename.
#include "detail/atomic_output.hpp"

#include "detail/pending_temporaries.hpp"
#include "quillmere/common/file_system.hpp"
#include "quillmere/common/try.hpp"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quillmere::dat {
namespace {

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
    std::string name = ".";
    name += output.filename().string();
    name += ".tmp-";
    const std::string prefix = (output.parent_path() / name).string();
    if (prefix.size() + 6 >= PATH_MAX) {
        return path_error(ENAMETOOLONG);
    }
    // Signals wait until the file is noted in the table, so that none can leave it behind.
    const common::TerminationSignalsBlocked blocked;
    const auto [fd, temporary] =
        common::create_temporary(prefix, [&](const std::string& candidate) {
            return common::retry_interrupted([&] {
                return ops.open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            });
        });
    if (fd < 0) {
        return path_error(errno);
    }
    const int slot = register_pending(temporary);
    if (slot < 0) {
        ops.close(fd);
        ops.unlink(temporary.c_str());
        return std::unexpected(DatError::other("more than " + std::to_string(kPendingSlots) +
                                               " archive outputs open at once"));
    }
    return AtomicOutput(ops, fd, slot, output, temporary);
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
        const ssize_t wrote = common::retry_interrupted([&] {
            return ops_->pwrite(fd_, bytes.data() + done, bytes.size() - done,
                                static_cast<off_t>(offset + done));
        });
        if (wrote < 0) {
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
    if (const int code =
            common::retry_interrupted([&] { return ops_->fsync(fd_); }) == 0 ? 0 : errno;
        code != 0) {
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
    return common::sync_directory(output_.parent_path(), {ops_->open, ops_->fsync, ops_->close});
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
