// The views of the hook-carrying files against reference readers that take every field through
// the cursor one record at a time, as the layout tables list them. On truncated and damaged files
// the views, and the decoders built on them, must give the reference's verdict, its error
// (contexts and their source lines included), its cursor position and its hooks.
#include "quillmere/common/text.hpp"
#include "quillmere/common/try.hpp"
#include "quillmere/dat/file_type/animation.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"
#include "quillmere/testkit/portal_files.hpp"

#include <concepts>
#include <gtest/gtest.h>
#include <map>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

namespace quillmere::dat::file_type {
namespace {

using common::ByteCursor;
using common::DecodeResult;
using setup_model::AnimationHook;
using setup_model::HookView;

// A hook and where it starts (0 for decoders that do not say).
struct Located {
    std::uint64_t offset = 0;
    AnimationHook hook;
    friend bool operator==(const Located&, const Located&) = default;
};
using Hooks = std::vector<Located>;
using Reader = DecodeResult<Hooks> (*)(ByteCursor&);

// Code written against the views' former name `parse` still compiles (with a deprecation
// warning where it calls it; a requires-expression does not count as a call).
template <class View>
concept ReadableAsParse = requires(ByteCursor& cursor) {
    { View::parse(cursor) } -> std::same_as<DecodeResult<View>>;
};
static_assert(ReadableAsParse<animation::AnimationView>);
static_assert(ReadableAsParse<setup_model::SetupModelView>);
static_assert(ReadableAsParse<physics_script::PhysicsScriptView>);

Located located(const HookView& hook) {
    return {hook.offset, hook.to_owned()};
}

// The reference readers.

DecodeResult<void> reference_hook(ByteCursor& c, Hooks& out) {
    const std::uint64_t offset = c.position();
    QM_TRY(std::uint32_t type, c.read_u32());
    QM_TRY(std::int32_t direction, c.read_i32());
    const std::uint64_t payload = c.position();
    if (type >= setup_model::kHookTypeCount) {
        return std::unexpected(common::DecodeError::custom(
            payload, "Unsupported AnimationHook type: 0x" + common::hex8(type)));
    }
    if (type != setup_model::hook_type_number(setup_model::HookType::ReplaceObject)) {
        QM_TRY_VOID(c.read_exact(testkit::hook_payload_size(type)));
    } else {
        QM_TRY_VOID(c.read_u8());
        QM_TRY(std::uint16_t upper, c.read_u16());
        if ((upper & 0x8000) != 0) {
            QM_TRY_VOID(c.read_u16());
        }
        QM_TRY_VOID(c.read_exact((4 - (c.position() - payload) % 4) % 4));
    }
    const auto data = c.data().subspan(payload, c.position() - payload);
    out.push_back({offset, AnimationHook{type, direction, {data.begin(), data.end()}}});
    return {};
}

DecodeResult<void> reference_frame(ByteCursor& c, std::uint32_t num_parts, Hooks& out) {
    for (std::uint32_t i = 0; i < num_parts; ++i) {
        QM_TRY_VOID(graphics::Frame::read_le(c));
    }
    QM_TRY(std::uint32_t num_hooks, c.read_u32());
    for (std::uint32_t i = 0; i < num_hooks; ++i) {
        QM_TRY_VOID(reference_hook(c, out));
    }
    return {};
}

DecodeResult<Hooks> reference_animation(ByteCursor& c) {
    QM_TRY_VOID(c.read_u32());
    QM_TRY(std::uint32_t flags, c.read_u32());
    QM_TRY(std::uint32_t num_parts, c.read_u32());
    QM_TRY(std::uint32_t num_frames, c.read_u32());
    for (std::uint32_t i = 0; (flags & 1) != 0 && i < num_frames; ++i) {
        QM_TRY_VOID(graphics::Frame::read_le(c));
    }
    Hooks hooks;
    for (std::uint32_t i = 0; i < num_frames; ++i) {
        QM_TRY_VOID(reference_frame(c, num_parts, hooks));
    }
    return hooks;
}

// `count` records, each read with `read`.
template <class Read>
DecodeResult<void> repeat(ByteCursor& c, std::uint64_t count, Read read) {
    for (std::uint64_t i = 0; i < count; ++i) {
        QM_TRY_VOID(read(c));
    }
    return {};
}

// A u32 count of i32 keys, each followed by a `Record`.
template <class Record>
DecodeResult<void> keyed(ByteCursor& c) {
    QM_TRY(std::uint32_t count, c.read_u32());
    return repeat(c, count, [](ByteCursor& k) -> DecodeResult<void> {
        QM_TRY_VOID(k.read_i32());
        QM_TRY_VOID(Record::read_le(k));
        return {};
    });
}

// The placements' hooks as the decoded map holds them: by ascending key, the last of a key.
DecodeResult<Hooks> reference_setup_model(ByteCursor& c) {
    using namespace setup_model;
    QM_TRY(std::uint32_t id, c.read_u32());
    QM_TRY(std::uint32_t flags, c.read_u32());
    QM_TRY(std::uint32_t num_parts, c.read_u32());
    const auto u32 = [](ByteCursor& k) { return k.read_u32(); };
    QM_TRY_VOID(repeat(c, num_parts, u32));
    QM_TRY_VOID(repeat(c, (flags & 1) != 0 ? num_parts : 0, u32));
    QM_TRY_VOID(repeat(c, (flags & 2) != 0 ? num_parts : 0, common::Vector3::read_le));
    QM_TRY_VOID(keyed<LocationType>(c));
    QM_TRY_VOID(keyed<LocationType>(c));
    QM_TRY(std::int32_t num_placements, c.read_i32());
    if (num_placements < 0) {
        return std::unexpected(
            common::DecodeError::custom(c.position(), "SetupModel 0x" + common::hex8(id) +
                                                          " declared negative placement count " +
                                                          std::to_string(num_placements)));
    }
    std::map<std::int32_t, Hooks> placements;
    for (std::int32_t i = 0; i < num_placements; ++i) {
        QM_TRY(std::int32_t key, c.read_i32());
        Hooks hooks;
        QM_TRY_VOID(reference_frame(c, num_parts, hooks));
        placements[key] = std::move(hooks);
    }
    QM_TRY(std::uint32_t num_cyl, c.read_u32());
    QM_TRY_VOID(repeat(c, num_cyl, CylSphere::read_le));
    QM_TRY(std::uint32_t num_sph, c.read_u32());
    QM_TRY_VOID(repeat(c, num_sph, common::Sphere::read_le));
    QM_TRY_VOID(repeat(c, 4, [](ByteCursor& k) { return k.read_f32(); }));
    QM_TRY_VOID(repeat(c, 2, common::Sphere::read_le));
    QM_TRY_VOID(keyed<LightInfo>(c));
    QM_TRY_VOID(repeat(c, 5, u32));
    Hooks hooks;
    for (auto& [key, placement] : placements) {
        hooks.insert(hooks.end(), placement.begin(), placement.end());
    }
    return hooks;
}

DecodeResult<Hooks> reference_physics_script(ByteCursor& c) {
    QM_TRY_VOID(c.read_u32());
    QM_TRY(std::uint32_t count, c.read_u32());
    Hooks hooks;
    for (std::uint32_t i = 0; i < count; ++i) {
        QM_TRY_VOID(c.read_f64());
        QM_TRY_VOID(reference_hook(c, hooks));
    }
    return hooks;
}

// The views, and the owned decoders (which give no offsets).

DecodeResult<Hooks> animation_view(ByteCursor& c) {
    QM_TRY(const animation::AnimationView view, animation::AnimationView::read(c));
    Hooks hooks;
    for (const auto& frame : view.part_frames) {
        EXPECT_EQ(frame.part_frames.size(), 28u * view.num_parts);
        for (const HookView& hook : frame.hooks) {
            hooks.push_back(located(hook));
        }
    }
    return hooks;
}

DecodeResult<Hooks> animation_owned(ByteCursor& c) {
    QM_TRY(const animation::Animation owned, animation::Animation::read(c));
    Hooks hooks;
    for (const auto& frame : owned.part_frames) {
        for (const auto& hook : frame.hooks) {
            hooks.push_back({0, hook});
        }
    }
    return hooks;
}

DecodeResult<Hooks> setup_model_view(ByteCursor& c) {
    QM_TRY(const setup_model::SetupModelView view, setup_model::SetupModelView::read(c));
    std::vector<setup_model::PlacementView> placements;
    view.placements_by_key(placements);
    Hooks hooks;
    for (const auto& placement : placements) {
        for (const HookView& hook : placement.anim_frame.hooks) {
            hooks.push_back(located(hook));
        }
    }
    return hooks;
}

DecodeResult<Hooks> setup_model_owned(ByteCursor& c) {
    QM_TRY(const setup_model::SetupModel owned, setup_model::SetupModel::read(c));
    std::map<std::int32_t, std::vector<AnimationHook>> by_key;
    for (const auto& [key, placement] : owned.placement_frames) {
        by_key[key] = placement.anim_frame.hooks;
    }
    Hooks hooks;
    for (const auto& [key, placement] : by_key) {
        for (const auto& hook : placement) {
            hooks.push_back({0, hook});
        }
    }
    return hooks;
}

DecodeResult<Hooks> physics_script_view(ByteCursor& c) {
    QM_TRY(const physics_script::PhysicsScriptView view,
           physics_script::PhysicsScriptView::read(c));
    Hooks hooks;
    for (const auto& entry : view.script_data) {
        hooks.push_back(located(entry.hook));
    }
    return hooks;
}

DecodeResult<Hooks> physics_script_owned(ByteCursor& c) {
    QM_TRY(const physics_script::PhysicsScript owned, physics_script::PhysicsScript::read(c));
    Hooks hooks;
    for (const auto& entry : owned.script_data) {
        hooks.push_back({0, entry.hook});
    }
    return hooks;
}

Hooks without_offsets(Hooks hooks) {
    for (auto& hook : hooks) {
        hook.offset = 0;
    }
    return hooks;
}

void expect_agrees(Reader reader, Reader reference, std::span<const std::uint8_t> bytes,
                   bool with_offsets, const std::string& what) {
    ByteCursor got_cursor(bytes);
    ByteCursor want_cursor(bytes);
    const auto got = reader(got_cursor);
    const auto want = reference(want_cursor);
    ASSERT_EQ(got.has_value(), want.has_value()) << what;
    EXPECT_EQ(got_cursor.position(), want_cursor.position()) << what;
    if (!want) {
        EXPECT_EQ(got.error().diagnostic(), want.error().diagnostic()) << what;
    } else if (with_offsets) {
        EXPECT_EQ(*got, *want) << what;
    } else {
        EXPECT_EQ(*got, without_offsets(*want)) << what;
    }
}

struct FileKind {
    const char* name;
    Reader view;
    Reader owned;
    Reader reference;
    std::vector<std::vector<std::uint8_t>> samples;
};

std::vector<FileKind> file_kinds() {
    auto setup = testkit::make_setup_model_spec(3, 0x3, 2, 3, 2);
    // A key stored twice: the later placement is the one kept.
    setup.placement_frames.push_back({setup.placement_frames[0].key,
                                      {{testkit::make_frame(9), testkit::make_frame(8)},
                                       {testkit::make_hook(13, 2, 5)},
                                       std::nullopt}});
    return {
        {"animation",
         animation_view,
         animation_owned,
         reference_animation,
         {testkit::build_animation(testkit::make_animation_spec(1, 2, 3, 2, true)),
          testkit::build_animation(testkit::make_animation_spec(2, 0, 4, 7, false))}},
        {"setup model",
         setup_model_view,
         setup_model_owned,
         reference_setup_model,
         {testkit::build_setup_model(setup),
          testkit::build_setup_model(testkit::make_setup_model_spec(4, 0, 0, 2, 3))}},
        {"physics script",
         physics_script_view,
         physics_script_owned,
         reference_physics_script,
         {testkit::build_physics_script(testkit::make_physics_script_spec(5, 30))}},
    };
}

// Bytes held right before an inaccessible page, so that a read past their end faults in every
// build: within a larger buffer, even AddressSanitizer would not see a read a byte too far.
class GuardedBytes {
  public:
    explicit GuardedBytes(std::size_t capacity)
        : page_(static_cast<std::size_t>(::sysconf(_SC_PAGESIZE))),
          usable_((capacity + page_ - 1) / page_ * page_) {
        void* memory = ::mmap(nullptr, usable_ + page_, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED ||
            ::mprotect(static_cast<std::uint8_t*>(memory) + usable_, page_, PROT_NONE) != 0) {
            throw std::runtime_error("cannot map a guarded buffer");
        }
        base_ = static_cast<std::uint8_t*>(memory);
    }
    ~GuardedBytes() { ::munmap(base_, usable_ + page_); }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;

