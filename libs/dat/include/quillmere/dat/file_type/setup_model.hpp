// Setup models: how an object is assembled from parts, with its placements (which carry animation
// hooks), collision shapes, lights and default resources. Decoded, and encoded: losslessly from
// `StoredSetupModel` (every entry in file order, taken from the view), in key order from
// `SetupModel` (whose maps drop the order and any entry stored twice under one key).
#pragma once

#include "quillmere/common/byte_cursor.hpp"
#include "quillmere/common/byte_writer.hpp"
#include "quillmere/common/math.hpp"
#include "quillmere/dat/export.hpp"
#include "quillmere/dat/file_type/animation_frame.hpp"
#include "quillmere/dat/file_type/animation_hook.hpp"
#include "quillmere/dat/graphics.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

namespace quillmere::dat::file_type::setup_model {

/// A keyed place on the model, such as a holding location or a connection point.
///
/// | offset | width | type  | field   |
/// |--------|-------|-------|---------|
/// | 0      | 4     | i32   | part_id |
/// | 4      | 28    | Frame | frame   |
struct QUILLMERE_DAT_EXPORT LocationType {
    std::int32_t part_id = 0;
    graphics::Frame frame;

    static constexpr std::uint64_t kWireSize = 32;

    /// Reads 32 bytes. On failure the error names 'part_id' or 'frame' in LocationType (outside
    /// the inner record's entries) and the cursor is back at the record's first byte.
    [[nodiscard]] static common::DecodeResult<LocationType> read_le(common::ByteCursor& cursor);
    /// Writes the record's bytes in the order of its table; cannot fail.
    void write_le(common::ByteWriter& writer) const;

    friend bool operator==(const LocationType&, const LocationType&) = default;
};

/// The frame of one placement, decoded with the model's part count.
struct QUILLMERE_DAT_EXPORT PlacementType {
    AnimationFrame anim_frame;

    /// Decodes one AnimationFrame with `num_parts` part frames; its errors pass through unchanged.
    [[nodiscard]] static common::DecodeResult<PlacementType> read(common::ByteCursor& cursor,
                                                                  std::uint32_t num_parts);

    friend bool operator==(const PlacementType&, const PlacementType&) = default;
};

/// A collision cylinder.
///
/// | offset | width | type    | field  |
/// |--------|-------|---------|--------|
/// | 0      | 12    | Vector3 | origin |
/// | 12     | 4     | f32     | radius |
/// | 16     | 4     | f32     | height |
struct QUILLMERE_DAT_EXPORT CylSphere {
    common::Vector3 origin;
    float radius = 0;
    float height = 0;

    static constexpr std::uint64_t kWireSize = 20;

    /// Reads 20 bytes; errors name 'origin', 'radius' or 'height' in CylSphere, cursor restored.
    [[nodiscard]] static common::DecodeResult<CylSphere> read_le(common::ByteCursor& cursor);
    /// Writes the record's bytes in the order of its table; cannot fail.
    void write_le(common::ByteWriter& writer) const;

    friend bool operator==(const CylSphere&, const CylSphere&) = default;
};

/// A light attached to the model.
///
/// | offset | width | type  | field                 |
/// |--------|-------|-------|-----------------------|
/// | 0      | 28    | Frame | viewer_space_location |
/// | 28     | 4     | u32   | color                 |
/// | 32     | 4     | f32   | intensity             |
/// | 36     | 4     | f32   | falloff               |
/// | 40     | 4     | f32   | cone_angle            |
struct QUILLMERE_DAT_EXPORT LightInfo {
    graphics::Frame viewer_space_location;
    std::uint32_t color = 0;
    float intensity = 0;
    float falloff = 0;
    float cone_angle = 0;

    static constexpr std::uint64_t kWireSize = 44;

    /// Reads 44 bytes; errors name the failing field in LightInfo, cursor restored.
    [[nodiscard]] static common::DecodeResult<LightInfo> read_le(common::ByteCursor& cursor);
    /// Writes the record's bytes in the order of its table; cannot fail.
    void write_le(common::ByteWriter& writer) const;

