// Physics scripts: a timed list of animation hooks, decoded and encoded back byte for byte.
#pragma once

#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/byte_writer.hpp"
#include "quillmere/dat/export.hpp"
#include "quillmere/dat/file_type/animation_hook.hpp"
#include "quillmere/dat/file_type/checked_sequence.hpp"

#include <cstdint>
#include <span>
#include <vector>

namespace quillmere::dat::file_type::physics_script {

/// One entry: a start time and the hook it fires.
///
/// | offset | width    | type          | field      |
/// |--------|----------|---------------|------------|
/// | 0      | 8        | f64           | start_time |
/// | 8      | variable | AnimationHook | hook       |
struct QUILLMERE_DAT_EXPORT PhysicsScriptData {
    /// Kept as its exact 8-byte pattern: NaN payloads and negative zero survive a round trip.
    double start_time = 0;
    setup_model::AnimationHook hook;

    /// Reads the start time, then one hook; a short start time is a plain `Io` error, hook errors
    /// pass through unchanged. No context is added.
    [[nodiscard]] static common::DecodeResult<PhysicsScriptData> read(common::ByteCursor& cursor);
    /// Writes the start time's bits, then the hook.
    [[nodiscard]] common::DecodeResult<void> write(common::ByteWriter& writer) const;

    friend bool operator==(const PhysicsScriptData&, const PhysicsScriptData&) = default;
};

/// A physics script file.
///
/// | offset | width    | type                | field            |
/// |--------|----------|---------------------|------------------|
/// | 0      | 4        | u32                 | id               |
/// | 4      | 4        | u32                 | num_script_datas |
/// | 8      | variable | PhysicsScriptData[] | script_data      |
///
/// Entries are stored back to back without padding; a script with no entries is 8 bytes.
struct QUILLMERE_DAT_EXPORT PhysicsScript {
    /// The id word stored in the file's first four bytes.
    std::uint32_t id = 0;
    /// The entries in file order.
    std::vector<PhysicsScriptData> script_data;

    /// Decodes the script held in `data` (from its first byte); trailing bytes are ignored.
    [[nodiscard]] static common::DecodeResult<PhysicsScript>
    unpack(std::span<const std::uint8_t> data);
    /// Decodes one script at the cursor's position. The first error is returned unchanged (plain
    /// `Io` for a short id, count or start time; the hook decoder's error for a hook). A count
    /// larger than the input can satisfy fails with the short-read error of the first entry that
    /// does not fit, without reserving room for the stored count.
    [[nodiscard]] static common::DecodeResult<PhysicsScript> read(common::ByteCursor& cursor);
    /// Decodes the script held in `data`, from its first byte: `read` at a cursor over `data`,
    /// same errors. `consumed`, when given, receives on success the number of bytes the script
    /// occupies; fewer than `data.size()` means the file has bytes after it, which no encoder
    /// writes back.
    [[nodiscard]] static common::DecodeResult<PhysicsScript>
    read(std::span<const std::uint8_t> data, std::uint64_t* consumed = nullptr);

    /// The encoded script; for a decoded script, exactly the bytes it came from (without any
    /// trailing bytes). Fails only as `write` does.
    [[nodiscard]] common::DecodeResult<std::vector<std::uint8_t>> pack() const;
    /// Writes id, entry count and entries at the writer's position. A script with more entries
    /// than a 32-bit count can hold is refused with a `Custom` error before anything is written.
    [[nodiscard]] common::DecodeResult<void> write(common::ByteWriter& writer) const;

    friend bool operator==(const PhysicsScript&, const PhysicsScript&) = default;
};

/// One entry of a physics script as it lies in borrowed bytes, its hook decoded in place.
struct QUILLMERE_DAT_EXPORT PhysicsScriptDataView {
    /// Taken from its exact 8-byte pattern, as `PhysicsScriptData::start_time`.
    double start_time = 0;
    setup_model::HookView hook;

    /// Reads the start time, then one hook, without copying (`PhysicsScriptDataStep`, and when
    /// that refuses the bytes, the reads that find the exact error); errors and cursor positions
    /// are exactly those of `PhysicsScriptData::read`, which is this followed by a copy.
    [[nodiscard]] static common::DecodeResult<PhysicsScriptDataView>
    read(common::ByteCursor& cursor);
    /// Writes the start time's bits, then the hook, as `PhysicsScriptData::write` does.
    [[nodiscard]] common::DecodeResult<void> write(common::ByteWriter& writer) const;
    /// The entry as an owned value.
    [[nodiscard]] PhysicsScriptData to_owned() const;
};

/// Takes the entry at offset `pos` of `data` when it is whole there (start time, then a hook as
/// `HookStep` takes it): sets `out`, moves `pos` past it and returns true. Otherwise returns
/// false and changes nothing. Never reads outside `data`; builds no error.
struct QUILLMERE_DAT_EXPORT PhysicsScriptDataStep {
    bool operator()(std::span<const std::uint8_t> data, std::uint64_t& pos,
                    PhysicsScriptDataView& out) const noexcept;
};

/// A physics script file as it lies in borrowed bytes: the layout of `PhysicsScript` checked
/// whole in one pass that allocates nothing, then its entries offered in place. Valid while
/// those bytes live.
struct QUILLMERE_DAT_EXPORT PhysicsScriptView {
    std::uint32_t id = 0;
    /// The entries in file order; hook offsets count from the start of the cursor's data.
    CheckedSequence<PhysicsScriptDataView, PhysicsScriptDataStep> script_data;

    /// Checks one script at the cursor's position. The reads, the errors and the cursor
    /// position after success or failure are exactly those of `PhysicsScript::read`, which is
    /// this followed by copies of the entries.
    [[nodiscard]] static common::DecodeResult<PhysicsScriptView> read(common::ByteCursor& cursor);
    /// `read` under its former name, kept for code written against it.
    [[deprecated("use read")]] [[nodiscard]] static common::DecodeResult<PhysicsScriptView>
    parse(common::ByteCursor& cursor) {
        return read(cursor);
    }

    /// Writes the script as `PhysicsScript::write` writes its owned form: id, entry count,
    /// entries. For a script `read` gave, these are the bytes it consumed.
    [[nodiscard]] common::DecodeResult<void> write(common::ByteWriter& writer) const;
};

} // namespace quillmere::dat::file_type::physics_script
