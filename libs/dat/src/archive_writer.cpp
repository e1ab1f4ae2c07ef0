// Writing an archive: file chains streamed through a write buffer, then the directory tree and
// the header. Three pieces, in this order below: the directory's plan (which entries each node
// holds, which nodes are its children), the ChainWriter (consecutive blocks appended through the
// buffer) and ArchiveWriter::State (the entries written so far, and the steps of finish).
#include "quillmere/dat/archive_writer.hpp"

#include "detail/archive_layout.hpp"
#include "detail/atomic_output.hpp"
#include "quillmere/common/byte_writer.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/common/try.hpp"
#include "quillmere/dat/lrs.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <unistd.h>
#include <unordered_set>
#include <utility>
#include <vector>

namespace quillmere::dat {
namespace {

constexpr std::uint32_t kDefaultBlockSize = 1024;
constexpr std::uint32_t kMaxBlockSize = 1U << 20;
constexpr std::size_t kWriteBuffer = std::size_t{1} << 20;
// The header's `file_size` holds the archive's length, so that is the limit; every offset
// below it fits the link words and entries too.
constexpr std::uint64_t kMaxArchiveLength = std::numeric_limits<std::uint32_t>::max();

std::uint64_t ceil_div(std::uint64_t a, std::uint64_t b) noexcept {
    return (a + b - 1) / b;
}

std::string file_name(std::uint32_t id) {
    return "file 0x" + common::hex8(id);
}

DatError too_large(const std::string& what, std::uint64_t end) {
    return DatError::refused(WriteRefusal::ArchiveTooLarge,
                             "archive too large for 32-bit offsets: " + what +
                                 " would end at byte " + std::to_string(end));
}

// The directory's shape: nodes in pre-order (root first, each subtree complete before the
// next), each with its entries (indices into the sorted entry list) and children (indices into
// the plan, in slot order; none for a leaf).
struct NodePlan {
    std::vector<std::size_t> entries;
    std::vector<std::size_t> children;
};

// Entries a subtree of `height` levels holds when full: 62^height - 1.
std::uint64_t subtree_capacity(unsigned height) noexcept {
    std::uint64_t capacity = 1;
    for (unsigned level = 0; level < height; ++level) {
        capacity *= layout::kBranchCount;
    }
    return capacity - 1;
}

// Plans the subtree of `count` entries from `first` with every leaf `height` levels down, and
// returns its root's index. An inner node takes the fewest children whose subtrees can hold the
// entries (at least two) and spreads the entries evenly over them, one separator between each
// pair of neighbours, so every node but the root is at least about half full.
std::size_t plan_subtree(std::size_t first, std::size_t count, unsigned height,
                         std::vector<NodePlan>& plan) {
    const std::size_t self = plan.size();
    plan.emplace_back();
    if (height == 1) {
        assert(count <= layout::kMaxEntries && "a leaf holds at most 61 entries");
        for (std::size_t i = 0; i < count; ++i) {
            plan[self].entries.push_back(first + i);
        }
        return self;
    }
    const std::uint64_t child_capacity = subtree_capacity(height - 1);
    const auto children = static_cast<std::size_t>(
        std::max<std::uint64_t>(2, ceil_div(count + 1, child_capacity + 1)));
    assert(children <= layout::kBranchCount && count >= children - 1 && "subtree too full");
    const std::size_t in_children = count - (children - 1);
    std::size_t at = first;
    for (std::size_t child = 0; child < children; ++child) {
        const std::size_t share = in_children / children + (child < in_children % children ? 1 : 0);
        const std::size_t child_index = plan_subtree(at, share, height - 1, plan);
        plan[self].children.push_back(child_index);
        at += share;
        if (child + 1 < children) {
            plan[self].entries.push_back(at++);
        }
    }
    return self;
}

std::vector<NodePlan> plan_directory(std::size_t entry_count) {
    std::vector<NodePlan> plan;
    if (entry_count == 0) {
        return plan;
    }
    unsigned height = 1;
    while (subtree_capacity(height) < entry_count) {
        ++height;
    }
    plan_subtree(0, entry_count, height, plan);
    return plan;
}

// Chains of consecutive blocks appended one after another from the first block on, through a
// write buffer: `buffer_[0]` belongs at offset `buffer_start_`, and the next block at `end_`.
// An error leaves the stream unusable; the writer then ends (see `ArchiveWriter::State::fail`).
class ChainWriter {
  public:
    ChainWriter(detail::AtomicOutput& output, std::uint32_t block_size, std::uint64_t data_start)
        : output_(output), block_size_(block_size),
          payload_size_(block_size - static_cast<std::uint32_t>(layout::kLinkSize)),
          end_(data_start), buffer_(std::max<std::size_t>(kWriteBuffer, block_size)),
          buffer_start_(data_start) {}

