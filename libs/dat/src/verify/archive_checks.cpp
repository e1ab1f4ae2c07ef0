// The verifier's last step, over what every chain read: bytes read by two owners, the free-block
// list, and the bytes no chain reads.
#include "detail/archive_layout.hpp"
#include "detail/radix_sort.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/common/text.hpp"
#include "verify/verify_state.hpp"

#include <algorithm>
#include <array>
#include <tuple>
#include <unordered_set>
#include <utility>

namespace quillmere::dat::detail {
namespace {

// The overlap sweep lists at most this many pairs of owners, and makes at most this many
// comparisons, before it only counts; an archive a writer could have made needs neither, so
// these bound only hostile ones.
constexpr std::size_t kMaxListedPairs = std::size_t{1} << 16;
constexpr std::uint64_t kMaxComparisons = std::uint64_t{1} << 22;

std::optional<std::uint32_t> file_id_of(const Verifier::State& state, std::uint32_t owner) {
    if (owner < state.node_offsets.size()) {
        return std::nullopt;
    }
    return state.files[owner - state.node_offsets.size()].entry.id;
}

// Sweeps the extents in order of their start, keeping those still open in a heap by end: each
// extent overlaps exactly the open ones when it starts, and the first time a pair of owners
// meets is at the first byte they share. Each pair is reported once. Past the listing bounds
// what follows is counted, and the count reported, instead of listed.
//
// These sweeps take the extents in order from `SortedExtents` or from `BlockClaims` alike.
template <class Extents>
void find_overlaps(const Verifier::State& state, const Extents& extents, ProblemList& problems) {
    struct Open {
        std::uint64_t end;
        std::uint32_t owner;
    };
    const auto later_end = [](const Open& a, const Open& b) { return a.end > b.end; };
    // A pair is named nodes first (by offset), then files by id; the second named gives the id.
    const auto rank = [&state](std::uint32_t owner) {
        const std::size_t nodes = state.node_offsets.size();
        return owner < nodes ? std::tuple(0, state.node_offsets[owner], owner)
                             : std::tuple(1, state.files[owner - nodes].entry.id, owner);
    };
    const auto named_before = [&rank](std::uint32_t a, std::uint32_t b) {
        return rank(a) < rank(b);
    };
    std::vector<Open> open;
    std::unordered_set<std::uint64_t> listed;
    std::uint64_t comparisons = 0;
    std::uint64_t unlisted = 0;

    for (auto cursor = extents.cursor(); !cursor.done(); cursor.next()) {
        const Extent& extent = *cursor;
        while (!open.empty() && open.front().end <= extent.start) {
            std::pop_heap(open.begin(), open.end(), later_end);
            open.pop_back();
        }
        for (std::size_t i = 0; i < open.size(); ++i) {
            if (comparisons >= kMaxComparisons || listed.size() >= kMaxListedPairs) {
                unlisted += open.size() - i;
                break;
            }
            ++comparisons;
            const std::uint32_t low = std::min(open[i].owner, extent.owner);
            const std::uint32_t high = std::max(open[i].owner, extent.owner);
            if (!listed.insert(std::uint64_t{low} << 32 | high).second) {
                continue;
            }
            const auto [first, second] = std::minmax(low, high, named_before);
            const auto id = file_id_of(state, second);
            problems.add(ProblemKind::Overlap, id ? id : file_id_of(state, first), extent.start,
                         state.owner_name(first) + " and " + state.owner_name(second) +
                             " read the same bytes");
        }
        open.push_back({extent.end, extent.owner});
        std::push_heap(open.begin(), open.end(), later_end);
    }
    if (unlisted != 0) {
        problems.add(ProblemKind::Overlap, std::nullopt, std::nullopt,
                     std::to_string(unlisted) +
                         " more places where chains read the same bytes were not examined one "
                         "by one");
    }
}

// Bytes of the block area that no extent covers.
std::uint64_t unread_bytes(const SortedExtents& extents, std::uint64_t length) {
    if (length <= layout::kHeaderEnd) {
        return 0;
    }
    std::uint64_t covered = 0;
    std::uint64_t reach = layout::kHeaderEnd;
    for (auto cursor = extents.cursor(); !cursor.done(); cursor.next()) {
        const Extent& extent = *cursor;
        const std::uint64_t end = std::min(extent.end, length);
        if (end > reach) {
            covered += end - std::max(extent.start, reach);
            reach = end;
        }
    }
    return length - layout::kHeaderEnd - covered;
}

// Follows the free-block list from `free_head` and compares it with the header and the chains.
class FreeListCheck {
  public:
    FreeListCheck(const Verifier::State& state, ProblemList& problems)
        : state_(state), problems_(problems), header_(*state.header) {}

