// quillmere-dat hooks: every hook of an animation, setup model or physics script where it sits,
// with its type, direction and payload fields, as text or JSON.
#include "archive_access.hpp"
#include "commands.hpp"
#include "hook_listing.hpp"
#include "hook_rows.hpp"
#include "json.hpp"
#include "quillmere/common/try.hpp"

namespace quillmere::dat_tool {
namespace {

using dat::file_type::FileType;

struct HooksModel {
    std::string archive;
    std::uint32_t id = 0;
    FileType type = FileType::Animation;
    std::uint32_t stored_id = 0;
    // What the file's groups are called ("frames", "placements", "entries") and how many.
    std::string_view groups_name;
    std::uint32_t groups = 0;
    // Parts per frame or of the model; a physics script has none.
    std::optional<std::uint32_t> parts;
    std::vector<HookRow> hooks;
};

Gathered<HooksModel> gather(const std::string& path, std::uint32_t id) {
    QM_TRY(const HookFile file, read_hook_file(path, id));
    auto listing = list_hooks(file.type, file.bytes);
    if (!listing) {
        return std::unexpected(cannot_decode(id, file.type, listing.error()));
    }

    HooksModel model;
    model.archive = path;
    model.id = id;
    model.type = listing->type;
    model.stored_id = listing->stored_id;
    model.groups = listing->groups;
    switch (listing->type) {
    case FileType::Animation:
        model.groups_name = "frames";
        model.parts = listing->parts;
        break;
    case FileType::SetupModel:
        model.groups_name = "placements";
        model.parts = listing->parts;
        break;
    case FileType::PhysicsScript:
        model.groups_name = "entries";
        break;
    }
    // Every payload is decoded here, so a bad one fails the command before anything is printed.
    auto rows = hook_rows(std::move(*listing), id);
    if (!rows) {
        return std::unexpected(std::move(rows.error()));
    }
    model.hooks = std::move(*rows);
    return model;
}

std::string render_text(const HooksModel& model) {
    std::string text = id_text(model.id) + " " + std::string(dat::file_type::name(model.type)) +
                       "  " + std::string(model.groups_name) + "=" + std::to_string(model.groups);
    if (model.parts) {
        text += " parts=" + std::to_string(*model.parts);
    }
    text += " hooks=" + std::to_string(model.hooks.size());
    if (model.stored_id != model.id) {
        text += " stored_id=" + id_text(model.stored_id);
    }
    text += "\n";
    for (const auto& row : model.hooks) {
        text += location_text(row.located) + "  " + hook_text(row) + "\n";
    }
    return text;
}

std::string render_json(const HooksModel& model) {
    auto hooks = Json::array();
    for (const auto& row : model.hooks) {
        hooks.push(hook_json(row));
    }
    auto doc = Json::object();
    doc.set("archive", Json::string(model.archive))
        .set("id", Json::string(id_text(model.id)))
        .set("file_type", Json::string(dat::file_type::name(model.type)))
        .set("stored_id", Json::string(id_text(model.stored_id)))
        .set(model.groups_name, Json::number(model.groups));
    if (model.parts) {
        doc.set("parts", Json::number(*model.parts));
    }
    doc.set("hook_count", Json::number(model.hooks.size())).set("hooks", std::move(hooks));
    return doc.dump();
}

int run_hooks(const Arguments& args, const Streams& streams) {
    const auto model = gather(args.positional(0), parse_file_id(args.positional(1)).value_or(0));
    if (!model) {
        return fail(streams, model.error());
    }
    return emit(streams, args.has("--json") ? render_json(*model) : render_text(*model));
}

constexpr ArgumentSpec kArguments[] = {{"ARCHIVE"}, {"ID", check_file_id}};
constexpr OptionSpec kOptions[] = {{"--json"}};

} // namespace

constinit const Command kHooksCommand{
    .name = "hooks",
    .synopsis = "quillmere-dat hooks ARCHIVE ID [--json]",
    .outline = "hooks ARCHIVE ID",
    .summary = "the hooks of an animation, setup model or physics script",
    .description =
        "Decodes file ID as an animation (ids 0x03......), a setup model (0x02......) or a "
        "physics\n"
        "script (0x33......) and prints every hook where it sits (frame index, placement key or\n"
        "start time) with its type, direction and payload fields. File ids in payloads are shown\n"
        "as 0x and eight hex digits; ReplaceObject's packed part id is shown combined: the 16-bit\n"
        "word itself, or (upper & 0x7FFF) << 16 | lower when bit 15 of the upper word is set.\n"
        "\n"
        "  --json   one JSON document: {archive, id, file_type, stored_id, frames|placements|\n"
        "           entries, parts, hook_count, hooks}; each hook also carries its raw payload\n"
        "           bytes (padding included) as hex in \"data\"\n",
    .arguments = kArguments,
    .options = kOptions,
    .run = run_hooks,
};

} // namespace quillmere::dat_tool
