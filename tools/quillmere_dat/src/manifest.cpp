// Writing and reading manifest.json, the directory fields of an extracted archive.
#include "manifest.hpp"

#include "json.hpp"
#include "json_reader.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/common/try.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <unordered_map>

namespace quillmere::dat_tool {
namespace {

using dat::DatHeader;

// The header fields a manifest keeps, in file order; the one without a member pointer is
// `version_string`.
struct HeaderField {
    std::string_view name;
    std::uint32_t DatHeader::*word = nullptr;
};

constexpr std::array<HeaderField, 12> kHeaderFields = {{
    {"magic", &DatHeader::magic},
    {"block_size", &DatHeader::block_size},
    {"dataset", &DatHeader::dataset},
    {"subset", &DatHeader::subset},
    {"new_lru", &DatHeader::new_lru},
    {"old_lru", &DatHeader::old_lru},
    {"use_lru", &DatHeader::use_lru},
    {"master_map_id", &DatHeader::master_map_id},
    {"engine_version", &DatHeader::engine_version},
    {"game_version", &DatHeader::game_version},
    {"version_string", nullptr},
    {"version_minor", &DatHeader::version_minor},
}};

constexpr std::array<std::string_view, 4> kFileFields = {"id", "bit_flags", "timestamp", "version"};

constexpr std::size_t kVersionStringBytes = 16;

std::unexpected<std::string> error_at(const std::string& what, std::size_t at) {
    return std::unexpected(what + " at byte " + std::to_string(at));
}

std::string quoted_name(std::string_view name) {
    // Member names come from the document: shown JSON-escaped, and only the start of a long one.
    constexpr std::size_t kShown = 40;
    return "'" + common::json_escape(name.substr(0, kShown)) + (name.size() > kShown ? "..." : "") +
           "'";
}

// The index of `name` in `names`, if it is one of them.
template <class Names, class Name>
std::optional<std::size_t> find_name(const Names& names, std::string_view name, Name name_of) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (name_of(names[i]) == name) {
            return i;
        }
    }
    return std::nullopt;
}

// A string of exactly `count` bytes as hex digits; `name` for the error.
Gathered<std::vector<std::uint8_t>> read_hex_bytes(JsonReader& reader, std::size_t count,
                                                   std::string_view name) {
    const std::size_t at = reader.offset();
    QM_TRY(const std::string text, reader.read_string());
    std::vector<std::uint8_t> bytes;
    if (text.size() == 2 * count) {
        for (std::size_t i = 0; i < text.size(); i += 2) {
            const auto byte = common::hex_digits_value(std::string_view(text).substr(i, 2));
            if (!byte) {
                break;
            }
            bytes.push_back(static_cast<std::uint8_t>(*byte));
        }
    }
    if (bytes.size() != count) {
        return error_at(std::string(name) + " is not " + std::to_string(2 * count) + " hex digits",
                        at);
    }
    return bytes;
}

Gathered<std::vector<std::uint8_t>> read_version_string(JsonReader& reader) {
    return read_hex_bytes(reader, kVersionStringBytes, "version_string");
}

Gathered<DatHeader> read_header(JsonReader& reader) {
    const std::size_t start = reader.offset();
    QM_TRY_VOID(reader.begin_object());
    DatHeader header;
    std::array<bool, kHeaderFields.size()> seen{};
    while (true) {
        QM_TRY(const auto name, reader.next_member());
        if (!name) {
            break;
        }
        const std::size_t at = reader.offset();
        const auto index = find_name(kHeaderFields, *name, [](const auto& f) { return f.name; });
        if (!index) {
            return error_at("unknown header field " + quoted_name(*name), at);
        }
        if (seen[*index]) {
            return error_at("header field " + quoted_name(*name) + " given twice", at);
        }
        seen[*index] = true;
        if (const auto word = kHeaderFields[*index].word) {
            QM_TRY(header.*word, reader.read_u32());
        } else {
            QM_TRY(header.version_string, read_version_string(reader));
        }
    }
    for (std::size_t i = 0; i < seen.size(); ++i) {
        if (!seen[i]) {
            return error_at("header field " + quoted_name(kHeaderFields[i].name) + " is missing",
                            start);
        }
    }
    return header;
}

