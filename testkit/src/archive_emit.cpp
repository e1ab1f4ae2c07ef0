// Writing a laid-out archive: the header, then every block of every chain and node in file order.
#include "archive_format.hpp"
#include "archive_sinks.hpp"
#include "quillmere/testkit/archive_builder.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace quillmere::testkit {

using archive_format::kBranches;
using archive_format::kHeaderAt;
using archive_format::kHeaderEnd;
using archive_format::kLink;
using archive_format::kMaxOffset;
using archive_format::kNodeBytes;
using archive_format::kNodeEntries;
using archive_format::put_u32;

std::vector<std::uint8_t> ArchiveBuilder::node_bytes(const NodeSpec& plan) const {
    if (plan.entries.size() > kNodeEntries) {
        throw std::invalid_argument("a node has room for 61 entries");
    }
    std::vector<std::uint8_t> bytes(kNodeBytes, 0);
    for (std::size_t slot = 0; slot < kBranches; ++slot) {
        put_u32(bytes.data() + 4 * slot, word_of(plan.branches[slot]));
    }
    put_u32(bytes.data() + 4 * kBranches,
            plan.entry_count.value_or(static_cast<std::uint32_t>(plan.entries.size())));
    std::uint8_t* at = bytes.data() + 4 * kBranches + 4;
    for (const EntrySpec& entry : plan.entries) {
        std::uint32_t size = entry.size.value_or(0);
        if (!entry.size) {
            if (const auto* chain = std::get_if<ChainRef>(&entry.offset)) {
                size = static_cast<std::uint32_t>(chains_.at(chain->index).payload.size());
            }
        }
        const std::uint32_t fields[] = {entry.bit_flags, entry.id,     word_of(entry.offset), size,
                                        entry.timestamp, entry.version};
        for (const std::uint32_t field : fields) {
            put_u32(at, field);
            at += 4;
        }
    }
    return bytes;
}

void ArchiveBuilder::emit(Sink& sink) const {
    std::vector<std::uint8_t> head(kHeaderEnd, preamble_fill_);
    const HeaderSpec& h = header_;
    const std::uint32_t fields[] = {
        h.magic,
        h.block_size.value_or(block_size_),
        h.file_size.value_or(static_cast<std::uint32_t>(std::min(layout_.length, kMaxOffset))),
        h.dataset,
        h.subset,
        h.free_head,
        h.free_tail,
        h.free_count,
        h.root_offset.value_or(layout_.root_offset),
        h.new_lru,
        h.old_lru,
        h.use_lru,
        h.master_map_id,
        h.engine_version,
        h.game_version,
    };
    std::uint8_t* at = head.data() + kHeaderAt;
    for (const std::uint32_t field : fields) {
        put_u32(at, field);
        at += 4;
    }
    std::memcpy(at, h.version_string.data(), h.version_string.size());
    put_u32(at + h.version_string.size(), h.version_minor);
    sink.write(0, head);

    // Blocks in file order, so a file sink sees adjacent writes when nothing is shuffled.
    struct Placed {
        std::uint32_t offset;
        bool is_node;
        std::size_t index;
        std::size_t block;
    };
    std::vector<Placed> placed;
    placed.reserve(static_cast<std::size_t>(layout_.slots));
    for (std::size_t c = 0; c < chains_.size(); ++c) {
        for (std::size_t b = 0; b < layout_.chain_blocks[c].size(); ++b) {
            placed.push_back({layout_.chain_blocks[c][b], false, c, b});
        }
    }
    for (std::size_t n = 0; n < layout_.nodes.size(); ++n) {
        for (std::size_t b = 0; b < layout_.node_blocks[n].size(); ++b) {
            placed.push_back({layout_.node_blocks[n][b], true, n, b});
        }
    }
    std::sort(placed.begin(), placed.end(),
              [](const Placed& a, const Placed& b) { return a.offset < b.offset; });

    std::vector<std::uint8_t> node_payload;
    std::vector<std::uint8_t> block;
    for (const Placed& p : placed) {
        std::span<const std::uint8_t> payload;
        bool contiguous = false;
        const std::vector<std::pair<std::size_t, Word>>* links = nullptr;
        const std::vector<std::uint32_t>* offsets = nullptr;
        if (p.is_node) {
            node_payload = node_bytes(layout_.nodes[p.index]);
            payload = node_payload;
            links = &layout_.nodes[p.index].links;
            offsets = &layout_.node_blocks[p.index];
        } else {
            const Chain& chain = chains_[p.index];
            payload = chain.payload;
            contiguous = chain.contiguous;
            links = &chain.links;
            offsets = &layout_.chain_blocks[p.index];
        }
        std::uint32_t link = p.block + 1 < offsets->size() ? (*offsets)[p.block + 1] : 0;
        if (links != nullptr) {
            for (const auto& [index, target] : *links) {
                if (index == p.block) {
                    link = word_of(target);
                }
            }
        }
        std::span<const std::uint8_t> piece = payload;
        std::size_t span_bytes = block_size_;
        if (contiguous) {
            span_bytes = blocks_for(payload.size(), true) * block_size_;
        } else if (!payload.empty()) {
            const std::size_t per_block = block_size_ - kLink;
            const std::size_t start = p.block * per_block;
            piece = payload.subspan(start, std::min(per_block, payload.size() - start));
        }
        block.assign(std::max(span_bytes, kLink + piece.size()), 0);
        put_u32(block.data(), link);
        if (!piece.empty()) {
            std::memcpy(block.data() + kLink, piece.data(), piece.size());
        }
        block.resize(span_bytes);
        sink.write(p.offset, block);
    }
}

} // namespace quillmere::testkit
