// The per-file hook sweeps.
#include "sweeps.hpp"

#include "quillmere/case_runner/checks.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"
#include "quillmere/dat/graphics.hpp"
#include "round_trip.hpp"

#include <vector>

namespace quillmere::parity {

using common::ByteCursor;
using common::hex8;
using dat::file_type::animation::Animation;
using dat::file_type::animation::AnimationFlags;
using dat::file_type::physics_script::PhysicsScript;
using dat::file_type::setup_model::SetupModel;

namespace {

constexpr std::uint64_t kFrameSize = dat::graphics::Frame::kWireSize;

std::string file_label(std::uint32_t file_id) {
    return "0x" + hex8(file_id);
}

// A word of a file the library decoder has already accepted; failing here is a checker bug.
// The message is built only on failure: this runs four times per animation.
std::uint32_t rewalk_u32(ByteCursor& cursor, std::uint32_t file_id) {
    auto word = cursor.read_u32();
    if (!word) {
        case_runner::require_ok(std::move(word), "re-walk of animation " + file_label(file_id));
    }
    return *word;
}

// Whether `Animation::read` accepts `bytes`, found by walking the same layout without building
// anything: the four header words, the root placements when flag bit 0x1 is set, then per frame
// the part placements, a hook count and hooks read by the rules of `AnimationHook::read` (type
// below 27; ReplaceObject's 3 or 5 bytes and padding to a multiple of 4; otherwise the type's
// fixed size). Every file of a sound archive passes, so the decoder's allocations are spent
// only on a file that will be reported. On true, `flags` holds the stored flags word.
bool animation_decodes(std::span<const std::uint8_t> bytes, std::uint32_t& flags) {
    const std::uint64_t size = bytes.size();
    std::uint64_t at = 0;
    const auto skip = [&](std::uint64_t count) {
        if (size - at < count) {
            return false;
        }
        at += count;
        return true;
    };
    const auto word = [&](std::uint32_t& out) {
        if (size - at < 4) {
            return false;
        }
        out = common::load_le<std::uint32_t>(bytes.data() + at);
        at += 4;
        return true;
    };
    std::uint32_t id = 0;
    std::uint32_t num_parts = 0;
    std::uint32_t num_frames = 0;
    if (!word(id) || !word(flags) || !word(num_parts) || !word(num_frames)) {
        return false;
    }
    if (AnimationFlags::from_bits_retain(flags).contains(AnimationFlags::POS_FRAMES) &&
        !skip(num_frames * kFrameSize)) {
        return false;
    }
    // Each frame takes at least its 4-byte hook count, so a huge count ends quickly.
    for (std::uint32_t frame = 0; frame < num_frames; ++frame) {
        std::uint32_t num_hooks = 0;
        if (!skip(num_parts * kFrameSize) || !word(num_hooks)) {
            return false;
        }
        for (std::uint32_t hook = 0; hook < num_hooks; ++hook) {
            std::uint32_t hook_type = 0;
            std::uint32_t direction = 0;
            if (!word(hook_type) || !word(direction) ||
                hook_type >= dat::file_type::setup_model::kHookTypeCount) {
                return false;
            }
            if (const auto fixed = dat::file_type::setup_model::fixed_payload_size(hook_type)) {
                if (!skip(*fixed)) {
                    return false;
                }
                continue;
            }
            // ReplaceObject: a part byte, a word, a second word when bit 15 of the first is set.
            if (size - at < 3) {
                return false;
            }
            const bool long_form = (bytes[at + 2] & 0x80) != 0;
            const std::uint64_t payload = long_form ? 5 : 3;
            if (!skip(payload + (4 - payload % 4) % 4)) {
                return false;
            }
        }
    }
    return true;
}

} // namespace

SweepResult sweep_animation_hooks(std::span<const std::uint8_t> bytes, std::uint32_t file_id,
                                  VariantStats& stats, std::uint64_t& bytes_walked) {
    // The decoder runs only on a file the layout walk refuses, to report its own error; its
    // result would be kept only for the flags word anyway.
    std::uint32_t flags_word = 0;
    if (!animation_decodes(bytes, flags_word)) {
        ByteCursor decoder(bytes);
        auto animation = Animation::read(decoder);
        if (!animation) {
            return std::unexpected("Animation::read on " + file_label(file_id) + ": " +
                                   animation.error().message());
        }
        flags_word = animation->flags.bits();
    }

    ByteCursor cursor(bytes);
    rewalk_u32(cursor, file_id); // id
    rewalk_u32(cursor, file_id); // flags
    const std::uint64_t num_parts = rewalk_u32(cursor, file_id);
    const std::uint64_t num_frames = rewalk_u32(cursor, file_id);
    if (AnimationFlags::from_bits_retain(flags_word).contains(AnimationFlags::POS_FRAMES)) {
        cursor.set_position(cursor.position() + num_frames * kFrameSize);
    }

    std::size_t hook_count = 0;
    for (std::uint64_t frame = 0; frame < num_frames; ++frame) {
        cursor.set_position(cursor.position() + num_parts * kFrameSize);
        const std::uint32_t num_hooks = rewalk_u32(cursor, file_id);
        for (std::uint32_t hook_i = 0; hook_i < num_hooks; ++hook_i) {
            const auto start = static_cast<std::size_t>(cursor.position());
            auto read = read_one_with_slice(bytes, start);
            if (!read) {
                return std::unexpected("hook " + std::to_string(hook_i) + " of " +
                                       file_label(file_id) + ": " + read.error().message());
            }
            assert_round_trip(file_id, hook_count, read->hook, read->slice);
            stats.record(read->hook);
            bytes_walked += read->slice.size();
            cursor.set_position(start + read->slice.size());
            ++hook_count;
        }
    }
    return hook_count;
}

SweepResult sweep_setup_model_hooks(std::span<const std::uint8_t> bytes, std::uint32_t file_id,
                                    VariantStats& stats, std::uint64_t& bytes_walked) {
    ByteCursor decoder(bytes);
    auto setup = SetupModel::read(decoder);
    if (!setup) {
        return std::unexpected("SetupModel::read on " + file_label(file_id) + ": " +
                               setup.error().message());
    }

    std::size_t hook_count = 0;
    std::vector<std::uint8_t> buffer;
    for (const auto& [key, placement] : setup->placement_frames) {
        const auto& hooks = placement.anim_frame.hooks;
        for (std::size_t hook_i = 0; hook_i < hooks.size(); ++hook_i) {
            const auto& hook = hooks[hook_i];
            buffer.clear();
            common::ByteWriter writer(buffer);
            if (auto written = hook.write(writer); !written) {
                case_runner::fail("write setup hook " + std::to_string(hook_i) + " of " +
                                  file_label(file_id) + ": " + written.error().message());
            }
            ByteCursor reparse_cursor(buffer);
            auto reparsed = AnimationHook::read(reparse_cursor);
            if (!reparsed) {
                return std::unexpected("reparse setup hook " + std::to_string(hook_i) + " of " +
                                       file_label(file_id) + ": " + reparsed.error().message());
            }
            // Messages are built only for a drift, never on the common path.
            auto require_same = [&](const auto& left, const auto& right, const char* what) {
                if (!(left == right)) {
                    case_runner::require_eq(left, right,
                                            "setup-model " + file_label(file_id) + " hook #" +
                                                std::to_string(hook_i) + ": " + what +
                                                " drift on round-trip");
                }
            };
            require_same(reparsed->hook_type, hook.hook_type, "type");
            require_same(reparsed->direction, hook.direction, "direction");
            require_same(reparsed->data, hook.data, "data");
            stats.record(hook);
            bytes_walked += buffer.size();
            ++hook_count;
        }
    }
    return hook_count;
}

SweepResult sweep_physics_script_hooks(std::span<const std::uint8_t> bytes, std::uint32_t file_id,
                                       VariantStats& stats, std::uint64_t& bytes_walked) {
    auto script = PhysicsScript::unpack(bytes);
    if (!script) {
        return std::unexpected("PhysicsScript::unpack on " + file_label(file_id) + ": " +
                               script.error().message());
    }
    auto packed = script->pack();
    if (!packed) {
        return std::unexpected("PhysicsScript::pack on " + file_label(file_id) + ": " +
                               packed.error().message());
    }
    if (!std::ranges::equal(*packed, bytes)) {
        case_runner::require_eq(*packed, std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
                                "PhysicsScript " + file_label(file_id) +
                                    " did not round-trip byte-equal");
    }
    for (const auto& entry : script->script_data) {
        stats.record(entry.hook);
        bytes_walked += entry.hook.encoded_size();
    }
    return script->script_data.size();
}

} // namespace quillmere::parity
