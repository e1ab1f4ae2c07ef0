// Checking a whole archive: every directory node and every file's chain, with every problem met
// recorded (severity, kind, file id or offset, a one-line message) and the figures of a summary.
#pragma once

#include "quillmere/dat/dat_error.hpp"
#include "quillmere/dat/export.hpp"

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

/// What a problem is about. Errors:
/// - `Header` ("header"): the file is shorter than 400 bytes or its header cannot be read, or
///   `block_size` is 4 or less; nothing else is checked then.
/// - `NodeUnreadable` ("node_unreadable"): a directory node's chain cannot be read in full; its
///   subtree is skipped.
/// - `EntryCount` ("entry_count"): a node's `entry_count` is above 61; its entries and children
///   are skipped.
/// - `NodeRevisited` ("node_revisited"): a branch leads to a node already visited (a cycle, or
///   two branches sharing a subtree); it is not walked again.
/// - `DuplicateId` ("duplicate_id"): an id listed again; each later entry is reported (`open`
///   keeps the last in walk order).
/// - `KeyOrder` ("key_order"): the directory is not a search tree by id: ids within a node not
///   strictly ascending, or an entry outside the interval its place under its parent allows.
///   Not reported for an entry already reported as `DuplicateId`.
/// - `FileUnreadable` ("file_unreadable"): a file's chain cannot be read in full, its stored size
///   exceeds the archive, or it was not read because the files before it (in the order of
///   their chains) already store more than 4 times the archive's length, which bounds the work
///   on an archive whose entries share chains.
/// - `Overlap` ("overlap"): two chains read the same bytes (two files, a file and a node, or one
///   chain running into itself); also a directory with more nodes than the archive can hold
///   side by side. At most 65,536 pairs are listed one by one; one further problem counts the
///   places where chains share bytes that were not examined.
/// - `CompressedStream` ("compressed_stream"): a compressed file that decompresses to fewer bytes
///   than its size word declares, or whose stored size (1 to 3 bytes) has no room for that word.
///   Such a file is not decoded. A compressed entry of 0 stored bytes is an empty file.
/// - `Decode` ("decode"): an animation, setup model or physics script that its decoder refuses.
///
/// Warnings:
/// - `TreeDepth` ("tree_depth"): leaves at different depths (reported once).
/// - `OverlongLastBlock` ("overlong_last_block"): a chain's last block supplies more than
///   `block_size - 4` bytes.
/// - `FreeList` ("free_list"): the free-block list loops, runs past the end, holds a number of
///   blocks other than `free_count`, ends elsewhere than `free_tail`, or holds a block a chain
///   reads; with `free_head` 0, a `free_count` or `free_tail` other than 0.
/// - `FileSize` ("file_size"): the header's `file_size` differs from the archive's length.
/// - `Unreachable` ("unreachable"): a stretch of at least `block_size` bytes after the header
///   that lies in no block a chain visits (a file's or a directory node's; each block counts
///   whole, an overlong last block for all it supplies) and in no block of the free list: space
///   nothing leads to, such as the files of a subtree the directory lost. One per stretch, at
///   its start.
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

/// The kind's name as listed above ("node_unreadable").
[[nodiscard]] QUILLMERE_DAT_EXPORT std::string_view kind_name(ProblemKind kind) noexcept;
/// The severity every problem of `kind` has.
[[nodiscard]] QUILLMERE_DAT_EXPORT Severity severity_of(ProblemKind kind) noexcept;

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
    /// to the list). Never fails: what it meets is recorded in the part.
    [[nodiscard]] VerifyPart check_files(std::size_t first, std::size_t last) const;

    /// Joins the parts and runs the whole-archive checks: overlaps between chains, the free
    /// list, the unread bytes and the summary. Parts may come in any order but must not overlap
    /// one another (empty ones aside); any stretch of the list that no part covers is checked here,
    /// on the caller's thread, so `finish({})` checks everything.
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
