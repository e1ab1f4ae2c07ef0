// quillmere-dat info: the archive's header fields, its number of entries and a summary per
// file type, as text or JSON.
#include "archive_access.hpp"
#include "commands.hpp"
#include "json.hpp"
#include "quillmere/common/text.hpp"

#include <map>

namespace quillmere::dat_tool {
namespace {

using common::pad_left;

// One 32-bit header field; ids (magic, master_map_id) show in hex in the text form.
struct HeaderWord {
    std::string_view name;
    std::uint32_t value = 0;
    bool is_id = false;
};

struct TypeSummary {
    std::uint8_t type = 0;
    std::uint64_t files = 0;
    std::uint64_t stored_bytes = 0;
    std::uint64_t compressed = 0;
};

struct InfoModel {
    std::string archive;
    // The header's 32-bit fields in file order.
    std::vector<HeaderWord> header;
    // The 16-byte version string as upper-case hex.
    std::string version_string;
    std::uint32_t version_minor = 0;
    std::uint64_t entries = 0;
    // By ascending type.
    std::vector<TypeSummary> types;
};

Gathered<InfoModel> gather(const std::string& path) {
    auto db = open_archive(path);
    if (!db) {
        return std::unexpected(std::move(db.error()));
    }
    const auto& h = db->header();
    InfoModel model;
    model.archive = path;
    model.header = {
        {"magic", h.magic, true},
        {"block_size", h.block_size},
        {"file_size", h.file_size},
        {"dataset", h.dataset},
        {"subset", h.subset},
        {"free_head", h.free_head},
        {"free_tail", h.free_tail},
        {"free_count", h.free_count},
        {"root_offset", h.root_offset},
        {"new_lru", h.new_lru},
        {"old_lru", h.old_lru},
        {"use_lru", h.use_lru},
        {"master_map_id", h.master_map_id, true},
        {"engine_version", h.engine_version},
        {"game_version", h.game_version},
    };
    model.version_string = common::hex_bytes(h.version_string, common::LetterCase::Upper);
    model.version_minor = h.version_minor;
    model.entries = db->files().size();

    std::map<std::uint8_t, TypeSummary> types;
    for (const auto& [id, entry] : db->files()) {
        const auto type = static_cast<std::uint8_t>(id >> 24);
        auto& summary = types[type];
        summary.type = type;
        ++summary.files;
        summary.stored_bytes += entry.size;
        summary.compressed += entry.is_compressed() ? 1U : 0U;
    }
    for (const auto& [type, summary] : types) {
        model.types.push_back(summary);
    }
    return model;
}

std::string render_text(const InfoModel& model) {
    std::string text = "archive: " + model.archive + "\n";
    for (const auto& word : model.header) {
        text += std::string(word.name) + ": " +
                (word.is_id ? id_text(word.value) : std::to_string(word.value)) + "\n";
    }
    text += "version_string: " + model.version_string + "\n";
    text += "version_minor: " + std::to_string(model.version_minor) + "\n";
    text += "entries: " + std::to_string(model.entries) + "\n";
    if (!model.types.empty()) {
        text += "\ntype  " + pad_left("files", 10) + "  " + pad_left("stored_bytes", 14) + "  " +
                pad_left("compressed", 10) + "\n";
        for (const auto& summary : model.types) {
            const std::string_view name = type_name(summary.type);
            text += type_text(summary.type) + "  " + pad_left(std::to_string(summary.files), 10) +
                    "  " + pad_left(std::to_string(summary.stored_bytes), 14) + "  " +
                    pad_left(std::to_string(summary.compressed), 10) +
                    (name.empty() ? "" : "  " + std::string(name)) + "\n";
        }
    }
    return text;
}

std::string render_json(const InfoModel& model) {
    auto header = Json::object();
    for (const auto& word : model.header) {
        header.set(word.name, Json::number(word.value));
    }
    header.set("version_string", Json::string(model.version_string));
    header.set("version_minor", Json::number(model.version_minor));
    auto types = Json::array();
    for (const auto& summary : model.types) {
        auto row = Json::object();
        const std::string_view name = type_name(summary.type);
        row.set("type", Json::string(type_text(summary.type)))
            .set("name", name.empty() ? Json() : Json::string(name))
            .set("files", Json::number(summary.files))
            .set("stored_bytes", Json::number(summary.stored_bytes))
            .set("compressed", Json::number(summary.compressed));
        types.push(std::move(row));
    }
    auto doc = Json::object();
    doc.set("archive", Json::string(model.archive))
        .set("header", std::move(header))
        .set("entries", Json::number(model.entries))
        .set("types", std::move(types));
    return doc.dump();
}

int run_info(const Arguments& args, const Streams& streams) {
    const auto model = gather(args.positional(0));
    if (!model) {
        return fail(streams, model.error());
    }
    return emit(streams, args.has("--json") ? render_json(*model) : render_text(*model));
}

constexpr ArgumentSpec kArguments[] = {{"ARCHIVE"}};
constexpr OptionSpec kOptions[] = {{"--json"}};

} // namespace

constinit const Command kInfoCommand{
    .name = "info",
    .synopsis = "quillmere-dat info ARCHIVE [--json]",
    .outline = "info ARCHIVE",
    .summary = "header fields, number of entries, a summary per file type",
    .description =
        "Prints the archive's header fields (magic, block size, versions, the 16-byte version\n"
        "string as hex, ...), the number of directory entries and, per file type (the top byte of\n"
        "the id, with the name of the types that carry hooks), how many files there are, how many\n"
        "bytes they take as stored and how many of them are compressed.\n"
        "\n"
        "  --json   one JSON document: {archive, header, entries, types}\n",
    .arguments = kArguments,
    .options = kOptions,
    .run = run_info,
};

} // namespace quillmere::dat_tool
