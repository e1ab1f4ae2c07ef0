// Checking a whole archive: every directory node and every file's chain, with every problem met
// recorded (severity, kind, file id or offset, a one-line message) and the figures of a summary.
#pragma once

#include "quillmere/dat/dat_error.hpp"
#include "quillmere/dat/export.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere::dat {

/// Errors mean the archive is damaged; warnings mean it is suspicious but still reads in full.
enum class Severity : std::uint8_t { Error, Warning };

/// "error" or "warning".
[[nodiscard]] QUILLMERE_DAT_EXPORT std::string_view severity_name(Severity severity) noexcept;

/// What a problem is about; `kProblemKinds` gives each kind's name, severity and meaning.
enum class ProblemKind : std::uint8_t {
    Header,
    NodeUnreadable,
    EntryCount,
    NodeRevisited,
    DuplicateId,
    KeyOrder,
    FileUnreadable,
    Overlap,
    CompressedStream,
    Decode,
    TreeDepth,
    OverlongLastBlock,
    FreeList,
    FileSize,
    Unreachable,
};

/// What the library knows of one problem kind.
struct ProblemKindInfo {
    ProblemKind kind;
    /// As reports print it ("node_unreadable").
    std::string_view name;
    /// Every problem of the kind has this severity.
    Severity severity;
    /// What it means, as the README's tables say it (`code` in backquotes).
    std::string_view meaning;
};

/// Every problem kind, indexed by its enumerator: the errors, then the warnings.
///
/// Beyond the meanings: after a `header` problem nothing else is checked. `duplicate_id` reports
/// each later entry (`open` keeps the last in walk order), and an entry reported so is not also a
/// `key_order` problem. `overlap` also covers a directory with more nodes than the archive can
/// hold side by side; at most 65,536 pairs are listed one by one, and one further problem counts
/// the places where chains share bytes that were not examined. A `compressed_stream` file is not
/// decoded; a compressed entry of 0 stored bytes is an empty file. `tree_depth` is reported once.
inline constexpr std::array<ProblemKindInfo, 15> kProblemKinds{{
    {ProblemKind::Header, "header", Severity::Error,
     "the file is shorter than its 400-byte header, or `block_size` is 4 or less; nothing else "
     "is checked"},
    {ProblemKind::NodeUnreadable, "node_unreadable", Severity::Error,
     "a directory node's chain cannot be read in full; its subtree is skipped"},
    {ProblemKind::EntryCount, "entry_count", Severity::Error,
     "a node's `entry_count` is above 61; its entries and children are skipped"},
    {ProblemKind::NodeRevisited, "node_revisited", Severity::Error,
     "a branch leads to a node already visited: a cycle, or two branches sharing a subtree"},
    {ProblemKind::DuplicateId, "duplicate_id", Severity::Error,
     "an id listed again (opening the archive keeps the later entry)"},
    {ProblemKind::KeyOrder, "key_order", Severity::Error,
     "ids within a node not ascending, or outside the range the node's place in the tree allows"},
    {ProblemKind::FileUnreadable, "file_unreadable", Severity::Error,
     "a chain that cannot be read in full, a stored size beyond the archive, or files not read "
     "because those before them already store more than 4 times the archive's length"},
    {ProblemKind::Overlap, "overlap", Severity::Error,
     "two chains (files or directory nodes) read the same bytes, or one runs into itself"},
    {ProblemKind::CompressedStream, "compressed_stream", Severity::Error,
     "a compressed file that decompresses to fewer bytes than its size word says, or has no room "
     "for that word"},
    {ProblemKind::Decode, "decode", Severity::Error,
     "an animation, setup model or physics script that its decoder refuses"},
    {ProblemKind::TreeDepth, "tree_depth", Severity::Warning, "leaves at different depths"},
    {ProblemKind::OverlongLastBlock, "overlong_last_block", Severity::Warning,
     "a chain's last block supplies more than `block_size - 4` bytes"},
    {ProblemKind::FreeList, "free_list", Severity::Warning,
     "the free list loops, runs past the end, disagrees with `free_count` or `free_tail`, or "
     "holds a block a chain reads"},
    {ProblemKind::FileSize, "file_size", Severity::Warning,
     "the header's `file_size` differs from the archive's length"},
    {ProblemKind::Unreachable, "unreachable", Severity::Warning,
     "a stretch of at least `block_size` bytes after offset 400 that lies in no block a chain "
     "visits (a file's or a directory node's, each block counted whole, an overlong last block "
     "for all it supplies, the block an empty file points at) and in no block of the free list; "
     "one warning per stretch, at its start, with its length. Space nothing leads to: what a "
     "lost subtree, a moved or zeroed root or an emptied node leaves behind. An archive "
     "`ArchiveWriter` wrote has none"},
}};

