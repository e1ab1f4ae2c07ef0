// quillmere-dat cat: files' bytes, decompressed as the library's get_file returns them, to
// standard output one after another.
#include "archive_access.hpp"
#include "commands.hpp"
#include "id_lists.hpp"

namespace quillmere::inspect {
namespace {

// Every file is read before anything is written, so a failure writes nothing.
Gathered<std::vector<std::uint8_t>> gather(const std::string& path,
                                           std::span<const std::uint32_t> ids) {
    auto db = open_archive(path);
    if (!db) {
        return std::unexpected(std::move(db.error()));
    }
    std::vector<std::uint8_t> all;
    for (const std::uint32_t id : ids) {
        auto bytes = read_file(*db, id, path);
        if (!bytes) {
            return std::unexpected(std::move(bytes.error()));
        }
        all.insert(all.end(), bytes->begin(), bytes->end());
    }
    return all;
}

int run_cat(const Arguments& args, const Streams& streams) {
    const auto ids = ids_of(args.positionals_from(1), args, streams.in);
    if (!ids) {
        return fail(streams, ids.error());
    }
    const auto bytes = gather(args.positional(0), *ids);
    if (!bytes) {
        return fail(streams, bytes.error());
    }
    return emit(streams,
                std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

constexpr ArgumentSpec kArguments[] = {
    {"ARCHIVE"},
    {.name = "ID", .check = check_file_id, .repeated = true, .or_option = "--ids-from"}};
constexpr OptionSpec kOptions[] = {{.name = "--ids-from", .takes_value = true}};

} // namespace

constinit const Command kCatCommand{
    .name = "cat",
    .synopsis = "quillmere-dat cat ARCHIVE ID... [--ids-from FILE]",
    .outline = "cat ARCHIVE ID...",
    .summary = "files' bytes, decompressed, to standard output",
    .description =
        "Writes the bytes of each file ID, in the order given, to standard output, decompressed\n"
        "when the archive stores it compressed. Every file is read before anything is written,\n"
        "so a file that cannot be read (or a compressed stream that falls short of its size\n"
        "word) writes nothing. Refuses to write to a terminal: redirect standard output to a\n"
        "file or a pipe.\n"
        "\n"
        "  --ids-from FILE   also the ids listed in FILE ('-' for standard input), one per line\n"
        "                    (the first word of each; blank lines and '#' comments ignored)\n",
    .arguments = kArguments,
    .options = kOptions,
    .writes_binary = true,
    .run = run_cat,
};

} // namespace quillmere::inspect
