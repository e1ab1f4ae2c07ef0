// The automatic directory's B-tree: how many levels, and which entries go to which node.
#include "directory_tree.hpp"

#include "archive_format.hpp"

#include <algorithm>
#include <span>
#include <utility>

namespace quillmere::testkit {
namespace {

using archive_format::ceil_div;
using archive_format::kBranches;
using archive_format::kNodeEntries;

// Entries a B-tree of `height` levels holds when full: 62^height - 1.
std::uint64_t tree_capacity(unsigned height) {
    std::uint64_t capacity = kNodeEntries;
    for (unsigned level = 1; level < height; ++level) {
        capacity = capacity * (kBranches) + kNodeEntries;
    }
    return capacity;
}

// Builds the subtree holding `entries` (sorted by id) with all leaves `height` levels down;
// nodes are appended depth-first, parent before children. Returns the subtree root's index.
std::size_t build_subtree(std::span<const EntrySpec> entries, unsigned height,
                          std::vector<NodeSpec>& nodes) {
    const std::size_t self = nodes.size();
    nodes.emplace_back();
    if (height == 1) {
        nodes[self].entries.assign(entries.begin(), entries.end());
        return self;
    }
    // Fewest children that can hold everything, then the entries spread evenly over them: one
    // separator between each pair of neighbouring children, as a B-tree keeps its keys.
    const std::uint64_t child_capacity = tree_capacity(height - 1);
    const std::size_t n = entries.size();
    const auto children =
        static_cast<std::size_t>(std::max<std::uint64_t>(2, ceil_div(n + 1, child_capacity + 1)));
    const std::size_t in_children = n - (children - 1);
    std::size_t at = 0;
    std::vector<std::size_t> child_nodes;
    std::vector<EntrySpec> separators;
    for (std::size_t child = 0; child < children; ++child) {
        const std::size_t count = in_children / children + (child < in_children % children);
        child_nodes.push_back(build_subtree(entries.subspan(at, count), height - 1, nodes));
        at += count;
        if (child + 1 < children) {
            separators.push_back(entries[at++]);
        }
    }
    for (std::size_t child = 0; child < children; ++child) {
        nodes[self].branches[child] = NodeRef{child_nodes[child]};
    }
    nodes[self].entries = std::move(separators);
    return self;
}

} // namespace

std::vector<NodeSpec> plan_directory_tree(std::vector<EntrySpec> entries) {
    std::vector<NodeSpec> tree;
    if (entries.empty()) {
        return tree;
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const EntrySpec& a, const EntrySpec& b) { return a.id < b.id; });
    unsigned height = 1;
    while (tree_capacity(height) < entries.size()) {
        ++height;
    }
    build_subtree(entries, height, tree);
    return tree;
}

} // namespace quillmere::testkit
