// Builds real portal archives for tests, benchmarks and the demo: header, block chains and a
// directory tree, either shaped like a real B-tree or by hand for damaged and odd cases.
// Written from the format's description alone, independent of the library's readers.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <variant>
#include <vector>

namespace quillmere::testkit {

/// A stored byte string placed as a block chain (a file's stored bytes, say).
struct ChainRef {
    std::size_t index = 0;
};

/// A directory node added by hand.
struct NodeRef {
    std::size_t index = 0;
};

/// Block `block` (counted from 0) of a chain.
struct BlockRef {
    ChainRef chain;
    std::size_t block = 0;
};

/// A 32-bit word written into the archive: a raw value, or the offset of the first block of a
/// chain or node, or of one block of a chain, resolved when the archive is laid out.
using Word = std::variant<std::uint32_t, ChainRef, NodeRef, BlockRef>;

/// One directory entry as written.
struct EntrySpec {
    std::uint32_t bit_flags = 0;
    std::uint32_t id = 0;
    Word offset = std::uint32_t{0};
    /// Default: the payload length of the chain that `offset` names (0 for a raw offset).
    std::optional<std::uint32_t> size;
    std::uint32_t timestamp = 0;
    std::uint32_t version = 0;
};

/// One directory node as written: 62 branch words, an entry count and up to 61 entries.
struct NodeSpec {
    std::array<Word, 62> branches{};
    /// Default: the number of entries. Any value may be written (62 or more, say).
    std::optional<std::uint32_t> entry_count;
    /// At most 61: the room a node has.
    std::vector<EntrySpec> entries;
    /// Link words written in place of the defaults, by block index within the node's chain.
    std::vector<std::pair<std::size_t, Word>> links;
};

/// The header's seventeen fields. Those left empty are filled in: `block_size` with the
/// builder's block size, `file_size` with the archive's length, `root_offset` with the root of
/// the directory (0 when there is none).
struct HeaderSpec {
    std::uint32_t magic = 0x4C51;
    std::optional<std::uint32_t> block_size;
    std::optional<std::uint32_t> file_size;
    std::uint32_t dataset = 0;
    std::uint32_t subset = 0;
    std::uint32_t free_head = 0;
    std::uint32_t free_tail = 0;
    std::uint32_t free_count = 0;
    std::optional<std::uint32_t> root_offset;
    std::uint32_t new_lru = 0;
    std::uint32_t old_lru = 0;
    std::uint32_t use_lru = 0;
    std::uint32_t master_map_id = 0;
    std::uint32_t engine_version = 0;
    std::uint32_t game_version = 0;
    std::array<std::uint8_t, 16> version_string{};
    std::uint32_t version_minor = 0;
};

struct ChainOptions {
    /// One block whose link word is 0, followed by the whole payload in consecutive bytes
    /// (it takes as many consecutive block slots as it needs).
    bool contiguous = false;
};

struct FileOptions {
    /// Store the contents compressed (with `lrs_compress`) and set bit 0 of the flags.
    bool compress = false;
    /// Flag bits written as given (bit 0 too: set it without `compress` to mark hand-made
    /// compressed bytes).
    std::uint32_t bit_flags = 0;
    std::uint32_t timestamp = 0;
    std::uint32_t version = 0;
};

/// Lays out an archive:
///
/// | offset             | contents                                             |
/// |--------------------|------------------------------------------------------|
/// | 0                  | 320 filler bytes (never read by a reader)            |
/// | 320                | the 80-byte header                                   |
/// | 400 rounded up to a multiple of the block size | block slots, one per block |
///
/// Every chain and node takes at least one block; block slots are handed out in the order
/// things were added, or in a seeded shuffled order. Files added with `add_file` or entries
/// with `add_entry` form the automatic directory: a B-tree with up to 61 entries per node,
/// entry_count + 1 children per inner node, all leaves at one depth and ids ascending in order.
/// `set_root` replaces it with a directory shaped by hand from `add_node` nodes.
///
/// Misuse (an archive that cannot be expressed with 32-bit offsets, more than 61 entries in a
/// node, a block size of 4 or less for non-empty data) throws `std::invalid_argument`;
/// failing to write a file throws `std::runtime_error`.
class ArchiveBuilder {
  public:
    /// `block_size`: the layout's block size, link word included (also the header's, unless
    /// `header().block_size` says otherwise).
    explicit ArchiveBuilder(std::uint32_t block_size = 1024);