    // The blocks of the list as far as it could be followed, in ascending order.
    template <class Extents>
    std::vector<std::uint32_t> run(const Extents& extents) {
        if (header_.free_head == 0) {
            check_empty_list();
            return {};
        }
        if (follow()) {
            check_against_header();
        }
        std::sort(blocks_.begin(), blocks_.end());
        check_against_chains(extents);
        return std::move(blocks_);
    }

  private:
    void warn(std::optional<std::uint32_t> id, std::uint64_t offset, std::string message) {
        problems_.add(ProblemKind::FreeList, id, offset, std::move(message));
    }

    void check_empty_list() {
        std::string found;
        if (header_.free_count != 0) {
            found = "free_count is " + std::to_string(header_.free_count);
        }
        if (header_.free_tail != 0) {
            found += (found.empty() ? "" : " and ") + std::string("free_tail is ") +
                     std::to_string(header_.free_tail);
        }
        if (!found.empty()) {
            warn(std::nullopt, layout::header_field::kFreeHead,
                 "free_head is 0 (no free blocks), but " + found);
        }
    }

    // Walks the list into `blocks_`; false when it loops, runs past the end or runs on longer
    // than the archive has blocks, after saying so.
    bool follow() {
        const std::uint64_t length = state_.length();
        const std::uint64_t block_size = header_.block_size;
        const std::uint64_t max_blocks = length / block_size;
        std::unordered_set<std::uint32_t> seen;
        for (std::uint32_t at = header_.free_head; at != 0;) {
            const std::string after = " after " + std::to_string(blocks_.size()) + " blocks";
            if (!seen.insert(at).second) {
                warn(std::nullopt, at, "the free list loops back to this block" + after);
                return false;
            }
            if (blocks_.size() == max_blocks) {
                warn(std::nullopt, at,
                     "the free list runs on past " + std::to_string(max_blocks) +
                         " blocks, more than the archive holds");
                return false;
            }
            std::array<std::uint8_t, layout::kLinkSize> link{};
            if (at + block_size > length || !state_.file.read_exact_at(link, at)) {
                warn(std::nullopt, at,
                     "the free list runs past the end of the archive (" + std::to_string(length) +
                         " bytes) at this block" + after);
                return false;
            }
            blocks_.push_back(at);
            at = common::load_le<std::uint32_t>(link.data());
        }
        return true;
    }

    void check_against_header() {
        if (blocks_.size() != header_.free_count) {
            warn(std::nullopt, layout::header_field::kFreeCount,
                 "the free list holds " + std::to_string(blocks_.size()) +
                     " blocks, but free_count is " + std::to_string(header_.free_count));
        }
        if (blocks_.back() != header_.free_tail) {
            warn(std::nullopt, layout::header_field::kFreeTail,
                 "the free list ends at the block at offset " + std::to_string(blocks_.back()) +
                     ", but free_tail is " + std::to_string(header_.free_tail));
        }
    }

    // With the free blocks in order, the extents that start before a block ends are a growing
    // prefix of the sorted extents; the block is read by a chain when the one of them that
    // reaches furthest reaches into it.
    template <class Extents>
    void check_against_chains(const Extents& extents) {
        auto next = extents.cursor();
        std::optional<Extent> furthest;
        for (const std::uint32_t block : blocks_) {
            const std::uint64_t end = std::uint64_t{block} + header_.block_size;
            for (; !next.done() && next->start < end; next.next()) {
                if (!furthest || next->end > furthest->end) {
                    furthest = *next;
                }
            }
            if (furthest && furthest->end > block) {
                warn(file_id_of(state_, furthest->owner), block,
                     "this free block is also read by " + state_.owner_name(furthest->owner));
            }
        }
    }

