// The one walk over the directory tree: `DatDatabase::open`, the verifier and the archive fuzz
// target each visit the nodes through it, in the same order and within the same bounds.
#pragma once

#include "detail/archive_layout.hpp"
#include "detail/test_seam.hpp"
#include "quillmere/common/decode_error.hpp"

#include <cstdint>
#include <optional>
#include <span>

namespace quillmere::dat::detail {

/// Where a node lies in the tree: its offset, its depth (the root is 1), the node whose branch
/// leads to it (none for the root) and the ids its place allows, both bounds excluded (none
/// where the place sets no bound).
struct NodePlace {
    std::uint32_t offset = 0;
    std::uint64_t depth = 1;
    std::optional<std::uint32_t> parent;
    std::optional<std::uint32_t> above;
    std::optional<std::uint32_t> below;

    friend bool operator==(const NodePlace&, const NodePlace&) = default;
};

/// What a walk of the directory tells its caller. The visitor reads the nodes (so each caller
/// reads chains its own way) and hears of each node and each problem in walk order; a problem
/// skips the node and the subtree below it. After every call the walk asks `done()`.
class QUILLMERE_DAT_TEST_SEAM DirectoryVisitor {
  public:
    DirectoryVisitor() = default;
    DirectoryVisitor(const DirectoryVisitor&) = default;
    DirectoryVisitor& operator=(const DirectoryVisitor&) = default;
    virtual ~DirectoryVisitor() = default;

    /// Fills `bytes` with the node at `place.offset`; false when its chain cannot be read.
    [[nodiscard]] virtual bool read_node(const NodePlace& place,
                                         std::span<std::uint8_t, layout::kNodeSize> bytes) = 0;
    /// A node read and decoded; the walk goes on below it unless it is a leaf.
    virtual void visit(const NodePlace& place, const DirectoryNode& node) = 0;
    /// A branch leads to a node already visited (a cycle, or two branches sharing a subtree).
    virtual void revisited(const NodePlace& place) = 0;
    /// The node's `entry_count` is above 61; `error` is its decoding error.
    virtual void overfull(const NodePlace& place, std::uint32_t entry_count,
                          const common::DecodeError& error) = 0;
    /// More nodes read in full than the archive could hold side by side: the walk ends here.
    virtual void too_many_nodes(const NodePlace& place) = 0;
    /// Whether the walk ends now (the default goes on to the end).
    [[nodiscard]] virtual bool done() const { return false; }
};

/// Walks the tree from the node at `root` (0 is an empty directory) depth first: a node's own
/// entries, then the subtree of slot 0 complete before slot 1, and so on, so a later entry is
/// one met later in this order. It keeps an explicit stack, so a tall tree cannot exhaust the
/// call stack, and trusts nothing: a node already visited is not read again, and once more
/// nodes than `archive_length` could hold side by side (1716 bytes each) have been read in
/// full, some must share bytes and the walk stops, which bounds its work and the entries it
/// hands over by the archive's length.
QUILLMERE_DAT_TEST_SEAM void walk_directory(std::uint32_t root, std::uint64_t archive_length,
                                            DirectoryVisitor& visitor);

} // namespace quillmere::dat::detail
