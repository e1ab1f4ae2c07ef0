// Fuzz target: a whole archive. The input is written to an anonymous in-memory file, opened with
// DatDatabase::open through /proc/self/fd, and every file it lists (within a work bound) is
// fetched and fed to the decoders of all three swept file types.
//
// Every chain is also read by a plain walk over the input bytes, written here from the format's
// description one block at a time, and the library (which reads chains in larger runs) must
// agree with it: the same bytes, and failure exactly where the plain walk fails. The directory
// is walked again by the library's own tree walk with each node read so, and `open` must give
// the same entries, and fail exactly where that walk meets its first problem. The plain walk
// makes the library's documented choices for damaged archives: a block size of 4 or less and a
// size beyond the archive are refused.
#include "detail/archive_layout.hpp"
#include "detail/directory_walk.hpp"
#include "fuzz_support.hpp"
#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"
#include "quillmere/dat/lrs.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

using quillmere::common::ByteCursor;
using quillmere::common::load_le;
using quillmere::dat::DatDatabase;
using quillmere::dat::DatError;
using quillmere::dat::DatFileEntry;
namespace layout = quillmere::dat::layout;

namespace {

// Work bound per input: the lowest ids first, at most this many files, blocks per chain and
// bytes in all. The library's own cost is proportional to the archive; these keep one input of
// a hostile but legal shape (tiny blocks, many entries) from taking seconds.
constexpr std::size_t kMaxFiles = 32;
constexpr std::uint64_t kMaxBlocksPerFile = 4096;
constexpr std::uint64_t kMaxBytesFetched = 4U << 20;

// The archive as the plain walk sees it: the input bytes and the header's block size.
struct PlainArchive {
    std::span<const std::uint8_t> bytes;
    std::uint32_t block_size = 0;

    [[nodiscard]] std::optional<std::uint32_t> word_at(std::uint64_t at) const {
        if (at > bytes.size() || bytes.size() - at < 4) {
            return std::nullopt;
        }
        return load_le<std::uint32_t>(bytes.data() + at);
    }

    // A stored file's bytes: a chain no longer than the archive.
    [[nodiscard]] std::optional<std::vector<std::uint8_t>> file(std::uint32_t offset,
                                                                std::uint32_t size) const {
        if (size > bytes.size()) {
            return std::nullopt;
        }
        return chain(offset, size);
    }

    // `size` bytes of the chain at `offset`, one block at a time; nothing on any failure.
    [[nodiscard]] std::optional<std::vector<std::uint8_t>> chain(std::uint32_t offset,
                                                                 std::uint32_t size) const {
        std::vector<std::uint8_t> out;
        if (size == 0) {
            return out;
        }
        if (block_size <= 4) {
            return std::nullopt;
        }
        std::uint64_t block = offset;
        while (out.size() < size) {
            const auto next = word_at(block);
            if (!next) {
                return std::nullopt;
            }
            const std::size_t missing = size - out.size();
            const std::size_t length =
                *next != 0 ? std::min<std::size_t>(missing, block_size - 4) : missing;
            const std::uint64_t payload = block + 4;
            if (payload > bytes.size() || bytes.size() - payload < length) {
                return std::nullopt;
            }
            out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(payload),
                       bytes.begin() + static_cast<std::ptrdiff_t>(payload + length));
            block = *next;
        }
        return out;
    }
};

// The library's directory walk with every node read by the plain chain walk: the entries of
// every node in walk order, later ones replacing earlier ones; nothing at the first problem.
class PlainDirectory final : public quillmere::dat::detail::DirectoryVisitor {
  public:
    explicit PlainDirectory(const PlainArchive& archive) : archive_(archive) {}

    bool read_node(const quillmere::dat::detail::NodePlace& place,
                   std::span<std::uint8_t, layout::kNodeSize> bytes) override {
        const auto node = archive_.chain(place.offset, static_cast<std::uint32_t>(bytes.size()));
        if (!node) {
            failed_ = true;
            return false;
        }
        std::copy(node->begin(), node->end(), bytes.begin());
        return true;
    }
    void visit(const quillmere::dat::detail::NodePlace&,
               const quillmere::dat::DirectoryNode& node) override {
        for (const DatFileEntry& entry : node.used_entries()) {
            files_.insert_or_assign(entry.id, entry);
        }
    }
    void revisited(const quillmere::dat::detail::NodePlace&) override { failed_ = true; }
    void overfull(const quillmere::dat::detail::NodePlace&, std::uint32_t,
                  const quillmere::common::DecodeError&) override {
        failed_ = true;
    }
    void too_many_nodes(const quillmere::dat::detail::NodePlace&) override { failed_ = true; }
    [[nodiscard]] bool done() const override { return failed_; }

    [[nodiscard]] std::optional<std::unordered_map<std::uint32_t, DatFileEntry>>
    files(std::uint32_t root) && {
        quillmere::dat::detail::walk_directory(root, archive_.bytes.size(), *this);
        if (failed_) {
            return std::nullopt;
        }
        return std::move(files_);
    }

  private:
    const PlainArchive& archive_;
    std::unordered_map<std::uint32_t, DatFileEntry> files_;
    bool failed_ = false;
};

