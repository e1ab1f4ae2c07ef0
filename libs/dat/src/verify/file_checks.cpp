// The verifier's per-file step: each file's chain read in full, its stored bytes decompressed,
// and the hook-carrying types decoded, with what each read covered kept for the overlap check.
#include "detail/archive_layout.hpp"
#include "detail/lrs_format.hpp"
#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/file_type.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"
#include "quillmere/dat/lrs.hpp"
#include "verify/verify_state.hpp"

#include <algorithm>
#include <array>
#include <memory>

namespace quillmere::dat::detail {
namespace {

using file_type::FileType;

// The decoder's complaint about a hook-carrying file, worded as the checker words it, or nothing
// when the file decodes. The views give the decoders' verdicts and errors without building the
// decoded values.
std::optional<std::string> decode_failure(FileType type, std::uint32_t id,
                                          std::span<const std::uint8_t> bytes) {
    const auto failed = [id](std::string_view decoder, const common::DecodeError& error) {
        return std::string(decoder) + " on 0x" + common::hex8(id) + ": " + error.one_line();
    };
    common::ByteCursor cursor(bytes);
    switch (type) {
    case FileType::Animation:
        if (auto animation = file_type::animation::AnimationView::read(cursor); !animation) {
            return failed("Animation::read", animation.error());
        }
        break;
    case FileType::SetupModel:
        if (auto model = file_type::setup_model::SetupModelView::read(cursor); !model) {
            return failed("SetupModel::read", model.error());
        }
        break;
    case FileType::PhysicsScript:
        if (auto script = file_type::physics_script::PhysicsScriptView::read(cursor); !script) {
            return failed("PhysicsScript::unpack", script.error());
        }
        break;
    }
    return std::nullopt;
}

// Checks files one after another with one read buffer, grown to the largest file met and never
// cleared: every byte a file uses is read into it first. What the chains read goes to `chains`
// (their extents, and a chain that runs into itself), the rest to `data`; without `contents`
// the chains are only followed, not decompressed or decoded.
class FileChecker {
  public:
    FileChecker(const Verifier::State& state, VerifyPart::Data& data, BlockClaims* claims,
                bool contents, VerifyPart::Data& chains)
        : state_(state), data_(data), chains_(chains), block_size_(state.header->block_size),
          claims_(claims), contents_(contents) {
        links_ = state.links ? &state.links->learned(state.file) : nullptr;
        reader_.use_links(links_);
        if (links_ != nullptr) {
            warmer_.emplace(*links_);
            next_warmed_ = data.first;
        }
    }

    void check(std::size_t index) {
        const DatFileEntry& entry = state_.files[index].entry;
        if (warmer_) {
            warm_through(index);
        }
        if (!within_bounds(index)) {
            return;
        }
        const auto type = file_type::of(entry.id);
        // Only what is decompressed or decoded needs its bytes; the rest only needs to read.
        const bool decoded = type.has_value() && state_.options.decode;
        const auto stored = read_stored(index, contents_ && (entry.is_compressed() || decoded));
        if (!stored || !contents_) {
            return;
        }
        const auto bytes = contents(entry, *stored);
        if (!bytes) {
            return;
        }
        data_.decompressed_bytes += bytes->size();
        if (decoded) {
            if (auto failure = decode_failure(*type, entry.id, *bytes)) {
                data_.problems.add(ProblemKind::Decode, entry.id, entry.offset,
                                   std::move(*failure));
            }
        }
    }

