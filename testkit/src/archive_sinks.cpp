// The archive builder's two sinks: a byte vector and a file.
#include "archive_sinks.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <utility>

namespace quillmere::testkit {

void VectorSink::write(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (!bytes.empty()) {
        std::memcpy(out_.data() + offset, bytes.data(), bytes.size());
    }
}

FileSink::FileSink(const std::filesystem::path& path, std::uint64_t length) : path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        fail("open");
    }
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) {
        fail("ftruncate");
    }
}

FileSink::~FileSink() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void FileSink::write(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (offset != start_ + pending_.size() || pending_.size() >= kFlushAt) {
        flush();
        start_ = offset;
    }
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
}

void FileSink::finish() {
    flush();
    if (::close(std::exchange(fd_, -1)) != 0) {
        fail("close");
    }
}

void FileSink::flush() {
    std::size_t done = 0;
    while (done < pending_.size()) {
        const ssize_t wrote = ::pwrite(fd_, pending_.data() + done, pending_.size() - done,
                                       static_cast<off_t>(start_ + done));
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            fail("pwrite");
        }
        done += static_cast<std::size_t>(wrote);
    }
    pending_.clear();
}

void FileSink::fail(const char* what) const {
    throw std::runtime_error(std::string(what) + " " + path_.string() + ": " +
                             std::strerror(errno));
}

} // namespace quillmere::testkit
