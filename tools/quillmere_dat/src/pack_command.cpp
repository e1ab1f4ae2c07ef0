// quillmere-dat pack: a new archive from a directory laid out as extract writes it, the header
// and each file's directory fields taken from its manifest.json.
#include "archive_access.hpp"
#include "commands.hpp"
#include "local_files.hpp"
#include "manifest.hpp"
#include "output_lock.hpp"
#include "progress.hpp"
#include "quillmere/common/try.hpp"
#include "quillmere/dat/archive_writer.hpp"
#include "quillmere/dat/lrs.hpp"
#include "read_ahead.hpp"
#include "text_form.hpp"
#include "write_summary.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmere::dat_tool {
namespace {

namespace fs = std::filesystem;

// What pack will write: the manifest's header and files, in ascending id order, each file's
// contents checked to be there and every .bin file under the directory accounted for.
struct PackPlan {
    dat::DatHeader header;
    std::vector<ManifestFile> files;
    std::array<std::uint8_t, dat::kPreambleSize> preamble{};
    // Every file read (the manifest, then each member in order), as (device, inode), so that
    // OUT can be refused when it is one of them.
    std::vector<std::pair<dev_t, ino_t>> read;
    // For each file, in order: the bytes its text form (TT/XXXXXXXX.json) encodes to, or
    // nothing for a member given as its bytes (TT/XXXXXXXX.bin).
    std::vector<std::optional<std::vector<std::uint8_t>>> encoded;
};

// Members above this size and stored plain are streamed into the archive by the writer rather
// than read ahead whole, so that memory stays bounded whatever a member's size.
constexpr std::size_t kStreamAbove = std::size_t{1} << 20;
// The largest block size pack lays out: the writer's limit.
constexpr std::uint32_t kMaxBlockSize = 1U << 20;

// The members under a directory: the ids of the .bin files at the place of a file
// (TT/XXXXXXXX.bin, see content_path) and of the .json files at the place of a file's text form
// (TT/XXXXXXXX.json, see text_form_path), and the paths, relative to the directory, of any
// other .bin file.
struct BinFiles {
    std::vector<std::uint32_t> ids;
    std::vector<std::uint32_t> json_ids;
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

// The id whose text form lies at `relative`, if it is the place of one.
std::optional<std::uint32_t> json_id_at(std::string_view relative) {
    if (relative.size() != 16 || relative[2] != '/') {
        return std::nullopt;
    }
    const auto id = parse_file_id(relative.substr(3, 8));
    if (!id || text_form_path(*id) != relative) {
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
        // Every entry at a member's place counts (a link, a directory: `check_member` refuses
        // them by name); any other .bin file is unnamed, and any other directory ignored.
        std::error_code type_error;
        if (path.ends_with(".json")) {
            if (const auto id = json_id_at(std::string_view(path).substr(prefix))) {
                found.json_ids.push_back(*id);
            }
            continue;
        }
        if (!path.ends_with(".bin")) {
            continue;
        }
        const std::string_view relative = std::string_view(path).substr(prefix);
        const bool directory = it->is_directory(type_error) && !it->is_symlink(type_error);
        if (const auto id = id_at(relative)) {
            found.ids.push_back(*id);
        } else if (!directory) {
            found.strays.emplace_back(relative);
        }
    }
    if (ec) {
        return std::unexpected("cannot read " + dir.string() + ": " + ec.message());
    }
    std::sort(found.ids.begin(), found.ids.end());
    std::sort(found.json_ids.begin(), found.json_ids.end());
    return found;
}

// A member as it is, not followed: a regular file of at most 4 GiB - 1 bytes. Gives its device
// and inode.
Gathered<std::pair<dev_t, ino_t>> check_member(const fs::path& path) {
    const auto failed = [&](const std::string& why) {
        return std::unexpected("cannot read " + path.string() + ": " + why);
    };
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return failed(system_reason(errno));
    }
    if (S_ISLNK(info.st_mode)) {
        return failed("a symbolic link");
    }
    if (!S_ISREG(info.st_mode)) {
        return failed("not a regular file");
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size > std::numeric_limits<std::uint32_t>::max()) {
        return failed(std::to_string(size) + " bytes, more than an archive file can hold");
    }
    return std::pair{info.st_dev, info.st_ino};
}

// The manifest, read as it is (a symbolic link is refused), with a block size pack can lay out.
Gathered<Manifest> read_tree_manifest(const fs::path& manifest_path, PackPlan& plan) {
    QM_TRY(LocalFile file,
           LocalFile::open(AT_FDCWD, manifest_path.c_str(), manifest_path.string(), false));
    struct stat info {};
    if (::fstat(file.fd(), &info) == 0) {
        plan.read.emplace_back(info.st_dev, info.st_ino);
    }
    std::vector<std::uint8_t> bytes;
    QM_TRY_VOID(file.read_into(bytes, 0));
    auto manifest =
        read_manifest(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (!manifest) {
        return std::unexpected(manifest_path.string() + ": " + manifest.error());
    }
    const std::uint32_t block_size = manifest->header.block_size;
    if (block_size <= 4 || block_size > kMaxBlockSize) {
        return std::unexpected(
            manifest_path.string() + ": block_size " + std::to_string(block_size) +
            " is not supported: it must be above 4 and at most " + std::to_string(kMaxBlockSize));
    }
    return std::move(*manifest);
}

// Where the member of `id` lies under the tree: its bytes, or its text form when `encoded`
// holds a value.
std::string member_path(std::uint32_t id, const std::optional<std::vector<std::uint8_t>>& encoded) {
    return encoded ? text_form_path(id) : content_path(id);
}

// Why the member of `id` was not found under `dir`: its type directory is a symbolic link,
// which is never followed, or it is missing.
std::string missing_member(const fs::path& dir, std::uint32_t id) {
    const fs::path type_dir = dir / content_path(id).substr(0, 2);
    struct stat info {};
    if (::lstat(type_dir.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        return "cannot read " + type_dir.string() + ": a symbolic link";
    }
    return "missing " + (dir / content_path(id)).string() + " for file " + id_text(id) +
           " of the manifest";
}

Gathered<PackPlan> plan(const std::string& dir_text) {
    const fs::path dir(dir_text);
    PackPlan result;
    QM_TRY(Manifest manifest, read_tree_manifest(dir / "manifest.json", result));
    auto& files = manifest.files;
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
    QM_TRY(BinFiles bins, find_bin_files(dir));
    // The lists ascend: walked side by side, the first id of either member list that the
    // manifest lacks is an unnamed file, and a manifest id found in neither a missing one.
    std::vector<std::string> unnamed = std::move(bins.strays);
    std::size_t at = 0;
    std::size_t json_at = 0;
    for (const ManifestFile& file : files) {
        while (at < bins.ids.size() && bins.ids[at] < file.id) {
            unnamed.push_back(content_path(bins.ids[at++]));
        }
        while (json_at < bins.json_ids.size() && bins.json_ids[json_at] < file.id) {
            unnamed.push_back(text_form_path(bins.json_ids[json_at++]));
        }
        const bool bin = at < bins.ids.size() && bins.ids[at] == file.id;
        const bool json = json_at < bins.json_ids.size() && bins.json_ids[json_at] == file.id;
        if (bin && json) {
            return std::unexpected("both " + (dir / content_path(file.id)).string() + " and " +
                                   (dir / text_form_path(file.id)).string() + " for file " +
                                   id_text(file.id) + ": keep one of them");
        }
        if (!bin && !json) {
            return std::unexpected(missing_member(dir, file.id));
        }
        at += bin ? 1 : 0;
        json_at += json ? 1 : 0;
        result.encoded.emplace_back(
            json ? std::optional<std::vector<std::uint8_t>>(std::vector<std::uint8_t>())
                 : std::nullopt);
    }
    while (at < bins.ids.size()) {
        unnamed.push_back(content_path(bins.ids[at++]));
    }
    while (json_at < bins.json_ids.size()) {
        unnamed.push_back(text_form_path(bins.json_ids[json_at++]));
    }
    if (!unnamed.empty()) {
        return std::unexpected((dir / *std::min_element(unnamed.begin(), unnamed.end())).string() +
                               " is not named in the manifest");
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        QM_TRY(const auto inode, check_member(dir / member_path(files[i].id, result.encoded[i])));
        result.read.push_back(inode);
    }
    result.header = std::move(manifest.header);
    result.files = std::move(files);
    result.preamble = manifest.preamble;
    return result;
}

// Refuses an OUT that is one of the files pack reads: writing it would change the tree.
Gathered<void> check_output_apart(const PackPlan& plan, const std::string& dir,
                                  const std::string& out) {
    struct stat info {};
    if (::lstat(out.c_str(), &info) != 0) {
        return {};
    }
    const auto found =
        std::find(plan.read.begin(), plan.read.end(), std::pair{info.st_dev, info.st_ino});
    if (found == plan.read.end()) {
        return {};
    }
    const auto index = static_cast<std::size_t>(found - plan.read.begin());
    const fs::path read = fs::path(dir) / (index == 0 ? std::string("manifest.json")
                                                      : member_path(plan.files[index - 1].id,
                                                                    plan.encoded[index - 1]));
    return std::unexpected("cannot write " + out + ": it is " + read.string() +
                           ", which pack reads");
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
            // A type directory that is a symbolic link is refused, not followed.
            fds_[type] = ::open((prefix + content_path(file.id).substr(0, 2)).c_str(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
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

    // Opens the member of file `id` as it is (a symbolic link is refused): its bytes, or with
    // `text_form` its text form.
    [[nodiscard]] Gathered<LocalFile> open_member(const std::string& prefix, std::uint32_t id,
                                                  bool text_form = false) const {
        const std::string relative = text_form ? text_form_path(id) : content_path(id);
        const auto [directory, error] = of(id >> 24);
        if (directory < 0) {
            return std::unexpected(
                "cannot read " + prefix + relative + ": " +
                (error == ELOOP ? std::string("a symbolic link") : system_reason(error)));
        }
        return LocalFile::open(directory, relative.c_str() + 3, prefix + relative, false);
    }

  private:
    std::array<int, 256> fds_{};
    std::array<int, 256> errors_{};
};

// Reads and encodes every member given as its text form, refusing one that does not describe
// a file, or describes a file of another id or type than its manifest entry's.
Gathered<void> encode_text_members(PackPlan& plan, const std::string& dir) {
    const std::string prefix = (fs::path(dir) / "").string();
    const TypeDirectories directories(prefix, plan.files);
    for (std::size_t i = 0; i < plan.files.size(); ++i) {
        if (!plan.encoded[i]) {
            continue;
        }
        const std::uint32_t id = plan.files[i].id;
        const std::string shown = prefix + text_form_path(id);
        QM_TRY(LocalFile member, directories.open_member(prefix, id, true));
        std::vector<std::uint8_t> text;
        QM_TRY_VOID(member.read_into(text, 0));
        auto file = encode_text_form(
            std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
        if (!file) {
            return std::unexpected(shown + ": " + file.error());
        }
        const auto type = dat::file_type::of(id);
        if (file->id != id) {
            return std::unexpected(shown + ": id: " + id_text(file->id) +
                                   " is not the id of its manifest entry, " + id_text(id));
        }
        if (!type || *type != file->type) {
            return std::unexpected(
                shown + ": file_type: \"" + std::string(dat::file_type::name(file->type)) +
                "\" is not the type of " + id_text(id) + " (" +
                (type ? "\"" + std::string(dat::file_type::name(*type)) + "\""
                      : std::string("not an animation, setup model or physics script")) +
                ")");
        }
        if (file->bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
            return std::unexpected(shown + ": encodes to " + std::to_string(file->bytes.size()) +
                                   " bytes, more than an archive file can hold");
        }
        plan.encoded[i] = std::move(file->bytes);
    }
    return {};
}

std::unexpected<std::string> write_failure(const std::string& out, const dat::DatError& error) {
    return std::unexpected("cannot write " + out + ": " + one_line(error));
}

// The writer of OUT, or none for a dry run.
Gathered<std::optional<dat::ArchiveWriter>> open_writer(const PackPlan& plan,
                                                        const std::string& out, bool dry_run) {
    std::optional<dat::ArchiveWriter> writer;
    if (!dry_run) {
        auto created = dat::ArchiveWriter::create(out, plan.header, plan.preamble);
        if (!created) {
            return std::unexpected(one_line(created.error()));
        }
        writer.emplace(std::move(*created));
    }
    return writer;
}

// The read-ahead's reading of member `index` into `buffer` at `at`: its encoded text form, or
// its file; a large member stored plain is left for the writing thread to stream.
Gathered<std::optional<std::size_t>>
read_member(const PackPlan& plan, const TypeDirectories& directories, const std::string& prefix,
            std::size_t index, std::vector<std::uint8_t>& buffer, std::size_t at) {
    const ManifestFile& file = plan.files[index];
    if (const auto& encoded = plan.encoded[index]) {
        if (buffer.size() < at + encoded->size()) {
            buffer.resize(at + encoded->size());
        }
        std::copy(encoded->begin(), encoded->end(),
                  buffer.begin() + static_cast<std::ptrdiff_t>(at));
        return encoded->size();
    }
    QM_TRY(LocalFile member, directories.open_member(prefix, file.id));
    if ((file.bit_flags & 1U) == 0 && member.size() > kStreamAbove) {
        return std::nullopt;
    }
    QM_TRY_VOID(member.read_into(buffer, at));
    return member.size();
}

// What a member would take in the archive: its compressed size when stored compressed, else
// its size (that of its file when it was left to stream, which fails as a real run would when
// that file can no longer be opened).
Gathered<std::uint64_t> dry_run_size(const ManifestFile& file,
                                     const std::optional<std::span<const std::uint8_t>>& contents,
                                     const TypeDirectories& directories,
                                     const std::string& prefix) {
    if (!contents) {
        QM_TRY(const LocalFile member, directories.open_member(prefix, file.id));
        return member.size();
    }
    const bool compress = (file.bit_flags & 1U) != 0;
    return compress ? dat::utils::compress_lrs(*contents).size() : contents->size();
}

// Stores one member: `contents` when it was read ahead, else streamed from its file.
Gathered<dat::DatFileEntry> add_member(dat::ArchiveWriter& writer, const ManifestFile& file,
                                       const std::optional<std::span<const std::uint8_t>>& contents,
                                       const TypeDirectories& directories,
                                       const std::string& prefix, const std::string& out) {
    const dat::FileFields fields{file.bit_flags, file.timestamp, file.version};
    const bool compress = (file.bit_flags & 1U) != 0;
    dat::DatResult<dat::DatFileEntry> added;
    if (contents) {
        added = writer.add_file(file.id, *contents, fields,
                                compress ? dat::Storage::Compressed : dat::Storage::Plain);
    } else {
        QM_TRY(const LocalFile member, directories.open_member(prefix, file.id));
        added = writer.add_file_from(file.id, member.fd(), member.size(), fields);
    }
    if (!added) {
        return write_failure(out, added.error());
    }
    return *added;
}

// Writes the archive, or for a dry run (`dry_run`) reads and compresses every member as the
// writing would, counting what it would store.
Gathered<WriteSummary> write_archive(const PackPlan& plan, const std::string& dir,
                                     const std::string& out, bool dry_run, const Streams& streams) {
    WriteSummary summary;
    summary.command = "pack";
    summary.output = out;
    summary.dry_run = dry_run;
    QM_TRY(std::optional<dat::ArchiveWriter> writer, open_writer(plan, out, dry_run));
    Progress progress(streams, "pack", plan.files.size());
    const std::string prefix = (fs::path(dir) / "").string();
    const TypeDirectories directories(prefix, plan.files);
    ReadAhead files(plan.files.size(),
                    [&](std::size_t index, std::vector<std::uint8_t>& buffer, std::size_t at) {
                        return read_member(plan, directories, prefix, index, buffer, at);
                    });
    for (std::size_t i = 0; i < plan.files.size(); ++i) {
        const ManifestFile& file = plan.files[i];
        QM_TRY(const auto contents, files.next());
        const bool compress = (file.bit_flags & 1U) != 0;
        if (dry_run) {
            QM_TRY(const std::uint64_t size, dry_run_size(file, contents, directories, prefix));
            summary.count(size, compress);
            continue;
        }
        QM_TRY(const dat::DatFileEntry added,
               add_member(*writer, file, contents, directories, prefix, out));
        summary.count(added.size, compress);
        progress.update(i + 1);
    }
    if (writer) {
        if (auto finished = writer->finish(); !finished) {
            return write_failure(out, finished.error());
        }
    }
    return summary;
}

Gathered<WriteSummary> pack(const std::string& dir, const std::string& out, bool dry_run,
                            const Streams& streams) {
    // A dry run writes nothing, not even the lock file.
    std::optional<OutputLock> lock;
    if (!dry_run) {
        auto taken = OutputLock::beside(out, out);
        if (!taken) {
            return std::unexpected(std::move(taken.error()));
        }
        lock.emplace(std::move(*taken));
    }
    QM_TRY(PackPlan packing, plan(dir));
    QM_TRY_VOID(check_output_apart(packing, dir, out));
    QM_TRY_VOID(encode_text_members(packing, dir));
    return write_archive(packing, dir, out, dry_run, streams);
}

int run_pack(const Arguments& args, const Streams& streams) {
    ignore_file_size_signal();
    clean_up_on_termination();
    const auto written =
        pack(args.positional(0), args.positional(1), args.has("--dry-run"), streams);
    if (!written) {
        return fail(streams, written.error());
    }
    return report_written(streams, *written);
}

constexpr ArgumentSpec kArguments[] = {{"DIR"}, {"OUT"}};
constexpr OptionSpec kOptions[] = {{.name = "--dry-run"}, {.name = "--json"}};

} // namespace

constinit const Command kPackCommand{
    .name = "pack",
    .synopsis = "quillmere-dat pack DIR OUT [--dry-run] [--json]",
    .outline = "pack DIR OUT",
    .summary = "a new archive from an extracted directory",
    .description =
        "Writes the archive OUT from DIR as 'quillmere-dat extract' lays it out: the header's\n"
        "fields and each file's id, bit_flags, timestamp and version from DIR/manifest.json, the\n"
        "contents from DIR/TT/XXXXXXXX.bin. A file whose bit_flags has bit 0 set is stored\n"
        "compressed. The files are stored in ascending id order whatever the manifest's order.\n"
        "\n"
        "Refused before anything is written: a manifest that is not exactly of the form extract\n"
        "writes (format 2, or format 1, which has no preamble; every header field and file\n"
        "field present once, and no other; ids as \"0x\" and eight hex digits, none listed twice;\n"
        "numbers from 0 to 4294967295; a block_size above 4 and at most 1048576), a listed file\n"
        "whose .bin file is missing, is a symbolic link, is not a regular file or holds 4 GiB or\n"
        "more, a .bin file under DIR that no file names, and an OUT that is one of the files pack\n"
        "reads. Other files in DIR are left alone. Files above 1 MiB stored plain are streamed\n"
        "into OUT.\n"
        "\n"
        "OUT is written under a temporary name beside it, flushed to the disk and put in place of\n"
        "OUT, so OUT is either its old self or the whole new archive; a failure or an\n"
        "interruption (Ctrl-C, SIGTERM, SIGHUP, SIGQUIT) removes the temporary file. While it\n"
        "runs it holds a lock on OUT (the file .OUT.lock beside it): a second writer of OUT\n"
        "fails at once.\n"
        "\n"
        "  --dry-run   check everything a real run checks (every member read, and compressed\n"
        "              where flagged) and say what it would write, writing nothing\n"
        "  --json      one JSON document on standard output saying what was written (or with\n"
        "              --dry-run, what would be): {command, output, dry_run, files, bytes,\n"
        "              compressed, left_out}\n",
    .arguments = kArguments,
    .options = kOptions,
    .run = run_pack,
};

} // namespace quillmere::dat_tool