    [[nodiscard]] std::uint32_t block_size() const noexcept { return block_size_; }
    /// Where the next chain will start: the archive's length so far.
    [[nodiscard]] std::uint64_t end() const noexcept { return end_; }

    /// Bytes a chain of `length` payload bytes takes, whole blocks.
    [[nodiscard]] std::uint64_t chain_span(std::uint64_t length) const noexcept {
        return ceil_div(length, payload_size_) * block_size_;
    }

    /// Appends `payload` as a chain and returns its first block's offset (0 for an empty
    /// payload, which takes no block). The caller has checked that the chain fits below the
    /// 32-bit limit.
    [[nodiscard]] DatResult<std::uint32_t> write(std::span<const std::uint8_t> payload) {
        if (payload.empty()) {
            return 0U;
        }
        const auto first = static_cast<std::uint32_t>(end_);
        QM_TRY_VOID(write_part(payload, 0, payload.size()));
        return first;
    }

    /// Appends the next `length` bytes of `fd` as a chain, read a stage (whole blocks'
    /// payloads, about the write buffer's size) at a time. A failed or short read is an error.
    [[nodiscard]] DatResult<std::uint32_t> write_from(int fd, std::uint64_t length,
                                                      std::uint32_t id) {
        if (length == 0) {
            return 0U;
        }
        const auto first = static_cast<std::uint32_t>(end_);
        std::vector<std::uint8_t> stage(std::max<std::size_t>(1, kWriteBuffer / block_size_) *
                                        payload_size_);
        std::uint64_t done = 0;
        while (done < length) {
            const auto want =
                static_cast<std::size_t>(std::min<std::uint64_t>(stage.size(), length - done));
            QM_TRY_VOID(read_stage(fd, std::span(stage.data(), want), done, length, id));
            QM_TRY_VOID(write_part(std::span(stage.data(), want), done, length));
            done += want;
        }
        return first;
    }

    /// Writes out the buffered blocks.
    [[nodiscard]] DatResult<void> flush() {
        if (buffered_ == 0) {
            return {};
        }
        QM_TRY_VOID(output_.write_at(std::span(buffer_.data(), buffered_), buffer_start_));
        buffer_start_ += buffered_;
        buffered_ = 0;
        return {};
    }

    /// Gives the write buffer's memory back once nothing more is written.
    void release() noexcept { std::vector<std::uint8_t>().swap(buffer_); }

  private:
    // Appends `payload` to a chain of `total` bytes of which `before` are already written.
    // `before` is a multiple of the payload size, so each call starts a block; the block
    // holding byte `total - 1` ends the chain.
    [[nodiscard]] DatResult<void> write_part(std::span<const std::uint8_t> payload,
                                             std::uint64_t before, std::uint64_t total) {
        std::size_t done = 0;
        while (done < payload.size()) {
            if (buffer_.size() - buffered_ < block_size_) {
                QM_TRY_VOID(flush());
            }
            const std::size_t piece = std::min<std::size_t>(payload_size_, payload.size() - done);
            const bool last = before + done + piece == total;
            std::uint8_t* block = buffer_.data() + buffered_;
            common::store_le(block, last ? 0U : static_cast<std::uint32_t>(end_ + block_size_));
            std::memcpy(block + layout::kLinkSize, payload.data() + done, piece);
            std::memset(block + layout::kLinkSize + piece, 0, payload_size_ - piece);
            buffered_ += block_size_;
            end_ += block_size_;
            done += piece;
        }
        return {};
    }

