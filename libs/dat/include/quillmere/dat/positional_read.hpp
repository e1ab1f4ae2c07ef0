// Exact reads at absolute 64-bit file offsets that never use or move a file position.
#pragma once

#include "quillmere/common/io_error.hpp"
#include "quillmere/dat/export.hpp"

#include <cstdint>
#include <expected>
#include <span>

namespace quillmere::dat::utils {

/// Fills the whole of `buf` from the open file `fd`, starting at absolute position `offset`,
/// without touching the descriptor's own position, so several threads may read one descriptor.
/// Interrupted reads are retried and partial reads continue at the next position. A read that
/// meets the end of the file before `buf` is full fails with `IoError::unexpected_eof()`
/// ("failed to fill whole buffer"); any other failure is the platform's error. An empty `buf`
/// succeeds without reading.
[[nodiscard]] QUILLMERE_DAT_EXPORT std::expected<void, common::IoError>
read_exact_at_compat(int fd, std::span<std::uint8_t> buf, std::uint64_t offset);

} // namespace quillmere::dat::utils