Gathered<ManifestFile> read_file(JsonReader& reader) {
    const std::size_t start = reader.offset();
    QM_TRY_VOID(reader.begin_object());
    ManifestFile file;
    std::array<bool, kFileFields.size()> seen{};
    while (true) {
        QM_TRY(const auto name, reader.next_member());
        if (!name) {
            break;
        }
        const std::size_t at = reader.offset();
        const auto index = find_name(kFileFields, *name, [](std::string_view f) { return f; });
        if (!index) {
            return error_at("unknown file field " + quoted_name(*name), at);
        }
        if (seen[*index]) {
            return error_at("file field " + quoted_name(*name) + " given twice", at);
        }
        seen[*index] = true;
        if (*index == 0) {
            QM_TRY(const std::string id, reader.read_string());
            const auto value = id.size() == 10 && (id.starts_with("0x") || id.starts_with("0X"))
                                   ? common::hex_digits_value(std::string_view(id).substr(2))
                                   : std::nullopt;
            if (!value) {
                return error_at("malformed file id (expected \"0x\" and eight hex digits)", at);
            }
            file.id = *value;
        } else {
            std::uint32_t ManifestFile::*const words[] = {
                &ManifestFile::bit_flags, &ManifestFile::timestamp, &ManifestFile::version};
            QM_TRY(file.*words[*index - 1], reader.read_u32());
        }
    }
    for (std::size_t i = 0; i < seen.size(); ++i) {
        if (!seen[i]) {
            return error_at("file field " + quoted_name(kFileFields[i]) + " is missing", start);
        }
    }
    return file;
}

Gathered<std::vector<ManifestFile>> read_files(JsonReader& reader) {
    QM_TRY_VOID(reader.begin_array());
    std::vector<ManifestFile> files;
    // Where each id was listed first.
    std::unordered_map<std::uint32_t, std::size_t> listed;
    while (true) {
        QM_TRY(const bool more, reader.next_element());
        if (!more) {
            return files;
        }
        const std::size_t at = reader.offset();
        QM_TRY(const ManifestFile file, read_file(reader));
        const auto [first, added] = listed.emplace(file.id, at);
        if (!added) {
            return error_at("file " + id_text(file.id) + " listed again (first at byte " +
                                std::to_string(first->second) + ")",
                            at);
        }
        files.push_back(file);
    }
}

Gathered<void> check_format_value(std::uint32_t format, std::size_t at) {
    if (format < kOldestManifestFormat || format > kManifestFormat) {
        return error_at("format " + std::to_string(format) +
                            " is not supported (this quillmere-dat reads formats " +
                            std::to_string(kOldestManifestFormat) + " to " +
                            std::to_string(kManifestFormat) + ")",
                        at);
    }
    return {};
}

// The format comes first: nothing else of a manifest can be understood without it, wherever
// it stands in the document. This pass also checks the whole document's syntax; it is only
// needed when "format" is not the first member. Gives the format.
Gathered<std::uint32_t> check_format(std::string_view text) {
    JsonReader reader(text);
    const std::size_t start = reader.offset();
    QM_TRY_VOID(reader.begin_object());
    std::optional<std::size_t> format_at;
    std::uint32_t format = 0;
    while (true) {
        QM_TRY(const auto name, reader.next_member());
        if (!name) {
            break;
        }
        if (*name != "format") {
            QM_TRY_VOID(reader.skip_value());
            continue;
        }
        const std::size_t at = reader.offset();
        if (format_at) {
            return error_at("member 'format' given twice", at);
        }
        format_at = at;
        QM_TRY(format, reader.read_u32());
    }
    QM_TRY_VOID(reader.finish());
    if (!format_at) {
        return error_at("member 'format' is missing", start);
    }
    QM_TRY_VOID(check_format_value(format, *format_at));
    return format;
}

