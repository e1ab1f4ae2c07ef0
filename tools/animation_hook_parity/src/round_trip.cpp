// The byte-exact round-trip check of one hook.
#include "round_trip.hpp"

#include "quillmere/case_runner/checks.hpp"
#include "quillmere/common/text.hpp"

#include <string>
#include <vector>

namespace quillmere::parity {

using common::hex8;

common::DecodeResult<HookWithSlice> read_one_with_slice(std::span<const std::uint8_t> bytes,
                                                        std::size_t start) {
    case_runner::require(start <= bytes.size(), "hook start " + std::to_string(start) +
                                                    " lies beyond the file's " +
                                                    std::to_string(bytes.size()) + " bytes");
    const auto rest = bytes.subspan(start);
    common::ByteCursor cursor(rest);
    auto hook = AnimationHook::read(cursor);
    if (!hook) {
        return std::unexpected(std::move(hook).error());
    }
    const auto occupied = static_cast<std::size_t>(cursor.position());
    return HookWithSlice{std::move(*hook), rest.first(occupied)};
}

void assert_round_trip(std::uint32_t file_id, std::size_t hook_index, const AnimationHook& hook,
                       std::span<const std::uint8_t> original_slice) {
    // One buffer per thread, reused: this runs for every hook of every animation.
    thread_local std::vector<std::uint8_t> encoded;
    encoded.clear();
    encoded.reserve(hook.encoded_size());
    common::ByteWriter writer(encoded);
    if (auto written = hook.write(writer); !written) {
        case_runner::fail("write hook " + std::to_string(hook_index) + " of file 0x" +
                          hex8(file_id) + ": " + written.error().message());
    }
    if (!std::ranges::equal(encoded, original_slice)) {
        case_runner::require_eq(
            encoded, std::vector<std::uint8_t>(original_slice.begin(), original_slice.end()),
            "byte-mismatch on file 0x" + hex8(file_id) + " hook #" + std::to_string(hook_index) +
                " (type=" + std::to_string(hook.hook_type) +
                " dir=" + std::to_string(hook.direction) +
                " payload_len=" + std::to_string(hook.data.size()) + ")");
    }
}

} // namespace quillmere::parity
