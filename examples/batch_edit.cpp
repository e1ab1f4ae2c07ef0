// Example: a batch edit. Copies ARCHIVE to OUTPUT with every Sound hook of its physics scripts
// playing sound NEW_ID, then verifies the copy. Usage: batch_edit ARCHIVE OUTPUT NEW_ID
#include <cstdlib>
#include <iostream>
#include <quillmere/dat/archive_writer.hpp>
#include <quillmere/dat/dat_database.hpp>
#include <quillmere/dat/file_type/file_type.hpp>
#include <quillmere/dat/file_type/hook_payload.hpp>
#include <quillmere/dat/file_type/physics_script.hpp>
#include <quillmere/dat/verifier.hpp>

namespace dat = quillmere::dat;
namespace hooks = quillmere::dat::hooks;
using Bytes = std::vector<std::uint8_t>;

// The script in `bytes` with its Sound hooks playing `sound`; nothing if none (or no script).
std::optional<Bytes> resound(const Bytes& bytes, std::uint32_t sound) {
    auto script = dat::file_type::physics_script::PhysicsScript::read(bytes);
    bool changed = false;
    for (auto& entry : script ? script->script_data : script.emplace().script_data) {
        if (entry.hook.type() == hooks::HookType::Sound) {
            changed |= hooks::set_payload(entry.hook, hooks::SoundPayload{sound}).has_value();
        }
    }
    auto packed = script->pack();
    return changed && packed ? std::optional(*packed) : std::nullopt;
}

int fail(const dat::DatError& error) {
    std::cerr << "usage: batch_edit ARCHIVE OUTPUT NEW_ID\nerror: " << error.one_line() << "\n";
    return 1;
}

int main(int argc, char** argv) {
    auto db = dat::DatDatabase::open(argc == 4 ? argv[1] : "");
    auto writer = db ? dat::ArchiveWriter::create_from(argv[2], *db) : std::unexpected(db.error());
    if (!writer) {
        return fail(writer.error());
    }
    const auto sound = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 0));
    int edited = 0;
    for (const std::uint32_t id : db->sorted_ids()) {
        const bool script = dat::file_type::of(id) == dat::file_type::FileType::PhysicsScript;
        auto bytes = script ? db->get_file(id) : Bytes{};
        const auto contents = bytes ? resound(*bytes, sound) : std::nullopt;
        auto added = contents ? writer->add_file_like(db->files().at(id), *contents)
                              : writer->copy_file(*db, id);
        if (!added) {
            return fail(added.error());
        }
        edited += contents ? 1 : 0;
    }
    auto written = writer->finish();
    auto report = written ? dat::verify_archive(argv[2]) : std::unexpected(written.error());
    if (!report) {
        return fail(report.error());
    }
    std::cout << edited << " physics scripts edited, " << report->error_count << " errors\n";
    return report->has_errors() ? 1 : 0;
}
