// Opening the archive and reading its files for a command, with one-line failure messages.
#include "archive_access.hpp"

#include "quillmere/common/file_system.hpp"
#include "quillmere/common/try.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmere::dat_tool {

Gathered<void> require_regular_file(const std::string& path) {
    // Looked at before it is opened: opening a device can act on it, a socket cannot be opened.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        return std::unexpected(path + " is not a regular file");
    }
    const int fd = common::retry_interrupted(
        [&] { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) {
        // The library's open gives the reason in its own words.
        return {};
    }
    // Looked at again once open, in case the name was pointed elsewhere meanwhile.
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    if (!regular) {
        return std::unexpected(path + " is not a regular file");
    }
    return {};
}

Gathered<dat::DatDatabase> open_archive(const std::string& path, dat::OpenOptions options) {
    QM_TRY_VOID(require_regular_file(path));
    auto db = dat::DatDatabase::open(path, options);
    if (!db) {
        return std::unexpected(one_line(db.error()));
    }
    return std::move(*db);
}

Gathered<std::vector<std::uint8_t>> read_file(const dat::DatDatabase& db, std::uint32_t id,
                                              const std::string& archive) {
    auto bytes = db.get_file_checked(id);
    if (!bytes) {
        if (bytes.error().kind() == dat::DatError::Kind::NotFound) {
            return std::unexpected(one_line(bytes.error()));
        }
        return std::unexpected(read_failure(db.files().at(id), bytes.error(), archive));
    }
    return std::move(*bytes);
}

std::string what_failed(const dat::DatFileEntry& entry, const dat::DatError& error) {
    if (error.kind() != dat::DatError::Kind::DecompressionFailed) {
        return one_line(error);
    }
    return entry.size < 4 ? "it is flagged compressed, but its " + std::to_string(entry.size) +
                                " stored bytes have no room for the 4-byte size word"
                          : "its compressed stream gives fewer bytes than its size word declares";
}

std::string read_failure(const dat::DatFileEntry& entry, const dat::DatError& error,
                         const std::string& archive) {
    return "cannot read " + id_text(entry.id) + " at offset " + std::to_string(entry.offset) +
           ": " + what_failed(entry, error) + " (quillmere-dat verify " + archive +
           " lists the archive's problems)";
}

bool ForcedReads::admit(const dat::DatFileEntry& entry) {
    read_ += entry.size;
    if (read_ <= bound_) {
        return true;
    }
    leave_out(entry, "not read: the files before it already store more than " +
                         std::to_string(kStoredBoundFactor) + " times the archive's length");
    return false;
}

void ForcedReads::leave_out(const dat::DatFileEntry& entry, const dat::DatError& error) {
    leave_out(entry, what_failed(entry, error));
}

void ForcedReads::leave_out(const dat::DatFileEntry& entry, std::string_view why) {
    left_out_.push_back(entry.id);
    streams_.err << "left out " << id_text(entry.id) << " at offset " << entry.offset << ": " << why
                 << "\n";
}

std::string one_line(const dat::DatError& error) {
    return error.message_line();
}

} // namespace quillmere::dat_tool
