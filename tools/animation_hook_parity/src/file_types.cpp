// Choosing the files of each swept type from the archive's directory.
#include "file_types.hpp"

#include <algorithm>

namespace quillmere::parity {

std::vector<std::vector<std::uint32_t>> ids_of_types(const dat::DatDatabase& dat,
                                                     std::span<const FileType> types) {
    std::vector<std::vector<std::uint32_t>> ids(types.size());
    for (const auto& [id, entry] : dat.files()) {
        for (std::size_t t = 0; t < types.size(); ++t) {
            if (types[t].ids.contains(id)) {
                ids[t].push_back(id);
            }
        }
    }
    for (auto& list : ids) {
        std::ranges::sort(list);
    }
    return ids;
}

} // namespace quillmere::parity