    // A copy of `bytes` ending at the guard page (at most `capacity` bytes).
    std::span<const std::uint8_t> hold(std::span<const std::uint8_t> bytes) {
        std::uint8_t* start = base_ + usable_ - bytes.size();
        std::copy(bytes.begin(), bytes.end(), start);
        return {start, bytes.size()};
    }

  private:
    std::size_t page_;
    std::size_t usable_;
    std::uint8_t* base_ = nullptr;
};

// Every cut, and every byte set to values that turn a count huge or zero, a hook type unknown,
// a flag bit or a ReplaceObject form bit on or off.
template <class Check>
void for_each_damaged(const std::vector<std::uint8_t>& file, Check check) {
    GuardedBytes guarded(file.size());
    for (std::size_t length = 0; length <= file.size(); ++length) {
        check(guarded.hold(std::span(file).first(length)), "length " + std::to_string(length));
    }
    const std::uint8_t values[] = {0x00, 0x01, 0x03, 0x05, 0x1B, 0x80, 0xFF};
    for (std::size_t at = 0; at < file.size(); ++at) {
        for (const std::uint8_t value : values) {
            auto damaged = file;
            damaged[at] = value;
            check(guarded.hold(damaged),
                  "byte " + std::to_string(at) + " = " + std::to_string(value));
        }
    }
}

TEST(FileViewsTest, ViewsAndDecodersGiveTheReferenceVerdictOnEveryDamagedFile) {
    for (const FileKind& kind : file_kinds()) {
        for (const auto& sample : kind.samples) {
            for_each_damaged(sample, [&](std::span<const std::uint8_t> bytes,
                                         const std::string& what) {
                expect_agrees(kind.view, kind.reference, bytes, true, kind.name + (": " + what));
                expect_agrees(kind.owned, kind.reference, bytes, false, kind.name + (": " + what));
            });
        }
    }
}

// Hooks are offered with their offsets, so the stored bytes of each can be taken from the file;
// encoding the view gives exactly those bytes, as encoding the owned hook does.
TEST(FileViewsTest, EachHookViewEncodesToItsStoredBytes) {
    const auto file = testkit::build_animation(testkit::make_animation_spec(7, 1, 2, 27, false));
    ByteCursor cursor(file);
    const auto view = animation::AnimationView::read(cursor);
    ASSERT_TRUE(view) << view.error().message();
    std::size_t hooks = 0;
    for (const auto& frame : view->part_frames) {
        for (const HookView& hook : frame.hooks) {
            std::vector<std::uint8_t> encoded;
            common::ByteWriter writer(encoded);
            ASSERT_TRUE(hook.write(writer));
            EXPECT_EQ(encoded.size(), hook.encoded_size());
            EXPECT_TRUE(std::ranges::equal(
                encoded, std::span(file).subspan(hook.offset, hook.encoded_size())));
            ++hooks;
        }
    }
    EXPECT_EQ(hooks, 54u);
}

// The steps are the parses' fast path: one that refused a whole element would only cost time,
// which the verdict tests cannot see, and one that took a cut element would read past the data.
// Each frame and hook, with every ReplaceObject form, is taken whole and refused when cut
// anywhere, the position then left where it was, and nothing past the cut is read.
TEST(FileViewsTest, StepsTakeEveryWholeElementAndRefuseEveryCutOne) {
    const auto file = testkit::build_animation(testkit::make_animation_spec(7, 2, 2, 27, false));
    ByteCursor cursor(file);
    const auto view = animation::AnimationView::read(cursor);
    ASSERT_TRUE(view) << view.error().message();
    // `out` only gives the type of element the step takes.
    GuardedBytes guarded(file.size());
    const auto expect_step = [&](auto step, auto out, std::uint64_t start, std::uint64_t end) {
        for (std::uint64_t cut = start; cut <= end; ++cut) {
            std::uint64_t pos = start;
            const bool took = step(guarded.hold(std::span(file).first(cut)), pos, out);
            EXPECT_EQ(took, cut == end) << "element at " << start << ", cut at " << cut;
            EXPECT_EQ(pos, took ? end : start) << "element at " << start << ", cut at " << cut;
        }
    };
    std::vector<std::uint64_t> frame_starts;
    std::size_t hooks = 0;
    for (const auto& frame : view->part_frames) {
        frame_starts.push_back(static_cast<std::uint64_t>(frame.part_frames.data() - file.data()));
        for (const HookView& hook : frame.hooks) {
            expect_step(setup_model::HookStep{}, HookView{}, hook.offset,
                        hook.offset + hook.encoded_size());
            ++hooks;
        }
    }
    frame_starts.push_back(file.size());
    for (std::size_t i = 0; i + 1 < frame_starts.size(); ++i) {
        expect_step(setup_model::FrameStep{2}, setup_model::FrameView{}, frame_starts[i],
                    frame_starts[i + 1]);
    }
    EXPECT_EQ(hooks, 54u);
}

TEST(FileViewsTest, ParsedPhysicsScriptWritesBackTheBytesItConsumed) {
    const auto file = testkit::build_physics_script(testkit::make_physics_script_spec(6, 27));
    auto with_tail = file;
    with_tail.push_back(0xEE);
    ByteCursor cursor(with_tail);
    const auto view = physics_script::PhysicsScriptView::read(cursor);
    ASSERT_TRUE(view) << view.error().message();
    EXPECT_EQ(cursor.position(), file.size());
    std::vector<std::uint8_t> encoded;
    common::ByteWriter writer(encoded);
    ASSERT_TRUE(view->write(writer));
    EXPECT_EQ(encoded, file);
}

} // namespace
} // namespace quillmere::dat::file_type
