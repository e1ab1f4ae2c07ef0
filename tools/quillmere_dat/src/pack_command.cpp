// quillmere-dat pack: a new archive from a directory laid out as extract writes it, the header
// and each file's directory fields taken from its manifest.json.
#include "archive_access.hpp"
#include "commands.hpp"
#include "local_files.hpp"
#include "manifest.hpp"
#include "progress.hpp"
#include "quillmere/common/try.hpp"
#include "quillmere/dat/archive_writer.hpp"

#include <algorithm>
#include <set>

namespace quillmere::inspect {
namespace {

namespace fs = std::filesystem;

// What pack will write: the manifest's header and files, in ascending id order, each file's
// contents checked to be there and every .bin file under the directory accounted for.
struct PackPlan {
    dat::DatHeader header;
    std::vector<ManifestFile> files;
};

// The paths, relative to `dir` and with '/' between parts, of every .bin file (anything but a
// directory) under it.
Gathered<std::set<std::string>> bin_files(const fs::path& dir) {
    std::set<std::string> found;
    std::error_code ec;
    fs::recursive_directory_iterator it(dir, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path& path = it->path();
        // A broken link counts as a file: named, it fails when read; unnamed, it is reported.
        std::error_code type_error;
        if (path.extension() == ".bin" && !it->is_directory(type_error)) {
            found.insert(path.lexically_relative(dir).generic_string());
        }
    }
    if (ec) {
        return std::unexpected("cannot read " + dir.string() + ": " + ec.message());
    }
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
    QM_TRY(std::set<std::string> unnamed, bin_files(dir));
    for (const ManifestFile& file : manifest->files) {
        const std::string relative = content_path(file.id);
        if (unnamed.erase(relative) == 0) {
            return std::unexpected("missing " + (dir / relative).string() + " for file " +
                                   id_text(file.id) + " of the manifest");
        }
    }
    if (!unnamed.empty()) {
        return std::unexpected((dir / *unnamed.begin()).string() + " is not named in the manifest");
    }
    std::sort(manifest->files.begin(), manifest->files.end(),
              [](const auto& a, const auto& b) { return a.id < b.id; });
    return PackPlan{std::move(manifest->header), std::move(manifest->files)};
}

Gathered<void> write_archive(const PackPlan& plan, const std::string& dir, const std::string& out,
                             const Streams& streams) {
    auto writer = dat::ArchiveWriter::create(out, plan.header);
    if (!writer) {
        return std::unexpected(one_line(writer.error()));
    }
    const auto write_failed = [&](const dat::DatError& error) {
        return std::unexpected("cannot write " + out + ": " + one_line(error));
    };
    Progress progress(streams, "pack", plan.files.size());
    std::vector<std::uint8_t> contents;
    for (std::size_t i = 0; i < plan.files.size(); ++i) {
        const ManifestFile& file = plan.files[i];
        QM_TRY_VOID(read_local_file(fs::path(dir) / content_path(file.id), contents));
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
