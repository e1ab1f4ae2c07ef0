// Opening the archive and reading its files for a command, with one-line failure messages.
#include "archive_access.hpp"

#include <algorithm>

namespace quillmere::inspect {

Gathered<dat::DatDatabase> open_archive(const std::string& path) {
    auto db = dat::DatDatabase::open(path);
    if (!db) {
        return std::unexpected(one_line(db.error()));
    }
    return std::move(*db);
}

Gathered<std::vector<std::uint8_t>> read_file(const dat::DatDatabase& db, std::uint32_t id) {
    auto bytes = db.get_file(id);
    if (!bytes) {
        if (bytes.error().kind() == dat::DatError::Kind::NotFound) {
            return std::unexpected(one_line(bytes.error()));
        }
        return std::unexpected("cannot read " + id_text(id) + ": " + one_line(bytes.error()));
    }
    return std::move(*bytes);
}

std::string one_line(const dat::DatError& error) {
    if (const auto* decode = error.decode_error()) {
        return "Binary read error: " + decode->one_line();
    }
    std::string out = error.message();
    std::replace(out.begin(), out.end(), '\n', ' ');
    return out;
}

} // namespace quillmere::inspect
