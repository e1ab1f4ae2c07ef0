// The parsed arguments a command is handed, the output helpers every command reports through,
// and the values the command line takes.
#include "command.hpp"

#include "quillmere/common/text.hpp"
#include "quillmere/dat/file_type/file_type.hpp"

#include <algorithm>
#include <ostream>

namespace quillmere::dat_tool {

bool Arguments::has(std::string_view name) const {
    for (const auto& option : options_) {
        if (option.name == name) {
            return true;
        }
    }
    return false;
}

std::optional<std::string_view> Arguments::value(std::string_view name) const {
    std::optional<std::string_view> found;
    for (const auto& option : options_) {
        if (option.name == name) {
            found = option.value;
        }
    }
    return found;
}

std::vector<std::string_view> Arguments::values(std::string_view name) const {
    std::vector<std::string_view> found;
    for (const auto& option : options_) {
        if (option.name == name) {
            found.push_back(option.value);
        }
    }
    return found;
}

int emit(const Streams& streams, std::string_view text) {
    streams.out.write(text.data(), static_cast<std::streamsize>(text.size()));
    streams.out.flush();
    if (!streams.out) {
        return fail(streams, "cannot write to standard output");
    }
    return kExitOk;
}

int fail(const Streams& streams, std::string_view message) {
    streams.err << "error: " << message << "\n";
    if (streams.json) {
        streams.out << error_document("failure", message);
        streams.out.flush();
    }
    return kExitFailure;
}

std::string error_document(std::string_view kind, std::string_view message) {
    return "{\"error\": {\"kind\": " + common::json_quote(kind) +
           ", \"message\": " + common::json_quote(message) + "}}\n";
}

std::optional<std::uint32_t> parse_file_id(std::string_view text) noexcept {
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
    }
    return common::hex_digits_value(text);
}

std::string_view type_name(std::uint8_t type) noexcept {
    for (const auto& range : dat::file_type::kIdRanges) {
        if (range.first >> 24 == type) {
            return dat::file_type::name(range.type);
        }
    }
    return {};
}

// A type given by its name, its words joined by a blank or a '-'.
std::optional<std::uint8_t> type_named(std::string_view text) noexcept {
    for (const auto& range : dat::file_type::kIdRanges) {
        const std::string_view name = dat::file_type::name(range.type);
        const bool same = name.size() == text.size() &&
                          std::equal(name.begin(), name.end(), text.begin(), [](char a, char b) {
                              return a == b || (a == ' ' && b == '-');
                          });
        if (same) {
            return static_cast<std::uint8_t>(range.first >> 24);
        }
    }
    return std::nullopt;
}

std::optional<std::uint8_t> parse_type_byte(std::string_view text) noexcept {
    if (const auto named = type_named(text)) {
        return named;
    }
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

std::optional<std::string> check_file_id(std::string_view text) {
    if (parse_file_id(text)) {
        return std::nullopt;
    }
    return "invalid file id '" + std::string(text) +
           "' (expected up to eight hex digits, such as 0x03000001)";
}

std::optional<std::string> check_type_byte(std::string_view text) {
    if (parse_type_byte(text)) {
        return std::nullopt;
    }
    return "invalid file type '" + std::string(text) +
           "' (expected one or two hex digits, such as 03, or a name: animation, setup-model, "
           "physics-script)";
}

std::string id_text(std::uint32_t id) {
    return "0x" + common::hex8(id);
}

std::string type_text(std::uint8_t type) {
    // Two steps: GCC 12 warns falsely (-Wrestrict) on "0x" + std::string&& at some levels.
    std::string digits = common::hex8(type).substr(6);
    return "0x" + digits;
}

} // namespace quillmere::dat_tool
