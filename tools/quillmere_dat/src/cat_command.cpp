// quillmere-dat cat: files' bytes, decompressed as the library's get_file returns them, to
// standard output one after another, to one file, or each to its own file in a directory.
#include "archive_access.hpp"
#include "commands.hpp"
#include "id_lists.hpp"
#include "local_files.hpp"
#include "manifest.hpp"
#include "quillmere/common/try.hpp"

#include <cerrno>
#include <sys/stat.h>

namespace quillmere::dat_tool {
namespace {

namespace fs = std::filesystem;

// Every file is read before anything is written, so a failure writes nothing.
Gathered<std::vector<std::vector<std::uint8_t>>> gather(const std::string& path,
                                                        std::span<const std::uint32_t> ids) {
    auto db = open_archive(path);
    if (!db) {
        return std::unexpected(std::move(db.error()));
    }
    std::vector<std::vector<std::uint8_t>> files;
    for (const std::uint32_t id : ids) {
        QM_TRY(auto bytes, read_file(*db, id, path));
        files.push_back(std::move(bytes));
    }
    return files;
}

// Makes `path` a directory unless it is one.
Gathered<void> make_directory(const fs::path& path) {
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
        return std::unexpected("cannot create " + path.string() + ": " + system_reason(errno));
    }
    return {};
}

// Each file to DIR/TT/XXXXXXXX.bin, as extract names them, each replaced whole.
Gathered<void> write_each(const fs::path& dir, std::span<const std::uint32_t> ids,
                          const std::vector<std::vector<std::uint8_t>>& files) {
    QM_TRY_VOID(make_directory(dir));
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const fs::path path = dir / content_path(ids[i]);
        QM_TRY_VOID(make_directory(path.parent_path()));
        QM_TRY_VOID(replace_file(path, files[i], path.string()));
    }
    return {};
}

int run_cat(const Arguments& args, const Streams& streams) {
    const auto output = args.value("-o");
    const auto directory = args.value("-d");
    if (output && directory) {
        streams.err << "error: -o and -d cannot be given together\nusage: " << kCatCommand.synopsis
                    << "\n";
        return kExitUsage;
    }
    const auto ids = ids_of(args.positionals_from(1), args, streams.in);
    if (!ids) {
        return fail(streams, ids.error());
    }
    const auto files = gather(args.positional(0), *ids);
    if (!files) {
        return fail(streams, files.error());
    }
    if (directory) {
        const auto written = write_each(std::string(*directory), *ids, *files);
        return written ? kExitOk : fail(streams, written.error());
    }
    std::vector<std::uint8_t> all;
    for (const auto& bytes : *files) {
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    if (output) {
        const auto written = replace_file(std::string(*output), all, std::string(*output));
        return written ? kExitOk : fail(streams, written.error());
    }
    return emit(streams, std::string_view(reinterpret_cast<const char*>(all.data()), all.size()));
}

constexpr ArgumentSpec kArguments[] = {
    {"ARCHIVE"},
    {.name = "ID", .check = check_file_id, .repeated = true, .or_option = "--ids-from"}};
constexpr OptionSpec kOptions[] = {
    {.name = "--ids-from", .takes_value = true},
    {.name = "-o", .takes_value = true, .redirects_output = true},
    {.name = "-d", .takes_value = true, .redirects_output = true},
};

} // namespace

constinit const Command kCatCommand{
    .name = "cat",
    .synopsis = "quillmere-dat cat ARCHIVE ID... [--ids-from FILE] [-o FILE | -d DIR]",
    .outline = "cat ARCHIVE ID...",
    .summary = "files' bytes, decompressed, to standard output",
    .description =
        "Writes the bytes of each file ID, in the order given, to standard output, decompressed\n"
        "when the archive stores it compressed. Every file is read before anything is written,\n"
        "so a file that cannot be read (or a compressed stream that falls short of its size\n"
        "word) writes nothing. Refuses to write to a terminal: redirect standard output to a\n"
        "file or a pipe, or use -o or -d.\n"
        "\n"
        "  --ids-from FILE   also the ids listed in FILE ('-' for standard input), one per line\n"
        "                    (the first word of each; blank lines and '#' comments ignored)\n"
        "  -o FILE           write the bytes to FILE instead, replacing it whole\n"
        "  -d DIR            write each file to DIR/TT/XXXXXXXX.bin as extract names them (TT\n"
        "                    the id's top byte), making DIR and TT as needed and replacing\n"
        "                    each file whole\n",
    .arguments = kArguments,
    .options = kOptions,
    .writes_binary = true,
    .run = run_cat,
};

} // namespace quillmere::dat_tool
