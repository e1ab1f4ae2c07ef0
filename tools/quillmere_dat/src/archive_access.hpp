// Opening the archive and reading its files for a command: the one place that turns the
// library's errors into the one-line messages the commands print.
#pragma once

#include "command.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/dat_error.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace quillmere::dat_tool {

/// Refuses a path that names anything but a regular file (a FIFO, a device, a socket, a
/// directory): "{path} is not a regular file", found without waiting on a FIFO. A path that
/// cannot be opened at all passes, for the caller's open to report in its words.
[[nodiscard]] Gathered<void> require_regular_file(const std::string& path);

/// Opens the archive at `path`, which must be a regular file (`require_regular_file`); on
/// failure, the library's error as one line.
[[nodiscard]] Gathered<dat::DatDatabase> open_archive(const std::string& path,
                                                      dat::OpenOptions options = {});

/// The bytes of file `id` as `get_file_checked` gives them (decompressed, a compressed stream
/// that falls short refused). A missing file fails with the library's "not found" message alone;
/// any other failure as `read_failure` words it.
[[nodiscard]] Gathered<std::vector<std::uint8_t>>
read_file(const dat::DatDatabase& db, std::uint32_t id, const std::string& archive);

/// What a failed read of `entry` from `archive` says: the file, where it is stored, what failed,
/// and where to look: "cannot read 0x33000002 at offset 9216: IO error: failed to fill whole
/// buffer (quillmere-dat verify ARCHIVE lists the archive's problems)".
[[nodiscard]] std::string read_failure(const dat::DatFileEntry& entry, const dat::DatError& error,
                                       const std::string& archive);

/// What failed in a read of `entry`, as `read_failure` shows it after the colon.
[[nodiscard]] std::string what_failed(const dat::DatFileEntry& entry, const dat::DatError& error);

/// The reads of a copy that takes what it can (`--force`): each file that cannot be read whole
/// is left out and named on standard error ("left out 0x0A000001 at offset 4096: ..."), and, as
/// the verifier bounds its own reads, so is every file once those read before it store more
/// than 4 times the archive's length (a damaged directory can make many entries share chains).
class ForcedReads {
  public:
    ForcedReads(const dat::DatDatabase& db, const Streams& streams)
        : streams_(streams), bound_(kStoredBoundFactor * db.archive_length()) {}

    /// Whether `entry` may be read; when not, it has been left out.
    [[nodiscard]] bool admit(const dat::DatFileEntry& entry);
    /// Leaves `entry` out because reading it failed with `error`.
    void leave_out(const dat::DatFileEntry& entry, const dat::DatError& error);
    /// The ids left out so far, in the order met.
    [[nodiscard]] const std::vector<std::uint32_t>& left_out() const noexcept { return left_out_; }

  private:
    static constexpr std::uint64_t kStoredBoundFactor = 4;
    void leave_out(const dat::DatFileEntry& entry, std::string_view why);

    const Streams& streams_;
    std::uint64_t bound_;
    std::uint64_t read_ = 0;
    std::vector<std::uint32_t> left_out_;
};

/// The message form of an archive error on one line; a wrapped decoding error as
/// `DecodeError::one_line` gives it, after "Binary read error: ".
[[nodiscard]] std::string one_line(const dat::DatError& error);

} // namespace quillmere::dat_tool
