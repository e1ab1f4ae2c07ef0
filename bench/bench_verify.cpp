// The archive verifier on a demo archive (4000 files, about 31 MiB, block size 1024) in MB/s of
// archive, on one thread and with the file list shared by two as a tool does it; beside it, the
// same file read front to back in 128 KiB pieces, which is what `cat ARCHIVE > /dev/null` costs.
// Page cache warm (every run reads the archive the run before read).
#include "demo_archive.hpp"
#include "quillmere/dat/verifier.hpp"
#include "quillmere/testkit/temp_file.hpp"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using quillmere::dat::Verifier;
using quillmere::dat::VerifyPart;

// One demo archive for every benchmark of the run.
const std::filesystem::path& demo_archive() {
    static const quillmere::testkit::TempDir dir("bench-verify");
    static const std::filesystem::path path = [] {
        const auto archive = dir.path() / "demo.dat";
        quillmere::demo::write_demo_archive(archive, quillmere::demo::DemoOptions{});
        return archive;
    }();
    return path;
}

void BM_Verify(benchmark::State& state) {
    const auto threads = static_cast<std::size_t>(state.range(0));
    const auto& path = demo_archive();
    for (auto _ : state) {
        auto verifier = Verifier::open(path);
        if (!verifier) {
            std::abort();
        }
        const auto stretches = verifier->stretches(threads);
        std::vector<std::optional<VerifyPart>> parts(stretches.size());
        std::vector<std::thread> helpers;
        for (std::size_t i = 1; i < stretches.size(); ++i) {
            helpers.emplace_back([&, i] {
                parts[i].emplace(verifier->check_files(stretches[i].first, stretches[i].last));
            });
        }
        parts[0].emplace(verifier->check_files(stretches[0].first, stretches[0].last));
        for (auto& helper : helpers) {
            helper.join();
        }
        std::vector<VerifyPart> done;
        for (auto& part : parts) {
            done.push_back(std::move(*part));
        }
        const auto report = verifier->finish(std::move(done));
        if (report.error_count + report.warning_count != 0) {
            std::abort();
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(std::filesystem::file_size(path)));
}
BENCHMARK(BM_Verify)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadFrontToBack(benchmark::State& state) {
    const auto& path = demo_archive();
    std::vector<char> buffer(128 << 10);
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            std::abort();
        }
        while (::read(fd, buffer.data(), buffer.size()) > 0) {
        }
        ::close(fd);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(std::filesystem::file_size(path)));
}
BENCHMARK(BM_ReadFrontToBack)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
