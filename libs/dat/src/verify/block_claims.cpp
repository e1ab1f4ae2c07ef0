// Who read each block of a scattered archive, claimed in place of an extent per block.
#include "detail/archive_layout.hpp"
#include "verify/verify_state.hpp"

#include <algorithm>
#include <limits>

namespace quillmere::dat::detail {

std::uint64_t BlockClaims::claim(const Extent& extent) noexcept {
    if (!usable()) {
        return 0;
    }
    const auto first = links_->index_of(extent.start);
    if (!first || extent.start < layout::kHeaderEnd || extent.end <= extent.start ||
        extent.owner == std::numeric_limits<std::uint32_t>::max()) {
        spoil();
        return 0;
    }
    // The blocks the bytes fill from the first on, each whole but the last; the extent's reach
    // says where its last block ends, which for an overlong one is not where this would.
    const std::uint64_t last = *first + (extent.end - extent.start - 1) / block_size_;
    if (last >= links_->size() ||
        std::min(links_->block_at(last) + block_size_, length_) != extent.reach) {
        spoil();
        return 0;
    }
    for (std::uint64_t index = *first; index <= last; ++index) {
        links_->note(index).store(extent.owner + 1, std::memory_order_relaxed);
    }
    return last - *first + 1;
}

std::uint64_t BlockClaims::claimed() const noexcept {
    std::uint64_t count = 0;
    for (std::uint64_t index = 0; index < links_->size(); ++index) {
        count += links_->note(index).load(std::memory_order_relaxed) != 0 ? 1U : 0U;
    }
    return count;
}

std::uint64_t BlockClaims::unread(std::uint64_t read) const noexcept {
    return length_ > layout::kHeaderEnd ? length_ - layout::kHeaderEnd - read : 0;
}

void BlockClaims::Cursor::settle() noexcept {
    const LinkMap& links = *claims_->links_;
    for (; at_ < links.size(); ++at_) {
        const std::uint32_t owner = links.note(at_).load(std::memory_order_relaxed);
        if (owner != 0) {
            const std::uint64_t start = links.block_at(at_);
            const std::uint64_t end = std::min(start + claims_->block_size_, claims_->length_);
            extent_ = {start, end, owner - 1, end};
            return;
        }
    }
}

} // namespace quillmere::dat::detail