  private:
    // Has the link words of the chain of the file at `index` loaded (`LinkWarmer`), and those of
    // the files after it as far as the warmer has room, when the chains are followed through a
    // map: the check of one archive of 460,000 scattered blocks spent 7 to 10 % less processor
    // time with batches of 16 chains walked side by side, and some 6 % less again once a chain
    // that ended made room for the next at once (one long chain no longer walked alone).
    void warm_through(std::size_t index) {
        constexpr std::size_t kAhead = 64;
        const std::uint64_t payload = block_size_ - layout::kLinkSize;
        for (;;) {
            for (;
                 warmer_->has_room() && next_warmed_ < data_.last && next_warmed_ <= index + kAhead;
                 ++next_warmed_) {
                // Never more blocks than the chain's read will follow: none for a file not read.
                const ListedFile& file = state_.files[next_warmed_];
                const bool read = file.within_bound && file.entry.size <= state_.length();
                warmer_->add(next_warmed_, file.entry.offset,
                             read ? (std::uint64_t{file.entry.size} + payload - 1) / payload : 0);
            }
            if (next_warmed_ > index && !warmer_->loading_through(index)) {
                return;
            }
            warmer_->step();
        }
    }

    // False, after recording why, when the file at `index` is not to be read: its stored size
    // is beyond the archive, or the files before it already claim more than the read bound.
    bool within_bounds(std::size_t index) {
        const DatFileEntry& entry = state_.files[index].entry;
        if (entry.size > state_.length()) {
            data_.problems.add(ProblemKind::FileUnreadable, entry.id, entry.offset,
                               "its stored size " + std::to_string(entry.size) +
                                   " is larger than the archive (" +
                                   std::to_string(state_.length()) + " bytes)");
            return false;
        }
        if (!state_.files[index].within_bound) {
            data_.problems.add(ProblemKind::FileUnreadable, entry.id, entry.offset,
                               "not read: the files whose chains start before it already store "
                               "more than " +
                                   std::to_string(kStoredBoundFactor) +
                                   " times the archive's length");
            return false;
        }
        return true;
    }

    // The stored bytes of the file at `index`, read through its chain with what it covered
    // recorded, or nothing after recording why the chain cannot be read.
    std::optional<std::span<const std::uint8_t>> read_stored(std::size_t index,
                                                             bool payload_wanted) {
        const DatFileEntry& entry = state_.files[index].entry;
        const std::span<std::uint8_t> stored = buffer(entry.size);
        trace_.clear();
        reader_.read_ahead_to(read_ahead_end(index));
        reader_.want_payload(payload_wanted);
        if (auto read = reader_.read(state_.file, block_size_, entry.offset, stored, &trace_);
            !read) {
            add_visited_blocks(data_.blocks_reached, trace_, block_size_, state_.length());
            data_.problems.add(ProblemKind::FileUnreadable, entry.id,
                               trace_.failed_block().value_or(entry.offset),
                               "its chain from offset " + std::to_string(entry.offset) +
                                   " cannot be read in full: " +
                                   chain_failure(trace_, read.error(), state_.length()));
            return std::nullopt;
        }
        record_extents(index, entry.id);
        ++data_.files_read;
        data_.stored_bytes += entry.size;
        return stored;
    }

    // The file's contents: its stored bytes, decompressed when it is flagged compressed (into
    // `decompressed_`), or nothing after recording a stream that is not whole.
    std::optional<std::span<const std::uint8_t>> contents(const DatFileEntry& entry,
                                                          std::span<const std::uint8_t> stored) {
        if (!entry.is_compressed()) {
            return stored;
        }
        ++data_.compressed_files;
        if (entry.size == 0) {
            return stored;
        }
        if (entry.size < utils::detail::kSizeWordLength) {
            data_.problems.add(ProblemKind::CompressedStream, entry.id, entry.offset,
                               "holds " + std::to_string(entry.size) +
                                   " stored bytes, too few for the 4-byte size word of a "
                                   "compressed file");
            data_.decompressed_bytes += entry.size;
            return std::nullopt;
        }
        utils::decompress_lrs_into(stored, decompressed_);
        const std::uint32_t declared = utils::detail::declared_size(stored);
        if (decompressed_.size() < declared) {
            data_.problems.add(ProblemKind::CompressedStream, entry.id, entry.offset,
                               "decompresses to " + std::to_string(decompressed_.size()) +
                                   " bytes, fewer than the " + std::to_string(declared) +
                                   " its size word declares");
            data_.decompressed_bytes += decompressed_.size();
            return std::nullopt;
        }
        return decompressed_;
    }