    /// Places blocks in an order shuffled with `seed` instead of the order of addition.
    ArchiveBuilder& shuffle_blocks(std::uint64_t seed);
    /// The byte that fills offsets 0 to 319.
    ArchiveBuilder& preamble_fill(std::uint8_t value);
    /// The header fields to write.
    [[nodiscard]] HeaderSpec& header() noexcept { return header_; }

    /// Stores `payload` as a chain without a directory entry.
    ChainRef add_chain(std::vector<std::uint8_t> payload, ChainOptions options = {});
    /// Overrides the link word of one block (by default the next block's offset, 0 for the last).
    ArchiveBuilder& set_link(BlockRef block, Word target);
    /// Payload length of a chain.
    [[nodiscard]] std::size_t chain_length(ChainRef chain) const;

    /// Stores a file and adds its entry to the automatic directory.
    ChainRef add_file(std::uint32_t id, std::vector<std::uint8_t> contents,
                      FileOptions options = {});
    /// Adds an entry to the automatic directory, as given.
    ArchiveBuilder& add_entry(EntrySpec entry);
    /// An entry for a stored chain: its offset and length, with `id` and `bit_flags`.
    [[nodiscard]] static EntrySpec entry_for(ChainRef chain, std::uint32_t id,
                                             std::uint32_t bit_flags = 0);

    /// Adds a node for a directory shaped by hand; edit it through `node`.
    NodeRef add_node(NodeSpec plan = {});
    [[nodiscard]] NodeSpec& node(NodeRef ref);
    /// Makes the directory the one rooted at `root` (a node, or any raw offset).
    ArchiveBuilder& set_root(Word root);

    /// The whole archive in memory.
    [[nodiscard]] std::vector<std::uint8_t> build();
    /// Writes the archive to `path` block by block, without an in-memory image of it.
    void write_to(const std::filesystem::path& path);

    /// After `build` or `write_to`: the value a word was written as (an offset for references).
    [[nodiscard]] std::uint32_t resolve(const Word& word) const;
    /// After `build` or `write_to`: the archive's length and the root offset written.
    [[nodiscard]] std::uint64_t archive_length() const noexcept { return layout_.length; }
    [[nodiscard]] std::uint32_t root_offset() const noexcept { return layout_.root_offset; }
    /// After `build` or `write_to`: the nodes of the automatic directory, root first then in
    /// depth-first order; each with its node offset.
    [[nodiscard]] const std::vector<std::pair<std::uint32_t, NodeSpec>>& auto_nodes() const {
        return layout_.auto_nodes;
    }

    class Sink;

  private:
    struct Chain {
        std::vector<std::uint8_t> payload;
        bool contiguous = false;
        std::vector<std::pair<std::size_t, Word>> links;
    };
    struct Layout {
        std::vector<std::vector<std::uint32_t>> chain_blocks; // per chain: its blocks' offsets
        std::vector<NodeSpec> nodes;                          // hand-made, then automatic
        std::vector<std::vector<std::uint32_t>> node_blocks;  // per node: its blocks' offsets
        std::vector<std::pair<std::uint32_t, NodeSpec>> auto_nodes;
        std::uint32_t root_offset = 0;
        std::uint64_t length = 0;
        std::uint64_t slots = 0;
    };

    void lay_out();
    void emit(Sink& sink) const;
    [[nodiscard]] std::vector<std::uint8_t> node_bytes(const NodeSpec& plan) const;
    [[nodiscard]] std::uint32_t word_of(const Word& word) const;
    [[nodiscard]] std::size_t blocks_for(std::size_t length, bool contiguous) const;

    std::uint32_t block_size_;
    std::optional<std::uint64_t> seed_;
    std::uint8_t preamble_fill_ = 0xEE;
    HeaderSpec header_;
    std::vector<Chain> chains_;
    std::vector<NodeSpec> nodes_;
    std::vector<EntrySpec> auto_entries_;
    std::optional<Word> root_;
    Layout layout_;
};

} // namespace quillmere::testkit
