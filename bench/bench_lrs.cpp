// decompress_lrs and compress_lrs on the demo archive's kind of files: decompression in MB/s of
// output, compression in MB/s of input.
#include "demo_archive.hpp"
#include "quillmere/dat/lrs.hpp"
#include "quillmere/testkit/lrs_compressor.hpp"

#include <benchmark/benchmark.h>
#include <cstdlib>

namespace {

struct Corpus {
    std::vector<std::vector<std::uint8_t>> compressed;
    std::size_t output_bytes = 0;
    // The contents of the files above, and of every file of the same stretch of the demo.
    std::vector<std::vector<std::uint8_t>> compressible;
    std::vector<std::vector<std::uint8_t>> every_file;
};

// The stored form of every file the demo archive's first 3000 files compress, swept types and
// others alike; checked once against the original contents. The library's compressor is
// checked on every file the same way.
const Corpus& corpus() {
    static const Corpus built = [] {
        Corpus c;
        quillmere::demo::DemoGenerator generator(1);
        for (int i = 0; i < 3000; ++i) {
            auto file = generator.next();
            if (quillmere::dat::utils::decompress_lrs(
                    quillmere::dat::utils::compress_lrs(file.contents)) != file.contents) {
                std::abort();
            }
            c.every_file.push_back(file.contents);
            if (!file.compress) {
                continue;
            }
            c.compressible.push_back(file.contents);
            auto stored = quillmere::testkit::lrs_compress(file.contents);
            if (quillmere::dat::utils::decompress_lrs(stored) != file.contents) {
                std::abort();
            }
            c.output_bytes += file.contents.size();
            c.compressed.push_back(std::move(stored));
        }
        return c;
    }();
    return built;
}

void BM_DecompressLrs(benchmark::State& state) {
    const Corpus& c = corpus();
    for (auto _ : state) {
        for (const auto& stored : c.compressed) {
            auto out = quillmere::dat::utils::decompress_lrs(stored);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(c.output_bytes));
    state.counters["files"] = static_cast<double>(c.compressed.size());
}
BENCHMARK(BM_DecompressLrs)->Unit(benchmark::kMillisecond);

// Compresses each file of `files` in turn; bytes processed are input bytes.
void compress_all(benchmark::State& state, const std::vector<std::vector<std::uint8_t>>& files) {
    std::size_t input_bytes = 0;
    std::size_t stored_bytes = 0;
    for (const auto& file : files) {
        input_bytes += file.size();
        stored_bytes += quillmere::dat::utils::compress_lrs(file).size();
    }
    for (auto _ : state) {
        for (const auto& file : files) {
            auto out = quillmere::dat::utils::compress_lrs(file);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(input_bytes));
    state.counters["files"] = static_cast<double>(files.size());
    state.counters["ratio"] = static_cast<double>(stored_bytes) / static_cast<double>(input_bytes);
}

// The files the demo stores compressed (the decompression benchmark's files).
void BM_CompressLrs(benchmark::State& state) {
    compress_all(state, corpus().compressible);
}
BENCHMARK(BM_CompressLrs)->Unit(benchmark::kMillisecond);

// Every file of the stretch, as a repack that compresses everything would see them.
void BM_CompressLrsEveryFile(benchmark::State& state) {
    compress_all(state, corpus().every_file);
}
BENCHMARK(BM_CompressLrsEveryFile)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
