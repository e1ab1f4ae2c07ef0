// DatDatabase::open on large directories, in entries per second. The archives hold only their
// directory (entries name no stored data), so their size is the tree's: about 33 MiB for a
// million entries.
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/temp_file.hpp"

#include <benchmark/benchmark.h>
#include <cstdlib>

namespace {

using quillmere::dat::DatDatabase;

void BM_Open(benchmark::State& state) {
    const auto entries = static_cast<std::uint32_t>(state.range(0));
    quillmere::testkit::TempDir dir("bench-open");
    quillmere::testkit::ArchiveBuilder builder(1024);
    for (std::uint32_t i = 0; i < entries; ++i) {
        quillmere::testkit::EntrySpec entry;
        entry.id = 0x01000000U + i * 3U;
        entry.offset = 0x1000U + i;
        entry.size = 100 + i % 5000;
        builder.add_entry(entry);
    }
    builder.write_to(dir.path() / "directory.dat");
    for (auto _ : state) {
        auto dat = DatDatabase::open(dir.path() / "directory.dat");
        if (!dat || dat->files().size() != entries) {
            std::abort();
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * entries);
}
BENCHMARK(BM_Open)->Arg(60'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
