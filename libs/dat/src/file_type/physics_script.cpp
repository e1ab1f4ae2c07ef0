// Physics scripts: decoding, and encoding that reproduces the decoded bytes.
#include "quillmere/dat/file_type/physics_script.hpp"

#include "file_type/capped_reserve.hpp"
#include "file_type/detail/physics_script.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/common/try.hpp"

#include <bit>
#include <limits>
#include <string>

namespace quillmere::dat::file_type::physics_script {

using common::ByteCursor;
using common::ByteWriter;
using common::DecodeError;
using common::DecodeResult;
using setup_model::AnimationHook;

namespace {

// The smallest entry: a start time and a hook header.
constexpr std::uint64_t kMinEntrySize = 16;

} // namespace

namespace detail {

DecodeResult<std::uint32_t> entry_count(std::uint32_t id, std::uint64_t count, std::uint64_t pos) {
    if (count > std::numeric_limits<std::uint32_t>::max()) {
        return std::unexpected(DecodeError::custom(
            pos, "PhysicsScript 0x" + common::hex8(id) + " has " + std::to_string(count) +
                     " entries, more than a 32-bit count can hold"));
    }
    return static_cast<std::uint32_t>(count);
}

} // namespace detail

DecodeResult<PhysicsScriptData> PhysicsScriptData::read(ByteCursor& cursor) {
    // The start time travels as its bit pattern so that no float conversion can touch it.
    QM_TRY(std::uint64_t start_time_bits, cursor.read_le<std::uint64_t>());
    QM_TRY(AnimationHook hook, AnimationHook::read(cursor));
    return PhysicsScriptData{std::bit_cast<double>(start_time_bits), std::move(hook)};
}

DecodeResult<void> PhysicsScriptData::write(ByteWriter& writer) const {
    writer.write_le(std::bit_cast<std::uint64_t>(start_time));
    return hook.write(writer);
}

DecodeResult<PhysicsScript> PhysicsScript::unpack(std::span<const std::uint8_t> data) {
    ByteCursor cursor(data);
    return read(cursor);
}

DecodeResult<PhysicsScript> PhysicsScript::read(ByteCursor& cursor) {
    QM_TRY(std::uint32_t id, cursor.read_u32());
    QM_TRY(std::uint32_t num_script_datas, cursor.read_u32());
    std::vector<PhysicsScriptData> script_data;
    file_type::detail::capped_reserve(script_data, num_script_datas, cursor, kMinEntrySize);
    for (std::uint32_t i = 0; i < num_script_datas; ++i) {
        QM_TRY(auto entry, PhysicsScriptData::read(cursor));
        script_data.push_back(std::move(entry));
    }
    return PhysicsScript{id, std::move(script_data)};
}

DecodeResult<std::vector<std::uint8_t>> PhysicsScript::pack() const {
    std::size_t size = 8;
    for (const auto& entry : script_data) {
        size += 8 + entry.hook.encoded_size();
    }
    std::vector<std::uint8_t> out;
    out.reserve(size);
    ByteWriter writer(out);
    QM_TRY_VOID(write(writer));
    return out;
}

DecodeResult<void> PhysicsScript::write(ByteWriter& writer) const {
    // Checked before the first byte, so a refused script leaves the output untouched.
    QM_TRY(std::uint32_t count, detail::entry_count(id, script_data.size(), writer.position()));
    writer.write_u32(id);
    writer.write_u32(count);
    for (const auto& entry : script_data) {
        QM_TRY_VOID(entry.write(writer));
    }
    return {};
}

} // namespace quillmere::dat::file_type::physics_script
