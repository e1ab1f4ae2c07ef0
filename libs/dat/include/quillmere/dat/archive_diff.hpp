// What differs between two opened archives: the header fields that describe content, the bytes
// before the header, the set of file ids, and per file in both the contents, the stored bytes
// and the entry fields that are the file's own (`bit_flags`, `timestamp`, `version`).
#pragma once

#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/dat_error.hpp"
#include "quillmere/dat/dat_file_entry.hpp"
#include "quillmere/dat/export.hpp"

#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

namespace quillmere::dat {

/// What `compare_archives` looks at.
struct DiffOptions {
    /// Only files whose id has this top byte (0x03 animations, ...); nothing: every file. The
    /// header and the bytes before it are compared either way.
    std::optional<std::uint8_t> type;
};

/// One header field that differs. `file_size`, `root_offset`, `free_head`, `free_tail` and
/// `free_count` describe where things lie, not what the archive holds, and are never reported.
struct HeaderDifference {
    /// The `DatHeader` member's name ("game_version").
    std::string_view field;
    /// The values in A and in B: a 32-bit field's number, or `version_string`'s 16 bytes.
    std::variant<std::uint32_t, std::vector<std::uint8_t>> a;
    std::variant<std::uint32_t, std::vector<std::uint8_t>> b;
};

/// A file in both archives that differs in at least one way.
struct FileDifference {
    std::uint32_t id = 0;
    /// The entries as each archive's directory holds them (their offsets always differ in
    /// meaning and are no difference).
    DatFileEntry a;
    DatFileEntry b;
    /// The stored bytes differ (chains read in full): a changed file, or the same contents
    /// compressed differently. False when either side could not be read.
    bool stored = false;
    /// The contents as `get_file_checked` returns them differ. False when either side could not
    /// be read. Equal stored bytes under the same compression flag are equal contents, without
    /// decompressing.
    bool contents = false;
    /// The contents' lengths, when they were read (only when the stored bytes or the
    /// compression flag differ); for an uncompressed file its stored size.
    std::optional<std::uint64_t> content_size_a = std::nullopt;
    std::optional<std::uint64_t> content_size_b = std::nullopt;
    /// Why the file could not be read from A or from B: its chain breaks, its compressed stream
    /// falls short, ... The file then counts as changed: whether it is the same is unknown.
    std::optional<DatError> error_a = std::nullopt;
    std::optional<DatError> error_b = std::nullopt;

    [[nodiscard]] bool bit_flags_differ() const noexcept { return a.bit_flags != b.bit_flags; }
    [[nodiscard]] bool timestamp_differs() const noexcept { return a.timestamp != b.timestamp; }
    [[nodiscard]] bool version_differs() const noexcept { return a.version != b.version; }
    [[nodiscard]] bool unreadable() const noexcept { return error_a || error_b; }
};

/// What `compare_archives` found. Lists are in ascending id order.
struct ArchiveDiff {
    /// Header fields that differ, in the header's order.
    std::vector<HeaderDifference> header;
    /// The `kPreambleSize` bytes before the header differ.
    bool preamble = false;
    /// Files in A only, and in B only, with their entries.
    std::vector<DatFileEntry> only_in_a;
    std::vector<DatFileEntry> only_in_b;
    /// Files in both that differ.
    std::vector<FileDifference> changed;
    /// Files in both that do not differ at all.
    std::uint64_t same = 0;

    /// Nothing differs.
    [[nodiscard]] bool empty() const noexcept {
        return header.empty() && !preamble && only_in_a.empty() && only_in_b.empty() &&
               changed.empty();
    }
};

/// Compares archive `a` with archive `b`. Where files and directory nodes lie, the shape of the
/// directory tree and the free list are no difference: an archive and a repacked copy of it
/// compare equal.
///
/// The ids of both are walked once in ascending order. For a file in both, the stored bytes
/// are read and compared first; equal stored bytes under the same compression flag are equal
/// contents, so only files whose stored bytes or flag differ are decompressed (through
/// `get_file_checked`). Chains are read as the verifier reads them, through a window of the
/// file that reads ahead over files the directory says lie one after another; buffers are
/// reused from file to file. A file that cannot be read in either archive is reported as
/// changed with the error (see `FileDifference`), and so, as the verifier bounds its reads, is
/// every file of an archive once those read before it store more than 4 times its length; the
/// comparison goes on.
///
/// Errors: those of `read_preamble`, on either archive.
[[nodiscard]] QUILLMERE_DAT_EXPORT DatResult<ArchiveDiff>
compare_archives(const DatDatabase& a, const DatDatabase& b, const DiffOptions& options = {});

} // namespace quillmere::dat
