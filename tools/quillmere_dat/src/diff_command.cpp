// quillmere-dat diff: what differs between two archives (header, the bytes before it, which
// files are added, removed or changed and how), optionally with the hook differences of changed
// animations, setup models and physics scripts; as text or JSON, with cmp's exit statuses.
#include "archive_access.hpp"
#include "commands.hpp"
#include "hook_listing.hpp"
#include "hook_rows.hpp"
#include "json.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/dat/archive_diff.hpp"

#include <bit>
#include <ostream>

namespace quillmere::dat_tool {
namespace {

using dat::ArchiveDiff;
using dat::DatFileEntry;
using dat::FileDifference;
using dat::file_type::FileType;

// A file type's name: the hook-carrying types as `hooks` names them ("animation", "setup
// model", "physics script"), every other type as `info` prints it ("0x0A").
std::string type_name(std::uint32_t id) {
    if (const auto type = dat::file_type::of(id)) {
        return std::string(dat::file_type::name(*type));
    }
    return type_text(static_cast<std::uint8_t>(id >> 24));
}

// One hook difference. Hooks are matched by position: where they sit (an animation's frame
// index, a setup model's placement key, a physics script's entry index) and their index among
// the hooks of that place. A place and index on one side only is a hook added (in B) or removed
// (in A); on both sides, a hook that differs in anything (type, direction, payload bytes, and a
// script entry's start time) is changed. Hooks that moved to another place show as removed
// where they were and added where they are.
struct HookChange {
    FileType type = FileType::Animation;
    // Frame index, placement key or entry index.
    std::int64_t place = 0;
    // Among the hooks of the place (always 0 for a script entry).
    std::uint32_t index = 0;
    std::optional<HookRow> a;
    std::optional<HookRow> b;
};

struct ChangedFile {
    FileDifference diff;
    // Why a side could not be read or decoded ("in A: cannot read ..."), in that order.
    std::vector<std::string> errors;
    // With --hooks, for an animation, setup model or physics script both decoders accept.
    std::optional<std::vector<HookChange>> hooks;
};

struct DiffModel {
    std::string a_path;
    std::string b_path;
    ArchiveDiff diff;
    std::vector<ChangedFile> changed;
};

// A row with the key it is matched by.
struct PlacedRow {
    std::int64_t place = 0;
    std::uint32_t index = 0;
    HookRow row;
};

std::vector<PlacedRow> placed(std::vector<HookRow> rows) {
    std::vector<PlacedRow> out;
    out.reserve(rows.size());
    std::int64_t entry = 0;
    for (auto& row : rows) {
        const auto& located = row.located;
        std::int64_t place = located.frame       ? std::int64_t{*located.frame}
                             : located.placement ? std::int64_t{*located.placement}
                                                 : entry++;
        std::uint32_t index = 0;
        if (!out.empty() && out.back().place == place && !located.start_time) {
            index = out.back().index + 1;
        }
        out.push_back({place, index, std::move(row)});
    }
    return out;
}

bool same_hook(const HookRow& x, const HookRow& y) {
    const auto bits = [](const std::optional<double>& time) {
        return time ? std::bit_cast<std::uint64_t>(*time) : std::uint64_t{0};
    };
    return x.located.hook == y.located.hook &&
           x.located.start_time.has_value() == y.located.start_time.has_value() &&
           bits(x.located.start_time) == bits(y.located.start_time);
}

// Both listings are in ascending (place, index) order: frames in order, placements by key,
// entries in order.
std::vector<HookChange> hook_changes(FileType type, std::vector<HookRow> a_rows,
                                     std::vector<HookRow> b_rows) {
    auto a = placed(std::move(a_rows));
    auto b = placed(std::move(b_rows));
    std::vector<HookChange> changes;
    const auto key = [](const PlacedRow& row) { return std::pair(row.place, row.index); };
    auto ia = a.begin();
    auto ib = b.begin();
    while (ia != a.end() || ib != b.end()) {
        if (ib == b.end() || (ia != a.end() && key(*ia) < key(*ib))) {
            changes.push_back({type, ia->place, ia->index, std::move(ia->row), std::nullopt});
            ++ia;
        } else if (ia == a.end() || key(*ib) < key(*ia)) {
            changes.push_back({type, ib->place, ib->index, std::nullopt, std::move(ib->row)});
            ++ib;
        } else {
            if (!same_hook(ia->row, ib->row)) {
                changes.push_back(
                    {type, ia->place, ia->index, std::move(ia->row), std::move(ib->row)});
            }
            ++ia;
            ++ib;
        }
    }
    return changes;
}

// The hook rows of one side of a changed file, or the error that side's decoder gives.
Gathered<std::vector<HookRow>> side_rows(const dat::DatDatabase& db, std::uint32_t id,
                                         FileType type, std::string_view side,
                                         std::vector<std::uint8_t>& buffer) {
    const std::string prefix = "in " + std::string(side) + ": ";
    if (auto read = db.get_file_checked(id, buffer); !read) {
        const auto& entry = db.files().at(id);
        return std::unexpected(prefix + "cannot read " + id_text(id) + " at offset " +
                               std::to_string(entry.offset) + ": " +
                               what_failed(entry, read.error()));
    }
    auto listing = list_hooks(type, buffer);
    if (!listing) {
        return std::unexpected(prefix + cannot_decode(id, type, listing.error()));
    }
    auto rows = hook_rows(std::move(*listing), id);
    if (!rows) {
        return std::unexpected(prefix + rows.error());
    }
    return rows;
}

std::string read_error(std::string_view side, const DatFileEntry& entry,
                       const dat::DatError& error) {
    return "in " + std::string(side) + ": cannot read " + id_text(entry.id) + " at offset " +
           std::to_string(entry.offset) + ": " + what_failed(entry, error);
}

Gathered<DiffModel> gather(const Arguments& args) {
    DiffModel model{args.positional(0), args.positional(1), {}, {}};
    auto a = open_archive(model.a_path);
    if (!a) {
        return std::unexpected(std::move(a.error()));
    }
    auto b = open_archive(model.b_path);
    if (!b) {
        return std::unexpected(std::move(b.error()));
    }
    dat::DiffOptions options;
    if (const auto text = args.value("--type")) {
        options.type = parse_type_byte(*text);
    }
    auto diff = dat::compare_archives(*a, *b, options);
    if (!diff) {
        return std::unexpected("cannot compare " + model.a_path + " with " + model.b_path + ": " +
                               one_line(diff.error()));
    }
    model.diff = std::move(*diff);

    const bool hooks = args.has("--hooks");
    std::vector<std::uint8_t> buffer;
    model.changed.reserve(model.diff.changed.size());
    for (auto& file : model.diff.changed) {
        ChangedFile changed{std::move(file), {}, std::nullopt};
        const auto& d = changed.diff;
        if (d.error_a) {
            changed.errors.push_back(read_error("A", d.a, *d.error_a));
        }
        if (d.error_b) {
            changed.errors.push_back(read_error("B", d.b, *d.error_b));
        }
        const auto type = dat::file_type::of(d.id);
        if (hooks && type && !d.unreadable()) {
            auto a_rows = side_rows(*a, d.id, *type, "A", buffer);
            auto b_rows = side_rows(*b, d.id, *type, "B", buffer);
            if (!a_rows) {
                changed.errors.push_back(std::move(a_rows.error()));
            }
            if (!b_rows) {
                changed.errors.push_back(std::move(b_rows.error()));
            }
            if (a_rows && b_rows) {
                changed.hooks = hook_changes(*type, std::move(*a_rows), std::move(*b_rows));
            }
        }
        model.changed.push_back(std::move(changed));
    }
    model.diff.changed.clear();
    return model;
}

// A header value as text: ids (magic, master_map_id) in hex as `info` shows them, the version
// string as upper-case hex, other fields in decimal.
std::string header_value_text(std::string_view field,
                              const std::variant<std::uint32_t, std::vector<std::uint8_t>>& value) {
    if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value)) {
        return common::hex_bytes(*bytes, common::LetterCase::Upper);
    }
    const auto word = std::get<std::uint32_t>(value);
    return field == "magic" || field == "master_map_id" ? id_text(word) : std::to_string(word);
}

