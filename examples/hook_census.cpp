// Example: counts the hooks of each type in the animations, setup models and physics scripts of
// an archive. Usage: hook_census ARCHIVE
#include <array>
#include <cstdint>
#include <iostream>
#include <quillmere/common/text.hpp>
#include <quillmere/dat/dat_database.hpp>
#include <quillmere/dat/hooks/hook_visitor.hpp>

namespace dat = quillmere::dat;
namespace hooks = quillmere::dat::hooks;
using quillmere::common::hex8;

int main(int argc, char** argv) {
    auto db = dat::DatDatabase::open(argc == 2 ? argv[1] : "");
    if (!db) {
        std::cerr << "usage: hook_census ARCHIVE\nerror: " << db.error().one_line() << "\n";
        return 1;
    }
    std::array<std::uint64_t, hooks::kHookTypeCount> counts{};
    const auto count = [&](const hooks::HookSite&, const hooks::HookView& h) {
        ++counts[h.hook_type];
    };
    for (const std::uint32_t id : db->sorted_ids()) {
        const auto type = dat::file_type::of(id);
        if (!type) {
            continue;
        }
        auto bytes = db->get_file(id);
        if (!bytes) {
            std::cerr << "skipped 0x" << hex8(id) << ": " << bytes.error().one_line() << "\n";
        } else if (auto visited = hooks::visit_hooks(*type, *bytes, count); !visited) {
            std::cerr << "skipped 0x" << hex8(id) << ": " << visited.error().one_line() << "\n";
        }
    }
    for (const hooks::HookTypeInfo& info : hooks::kHookTypes) {
        std::cout << info.name << " " << counts[hooks::hook_type_number(info.type)] << "\n";
    }
}
