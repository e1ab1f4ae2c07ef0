// decompress_lrs on the demo archive's kind of compressed files, in MB/s of output.
#include "demo_archive.hpp"
#include "quillmere/dat/lrs.hpp"
#include "quillmere/testkit/lrs_compressor.hpp"

#include <benchmark/benchmark.h>
#include <cstdlib>

namespace {

struct Corpus {
    std::vector<std::vector<std::uint8_t>> compressed;
    std::size_t output_bytes = 0;
};

// The stored form of every file the demo archive's first 3000 files compress, swept types and
// others alike; checked once against the original contents.
const Corpus& corpus() {
    static const Corpus built = [] {
        Corpus c;
        quillmere::demo::DemoGenerator generator(1);
        for (int i = 0; i < 3000; ++i) {
            auto file = generator.next();
            if (!file.compress) {
                continue;
            }
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

} // namespace

BENCHMARK_MAIN();
