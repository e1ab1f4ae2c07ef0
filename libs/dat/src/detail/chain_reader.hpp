// Reading block chains: each run of consecutive blocks with one contiguous read into a staging
// window, the payloads copied out; for callers that check an archive rather than just read it, a
// trace of the bytes each block gave and a map of the file's link words learned in one pass.
#pragma once

#include "detail/archive_layout.hpp"
#include "detail/test_seam.hpp"
#include "quillmere/dat/dat_error.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
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

/// The bytes the chain from `offset` holding `size` bytes spans when its blocks are consecutive:
/// a link word per block, then the bytes.
[[nodiscard]] constexpr ByteRange consecutive_chain(std::uint32_t offset, std::uint32_t size,
                                                    std::uint32_t block_size) noexcept {
    return {offset, layout::consecutive_chain_end(offset, size, block_size)};
}

/// A stretch of the archive file held in memory, refilled by one contiguous read. The buffer
/// grows to the longest read asked of it, at most `kCapacity` bytes, and is kept for later reads.
///
/// Each read lands at the same place within a memory page as its bytes have within a page of
/// the file, so the kernel's copy out of the page cache runs between equally aligned addresses:
/// on some processors that copy runs several times slower when the destination lies a few bytes
/// past the source modulo the page size, as it does for a buffer of its own mapping (16 bytes
/// past a page boundary) read from a page-aligned offset.
class QUILLMERE_DAT_TEST_SEAM StagingWindow {
  public:
    /// The most bytes one read fetches: 256 KiB, so that the window stays in a core's cache
    /// (a window of 1 MiB made verify 10 to 15 % slower on the development machine, whose cores
    /// have 512 KiB of second-level cache each).
    static constexpr std::size_t kCapacity = std::size_t{1} << 18;
    /// The page size the reads are aligned to (the smallest in use; a multiple of it aligns as
    /// well).
    static constexpr std::size_t kPageSize = 4096;

    /// The file's bytes from `offset` on, at most `length` of them (at most `kCapacity`): from
    /// the window when it holds them all, else after one read that refills it from `offset`,
    /// going on up to `ahead_end` (within the capacity) when that lies further. Fewer than
    /// `length` bytes at the end of the file or after a read that failed or was cut short; the
    /// caller reads those bytes again exactly.
    [[nodiscard]] std::span<const std::uint8_t> fetch(const ArchiveFile& file, std::uint64_t offset,
                                                      std::size_t length,
                                                      std::uint64_t ahead_end = 0);
    /// Drops what the window holds; the buffer stays.
    void forget() noexcept { filled_ = 0; }

  private:
    // Room for `length` bytes read from `offset`, placed as the file places them within a page.
    [[nodiscard]] std::uint8_t* room(std::uint64_t offset, std::size_t length);

    std::vector<std::uint8_t> bytes_;
    // The window holds the file's bytes from `start_` on, `filled_` of them, from `data_` on.
    const std::uint8_t* data_ = nullptr;
    std::uint64_t start_ = 0;
    std::size_t filled_ = 0;
};

/// What one chain read touched: the bytes of the archive it read, the block that ended the
/// chain, and where it failed. Reused across reads (`clear` keeps the capacity).
class QUILLMERE_DAT_TEST_SEAM ChainTrace {
  public:
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
    std::vector<ByteRange> ranges_;
    std::uint64_t blocks_ = 0;
    std::optional<std::uint64_t> end_block_;
    std::uint64_t end_payload_ = 0;
    std::optional<std::uint64_t> failed_block_;
};

/// The link word of every block on one grid of the archive (offsets `first + k * block_size`),
/// learned by reading the file front to back in large windows, a chunk of the grid at a time (so
/// that several threads can share the pass, each learning chunks of its own). A chain read that
/// has it follows those blocks without reading their link words again; blocks off the grid, or
/// past what the pass could read, are read from the file as ever. Its size follows from the
/// file's length and the block size alone, whatever a directory claims.
class QUILLMERE_DAT_TEST_SEAM LinkMap {
  public:
    /// Most link words a map holds (32 MiB of them, and as much again of notes): a larger
    /// archive gets no map.
    static constexpr std::uint64_t kMaxLinks = std::uint64_t{8} << 20;
    /// The smallest block size mapped, so that a map never holds more than a sixteenth of the
    /// file's length.
    static constexpr std::uint32_t kMinBlockSize = 64;
    /// Bytes of the file one chunk covers, at least (a whole number of windows): 4 MiB.
    static constexpr std::uint64_t kChunkBytes = std::uint64_t{4} << 20;

    /// A map of the grid through `first` with nothing learned yet; nothing when it would hold
    /// more than `kMaxLinks` words, for blocks smaller than `kMinBlockSize` or larger than a
    /// window.
    [[nodiscard]] static std::optional<LinkMap>
    sized(std::uint64_t length, std::uint32_t block_size, std::uint64_t first);

