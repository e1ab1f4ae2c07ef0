// compare_archives: one walk over the ids of two archives in ascending order, stored bytes
// compared before anything is decompressed.
#include "quillmere/dat/archive_diff.hpp"

#include "detail/archive_layout.hpp"
#include "detail/chain_reader.hpp"
#include "detail/database_access.hpp"

#include <algorithm>
#include <cstring>

namespace quillmere::dat {
namespace {

// A file's entries in ascending id order, of one type when asked.
std::vector<DatFileEntry> sorted_entries(const DatDatabase& db, const DiffOptions& options) {
    std::vector<DatFileEntry> entries;
    entries.reserve(db.files().size());
    for (const auto& [id, entry] : db.files()) {
        if (!options.type || (id >> 24) == *options.type) {
            entries.push_back(entry);
        }
    }
    std::sort(entries.begin(), entries.end(),
              [](const DatFileEntry& x, const DatFileEntry& y) { return x.id < y.id; });
    return entries;
}

void compare_headers(const DatHeader& a, const DatHeader& b, std::vector<HeaderDifference>& out) {
    // Every field but file_size, root_offset and the free list, in the header's order.
    const auto word = [&](std::string_view name, std::uint32_t DatHeader::*field) {
        if (a.*field != b.*field) {
            out.push_back({name, a.*field, b.*field});
        }
    };
    word("magic", &DatHeader::magic);
    word("block_size", &DatHeader::block_size);
    word("dataset", &DatHeader::dataset);
    word("subset", &DatHeader::subset);
    word("new_lru", &DatHeader::new_lru);
    word("old_lru", &DatHeader::old_lru);
    word("use_lru", &DatHeader::use_lru);
    word("master_map_id", &DatHeader::master_map_id);
    word("engine_version", &DatHeader::engine_version);
    word("game_version", &DatHeader::game_version);
    if (a.version_string != b.version_string) {
        out.push_back({"version_string", a.version_string, b.version_string});
    }
    word("version_minor", &DatHeader::version_minor);
}

bool same_bytes(const std::vector<std::uint8_t>& x, const std::vector<std::uint8_t>& y) {
    return x.size() == y.size() && (x.empty() || std::memcmp(x.data(), y.data(), x.size()) == 0);
}

// The stored bytes of one archive's files, read in the order of a sorted entry list. Chains
// are read as the verifier reads them: each run of consecutive blocks is copied out of a window
// of the file filled by one contiguous read, and a refill may read ahead as far as the files
// next in the list would end when each starts just after the one before (`ReadAheadRuns`: the
// directory's own claims, gaps of at most 64 KiB between them), so files stored in list order
// come in a few large reads. As the verifier does, files are not read once those read before them
// store more than 4 times the archive's length: a damaged directory can make many entries share
// chains.
class StoredReader {
  public:
    StoredReader(const DatDatabase& db, std::span<const DatFileEntry> entries)
        : file_(detail::DatabaseAccess::file(db)), block_size_(db.header().block_size),
          length_(db.archive_length()), entries_(entries) {}

    // The stored bytes of entry `index` of the list into `out`; errors as `read_file_data`'s.
    DatResult<void> read(std::size_t index, std::vector<std::uint8_t>& out) {
        const DatFileEntry& entry = entries_[index];
        if (entry.size == 0) {
            out.clear();
            return {};
        }
        if (!layout::block_payload_size(block_size_)) {
            return std::unexpected(detail::no_room_for_data(block_size_));
        }
        if (!readable(entry)) {
            return std::unexpected(DatError::corruption(
                "stored file of " + std::to_string(entry.size) + " bytes at offset " +
                std::to_string(entry.offset) + " is longer than the archive (" +
                std::to_string(length_) + " bytes)"));
        }
        read_ += entry.size;
        if (read_ > kStoredBoundFactor * length_) {
            return std::unexpected(DatError::other(
                "not read: the files read before it already store more than " +
                std::to_string(kStoredBoundFactor) + " times the archive's length"));
        }
        out.resize(entry.size);
        reader_.read_ahead_to(read_ahead_.end(index, entries_.size(), [this](std::size_t at) {
            const DatFileEntry& file = entries_[at];
            return readable(file) ? std::optional(detail::consecutive_chain(file.offset, file.size,
                                                                            block_size_))
                                  : std::nullopt;
        }));
        return reader_.read(file_, block_size_, entry.offset, out);
    }