/// The kind's name ("node_unreadable").
[[nodiscard]] constexpr std::string_view kind_name(ProblemKind kind) noexcept {
    return kProblemKinds[static_cast<std::size_t>(kind)].name;
}
/// The severity every problem of `kind` has.
[[nodiscard]] constexpr Severity severity_of(ProblemKind kind) noexcept {
    return kProblemKinds[static_cast<std::size_t>(kind)].severity;
}

/// One problem found.
struct Problem {
    Severity severity = Severity::Error;
    ProblemKind kind = ProblemKind::Header;
    /// The file the problem concerns, if any.
    std::optional<std::uint32_t> id;
    /// Where in the archive: the node, the block, the first shared byte, the header field.
    std::optional<std::uint64_t> offset;
    /// One line, without the id or offset unless they help.
    std::string message;

    friend bool operator==(const Problem&, const Problem&) = default;
};

/// The figures of a check. With a `Header` problem only `archive_length` is filled in.
struct VerifySummary {
    std::uint64_t archive_length = 0;
    /// Directory entries walked, repeated ids included.
    std::uint64_t entries = 0;
    /// Entries whose chain was read in full (a 0-byte file counts: it has nothing to read).
    std::uint64_t files_read = 0;
    /// Stored bytes of the files read.
    std::uint64_t stored_bytes = 0;
    /// Bytes of the files read as a reader gets them: decompressed where flagged compressed.
    std::uint64_t decompressed_bytes = 0;
    /// Files read that are flagged compressed.
    std::uint64_t compressed_files = 0;
    /// Directory nodes read in full.
    std::uint64_t directory_nodes = 0;
    /// Levels of the directory: 0 when it is empty, 1 for a root alone.
    std::uint64_t tree_height = 0;
    /// Blocks on the free list, as far as it could be followed.
    std::uint64_t free_blocks = 0;
    /// Bytes after offset 400 that no chain reads (free blocks included): space a writer could
    /// reclaim.
    std::uint64_t unread_bytes = 0;
    /// Bytes of the `Unreachable` stretches.
    std::uint64_t unreachable_bytes = 0;

    friend bool operator==(const VerifySummary&, const VerifySummary&) = default;
};

/// The result of a check.
struct VerifyReport {
    VerifySummary summary;
    /// The problems kept (at most `VerifyOptions::max_stored_problems`), errors first; within a
    /// severity by offset (those without one last), then by id (those without one last), then
    /// by kind and message. When problems are dropped, the first ones in this order are kept.
    std::vector<Problem> problems;
    /// Every problem found, kept or not.
    std::uint64_t error_count = 0;
    std::uint64_t warning_count = 0;

    [[nodiscard]] bool has_errors() const noexcept { return error_count != 0; }
};

struct VerifyOptions {
    /// Most problems a report keeps; the counts cover all of them.
    std::size_t max_stored_problems = 100'000;
    /// Whether animations, setup models and physics scripts are decoded (`Decode` problems).
    /// A caller that copies files byte for byte, and so does not care whether they decode, saves
    /// that work.
    bool decode = true;
};

class Verifier;

/// What `Verifier::check_files` found in one stretch of the file list. Move-only; hand it to
/// `Verifier::finish`.
class QUILLMERE_DAT_EXPORT VerifyPart {
  public:
    VerifyPart(VerifyPart&&) noexcept;
    VerifyPart& operator=(VerifyPart&&) noexcept;
    VerifyPart(const VerifyPart&) = delete;
    VerifyPart& operator=(const VerifyPart&) = delete;
    ~VerifyPart();

