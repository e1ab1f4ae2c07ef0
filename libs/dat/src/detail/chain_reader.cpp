// Reading block chains in runs of consecutive blocks.
#include "detail/chain_reader.hpp"

#include "detail/archive_file.hpp"
#include "detail/archive_layout.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/common/try.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string>
#include <utility>

namespace quillmere::dat::detail {
namespace {

using common::load_le;

// A failed read of block `block`, with the block recorded as the place it failed.
DatError failed_at(common::IoError error, std::uint64_t block) {
    DatError failed(std::move(error));
    failed.add_read_place({block, std::nullopt, std::nullopt});
    return failed;
}

// Where one chain read takes its bytes from besides the file.
struct Sources {
    StagingWindow& window;
    const LinkMap* links;
    bool payload_wanted;
    std::uint64_t ahead_end;
};

// One chain read. Most chains lie in consecutive blocks, so each run is fetched with one
// contiguous read of as many blocks as the chain still needs, on the guess that each follows the
// one before (with a link map, exactly as many as the map says do); the link words then say how
// far the guess held, the payloads are copied out of the window, and blocks after the first that
// links elsewhere are left unread. The result is the block-by-block walk's, byte for byte:
// - a block counts only when its link word and payload were read in full; where the run came
//   back short (end of file, a read cut short, a failed read), that block is read again with
//   exact reads, which fail exactly as the walk does;
// - a link word of 0 ends the chain: what is still missing follows that block's payload;
// - after a wrong guess the next run is no longer than the blocks the last one delivered, and
//   it doubles again while guesses hold, so a scattered or looping chain costs at most about
//   two block reads per block.
// Every block adds at least one byte, so even a chain that loops ends after out.size() blocks.
class ChainWalk {
  public:
    ChainWalk(const ArchiveFile& file, std::uint32_t block_size, std::span<std::uint8_t> out,
              ChainTrace* trace, Sources sources)
        : file_(file), block_size_(block_size),
          payload_size_(*layout::block_payload_size(block_size)),
          max_run_(StagingWindow::kCapacity / block_size), out_(out), trace_(trace),
          sources_(sources) {}

    DatResult<void> run(std::uint64_t offset) {
        block_ = offset;
        std::size_t run = max_run_;
        while (filled_ < out_.size()) {
            if (sources_.links != nullptr && !sources_.payload_wanted) {
                QM_TRY(const bool moved, follow_links());
                if (moved) {
                    continue;
                }
            }
            const std::size_t planned = max_run_ == 0 ? 0 : plan(run);
            std::size_t used = 0;
            if (planned != 0) {
                const auto bytes = sources_.window.fetch(file_, block_, run_bytes(planned),
                                                         std::exchange(sources_.ahead_end, 0));
                QM_TRY(used, take_run(bytes, planned));
            }
            if (used == 0) {
                QM_TRY_VOID(read_block_exactly());
                run = 1;
            } else {
                run = used == planned ? std::min(2 * run, max_run_) : used;
            }
        }
        return {};
    }

  private:
    [[nodiscard]] std::size_t remaining() const noexcept { return out_.size() - filled_; }
    [[nodiscard]] std::size_t share() const noexcept {
        return std::min<std::size_t>(remaining(), payload_size_);
    }

    // Blocks the next run asks for: at most `run` and the blocks still needed; with a link map,
    // no more than it says follow one another.
    [[nodiscard]] std::size_t plan(std::size_t run) const noexcept {
        const std::size_t needed = (remaining() + payload_size_ - 1) / payload_size_;
        std::size_t planned = std::min(run, needed);
        if (sources_.links != nullptr) {
            std::size_t consecutive = 1;
            for (std::uint64_t at = block_; consecutive < planned; at += block_size_) {
                if (sources_.links->link(at) != at + block_size_) {
                    break;
                }
                ++consecutive;
            }
            planned = consecutive;
        }
        return planned;
    }

    // Bytes a run of `planned` blocks from here spans: whole blocks, then the last one's link
    // word and share.
    [[nodiscard]] std::size_t run_bytes(std::size_t planned) const noexcept {
        const std::size_t before = (planned - 1) * payload_size_;
        return (planned - 1) * block_size_ + layout::kLinkSize +
               std::min<std::size_t>(remaining() - before, payload_size_);
    }