  private:
    static constexpr std::uint64_t kStoredBoundFactor = 4;

    [[nodiscard]] bool readable(const DatFileEntry& entry) const noexcept {
        return entry.size <= length_;
    }

    const detail::ArchiveFile& file_;
    std::uint32_t block_size_;
    std::uint64_t length_;
    std::span<const DatFileEntry> entries_;
    detail::ReadAheadRuns read_ahead_;
    detail::ChainReader reader_;
    std::uint64_t read_ = 0;
};

// Compares the files both archives hold, reusing two buffers.
class FileComparer {
  public:
    FileComparer(const DatDatabase& a, const DatDatabase& b, std::span<const DatFileEntry> list_a,
                 std::span<const DatFileEntry> list_b)
        : a_(a), b_(b), stored_a_(a, list_a), stored_b_(b, list_b) {}

    // The difference between entry `ia` of A's list and entry `ib` of B's (the same id), or
    // nothing when the files are the same in every way that counts.
    std::optional<FileDifference> compare(std::size_t ia, const DatFileEntry& ea, std::size_t ib,
                                          const DatFileEntry& eb) {
        FileDifference diff{.id = ea.id, .a = ea, .b = eb};
        if (auto read = stored_a_.read(ia, buffer_a_); !read) {
            diff.error_a = std::move(read).error();
        }
        if (auto read = stored_b_.read(ib, buffer_b_); !read) {
            diff.error_b = std::move(read).error();
        }
        if (!diff.unreadable()) {
            diff.stored = !same_bytes(buffer_a_, buffer_b_);
            if (diff.stored || ea.is_compressed() != eb.is_compressed()) {
                compare_contents(diff);
            }
        }
        if (diff.unreadable() || diff.stored || diff.contents || diff.bit_flags_differ() ||
            diff.timestamp_differs() || diff.version_differs()) {
            return diff;
        }
        return std::nullopt;
    }

  private:
    void compare_contents(FileDifference& diff) {
        if (auto read = a_.get_file_checked(diff.id, buffer_a_); !read) {
            diff.error_a = std::move(read).error();
        }
        if (auto read = b_.get_file_checked(diff.id, buffer_b_); !read) {
            diff.error_b = std::move(read).error();
        }
        if (diff.unreadable()) {
            diff.stored = false;
            return;
        }
        diff.content_size_a = buffer_a_.size();
        diff.content_size_b = buffer_b_.size();
        diff.contents = !same_bytes(buffer_a_, buffer_b_);
    }

    const DatDatabase& a_;
    const DatDatabase& b_;
    StoredReader stored_a_;
    StoredReader stored_b_;
    std::vector<std::uint8_t> buffer_a_;
    std::vector<std::uint8_t> buffer_b_;
};

} // namespace

DatResult<ArchiveDiff> compare_archives(const DatDatabase& a, const DatDatabase& b,
                                        const DiffOptions& options) {
    ArchiveDiff diff;
    compare_headers(a.header(), b.header(), diff.header);
    auto preamble_a = a.read_preamble();
    if (!preamble_a) {
        return std::unexpected(std::move(preamble_a).error());
    }
    auto preamble_b = b.read_preamble();
    if (!preamble_b) {
        return std::unexpected(std::move(preamble_b).error());
    }
    diff.preamble = *preamble_a != *preamble_b;

    const auto entries_a = sorted_entries(a, options);
    const auto entries_b = sorted_entries(b, options);
    FileComparer comparer(a, b, entries_a, entries_b);
    std::size_t ia = 0;
    std::size_t ib = 0;
    while (ia < entries_a.size() || ib < entries_b.size()) {
        if (ib == entries_b.size() ||
            (ia < entries_a.size() && entries_a[ia].id < entries_b[ib].id)) {
            diff.only_in_a.push_back(entries_a[ia++]);
        } else if (ia == entries_a.size() || entries_b[ib].id < entries_a[ia].id) {
            diff.only_in_b.push_back(entries_b[ib++]);
        } else {
            if (auto changed = comparer.compare(ia, entries_a[ia], ib, entries_b[ib])) {
                diff.changed.push_back(std::move(*changed));
            } else {
                ++diff.same;
            }
            ++ia;
            ++ib;
        }
    }
    return diff;
}

} // namespace quillmere::dat