    // Fills `stage` from `fd`, whose file `id` of `length` bytes has `done` read already.
    [[nodiscard]] static DatResult<void> read_stage(int fd, std::span<std::uint8_t> stage,
                                                    std::uint64_t done, std::uint64_t length,
                                                    std::uint32_t id) {
        std::size_t got = 0;
        while (got < stage.size()) {
            const ssize_t n = ::read(fd, stage.data() + got, stage.size() - got);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return std::unexpected(DatError(common::IoError::from_errno(errno)));
            }
            if (n == 0) {
                return std::unexpected(DatError::other(file_name(id) + " ended after " +
                                                       std::to_string(done + got) + " of " +
                                                       std::to_string(length) + " bytes"));
            }
            got += static_cast<std::size_t>(n);
        }
        return {};
    }

    detail::AtomicOutput& output_;
    std::uint32_t block_size_;
    std::uint32_t payload_size_;
    std::uint64_t end_;
    std::vector<std::uint8_t> buffer_;
    std::size_t buffered_ = 0;
    std::uint64_t buffer_start_;
};

// The bytes of one planned node: its children's offsets (nodes lie one after another from
// `directory_start`, `node_span` bytes each, in plan order) and its entries.
std::vector<std::uint8_t> node_bytes(const NodePlan& plan, std::span<const DatFileEntry> sorted,
                                     std::uint64_t directory_start, std::uint64_t node_span) {
    DirectoryNode node;
    for (std::size_t slot = 0; slot < plan.children.size(); ++slot) {
        node.branches[slot] =
            static_cast<std::uint32_t>(directory_start + plan.children[slot] * node_span);
    }
    node.entry_count = static_cast<std::uint32_t>(plan.entries.size());
    for (std::size_t i = 0; i < plan.entries.size(); ++i) {
        node.entries[i] = sorted[plan.entries[i]];
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(layout::kNodeSize);
    common::ByteWriter writer(bytes);
    node.write_le(writer);
    return bytes;
}

// Writes the directory of `entries` (sorted here by id) after the files, root first, and
// returns the root's offset (0 for an empty directory).
DatResult<std::uint32_t> write_directory(ChainWriter& chains, std::vector<DatFileEntry>& entries) {
    std::sort(entries.begin(), entries.end(),
              [](const DatFileEntry& a, const DatFileEntry& b) { return a.id < b.id; });
    const std::vector<NodePlan> plan = plan_directory(entries.size());
    const std::uint64_t directory_start = chains.end();
    const std::uint64_t node_span = chains.chain_span(layout::kNodeSize);
    const std::uint64_t length = directory_start + plan.size() * node_span;
    if (length > kMaxArchiveLength) {
        return std::unexpected(
            too_large("the directory of " + std::to_string(entries.size()) + " entries", length));
    }
    for (const NodePlan& node : plan) {
        const auto bytes = node_bytes(node, entries, directory_start, node_span);
        QM_TRY_VOID(chains.write(bytes));
    }
    return plan.empty() ? 0U : static_cast<std::uint32_t>(directory_start);
}

// The template completed with what was written: the block size, the archive's length, the root
// and an empty free list; `version_string` padded to its 16 bytes.
void complete_header(DatHeader& header, const ChainWriter& chains, std::uint32_t root) {
    header.block_size = chains.block_size();
    header.file_size = static_cast<std::uint32_t>(chains.end());
    header.free_head = 0;
    header.free_tail = 0;
    header.free_count = 0;
    header.root_offset = root;
    header.version_string.resize(16);
}

// Refuses plain contents whose flags mark them compressed: every reader would take them for a
// compressed stream.
DatResult<void> check_plain_flags(std::uint32_t id, std::uint32_t bit_flags) {
    if ((bit_flags & 1U) != 0) {
        return std::unexpected(
            DatError::refused(WriteRefusal::FlagsContradictStorage,
                              file_name(id) + " is stored plain but its bit_flags 0x" +
                                  common::hex8(bit_flags) + " mark it compressed"));
    }
    return {};
}

} // namespace

// The writer: its output, the header to write, the chains written so far and their entries,
// and whether it can still write. Any failed write ends it (`fail`).
struct ArchiveWriter::State {
    enum class Phase : std::uint8_t { Open, Finished, Failed };

    State(detail::AtomicOutput output_file, DatHeader header_template, std::uint32_t block_size)
        : output(std::move(output_file)), header(std::move(header_template)),
          data_start(ceil_div(layout::kHeaderEnd, block_size) * block_size),
          chains(output, block_size, data_start) {}

