// The open archive file.
#include "detail/archive_file.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quillmere::dat::detail {

std::expected<ArchiveFile, common::IoError> ArchiveFile::open(const std::filesystem::path& path,
                                                              FileReads reads) {
    // O_NONBLOCK: opening a FIFO would otherwise wait for a writer; it is refused below. On a
    // regular file the flag changes nothing.
    // O_NOATIME: reading an archive leaves its access time alone, and each read is spared the
    // time-stamp check (a twentieth of a scattered verify's processor time). Only the file's
    // owner may ask for it: anyone else opens the file without it (EPERM).
    constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
    const auto open_with = [&path](int flags) {
        int fd = -1;
        do {
            fd = ::open(path.c_str(), flags);
        } while (fd < 0 && errno == EINTR);
        return fd;
    };
    int fd = open_with(kFlags | O_NOATIME);
    if (fd < 0 && errno == EPERM) {
        fd = open_with(kFlags);
    }
    if (fd < 0) {
        return std::unexpected(common::IoError::from_errno(errno));
    }
    ArchiveFile file(fd, 0, reads);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return std::unexpected(common::IoError::from_errno(errno));
    }
    // Linux opens a directory read-only without complaint; refuse it as the open's failure.
    if (S_ISDIR(info.st_mode)) {
        return std::unexpected(common::IoError::from_errno(EISDIR));
    }
    if (!S_ISREG(info.st_mode)) {
        return std::unexpected(
            common::IoError::other(common::IoError::Kind::InvalidInput, "not a regular file"));
    }
    file.length_ = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    return file;
}

ArchiveFile::ArchiveFile(ArchiveFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), length_(other.length_), reads_(other.reads_) {}

ArchiveFile& ArchiveFile::operator=(ArchiveFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
        length_ = other.length_;
        reads_ = other.reads_;
    }
    return *this;
}

ArchiveFile::~ArchiveFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::expected<void, common::IoError> ArchiveFile::read_exact_at(std::span<std::uint8_t> buf,
                                                                std::uint64_t offset) const {
    auto read = utils::detail::read_at_using(reads_.pread, fd_, buf, offset, true);
    if (!read) {
        return std::unexpected(std::move(read).error());
    }
    return {};
}

utils::detail::PartialRead ArchiveFile::read_prefix(std::span<std::uint8_t> buf,
                                                    std::uint64_t offset) const {
    return utils::detail::read_prefix_using(reads_.pread, fd_, buf, offset);
}

} // namespace quillmere::dat::detail