void exercise(const DatError& error) {
    FUZZ_CHECK(!error.message().empty());
    FUZZ_CHECK(!error.diagnostic().empty());
}

// The three sweeps' decoders on one file's bytes, with their round-trip properties.
void decode_all(std::span<const std::uint8_t> bytes) {
    namespace ft = quillmere::dat::file_type;
    {
        ByteCursor cursor(bytes);
        auto animation = ft::animation::Animation::read(cursor);
        if (animation) {
            FUZZ_CHECK(animation->part_frames.size() == animation->num_frames);
        } else {
            quillmere::fuzz::exercise_error(animation.error());
        }
    }
    {
        ByteCursor cursor(bytes);
        auto model = ft::setup_model::SetupModel::read(cursor);
        if (model) {
            for (const auto& [key, placement] : model->placement_frames) {
                FUZZ_CHECK(placement.anim_frame.frames.size() == model->parts.size());
            }
        } else {
            quillmere::fuzz::exercise_error(model.error());
        }
    }
    {
        auto script = ft::physics_script::PhysicsScript::unpack(bytes);
        if (script) {
            auto packed = script->pack();
            FUZZ_CHECK(packed.has_value());
            FUZZ_CHECK(packed->size() <= bytes.size());
            FUZZ_CHECK(std::equal(packed->begin(), packed->end(), bytes.begin()));
        } else {
            quillmere::fuzz::exercise_error(script.error());
        }
    }
}

// A header word of the input, or 0 past its end.
std::uint32_t plain_word(const std::uint8_t* data, std::size_t size, std::uint64_t at) {
    return at + 4 <= size ? load_le<std::uint32_t>(data + at) : 0;
}

// Blocks a chain of `size` bytes may visit: every block but the last carries `block_size - 4`.
std::uint64_t blocks_for(std::uint32_t size, std::uint32_t block_size) {
    const auto payload = quillmere::dat::layout::block_payload_size(block_size);
    if (!payload) {
        return 1; // refused at the first read
    }
    return (static_cast<std::uint64_t>(size) + *payload - 1) / *payload;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto db = DatDatabase::open(
        quillmere::fuzz::as_memory_file(quillmere::fuzz::input_bytes(data, size)));

    const PlainArchive plain{quillmere::fuzz::input_bytes(data, size),
                             plain_word(data, size, layout::header_field::kBlockSize)};
    std::optional<std::unordered_map<std::uint32_t, DatFileEntry>> plain_files;
    if (size >= layout::kHeaderOffset + layout::kHeaderSize) {
        plain_files =
            PlainDirectory(plain).files(plain_word(data, size, layout::header_field::kRootOffset));
    }
    FUZZ_CHECK_MSG(db.has_value() == plain_files.has_value(),
                   db ? "the library opened an archive the plain walk refuses"
                      : "the library refused an archive the plain walk opens: " +
                            db.error().message());
    if (!db) {
        exercise(db.error());
        FUZZ_CHECK(db.error().kind() != DatError::Kind::PathError);
        return 0;
    }
    FUZZ_CHECK(db->archive_length() == size);
    FUZZ_CHECK(db->files() == *plain_files);

    std::vector<std::uint32_t> ids;
    ids.reserve(db->files().size());
    for (const auto& [id, entry] : db->files()) {
        FUZZ_CHECK(entry.id == id);
        ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    if (ids.empty() || ids.back() != 0xFFFFFFFF) {
        const std::uint32_t absent = ids.empty() ? 0 : ids.back() + 1;
        auto missing = db->get_file(absent);
        FUZZ_CHECK(!missing && missing.error().kind() == DatError::Kind::NotFound);
        FUZZ_CHECK(missing.error().file_id() == absent);
    }

    std::uint64_t fetched = 0;
    for (std::size_t i = 0; i < ids.size() && i < kMaxFiles; ++i) {
        const auto& entry = db->files().at(ids[i]);
        if (blocks_for(entry.size, db->header().block_size) > kMaxBlocksPerFile ||
            fetched + entry.size > kMaxBytesFetched) {
            continue;
        }
        fetched += entry.size;
        auto file = db->get_file(entry.id);
        auto stored = db->read_file_data(entry.offset, entry.size);
        FUZZ_CHECK(file.has_value() == stored.has_value());
        const auto plain_stored = plain.file(entry.offset, entry.size);
        FUZZ_CHECK_MSG(stored.has_value() == plain_stored.has_value(),
                       stored ? "the library read a chain the plain walk cannot"
                              : "the library failed a chain the plain walk reads: " +
                                    stored.error().message());
        FUZZ_CHECK(!stored || *stored == *plain_stored);
        if (!file) {
            exercise(file.error());
            FUZZ_CHECK(file.error().message() == stored.error().message());
            continue;
        }
        FUZZ_CHECK(stored->size() == entry.size);
        if (entry.is_compressed()) {
            FUZZ_CHECK(*file == quillmere::dat::utils::decompress_lrs(*stored));
        } else {
            FUZZ_CHECK(*file == *stored);
        }
        decode_all(*file);
    }
    return 0;
}
