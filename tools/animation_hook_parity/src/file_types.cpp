// Choosing the files of each swept type from the archive's directory.
#include "file_types.hpp"

#include <algorithm>

namespace quillmere::parity {

std::vector<std::vector<std::uint32_t>>
ids_of_types(const dat::DatDatabase& dat, std::span<const SweptType> types, std::size_t keep) {
    std::vector<std::vector<std::uint32_t>> ids(types.size());
    for (const auto& [id, entry] : dat.files()) {
        const auto file_type = dat::file_type::of(id);
        if (!file_type) {
            continue;
        }
        for (std::size_t t = 0; t < types.size(); ++t) {
            if (types[t].file_type == *file_type) {
                ids[t].push_back(id);
            }
        }
    }
    for (auto& list : ids) {
        if (list.size() > keep) {
            std::ranges::nth_element(list, list.begin() + static_cast<std::ptrdiff_t>(keep));
            list.resize(keep);
        }
        std::ranges::sort(list);
    }
    return ids;
}

} // namespace quillmere::parity
