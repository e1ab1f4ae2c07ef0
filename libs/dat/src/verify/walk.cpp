// The verifier's first step: the header, then the directory tree walked node by node with every
// structural problem recorded, and the list of files to check.
#include "detail/archive_layout.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/common/text.hpp"
#include "verify/verify_state.hpp"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <unordered_set>

namespace quillmere::dat::detail {
namespace {

using common::hex8;
using common::load_le;

// Offsets of the header fields that problems point at.
constexpr std::uint64_t kBlockSizeField = layout::kHeaderOffset + 4;
constexpr std::uint64_t kFileSizeField = layout::kHeaderOffset + 8;

std::string id_text(std::uint32_t id) {
    return "0x" + hex8(id);
}

// The header, or nothing after recording why it is unusable.
std::optional<DatHeader> read_header(const ArchiveFile& file, ProblemList& problems) {
    std::array<std::uint8_t, layout::kHeaderSize> raw{};
    const auto read = file.read_prefix(raw, layout::kHeaderOffset);
    if (read.error) {
        problems.add(ProblemKind::Header, std::nullopt, std::nullopt,
                     "the header cannot be read: " + read.error->message());
        return std::nullopt;
    }
    common::ByteCursor cursor(std::span<const std::uint8_t>(raw.data(), read.filled));
    auto header = DatHeader::read_le(cursor);
    if (!header) {
        problems.add(ProblemKind::Header, std::nullopt, std::nullopt,
                     "the archive is " + std::to_string(file.length()) +
                         " bytes long, too short for the header that ends at offset " +
                         std::to_string(layout::kHeaderOffset + layout::kHeaderSize));
        return std::nullopt;
    }
    if (!layout::block_payload_size(header->block_size)) {
        problems.add(ProblemKind::Header, std::nullopt, kBlockSizeField,
                     "block_size is " + std::to_string(header->block_size) +
                         ", which leaves a block no room for data");
        return std::nullopt;
    }
    if (header->file_size != file.length()) {
        problems.add(ProblemKind::FileSize, std::nullopt, kFileSizeField,
                     "file_size is " + std::to_string(header->file_size) + ", but the archive is " +
                         std::to_string(file.length()) + " bytes long");
    }
    return std::move(*header);
}

// A node waiting to be read: where it is, how deep, the ids its place allows (exclusive bounds)
// and the node whose branch leads to it.
struct Pending {
    std::uint32_t offset = 0;
    std::uint64_t depth = 1;
    std::optional<std::uint32_t> above;
    std::optional<std::uint32_t> below;
    std::optional<std::uint32_t> parent;
};

std::string interval_text(const Pending& node) {
    std::string out = "outside the ids its place in the tree allows:";
    if (node.above) {
        out += " above " + id_text(*node.above);
    }
    if (node.above && node.below) {
        out += " and";
    }
    if (node.below) {
        out += " below " + id_text(*node.below);
    }
    return out;
}

// The directory walk. It visits nodes in the order `DatDatabase::open` does (a node's own
// entries, then the subtree of slot 0 complete before slot 1), so "later" means what it means
// there, and it keeps an explicit stack, so a tall tree cannot exhaust the call stack. It trusts
// nothing: a node already visited is not read again, and once more nodes have been read in full
// than the archive could hold side by side, some of them must share bytes and the walk stops,
// which bounds its work by the archive's length.
class Walk {
  public:
    Walk(Verifier::State& state, ProblemList& problems)
        : state_(state), problems_(problems), max_nodes_(state.length() / layout::kNodeSize) {}

    void run(std::uint32_t root) {
        std::vector<Pending> pending;
        if (root != 0) {
            Pending top;
            top.offset = root;
            pending.push_back(top);
        }
        while (!pending.empty()) {
            const Pending node = pending.back();
            pending.pop_back();
            if (!visited_.insert(node.offset).second) {
                problems_.add(ProblemKind::NodeRevisited, std::nullopt, node.offset,
                              "reached again from directory node at offset " +
                                  std::to_string(node.parent.value_or(0)) +
                                  ": a cycle or a shared subtree, not walked again");
                continue;
            }
            if (!read_node(node)) {
                continue;
            }
            if (state_.node_offsets.size() > max_nodes_) {
                problems_.add(ProblemKind::Overlap, std::nullopt, node.offset,
                              "the archive (" + std::to_string(state_.length()) +
                                  " bytes) cannot hold this many directory nodes side by side: "
                                  "the walk stops at this node");
                return;
            }
            visit_entries(node, pending);
        }
    }

  private:
    // Reads the node into `bytes_` and records its extents; false when it cannot be read.
    bool read_node(const Pending& node) {
        trace_.clear();
        const std::uint32_t block_size = state_.header->block_size;
        auto read = reader_.read(state_.file, block_size, node.offset, bytes_, &trace_);
        if (!read) {
            add_visited_blocks(state_.node_blocks_reached, trace_, block_size, state_.length());
            problems_.add(ProblemKind::NodeUnreadable, std::nullopt, node.offset,
                          "its chain cannot be read in full: " +
                              chain_failure(trace_, read.error(), state_.length()));
            return false;
        }
        const auto owner = static_cast<std::uint32_t>(state_.node_offsets.size());
        state_.node_offsets.push_back(node.offset);
        state_.tree_height = std::max(state_.tree_height, node.depth);
        const std::uint64_t payload_size = block_size - layout::kLinkSize;
        if (trace_.end_block() && trace_.end_block_payload() > payload_size) {
            problems_.add(
                ProblemKind::OverlongLastBlock, std::nullopt, *trace_.end_block(),
                "directory node at offset " + std::to_string(node.offset) +
                    ": its last block supplies " + std::to_string(trace_.end_block_payload()) +
                    " bytes, more than the " + std::to_string(payload_size) + " a block holds");
        }
        ranges_ = trace_.ranges();
        if (const auto shared = settle_ranges(ranges_)) {
            problems_.add(ProblemKind::Overlap, std::nullopt, *shared,
                          "directory node at offset " + std::to_string(node.offset) +
                              " reads the same bytes twice: its chain runs into itself");
        }
        add_chain_extents(state_.node_extents, ranges_, owner, trace_, block_size, state_.length());
        return true;
    }

