// Animation hooks: decoding keeps payload and padding as read; encoding writes them back.
#include "quillmere/dat/file_type/animation_hook.hpp"

#include "quillmere/common/le.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/common/try.hpp"

namespace quillmere::dat::file_type::setup_model {

using common::ByteCursor;
using common::DecodeError;
using common::DecodeResult;

namespace {

// The stored payload length of a fixed-size type (every one a multiple of 4, so no padding).
constexpr std::uint32_t payload_length(std::uint32_t hook_type) noexcept {
    return hooks::kHookTypes[hook_type].payload_size.value_or(0);
}

// Reads a ReplaceObject payload, as stored: a part byte, a word, and a second word when bit 15 of
// the first is set (3 or 5 bytes). `Io` on a short read.
DecodeResult<void> skip_replace_object_payload(ByteCursor& cursor) {
    QM_TRY_VOID(cursor.read_u8());
    QM_TRY(std::uint16_t upper, cursor.read_u16());
    if ((upper & 0x8000) != 0) {
        QM_TRY_VOID(cursor.read_u16());
    }
    return {};
}

void write_hook(common::ByteWriter& writer, std::uint32_t hook_type, std::int32_t direction,
                std::span<const std::uint8_t> data) {
    writer.write_u32(hook_type);
    writer.write_i32(direction);
    writer.write_bytes(data);
}

} // namespace

std::optional<std::uint32_t> fixed_payload_size(std::uint32_t hook_type) noexcept {
    if (hook_type >= kHookTypeCount) {
        return std::nullopt;
    }
    return hooks::kHookTypes[hook_type].payload_size;
}

// The hook layout, read from bytes known to be there: header, then the type's payload and
// padding; a ReplaceObject payload is a part byte, a word and a second word when bit 15 of the
// first is set, which with padding makes 4 or 8 bytes.
bool HookStep::operator()(std::span<const std::uint8_t> data, std::uint64_t& pos,
                          HookView& out) const noexcept {
    constexpr std::uint64_t kHeaderSize = 8;
    if (pos > data.size() || data.size() - pos < kHeaderSize) {
        return false;
    }
    const std::uint8_t* header = data.data() + pos;
    const std::uint64_t left = data.size() - pos - kHeaderSize;
    const auto hook_type = common::load_le<std::uint32_t>(header);
    if (hook_type >= kHookTypeCount) {
        return false;
    }
    std::uint64_t length = payload_length(hook_type);
    if (hook_type == hook_type_number(HookType::ReplaceObject)) {
        if (left < 3) {
            return false;
        }
        length = (common::load_le<std::uint16_t>(header + kHeaderSize + 1) & 0x8000) != 0 ? 8 : 4;
    }
    if (left < length) {
        return false;
    }
    out = HookView{
        hook_type, common::load_le<std::int32_t>(header + 4),
        data.subspan(static_cast<std::size_t>(pos + kHeaderSize), static_cast<std::size_t>(length)),
        pos};
    pos += kHeaderSize + length;
    return true;
}

// A hook the step refuses is read field by field, so that it fails in the read that runs out (or
// at the unknown type), with the cursor where that read leaves it.
DecodeResult<HookView> HookView::read(ByteCursor& cursor) {
    std::uint64_t pos = cursor.position();
    if (HookView hook; HookStep{}(cursor.data(), pos, hook)) {
        cursor.set_position(pos);
        return hook;
    }
    const std::uint64_t start = cursor.position();
    QM_TRY(std::uint32_t hook_type, cursor.read_u32());
    QM_TRY(std::int32_t direction, cursor.read_i32());
    const std::uint64_t payload_start = cursor.position();
    if (hook_type >= kHookTypeCount) {
        return std::unexpected(DecodeError::custom(
            payload_start, "Unsupported AnimationHook type: 0x" + common::hex8(hook_type)));
    }
    if (hook_type == hook_type_number(HookType::ReplaceObject)) {
        QM_TRY_VOID(skip_replace_object_payload(cursor));
        // Padding rounds payload + padding up to a multiple of 4; its bytes are kept as read.
        const std::uint64_t pad_len = (4 - (cursor.position() - payload_start) % 4) % 4;
        QM_TRY_VOID(cursor.read_exact(pad_len));
    } else {
        // Every fixed payload size is a multiple of 4, so no padding follows.
        QM_TRY_VOID(cursor.read_exact(payload_length(hook_type)));
    }
    const auto data =
        cursor.data().subspan(static_cast<std::size_t>(payload_start),
                              static_cast<std::size_t>(cursor.position() - payload_start));
    return HookView{hook_type, direction, data, start};
}

DecodeResult<void> HookView::write(common::ByteWriter& writer) const {
    write_hook(writer, hook_type, direction, data);
    return {};
}

DecodeResult<AnimationHook> AnimationHook::read(ByteCursor& cursor) {
    QM_TRY(const HookView hook, HookView::read(cursor));
    return hook.to_owned();
}

DecodeResult<void> AnimationHook::write(common::ByteWriter& writer) const {
    write_hook(writer, hook_type, direction, data);
    return {};
}

} // namespace quillmere::dat::file_type::setup_model
