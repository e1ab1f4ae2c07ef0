// quillmere-dat ls: the archive's files in ascending id order, optionally of one file type, as
// text or JSON.
#include "archive_access.hpp"
#include "commands.hpp"
#include "json.hpp"
#include "quillmere/common/text.hpp"

#include <algorithm>

namespace quillmere::dat_tool {
namespace {

using common::pad_left;
using common::pad_right;

struct LsModel {
    std::string archive;
    // The type asked for with --type; nothing lists every file.
    std::optional<std::uint8_t> type;
    // The listed entries in ascending id order.
    std::vector<dat::DatFileEntry> entries;
};

Gathered<LsModel> gather(const std::string& path, std::optional<std::uint8_t> type) {
    auto db = open_archive(path);
    if (!db) {
        return std::unexpected(std::move(db.error()));
    }
    LsModel model{path, type, {}};
    model.entries.reserve(db->files().size());
    for (const auto& [id, entry] : db->files()) {
        if (!type || (id >> 24) == *type) {
            model.entries.push_back(entry);
        }
    }
    // The map's own order is unspecified.
    std::sort(model.entries.begin(), model.entries.end(),
              [](const auto& a, const auto& b) { return a.id < b.id; });
    return model;
}

std::string render_text(const LsModel& model) {
    std::string text = pad_right("id", 10) + "  " + pad_left("stored", 10) + "  " +
                       pad_right("compressed", 10) + "  " + pad_left("timestamp", 10) + "  " +
                       pad_left("version", 10) + "\n";
    for (const auto& e : model.entries) {
        text += id_text(e.id) + "  " + pad_left(std::to_string(e.size), 10) + "  " +
                pad_right(e.is_compressed() ? "yes" : "no", 10) + "  " +
                pad_left(std::to_string(e.timestamp), 10) + "  " +
                pad_left(std::to_string(e.version), 10) + "\n";
    }
    return text;
}

std::string render_json(const LsModel& model) {
    auto list = Json::array();
    for (const auto& e : model.entries) {
        auto row = Json::object();
        row.set("id", Json::string(id_text(e.id)))
            .set("size", Json::number(e.size))
            .set("compressed", Json::boolean(e.is_compressed()))
            .set("timestamp", Json::number(e.timestamp))
            .set("version", Json::number(e.version))
            .set("bit_flags", Json::number(e.bit_flags))
            .set("offset", Json::number(e.offset));
        list.push(std::move(row));
    }
    auto doc = Json::object();
    doc.set("archive", Json::string(model.archive))
        .set("type", model.type ? Json::string(type_text(*model.type)) : Json())
        .set("count", Json::number(model.entries.size()))
        .set("entries", std::move(list));
    return doc.dump();
}

int run_ls(const Arguments& args, const Streams& streams) {
    std::optional<std::uint8_t> type;
    if (const auto text = args.value("--type")) {
        type = parse_type_byte(*text);
    }
    const auto model = gather(args.positional(0), type);
    if (!model) {
        return fail(streams, model.error());
    }
    return emit(streams, args.has("--json") ? render_json(*model) : render_text(*model));
}

constexpr ArgumentSpec kArguments[] = {{"ARCHIVE"}};
constexpr OptionSpec kOptions[] = {
    {.name = "--type", .takes_value = true, .check = check_type_byte},
    {.name = "--json"},
};

} // namespace

constinit const Command kLsCommand{
    .name = "ls",
    .synopsis = "quillmere-dat ls ARCHIVE [--type TYPE] [--json]",
    .outline = "ls ARCHIVE [--type TYPE]",
    .summary = "one line per file in ascending id order",
    .description =
        "Lists the archive's files in ascending id order, one per line: the id, the stored size\n"
        "(for a compressed file the compressed size), whether it is compressed, its timestamp and\n"
        "its version.\n"
        "\n"
        "  --type TYPE  only files of this type: the top byte of their ids in hex (03, 0x33),\n"
        "               or a name: animation, setup-model, physics-script\n"
        "  --json       one JSON document: {archive, type, count, entries}\n",
    .arguments = kArguments,
    .options = kOptions,
    .run = run_ls,
};

} // namespace quillmere::dat_tool
