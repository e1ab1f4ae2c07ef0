// Example use of the quillmere library: opens a portal archive, lists its files and decodes the
// first physics script (or else animation, or else setup model), printing its hooks.
#include <algorithm>
#include <iostream>
#include <quillmere/common/text.hpp>
#include <quillmere/dat/dat_database.hpp>
#include <quillmere/dat/file_type/animation.hpp>
#include <quillmere/dat/file_type/hook_payload.hpp>
#include <quillmere/dat/file_type/physics_script.hpp>
#include <quillmere/dat/file_type/setup_model.hpp>
#include <vector>

namespace dat = quillmere::dat;
namespace setup = quillmere::dat::file_type::setup_model;
using quillmere::common::hex8;

namespace {

// The hooks of a file of one of the three hook-carrying types, or an error.
quillmere::common::DecodeResult<std::vector<setup::AnimationHook>>
hooks_of(std::uint32_t id, const std::vector<std::uint8_t>& bytes) {
    std::vector<setup::AnimationHook> hooks;
    quillmere::common::ByteCursor cursor(bytes);
    if (id >> 24 == 0x33) {
        auto script = dat::file_type::physics_script::PhysicsScript::unpack(bytes);
        if (!script) {
            return std::unexpected(script.error());
        }
        for (auto& entry : script->script_data) {
            hooks.push_back(entry.hook);
        }
    } else if (id >> 24 == 0x03) {
        auto animation = dat::file_type::animation::Animation::read(cursor);
        if (!animation) {
            return std::unexpected(animation.error());
        }
        for (auto& frame : animation->part_frames) {
            hooks.insert(hooks.end(), frame.hooks.begin(), frame.hooks.end());
        }
    } else {
        auto model = setup::SetupModel::read(cursor);
        if (!model) {
            return std::unexpected(model.error());
        }
        for (auto& [key, placement] : model->placement_frames) {
            hooks.insert(hooks.end(), placement.anim_frame.hooks.begin(),
                         placement.anim_frame.hooks.end());
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

    for (std::uint32_t type : {0x33U, 0x03U, 0x02U}) {
        const auto found = std::find_if(ids.begin(), ids.end(),
                                        [&](std::uint32_t id) { return id >> 24 == type; });
        if (found == ids.end()) {
            continue;
        }
        auto bytes = db->get_file(*found);
        if (!bytes) {
            std::cerr << "error: " << bytes.error().message() << "\n";
            return 1;
        }
        auto hooks = hooks_of(*found, *bytes);
        if (!hooks) {
            std::cerr << "error: " << hooks.error().message() << "\n";
            return 1;
        }
        std::cout << "0x" << hex8(*found) << ": " << bytes->size() << " bytes, " << hooks->size()
                  << " hooks\n";
        for (std::size_t i = 0; i < hooks->size() && i < 10; ++i) {
            const auto& hook = (*hooks)[i];
            auto payload = setup::unpack_payload(hook);
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
