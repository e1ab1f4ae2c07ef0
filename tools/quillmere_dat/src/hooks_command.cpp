// quillmere-dat hooks: every hook of an animation, setup model or physics script where it sits,
// with its type, direction and payload fields, as text or JSON.
#include "archive_access.hpp"
#include "commands.hpp"
#include "hook_listing.hpp"
#include "json.hpp"
#include "payload_fields.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/dat/file_type/hook_payload.hpp"
#include "quillmere/tools/hook_type_names.hpp"

namespace quillmere::inspect {
namespace {

struct HookRow {
    // Where the hook sits, and the hook as stored (raw payload bytes included).
    LocatedHook located;
    std::string_view name;
    std::vector<PayloadField> fields;
};

struct HooksModel {
    std::string archive;
    std::uint32_t id = 0;
    HookFileType type = HookFileType::Animation;
    std::uint32_t stored_id = 0;
    // What the file's groups are called ("frames", "placements", "entries") and how many.
    std::string_view groups_name;
    std::uint32_t groups = 0;
    // Parts per frame or of the model; a physics script has none.
    std::optional<std::uint32_t> parts;
    std::vector<HookRow> hooks;
};

Gathered<HooksModel> gather(const std::string& path, std::uint32_t id) {
    auto db = open_archive(path);
    if (!db) {
        return std::unexpected(std::move(db.error()));
    }
    if (!db->files().contains(id)) {
        return std::unexpected(one_line(dat::DatError::not_found(id)));
    }
    const auto type = dat::file_type::of(id);
    if (!type) {
        return std::unexpected(id_text(id) +
                               " is not an animation (0x03......), setup model (0x02......) "
                               "or physics script (0x33......)");
    }
    auto bytes = read_file(*db, id, path);
    if (!bytes) {
        return std::unexpected(std::move(bytes.error()));
    }
    auto listing = list_hooks(*type, *bytes);
    if (!listing) {
        const std::string_view article = *type == HookFileType::Animation ? "an " : "a ";
        return std::unexpected("cannot decode " + id_text(id) + " as " + std::string(article) +
                               std::string(type_label(*type)) + ": " + listing.error().one_line());
    }

    HooksModel model;
    model.archive = path;
    model.id = id;
    model.type = listing->type;
    model.stored_id = listing->stored_id;
    model.groups = listing->groups;
    switch (listing->type) {
    case HookFileType::Animation:
        model.groups_name = "frames";
        model.parts = listing->parts;
        break;
    case HookFileType::SetupModel:
        model.groups_name = "placements";
        model.parts = listing->parts;
        break;
    case HookFileType::PhysicsScript:
        model.groups_name = "entries";
        break;
    }
    // Every payload is decoded here, so a bad one fails the command before anything is printed.
    model.hooks.reserve(listing->hooks.size());
    for (std::size_t i = 0; i < listing->hooks.size(); ++i) {
        auto& located = listing->hooks[i];
        auto payload = dat::file_type::setup_model::unpack_payload(located.hook);
        if (!payload) {
            return std::unexpected("cannot decode the payload of hook " + std::to_string(i) +
                                   " of " + id_text(id) + ": " + payload.error().one_line());
        }
        const auto name = tools::hook_type_name(located.hook.hook_type);
        model.hooks.push_back({std::move(located), name, payload_fields(*payload)});
    }
    return model;
}

std::string location_text(const LocatedHook& located) {
    if (located.frame) {
        return "frame " + std::to_string(*located.frame);
    }
    if (located.placement) {
        return "placement " + std::to_string(*located.placement);
    }
    return "time " + common::float_text(located.start_time.value_or(0.0));
}

std::string render_text(const HooksModel& model) {
    std::string text = id_text(model.id) + " " + std::string(type_label(model.type)) + "  " +
                       std::string(model.groups_name) + "=" + std::to_string(model.groups);
    if (model.parts) {
        text += " parts=" + std::to_string(*model.parts);
    }
    text += " hooks=" + std::to_string(model.hooks.size());
    if (model.stored_id != model.id) {
        text += " stored_id=" + id_text(model.stored_id);
    }
    text += "\n";
    for (const auto& row : model.hooks) {
        const auto& hook = row.located.hook;
        text += location_text(row.located) + "  " + std::string(row.name) + " (" +
                std::to_string(hook.hook_type) + ")  direction=" + std::to_string(hook.direction);
        if (!row.fields.empty()) {
            text += "  " + fields_text(row.fields);
        }
        text += "\n";
    }
    return text;
}

std::string render_json(const HooksModel& model) {
    auto hooks = Json::array();
    for (const auto& row : model.hooks) {
        const auto& located = row.located;
        auto item = Json::object();
        if (located.frame) {
            item.set("frame", Json::number(*located.frame));
        } else if (located.placement) {
            item.set("placement", Json::number(*located.placement));
        } else {
            item.set("start_time", Json::number(located.start_time.value_or(0.0)));
        }
        item.set("hook_type", Json::number(located.hook.hook_type))
            .set("name", Json::string(row.name))
            .set("direction", Json::number(located.hook.direction))
            .set("payload", fields_json(row.fields))
            .set("data", Json::string(common::hex_bytes(located.hook.data)));
        hooks.push(std::move(item));
    }
    auto doc = Json::object();
    doc.set("archive", Json::string(model.archive))
        .set("id", Json::string(id_text(model.id)))
        .set("file_type", Json::string(type_label(model.type)))
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

} // namespace quillmere::inspect