Json header_value_json(const std::variant<std::uint32_t, std::vector<std::uint8_t>>& value) {
    if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value)) {
        return Json::string(common::hex_bytes(*bytes, common::LetterCase::Upper));
    }
    return Json::number(std::get<std::uint32_t>(value));
}

std::string place_text(const HookChange& change) {
    switch (change.type) {
    case FileType::Animation:
        return "frame " + std::to_string(change.place) + " #" + std::to_string(change.index);
    case FileType::SetupModel:
        return "placement " + std::to_string(change.place) + " #" + std::to_string(change.index);
    case FileType::PhysicsScript:
        break;
    }
    return "entry " + std::to_string(change.place);
}

// One side of a hook difference: the hook as `hooks` prints it, a script entry's start time
// first (its place there).
std::string side_text(const HookRow& row) {
    if (row.located.start_time) {
        return location_text(row.located) + "  " + hook_text(row);
    }
    return hook_text(row);
}

std::string hook_change_text(const HookChange& change) {
    std::string text = "hook " + place_text(change);
    if (change.a && change.b) {
        return text + " changed: " + side_text(*change.a) + " -> " + side_text(*change.b);
    }
    if (change.b) {
        return text + " added: " + side_text(*change.b);
    }
    return text + " removed: " + side_text(*change.a);
}