    // Takes the blocks of `run` (the file's bytes from the current block on) while each is
    // there whole and the one before linked to it; returns how many it took.
    DatResult<std::size_t> take_run(std::span<const std::uint8_t> run, std::size_t planned) {
        std::size_t used = 0;
        for (std::size_t at = 0; used < planned; at += block_size_) {
            const std::size_t length = share();
            if (run.size() < at || run.size() - at < layout::kLinkSize + length) {
                break;
            }
            const auto next = load_le<std::uint32_t>(run.data() + at);
            if (sources_.payload_wanted) {
                std::memcpy(out_.data() + filled_, run.data() + at + layout::kLinkSize, length);
            }
            ++used;
            const std::uint64_t guessed = block_ + block_size_;
            QM_TRY_VOID(take_block(next, length));
            if (filled_ == out_.size() || block_ != guessed) {
                break;
            }
        }
        return used;
    }

    // Follows blocks whose link words the map holds and whose bytes lie in the file, reading
    // nothing (the payload is not wanted); false when the block at hand must be read.
    DatResult<bool> follow_links() {
        bool moved = false;
        while (filled_ < out_.size()) {
            const auto next = sources_.links->link(block_);
            const std::size_t length = next == 0 ? remaining() : share();
            if (!next || layout::payload_position(block_) + length > file_.length()) {
                break;
            }
            QM_TRY_VOID(take_block(*next, share()));
            moved = true;
        }
        return moved;
    }

    // One step of the block-by-block walk: the link word, then the block's share.
    DatResult<void> read_block_exactly() {
        std::array<std::uint8_t, layout::kLinkSize> link{};
        if (auto read = file_.read_exact_at(link, block_); !read) {
            return fail(std::move(read).error());
        }
        const std::size_t length = share();
        auto payload =
            file_.read_exact_at(out_.subspan(filled_, length), layout::payload_position(block_));
        if (!payload) {
            return fail(std::move(payload).error());
        }
        return take_block(load_le<std::uint32_t>(link.data()), length);
    }

    // The current block gave `length` bytes and links to `next`: counts them and moves on. A
    // link word of 0 ends the chain: the rest is read from where that block's share ends.
    DatResult<void> take_block(std::uint32_t next, std::size_t length) {
        filled_ += length;
        if (filled_ == out_.size()) {
            record(length, next == 0);
            return {};
        }
        if (next == 0) {
            const std::size_t rest = remaining();
            auto tail = file_.read_exact_at(out_.subspan(filled_),
                                            layout::payload_position(block_) + length);
            if (!tail) {
                return fail(std::move(tail).error());
            }
            filled_ = out_.size();
            record(length + rest, true);
            return {};
        }
        record(length, false);
        block_ = next;
        return {};
    }

    void record(std::uint64_t payload, bool end_of_chain) {
        if (trace_ != nullptr) {
            trace_->take(block_, payload, end_of_chain);
        }
    }

    std::unexpected<DatError> fail(common::IoError error) {
        if (trace_ != nullptr) {
            trace_->fail(block_);
        }
        return std::unexpected(failed_at(std::move(error), block_));
    }