    /// The stretch checked: list positions `first()` to `last()`, `last()` excluded.
    [[nodiscard]] std::size_t first() const noexcept;
    [[nodiscard]] std::size_t last() const noexcept;

    struct Data;

  private:
    friend class Verifier;
    explicit VerifyPart(std::unique_ptr<Data> data) noexcept;
    std::unique_ptr<Data> data_;
};

/// A check of one archive in three steps, so that the caller can share the file checks among
/// threads (the library starts none):
///
///     auto verifier = Verifier::open(path);          // header and directory walk
///     auto part = verifier->check_files(0, verifier->file_count());  // any stretches, any threads
///     VerifyReport report = verifier->finish(parts); // overlaps, free list, summary
///
/// The report does not depend on how the file list was cut. `check_files` is const and safe to
/// call from several threads at once: every read names its absolute offset.
class QUILLMERE_DAT_EXPORT Verifier {
  public:
    /// A contiguous stretch of the file list, `last` excluded.
    struct Stretch {
        std::size_t first = 0;
        std::size_t last = 0;
    };

    /// Opens the archive read-only, reads its header and walks its whole directory, recording
    /// the problems of the header and the tree. Fails only with `PathError` when `path` cannot
    /// be opened as a regular file (a directory, a FIFO, a device included; a FIFO is never
    /// waited on); any content, even a file too short for a header, gives a verifier whose
    /// report lists the problems.
    [[nodiscard]] static DatResult<Verifier> open(const std::filesystem::path& path,
                                                  VerifyOptions options = {});

    Verifier(Verifier&&) noexcept;
    Verifier& operator=(Verifier&&) noexcept;
    Verifier(const Verifier&) = delete;
    Verifier& operator=(const Verifier&) = delete;
    ~Verifier();

    /// Files to check: one per directory entry walked, ordered by the offset of their chains
    /// (then in walk order), so that reading the list in order reads the archive front to back.
    [[nodiscard]] std::size_t file_count() const noexcept;
    /// The list cut into `count` (at least 1) consecutive stretches holding about the same
    /// stored bytes; some may be empty.
    [[nodiscard]] std::vector<Stretch> stretches(std::size_t count) const;

    /// Reads, decompresses and decodes the files at list positions `first` to `last` (clamped
    /// to the list). Never fails: what it meets is recorded in the part. On an archive whose
    /// chains are scattered, the first calls also share one pass over the whole file that
    /// learns every block's link word: each call learns parts of the file no other call has
    /// taken, then waits for the parts the others took, so calls made at once on several
    /// threads split that pass between them.
    [[nodiscard]] VerifyPart check_files(std::size_t first, std::size_t last) const;

    /// Joins the parts and runs the whole-archive checks: overlaps between chains, the free
    /// list, the unread bytes and the summary. Parts may come in any order but must not overlap
    /// one another (empty ones aside); any stretch of the list that no part covers is checked here,
    /// on the caller's thread, so `finish({})` checks everything.
    ///
    /// On a scattered archive the file checks note who read each block rather than keep every
    /// stretch each chain read. Where the notes cannot stand for those stretches (two chains
    /// reading one block, a block off the grid: damage), the files' chains are followed again
    /// here, on the caller's thread, keeping the stretches; any later `finish` of the same
    /// verifier checks the files keeping them from the start.
    [[nodiscard]] VerifyReport finish(std::vector<VerifyPart> parts) const;

    struct State;

  private:
    explicit Verifier(std::unique_ptr<State> state) noexcept;
    std::unique_ptr<State> state_;
};

/// The whole check on the caller's thread: `open`, then `finish({})`. Fails only as `open` does.
[[nodiscard]] QUILLMERE_DAT_EXPORT DatResult<VerifyReport>
verify_archive(const std::filesystem::path& path, const VerifyOptions& options = {});

} // namespace quillmere::dat