    friend bool operator==(const LightInfo&, const LightInfo&) = default;
};

/// A decoded setup model. Counts are u32 except `num_placements` (i32, never negative); every
/// keyed entry is an i32 key followed by its record.
///
/// | #  | fields                                     | on disk                                  |
/// |----|--------------------------------------------|------------------------------------------|
/// | 1  | id, flags, num_parts                       | 3 × u32                                  |
/// | 2  | parts                                      | num_parts × u32                          |
/// | 3  | parent_index                               | num_parts × u32, only if flags & 0x1     |
/// | 4  | default_scale                              | num_parts × Vector3, only if flags & 0x2 |
/// | 5  | holding_locations                          | u32 count, (i32, LocationType) entries   |
/// | 6  | connection_points                          | u32 count, (i32, LocationType) entries   |
/// | 7  | placement_frames                           | i32 count, (i32, PlacementType) entries  |
/// | 8  | cyl_spheres                                | u32 count, CylSphere records             |
/// | 9  | spheres                                    | u32 count, Sphere records                |
/// | 10 | height, radius, step_up, step_down         | 4 × f32                                  |
/// | 11 | sorting_sphere, selection_sphere           | 2 × Sphere                               |
/// | 12 | lights                                     | u32 count, (i32, LightInfo) entries      |
/// | 13 | default_animation ... default_script_table | 5 × u32, 0 meaning absent                |
///
/// The smallest model (flags 0, every count 0) is 104 bytes. In the maps a later entry replaces
/// an earlier one with the same key.
struct QUILLMERE_DAT_EXPORT SetupModel {
    std::uint32_t id = 0;
    std::uint32_t flags = 0;
    std::vector<std::uint32_t> parts;
    std::vector<std::uint32_t> parent_index;
    std::vector<common::Vector3> default_scale;
    std::unordered_map<std::int32_t, LocationType> holding_locations;
    std::unordered_map<std::int32_t, LocationType> connection_points;
    std::unordered_map<std::int32_t, PlacementType> placement_frames;
    std::vector<CylSphere> cyl_spheres;
    std::vector<common::Sphere> spheres;
    float height = 0;
    float radius = 0;
    float step_up = 0;
    float step_down = 0;
    common::Sphere sorting_sphere;
    common::Sphere selection_sphere;
    std::unordered_map<std::int32_t, LightInfo> lights;
    std::optional<std::uint32_t> default_animation;
    std::optional<std::uint32_t> default_script;
    std::optional<std::uint32_t> default_motion_table;
    std::optional<std::uint32_t> default_sound_table;
    std::optional<std::uint32_t> default_script_table;

    /// Flag bit: `parent_index` is stored.
    static constexpr std::uint32_t kHasParentIndex = 0x1;
    /// Flag bit: `default_scale` is stored.
    static constexpr std::uint32_t kHasDefaultScale = 0x2;

    /// The public entry: decodes one setup model (see `unpack`).
    [[nodiscard]] static common::DecodeResult<SetupModel> read(common::ByteCursor& cursor);
    /// Decodes the setup model held in `data`, from its first byte: `read` at a cursor over `data`,
    /// same errors. `consumed`, when given, receives on success the number of bytes the setup model
    /// occupies; fewer than `data.size()` means the file has bytes after it, which no encoder
    /// writes back.
    [[nodiscard]] static common::DecodeResult<SetupModel> read(std::span<const std::uint8_t> data,
                                                               std::uint64_t* consumed = nullptr);

    /// Decodes one setup model from the cursor's position; trailing bytes are ignored. The first
    /// error is returned unchanged and no model survives it:
    /// - plain `Io` "failed to fill whole buffer" for a short count, key, float or default word;
    /// - a backtrace naming the field for a short record (LocationType, CylSphere, LightInfo,
    ///   Sphere, Vector3);
    /// - `Custom` "SetupModel 0x{id:08X} declared negative placement count {n}" at the offset just
    ///   after the count; nothing after the count is read;
    /// - errors of the placement frames and their hooks, unchanged.
    /// A count larger than the input can satisfy fails with the short-read error of the first
    /// entry that does not fit, without reserving room for the stored count.
    [[nodiscard]] static common::DecodeResult<SetupModel> unpack(common::ByteCursor& cursor);