    const ArchiveFile& file_;
    std::uint32_t block_size_;
    std::uint32_t payload_size_;
    // Most blocks one run reads; 0 when a block is too large to stage, so that every block is
    // read exactly.
    std::size_t max_run_;
    std::span<std::uint8_t> out_;
    ChainTrace* trace_;
    Sources sources_;
    std::uint64_t block_ = 0;
    std::size_t filled_ = 0;
};

} // namespace

std::uint8_t* StagingWindow::room(std::uint64_t offset, std::size_t length) {
    // A page of slack to align the start, and the offset within the page.
    const std::size_t needed = length + 2 * kPageSize;
    if (bytes_.size() < needed) {
        bytes_.resize(std::max(needed, std::min(2 * bytes_.size(), kCapacity + 2 * kPageSize)));
    }
    const auto address = reinterpret_cast<std::uintptr_t>(bytes_.data());
    const std::size_t to_page = (kPageSize - address % kPageSize) % kPageSize;
    return bytes_.data() + to_page + offset % kPageSize;
}

std::span<const std::uint8_t> StagingWindow::fetch(const ArchiveFile& file, std::uint64_t offset,
                                                   std::size_t length, std::uint64_t ahead_end) {
    const bool held =
        offset >= start_ && offset - start_ <= filled_ && length <= filled_ - (offset - start_);
    if (!held) {
        std::size_t wanted = std::min(length, kCapacity);
        if (ahead_end > offset) {
            wanted = std::max(wanted, static_cast<std::size_t>(
                                          std::min<std::uint64_t>(ahead_end - offset, kCapacity)));
        }
        std::uint8_t* destination = room(offset, wanted);
        const auto read = file.read_prefix(std::span(destination, wanted), offset);
        data_ = destination;
        start_ = offset;
        filled_ = read.filled;
    }
    const auto from = static_cast<std::size_t>(offset - start_);
    return {data_ + from, std::min(length, filled_ - from)};
}

std::optional<LinkMap> LinkMap::sized(std::uint64_t length, std::uint32_t block_size,
                                      std::uint64_t first) {
    if (block_size < kMinBlockSize || block_size > StagingWindow::kCapacity ||
        first + layout::kLinkSize > length) {
        return std::nullopt;
    }
    // The blocks whose link words lie in the file.
    const std::uint64_t count = (length - first - layout::kLinkSize) / block_size + 1;
    if (count > kMaxLinks) {
        return std::nullopt;
    }
    LinkMap map;
    map.first_ = first;
    map.block_size_ = block_size;
    if (std::has_single_bit(block_size)) {
        map.shift_ = std::countr_zero(block_size);
    }
    // Whole windows' worth of blocks, rounded up to a power of two.
    const std::uint64_t per_window = StagingWindow::kCapacity / block_size;
    map.chunk_shift_ = std::countr_zero(
        std::bit_ceil(std::max<std::uint64_t>(kChunkBytes / block_size, per_window)));
    map.places_ = std::make_unique_for_overwrite<Place[]>(count);
    map.count_ = count;
    map.learned_.resize((count + (std::uint64_t{1} << map.chunk_shift_) - 1) >> map.chunk_shift_);
    return map;
}

void LinkMap::learn_chunk(const ArchiveFile& file, std::size_t chunk, StagingWindow& window) {
    const std::uint64_t begin = std::uint64_t{chunk} << chunk_shift_;
    const std::uint64_t end =
        std::min<std::uint64_t>(begin + (std::uint64_t{1} << chunk_shift_), count_);
    const std::uint64_t per_window = StagingWindow::kCapacity / block_size_;
    const std::uint64_t length = file.length();
    for (std::uint64_t place = begin; place < end; ++place) {
        places_[place].note = 0;
    }
    window.forget();
    std::uint64_t index = begin;
    while (index < end) {
        const std::uint64_t at = first_ + index * block_size_;
        const std::uint64_t blocks = std::min(per_window, end - index);
        // The last block needs only its link word within the file.
        const auto wanted = static_cast<std::size_t>(
            std::min((blocks - 1) * block_size_ + layout::kLinkSize, length - at));
        const auto bytes = window.fetch(file, at, wanted);
        for (std::size_t k = 0; k + layout::kLinkSize <= bytes.size() && index < end;
             k += block_size_) {
            places_[index++].link = load_le<std::uint32_t>(bytes.data() + k);
        }
        // After a read that failed, the blocks further on are read from the file as ever.
        if (bytes.size() < wanted) {
            break;
        }
    }
    learned_[chunk] = static_cast<std::uint32_t>(index - begin);
}

void LinkWarmer::add(std::size_t number, std::uint64_t block, std::uint64_t blocks) noexcept {
    if (blocks != 0) {
        chains_[held_++] = {block, blocks, number};
    }
}

bool LinkWarmer::loading_through(std::size_t number) const noexcept {
    for (std::size_t k = 0; k < held_; ++k) {
        if (chains_[k].number <= number) {
            return true;
        }
    }
    return false;
}

void LinkWarmer::step() noexcept {
    // Every chain's word asked for first, so that the misses overlap however many instructions
    // each step takes.
    for (std::size_t k = 0; k < held_; ++k) {
        links_->prefetch(chains_[k].block);
    }
    for (std::size_t k = 0; k < held_;) {
        Chain& chain = chains_[k];
        const auto next = links_->link(chain.block);
        if (next && *next != 0 && chain.blocks > 1) {
            chain.block = *next;
            --chain.blocks;
            ++k;
        } else {
            chain = chains_[--held_];
        }
    }
}

DatError no_room_for_data(std::uint32_t block_size) {
    return DatError::corruption("block size " + std::to_string(block_size) +
                                " leaves no room for data");
}

DatResult<void> ChainReader::read(const ArchiveFile& file, std::uint32_t block_size,
                                  std::uint32_t offset, std::span<std::uint8_t> out,
                                  ChainTrace* trace) {
    const std::uint64_t ahead_end = std::exchange(ahead_end_, 0);
    if (out.empty()) {
        return {};
    }
    // A block size of 4 or less leaves a block no payload, so a looping chain would never end.
    if (!layout::block_payload_size(block_size)) {
        return std::unexpected(no_room_for_data(block_size));
    }
    ChainWalk walk(file, block_size, out, trace, {window_, links_, payload_wanted_, ahead_end});
    return walk.run(offset);
}

ChainReader& thread_chain_reader() {
    thread_local ChainReader reader;
    reader.forget();
    return reader;
}

DatResult<void> read_chain(const ArchiveFile& file, std::uint32_t block_size, std::uint32_t offset,
                           std::span<std::uint8_t> out) {
    return thread_chain_reader().read(file, block_size, offset, out);
}

} // namespace quillmere::dat::detail