Json header_json(const DatHeader& header) {
    Json object = Json::object();
    for (const HeaderField& field : kHeaderFields) {
        if (field.word != nullptr) {
            object.set(field.name, Json::number(header.*field.word));
        } else {
            std::vector<std::uint8_t> bytes = header.version_string;
            bytes.resize(kVersionStringBytes);
            object.set(field.name,
                       Json::string(common::hex_bytes(bytes, common::LetterCase::Upper)));
        }
    }
    return object;
}

Json file_json(const ManifestFile& file) {
    Json object = Json::object();
    object.set("id", Json::string(id_text(file.id)));
    object.set("bit_flags", Json::number(file.bit_flags));
    object.set("timestamp", Json::number(file.timestamp));
    object.set("version", Json::number(file.version));
    return object;
}

} // namespace

std::string render_manifest(const Manifest& manifest) {
    // The writer's layout is the manifest's: the document's members and the header's fields
    // one per line, each file on a line of its own.
    Json files = Json::array();
    for (const ManifestFile& file : manifest.files) {
        files.push(file_json(file));
    }
    Json document = Json::object();
    document.set("format", Json::number(kManifestFormat));
    document.set("preamble",
                 Json::string(common::hex_bytes(manifest.preamble, common::LetterCase::Upper)));
    document.set("header", header_json(manifest.header));
    document.set("files", std::move(files));
    return document.dump();
}

Gathered<Manifest> read_manifest(std::string_view text) {
    JsonReader reader(text);
    const std::size_t start = reader.offset();
    QM_TRY_VOID(reader.begin_object());
    // With "format" first, as extract writes it, one pass reads everything; otherwise a first
    // pass finds the format before anything else is judged.
    QM_TRY(auto name, reader.next_member());
    const bool format_first = name == "format";
    std::uint32_t format = 0;
    if (format_first) {
        const std::size_t at = reader.offset();
        QM_TRY(format, reader.read_u32());
        QM_TRY_VOID(check_format_value(format, at));
        QM_TRY(name, reader.next_member());
    } else {
        QM_TRY(format, check_format(text));
    }
    // Format 1 has no preamble: the bytes before the header are zeros.
    const bool has_preamble = format >= 2;
    std::optional<DatHeader> header;
    std::optional<std::vector<ManifestFile>> files;
    std::optional<std::vector<std::uint8_t>> preamble;
    while (name) {
        const std::size_t at = reader.offset();
        if (*name == "format" && !format_first) {
            QM_TRY_VOID(reader.skip_value());
        } else if (*name == "preamble" && has_preamble && !preamble) {
            QM_TRY(preamble, read_hex_bytes(reader, dat::kPreambleSize, "preamble"));
        } else if (*name == "header" && !header) {
            QM_TRY(header, read_header(reader));
        } else if (*name == "files" && !files) {
            QM_TRY(files, read_files(reader));
        } else if (*name == "format" || *name == "header" || *name == "files" ||
                   (*name == "preamble" && has_preamble)) {
            return error_at("member " + quoted_name(*name) + " given twice", at);
        } else {
            return error_at("unknown member " + quoted_name(*name), at);
        }
        QM_TRY(name, reader.next_member());
    }
    QM_TRY_VOID(reader.finish());
    if (!header) {
        return error_at("member 'header' is missing", start);
    }
    if (!files) {
        return error_at("member 'files' is missing", start);
    }
    if (has_preamble && !preamble) {
        return error_at("member 'preamble' is missing", start);
    }
    Manifest manifest{std::move(*header), std::move(*files)};
    if (preamble) {
        std::copy(preamble->begin(), preamble->end(), manifest.preamble.begin());
    }
    return manifest;
}

std::string content_path(std::uint32_t id) {
    const std::string digits = common::hex8(id);
    return digits.substr(0, 2) + "/" + digits + ".bin";
}

} // namespace quillmere::dat_tool
