// Example use of the quillmere library: opens a portal archive, lists its files and decodes the
// first physics script (or else animation, or else setup model), printing its hooks.
#include <algorithm>
#include <iostream>
#include <quillmere/common/text.hpp>
#include <quillmere/dat/dat_database.hpp>
#include <quillmere/dat/file_type/file_type.hpp>
#include <quillmere/dat/file_type/hook_payload.hpp>
#include <quillmere/dat/hooks/hook_visitor.hpp>
#include <vector>

namespace dat = quillmere::dat;
namespace file_type = quillmere::dat::file_type;
namespace hooks = quillmere::dat::hooks;
using quillmere::common::hex8;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: list_archive ARCHIVE\n";
        return 2;
    }
    auto db = dat::DatDatabase::open(argv[1]);
    if (!db) {
        std::cerr << "error: " << db.error().one_line() << "\n";
        return 1;
    }

    const std::vector<std::uint32_t> ids = db->sorted_ids();
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
            std::cerr << "error: " << bytes.error().one_line() << "\n";
            return 1;
        }
        // The hooks, read in place (each view points into `bytes`).
        std::vector<hooks::HookView> listed;
        auto visited = hooks::visit_hooks(
            type, *bytes,
            [&](const hooks::HookSite&, const hooks::HookView& hook) { listed.push_back(hook); });
        if (!visited) {
            std::cerr << "error: " << visited.error().one_line() << "\n";
            return 1;
        }
        std::cout << "0x" << hex8(*found) << ": " << bytes->size() << " bytes, " << listed.size()
                  << " hooks\n";
        for (std::size_t i = 0; i < listed.size() && i < 10; ++i) {
            const auto& hook = listed[i];
            auto payload = hooks::unpack_payload(hook.hook_type, hook.data);
            std::cout << "  " << hooks::hook_type_name(hook.hook_type);
            if (payload) {
                if (const auto* sound = std::get_if<hooks::SoundPayload>(&*payload)) {
                    std::cout << ", sound 0x" << hex8(sound->id);
                }
            }
            std::cout << "\n";
        }
        if (listed.size() > 10) {
            std::cout << "  ... and " << listed.size() - 10 << " more\n";
        }
        return 0;
    }
    std::cout << "no animation, setup model or physics script\n";
    return 0;
}
