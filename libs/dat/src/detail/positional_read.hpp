// The positional read loop with the system call passed in, so tests can feed it interrupted,
// partial and failing reads and count what it asks of the system.
#pragma once

#include "quillmere/common/io_error.hpp"

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <sys/types.h>

namespace quillmere::dat::utils::detail {

/// The platform's positional read, as `pread` declares it.
using PreadFn = ssize_t (*)(int fd, void* buf, std::size_t count, off_t offset);

/// The read loop of `read_exact_at_compat` and `read_at_most_at` with the system call passed in.
/// Returns the number of bytes read; with `require_full` a short count is the end-of-file error
/// instead.
[[nodiscard]] std::expected<std::size_t, common::IoError> read_at_using(PreadFn read_fn, int fd,
                                                                        std::span<std::uint8_t> buf,
                                                                        std::uint64_t offset,
                                                                        bool require_full);

} // namespace quillmere::dat::utils::detail
