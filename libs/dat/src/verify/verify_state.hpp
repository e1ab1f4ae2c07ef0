// What the verifier keeps between its steps: the walk's findings, a part's findings, the bounded
// problem list, and the stretches of the archive each chain read.
#pragma once

#include "detail/archive_file.hpp"
#include "detail/chain_reader.hpp"
#include "detail/test_seam.hpp"
#include "quillmere/dat/dat_file_entry.hpp"
#include "quillmere/dat/dat_header.hpp"
#include "quillmere/dat/verifier.hpp"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillmere::dat::detail {

/// Bytes `start` to `end` (excluded) read by one owner: a directory node or a file. Owners are
/// numbered nodes first (in walk order), then files (by list position).
struct Extent {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::uint32_t owner = 0;
    /// Where the blocks that hold these bytes end: the last one counted whole (up to the end of
    /// the archive), or for all it supplies when it is overlong.
    std::uint64_t reach = 0;
};

/// The order extents are checked in: by start, then by owner. An object rather than a function,
/// so that the sorts that take it compare inline.
inline constexpr auto extent_before = [](const Extent& a, const Extent& b) noexcept {
    return a.start != b.start ? a.start < b.start : a.owner < b.owner;
};

/// Sorts `extents`, which come in ascending owner order, by `extent_before`.
QUILLMERE_DAT_TEST_SEAM void sort_extents(std::vector<Extent>& extents);

/// Extents held as sorted runs (a part's, the directory nodes'), read as one sorted sequence: the
/// runs are merged once into a list of where each extent lies, never copied into one vector of
/// extents, which on a scattered archive, with an extent per block, would double what they take
/// (a place is a quarter of an extent).
class QUILLMERE_DAT_TEST_SEAM SortedExtents {
  public:
    /// Takes `runs`, sorting each that is not sorted.
    explicit SortedExtents(std::vector<std::vector<Extent>> runs);

    /// A pass over the extents in order.
    class Cursor {
      public:
        explicit Cursor(const std::vector<const Extent*>& order) : order_(&order) {}
        [[nodiscard]] bool done() const noexcept { return at_ == order_->size(); }
        [[nodiscard]] const Extent& operator*() const noexcept { return *(*order_)[at_]; }
        [[nodiscard]] const Extent* operator->() const noexcept { return (*order_)[at_]; }
        void next() noexcept { ++at_; }

      private:
        const std::vector<const Extent*>* order_;
        std::size_t at_ = 0;
    };

    [[nodiscard]] Cursor cursor() const { return Cursor(order_); }

  private:
    std::vector<std::vector<Extent>> runs_;
    std::vector<const Extent*> order_;
};

/// Who read each block of a link map's grid, claimed by the file checks as they read, in place of
/// their extents. On a scattered archive no two blocks of a chain lie side by side, so a chain
/// leaves an extent per block, and making, sorting and merging those took about a fifth of the
/// check's processor time; a claim is the owner written in the block's note (`LinkMap::note`),
/// beside the link word the read has just looked up.
///
/// The claims stand for the extents exactly while every stretch claimed starts on the grid after
/// the header and reaches where its blocks would end (no overlong last block), and no block is
/// claimed twice (no two chains read the same bytes, and none runs into itself): each block read
/// then holds the bytes of one owner from its start, so an extent per block, to the block's end,
/// shows the whole-archive checks what the extents would; only the bytes read differ, and those
/// the claimers count (`unread`). Anything else spoils the claims, and the chains are followed
/// again keeping extents (`keep_extents`).
///
/// Claims may be made from several threads at once. A claim only stores: a load to see whether
/// the block is taken would wait on memory for each block, a locked exchange for every store
/// before it (the payloads just copied). A block claimed twice is found by counting instead:
/// fewer blocks are then claimed (`claimed`) than the claims gave.
class QUILLMERE_DAT_TEST_SEAM BlockClaims {
  public:
    /// Claims in the notes of `links` (which must outlive them, learned before the first claim)
    /// of an archive of `length` bytes.
    BlockClaims(const LinkMap& links, std::uint32_t block_size, std::uint64_t length) noexcept
        : links_(&links), block_size_(block_size), length_(length) {}

    /// Claims the blocks holding `extent`'s bytes for its owner and gives how many, or spoils the
    /// claims when they cannot stand for it.
    std::uint64_t claim(const Extent& extent) noexcept;
    void spoil() noexcept { spoiled_.store(true, std::memory_order_relaxed); }
    [[nodiscard]] bool usable() const noexcept { return !spoiled_.load(std::memory_order_relaxed); }
    /// Blocks claimed: what the claims gave in all, unless a block was claimed twice.
    [[nodiscard]] std::uint64_t claimed() const noexcept;
    /// The bytes after the header no claim holds, when the claims hold `read` bytes in all.
    [[nodiscard]] std::uint64_t unread(std::uint64_t read) const noexcept;