    /// Writes the model at the writer's position, each map's entries in ascending key order (as
    /// `StoredSetupModel::write`, which refuses what it refuses). Not lossless: the maps do not
    /// keep the stored order nor an entry stored twice under one key, so only a model whose
    /// keys were stored once each and ascending comes back as its bytes. `StoredSetupModel` is
    /// the lossless form.
    [[nodiscard]] common::DecodeResult<void> write(common::ByteWriter& writer) const;
    /// The encoded model; fails only as `write` does.
    [[nodiscard]] common::DecodeResult<std::vector<std::uint8_t>> pack() const;

    /// Absent for 0, else `raw` unchanged.
    [[nodiscard]] static constexpr std::optional<std::uint32_t>
    decode_optional_resource_id(std::uint32_t raw) noexcept {
        if (raw == 0) {
            return std::nullopt;
        }
        return raw;
    }

    friend bool operator==(const SetupModel&, const SetupModel&) = default;
};

/// One placement of a setup model as it lies in borrowed bytes: its key and its frame.
struct QUILLMERE_DAT_EXPORT PlacementView {
    std::int32_t key = 0;
    FrameView anim_frame;
};

/// Takes the placement at offset `pos` of `data` when it is whole there: a key, then a frame of
/// `num_parts` placements as `FrameStep` takes it. Sets `out`, moves `pos` past it and returns
/// true; otherwise returns false and changes nothing. Never reads outside `data`.
struct QUILLMERE_DAT_EXPORT PlacementStep {
    std::uint32_t num_parts = 0;

    bool operator()(std::span<const std::uint8_t> data, std::uint64_t& pos,
                    PlacementView& out) const noexcept;
};

/// A setup model as it lies in borrowed bytes: the layout of `SetupModel` checked whole in one
/// pass that allocates nothing. Lists of fixed-size records are left as their stored bytes (the
/// entry sizes below), the placements are offered in place, the single values are decoded.
/// Valid while those bytes live.
struct QUILLMERE_DAT_EXPORT SetupModelView {
    std::uint32_t id = 0;
    std::uint32_t flags = 0;
    std::uint32_t num_parts = 0;
    /// `num_parts` u32 part ids.
    std::span<const std::uint8_t> parts;
    /// `num_parts` u32 parent indices with `kHasParentIndex`, else empty.
    std::span<const std::uint8_t> parent_index;
    /// `num_parts` Vector3 records (12 bytes) with `kHasDefaultScale`, else empty.
    std::span<const std::uint8_t> default_scale;
    /// Keyed entries of 36 bytes (an i32 key and a LocationType), every stored entry.
    std::span<const std::uint8_t> holding_locations;
    /// Keyed entries of 36 bytes, as `holding_locations`.
    std::span<const std::uint8_t> connection_points;
    /// Every stored placement in file order, a key stored twice included; `placements_by_key`
    /// gives the ones the decoded model keeps.
    CheckedSequence<PlacementView, PlacementStep> placement_frames;
    /// CylSphere records of 20 bytes.
    std::span<const std::uint8_t> cyl_spheres;
    /// Sphere records of 16 bytes.
    std::span<const std::uint8_t> spheres;
    float height = 0;
    float radius = 0;
    float step_up = 0;
    float step_down = 0;
    common::Sphere sorting_sphere;
    common::Sphere selection_sphere;
    /// Keyed entries of 48 bytes (an i32 key and a LightInfo), every stored entry.
    std::span<const std::uint8_t> lights;
    std::optional<std::uint32_t> default_animation;
    std::optional<std::uint32_t> default_script;
    std::optional<std::uint32_t> default_motion_table;
    std::optional<std::uint32_t> default_sound_table;
    std::optional<std::uint32_t> default_script_table;

