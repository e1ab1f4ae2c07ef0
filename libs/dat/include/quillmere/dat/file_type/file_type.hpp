// The portal file types that carry animation hooks, and the file-id ranges that hold them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace quillmere::dat::file_type {

/// A file type whose files carry animation hooks.
enum class FileType : std::uint8_t { Animation, SetupModel, PhysicsScript };

/// The ids of one file type: `first` to `last`, both included.
struct IdRange {
    FileType type;
    std::uint32_t first;
    std::uint32_t last;

    [[nodiscard]] constexpr bool contains(std::uint32_t id) const noexcept {
        return id >= first && id <= last;
    }
};

/// The id ranges of the hook-carrying types, in the order the checker sweeps them. The top byte
/// of an id names its type: 0x03 animations, 0x02 setup models, 0x33 physics scripts.
inline constexpr std::array<IdRange, 3> kIdRanges{{
    {FileType::Animation, 0x03000000, 0x03FFFFFF},
    {FileType::SetupModel, 0x02000000, 0x02FFFFFF},
    {FileType::PhysicsScript, 0x33000000, 0x33FFFFFF},
}};

/// The name of `type` as the tools print it: "animation", "setup model", "physics script".
[[nodiscard]] constexpr std::string_view name(FileType type) noexcept {
    switch (type) {
    case FileType::Animation:
        return "animation";
    case FileType::SetupModel:
        return "setup model";
    case FileType::PhysicsScript:
        return "physics script";
    }
    return {};
}

/// The id range of `type`.
[[nodiscard]] constexpr const IdRange& range_of(FileType type) noexcept {
    for (const IdRange& range : kIdRanges) {
        if (range.type == type) {
            return range;
        }
    }
    return kIdRanges.front(); // not reached: every type has its range
}

/// The hook-carrying type of file `id`, or nothing for every other id.
[[nodiscard]] constexpr std::optional<FileType> of(std::uint32_t id) noexcept {
    for (const IdRange& range : kIdRanges) {
        if (range.contains(id)) {
            return range.type;
        }
    }
    return std::nullopt;
}

} // namespace quillmere::dat::file_type