    /// A pass over the claimed blocks in order, each as an extent of its owner to its block's
    /// end (or the archive's).
    class Cursor {
      public:
        explicit Cursor(const BlockClaims& claims) noexcept : claims_(&claims) { settle(); }
        [[nodiscard]] bool done() const noexcept { return at_ == claims_->links_->size(); }
        [[nodiscard]] const Extent& operator*() const noexcept { return extent_; }
        [[nodiscard]] const Extent* operator->() const noexcept { return &extent_; }
        void next() noexcept {
            ++at_;
            settle();
        }

      private:
        // Moves on to the first claimed block from `at_`, and makes its extent.
        void settle() noexcept;

        const BlockClaims* claims_;
        std::uint64_t at_ = 0;
        Extent extent_;
    };

    [[nodiscard]] Cursor cursor() const noexcept { return Cursor(*this); }

  private:
    const LinkMap* links_;
    std::uint32_t block_size_;
    std::uint64_t length_;
    std::atomic<bool> spoiled_ = false;
};

/// Where the blocks holding `range`, one of the stretches `trace` read, end: the last one
/// counted whole (up to the archive's `length`), or for all it supplied when it is overlong.
[[nodiscard]] std::uint64_t block_reach(const ByteRange& range, const ChainTrace& trace,
                                        std::uint32_t block_size, std::uint64_t length);

/// Adds the stretches one chain read (`ranges`, settled) as extents of `owner`.
void add_chain_extents(std::vector<Extent>& extents, const std::vector<ByteRange>& ranges,
                       std::uint32_t owner, const ChainTrace& trace, std::uint32_t block_size,
                       std::uint64_t length);

/// Adds the blocks a chain whose read failed visited before it failed, whole, to `reached`.
void add_visited_blocks(std::vector<ByteRange>& reached, const ChainTrace& trace,
                        std::uint32_t block_size, std::uint64_t length);

/// Problems with their counts, keeping at most `keep` records: the first ones in report order,
/// whatever order they were added in, so lists joined from any cut keep the same records.
class ProblemList {
  public:
    explicit ProblemList(std::size_t keep) : keep_(keep) {}

    void add(ProblemKind kind, std::optional<std::uint32_t> id, std::optional<std::uint64_t> offset,
             std::string message);
    /// Moves `other`'s records and counts in.
    void absorb(ProblemList&& other);
    /// The records kept, in report order; the list is left empty.
    [[nodiscard]] std::vector<Problem> take_sorted();

    [[nodiscard]] std::uint64_t errors() const noexcept { return errors_; }
    [[nodiscard]] std::uint64_t warnings() const noexcept { return warnings_; }

  private:
    void prune();

    std::size_t keep_;
    std::vector<Problem> problems_;
    std::uint64_t errors_ = 0;
    std::uint64_t warnings_ = 0;
};

/// The report order: errors first, then by offset, id (present before absent), kind, message.
[[nodiscard]] bool problem_before(const Problem& a, const Problem& b) noexcept;

/// Sorts and merges `ranges` into disjoint stretches (adjacent ones joined); returns the first
/// byte that two of them both covered, when the chain read some bytes twice.
[[nodiscard]] std::optional<std::uint64_t> settle_ranges(std::vector<ByteRange>& ranges);

/// Why a chain read failed, for a message: "the block at offset 5000 runs past the end of the
/// archive (4096 bytes)", or the read's own error.
[[nodiscard]] std::string chain_failure(const ChainTrace& trace, const DatError& error,
                                        std::uint64_t length);

/// A link map learned by the first file checks that need it, on their own threads: each learns
/// chunks no other has taken, then waits for the chunks the others took. Read-only afterwards.
class SharedLinks {
  public:
    explicit SharedLinks(LinkMap map) : map_(std::move(map)) {}

    /// The whole map, once learned; learns what no other thread has taken first.
    [[nodiscard]] const LinkMap& learned(const ArchiveFile& file) const;
    /// The map for its grid alone (`index_of`, `size`, `block_at`), learned or not.
    [[nodiscard]] const LinkMap& grid() const noexcept { return map_; }

  private:
    mutable LinkMap map_;
    mutable std::atomic<std::size_t> taken_ = 0;
    mutable std::atomic<std::size_t> done_ = 0;
};

