// The byte-exact round-trip check of one hook.
#include "round_trip.hpp"

#include "quillmere/case_runner/checks.hpp"
#include "quillmere/common/text.hpp"

#include <string>
#include <vector>

namespace quillmere::parity {

using common::hex8;

namespace {

// `Hook` is an owned hook or a view; both encode the same way.
template <class Hook>
void check_round_trip(std::uint32_t file_id, std::size_t hook_index, const Hook& hook,
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

} // namespace

common::DecodeResult<HookWithSlice> read_one_with_slice(std::span<const std::uint8_t> bytes,
                                                        std::size_t start) {
    if (start > bytes.size()) {
        case_runner::fail("hook start " + std::to_string(start) + " lies beyond the file's " +
                          std::to_string(bytes.size()) + " bytes");
    }
    common::ByteCursor cursor(bytes);
    cursor.set_position(start);
    auto hook = HookView::read(cursor);
    if (!hook) {
        return std::unexpected(std::move(hook).error());
    }
    return HookWithSlice{hook->to_owned(), bytes.subspan(start, hook->encoded_size())};
}

void assert_round_trip(std::uint32_t file_id, std::size_t hook_index, const AnimationHook& hook,
                       std::span<const std::uint8_t> original_slice) {
    check_round_trip(file_id, hook_index, hook, original_slice);
}

void assert_round_trip(std::uint32_t file_id, std::size_t hook_index, const HookView& hook,
                       std::span<const std::uint8_t> original_slice) {
    check_round_trip(file_id, hook_index, hook, original_slice);
}

} // namespace quillmere::parity
