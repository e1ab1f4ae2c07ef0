// The positional read loop with the system call passed in, so tests can feed it interrupted,
// partial and failing reads and count what it asks of the system.
#pragma once

#include "detail/test_seam.hpp"
#include "quillmere/common/io_error.hpp"

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <sys/types.h>

namespace quillmere::dat::utils::detail {

/// The platform's positional read, as `pread` declares it.
using PreadFn = ssize_t (*)(int fd, void* buf, std::size_t count, off_t offset);

/// What a read loop achieved before it stopped: the bytes now in place at the start of the
/// buffer, and the failure that stopped it early (none when it stopped at the end of the file or
/// with the buffer full).
struct PartialRead {
    std::size_t filled = 0;
    std::optional<common::IoError> error;
};

/// Reads into `buf` from absolute position `offset` with `read_fn`: interrupted reads are
/// retried, partial reads continue at the next position, a read of no bytes (the end of the
/// file) stops quietly, and any other failure stops with the platform's error. A position the
/// platform cannot express fails as `EINVAL` without reading.
[[nodiscard]] QUILLMERE_DAT_TEST_SEAM PartialRead read_prefix_using(PreadFn read_fn, int fd,
                                                                    std::span<std::uint8_t> buf,
                                                                    std::uint64_t offset);

/// `read_prefix_using` as both public reads need it: the number of bytes read, or the failure;
/// with `require_full` a short count is the end-of-file error instead.
[[nodiscard]] QUILLMERE_DAT_TEST_SEAM std::expected<std::size_t, common::IoError>
read_at_using(PreadFn read_fn, int fd, std::span<std::uint8_t> buf, std::uint64_t offset,
              bool require_full);

} // namespace quillmere::dat::utils::detail