    /// Checks one setup model at the cursor's position. The reads, the errors and the cursor
    /// position after success or failure are exactly those of `SetupModel::unpack`, which is
    /// this followed by copies of what the view shows.
    [[nodiscard]] static common::DecodeResult<SetupModelView> read(common::ByteCursor& cursor);
    /// `read` under its former name, kept for code written against it.
    [[deprecated("use read")]] [[nodiscard]] static common::DecodeResult<SetupModelView>
    parse(common::ByteCursor& cursor) {
        return read(cursor);
    }

    /// The placements the decoded model's map holds: for each key the last placement stored
    /// under it, in ascending key order. `out`'s previous content is replaced and its capacity
    /// reused; it holds at most one element per stored placement.
    void placements_by_key(std::vector<PlacementView>& out) const;
};

/// One keyed entry of a setup model as stored: its key, then its record.
template <class Record>
struct Keyed {
    std::int32_t key = 0;
    Record value;

    friend bool operator==(const Keyed&, const Keyed&) = default;
};

/// A setup model with every entry as stored, in file order: the lossless owned form. Its
/// fields are those of `SetupModel`, but each keyed list keeps every entry, a key stored twice
/// included, where `SetupModel`'s maps keep the last. For every model the decoder accepts,
/// `write` of what `read` gives is the model's bytes (without any trailing bytes).
struct QUILLMERE_DAT_EXPORT StoredSetupModel {
    std::uint32_t id = 0;
    std::uint32_t flags = 0;
    std::vector<std::uint32_t> parts;
    std::vector<std::uint32_t> parent_index;
    std::vector<common::Vector3> default_scale;
    std::vector<Keyed<LocationType>> holding_locations;
    std::vector<Keyed<LocationType>> connection_points;
    std::vector<Keyed<PlacementType>> placement_frames;
    std::vector<CylSphere> cyl_spheres;
    std::vector<common::Sphere> spheres;
    float height = 0;
    float radius = 0;
    float step_up = 0;
    float step_down = 0;
    common::Sphere sorting_sphere;
    common::Sphere selection_sphere;
    std::vector<Keyed<LightInfo>> lights;
    std::optional<std::uint32_t> default_animation;
    std::optional<std::uint32_t> default_script;
    std::optional<std::uint32_t> default_motion_table;
    std::optional<std::uint32_t> default_sound_table;
    std::optional<std::uint32_t> default_script_table;

    /// Decodes the setup model held in `data`, from its first byte: `SetupModelView::read`,
    /// same errors, then copies of every entry the view shows. `consumed` as for
    /// `SetupModel::read`.
    [[nodiscard]] static common::DecodeResult<StoredSetupModel>
    read(std::span<const std::uint8_t> data, std::uint64_t* consumed = nullptr);
    /// Every entry `view` shows, copied in file order.
    [[nodiscard]] static StoredSetupModel from_view(const SetupModelView& view);
    /// The model with its keyed lists in ascending key order (the last entry of a key kept),
    /// as `SetupModel::write` writes it.
    [[nodiscard]] static StoredSetupModel from_model(const SetupModel& model);

    /// Writes the model at the writer's position, in the order of `SetupModel`'s table; a
    /// default resource that is absent or 0 is written as 0. Refused with a `Custom` error
    /// before anything is written: `parent_index` or `default_scale` not of `parts`' length
    /// with their flag bit (`kHasParentIndex`, `kHasDefaultScale`) or not empty without it, a
    /// placement whose frame does not hold one placement per part, a list longer than its
    /// count can say (`placement_frames` more than 2147483647, any other 4294967295).
    [[nodiscard]] common::DecodeResult<void> write(common::ByteWriter& writer) const;
    /// The encoded model; fails only as `write` does.
    [[nodiscard]] common::DecodeResult<std::vector<std::uint8_t>> pack() const;

    friend bool operator==(const StoredSetupModel&, const StoredSetupModel&) = default;
};

} // namespace quillmere::dat::file_type::setup_model
