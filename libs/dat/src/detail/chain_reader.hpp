// Reading block chains: runs of consecutive blocks fetched with one vectored read each, and, for
// callers that check an archive rather than just read it, a trace of the bytes each block gave.
#pragma once

#include "detail/test_seam.hpp"
#include "quillmere/dat/dat_error.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quillmere::dat::detail {

class ArchiveFile;

/// A stretch of the archive file, `start` included, `end` excluded.
struct ByteRange {
    std::uint64_t start = 0;
    std::uint64_t end = 0;

    friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

/// What one chain read touched: the bytes of the archive it read, the block that ended the
/// chain, and where it failed. Reused across reads (`clear` keeps the capacity and the window, and
/// drops a read-ahead not used).
///
/// A traced read also reads differently, for a caller that checks whole archives: each run of
/// consecutive blocks is taken from the trace's window, a stretch of the file read with one
/// contiguous read, and the link words and payloads are copied from there, which costs the
/// system less than a read scattered over two pieces per block. A run the window does not hold
/// refills it from the run's first block; the caller may let that read go on ahead over bytes it
/// expects the next chains to read (`read_ahead_to`), so that chains lying one after another
/// cost one system read per window rather than one each. A caller that only checks that a chain
/// reads can say it does not want the payload, which is then not copied out of the window (the
/// output then holds unspecified bytes, except the tail of an overlong last block, which is read
/// in place).
class QUILLMERE_DAT_TEST_SEAM ChainTrace {
  public:
    /// Whether reads copy the payload into their output (the default).
    void want_payload(bool wanted) noexcept { payload_wanted_ = wanted; }
    [[nodiscard]] bool payload_wanted() const noexcept { return payload_wanted_; }
    /// The window's buffer, sized for one run of `block_size` blocks or more, or an empty span
    /// when blocks are too large to stage (runs are then read scattered into place).
    [[nodiscard]] std::span<std::uint8_t> staging(std::uint32_t block_size);
    /// Lets the next read that refills the window read on up to offset `end` (within the
    /// window's size). Only the first run read after this call uses it: the caller names the
    /// bytes it expects the chains it reads next to cover, so the read-ahead is never more
    /// than those chains claim.
    void read_ahead_to(std::uint64_t end) noexcept { ahead_end_ = end; }
    /// The file's bytes from `offset` on, at most `length` of them (which must fit in
    /// `staging`): from the window when it holds them all, else after one read that refills
    /// it. Fewer than `length` bytes at the end of the file or after a read that failed or was
    /// cut short; the caller reads those blocks again exactly.
    [[nodiscard]] std::span<const std::uint8_t> fetch(const ArchiveFile& file, std::uint64_t offset,
                                                      std::size_t length);

    /// The stretches read, in chain order: each block's link word and the payload taken from it,
    /// a stretch extended when the next block follows right where it ended. A chain that loops
    /// lists the same bytes again.
    [[nodiscard]] const std::vector<ByteRange>& ranges() const noexcept { return ranges_; }
    /// Blocks visited, the failed one included.
    [[nodiscard]] std::uint64_t blocks() const noexcept { return blocks_; }
    /// The block whose link word is 0, when the chain reached one, and the payload bytes it
    /// supplied: more than `block_size - 4` when it is overlong.
    [[nodiscard]] std::optional<std::uint64_t> end_block() const noexcept { return end_block_; }
    [[nodiscard]] std::uint64_t end_block_payload() const noexcept { return end_payload_; }
    /// The block being read when the read failed.
    [[nodiscard]] std::optional<std::uint64_t> failed_block() const noexcept {
        return failed_block_;
    }

    void clear() noexcept {
        ranges_.clear();
        blocks_ = 0;
        end_block_.reset();
        end_payload_ = 0;
        failed_block_.reset();
        ahead_end_ = 0;
    }

    /// Block `block` supplied `payload` bytes; `end_of_chain` when its link word is 0.
    void take(std::uint64_t block, std::uint64_t payload, bool end_of_chain) {
        ++blocks_;
        const std::uint64_t end = block + 4 + payload;
        if (!ranges_.empty() && ranges_.back().end == block) {
            ranges_.back().end = end;
        } else {
            ranges_.push_back({block, end});
        }
        if (end_of_chain) {
            end_block_ = block;
            end_payload_ = payload;
        }
    }
    void fail(std::uint64_t block) noexcept {
        ++blocks_;
        failed_block_ = block;
    }

  private:
    std::vector<std::uint8_t> staging_;
    // The window holds the file's bytes from `window_start_` on, `window_filled_` of them.
    std::uint64_t window_start_ = 0;
    std::size_t window_filled_ = 0;
    std::uint64_t ahead_end_ = 0;
    bool payload_wanted_ = true;
    std::vector<ByteRange> ranges_;
    std::uint64_t blocks_ = 0;
    std::optional<std::uint64_t> end_block_;
    std::uint64_t end_payload_ = 0;
    std::optional<std::uint64_t> failed_block_;
};

/// `Corruption` for a block size that leaves a block no payload (4 or less).
[[nodiscard]] DatError no_room_for_data(std::uint32_t block_size);

/// Fills `out` from the chain whose first block is at `offset`: each block's link word, then up
/// to `block_size - 4` payload bytes straight into place; the block whose link word is 0 gives
/// everything still missing, contiguously. The link word of the block that completes `out` is
/// not followed. An empty `out` reads nothing, whatever `offset`.
///
/// Errors: a link word or payload past the end of the file is `Io` ("failed to fill whole
/// buffer"), other read failures `Io`, both when that block is reached; a `block_size` of 4 or
/// less is `Corruption`. With a `trace`, every block taken is recorded there, and on a read
/// failure the block that failed.
[[nodiscard]] QUILLMERE_DAT_TEST_SEAM DatResult<void>
read_chain(const ArchiveFile& file, std::uint32_t block_size, std::uint32_t offset,
           std::span<std::uint8_t> out, ChainTrace* trace = nullptr);

} // namespace quillmere::dat::detail
