// The verifier's first step: the header, then the directory tree walked node by node with every
// structural problem recorded, and the list of files to check.
#include "detail/archive_layout.hpp"
#include "detail/directory_walk.hpp"
#include "detail/radix_sort.hpp"
#include "quillmere/common/text.hpp"
#include "verify/verify_state.hpp"

#include <algorithm>
#include <array>
#include <utility>

namespace quillmere::dat::detail {
namespace {

using common::hex8;

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
                         std::to_string(layout::kHeaderEnd));
        return std::nullopt;
    }
    if (!layout::block_payload_size(header->block_size)) {
        problems.add(ProblemKind::Header, std::nullopt, layout::header_field::kBlockSize,
                     "block_size is " + std::to_string(header->block_size) +
                         ", which leaves a block no room for data");
        return std::nullopt;
    }
    if (header->file_size != file.length()) {
        problems.add(ProblemKind::FileSize, std::nullopt, layout::header_field::kFileSize,
                     "file_size is " + std::to_string(header->file_size) + ", but the archive is " +
                         std::to_string(file.length()) + " bytes long");
    }
    return std::move(*header);
}

std::string interval_text(std::optional<std::uint32_t> above, std::optional<std::uint32_t> below) {
    std::string out = "outside the ids its place in the tree allows:";
    if (above) {
        out += " above " + id_text(*above);
    }
    if (above && below) {
        out += " and";
    }
    if (below) {
        out += " below " + id_text(*below);
    }
    return out;
}

// Records every problem the directory walk meets, and what the later steps need: each node's
// extents and each entry on the list of files.
class WalkRecorder final : public DirectoryVisitor {
  public:
    WalkRecorder(Verifier::State& state, ProblemList& problems)
        : state_(state), problems_(problems) {}

    // Reads the node and records its extents; false when it cannot be read.
    bool read_node(const NodePlace& node,
                   std::span<std::uint8_t, layout::kNodeSize> bytes) override {
        trace_.clear();
        const std::uint32_t block_size = state_.header->block_size;
        auto read = reader_.read(state_.file, block_size, node.offset, bytes, &trace_);
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

    void visit(const NodePlace& place, const DirectoryNode& node) override {
        const auto entries = node.used_entries();
        for (std::size_t i = 0; i < entries.size(); ++i) {
            ++state_.entries;
            state_.files.push_back({entries[i]});
            listed_in_.push_back(place.offset);
            check_key_order(place, entries[i].id,
                            i == 0 ? std::nullopt : std::optional(entries[i - 1].id));
        }
        if (node.is_leaf()) {
            check_leaf_depth(place);
        }
    }

    void revisited(const NodePlace& node) override {
        problems_.add(ProblemKind::NodeRevisited, std::nullopt, node.offset,
                      "reached again from directory node at offset " +
                          std::to_string(node.parent.value_or(0)) +
                          ": a cycle or a shared subtree, not walked again");
    }

    void overfull(const NodePlace& node, std::uint32_t entry_count,
                  const common::DecodeError&) override {
        problems_.add(ProblemKind::EntryCount, std::nullopt, node.offset,
                      "entry_count is " + std::to_string(entry_count) +
                          ", more than the 61 entries a node holds: its entries and "
                          "children are skipped");
    }

    void too_many_nodes(const NodePlace& node) override {
        problems_.add(ProblemKind::Overlap, std::nullopt, node.offset,
                      "the archive (" + std::to_string(state_.length()) +
                          " bytes) cannot hold this many directory nodes side by side: "
                          "the walk stops at this node");
    }

    // Once the walk is over: each entry whose id an earlier one (in walk order) already listed,
    // found by sorting the ids, and the entries out of order that were not listed again.
    void report_ids() {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> listed; // id, walk position
        listed.reserve(state_.files.size());
        for (std::size_t at = 0; at < state_.files.size(); ++at) {
            listed.emplace_back(state_.files[at].entry.id, static_cast<std::uint32_t>(at));
        }
        radix_sort(listed, [](const auto& pair) { return pair.first; });
        std::vector<bool> again(state_.files.size(), false);
        for (std::size_t k = 1, first = 0; k < listed.size(); ++k) {
            if (listed[k].first != listed[first].first) {
                first = k;
                continue;
            }
            const std::uint32_t at = listed[k].second;
            again[at] = true;
            problems_.add(ProblemKind::DuplicateId, listed[k].first, listed_in_[at],
                          "listed again (first in directory node at offset " +
                              std::to_string(listed_in_[listed[first].second]) +
                              "); open keeps this later entry");
        }
        for (const OutOfOrder& entry : out_of_order_) {
            if (!again[entry.entry]) {
                problems_.add(ProblemKind::KeyOrder, state_.files[entry.entry].entry.id,
                              listed_in_[entry.entry],
                              entry.before ? "not above the id before it in its node, " +
                                                 id_text(*entry.before)
                                           : interval_text(entry.above, entry.below));
            }
        }
    }

  private:
    // An id out of order is held back until the walk is over (what its message needs, not the
    // message): an entry listed again is reported as that, not also as out of order.
    void check_key_order(const NodePlace& node, std::uint32_t id,
                         std::optional<std::uint32_t> before) {
        const std::size_t entry = state_.files.size() - 1;
        if (before && id <= *before) {
            out_of_order_.push_back({entry, before, std::nullopt, std::nullopt});
        } else if ((node.above && id <= *node.above) || (node.below && id >= *node.below)) {
            out_of_order_.push_back({entry, std::nullopt, node.above, node.below});
        }
    }

    void check_leaf_depth(const NodePlace& node) {
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

    // An entry out of order: not above `before`, the id before it in its node, or (without
    // `before`) outside the ids its place allows.
    struct OutOfOrder {
        std::size_t entry;
        std::optional<std::uint32_t> before;
        std::optional<std::uint32_t> above;
        std::optional<std::uint32_t> below;
    };

    Verifier::State& state_;
    ProblemList& problems_;
    // Per entry, in walk order, the offset of the node that lists it.
    std::vector<std::uint32_t> listed_in_;
    std::vector<OutOfOrder> out_of_order_;
    std::optional<std::uint64_t> first_leaf_depth_;
    bool depth_reported_ = false;
    ChainReader reader_;
    ChainTrace trace_;
    std::vector<ByteRange> ranges_;
};

// Orders the files by where their chains start, so the checks read the archive front to back,
// and marks those past the bound on stored bytes.
void list_files(Verifier::State& state) {
    radix_sort(state.files, [](const ListedFile& file) { return file.entry.offset; });
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
    WalkRecorder recorder(state, state.walk_problems);
    walk_directory(state.header->root_offset, state.length(), recorder);
    recorder.report_ids();
    list_files(state);
    plan_links(state);
}

} // namespace quillmere::dat::detail
