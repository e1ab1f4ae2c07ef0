// The verifier's vocabulary: kind and severity names, the report order, the bounded problem list.
#include "detail/archive_layout.hpp"
#include "quillmere/common/text.hpp"
#include "verify/verify_state.hpp"

#include <algorithm>
#include <tuple>

namespace quillmere::dat {
// The table lists every kind at the place of its enumerator.
static_assert([] {
    for (std::size_t i = 0; i < kProblemKinds.size(); ++i) {
        if (static_cast<std::size_t>(kProblemKinds[i].kind) != i) {
            return false;
        }
    }
    return true;
}());

std::string_view severity_name(Severity severity) noexcept {
    return severity == Severity::Error ? "error" : "warning";
}

std::string Verifier::State::owner_name(std::uint32_t owner) const {
    if (owner < node_offsets.size()) {
        return "directory node at offset " + std::to_string(node_offsets[owner]);
    }
    return "file 0x" + common::hex8(files[owner - node_offsets.size()].entry.id);
}

namespace detail {
namespace {

// An optional as a sort key: present values in their order, then absent.
template <class T>
std::tuple<bool, T> present_first(const std::optional<T>& value) {
    return {!value.has_value(), value.value_or(T{})};
}

} // namespace

bool problem_before(const Problem& a, const Problem& b) noexcept {
    return std::tuple(a.severity, present_first(a.offset), present_first(a.id), a.kind,
                      std::string_view(a.message)) < std::tuple(b.severity, present_first(b.offset),
                                                                present_first(b.id), b.kind,
                                                                std::string_view(b.message));
}

void ProblemList::add(ProblemKind kind, std::optional<std::uint32_t> id,
                      std::optional<std::uint64_t> offset, std::string message) {
    const Severity severity = severity_of(kind);
    ++(severity == Severity::Error ? errors_ : warnings_);
    if (keep_ == 0) {
        return;
    }
    problems_.push_back(Problem{severity, kind, id, offset, std::move(message)});
    if (problems_.size() / 2 >= keep_) {
        prune();
    }
}

void ProblemList::absorb(ProblemList&& other) {
    errors_ += other.errors_;
    warnings_ += other.warnings_;
    for (Problem& problem : other.problems_) {
        problems_.push_back(std::move(problem));
        if (problems_.size() / 2 >= keep_) {
            prune();
        }
    }
    other = ProblemList(other.keep_);
}

// Keeps the first `keep_` records in report order: every list that is later joined with this
// one keeps its own first `keep_`, so the first `keep_` of the whole are never dropped.
void ProblemList::prune() {
    if (problems_.size() <= keep_) {
        return;
    }
    std::nth_element(problems_.begin(), problems_.begin() + static_cast<std::ptrdiff_t>(keep_),
                     problems_.end(), problem_before);
    problems_.resize(keep_);
}

std::vector<Problem> ProblemList::take_sorted() {
    prune();
    std::sort(problems_.begin(), problems_.end(), problem_before);
    return std::move(problems_);
}

std::string chain_failure(const ChainTrace& trace, const DatError& error, std::uint64_t length) {
    const std::string block = trace.failed_block()
                                  ? "the block at offset " + std::to_string(*trace.failed_block())
                                  : "a block";
    const common::IoError* io = error.io_error();
    if (io != nullptr && io->kind() == common::IoError::Kind::UnexpectedEof) {
        return block + " runs past the end of the archive (" + std::to_string(length) + " bytes)";
    }
    return "reading " + block + " failed: " + error.message();
}

// A stretch of consecutive blocks holds whole blocks from its start, the last one perhaps cut
// short by the end of its chain; only an overlong last block reaches further, to what it supplied.
std::uint64_t block_reach(const ByteRange& range, const ChainTrace& trace, std::uint32_t block_size,
                          std::uint64_t length) {
    const auto end_block = trace.end_block();
    if (end_block && trace.end_block_payload() > block_size - layout::kLinkSize &&
        *end_block >= range.start && *end_block < range.end) {
        return range.end;
    }
    const std::uint64_t blocks = (range.end - range.start + block_size - 1) / block_size;
    return std::max(std::min(range.start + blocks * block_size, length), range.end);
}

void add_chain_extents(std::vector<Extent>& extents, const std::vector<ByteRange>& ranges,
                       std::uint32_t owner, const ChainTrace& trace, std::uint32_t block_size,
                       std::uint64_t length) {
    for (const ByteRange& range : ranges) {
        extents.push_back(
            {range.start, range.end, owner, block_reach(range, trace, block_size, length)});
    }
}

void add_visited_blocks(std::vector<ByteRange>& reached, const ChainTrace& trace,
                        std::uint32_t block_size, std::uint64_t length) {
    for (const ByteRange& range : trace.ranges()) {
        reached.push_back({range.start, block_reach(range, trace, block_size, length)});
    }
}

std::optional<std::uint64_t> settle_ranges(std::vector<ByteRange>& ranges) {
    if (ranges.size() < 2) {
        return std::nullopt;
    }
    std::sort(ranges.begin(), ranges.end(),
              [](const ByteRange& a, const ByteRange& b) { return a.start < b.start; });
    std::optional<std::uint64_t> shared;
    std::size_t kept = 0;
    for (std::size_t i = 1; i < ranges.size(); ++i) {
        ByteRange& last = ranges[kept];
        const ByteRange next = ranges[i];
        if (next.start < last.end && !shared) {
            shared = next.start; // sorted by start: the first overlap met is the lowest
        }
        if (next.start <= last.end) {
            last.end = std::max(last.end, next.end);
        } else {
            ranges[++kept] = next;
        }
    }
    ranges.resize(kept + 1);
    return shared;
}

} // namespace detail
} // namespace quillmere::dat