    detail::AtomicOutput output;
    DatHeader header;
    std::array<std::uint8_t, kPreambleSize> preamble{};
    // Where the first block goes: the first multiple of the block size after the header.
    std::uint64_t data_start = 0;
    ChainWriter chains;
    std::vector<DatFileEntry> entries;
    std::unordered_set<std::uint32_t> ids;
    Phase phase = Phase::Open;

    [[nodiscard]] DatResult<void> usable() const {
        switch (phase) {
        case Phase::Open:
            return {};
        case Phase::Finished:
            return std::unexpected(DatError::refused(WriteRefusal::Finished,
                                                     "the archive writer has already finished"));
        case Phase::Failed:
            break;
        }
        return std::unexpected(DatError::refused(WriteRefusal::StoppedAtError,
                                                 "the archive writer stopped at an earlier error"));
    }

    // Ends the writer after a failed write: the temporary file goes, the output stays as it was.
    [[nodiscard]] DatError fail(DatError error) noexcept {
        output.discard();
        phase = Phase::Failed;
        chains.release();
        return error;
    }

    // `result`, ending the writer when it is an error.
    template <class T>
    [[nodiscard]] DatResult<T> ending_on_error(DatResult<T> result) {
        if (!result) {
            return std::unexpected(fail(std::move(result).error()));
        }
        return result;
    }

    [[nodiscard]] DatResult<void> check_new_id(std::uint32_t id) const {
        QM_TRY_VOID(usable());
        if (ids.contains(id)) {
            return std::unexpected(DatError::duplicate_id(id));
        }
        return {};
    }

    // Refuses a chain of `length` stored bytes for `id` that would end past the 32-bit limit.
    [[nodiscard]] DatResult<void> check_room(std::uint32_t id, std::uint64_t length) const {
        const std::uint64_t chain_end = chains.end() + chains.chain_span(length);
        if (chain_end > kMaxArchiveLength) {
            return std::unexpected(too_large(
                file_name(id) + " of " + std::to_string(length) + " stored bytes", chain_end));
        }
        return {};
    }

    // Records `entry`, whose chain is written, as the file of its id.
    DatFileEntry record(const DatFileEntry& entry) {
        ids.insert(entry.id);
        entries.push_back(entry);
        return entry;
    }

    // Stores `stored` as the chain of `entry` (whose other fields are set) and records it.
    [[nodiscard]] DatResult<DatFileEntry> place(DatFileEntry entry,
                                                std::span<const std::uint8_t> stored) {
        QM_TRY_VOID(check_room(entry.id, stored.size()));
        QM_TRY(entry.offset, ending_on_error(chains.write(stored)));
        entry.size = static_cast<std::uint32_t>(stored.size());
        return record(entry);
    }

    // Stores the next `length` bytes of `fd` as the chain of `entry` and records it.
    [[nodiscard]] DatResult<DatFileEntry> place_from(DatFileEntry entry, int fd,
                                                     std::uint64_t length) {
        QM_TRY_VOID(check_room(entry.id, length));
        QM_TRY(entry.offset, ending_on_error(chains.write_from(fd, length, entry.id)));
        entry.size = static_cast<std::uint32_t>(length);
        return record(entry);
    }

    [[nodiscard]] DatResult<DatHeader> finish() {
        QM_TRY_VOID(usable());
        QM_TRY(const std::uint32_t root, ending_on_error(write_directory(chains, entries)));
        QM_TRY_VOID(ending_on_error(chains.flush()));
        complete_header(header, chains, root);
        QM_TRY_VOID(ending_on_error(output.write_at(head_bytes(), 0)));
        if (auto committed = output.commit(); !committed) {
            phase = Phase::Failed;
            return std::unexpected(std::move(committed).error());
        }
        phase = Phase::Finished;
        chains.release();
        return header;
    }

