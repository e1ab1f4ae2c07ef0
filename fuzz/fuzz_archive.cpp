// Fuzz target: a whole archive. The input is written to an anonymous in-memory file, opened with
// DatDatabase::open through /proc/self/fd, and every file it lists (within a work bound) is
// fetched and fed to the decoders of all three swept file types.
#include "fuzz_support.hpp"
#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/dat/archive_layout.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"
#include "quillmere/dat/lrs.hpp"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using quillmere::common::ByteCursor;
using quillmere::dat::DatDatabase;
using quillmere::dat::DatError;

namespace {

// Work bound per input: the lowest ids first, at most this many files, blocks per chain and
// bytes in all. The library's own cost is proportional to the archive; these keep one input of
// a hostile but legal shape (tiny blocks, many entries) from taking seconds.
constexpr std::size_t kMaxFiles = 32;
constexpr std::uint64_t kMaxBlocksPerFile = 4096;
constexpr std::uint64_t kMaxBytesFetched = 4U << 20;

// One anonymous in-memory file for the whole run, rewritten for every input.
int archive_fd() {
    static const int fd = [] {
        const int created = ::memfd_create("quillmere-fuzz-archive", MFD_CLOEXEC);
        FUZZ_CHECK_MSG(created >= 0, "memfd_create failed: errno " + std::to_string(errno));
        return created;
    }();
    return fd;
}

void store(int fd, std::span<const std::uint8_t> bytes) {
    FUZZ_CHECK(::ftruncate(fd, 0) == 0);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + written, bytes.size() - written,
                                   static_cast<off_t>(written));
        FUZZ_CHECK(n > 0 || (n < 0 && errno == EINTR));
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        }
    }
}

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
    const int fd = archive_fd();
    store(fd, quillmere::fuzz::input_bytes(data, size));
    auto db = DatDatabase::open("/proc/self/fd/" + std::to_string(fd));
    if (!db) {
        exercise(db.error());
        FUZZ_CHECK(db.error().kind() != DatError::Kind::PathError);
        return 0;
    }
    FUZZ_CHECK(db->archive_length() == size);

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
