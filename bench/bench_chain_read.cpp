// read_file_data on chains of 1 KiB blocks, in MB/s: files of 16 and 256 blocks, laid out one
// block after another (as most archives store them) or scattered over the archive.
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/temp_file.hpp"

#include <benchmark/benchmark.h>
#include <cstdlib>

namespace {

using quillmere::dat::DatDatabase;

// Args: blocks per file, 1 for scattered blocks.
void BM_ReadFileData(benchmark::State& state) {
    const auto blocks = static_cast<std::size_t>(state.range(0));
    const bool scattered = state.range(1) != 0;
    const std::size_t file_size = blocks * 1020;
    const std::size_t files = (32u << 20) / file_size;

    quillmere::testkit::TempDir dir("bench-chain");
    quillmere::testkit::ArchiveBuilder builder(1024);
    if (scattered) {
        builder.shuffle_blocks(7);
    }
    for (std::size_t i = 0; i < files; ++i) {
        builder.add_file(0x06000000U + static_cast<std::uint32_t>(i),
                         std::vector<std::uint8_t>(file_size, static_cast<std::uint8_t>(i)));
    }
    builder.write_to(dir.path() / "chains.dat");
    auto dat = DatDatabase::open(dir.path() / "chains.dat");
    if (!dat) {
        std::abort();
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> chains;
    for (const auto& [id, entry] : dat->files()) {
        chains.emplace_back(entry.offset, entry.size);
    }
    for (auto _ : state) {
        for (const auto& [offset, size] : chains) {
            auto bytes = dat->read_file_data(offset, size);
            if (!bytes) {
                std::abort();
            }
            benchmark::DoNotOptimize(bytes->data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(files * file_size));
}
BENCHMARK(BM_ReadFileData)
    ->Args({16, 0})
    ->Args({256, 0})
    ->Args({16, 1})
    ->Args({256, 1})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
