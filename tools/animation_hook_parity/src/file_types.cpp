// Choosing the files of each swept type from the archive's directory.
#include "file_types.hpp"

#include <algorithm>

namespace quillmere::parity {

std::vector<std::vector<dat::DatFileEntry>>
entries_of_types(const dat::DatDatabase& dat, std::span<const SweptType> types, std::size_t keep) {
    std::vector<std::vector<dat::DatFileEntry>> entries(types.size());
    for (const auto& [id, entry] : dat.files()) {
        const auto file_type = dat::file_type::of(id);
        if (!file_type) {
            continue;
        }
        for (std::size_t t = 0; t < types.size(); ++t) {
            if (types[t].file_type == *file_type) {
                entries[t].push_back(entry);
            }
        }
    }
    for (auto& list : entries) {
        if (list.size() > keep) {
            std::ranges::nth_element(list, list.begin() + static_cast<std::ptrdiff_t>(keep), {},
                                     &dat::DatFileEntry::id);
            list.resize(keep);
        }
        std::ranges::sort(list, {}, &dat::DatFileEntry::id);
    }
    return entries;
}

} // namespace quillmere::parity
