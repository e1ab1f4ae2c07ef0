// Hook decoding and encoding, in hooks per second: every hook type, both ReplaceObject forms.
#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/byte_writer.hpp"
#include "quillmere/dat/file_type/animation_hook.hpp"
#include "quillmere/testkit/bytes.hpp"
#include "quillmere/testkit/portal_files.hpp"

#include <benchmark/benchmark.h>
#include <cstdlib>

namespace {

using quillmere::dat::file_type::setup_model::AnimationHook;
using quillmere::dat::file_type::setup_model::kHookTypeCount;

constexpr std::uint32_t kHooks = kHookTypeCount * 40;

std::vector<std::uint8_t> hook_bytes() {
    quillmere::testkit::Bytes out;
    for (std::uint32_t i = 0; i < kHooks; ++i) {
        quillmere::testkit::append_hook(
            out, quillmere::testkit::make_hook(i % kHookTypeCount, 1, i / kHookTypeCount));
    }
    return out.take();
}

void BM_HookDecodeEncode(benchmark::State& state) {
    const auto bytes = hook_bytes();
    std::vector<std::uint8_t> encoded;
    encoded.reserve(bytes.size());
    for (auto _ : state) {
        quillmere::common::ByteCursor cursor(bytes);
        encoded.clear();
        quillmere::common::ByteWriter writer(encoded);
        for (std::uint32_t i = 0; i < kHooks; ++i) {
            auto hook = AnimationHook::read(cursor);
            if (!hook || !hook->write(writer)) {
                std::abort();
            }
        }
        benchmark::DoNotOptimize(encoded.data());
    }
    if (encoded != bytes) {
        std::abort();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kHooks);
}
BENCHMARK(BM_HookDecodeEncode);

void BM_HookDecode(benchmark::State& state) {
    const auto bytes = hook_bytes();
    for (auto _ : state) {
        quillmere::common::ByteCursor cursor(bytes);
        for (std::uint32_t i = 0; i < kHooks; ++i) {
            auto hook = AnimationHook::read(cursor);
            benchmark::DoNotOptimize(hook);
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kHooks);
}
BENCHMARK(BM_HookDecode);

} // namespace

BENCHMARK_MAIN();
