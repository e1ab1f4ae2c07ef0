// Example use of the quillmere library: opens a portal archive, lists its files and decodes the
// first physics script (or else animation, or else setup model), printing its hooks.
#include <algorithm>
#include <iostream>
#include <quillmere/common/text.hpp>
#include <quillmere/dat/dat_database.hpp>
#include <quillmere/dat/file_type/animation.hpp>
#include <quillmere/dat/file_type/file_type.hpp>
#include <quillmere/dat/file_type/hook_payload.hpp>
#include <quillmere/dat/file_type/physics_script.hpp>
#include <quillmere/dat/file_type/setup_model.hpp>
#include <vector>

namespace dat = quillmere::dat;
namespace file_type = quillmere::dat::file_type;
namespace setup = quillmere::dat::file_type::setup_model;
using quillmere::common::hex8;

namespace {

// The hooks of a file of one of the three hook-carrying types, read in place (each view points
// into `bytes`), or the decoder's error.
quillmere::common::DecodeResult<std::vector<setup::HookView>>
hooks_of(file_type::FileType type, std::span<const std::uint8_t> bytes) {
    std::vector<setup::HookView> hooks;
    quillmere::common::ByteCursor cursor(bytes);
    switch (type) {
    case file_type::FileType::PhysicsScript: {
        auto script = file_type::physics_script::PhysicsScriptView::parse(cursor);
        if (!script) {
            return std::unexpected(script.error());
        }
        for (const auto& entry : script->script_data) {
            hooks.push_back(entry.hook);
        }
        break;
    }
    case file_type::FileType::Animation: {
        auto animation = file_type::animation::AnimationView::parse(cursor);
        if (!animation) {
            return std::unexpected(animation.error());
        }
        for (const auto& frame : animation->part_frames) {
            hooks.insert(hooks.end(), frame.hooks.begin(), frame.hooks.end());
        }
        break;
    }
    case file_type::FileType::SetupModel: {
        auto model = setup::SetupModelView::parse(cursor);
        if (!model) {
            return std::unexpected(model.error());
        }
        // The placements a decoded model keeps: the last one stored under each key.
        std::vector<setup::PlacementView> placements;
        model->placements_by_key(placements);
        for (const auto& placement : placements) {
            hooks.insert(hooks.end(), placement.anim_frame.hooks.begin(),
                         placement.anim_frame.hooks.end());
        }
        break;
    }
    }
    return hooks;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: list_archive ARCHIVE\n";
        return 2;
    }
    auto db = dat::DatDatabase::open(argv[1]);
    if (!db) {
        std::cerr << "error: " << db.error().message() << "\n";
        return 1;
    }

    // The directory map has no order of its own; sort the ids to list them.
    std::vector<std::uint32_t> ids;
    for (const auto& [id, entry] : db->files()) {
        ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    std::cout << ids.size() << " files, block size " << db->header().block_size << "\n";
    for (std::size_t i = 0; i < ids.size() && i < 10; ++i) {
        const auto& entry = db->files().at(ids[i]);
        std::cout << "  0x" << hex8(entry.id) << "  " << entry.size << " bytes"
                  << (entry.is_compressed() ? " (compressed)" : "") << "\n";
    }

    for (const auto type : {file_type::FileType::PhysicsScript, file_type::FileType::Animation,
                            file_type::FileType::SetupModel}) {
        const auto found = std::find_if(
            ids.begin(), ids.end(), [&](std::uint32_t id) { return file_type::of(id) == type; });
        if (found == ids.end()) {
            continue;
        }
        auto bytes = db->get_file(*found);
        if (!bytes) {
            std::cerr << "error: " << bytes.error().message() << "\n";
            return 1;
        }
        auto hooks = hooks_of(type, *bytes);
        if (!hooks) {
            std::cerr << "error: " << hooks.error().message() << "\n";
            return 1;
        }
        std::cout << "0x" << hex8(*found) << ": " << bytes->size() << " bytes, " << hooks->size()
                  << " hooks\n";
        for (std::size_t i = 0; i < hooks->size() && i < 10; ++i) {
            const auto& hook = (*hooks)[i];
            auto payload = setup::unpack_payload(hook.hook_type, hook.data);
            std::cout << "  hook type " << hook.hook_type;
            if (payload) {
                if (const auto* sound = std::get_if<setup::SoundPayload>(&*payload)) {
                    std::cout << ", sound 0x" << hex8(sound->id);
                }
            }
            std::cout << "\n";
        }
        if (hooks->size() > 10) {
            std::cout << "  ... and " << hooks->size() - 10 << " more\n";
        }
        return 0;
    }
    std::cout << "no animation, setup model or physics script\n";
    return 0;
}
