// Opening the archive and reading its files for a command, with one-line failure messages.
#include "archive_access.hpp"

#include "quillmere/common/try.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmere::inspect {

Gathered<void> require_regular_file(const std::string& path) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // The library's open gives the reason in its own words.
        return {};
    }
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    if (!regular) {
        return std::unexpected(path + " is not a regular file");
    }
    return {};
}

Gathered<dat::DatDatabase> open_archive(const std::string& path) {
    QM_TRY_VOID(require_regular_file(path));
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
