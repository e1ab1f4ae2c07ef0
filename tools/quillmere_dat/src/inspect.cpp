// The quillmere-dat command line: parsing, help, and the four commands (info, ls, cat, hooks).
#include "inspect.hpp"

#include "hook_listing.hpp"
#include "json.hpp"
#include "payload_fields.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/file_type/hook_payload.hpp"
#include "quillmere/tools/hook_type_names.hpp"

#include <algorithm>
#include <map>
#include <ostream>
#include <vector>

#ifndef QUILLMERE_VERSION
#define QUILLMERE_VERSION "unknown"
#endif

namespace quillmere::inspect {

using common::hex8;
using common::pad_left;
using common::pad_right;
using dat::DatDatabase;
using dat::DatError;

namespace {

constexpr std::string_view kProgram = "quillmere-dat";

constexpr std::string_view kMainHelp =
    "quillmere-dat: look inside a portal archive.\n"
    "\n"
    "usage: quillmere-dat COMMAND ARCHIVE [ID] [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  info ARCHIVE               header fields, number of entries, a summary per file type\n"
    "  ls ARCHIVE [--type HEX]    one line per file in ascending id order\n"
    "  cat ARCHIVE ID             a file's bytes, decompressed, to standard output\n"
    "  hooks ARCHIVE ID           the hooks of an animation, setup model or physics script\n"
    "\n"
    "options:\n"
    "  --json                     one JSON document instead of text (info, ls, hooks)\n"
    "  -h, --help                 this help, or after a command that command's help\n"
    "  --version                  the program's version\n"
    "\n"
    "File ids are hexadecimal, with or without 0x: 0x03000001 and 3000001 are the same id.\n"
    "Exit status: 0 on success, 1 when a lookup, read or decode fails (one 'error:' line on\n"
    "standard error), 2 for a command line that cannot be run.\n";

// One command: its name, how it is called, its help, what it takes, and what it does.
struct Invocation;
struct Command {
    std::string_view name;
    std::string_view synopsis;
    std::string_view help;
    bool takes_id;
    bool takes_type;
    bool takes_json;
    int (*run)(const Invocation&, const Streams&);
};

struct Invocation {
    const Command* command = nullptr;
    std::string archive;
    std::uint32_t id = 0;
    bool json = false;
    std::optional<std::uint8_t> type;
};

int usage_error(const Streams& streams, const Command* command, std::string_view message) {
    streams.err << "error: " << message << "\n";
    if (command != nullptr) {
        streams.err << "usage: " << command->synopsis << "\n";
    } else {
        streams.err << "usage: quillmere-dat COMMAND ARCHIVE [ID] [OPTIONS]; see "
                       "'quillmere-dat --help'\n";
    }
    return kExitUsage;
}

int failure(const Streams& streams, std::string_view message) {
    streams.err << "error: " << message << "\n";
    return kExitFailure;
}

// Writes `text` to standard output and reports a failed write (a full disk, a closed pipe).
int emit(const Streams& streams, std::string_view text) {
    streams.out.write(text.data(), static_cast<std::streamsize>(text.size()));
    streams.out.flush();
    if (!streams.out) {
        return failure(streams, "cannot write to standard output");
    }
    return kExitOk;
}

std::string type_text(std::uint8_t type) {
    std::string digits = common::hex8(type).substr(6);
    return "0x" + digits;
}

// The directory's entries in ascending id order (the map's own order is unspecified).
std::vector<const dat::DatFileEntry*> sorted_entries(const DatDatabase& db) {
    std::vector<const dat::DatFileEntry*> entries;
    entries.reserve(db.files().size());
    for (const auto& [id, entry] : db.files()) {
        entries.push_back(&entry);
    }
    std::sort(entries.begin(), entries.end(),
              [](const auto* a, const auto* b) { return a->id < b->id; });
    return entries;
}

// ---- info ------------------------------------------------------------------------------------

struct TypeSummary {
    std::uint64_t files = 0;
    std::uint64_t stored_bytes = 0;
    std::uint64_t compressed = 0;
};

int run_info(const Invocation& inv, const Streams& streams) {
    auto db = DatDatabase::open(inv.archive);
    if (!db) {
        return failure(streams, one_line(db.error()));
    }
    const auto& h = db->header();
    std::map<std::uint8_t, TypeSummary> types;
    for (const auto& [id, entry] : db->files()) {
        auto& summary = types[static_cast<std::uint8_t>(id >> 24)];
        ++summary.files;
        summary.stored_bytes += entry.size;
        summary.compressed += entry.is_compressed() ? 1U : 0U;
    }

    // The header's fields in file order; magic and master_map_id are ids, shown in hex in text.
    const std::pair<std::string_view, std::uint32_t> words[] = {
        {"magic", h.magic},
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
        {"master_map_id", h.master_map_id},
        {"engine_version", h.engine_version},
        {"game_version", h.game_version},
    };

    if (inv.json) {
        auto header = Json::object();
        for (const auto& [name, value] : words) {
            header.set(name, Json::number(value));
        }
        header.set("version_string",
                   Json::string(common::hex_bytes(h.version_string, common::LetterCase::Upper)));
        header.set("version_minor", Json::number(h.version_minor));
        auto type_list = Json::array();
        for (const auto& [type, summary] : types) {
            auto row = Json::object();
            row.set("type", Json::string(type_text(type)))
                .set("files", Json::number(summary.files))
                .set("stored_bytes", Json::number(summary.stored_bytes))
                .set("compressed", Json::number(summary.compressed));
            type_list.push(std::move(row));
        }
        auto doc = Json::object();
        doc.set("archive", Json::string(inv.archive))
            .set("header", std::move(header))
            .set("entries", Json::number(db->files().size()))
            .set("types", std::move(type_list));
        return emit(streams, doc.dump());
    }

    std::string text = "archive: " + inv.archive + "\n";
    for (const auto& [name, value] : words) {
        const bool hex = name == "magic" || name == "master_map_id";
        text +=
            std::string(name) + ": " + (hex ? "0x" + hex8(value) : std::to_string(value)) + "\n";
    }
    text +=
        "version_string: " + common::hex_bytes(h.version_string, common::LetterCase::Upper) + "\n";
    text += "version_minor: " + std::to_string(h.version_minor) + "\n";
    text += "entries: " + std::to_string(db->files().size()) + "\n";
    if (!types.empty()) {
        text += "\ntype  " + pad_left("files", 10) + "  " + pad_left("stored_bytes", 14) + "  " +
                pad_left("compressed", 10) + "\n";
        for (const auto& [type, summary] : types) {
            text += type_text(type) + "  " + pad_left(std::to_string(summary.files), 10) + "  " +
                    pad_left(std::to_string(summary.stored_bytes), 14) + "  " +
                    pad_left(std::to_string(summary.compressed), 10) + "\n";
        }
    }
    return emit(streams, text);
}

// ---- ls --------------------------------------------------------------------------------------

int run_ls(const Invocation& inv, const Streams& streams) {
    auto db = DatDatabase::open(inv.archive);
    if (!db) {
        return failure(streams, one_line(db.error()));
    }
    auto entries = sorted_entries(*db);
    if (inv.type) {
        std::erase_if(entries, [&](const auto* e) { return (e->id >> 24) != *inv.type; });
    }

    if (inv.json) {
        auto list = Json::array();
        for (const auto* e : entries) {
            auto row = Json::object();
            row.set("id", Json::string(id_text(e->id)))
                .set("size", Json::number(e->size))
                .set("compressed", Json::boolean(e->is_compressed()))
                .set("timestamp", Json::number(e->timestamp))
                .set("version", Json::number(e->version))
                .set("bit_flags", Json::number(e->bit_flags))
                .set("offset", Json::number(e->offset));
            list.push(std::move(row));
        }
        auto doc = Json::object();
        doc.set("archive", Json::string(inv.archive))
            .set("type", inv.type ? Json::string(type_text(*inv.type)) : Json())
            .set("count", Json::number(entries.size()))
            .set("entries", std::move(list));
        return emit(streams, doc.dump());
    }

    std::string text = pad_right("id", 10) + "  " + pad_left("stored", 10) + "  " +
                       pad_right("compressed", 10) + "  " + pad_left("timestamp", 10) + "  " +
                       pad_left("version", 10) + "\n";
    for (const auto* e : entries) {
        text += id_text(e->id) + "  " + pad_left(std::to_string(e->size), 10) + "  " +
                pad_right(e->is_compressed() ? "yes" : "no", 10) + "  " +
                pad_left(std::to_string(e->timestamp), 10) + "  " +
                pad_left(std::to_string(e->version), 10) + "\n";
    }
    return emit(streams, text);
}

// ---- cat -------------------------------------------------------------------------------------

int run_cat(const Invocation& inv, const Streams& streams) {
    auto db = DatDatabase::open(inv.archive);
    if (!db) {
        return failure(streams, one_line(db.error()));
    }
    auto bytes = db->get_file(inv.id);
    if (!bytes) {
        if (bytes.error().kind() == DatError::Kind::NotFound) {
            return failure(streams, one_line(bytes.error()));
        }
        return failure(streams, "cannot read " + id_text(inv.id) + ": " + one_line(bytes.error()));
    }
    return emit(streams,
                std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

// ---- hooks -----------------------------------------------------------------------------------

std::string location_text(const LocatedHook& located) {
    if (located.frame) {
        return "frame " + std::to_string(*located.frame);
    }
    if (located.placement) {
        return "placement " + std::to_string(*located.placement);
    }
    return "time " + common::float_text(located.start_time.value_or(0.0));
}

int run_hooks(const Invocation& inv, const Streams& streams) {
    auto db = DatDatabase::open(inv.archive);
    if (!db) {
        return failure(streams, one_line(db.error()));
    }
    if (!db->files().contains(inv.id)) {
        return failure(streams, DatError::not_found(inv.id).message());
    }
    const auto type = hook_file_type(inv.id);
    if (!type) {
        return failure(streams, id_text(inv.id) +
                                    " is not an animation (0x03......), setup model (0x02......) "
                                    "or physics script (0x33......)");
    }
    auto bytes = db->get_file(inv.id);
    if (!bytes) {
        return failure(streams, "cannot read " + id_text(inv.id) + ": " + one_line(bytes.error()));
    }
    auto listing = list_hooks(*type, *bytes);
    if (!listing) {
        const std::string_view article = *type == HookFileType::Animation ? "an " : "a ";
        return failure(streams, "cannot decode " + id_text(inv.id) + " as " + std::string(article) +
                                    std::string(type_label(*type)) + ": " +
                                    one_line(listing.error()));
    }

    // Decode every payload first, so a bad one fails the command before anything is printed.
    std::vector<std::vector<PayloadField>> fields;
    fields.reserve(listing->hooks.size());
    for (std::size_t i = 0; i < listing->hooks.size(); ++i) {
        auto payload = dat::file_type::setup_model::unpack_payload(listing->hooks[i].hook);
        if (!payload) {
            return failure(streams, "cannot decode the payload of hook " + std::to_string(i) +
                                        " of " + id_text(inv.id) + ": " +
                                        one_line(payload.error()));
        }
        fields.push_back(payload_fields(*payload));
    }

    const bool is_animation = listing->type == HookFileType::Animation;
    const bool is_setup = listing->type == HookFileType::SetupModel;
    const std::string_view groups_name =
        is_animation ? "frames" : (is_setup ? "placements" : "entries");

    if (inv.json) {
        auto hooks = Json::array();
        for (std::size_t i = 0; i < listing->hooks.size(); ++i) {
            const auto& located = listing->hooks[i];
            auto row = Json::object();
            if (located.frame) {
                row.set("frame", Json::number(*located.frame));
            } else if (located.placement) {
                row.set("placement", Json::number(*located.placement));
            } else {
                row.set("start_time", Json::number(located.start_time.value_or(0.0)));
            }
            row.set("hook_type", Json::number(located.hook.hook_type))
                .set("name", Json::string(tools::hook_type_name(located.hook.hook_type)))
                .set("direction", Json::number(located.hook.direction))
                .set("payload", fields_json(fields[i]))
                .set("data", Json::string(common::hex_bytes(located.hook.data)));
            hooks.push(std::move(row));
        }
        auto doc = Json::object();
        doc.set("archive", Json::string(inv.archive))
            .set("id", Json::string(id_text(inv.id)))
            .set("file_type", Json::string(type_label(listing->type)))
            .set("stored_id", Json::string(id_text(listing->stored_id)));
        if (!is_animation && !is_setup) {
            doc.set(groups_name, Json::number(listing->groups));
        } else {
            doc.set(groups_name, Json::number(listing->groups))
                .set("parts", Json::number(listing->parts));
        }
        doc.set("hook_count", Json::number(listing->hooks.size())).set("hooks", std::move(hooks));
        return emit(streams, doc.dump());
    }

    std::string text = id_text(inv.id) + " " + std::string(type_label(listing->type)) + "  " +
                       std::string(groups_name) + "=" + std::to_string(listing->groups);
    if (is_animation || is_setup) {
        text += " parts=" + std::to_string(listing->parts);
    }
    text += " hooks=" + std::to_string(listing->hooks.size());
    if (listing->stored_id != inv.id) {
        text += " stored_id=" + id_text(listing->stored_id);
    }
    text += "\n";
    for (std::size_t i = 0; i < listing->hooks.size(); ++i) {
        const auto& located = listing->hooks[i];
        text += location_text(located) + "  " +
                std::string(tools::hook_type_name(located.hook.hook_type)) + " (" +
                std::to_string(located.hook.hook_type) +
                ")  direction=" + std::to_string(located.hook.direction);
        if (!fields[i].empty()) {
            text += "  " + fields_text(fields[i]);
        }
        text += "\n";
    }
    return emit(streams, text);
}

// ---- the command table and the parser --------------------------------------------------------

constexpr Command kCommands[] = {
    {"info", "quillmere-dat info ARCHIVE [--json]",
     "usage: quillmere-dat info ARCHIVE [--json]\n"
     "\n"
     "Prints the archive's header fields (magic, block size, versions, the 16-byte version\n"
     "string as hex, ...), the number of directory entries and, per file type (the top byte of\n"
     "the id), how many files there are, how many bytes they take as stored and how many of\n"
     "them are compressed.\n"
     "\n"
     "  --json   one JSON document: {archive, header, entries, types}\n",
     false, false, true, run_info},
    {"ls", "quillmere-dat ls ARCHIVE [--type HEX] [--json]",
     "usage: quillmere-dat ls ARCHIVE [--type HEX] [--json]\n"
     "\n"
     "Lists the archive's files in ascending id order, one per line: the id, the stored size\n"
     "(for a compressed file the compressed size), whether it is compressed, its timestamp and\n"
     "its version.\n"
     "\n"
     "  --type HEX   only files whose id has this top byte (03 animations, 02 setup models,\n"
     "               33 physics scripts, ...)\n"
     "  --json       one JSON document: {archive, type, count, entries}\n",
     false, true, true, run_ls},
    {"cat", "quillmere-dat cat ARCHIVE ID",
     "usage: quillmere-dat cat ARCHIVE ID\n"
     "\n"
     "Writes the bytes of file ID to standard output, decompressed when the archive stores it\n"
     "compressed. Refuses to write to a terminal: redirect standard output to a file or a pipe.\n",
     true, false, false, run_cat},
    {"hooks", "quillmere-dat hooks ARCHIVE ID [--json]",
     "usage: quillmere-dat hooks ARCHIVE ID [--json]\n"
     "\n"
     "Decodes file ID as an animation (ids 0x03......), a setup model (0x02......) or a physics\n"
     "script (0x33......) and prints every hook where it sits (frame index, placement key or\n"
     "start time) with its type, direction and payload fields. File ids in payloads are shown\n"
     "as 0x and eight hex digits; ReplaceObject's packed part id is shown combined: the 16-bit\n"
     "word itself, or (upper & 0x7FFF) << 16 | lower when bit 15 of the upper word is set.\n"
     "\n"
     "  --json   one JSON document: {archive, id, file_type, stored_id, frames|placements|\n"
     "           entries, parts, hook_count, hooks}; each hook also carries its raw payload\n"
     "           bytes (padding included) as hex in \"data\"\n",
     true, false, true, run_hooks},
};

const Command* find_command(std::string_view name) {
    for (const auto& command : kCommands) {
        if (command.name == name) {
            return &command;
        }
    }
    return nullptr;
}

bool is_help(std::string_view arg) {
    return arg == "-h" || arg == "--help";
}

} // namespace

std::optional<std::uint32_t> parse_file_id(std::string_view text) noexcept {
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char c : text) {
        std::uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<std::uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value << 4 | digit;
    }
    return value;
}

std::optional<std::uint8_t> parse_type_byte(std::string_view text) noexcept {
    std::string_view digits = text;
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
        digits.remove_prefix(2);
    }
    if (digits.size() > 2) {
        return std::nullopt;
    }
    auto value = parse_file_id(digits);
    if (!value) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(*value);
}

std::string one_line(const common::DecodeError& error) {
    std::string out;
    if (const auto* io = error.io_error()) {
        out = io->message();
    } else if (const auto* custom = error.custom_error()) {
        out = custom->message + " at 0x" + common::hex_lower(custom->pos);
    }
    for (const auto& context : error.contexts()) {
        out += "; " + context.message;
    }
    return out;
}

std::string one_line(const DatError& error) {
    if (const auto* decode = error.decode_error()) {
        return "Binary read error: " + one_line(*decode);
    }
    std::string out = error.message();
    std::replace(out.begin(), out.end(), '\n', ' ');
    return out;
}

int run(std::span<const std::string> args, const Streams& streams) {
    if (args.empty()) {
        return usage_error(streams, nullptr, "no command given");
    }
    const std::string_view first = args[0];
    if (is_help(first) || first == "help") {
        if (first == "help" && args.size() > 1) {
            if (const auto* command = find_command(args[1])) {
                streams.out << command->help;
                return kExitOk;
            }
            return usage_error(streams, nullptr, "unknown command '" + args[1] + "'");
        }
        streams.out << kMainHelp;
        return kExitOk;
    }
    if (first == "--version") {
        streams.out << kProgram << " " << QUILLMERE_VERSION << "\n";
        return kExitOk;
    }
    const Command* command = find_command(first);
    if (command == nullptr) {
        return usage_error(streams, nullptr, "unknown command '" + std::string(first) + "'");
    }

    const auto rest = args.subspan(1);
    // Help wins over every other problem of the line, as long as it comes before "--".
    for (const auto& arg : rest) {
        if (arg == "--") {
            break;
        }
        if (is_help(arg)) {
            streams.out << command->help;
            return kExitOk;
        }
    }

    Invocation inv;
    inv.command = command;
    std::vector<std::string> positional;
    bool options_done = false;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const std::string& arg = rest[i];
        if (options_done || arg == "-" || !arg.starts_with("-")) {
            positional.push_back(arg);
        } else if (arg == "--") {
            options_done = true;
        } else if (arg == "--json" && command->takes_json) {
            inv.json = true;
        } else if ((arg == "--type" || arg.starts_with("--type=")) && command->takes_type) {
            std::string value;
            if (arg == "--type") {
                if (i + 1 == rest.size()) {
                    return usage_error(streams, command, "option '--type' needs a value");
                }
                value = rest[++i];
            } else {
                value = arg.substr(7);
            }
            if (inv.type) {
                return usage_error(streams, command, "option '--type' given twice");
            }
            inv.type = parse_type_byte(value);
            if (!inv.type) {
                return usage_error(streams, command,
                                   "invalid file type '" + value +
                                       "' (expected one or two hex digits, such as 03)");
            }
        } else {
            return usage_error(streams, command,
                               "unknown option '" + arg + "' for '" + std::string(command->name) +
                                   "'");
        }
    }

    const std::size_t wanted = command->takes_id ? 2 : 1;
    if (positional.empty()) {
        return usage_error(streams, command, "missing ARCHIVE");
    }
    if (positional.size() < wanted) {
        return usage_error(streams, command, "missing ID");
    }
    if (positional.size() > wanted) {
        return usage_error(streams, command, "unexpected argument '" + positional[wanted] + "'");
    }
    inv.archive = positional[0];
    if (command->takes_id) {
        const auto id = parse_file_id(positional[1]);
        if (!id) {
            return usage_error(streams, command,
                               "invalid file id '" + positional[1] +
                                   "' (expected up to eight hex digits, such as 0x03000001)");
        }
        inv.id = *id;
    }
    if (command->run == run_cat && streams.out_is_terminal) {
        return usage_error(streams, command,
                           "refusing to write binary data to a terminal; redirect standard "
                           "output to a file or a pipe");
    }
    return command->run(inv, streams);
}

} // namespace quillmere::inspect
