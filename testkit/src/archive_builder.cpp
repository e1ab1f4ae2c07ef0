// Builds real portal archives from chains, nodes and a header: the builder's interface and the
// layout, which gives every chain and node its blocks.
#include "quillmere/testkit/archive_builder.hpp"

#include "archive_format.hpp"
#include "archive_sinks.hpp"
#include "directory_tree.hpp"
#include "quillmere/common/random.hpp"
#include "quillmere/testkit/lrs_compressor.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace quillmere::testkit {

using archive_format::ceil_div;
using archive_format::kHeaderEnd;
using archive_format::kLink;
using archive_format::kMaxOffset;
using archive_format::kNodeBytes;

ArchiveBuilder::ArchiveBuilder(std::uint32_t block_size) : block_size_(block_size) {}

ArchiveBuilder& ArchiveBuilder::shuffle_blocks(std::uint64_t seed) {
    seed_ = seed;
    return *this;
}

ArchiveBuilder& ArchiveBuilder::preamble_fill(std::uint8_t value) {
    preamble_fill_ = value;
    return *this;
}

ChainRef ArchiveBuilder::add_chain(std::vector<std::uint8_t> payload, ChainOptions options) {
    chains_.push_back(Chain{std::move(payload), options.contiguous, {}});
    return ChainRef{chains_.size() - 1};
}

ArchiveBuilder& ArchiveBuilder::set_link(BlockRef block, Word target) {
    chains_.at(block.chain.index).links.emplace_back(block.block, target);
    return *this;
}

std::size_t ArchiveBuilder::chain_length(ChainRef chain) const {
    return chains_.at(chain.index).payload.size();
}

ChainRef ArchiveBuilder::add_file(std::uint32_t id, std::vector<std::uint8_t> contents,
                                  FileOptions options) {
    std::uint32_t flags = options.bit_flags;
    if (options.compress) {
        contents = lrs_compress(contents);
        flags |= 1U;
    }
    const ChainRef chain = add_chain(std::move(contents));
    EntrySpec entry = entry_for(chain, id, flags);
    entry.timestamp = options.timestamp;
    entry.version = options.version;
    auto_entries_.push_back(entry);
    return chain;
}

ArchiveBuilder& ArchiveBuilder::add_entry(EntrySpec entry) {
    auto_entries_.push_back(entry);
    return *this;
}

EntrySpec ArchiveBuilder::entry_for(ChainRef chain, std::uint32_t id, std::uint32_t bit_flags) {
    EntrySpec entry;
    entry.bit_flags = bit_flags;
    entry.id = id;
    entry.offset = chain;
    return entry;
}

NodeRef ArchiveBuilder::add_node(NodeSpec plan) {
    nodes_.push_back(std::move(plan));
    return NodeRef{nodes_.size() - 1};
}

NodeSpec& ArchiveBuilder::node(NodeRef ref) {
    return nodes_.at(ref.index);
}

ArchiveBuilder& ArchiveBuilder::set_root(Word root) {
    root_ = root;
    return *this;
}

std::size_t ArchiveBuilder::blocks_for(std::size_t length, bool contiguous) const {
    if (contiguous) {
        return static_cast<std::size_t>(
            std::max<std::uint64_t>(1, ceil_div(kLink + length, block_size_)));
    }
    if (length == 0) {
        return 1;
    }
    if (block_size_ <= kLink) {
        throw std::invalid_argument("block size " + std::to_string(block_size_) +
                                    " has no room for payload");
    }
    return static_cast<std::size_t>(ceil_div(length, block_size_ - kLink));
}

