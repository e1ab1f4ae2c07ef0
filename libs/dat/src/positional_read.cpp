// Exact reads at absolute 64-bit file offsets.
#include "quillmere/dat/positional_read.hpp"

#include "detail/positional_read.hpp"

#include <cerrno>
#include <limits>
#include <unistd.h>

namespace quillmere::dat::utils {
namespace detail {

std::expected<std::size_t, common::IoError> read_at_using(PreadFn read_fn, int fd,
                                                          std::span<std::uint8_t> buf,
                                                          std::uint64_t offset, bool require_full) {
    constexpr auto kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    std::size_t filled = 0;
    while (filled < buf.size()) {
        const std::uint64_t position = offset + filled;
        // A position the platform cannot express is past any file's end.
        if (position < offset || position > kMaxOffset) {
            return std::unexpected(common::IoError::from_errno(EINVAL));
        }
        const ssize_t got =
            read_fn(fd, buf.data() + filled, buf.size() - filled, static_cast<off_t>(position));
        if (got < 0) {
            const int code = errno;
            if (code == EINTR) {
                continue;
            }
            return std::unexpected(common::IoError::from_errno(code));
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    if (require_full && filled < buf.size()) {
        return std::unexpected(common::IoError::unexpected_eof());
    }
    return filled;
}

} // namespace detail

std::expected<void, common::IoError> read_exact_at_compat(int fd, std::span<std::uint8_t> buf,
                                                          std::uint64_t offset) {
    auto read = detail::read_at_using(&::pread, fd, buf, offset, true);
    if (!read) {
        return std::unexpected(std::move(read).error());
    }
    return {};
}

std::expected<std::size_t, common::IoError> read_at_most_at(int fd, std::span<std::uint8_t> buf,
                                                            std::uint64_t offset) {
    return detail::read_at_using(&::pread, fd, buf, offset, false);
}

} // namespace quillmere::dat::utils
