// quillmere-dat pack: a new archive from a directory laid out as extract writes it, the header
// and each file's directory fields taken from its manifest.json.
#include "archive_access.hpp"
#include "commands.hpp"
#include "local_files.hpp"
#include "manifest.hpp"
#include "progress.hpp"
#include "quillmere/common/try.hpp"
#include "quillmere/dat/archive_writer.hpp"
#include "read_ahead.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace quillmere::inspect {
namespace {

namespace fs = std::filesystem;

// What pack will write: the manifest's header and files, in ascending id order, each file's
// contents checked to be there and every .bin file under the directory accounted for.
struct PackPlan {
    dat::DatHeader header;
    std::vector<ManifestFile> files;
    std::array<std::uint8_t, dat::kPreambleSize> preamble{};
};

// The .bin files under a directory: the ids of those at the place of a file
// (TT/XXXXXXXX.bin, see content_path), and the paths, relative to the directory, of any other.
struct BinFiles {
    std::vector<std::uint32_t> ids;
    std::vector<std::string> strays;
};

// The id whose contents lie at `relative`, if it is the place of one.
std::optional<std::uint32_t> id_at(std::string_view relative) {
    if (relative.size() != 15 || relative[2] != '/') {
        return std::nullopt;
    }
    const auto id = parse_file_id(relative.substr(3, 8));
    if (!id || content_path(*id) != relative) {
        return std::nullopt;
    }
    return id;
}

Gathered<BinFiles> find_bin_files(const fs::path& dir) {
    BinFiles found;
    const std::size_t prefix = dir.native().size() + (dir.native().ends_with('/') ? 0 : 1);
    std::error_code ec;
    fs::recursive_directory_iterator it(dir, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string& path = it->path().native();
        // A broken link counts as a file: named, it fails when read; unnamed, it is reported.
        std::error_code type_error;
        if (!path.ends_with(".bin") || it->is_directory(type_error)) {
            continue;
        }
        const std::string_view relative = std::string_view(path).substr(prefix);
        if (const auto id = id_at(relative)) {
            found.ids.push_back(*id);
        } else {
            found.strays.emplace_back(relative);
        }
    }
    if (ec) {
        return std::unexpected("cannot read " + dir.string() + ": " + ec.message());
    }
    std::sort(found.ids.begin(), found.ids.end());
    return found;
}

Gathered<PackPlan> plan(const std::string& dir_text) {
    const fs::path dir(dir_text);
    const fs::path manifest_path = dir / "manifest.json";
    std::vector<std::uint8_t> bytes;
    QM_TRY_VOID(read_local_file(manifest_path, bytes));
    auto manifest =
        read_manifest(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (!manifest) {
        return std::unexpected(manifest_path.string() + ": " + manifest.error());
    }
    auto& files = manifest->files;
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
    QM_TRY(BinFiles bins, find_bin_files(dir));
    // Both lists ascend: walked side by side, the first id of either that the other lacks is
    // a missing or an unnamed file.
    std::vector<std::string> unnamed = std::move(bins.strays);
    std::size_t at = 0;
    for (const ManifestFile& file : files) {
        while (at < bins.ids.size() && bins.ids[at] < file.id) {
            unnamed.push_back(content_path(bins.ids[at++]));
        }
        if (at == bins.ids.size() || bins.ids[at] != file.id) {
            return std::unexpected("missing " + (dir / content_path(file.id)).string() +
                                   " for file " + id_text(file.id) + " of the manifest");
        }
        ++at;
    }
    while (at < bins.ids.size()) {
        unnamed.push_back(content_path(bins.ids[at++]));
    }
    if (!unnamed.empty()) {
        return std::unexpected((dir / *std::min_element(unnamed.begin(), unnamed.end())).string() +
                               " is not named in the manifest");
    }
    return PackPlan{std::move(manifest->header), std::move(files), manifest->preamble};
}

// The directory of each file type under the tree, opened once, so that each file is opened
// by its name in it rather than by its whole path.
class TypeDirectories {
  public:
    TypeDirectories(const std::string& prefix, std::span<const ManifestFile> files) {
        fds_.fill(-1);
        errors_.fill(0);
        for (const ManifestFile& file : files) {
            const std::uint32_t type = file.id >> 24;
            if (fds_[type] >= 0 || errors_[type] != 0) {
                continue;
            }
            fds_[type] = ::open((prefix + content_path(file.id).substr(0, 2)).c_str(),
                                O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            errors_[type] = fds_[type] < 0 ? errno : 0;
        }
    }
    ~TypeDirectories() {
        for (const int fd : fds_) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    TypeDirectories(const TypeDirectories&) = delete;
    TypeDirectories& operator=(const TypeDirectories&) = delete;

    // The directory of type `type`, or -1 with the reason it could not be opened.
    [[nodiscard]] std::pair<int, int> of(std::uint32_t type) const noexcept {
        return {fds_[type], errors_[type]};
    }

  private:
    std::array<int, 256> fds_{};
    std::array<int, 256> errors_{};
};

Gathered<void> write_archive(const PackPlan& plan, const std::string& dir, const std::string& out,
                             const Streams& streams) {
    auto writer = dat::ArchiveWriter::create(out, plan.header, plan.preamble);
    if (!writer) {
        return std::unexpected(one_line(writer.error()));
    }
    const auto write_failed = [&](const dat::DatError& error) {
        return std::unexpected("cannot write " + out + ": " + one_line(error));
    };
    Progress progress(streams, "pack", plan.files.size());
    const std::string prefix = (fs::path(dir) / "").string();
    const TypeDirectories directories(prefix, plan.files);
    ReadAhead files(plan.files.size(),
                    [&](std::size_t index, std::vector<std::uint8_t>& buffer,
                        std::size_t at) -> Gathered<std::size_t> {
                        const std::uint32_t id = plan.files[index].id;
                        const std::string relative = content_path(id);
                        const auto [directory, error] = directories.of(id >> 24);
                        if (directory < 0) {
                            return std::unexpected("cannot read " + prefix + relative + ": " +
                                                   system_reason(error));
                        }
                        return read_local_file_into(directory, relative.c_str() + 3,
                                                    prefix + relative, buffer, at);
                    });
    for (std::size_t i = 0; i < plan.files.size(); ++i) {
        const ManifestFile& file = plan.files[i];
        QM_TRY(const std::span<const std::uint8_t> contents, files.next());
        const dat::FileFields fields{file.bit_flags, file.timestamp, file.version};
        const bool compress = (file.bit_flags & 1U) != 0;
        auto added = writer->add_file(file.id, contents, fields,
                                      compress ? dat::Storage::Compressed : dat::Storage::Plain);
        if (!added) {
            return write_failed(added.error());
        }
        progress.update(i + 1);
    }
    if (auto finished = writer->finish(); !finished) {
        return write_failed(finished.error());
    }
    return {};
}

int run_pack(const Arguments& args, const Streams& streams) {
    ignore_file_size_signal();
    const std::string& dir = args.positional(0);
    const auto packing = plan(dir);
    if (!packing) {
        return fail(streams, packing.error());
    }
    if (auto written = write_archive(*packing, dir, args.positional(1), streams); !written) {
        return fail(streams, written.error());
    }
    return kExitOk;
}

constexpr ArgumentSpec kArguments[] = {{"DIR"}, {"OUT"}};

} // namespace

constinit const Command kPackCommand{
    .name = "pack",
    .synopsis = "quillmere-dat pack DIR OUT",
    .outline = "pack DIR OUT",
    .summary = "a new archive from an extracted directory",
    .description =
        "Writes the archive OUT from DIR as 'quillmere-dat extract' lays it out: the header's\n"
        "fields and each file's id, bit_flags, timestamp and version from DIR/manifest.json, the\n"
        "contents from DIR/TT/XXXXXXXX.bin. A file whose bit_flags has bit 0 set is stored\n"
        "compressed. The files are stored in ascending id order whatever the manifest's order.\n"
        "\n"
        "Refused before anything is written: a manifest that is not exactly of the form extract\n"
        "writes (format 1; every header field and file field present once, and no other; ids as\n"
        "\"0x\" and eight hex digits, none listed twice; numbers from 0 to 4294967295), a listed\n"
        "file whose .bin file is missing, and a .bin file under DIR that no file names. Other\n"
        "files in DIR are left alone.\n"
        "\n"
        "OUT is written under a temporary name beside it, flushed to the disk and renamed over\n"
        "OUT, so OUT is either its old self or the whole new archive; a failure or an\n"
        "interruption (Ctrl-C, SIGTERM) removes the temporary file.\n",
    .arguments = kArguments,
    .run = run_pack,
};

} // namespace quillmere::inspect