    // How far the read of the file at `index` may fetch ahead (all of this part's files lie in
    // offset order): see `ReadAheadRuns`.
    [[nodiscard]] std::uint64_t read_ahead_end(std::size_t index) {
        // With a link map the chains are scattered: a read-ahead would fetch bytes of others.
        if (state_.links) {
            return 0;
        }
        return read_ahead_.end(index, data_.last, [this](std::size_t at) {
            const ListedFile& file = state_.files[at];
            return file.within_bound && file.entry.size <= state_.length()
                       ? std::optional(
                             consecutive_chain(file.entry.offset, file.entry.size, block_size_))
                       : std::nullopt;
        });
    }

    std::span<std::uint8_t> buffer(std::size_t size) {
        if (size > capacity_) {
            buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(size);
            capacity_ = size;
        }
        return {buffer_.get(), size};
    }

    // Keeps the stretches the chain read, and reports a chain that runs into itself or whose
    // last block is overlong.
    void record_extents(std::size_t index, std::uint32_t id) {
        const std::uint64_t payload_size = block_size_ - layout::kLinkSize;
        if (trace_.end_block() && trace_.end_block_payload() > payload_size) {
            data_.problems.add(
                ProblemKind::OverlongLastBlock, id, *trace_.end_block(),
                "its last block supplies " + std::to_string(trace_.end_block_payload()) +
                    " bytes, more than the " + std::to_string(payload_size) + " a block holds");
        }
        if (trace_.blocks() == 0) {
            add_empty_file_block(index);
            return;
        }
        if (claims_ != nullptr) {
            for (const ByteRange& range : trace_.ranges()) {
                data_.claimed_bytes += range.end - range.start;
                data_.claimed_blocks +=
                    claims_->claim({range.start, range.end, state_.file_owner(index),
                                    block_reach(range, trace_, block_size_, state_.length())});
            }
            return;
        }
        ranges_ = trace_.ranges();
        if (const auto shared = settle_ranges(ranges_)) {
            chains_.problems.add(ProblemKind::Overlap, id, *shared,
                                 state_.owner_name(state_.file_owner(index)) +
                                     " reads the same bytes twice: its chain runs into itself");
        }
        add_chain_extents(chains_.extents, ranges_, state_.file_owner(index), trace_, block_size_,
                          state_.length());
    }

    // A file of 0 bytes reads no block, but the block its entry points at is its own: nothing
    // else leads there, so it counts as reached.
    void add_empty_file_block(std::size_t index) {
        const std::uint64_t offset = state_.files[index].entry.offset;
        if (offset != 0 && offset < state_.length()) {
            data_.blocks_reached.push_back(
                {offset, std::min(offset + block_size_, state_.length())});
        }
    }

