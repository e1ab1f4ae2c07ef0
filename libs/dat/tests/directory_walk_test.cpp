// Tests of the directory walk through a visitor that reads nodes from memory: the order and
// places it reports, and the problems that skip a node or end the walk.
#include "detail/directory_walk.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace quillmere::dat::detail {
namespace {

using Nodes = std::map<std::uint32_t, DirectoryNode>;

DirectoryNode node_of(std::vector<std::uint32_t> ids, std::vector<std::uint32_t> children = {}) {
    DirectoryNode node;
    node.entry_count = static_cast<std::uint32_t>(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        node.entries[i].id = ids[i];
    }
    for (std::size_t slot = 0; slot < children.size(); ++slot) {
        node.branches[slot] = children[slot];
    }
    return node;
}

std::string bound(const std::optional<std::uint32_t>& id) {
    return id ? std::to_string(*id) : "-";
}

// Writes down every call as one line; nodes not in `nodes` cannot be read.
class Recorder final : public DirectoryVisitor {
  public:
    explicit Recorder(Nodes nodes, bool stop_at_problem = false)
        : nodes_(std::move(nodes)), stop_at_problem_(stop_at_problem) {}

    bool read_node(const NodePlace& place,
                   std::span<std::uint8_t, layout::kNodeSize> bytes) override {
        const auto found = nodes_.find(place.offset);
        if (found == nodes_.end()) {
            problem("unreadable " + std::to_string(place.offset));
            return false;
        }
        // write_le takes at most 61 entries: a larger count is put in the bytes afterwards.
        DirectoryNode writable = found->second;
        writable.entry_count = std::min(writable.entry_count, layout::kMaxEntries);
        std::vector<std::uint8_t> encoded;
        common::ByteWriter writer(encoded);
        writable.write_le(writer);
        writer.set_position(layout::kEntryCountOffset);
        writer.write_u32(found->second.entry_count);
        EXPECT_EQ(encoded.size(), bytes.size());
        std::copy(encoded.begin(), encoded.end(), bytes.begin());
        return true;
    }
    void visit(const NodePlace& place, const DirectoryNode& node) override {
        EXPECT_EQ(node, nodes_.at(place.offset));
        lines.push_back("node " + std::to_string(place.offset) + " depth " +
                        std::to_string(place.depth) + " parent " + bound(place.parent) + " ids " +
                        bound(place.above) + ".." + bound(place.below));
    }
    void revisited(const NodePlace& place) override {
        problem("revisited " + std::to_string(place.offset) + " from " + bound(place.parent));
    }
    void overfull(const NodePlace& place, std::uint32_t entry_count,
                  const common::DecodeError& error) override {
        problem("overfull " + std::to_string(place.offset) + " count " +
                std::to_string(entry_count) + ": " + error.contexts().back().message);
    }
    void too_many_nodes(const NodePlace& place) override {
        problem("too many at " + std::to_string(place.offset));
    }
    [[nodiscard]] bool done() const override { return stop_at_problem_ && problems_ > 0; }

    std::vector<std::string> lines;

  private:
    void problem(std::string line) {
        ++problems_;
        lines.push_back(std::move(line));
    }

    Nodes nodes_;
    bool stop_at_problem_;
    int problems_ = 0;
};

constexpr std::uint64_t kRoomy = 1 << 20;

TEST(DirectoryWalkTest, VisitsDepthFirstWithEachPlacesBounds) {
    Recorder recorder({{100, node_of({10, 20}, {200, 0, 300})},
                       {200, node_of({5}, {400})},
                       {400, node_of({1})},
                       {300, node_of({25})}});
    walk_directory(100, kRoomy, recorder);
    EXPECT_EQ(recorder.lines, (std::vector<std::string>{
                                  "node 100 depth 1 parent - ids -..-",
                                  "node 200 depth 2 parent 100 ids -..10",
                                  "node 400 depth 3 parent 200 ids -..5",
                                  "node 300 depth 2 parent 100 ids 20..-",
                              }));
}

TEST(DirectoryWalkTest, LeafBranchesAndSlotsPastTheEntriesAreNotFollowed) {
    DirectoryNode leaf = node_of({1});
    leaf.branches[1] = 500; // branch 0 is 0: a leaf
    Recorder recorder({{100, node_of({10}, {200, 300, 400})}, {200, leaf}, {300, node_of({20})}});
    walk_directory(100, kRoomy, recorder);
    EXPECT_EQ(recorder.lines, (std::vector<std::string>{"node 100 depth 1 parent - ids -..-",
                                                        "node 200 depth 2 parent 100 ids -..10",
                                                        "node 300 depth 2 parent 100 ids 10..-"}));
}

TEST(DirectoryWalkTest, ProblemsSkipTheNodeAndTheWalkGoesOn) {
    DirectoryNode overfull = node_of({7}, {100});
    overfull.entry_count = 62;
    Recorder recorder({{100, node_of({10, 20, 30}, {100, 999, 300, 200})},
                       {300, overfull},
                       {200, node_of({40})}});
    walk_directory(100, kRoomy, recorder);
    EXPECT_EQ(recorder.lines,
              (std::vector<std::string>{
                  "node 100 depth 1 parent - ids -..-", "revisited 100 from 100", "unreadable 999",
                  "overfull 300 count 62: While parsing field 'bit_flags' in DatFileEntry",
                  "node 200 depth 2 parent 100 ids 30..-"}));
}

TEST(DirectoryWalkTest, DoneEndsTheWalkAtOnce) {
    Recorder recorder({{100, node_of({10}, {999, 200})}, {200, node_of({20})}}, true);
    walk_directory(100, kRoomy, recorder);
    EXPECT_EQ(recorder.lines,
              (std::vector<std::string>{"node 100 depth 1 parent - ids -..-", "unreadable 999"}));
}

// An archive of two nodes' length holds at most two nodes side by side: the third read ends the
// walk before it is visited. Empty directories read nothing.
TEST(DirectoryWalkTest, MoreNodesThanTheArchiveHoldsEndTheWalk) {
    Recorder recorder(
        {{100, node_of({10}, {200, 300})}, {200, node_of({5})}, {300, node_of({15})}});
    walk_directory(100, 2 * layout::kNodeSize + 1715, recorder);
    EXPECT_EQ(recorder.lines, (std::vector<std::string>{"node 100 depth 1 parent - ids -..-",
                                                        "node 200 depth 2 parent 100 ids -..10",
                                                        "too many at 300"}));
    Recorder empty({});
    walk_directory(0, kRoomy, empty);
    EXPECT_TRUE(empty.lines.empty());
}

} // namespace
} // namespace quillmere::dat::detail
