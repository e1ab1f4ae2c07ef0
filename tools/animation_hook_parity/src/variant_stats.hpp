// Per-hook-type counters of the checker and the display names of the hook types.
#pragma once

#include "quillmere/dat/file_type/animation_hook.hpp"
#include "quillmere/tools/hook_type_names.hpp"

#include <array>
#include <cstdint>
#include <string_view>

namespace quillmere::parity {

/// Display names of the hook types, indexed by type number (the table the tools share).
inline constexpr std::array<std::string_view, dat::file_type::setup_model::kHookTypeCount>
    VARIANT_NAMES = tools::kHookTypeNames;

/// Hooks seen per type number, and the number of files swept without error (kept by the case).
struct VariantStats {
    std::array<std::uint64_t, dat::file_type::setup_model::kHookTypeCount> counts{};
    std::uint64_t files = 0;

    /// Counts the hook under its type; a type number past the table is not counted anywhere.
    void record(const dat::file_type::setup_model::AnimationHook& hook) noexcept {
        record_type(hook.hook_type);
    }
    void record(const dat::file_type::setup_model::HookView& hook) noexcept {
        record_type(hook.hook_type);
    }

    /// Sum of the per-type counters (`files` is not part of it).
    [[nodiscard]] std::uint64_t total() const noexcept {
        std::uint64_t sum = 0;
        for (auto count : counts) {
            sum += count;
        }
        return sum;
    }

  private:
    void record_type(std::uint32_t hook_type) noexcept {
        if (hook_type < counts.size()) {
            ++counts[hook_type];
        }
    }
};

} // namespace quillmere::parity