std::string changed_text(const ChangedFile& file) {
    const auto& d = file.diff;
    const std::string head = "~ " + id_text(d.id) + " ";
    std::string text;
    const auto line = [&](const std::string& what) { text += head + what + "\n"; };
    const auto field = [&](std::string_view name, std::uint32_t a, std::uint32_t b) {
        line(std::string(name) + " " + std::to_string(a) + " -> " + std::to_string(b));
    };
    if (d.contents) {
        line("contents " + std::to_string(d.content_size_a.value_or(0)) + " -> " +
             std::to_string(d.content_size_b.value_or(0)) + " bytes");
    } else if (d.stored) {
        line("stored " + std::to_string(d.a.size) + " -> " + std::to_string(d.b.size) +
             " bytes, same contents");
    }
    if (d.bit_flags_differ()) {
        field("bit_flags", d.a.bit_flags, d.b.bit_flags);
    }
    if (d.timestamp_differs()) {
        field("timestamp", d.a.timestamp, d.b.timestamp);
    }
    if (d.version_differs()) {
        field("version", d.a.version, d.b.version);
    }
    for (const auto& error : file.errors) {
        line(error);
    }
    if (file.hooks) {
        for (const auto& change : *file.hooks) {
            line(hook_change_text(change));
        }
    }
    return text;
}

std::string only_text(char sign, const DatFileEntry& entry) {
    return std::string(1, sign) + " " + id_text(entry.id) + " " + type_name(entry.id) + " " +
           std::to_string(entry.size) + " bytes\n";
}

std::string summary_text(const DiffModel& model) {
    return "same " + std::to_string(model.diff.same) + ", changed " +
           std::to_string(model.changed.size()) + ", only in A " +
           std::to_string(model.diff.only_in_a.size()) + ", only in B " +
           std::to_string(model.diff.only_in_b.size()) + "\n";
}

