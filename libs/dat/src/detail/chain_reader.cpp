// Reading block chains in runs of consecutive blocks.
#include "detail/chain_reader.hpp"

#include "detail/archive_file.hpp"
#include "detail/archive_layout.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/common/try.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>

namespace quillmere::dat::detail {
namespace {

using common::load_le;

// Most blocks one vectored read asks for: two parts per block, within the system's limit of
// 1024 parts per read.
constexpr std::size_t kMaxRunBlocks = 512;

// The size of a trace's window: the most bytes one run stages and one read fetches ahead. Larger
// blocks are read scattered into place.
constexpr std::size_t kMaxStaging = std::size_t{1} << 20;

// Reads the run that `parts` plans (link word, payload, per block) from `block` on and returns
// the bytes read, as one scattered read or, with a trace, from the trace's window, from which
// the link words and the wanted payloads are copied into place.
std::size_t fetch_run(const ArchiveFile& file, std::uint64_t block, std::uint32_t block_size,
                      std::span<const iovec> parts, ChainTrace* trace) {
    if (trace == nullptr || trace->staging(block_size).empty()) {
        const auto read = file.read_vectored_at(parts, block);
        return read ? *read : 0;
    }
    // Every planned block but the last carries a full payload, so block i starts at
    // i * block_size and the run is one stretch of the file.
    std::size_t total = 0;
    for (const iovec& part : parts) {
        total += part.iov_len;
    }
    const std::span<const std::uint8_t> run = trace->fetch(file, block, total);
    const std::size_t got = run.size();
    for (std::size_t at = 0, i = 0; i < parts.size() && at < got; at += parts[i].iov_len, ++i) {
        if (i % 2 == 1 && !trace->payload_wanted()) {
            continue;
        }
        std::memcpy(parts[i].iov_base, run.data() + at, std::min(parts[i].iov_len, got - at));
    }
    return got;
}

// A failed read of block `block`, with the block recorded as the place it failed.
DatError failed_at(common::IoError error, std::uint64_t block) {
    DatError failed(std::move(error));
    failed.add_read_place({block, std::nullopt, std::nullopt});
    return failed;
}

// One step of the block-by-block walk: the link word, then the block's share of `out` from
// `filled` on; `block` becomes the link word and `filled` grows by the share.
DatResult<void> read_block_exactly(const ArchiveFile& file, std::uint64_t& block,
                                   std::uint32_t payload_size, std::span<std::uint8_t> out,
                                   std::size_t& filled, ChainTrace* trace) {
    std::array<std::uint8_t, layout::kLinkSize> link_bytes{};
    auto link = file.read_exact_at(link_bytes, block);
    if (!link) {
        if (trace != nullptr) {
            trace->fail(block);
        }
        return std::unexpected(failed_at(std::move(link).error(), block));
    }
    const auto next = load_le<std::uint32_t>(link_bytes.data());
    const auto length =
        static_cast<std::size_t>(layout::chunk_length(out.size() - filled, payload_size, next));
    auto payload = file.read_exact_at(out.subspan(filled, length), layout::payload_position(block));
    if (!payload) {
        if (trace != nullptr) {
            trace->fail(block);
        }
        return std::unexpected(failed_at(std::move(payload).error(), block));
    }
    if (trace != nullptr) {
        trace->take(block, length, next == 0);
    }
    filled += length;
    block = next;
    return {};
}

} // namespace

std::span<std::uint8_t> ChainTrace::staging(std::uint32_t block_size) {
    const std::size_t wanted = std::min<std::size_t>(kMaxRunBlocks, kMaxStaging / block_size);
    if (wanted == 0) {
        return {};
    }
    // One size for every block size that stages, so the window serves several runs and reads
    // ahead as far with small blocks as with large ones.
    if (staging_.size() < kMaxStaging) {
        staging_.resize(kMaxStaging);
        window_filled_ = 0;
    }
    return {staging_.data(), wanted * block_size};
}

std::span<const std::uint8_t> ChainTrace::fetch(const ArchiveFile& file, std::uint64_t offset,
                                                std::size_t length) {
    const std::uint64_t ahead_end = std::exchange(ahead_end_, 0);
    const bool held = offset >= window_start_ && offset - window_start_ <= window_filled_ &&
                      length <= window_filled_ - (offset - window_start_);
    if (!held) {
        std::size_t wanted = length;
        if (ahead_end > offset) {
            wanted = std::max(wanted, static_cast<std::size_t>(std::min<std::uint64_t>(
                                          ahead_end - offset, staging_.size())));
        }
        const iovec whole{staging_.data(), wanted};
        const auto read = file.read_vectored_at(std::span(&whole, 1), offset);
        window_start_ = offset;
        window_filled_ = read ? *read : 0;
    }
    const auto from = static_cast<std::size_t>(offset - window_start_);
    return {staging_.data() + from, std::min(length, window_filled_ - from)};
}

DatError no_room_for_data(std::uint32_t block_size) {
    return DatError::corruption("block size " + std::to_string(block_size) +
                                " leaves no room for data");
}

// Chains are read in runs. Most chains lie in consecutive blocks, so one vectored read fetches
// as many blocks as the file still needs, on the guess that each follows the one before: link
// words into `links`, payloads straight into their places in `out`. The link words then say how
// far the guess held; blocks up to the first that links elsewhere are taken, anything read past
// it is overwritten by later reads. The result is the block-by-block walk's, byte for byte:
// - a block counts only when its link word and payload were read in full; where the run came
//   back short (end of file, a read cut short, a failed read), that block is read again with
//   exact reads, which fail exactly as the walk does;
// - a link word of 0 ends the chain: what is still missing follows that block's payload;
// - after a wrong guess the next run is no longer than the blocks the last one delivered, and
//   it doubles again while guesses hold, so a scattered or looping chain costs at most about
//   two block reads per block.
DatResult<void> read_chain(const ArchiveFile& file, std::uint32_t block_size, std::uint32_t offset,
                           std::span<std::uint8_t> out, ChainTrace* trace) {
    if (out.empty()) {
        return {};
    }
    // A block size of 4 or less leaves a block no payload, so a looping chain would never end.
    const auto payload_size = layout::block_payload_size(block_size);
    if (!payload_size) {
        return std::unexpected(no_room_for_data(block_size));
    }
    std::array<std::array<std::uint8_t, layout::kLinkSize>, kMaxRunBlocks> links;
    std::array<iovec, 2 * kMaxRunBlocks> parts;
    // Every block adds at least one byte, so even a chain that loops ends after out.size()
    // blocks.
    std::uint64_t block = offset;
    std::size_t filled = 0;
    const std::size_t max_run =
        trace != nullptr && !trace->staging(block_size).empty()
            ? std::min(kMaxRunBlocks, trace->staging(block_size).size() / block_size)
            : kMaxRunBlocks;
    std::size_t run = max_run;
    while (filled < out.size()) {
        std::size_t planned = 0;
        for (std::size_t at = filled; planned < run && at < out.size(); ++planned) {
            const std::size_t length = std::min<std::size_t>(out.size() - at, *payload_size);
            parts[2 * planned] = {links[planned].data(), layout::kLinkSize};
            parts[2 * planned + 1] = {out.data() + at, length};
            at += length;
        }
        const std::size_t got =
            fetch_run(file, block, block_size, std::span(parts.data(), 2 * planned), trace);

        std::size_t used = 0;
        std::size_t accounted = 0;
        while (used < planned) {
            const std::size_t length = parts[2 * used + 1].iov_len;
            if (got < accounted + layout::kLinkSize + length) {
                break;
            }
            accounted += layout::kLinkSize + length;
            ++used;
            const auto next = load_le<std::uint32_t>(links[used - 1].data());
            filled += length;
            if (filled == out.size()) {
                if (trace != nullptr) {
                    trace->take(block, length, next == 0);
                }
                return {};
            }
            if (next == 0) {
                const std::size_t rest = out.size() - filled;
                auto tail = file.read_exact_at(out.subspan(filled),
                                               layout::payload_position(block) + length);
                if (!tail) {
                    if (trace != nullptr) {
                        trace->fail(block);
                    }
                    return std::unexpected(failed_at(std::move(tail).error(), block));
                }
                if (trace != nullptr) {
                    trace->take(block, length + rest, true);
                }
                return {};
            }
            if (trace != nullptr) {
                trace->take(block, length, false);
            }
            const std::uint64_t guessed = block + block_size;
            block = next;
            if (next != guessed) {
                break;
            }
        }
        if (used == 0) {
            QM_TRY_VOID(read_block_exactly(file, block, *payload_size, out, filled, trace));
            run = 1;
        } else {
            run = used == planned ? std::min(2 * run, max_run) : used;
        }
    }
    return {};
}

} // namespace quillmere::dat::detail