    // The bytes before the first block: the preamble, the header and zeros.
    [[nodiscard]] std::vector<std::uint8_t> head_bytes() const {
        std::vector<std::uint8_t> head(static_cast<std::size_t>(data_start), 0);
        std::copy(preamble.begin(), preamble.end(), head.begin());
        common::ByteWriter writer(head, layout::kHeaderOffset);
        header.write_le(writer);
        return head;
    }
};

ArchiveWriter::ArchiveWriter(std::unique_ptr<State> state) noexcept : state_(std::move(state)) {}
ArchiveWriter::ArchiveWriter(ArchiveWriter&&) noexcept = default;
ArchiveWriter& ArchiveWriter::operator=(ArchiveWriter&&) noexcept = default;
ArchiveWriter::~ArchiveWriter() = default;

DatResult<ArchiveWriter> ArchiveWriter::create(const std::filesystem::path& output_path,
                                               const DatHeader& header_template) {
    const std::uint32_t block_size =
        header_template.block_size == 0 ? kDefaultBlockSize : header_template.block_size;
    if (!layout::block_payload_size(block_size) || block_size > kMaxBlockSize) {
        return std::unexpected(DatError::refused(
            WriteRefusal::BlockSize, "block size " + std::to_string(block_size) +
                                         " is not supported: it must be above 4 and at most " +
                                         std::to_string(kMaxBlockSize)));
    }
    if (header_template.version_string.size() > 16) {
        return std::unexpected(DatError::refused(
            WriteRefusal::VersionString, "version string of " +
                                             std::to_string(header_template.version_string.size()) +
                                             " bytes does not fit the header's 16"));
    }
    QM_TRY(auto output, detail::AtomicOutput::create(output_path));

    auto state = std::make_unique<State>(std::move(output), header_template, block_size);
    return ArchiveWriter(std::move(state));
}

DatResult<ArchiveWriter>
ArchiveWriter::create(const std::filesystem::path& output_path, const DatHeader& header_template,
                      std::span<const std::uint8_t, kPreambleSize> preamble) {
    QM_TRY(ArchiveWriter writer, create(output_path, header_template));
    std::copy(preamble.begin(), preamble.end(), writer.state_->preamble.begin());
    return writer;
}

DatResult<DatFileEntry> ArchiveWriter::add_file(std::uint32_t id,
                                                std::span<const std::uint8_t> contents,
                                                FileFields fields, Storage storage) {
    QM_TRY_VOID(state_->check_new_id(id));
    DatFileEntry entry{.bit_flags = fields.bit_flags,
                       .id = id,
                       .timestamp = fields.timestamp,
                       .version = fields.version};
    if (storage == Storage::Plain) {
        QM_TRY_VOID(check_plain_flags(id, fields.bit_flags));
        return state_->place(entry, contents);
    }
    if (contents.size() > std::numeric_limits<std::uint32_t>::max()) {
        return std::unexpected(
            DatError::refused(WriteRefusal::ContentsTooLong,
                              file_name(id) + " of " + std::to_string(contents.size()) +
                                  " bytes is too long to compress (4 GiB or more)"));
    }
    entry.bit_flags |= 1U;
    const std::vector<std::uint8_t> stored = utils::compress_lrs(contents);
    return state_->place(entry, stored);
}

DatResult<DatFileEntry> ArchiveWriter::add_file_from(std::uint32_t id, int fd, std::uint64_t length,
                                                     FileFields fields) {
    QM_TRY_VOID(state_->check_new_id(id));
    QM_TRY_VOID(check_plain_flags(id, fields.bit_flags));
    const DatFileEntry entry{.bit_flags = fields.bit_flags,
                             .id = id,
                             .timestamp = fields.timestamp,
                             .version = fields.version};
    return state_->place_from(entry, fd, length);
}

DatResult<DatFileEntry> ArchiveWriter::add_stored(const DatFileEntry& entry,
                                                  std::span<const std::uint8_t> stored_bytes) {
    QM_TRY_VOID(state_->check_new_id(entry.id));
    if (stored_bytes.size() != entry.size) {
        return std::unexpected(DatError::refused(
            WriteRefusal::StoredSizeMismatch,
            file_name(entry.id) + " has " + std::to_string(stored_bytes.size()) +
                " stored bytes but its entry says " + std::to_string(entry.size)));
    }
    return state_->place(entry, stored_bytes);
}

DatResult<DatHeader> ArchiveWriter::finish() {
    return state_->finish();
}

std::uint32_t ArchiveWriter::block_size() const noexcept {
    return state_->chains.block_size();
}

std::size_t ArchiveWriter::file_count() const noexcept {
    return state_->entries.size();
}

const std::filesystem::path& ArchiveWriter::temporary_path() const noexcept {
    return state_->output.temporary_path();
}

} // namespace quillmere::dat