    /// Chunks the grid is learned in.
    [[nodiscard]] std::size_t chunks() const noexcept { return learned_.size(); }
    /// Learns chunk `chunk` (below `chunks()`), reading through `window`. Chunks are disjoint:
    /// threads may learn different ones at once, but none may look a link up meanwhile. After a
    /// read that failed, the chunk's further blocks stay unlearned.
    void learn_chunk(const ArchiveFile& file, std::size_t chunk, StagingWindow& window);

    /// The link word of the block at `block`, when it lies on the grid and was learned.
    [[nodiscard]] std::optional<std::uint32_t> link(std::uint64_t block) const noexcept;
    /// Asks for the link word of the block at `block` to be brought into the cache, when it lies
    /// on the grid; does not wait for it.
    void prefetch(std::uint64_t block) const noexcept {
        if (const auto index = index_of(block)) {
            __builtin_prefetch(places_.get() + *index);
        }
    }

    /// The place of the block at `block` on the grid (0 for `first`), when it lies on it.
    [[nodiscard]] std::optional<std::uint64_t> index_of(std::uint64_t block) const noexcept;
    /// Places on the grid: the blocks whose link words lie in the file.
    [[nodiscard]] std::uint64_t size() const noexcept { return count_; }
    /// Where the block at place `index` starts.
    [[nodiscard]] std::uint64_t block_at(std::uint64_t index) const noexcept {
        return first_ + index * block_size_;
    }

    /// The caller's word for place `index` (below `size()`), kept beside its link word so that a
    /// caller noting something of each block it follows (the verifier: who read it) writes to
    /// the cache line the lookup of the link word brought in. 0 once the place's chunk is being
    /// learned, whatever the pass then meets. Notes of different places may be written from
    /// several threads at once, while others look links up.
    [[nodiscard]] std::atomic_ref<std::uint32_t> note(std::uint64_t index) const noexcept {
        return std::atomic_ref(places_[index].note);
    }

  private:
    struct Place {
        std::uint32_t link;
        std::uint32_t note;
    };

    std::uint64_t first_ = 0;
    std::uint32_t block_size_ = 0;
    // log2 of the block size when it is a power of two, else 0 (a block size of 1 has no room).
    int shift_ = 0;
    // Links per chunk: a power of two, so that a lookup finds its chunk with a shift.
    int chunk_shift_ = 0;
    // Left unwritten until learned (`learned_` says how far), so that sizing the map costs
    // nothing and its pages are first touched by the threads that learn them.
    std::unique_ptr<Place[]> places_;
    std::uint64_t count_ = 0;
    // Per chunk, how many of its links were learned.
    std::vector<std::uint32_t> learned_;
};

// Here, so that the chain reads and the warmer, which look a link up once per block, inline them.
inline std::optional<std::uint64_t> LinkMap::index_of(std::uint64_t block) const noexcept {
    if (block < first_) {
        return std::nullopt;
    }
    // Block sizes are mostly powers of two: a shift instead of a division, once per block.
    const std::uint64_t distance = block - first_;
    const std::uint64_t index = shift_ != 0 ? distance >> shift_ : distance / block_size_;
    if (index * block_size_ != distance || index >= count_) {
        return std::nullopt;
    }
    return index;
}

inline std::optional<std::uint32_t> LinkMap::link(std::uint64_t block) const noexcept {
    const auto index = index_of(block);
    if (!index) {
        return std::nullopt;
    }
    const std::uint64_t chunk = *index >> chunk_shift_;
    if (*index - (chunk << chunk_shift_) >= learned_[chunk]) {
        return std::nullopt;
    }
    return places_[*index].link;
}

/// Loads the link words of chains about to be read, several side by side, so that the loads wait
/// on memory together rather than one after another: on a scattered archive nearly every lookup
/// misses the cache, and the chain reads that follow find the words there. A chain that ends
/// makes room for the next at once, so that one long chain never walks alone.
class QUILLMERE_DAT_TEST_SEAM LinkWarmer {
  public:
    /// Chains walked side by side (32 measured a little faster than 16).
    static constexpr std::size_t kSideBySide = 32;

    /// `links` must outlive the warmer.
    explicit LinkWarmer(const LinkMap& links) noexcept : links_(&links) {}

    [[nodiscard]] bool has_room() const noexcept { return held_ < kSideBySide; }
    /// Takes on chain number `number` (numbers rising from one chain to the next): `blocks`
    /// blocks from `block`, at most. Needs room.
    void add(std::size_t number, std::uint64_t block, std::uint64_t blocks) noexcept;
    /// Whether the words of chain `number`, or of one numbered below it, are still loading.
    [[nodiscard]] bool loading_through(std::size_t number) const noexcept;
    /// Loads the next link word of every chain held; a chain whose word is missing or 0, or
    /// that has walked its blocks, is let go.
    void step() noexcept;

  private:
    struct Chain {
        std::uint64_t block;
        std::uint64_t blocks;
        std::size_t number;
    };

    const LinkMap* links_;
    std::array<Chain, kSideBySide> chains_{};
    std::size_t held_ = 0;
};

/// `Corruption` for a block size that leaves a block no payload (4 or less).
[[nodiscard]] DatError no_room_for_data(std::uint32_t block_size);