    const Verifier::State& state_;
    VerifyPart::Data& data_;
    VerifyPart::Data& chains_;
    std::uint32_t block_size_;
    // Where the chains' blocks are claimed, if they are, instead of kept as extents.
    BlockClaims* claims_;
    bool contents_;
    const LinkMap* links_ = nullptr;
    std::optional<LinkWarmer> warmer_;
    // The first file whose chain the warmer has not taken on.
    std::size_t next_warmed_ = 0;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t capacity_ = 0;
    ChainReader reader_;
    ChainTrace trace_;
    std::vector<ByteRange> ranges_;
    // The decompressed contents of the file being checked, kept to reuse its capacity.
    std::vector<std::uint8_t> decompressed_;
    ReadAheadRuns read_ahead_;
};

// Files whose first block the probe reads, at most.
constexpr std::size_t kProbedFiles = 64;

} // namespace

// The probe costs a link word per sampled file. A sound archive stores most files in consecutive
// blocks, and its chains are best read run by run with the read-ahead; when most sampled chains
// leave their first block for somewhere else, one pass over the whole file learning every link
// word costs about what reading it once does, after which only the payloads that are decompressed
// or decoded are read. The map's size follows from the file's length alone (`LinkMap::sized`);
// the pass is made by the first file checks (`SharedLinks`).
void plan_links(Verifier::State& state) {
    const std::uint32_t block_size = state.header->block_size;
    const std::uint64_t payload = block_size - layout::kLinkSize;
    const auto spanning = [&](const ListedFile& file) {
        return file.within_bound && file.entry.size > payload && file.entry.size <= state.length();
    };
    const auto count =
        static_cast<std::size_t>(std::count_if(state.files.begin(), state.files.end(), spanning));
    if (count == 0) {
        return;
    }
    // Probe k is spanning file k * count / probed, in list order.
    const std::size_t probed = std::min(count, kProbedFiles);
    const DatFileEntry* first = nullptr;
    std::size_t seen = 0;
    std::size_t k = 0;
    std::size_t scattered = 0;
    for (const ListedFile& file : state.files) {
        if (!spanning(file)) {
            continue;
        }
        first = first != nullptr ? first : &file.entry;
        if (k < probed && seen++ == k * count / probed) {
            ++k;
            std::array<std::uint8_t, layout::kLinkSize> link{};
            if (state.file.read_exact_at(link, file.entry.offset)) {
                const std::uint64_t next = common::load_le<std::uint32_t>(link.data());
                scattered += next != std::uint64_t{file.entry.offset} + block_size ? 1 : 0;
            }
        }
    }
    if (2 * scattered > probed) {
        if (auto map = LinkMap::sized(state.length(), block_size, first->offset % block_size)) {
            state.links.emplace(std::move(*map));
            state.claims.emplace(state.links->grid(), block_size, state.length());
        }
    }
}

const LinkMap& SharedLinks::learned(const ArchiveFile& file) const {
    const std::size_t chunks = map_.chunks();
    if (done_.load(std::memory_order_acquire) == chunks) {
        return map_;
    }
    StagingWindow window;
    for (std::size_t chunk = taken_.fetch_add(1); chunk < chunks; chunk = taken_.fetch_add(1)) {
        // Counted as done however learning ends (a failed allocation leaves the chunk
        // unlearned, to be read from the file as ever), so that no thread waits forever.
        struct Done {
            std::atomic<std::size_t>& done;
            std::size_t chunks;
            ~Done() {
                if (done.fetch_add(1, std::memory_order_acq_rel) + 1 == chunks) {
                    done.notify_all();
                }
            }
        } counted{done_, chunks};
        map_.learn_chunk(file, chunk, window);
    }
    for (std::size_t seen = done_.load(std::memory_order_acquire); seen < chunks;
         seen = done_.load(std::memory_order_acquire)) {
        done_.wait(seen, std::memory_order_acquire);
    }
    return map_;
}

void check_file_stretch(const Verifier::State& state, VerifyPart::Data& data) {
    if (!state.header) {
        return;
    }
    BlockClaims* claims = state.claims && state.claims->usable() ? &*state.claims : nullptr;
    data.claimed = claims != nullptr;
    FileChecker checker(state, data, claims, true, data);
    for (std::size_t index = data.first; index < data.last; ++index) {
        checker.check(index);
    }
    // Sorted here, on the thread that checked the stretch, so that the whole-archive checks only
    // merge the stretches' extents.
    sort_extents(data.extents);
}

void keep_extents(const Verifier::State& state, VerifyPart::Data& data) {
    // Everything else the check finds again is in `data` already: counted and dropped here.
    VerifyPart::Data again(0);
    again.first = data.first;
    again.last = data.last;
    FileChecker checker(state, again, nullptr, false, data);
    for (std::size_t index = data.first; index < data.last; ++index) {
        checker.check(index);
    }
    sort_extents(data.extents);
    data.claimed = false;
}

} // namespace quillmere::dat::detail