    void visit_entries(const Pending& node, std::vector<Pending>& pending) {
        std::array<std::uint32_t, layout::kBranchCount> branches{};
        for (std::size_t slot = 0; slot < branches.size(); ++slot) {
            branches[slot] = load_le<std::uint32_t>(bytes_.data() + 4 * slot);
        }
        const auto count = load_le<std::uint32_t>(bytes_.data() + 4 * layout::kBranchCount);
        if (count > layout::kMaxEntries) {
            problems_.add(ProblemKind::EntryCount, std::nullopt, node.offset,
                          "entry_count is " + std::to_string(count) +
                              ", more than the 61 entries a node holds: its entries and "
                              "children are skipped");
            return;
        }
        std::array<std::uint32_t, layout::kMaxEntries> ids{};
        common::ByteCursor cursor(bytes_);
        cursor.set_position(4 * layout::kBranchCount + 4);
        for (std::uint32_t i = 0; i < count; ++i) {
            // 61 entries fit in the node, so the read cannot fail.
            const DatFileEntry entry = *DatFileEntry::read_le(cursor);
            ids[i] = entry.id;
            ++state_.entries;
            state_.files.push_back({entry});
            check_entry(node, entry.id, i == 0 ? std::nullopt : std::optional(ids[i - 1]));
        }

        if (branches[0] == 0) {
            check_leaf_depth(node);
            return;
        }
        for (std::uint32_t slot = layout::child_slot_count(count); slot-- > 0;) {
            if (branches[slot] == 0) {
                continue;
            }
            Pending child{branches[slot], node.depth + 1, node.above, node.below, node.offset};
            if (slot > 0) {
                child.above = ids[slot - 1];
            }
            if (slot < count) {
                child.below = ids[slot];
            }
            pending.push_back(child);
        }
    }

    void check_entry(const Pending& node, std::uint32_t id, std::optional<std::uint32_t> before) {
        const auto [first, inserted] = first_node_of_.try_emplace(id, node.offset);
        if (!inserted) {
            problems_.add(ProblemKind::DuplicateId, id, node.offset,
                          "listed again (first in directory node at offset " +
                              std::to_string(first->second) + "); open keeps this later entry");
            return;
        }
        if (before && id <= *before) {
            problems_.add(ProblemKind::KeyOrder, id, node.offset,
                          "not above the id before it in its node, " + id_text(*before));
        } else if ((node.above && id <= *node.above) || (node.below && id >= *node.below)) {
            problems_.add(ProblemKind::KeyOrder, id, node.offset, interval_text(node));
        }
    }

    void check_leaf_depth(const Pending& node) {
        if (!first_leaf_depth_) {
            first_leaf_depth_ = node.depth;
        } else if (node.depth != *first_leaf_depth_ && !depth_reported_) {
            depth_reported_ = true;
            problems_.add(ProblemKind::TreeDepth, std::nullopt, node.offset,
                          "leaf at depth " + std::to_string(node.depth) +
                              ", while the first leaf lies at depth " +
                              std::to_string(*first_leaf_depth_) + ": the tree is not balanced");
        }
    }

    Verifier::State& state_;
    ProblemList& problems_;
    std::uint64_t max_nodes_;
    std::unordered_set<std::uint32_t> visited_;
    std::unordered_map<std::uint32_t, std::uint32_t> first_node_of_;
    std::optional<std::uint64_t> first_leaf_depth_;
    bool depth_reported_ = false;
    std::array<std::uint8_t, layout::kNodeSize> bytes_{};
    ChainReader reader_;
    ChainTrace trace_;
    std::vector<ByteRange> ranges_;
};

// Orders the files by where their chains start, so the checks read the archive front to back,
// and marks those past the bound on stored bytes.
void list_files(Verifier::State& state) {
    std::stable_sort(
        state.files.begin(), state.files.end(),
        [](const ListedFile& a, const ListedFile& b) { return a.entry.offset < b.entry.offset; });
    const std::uint64_t bound = kStoredBoundFactor * state.length();
    std::uint64_t claimed = 0;
    for (ListedFile& file : state.files) {
        // A size beyond the archive is refused without reading, so it claims nothing.
        if (file.entry.size > state.length()) {
            continue;
        }
        claimed += file.entry.size;
        file.within_bound = claimed <= bound;
    }
}

} // namespace

void walk_archive(Verifier::State& state) {
    state.header = read_header(state.file, state.walk_problems);
    if (!state.header) {
        return;
    }
    Walk(state, state.walk_problems).run(state.header->root_offset);
    list_files(state);
    learn_links(state);
}

} // namespace quillmere::dat::detail