std::string render_text(const DiffModel& model) {
    std::string text;
    for (const auto& header : model.diff.header) {
        text += "header " + std::string(header.field) + " " +
                header_value_text(header.field, header.a) + " -> " +
                header_value_text(header.field, header.b) + "\n";
    }
    if (model.diff.preamble) {
        text += "preamble differs\n";
    }
    // The three lists are each in ascending id order; merged, one id's lines stay together.
    const auto& only_a = model.diff.only_in_a;
    const auto& only_b = model.diff.only_in_b;
    std::size_t ia = 0;
    std::size_t ib = 0;
    std::size_t ic = 0;
    constexpr std::uint64_t kEnd = std::uint64_t{1} << 32;
    for (;;) {
        const std::uint64_t a = ia < only_a.size() ? only_a[ia].id : kEnd;
        const std::uint64_t b = ib < only_b.size() ? only_b[ib].id : kEnd;
        const std::uint64_t c = ic < model.changed.size() ? model.changed[ic].diff.id : kEnd;
        const auto next = std::min({a, b, c});
        if (next == kEnd) {
            break;
        }
        if (next == a) {
            text += only_text('-', only_a[ia++]);
        } else if (next == b) {
            text += only_text('+', only_b[ib++]);
        } else {
            text += changed_text(model.changed[ic++]);
        }
    }
    return text + summary_text(model);
}

Json pair_json(std::uint64_t a, std::uint64_t b) {
    auto pair = Json::array();
    pair.push(Json::number(a));
    pair.push(Json::number(b));
    return pair;
}

Json hook_change_json(const HookChange& change) {
    auto item = Json::object();
    item.set("change", Json::string(change.a && change.b ? "changed"
                                    : change.b           ? "added"
                                                         : "removed"));
    switch (change.type) {
    case FileType::Animation:
        item.set("frame", Json::number(change.place)).set("index", Json::number(change.index));
        break;
    case FileType::SetupModel:
        item.set("placement", Json::number(change.place)).set("index", Json::number(change.index));
        break;
    case FileType::PhysicsScript:
        item.set("entry", Json::number(change.place));
        break;
    }
    item.set("a", change.a ? hook_json(*change.a) : Json())
        .set("b", change.b ? hook_json(*change.b) : Json());
    return item;
}

Json changed_json(const ChangedFile& file) {
    const auto& d = file.diff;
    auto fields = Json::object();
    if (d.bit_flags_differ()) {
        fields.set("bit_flags", pair_json(d.a.bit_flags, d.b.bit_flags));
    }
    if (d.timestamp_differs()) {
        fields.set("timestamp", pair_json(d.a.timestamp, d.b.timestamp));
    }
    if (d.version_differs()) {
        fields.set("version", pair_json(d.a.version, d.b.version));
    }
    std::string errors;
    for (const auto& error : file.errors) {
        errors += (errors.empty() ? "" : "; ") + error;
    }
    Json hooks;
    if (file.hooks) {
        hooks = Json::array();
        for (const auto& change : *file.hooks) {
            hooks.push(hook_change_json(change));
        }
    }
    auto item = Json::object();
    item.set("id", Json::string(id_text(d.id)))
        .set("file_type", Json::string(type_name(d.id)))
        .set("contents", Json::boolean(d.contents))
        .set("stored", Json::boolean(d.stored))
        .set("fields", std::move(fields))
        .set("stored_size", pair_json(d.a.size, d.b.size))
        .set("content_size", d.content_size_a && d.content_size_b
                                 ? pair_json(*d.content_size_a, *d.content_size_b)
                                 : Json())
        .set("error", errors.empty() ? Json() : Json::string(errors))
        .set("hooks", std::move(hooks));
    return item;
}

Json only_json(const std::vector<DatFileEntry>& entries) {
    auto list = Json::array();
    for (const auto& entry : entries) {
        auto item = Json::object();
        item.set("id", Json::string(id_text(entry.id)))
            .set("file_type", Json::string(type_name(entry.id)))
            .set("size", Json::number(entry.size));
        list.push(std::move(item));
    }
    return list;
}

