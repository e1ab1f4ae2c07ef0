// Builds real portal archives from chains, nodes and a header.
#include "quillmere/testkit/archive_builder.hpp"

#include "quillmere/common/random.hpp"
#include "quillmere/testkit/lrs_compressor.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <utility>

namespace quillmere::testkit {
namespace {

// The format's fixed facts, restated here rather than taken from the library.
constexpr std::uint64_t kHeaderAt = 320;
constexpr std::uint64_t kHeaderEnd = 400;
constexpr std::size_t kLink = 4;
constexpr std::size_t kBranches = 62;
constexpr std::size_t kNodeEntries = 61;
constexpr std::size_t kEntryBytes = 24;
constexpr std::size_t kNodeBytes = kBranches * 4 + 4 + kNodeEntries * kEntryBytes; // 1716
constexpr std::uint64_t kMaxOffset = std::numeric_limits<std::uint32_t>::max();

void put_u32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint64_t ceil_div(std::uint64_t a, std::uint64_t b) {
    return (a + b - 1) / b;
}

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

// Where blocks go: a byte vector or a file.
class ArchiveBuilder::Sink {
  public:
    virtual ~Sink() = default;
    virtual void write(std::uint64_t offset, std::span<const std::uint8_t> bytes) = 0;
};

namespace {

class VectorSink final : public ArchiveBuilder::Sink {
  public:
    explicit VectorSink(std::vector<std::uint8_t>& out) : out_(out) {}
    void write(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        if (!bytes.empty()) {
            std::memcpy(out_.data() + offset, bytes.data(), bytes.size());
        }
    }

  private:
    std::vector<std::uint8_t>& out_;
};

// Collects adjacent writes into one buffer and writes it with pwrite when the next write is
// elsewhere or the buffer is full, so an unshuffled archive goes out in large pieces.
class FileSink final : public ArchiveBuilder::Sink {
  public:
    FileSink(const std::filesystem::path& path, std::uint64_t length) : path_(path) {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0) {
            fail("open");
        }
        if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) {
            fail("ftruncate");
        }
    }
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;
    ~FileSink() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    void write(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        if (offset != start_ + pending_.size() || pending_.size() >= kFlushAt) {
            flush();
            start_ = offset;
        }
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    }

    void finish() {
        flush();
        if (::close(std::exchange(fd_, -1)) != 0) {
            fail("close");
        }
    }

  private:
    static constexpr std::size_t kFlushAt = 1 << 20;

    void flush() {
        std::size_t done = 0;
        while (done < pending_.size()) {
            const ssize_t wrote = ::pwrite(fd_, pending_.data() + done, pending_.size() - done,
                                           static_cast<off_t>(start_ + done));
            if (wrote < 0 && errno == EINTR) {
                continue;
            }
            if (wrote <= 0) {
                fail("pwrite");
            }
            done += static_cast<std::size_t>(wrote);
        }
        pending_.clear();
    }

    [[noreturn]] void fail(const char* what) const {
        throw std::runtime_error(std::string(what) + " " + path_.string() + ": " +
                                 std::strerror(errno));
    }

    std::filesystem::path path_;
    int fd_ = -1;
    std::uint64_t start_ = 0;
    std::vector<std::uint8_t> pending_;
};

} // namespace

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
        std::vector<EntrySpec> sorted = auto_entries_;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const EntrySpec& a, const EntrySpec& b) { return a.id < b.id; });
        unsigned height = 1;
        while (tree_capacity(height) < sorted.size()) {
            ++height;
        }
        std::vector<NodeSpec> tree;
        build_subtree(sorted, height, tree);
        // Node references inside the tree count from 0; shift them past the hand-made nodes.
        for (NodeSpec& plan : tree) {
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
