// Animation hooks: decoding keeps payload and padding as read; encoding writes them back.
#include "quillmere/dat/file_type/animation_hook.hpp"

#include "quillmere/common/text.hpp"
#include "quillmere/common/try.hpp"

#include <array>

namespace quillmere::dat::file_type::setup_model {

using common::ByteCursor;
using common::DecodeError;
using common::DecodeResult;

namespace {

// Fixed payload sizes by type number; kVariable marks ReplaceObject.
constexpr std::uint32_t kVariable = 0xFFFFFFFF;
constexpr std::array<std::uint32_t, kHookTypeCount> kPayloadSizes = {
    0, 4, 4, 28, 0, kVariable, 4,  16, 12, 16, 12, 16, 8,  40,
    4, 4, 4, 0,  4, 8,         12, 16, 12, 8,  12, 4,  40,
};

// A ReplaceObject payload is at most 5 bytes, and with its padding 8.
constexpr std::size_t kReplaceObjectCapacity = 8;

// Exactly `payload_size` bytes from the cursor (nothing read for 0), or `Io` on a short read.
DecodeResult<std::vector<std::uint8_t>> read_exact_payload(ByteCursor& cursor,
                                                           std::uint32_t payload_size) {
    QM_TRY(auto bytes, cursor.read_exact(payload_size));
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

// The 3 or 5 bytes of a ReplaceObject payload as read: part byte, word, and a second word when
// bit 15 of the first is set. `Io` on a short read.
DecodeResult<std::vector<std::uint8_t>> read_replace_object_payload(ByteCursor& cursor) {
    std::vector<std::uint8_t> payload;
    payload.reserve(kReplaceObjectCapacity);
    QM_TRY(std::uint8_t part_index, cursor.read_u8());
    payload.push_back(part_index);
    QM_TRY(std::uint16_t upper, cursor.read_u16());
    payload.push_back(static_cast<std::uint8_t>(upper));
    payload.push_back(static_cast<std::uint8_t>(upper >> 8));
    if ((upper & 0x8000) != 0) {
        QM_TRY(std::uint16_t lower, cursor.read_u16());
        payload.push_back(static_cast<std::uint8_t>(lower));
        payload.push_back(static_cast<std::uint8_t>(lower >> 8));
    }
    return payload;
}

} // namespace

std::optional<std::uint32_t> fixed_payload_size(std::uint32_t hook_type) noexcept {
    if (hook_type >= kHookTypeCount || kPayloadSizes[hook_type] == kVariable) {
        return std::nullopt;
    }
    return kPayloadSizes[hook_type];
}

DecodeResult<AnimationHook> AnimationHook::read(ByteCursor& cursor) {
    QM_TRY(std::uint32_t hook_type, cursor.read_u32());
    QM_TRY(std::int32_t direction, cursor.read_i32());
    const std::uint64_t payload_start = cursor.position();
    if (hook_type >= kHookTypeCount) {
        return std::unexpected(DecodeError::custom(
            payload_start, "Unsupported AnimationHook type: 0x" + common::hex8(hook_type)));
    }

    std::vector<std::uint8_t> data;
    if (hook_type == static_cast<std::uint32_t>(HookType::ReplaceObject)) {
        QM_TRY(auto payload, read_replace_object_payload(cursor));
        data = std::move(payload);
        // Padding rounds payload + padding up to a multiple of 4; its bytes are kept as read.
        const std::uint64_t pad_len = (4 - (cursor.position() - payload_start) % 4) % 4;
        QM_TRY(auto padding, cursor.read_exact(pad_len));
        data.insert(data.end(), padding.begin(), padding.end());
    } else {
        // Every fixed payload size is a multiple of 4, so no padding follows.
        QM_TRY(auto payload, read_exact_payload(cursor, kPayloadSizes[hook_type]));
        data = std::move(payload);
    }
    return AnimationHook{hook_type, direction, std::move(data)};
}

DecodeResult<void> AnimationHook::write(common::ByteWriter& writer) const {
    writer.write_u32(hook_type);
    writer.write_i32(direction);
    writer.write_bytes(data);
    return {};
}

} // namespace quillmere::dat::file_type::setup_model
