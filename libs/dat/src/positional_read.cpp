// Exact reads at absolute 64-bit file offsets.
#include "quillmere/dat/positional_read.hpp"

#include "detail/positional_read.hpp"

#include <cerrno>
#include <limits>
#include <unistd.h>
#include <utility>

namespace quillmere::dat::utils {
namespace detail {

PartialRead read_prefix_using(PreadFn read_fn, int fd, std::span<std::uint8_t> buf,
                              std::uint64_t offset) {
    constexpr auto kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    PartialRead read;
    while (read.filled < buf.size()) {
        const std::uint64_t position = offset + read.filled;
        // A position the platform cannot express is past any file's end.
        if (position < offset || position > kMaxOffset) {
            read.error = common::IoError::from_errno(EINVAL);
            break;
        }
        const ssize_t got = read_fn(fd, buf.data() + read.filled, buf.size() - read.filled,
                                    static_cast<off_t>(position));
        if (got < 0) {
            const int code = errno;
            if (code == EINTR) {
                continue;
            }
            read.error = common::IoError::from_errno(code);
            break;
        }
        if (got == 0) {
            break;
        }
        read.filled += static_cast<std::size_t>(got);
    }
    return read;
}

std::expected<std::size_t, common::IoError> read_at_using(PreadFn read_fn, int fd,
                                                          std::span<std::uint8_t> buf,
                                                          std::uint64_t offset, bool require_full) {
    PartialRead read = read_prefix_using(read_fn, fd, buf, offset);
    if (read.error) {
        return std::unexpected(std::move(*read.error));
    }
    if (require_full && read.filled < buf.size()) {
        return std::unexpected(common::IoError::unexpected_eof());
    }
    return read.filled;
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

} // namespace quillmere::dat::utils
