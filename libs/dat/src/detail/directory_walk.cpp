// The directory walk: a stack of pending nodes, a visited set and a bound on the nodes read.
#include "detail/directory_walk.hpp"

#include "quillmere/common/le.hpp"

#include <array>
#include <unordered_set>
#include <vector>

namespace quillmere::dat::detail {
namespace {

// Pushes the children of `node` in reverse slot order, so that they are popped, and their
// subtrees walked, slot 0 first.
void push_children(const NodePlace& place, const DirectoryNode& node,
                   std::vector<NodePlace>& pending) {
    for (std::uint32_t slot = layout::child_slot_count(node.entry_count); slot-- > 0;) {
        if (node.branches[slot] == 0) {
            continue;
        }
        NodePlace child{node.branches[slot], place.depth + 1, place.offset, place.above,
                        place.below};
        if (slot > 0) {
            child.above = node.entries[slot - 1].id;
        }
        if (slot < node.entry_count) {
            child.below = node.entries[slot].id;
        }
        pending.push_back(child);
    }
}

} // namespace

void walk_directory(std::uint32_t root, std::uint64_t archive_length, DirectoryVisitor& visitor) {
    const std::uint64_t max_nodes = archive_length / layout::kNodeSize;
    std::uint64_t nodes_read = 0;
    std::vector<NodePlace> pending;
    std::unordered_set<std::uint32_t> visited;
    std::array<std::uint8_t, layout::kNodeSize> bytes{};

    if (root != 0) {
        pending.push_back(NodePlace{root, 1, std::nullopt, std::nullopt, std::nullopt});
    }
    while (!pending.empty() && !visitor.done()) {
        const NodePlace place = pending.back();
        pending.pop_back();
        if (!visited.insert(place.offset).second) {
            visitor.revisited(place);
            continue;
        }
        if (!visitor.read_node(place, bytes)) {
            continue;
        }
        if (++nodes_read > max_nodes) {
            visitor.too_many_nodes(place);
            return;
        }
        auto node = DirectoryNode::read_le(bytes);
        if (!node) {
            const auto entry_count =
                common::load_le<std::uint32_t>(bytes.data() + layout::kEntryCountOffset);
            visitor.overfull(place, entry_count, node.error());
            continue;
        }
        visitor.visit(place, *node);
        if (!node->is_leaf()) {
            push_children(place, *node, pending);
        }
    }
}

} // namespace quillmere::dat::detail
