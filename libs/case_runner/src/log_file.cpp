// The --logfile file, written through the system's file descriptors so that every failure has
// its system error text.
#include "detail/log_file.hpp"

#include "quillmere/common/text.hpp"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace quillmere::case_runner::detail {

namespace {

std::string os_error_text(int code) {
    return std::system_category().message(code) + " (os error " + std::to_string(code) + ")";
}

} // namespace

std::expected<LogFile, std::string> LogFile::create(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return std::unexpected("cannot create log file " + common::quoted(path) + ": " +
                               os_error_text(errno));
    }
    return LogFile(fd, path);
}

LogFile::LogFile(int fd, std::string path) noexcept : fd_(fd), path_(std::move(path)) {}

LogFile::LogFile(LogFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

LogFile::~LogFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::expected<void, std::string> LogFile::write(std::string_view text) {
    while (!text.empty()) {
        const auto written = ::write(fd_, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::unexpected("cannot write log file " + common::quoted(path_) + ": " +
                                   os_error_text(errno));
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

} // namespace quillmere::case_runner::detail