/// A directory entry on the list of files to check.
struct ListedFile {
    DatFileEntry entry;
    /// False when the files before it already store more than the read bound allows.
    bool within_bound = true;
};

/// Stored bytes the files may claim in all before the rest are not read: this many times the
/// archive's length. Distinct chains of a sound archive store less than its length in all.
inline constexpr std::uint64_t kStoredBoundFactor = 4;

} // namespace quillmere::dat::detail

namespace quillmere::dat {

/// Everything `Verifier::open` found, read-only afterwards but for the link map the first file
/// checks learn (`SharedLinks`, safe to share between threads).
struct Verifier::State {
    State(detail::ArchiveFile opened, VerifyOptions chosen)
        : file(std::move(opened)), options(chosen), walk_problems(chosen.max_stored_problems) {}

    detail::ArchiveFile file;
    VerifyOptions options;
    /// Absent when the header is unusable (a `Header` problem): nothing else is checked.
    std::optional<DatHeader> header;
    detail::ProblemList walk_problems;
    /// Per node owner, its offset.
    std::vector<std::uint32_t> node_offsets;
    std::vector<detail::Extent> node_extents;
    /// Blocks reached without their bytes being read: those of node chains that failed.
    std::vector<detail::ByteRange> node_blocks_reached;
    std::vector<detail::ListedFile> files;
    std::uint64_t entries = 0;
    std::uint64_t tree_height = 0;
    /// The link words of the archive's blocks, when its chains are scattered: learned by the
    /// first file checks, so that the threads checking files share the pass.
    std::optional<detail::SharedLinks> links;
    /// With `links`, who read each block of their grid: the file checks claim blocks there
    /// instead of keeping extents while the claims are usable. Good for one `finish`.
    mutable std::optional<detail::BlockClaims> claims;

    [[nodiscard]] std::uint64_t length() const noexcept { return file.length(); }
    [[nodiscard]] std::uint32_t file_owner(std::size_t index) const noexcept {
        return static_cast<std::uint32_t>(node_offsets.size() + index);
    }
    /// "directory node at offset 1024" or "file 0x0A000012".
    [[nodiscard]] std::string owner_name(std::uint32_t owner) const;
};

/// What one stretch of the file list gave.
struct VerifyPart::Data {
    explicit Data(std::size_t keep) : problems(keep) {}

    std::size_t first = 0;
    std::size_t last = 0;
    detail::ProblemList problems;
    /// Sorted (`extent_before`) once the stretch is checked.
    std::vector<detail::Extent> extents;
    /// Blocks reached without their bytes being read: those of file chains that failed, and the
    /// block an empty file's entry points at.
    std::vector<detail::ByteRange> blocks_reached;
    std::uint64_t files_read = 0;
    std::uint64_t stored_bytes = 0;
    std::uint64_t decompressed_bytes = 0;
    std::uint64_t compressed_files = 0;
    /// Whether the stretch's chains were claimed in the state's `claims` instead of kept in
    /// `extents`; the blocks the claims gave and the bytes they hold.
    bool claimed = false;
    std::uint64_t claimed_blocks = 0;
    std::uint64_t claimed_bytes = 0;
};

namespace detail {

/// Reads the header and walks the directory into `state`.
void walk_archive(Verifier::State& state);

/// Sizes `state.links` when the files' chains look scattered: a sample of the listed files whose
/// chains span several blocks, most not continuing in the block after their first.
void plan_links(Verifier::State& state);

/// Checks the files at list positions `data.first` to `data.last` into `data`: their chains
/// claimed in `state.claims` while those are usable, else kept as extents.
void check_file_stretch(const Verifier::State& state, VerifyPart::Data& data);
/// Follows again the chains of the files of `data`, a stretch whose chains were claimed, keeping
/// their extents in `data` (and the chains that run into themselves, which claims leave to this):
/// what else the files hold was found when they were claimed.
void keep_extents(const Verifier::State& state, VerifyPart::Data& data);

/// The whole-archive checks over every chain's extents: overlaps, the free list,
/// the unread and the unreachable bytes. Fills in `summary.free_blocks`, `summary.unread_bytes`
/// and `summary.unreachable_bytes`.
void check_whole_archive(const Verifier::State& state, const SortedExtents& extents,
                         const std::vector<ByteRange>& blocks_reached, ProblemList& problems,
                         VerifySummary& summary);
/// The same over usable claims, which stand for the extents, holding `read` bytes in all.
void check_whole_archive(const Verifier::State& state, const BlockClaims& claims,
                         std::uint64_t read, const std::vector<ByteRange>& blocks_reached,
                         ProblemList& problems, VerifySummary& summary);

} // namespace detail
} // namespace quillmere::dat
