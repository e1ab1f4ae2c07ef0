// Fuzz target: a whole archive. The input is written to an anonymous in-memory file, opened with
// DatDatabase::open through /proc/self/fd, and every file it lists (within a work bound) is
// fetched and fed to the decoders of all three swept file types.
//
// The directory and every chain are also read by a plain walk over the input bytes, written here
// from the format's description one block at a time, and the library (which reads chains in
// larger runs) must agree with it: the same entries, the same bytes, and failure exactly where
// the walk fails. The walk makes the library's documented choices for damaged archives: a block
// size of 4 or less and a size beyond the archive are refused, a node reached twice or more nodes
// than the archive could hold side by side end the directory walk.
#include "detail/archive_layout.hpp"
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
#include <unordered_set>
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

    // The whole directory from `root`, depth first, later entries replacing earlier ones.
    [[nodiscard]] std::optional<std::unordered_map<std::uint32_t, DatFileEntry>>
    directory(std::uint32_t root) const {
        std::unordered_map<std::uint32_t, DatFileEntry> files;
        std::vector<std::uint32_t> pending;
        std::unordered_set<std::uint32_t> visited;
        if (root != 0) {
            pending.push_back(root);
        }
        while (!pending.empty()) {
            const std::uint32_t at = pending.back();
            pending.pop_back();
            if (!visited.insert(at).second) {
                return std::nullopt;
            }
            const auto node = chain(at, static_cast<std::uint32_t>(layout::kNodeSize));
            if (!node || visited.size() > bytes.size() / layout::kNodeSize) {
                return std::nullopt;
            }
            const auto word = [&](std::size_t index) {
                return load_le<std::uint32_t>(&(*node)[4 * index]);
            };
            const std::uint32_t count = word(62);
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::size_t first = 63 + 6 * static_cast<std::size_t>(i);
                if (4 * (first + 6) > node->size()) {
                    return std::nullopt;
                }
                const DatFileEntry entry{word(first),     word(first + 1), word(first + 2),
                                         word(first + 3), word(first + 4), word(first + 5)};
                files.insert_or_assign(entry.id, entry);
            }
            if (word(0) == 0) {
                continue;
            }
            for (std::uint32_t slot = layout::child_slot_count(count); slot-- > 0;) {
                if (word(slot) != 0) {
                    pending.push_back(word(slot));
                }
            }
        }
        return files;
    }
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
                             plain_word(data, size, layout::kHeaderOffset + 4)};
    std::optional<std::unordered_map<std::uint32_t, DatFileEntry>> plain_files;
    if (size >= layout::kHeaderOffset + layout::kHeaderSize) {
        plain_files = plain.directory(plain_word(data, size, layout::kHeaderOffset + 32));
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