    const Verifier::State& state_;
    ProblemList& problems_;
    const DatHeader& header_;
    std::vector<std::uint32_t> blocks_;
};

// Reports each stretch of at least a block after the header that no block holds: none that a
// chain visits (`extents`, to their reach, and `blocks_reached`) and no free block. Gives the
// bytes of those stretches.
template <class Extents>
std::uint64_t find_unreachable(const Extents& extents, const std::vector<ByteRange>& blocks_reached,
                               const std::vector<std::uint32_t>& free_blocks,
                               std::uint32_t block_size, std::uint64_t length,
                               ProblemList& problems) {
    // The extents are sorted by start, and so are the free blocks: only the few blocks reached
    // without being read need sorting before the three are merged.
    std::vector<ByteRange> other = blocks_reached;
    for (const std::uint32_t block : free_blocks) {
        other.push_back({block, std::uint64_t{block} + block_size});
    }
    const auto by_start = [](const ByteRange& a, const ByteRange& b) { return a.start < b.start; };
    std::sort(other.begin(), other.end(), by_start);
    // Then the end of the archive, after everything else.
    other.push_back({length, length});
    auto extent = extents.cursor();
    std::size_t next_other = 0;
    const auto next_range = [&]() -> ByteRange {
        if (!extent.done() &&
            (next_other + 1 == other.size() || extent->start < other[next_other].start)) {
            const ByteRange range{extent->start, extent->reach};
            extent.next();
            return range;
        }
        return other[next_other++];
    };

    std::uint64_t reached = layout::kHeaderEnd;
    std::uint64_t unreachable = 0;
    while (next_other < other.size()) {
        const ByteRange range = next_range();
        const std::uint64_t start = std::min(range.start, length);
        if (start > reached && start - reached >= block_size) {
            unreachable += start - reached;
            problems.add(ProblemKind::Unreachable, std::nullopt, reached,
                         std::to_string(start - reached) +
                             " bytes that no file, directory node or free-list block holds");
        }
        reached = std::max(reached, range.end);
    }
    return unreachable;
}

template <class Extents>
void check_all(const Verifier::State& state, const Extents& extents, std::uint64_t unread,
               const std::vector<ByteRange>& blocks_reached, ProblemList& problems,
               VerifySummary& summary) {
    if (!state.header) {
        return;
    }
    find_overlaps(state, extents, problems);
    summary.unread_bytes = unread;
    const std::vector<std::uint32_t> free_blocks = FreeListCheck(state, problems).run(extents);
    summary.free_blocks = free_blocks.size();
    summary.unreachable_bytes = find_unreachable(
        extents, blocks_reached, free_blocks, state.header->block_size, state.length(), problems);
}

} // namespace

void check_whole_archive(const Verifier::State& state, const SortedExtents& extents,
                         const std::vector<ByteRange>& blocks_reached, ProblemList& problems,
                         VerifySummary& summary) {
    check_all(state, extents, unread_bytes(extents, state.length()), blocks_reached, problems,
              summary);
}

void check_whole_archive(const Verifier::State& state, const BlockClaims& claims,
                         std::uint64_t read, const std::vector<ByteRange>& blocks_reached,
                         ProblemList& problems, VerifySummary& summary) {
    check_all(state, claims, claims.unread(read), blocks_reached, problems, summary);
}

void sort_extents(std::vector<Extent>& extents) {
    // Equal starts keep the owner order the extents came in.
    radix_sort(extents, [](const Extent& extent) { return extent.start; });
}

namespace {

__extension__ typedef unsigned __int128 WideKey;

// An extent's place in `extent_before` order as one number: its start above its owner. Block
// offsets are 32-bit words, so a start fits in 32 bits and so does the key in 64; `WideKey`
// holds any start.
template <class Key>
Key order_key(const Extent& extent) noexcept {
    return static_cast<Key>(extent.start) << 32 | extent.owner;
}

// Merges sorted `runs` into `order`, taking the least of their heads each time. There are a few
// runs (one per part and the nodes'); which head is least is as good as random on a scattered
// archive, so each head's key is one number, compared without a branch.
template <class Key>
void merge_runs(const std::vector<std::vector<Extent>>& runs, std::vector<const Extent*>& order) {
    constexpr std::ptrdiff_t kPrefetchAhead = 16;
    struct Head {
        const Extent* next;
        const Extent* end;
    };
    std::vector<Key> keys;
    std::vector<Head> heads;
    std::size_t total = 0;
    for (const auto& run : runs) {
        if (!run.empty()) {
            keys.push_back(order_key<Key>(run.front()));
            heads.push_back({run.data(), run.data() + run.size()});
            total += run.size();
        }
    }
    order.reserve(total);
    while (!keys.empty()) {
        std::size_t least = 0;
        Key key = keys[0];
        for (std::size_t k = 1; k < keys.size(); ++k) {
            const bool less = keys[k] < key;
            least = less ? k : least;
            key = less ? keys[k] : key;
        }
        Head& head = heads[least];
        order.push_back(head.next++);
        if (head.next == head.end) {
            keys[least] = keys.back();
            keys.pop_back();
            head = heads.back();
            heads.pop_back();
        } else {
            keys[least] = order_key<Key>(*head.next);
            // More runs than the processor follows on its own: fetch ahead in each.
            if (head.end - head.next > kPrefetchAhead) {
                __builtin_prefetch(head.next + kPrefetchAhead);
            }
        }
    }
}

} // namespace

SortedExtents::SortedExtents(std::vector<std::vector<Extent>> runs) : runs_(std::move(runs)) {
    bool narrow = true;
    for (auto& run : runs_) {
        if (!std::is_sorted(run.begin(), run.end(), extent_before)) {
            std::sort(run.begin(), run.end(), extent_before);
        }
        narrow = narrow && (run.empty() || run.back().start <= 0xFFFFFFFF);
    }
    if (narrow) {
        merge_runs<std::uint64_t>(runs_, order_);
    } else {
        merge_runs<WideKey>(runs_, order_);
    }
}

} // namespace quillmere::dat::detail