std::string render_json(const DiffModel& model) {
    auto header = Json::array();
    for (const auto& difference : model.diff.header) {
        auto item = Json::object();
        item.set("field", Json::string(difference.field))
            .set("a", header_value_json(difference.a))
            .set("b", header_value_json(difference.b));
        header.push(std::move(item));
    }
    auto changed = Json::array();
    for (const auto& file : model.changed) {
        changed.push(changed_json(file));
    }
    auto summary = Json::object();
    summary.set("same", Json::number(model.diff.same))
        .set("changed", Json::number(model.changed.size()))
        .set("only_in_a", Json::number(model.diff.only_in_a.size()))
        .set("only_in_b", Json::number(model.diff.only_in_b.size()));
    auto doc = Json::object();
    doc.set("a", Json::string(model.a_path))
        .set("b", Json::string(model.b_path))
        .set("header", std::move(header))
        .set("preamble", Json::boolean(model.diff.preamble))
        .set("only_in_a", only_json(model.diff.only_in_a))
        .set("only_in_b", only_json(model.diff.only_in_b))
        .set("changed", std::move(changed))
        .set("summary", std::move(summary));
    return doc.dump();
}

// Exit statuses as cmp and diff give them.
constexpr int kExitSame = 0;
constexpr int kExitDifferent = 1;
constexpr int kExitTrouble = 2;

int run_diff(const Arguments& args, const Streams& streams) {
    const auto model = gather(args);
    if (!model) {
        streams.err << "error: " << model.error() << "\n";
        return kExitTrouble;
    }
    const bool differ = !model->diff.empty() || !model->changed.empty();
    if (emit(streams, args.has("--json") ? render_json(*model) : render_text(*model)) != kExitOk) {
        return kExitTrouble;
    }
    return differ ? kExitDifferent : kExitSame;
}

constexpr ArgumentSpec kArguments[] = {{"A"}, {"B"}};
constexpr OptionSpec kOptions[] = {
    {.name = "--json"},
    {.name = "--hooks"},
    {.name = "--type", .takes_value = true, .check = check_type_byte},
};

} // namespace

constinit const Command kDiffCommand{
    .name = "diff",
    .synopsis = "quillmere-dat diff A B [--json] [--hooks] [--type HEX]",
    .outline = "diff A B [--hooks]",
    .summary = "what differs between two archives",
    .description =
        "Compares archive A with archive B: the header fields that describe content (all but\n"
        "file_size, root_offset and the free list), the 320 bytes before the header, which files\n"
        "each holds, and for a file in both its contents (as cat gives them), whether its stored\n"
        "bytes differ (the same contents compressed differently), its bit_flags, timestamp and\n"
        "version. Where files and directory nodes lie is no difference: an archive and its\n"
        "repacked copy compare equal. One line per difference, files in ascending id order:\n"
        "\n"
        "  header game_version 45 -> 46\n"
        "  preamble differs\n"
        "  - 0x06000002 0x06 120 bytes                only in A (type, stored size)\n"
        "  + 0x03000005 animation 1234 bytes          only in B\n"
        "  ~ 0x0A000001 contents 1234 -> 1240 bytes   in both, contents differ\n"
        "  ~ 0x01000001 stored 300 -> 310 bytes, same contents\n"
        "  ~ 0x0A000001 timestamp 5 -> 7              one line per changed field\n"
        "  ~ 0x33000002 in A: cannot read 0x33000002 at offset 2816: ...\n"
        "\n"
        "then 'same N, changed N, only in A N, only in B N'. A file that cannot be read in either\n"
        "archive counts as changed, with the error.\n"
        "\n"
        "  --hooks      for each changed animation, setup model and physics script, each hook\n"
        "               added, removed or changed: '~ ID hook frame 3 #0 changed: A -> B' (also\n"
        "               'placement KEY #I', 'entry I'), the hooks as the hooks command prints\n"
        "               them. Hooks are matched by place (frame index, placement key, script\n"
        "               entry index) and index within it. A file either side's decoder refuses\n"
        "               is reported with the decoder's error.\n"
        "  --type HEX   only files whose id has this top byte (the header is still compared)\n"
        "  --json       one JSON document: {a, b, header, preamble, only_in_a, only_in_b,\n"
        "               changed, summary}\n"
        "\n"
        "Exit status as for cmp: 0 when nothing differs, 1 when something does, 2 when an archive\n"
        "cannot be read or the command line cannot be run.\n",
    .arguments = kArguments,
    .options = kOptions,
    .run = run_diff,
};

} // namespace quillmere::dat_tool