void ArchiveBuilder::lay_out() {
    layout_ = Layout{};
    layout_.nodes = nodes_;
    std::optional<std::size_t> auto_root;
    if (!root_ && !auto_entries_.empty()) {
        // Node references inside the tree count from 0; shift them past the hand-made nodes.
        for (NodeSpec& plan : plan_directory_tree(auto_entries_)) {
            for (Word& branch : plan.branches) {
                if (auto* ref = std::get_if<NodeRef>(&branch)) {
                    ref->index += nodes_.size();
                }
            }
            layout_.nodes.push_back(std::move(plan));
        }
        auto_root = nodes_.size();
    }

    // Units of placement: one block of an ordinary chain or node, or the whole run of a
    // contiguous chain.
    struct Unit {
        bool is_node;
        std::size_t index;
        std::size_t block;
        std::size_t slots;
    };
    std::vector<Unit> units;
    layout_.chain_blocks.resize(chains_.size());
    for (std::size_t c = 0; c < chains_.size(); ++c) {
        const Chain& chain = chains_[c];
        const std::size_t blocks = blocks_for(chain.payload.size(), chain.contiguous);
        if (chain.contiguous) {
            units.push_back({false, c, 0, blocks});
            layout_.chain_blocks[c].resize(1);
        } else {
            for (std::size_t b = 0; b < blocks; ++b) {
                units.push_back({false, c, b, 1});
            }
            layout_.chain_blocks[c].resize(blocks);
        }
    }
    layout_.node_blocks.resize(layout_.nodes.size());
    for (std::size_t n = 0; n < layout_.nodes.size(); ++n) {
        const std::size_t blocks = blocks_for(kNodeBytes, false);
        for (std::size_t b = 0; b < blocks; ++b) {
            units.push_back({true, n, b, 1});
        }
        layout_.node_blocks[n].resize(blocks);
    }
    if (seed_) {
        common::SplitMix64 random(*seed_);
        for (std::size_t i = units.size(); i > 1; --i) {
            std::swap(units[i - 1], units[random.below(i)]);
        }
    }
    const std::uint64_t data_start = ceil_div(kHeaderEnd, block_size_) * block_size_;
    std::uint64_t slot = 0;
    for (const Unit& unit : units) {
        const std::uint64_t offset = data_start + slot * block_size_;
        if (offset > kMaxOffset) {
            throw std::invalid_argument("archive too large for 32-bit block offsets");
        }
        auto& blocks = unit.is_node ? layout_.node_blocks : layout_.chain_blocks;
        blocks[unit.index][unit.block] = static_cast<std::uint32_t>(offset);
        slot += unit.slots;
    }
    layout_.slots = slot;
    layout_.length = slot == 0 ? kHeaderEnd : data_start + slot * block_size_;

    if (root_) {
        layout_.root_offset = word_of(*root_);
    } else if (auto_root) {
        layout_.root_offset = word_of(NodeRef{*auto_root});
    }
    for (std::size_t n = nodes_.size(); n < layout_.nodes.size(); ++n) {
        layout_.auto_nodes.emplace_back(word_of(NodeRef{n}), layout_.nodes[n]);
    }
}

std::uint32_t ArchiveBuilder::word_of(const Word& word) const {
    if (const auto* raw = std::get_if<std::uint32_t>(&word)) {
        return *raw;
    }
    if (const auto* chain = std::get_if<ChainRef>(&word)) {
        return layout_.chain_blocks.at(chain->index).at(0);
    }
    if (const auto* node = std::get_if<NodeRef>(&word)) {
        return layout_.node_blocks.at(node->index).at(0);
    }
    const auto& block = std::get<BlockRef>(word);
    const auto& offsets = layout_.chain_blocks.at(block.chain.index);
    if (chains_.at(block.chain.index).contiguous) {
        return static_cast<std::uint32_t>(offsets.at(0) + block.block * block_size_);
    }
    return offsets.at(block.block);
}

std::uint32_t ArchiveBuilder::resolve(const Word& word) const {
    return word_of(word);
}

std::vector<std::uint8_t> ArchiveBuilder::build() {
    lay_out();
    std::vector<std::uint8_t> out(static_cast<std::size_t>(layout_.length), 0);
    VectorSink sink(out);
    emit(sink);
    return out;
}

void ArchiveBuilder::write_to(const std::filesystem::path& path) {
    lay_out();
    FileSink sink(path, layout_.length);
    emit(sink);
    sink.finish();
}

} // namespace quillmere::testkit
