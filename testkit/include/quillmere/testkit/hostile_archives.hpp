// Damaged and hostile archives: offsets past the end or above 4 GiB, the smallest block sizes,
// looping chains, sizes and counts far beyond what the archive holds. Each kind is built by a
// function of its parameter, for tests that check how the library reads it, and the whole
// catalogue comes as named byte strings, for tests that run a reader or a tool over every one.
#pragma once

#include "quillmere/dat/file_type/file_type.hpp"
#include "quillmere/testkit/archive_builder.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace quillmere::testkit::hostile {

/// `length` bytes of a pattern that differs with `seed` and does not repeat every 256 bytes.
[[nodiscard]] std::vector<std::uint8_t> pattern(std::size_t length, std::uint32_t seed);

/// An entry of `size` bytes at `offset`, as written.
[[nodiscard]] EntrySpec entry(std::uint32_t id, Word offset, std::uint32_t size,
                              std::uint32_t bit_flags = 0);

/// Offsets at which no block of an archive of `archive_length` bytes can be read: the link word
/// partly or wholly past the end, far past it, and above 0xFFFFFFFB, where the payload position
/// no longer fits in 32 bits.
[[nodiscard]] std::vector<std::uint32_t> unreadable_offsets(std::uint64_t archive_length);

/// One directory node (block size 1024) listing file 1 (0 bytes at offset 0), whose first
/// branch is `offset`; with `as_root` the header's root is `offset` too. The archive's length
/// does not depend on `offset`.
[[nodiscard]] ArchiveBuilder node_branching_to(std::uint32_t offset, bool as_root);

/// Block size 256: file 1's chain (`linked`, 1000 bytes of pattern 1, four blocks) links from
/// its third block to `offset`; file 2 (300 bytes of pattern 2) is sound; files 3 and 4 (the
/// second flagged compressed) claim 10 bytes at `offset`.
struct LinkedPastTheEnd {
    ArchiveBuilder builder{256};
    ChainRef linked;
};
[[nodiscard]] LinkedPastTheEnd chain_linking_to(std::uint32_t offset);

/// Block size 5, one payload byte a block, shuffled: files 1 to 70 (two directory levels, a
/// third compressed) of `id % 9` bytes of pattern `id`, and file 100 of 700 bytes of pattern
/// 100. Well-formed: every file reads.
[[nodiscard]] ArchiveBuilder one_byte_blocks();

/// Block size 5: file 1 claims 3000 bytes of `loop`, a chain of 3 blocks whose last links back
/// to its first; file 2 claims 3000 bytes of `self`, one block linking to itself; a 4000-byte
/// chain gives them room to run.
struct LoopingChains {
    ArchiveBuilder builder{5};
    ChainRef loop;
    ChainRef self;
};
[[nodiscard]] LoopingChains looping_chains();

/// Block size 512: the root node's chain is one block linking to itself, so its 1716 bytes
/// repeat that block; read so, it is a leaf listing file 0x33 (0 bytes at offset 0).
[[nodiscard]] ArchiveBuilder looping_directory_node();

/// Block size 1024, preamble of zeros: files 10 (plain) and 11 (compressed) claim `size` bytes
/// of `chain`, a 100-byte chain of pattern 1; file 12 claims `size` bytes from offset 0, which
/// reads as one block holding the whole archive.
struct ClaimedSizes {
    ArchiveBuilder builder{1024};
    ChainRef chain;
};
[[nodiscard]] ClaimedSizes sizes_claimed(std::uint32_t size);

/// Block size 1024: two compressed files whose size words claim 0xFFFFFFFF bytes: file 1 over a
/// 5-byte stream that repeats "AB" (19 bytes), file 2 over 100 groups of 8 literals (800 bytes).
[[nodiscard]] ArchiveBuilder compressed_claiming_four_gib();

/// How decoding a hostile file ends: out of bytes, or (where the surplus entries hold hooks) at
/// a hook whose type word is really a float of the data that follows.
enum class Ending { ShortRead, UnknownHookType };

/// A portal file with a count of 0xFFFFFFFF (or 0x7FFFFFFF) where a small one belongs.
struct HostileFile {
    std::string what;
    dat::file_type::FileType type;
    std::vector<std::uint8_t> bytes;
    Ending ending = Ending::ShortRead;
};
/// One for every count of an animation, a setup model and a physics script.
[[nodiscard]] std::vector<HostileFile> hostile_files();

/// Block size 256, shuffled: each of `hostile_files()` stored three times, as files 1, 2, 3
/// for the first and so on: plain, compressed, and compressed with a size word claiming
/// 0xFFFFFFFF bytes.
[[nodiscard]] ArchiveBuilder hostile_files_archive();

/// A damaged archive, named by what is wrong with it.
struct NamedArchive {
    std::string name;
    std::vector<std::uint8_t> bytes;
};

/// Every damaged archive above, for each parameter the adversarial tests use: each holds at
/// least one problem a check of the whole archive must find.
[[nodiscard]] std::vector<NamedArchive> damaged_archives();

} // namespace quillmere::testkit::hostile
