// Opening the archive and reading its files for a command: the one place that turns the
// library's errors into the one-line messages the commands print.
#pragma once

#include "command.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/dat_error.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace quillmere::inspect {

/// Refuses a path that names anything but a regular file (a FIFO, a device, a socket, a
/// directory): "{path} is not a regular file", found without waiting on a FIFO. A path that
/// cannot be opened at all passes, for the caller's open to report in its words.
[[nodiscard]] Gathered<void> require_regular_file(const std::string& path);

/// Opens the archive at `path`, which must be a regular file (`require_regular_file`); on
/// failure, the library's error as one line.
[[nodiscard]] Gathered<dat::DatDatabase> open_archive(const std::string& path);

/// The bytes of file `id` as `get_file` gives them (decompressed). A missing file fails with the
/// library's "not found" message alone; any other failure with "cannot read 0x........: " first.
[[nodiscard]] Gathered<std::vector<std::uint8_t>> read_file(const dat::DatDatabase& db,
                                                            std::uint32_t id);

/// The message form of an archive error on one line; a wrapped decoding error as
/// `DecodeError::one_line` gives it, after "Binary read error: ".
[[nodiscard]] std::string one_line(const dat::DatError& error);

} // namespace quillmere::inspect
