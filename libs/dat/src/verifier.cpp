// The archive verifier's public face: open (header and directory), check stretches of the file
// list, finish (whole-archive checks and the report).
#include "quillmere/dat/verifier.hpp"

#include "verify/verify_state.hpp"

#include <algorithm>
#include <cassert>

namespace quillmere::dat {

VerifyPart::VerifyPart(std::unique_ptr<Data> data) noexcept : data_(std::move(data)) {}
VerifyPart::VerifyPart(VerifyPart&&) noexcept = default;
VerifyPart& VerifyPart::operator=(VerifyPart&&) noexcept = default;
VerifyPart::~VerifyPart() = default;

std::size_t VerifyPart::first() const noexcept {
    return data_ ? data_->first : 0;
}

std::size_t VerifyPart::last() const noexcept {
    return data_ ? data_->last : 0;
}

Verifier::Verifier(std::unique_ptr<State> state) noexcept : state_(std::move(state)) {}
Verifier::Verifier(Verifier&&) noexcept = default;
Verifier& Verifier::operator=(Verifier&&) noexcept = default;
Verifier::~Verifier() = default;

DatResult<Verifier> Verifier::open(const std::filesystem::path& path, VerifyOptions options) {
    auto opened = detail::ArchiveFile::open(path);
    if (!opened) {
        return std::unexpected(DatError::path_error(path, std::move(opened).error()));
    }
    auto state = std::make_unique<State>(std::move(*opened), options);
    detail::walk_archive(*state);
    return Verifier(std::move(state));
}

std::size_t Verifier::file_count() const noexcept {
    return state_->files.size();
}

// Stretch k ends at the first position where the stored bytes before it reach k/count of the
// total, so each holds about an equal share, as the checker's full sweep cuts its list.
std::vector<Verifier::Stretch> Verifier::stretches(std::size_t count) const {
    count = std::max<std::size_t>(count, 1);
    std::uint64_t total = 0;
    for (const detail::ListedFile& file : state_->files) {
        total += file.entry.size;
    }
    std::vector<Stretch> out;
    std::size_t at = 0;
    std::uint64_t before = 0;
    for (std::size_t k = 1; k <= count; ++k) {
        const std::size_t first = at;
        if (k == count) {
            at = state_->files.size();
        }
        // before / total < k / count, without a division
        while (at < state_->files.size() && before * count < total * k) {
            before += state_->files[at++].entry.size;
        }
        out.push_back({first, at});
    }
    return out;
}

namespace {

// The files at list positions `first` to `last` (clamped to the list), checked.
std::unique_ptr<VerifyPart::Data> checked(const Verifier::State& state, std::size_t first,
                                          std::size_t last) {
    auto data = std::make_unique<VerifyPart::Data>(state.options.max_stored_problems);
    data->first = std::min(first, state.files.size());
    data->last = std::clamp(last, data->first, state.files.size());
    detail::check_file_stretch(state, *data);
    return data;
}

} // namespace

VerifyPart Verifier::check_files(std::size_t first, std::size_t last) const {
    return VerifyPart(checked(*state_, first, last));
}

VerifyReport Verifier::finish(std::vector<VerifyPart> parts) const {
    // Empty parts hold nothing, wherever they lie.
    std::erase_if(
        parts, [](const VerifyPart& part) { return !part.data_ || part.first() == part.last(); });
    std::sort(parts.begin(), parts.end(),
              [](const VerifyPart& a, const VerifyPart& b) { return a.first() < b.first(); });
    // The whole list: the parts and the stretches between them, checked here.
    std::vector<std::unique_ptr<VerifyPart::Data>> stretches;
    std::size_t at = 0;
    for (VerifyPart& part : parts) {
        assert(part.first() >= at && "parts of the file list must not overlap");
        if (at < part.first()) {
            stretches.push_back(checked(*state_, at, part.first()));
        }
        at = std::max(at, part.last());
        stretches.push_back(std::move(part.data_));
    }
    if (at < state_->files.size()) {
        stretches.push_back(checked(*state_, at, state_->files.size()));
    }

    // The claims stand for the extents when every stretch was claimed and, the directory nodes'
    // blocks claimed as well, they are still usable and no block was claimed twice; else the
    // chains of the stretches claimed are followed again, on this thread, keeping extents (not
    // decompressed or decoded again). A part checked and dropped, its files then checked here,
    // has claimed the same blocks for the same owners: nothing changes.
    detail::BlockClaims* claims = state_->claims ? &*state_->claims : nullptr;
    bool use_claims = claims != nullptr && !stretches.empty() &&
                      std::all_of(stretches.begin(), stretches.end(),
                                  [](const auto& data) { return data->claimed; });
    std::uint64_t claimed_bytes = 0;
    if (use_claims) {
        std::uint64_t blocks = 0;
        for (const auto& data : stretches) {
            blocks += data->claimed_blocks;
            claimed_bytes += data->claimed_bytes;
        }
        for (const detail::Extent& extent : state_->node_extents) {
            blocks += claims->claim(extent);
            claimed_bytes += extent.end - extent.start;
        }
        use_claims = claims->usable() && claims->claimed() == blocks;
    }
    for (auto& data : stretches) {
        if (data->claimed && !use_claims) {
            detail::keep_extents(*state_, *data);
        }
    }
    if (claims != nullptr) {
        claims->spoil(); // good for one finish
    }

    VerifyReport report;
    VerifySummary& summary = report.summary;
    summary.archive_length = state_->length();
    detail::ProblemList problems = state_->walk_problems;
    std::vector<detail::ByteRange> blocks_reached = state_->node_blocks_reached;
    // Without the claims, the extents come in sorted runs, the nodes' and then each stretch's.
    std::vector<std::vector<detail::Extent>> extent_runs;
    if (!use_claims) {
        extent_runs.push_back(state_->node_extents);
    }
    for (auto& data : stretches) {
        problems.absorb(std::move(data->problems));
        extent_runs.push_back(std::move(data->extents));
        blocks_reached.insert(blocks_reached.end(), data->blocks_reached.begin(),
                              data->blocks_reached.end());
        summary.files_read += data->files_read;
        summary.stored_bytes += data->stored_bytes;
        summary.decompressed_bytes += data->decompressed_bytes;
        summary.compressed_files += data->compressed_files;
        data.reset();
    }
    if (use_claims) {
        detail::check_whole_archive(*state_, *claims, claimed_bytes, blocks_reached, problems,
                                    summary);
    } else {
        const detail::SortedExtents extents(std::move(extent_runs));
        detail::check_whole_archive(*state_, extents, blocks_reached, problems, summary);
    }
    if (state_->header) {
        summary.entries = state_->entries;
        summary.directory_nodes = state_->node_offsets.size();
        summary.tree_height = state_->tree_height;
    }
    report.error_count = problems.errors();
    report.warning_count = problems.warnings();
    report.problems = problems.take_sorted();
    return report;
}

DatResult<VerifyReport> verify_archive(const std::filesystem::path& path,
                                       const VerifyOptions& options) {
    auto verifier = Verifier::open(path, options);
    if (!verifier) {
        return std::unexpected(std::move(verifier).error());
    }
    return verifier->finish({});
}

} // namespace quillmere::dat