/// Reads chains through a staging window of its own, kept from one read to the next, so that a
/// caller reading many chains one after another can let a read fetch ahead of the chain it reads.
class QUILLMERE_DAT_TEST_SEAM ChainReader {
  public:
    /// Whether reads copy the payload into their output (the default). A caller that only checks
    /// that a chain reads can do without: the output then holds unspecified bytes, except the
    /// tail of an overlong last block, which is read in place.
    void want_payload(bool wanted) noexcept { payload_wanted_ = wanted; }
    [[nodiscard]] bool payload_wanted() const noexcept { return payload_wanted_; }
    /// Lets the next read that refills the window read on up to offset `end` (within the
    /// window's capacity). Only the next chain read uses it: the caller names the bytes it
    /// expects the chains it reads next to cover, so the read-ahead is never more than those
    /// chains claim.
    void read_ahead_to(std::uint64_t end) noexcept { ahead_end_ = end; }
    /// Link words to take instead of reading them (none by default); `links` must outlive the
    /// reads.
    void use_links(const LinkMap* links) noexcept { links_ = links; }
    /// Drops what the window holds.
    void forget() noexcept { window_.forget(); }

    /// Fills `out` from the chain whose first block is at `offset`: each block's link word, then
    /// up to `block_size - 4` payload bytes; the block whose link word is 0 gives everything
    /// still missing, contiguously. The link word of the block that completes `out` is not
    /// followed. An empty `out` reads nothing, whatever `offset`.
    ///
    /// Errors: a link word or payload past the end of the file is `Io` ("failed to fill whole
    /// buffer"), other read failures `Io`, both when that block is reached; a `block_size` of 4
    /// or less is `Corruption`. With a `trace`, every block taken is recorded there, and on a
    /// read failure the block that failed.
    [[nodiscard]] DatResult<void> read(const ArchiveFile& file, std::uint32_t block_size,
                                       std::uint32_t offset, std::span<std::uint8_t> out,
                                       ChainTrace* trace = nullptr);

  private:
    StagingWindow window_;
    const LinkMap* links_ = nullptr;
    std::uint64_t ahead_end_ = 0;
    bool payload_wanted_ = true;
};

/// How far reads of files listed in the order they are read may fetch ahead: to where the last
/// of the files after the one read would end, each starting just after the one before (at most
/// a gap's width later: a directory node or a few free blocks in between, say) and stored in
/// consecutive blocks. A sound archive mostly stores files one after another, so their chains
/// then come in a few large reads; only bytes the entries say chains read, and the gaps between
/// them, are fetched.
class QUILLMERE_DAT_TEST_SEAM ReadAheadRuns {
  public:
    /// The widest gap for a reader of every file, which would read most of the gaps' bytes
    /// anyway (directory nodes, free blocks).
    static constexpr std::uint64_t kMaxGap = std::uint64_t{64} << 10;

    /// Runs that take gaps of at most `max_gap` bytes. A reader of some files only would copy
    /// the others' bytes in the gaps for nothing: a gap is worth reading through only while
    /// copying it costs less than the system read it saves.
    explicit ReadAheadRuns(std::uint64_t max_gap = kMaxGap) noexcept : max_gap_(max_gap) {}

    /// The end for the read of file `index` of `count`; `chain(i)` is where file `i`'s chain
    /// starts and would end in consecutive blocks, or nothing for a file not to be read (which
    /// ends a run). 0 when file `index` is not to be read.
    template <class Chain>
    [[nodiscard]] std::uint64_t end(std::size_t index, std::size_t count, const Chain& chain) {
        const std::optional<ByteRange> own = chain(index);
        if (!own) {
            return 0;
        }
        if (!run_last_ || index > *run_last_ || index < run_first_) {
            run_first_ = index;
            run_last_ = index;
            run_end_ = own->end;
            for (std::optional<ByteRange> next; *run_last_ + 1 < count; ++*run_last_) {
                next = chain(*run_last_ + 1);
                if (!next || next->start < run_end_ || next->start - run_end_ > max_gap_) {
                    break;
                }
                run_end_ = next->end;
            }
        }
        return run_end_;
    }

  private:
    std::uint64_t max_gap_;
    std::size_t run_first_ = 0;
    std::optional<std::size_t> run_last_;
    std::uint64_t run_end_ = 0;
};

/// The calling thread's reader, its window emptied: a window kept for the thread's reads (so no
/// read allocates once the thread has read its longest run), with nothing kept from one call to
/// the next but the buffer.
[[nodiscard]] QUILLMERE_DAT_TEST_SEAM ChainReader& thread_chain_reader();

/// `ChainReader::read` through `thread_chain_reader()`.
[[nodiscard]] QUILLMERE_DAT_TEST_SEAM DatResult<void> read_chain(const ArchiveFile& file,
                                                                 std::uint32_t block_size,
                                                                 std::uint32_t offset,
                                                                 std::span<std::uint8_t> out);

} // namespace quillmere::dat::detail
