// quillmere-dat cat: one file's bytes, decompressed as the library's get_file returns them, to
// standard output.
#include "archive_access.hpp"
#include "commands.hpp"

namespace quillmere::inspect {
namespace {

// What cat shows is the file itself; it has no other form.
Gathered<std::vector<std::uint8_t>> gather(const std::string& path, std::uint32_t id) {
    auto db = open_archive(path);
    if (!db) {
        return std::unexpected(std::move(db.error()));
    }
    return read_file(*db, id, path);
}

int run_cat(const Arguments& args, const Streams& streams) {
    const auto bytes = gather(args.positional(0), parse_file_id(args.positional(1)).value_or(0));
    if (!bytes) {
        return fail(streams, bytes.error());
    }
    return emit(streams,
                std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

constexpr ArgumentSpec kArguments[] = {{"ARCHIVE"}, {"ID", check_file_id}};

} // namespace

constinit const Command kCatCommand{
    .name = "cat",
    .synopsis = "quillmere-dat cat ARCHIVE ID",
    .outline = "cat ARCHIVE ID",
    .summary = "a file's bytes, decompressed, to standard output",
    .description =
        "Writes the bytes of file ID to standard output, decompressed when the archive stores it\n"
        "compressed. Refuses to write to a terminal: redirect standard output to a file or a "
        "pipe.\n",
    .arguments = kArguments,
    .writes_binary = true,
    .run = run_cat,
};

} // namespace quillmere::inspect
