// Reading lists of file ids.
#include "id_lists.hpp"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unordered_set>

namespace quillmere::dat_tool {
namespace {

constexpr std::string_view kBlank = " \t\r\v\f";

} // namespace

Gathered<std::vector<std::uint32_t>> read_id_list(std::istream& in, const std::string& shown) {
    std::vector<std::uint32_t> ids;
    std::string line;
    for (std::size_t number = 1; std::getline(in, line); ++number) {
        std::string_view text(line);
        text = text.substr(0, text.find('#'));
        const auto start = text.find_first_not_of(kBlank);
        if (start == std::string_view::npos) {
            continue;
        }
        text.remove_prefix(start);
        const std::string_view word = text.substr(0, text.find_first_of(kBlank));
        const auto id = parse_file_id(word);
        if (!id) {
            return std::unexpected(shown + ":" + std::to_string(number) + ": invalid file id '" +
                                   std::string(word.substr(0, 40)) + "'");
        }
        ids.push_back(*id);
    }
    if (in.bad()) {
        return std::unexpected("cannot read " + shown);
    }
    return ids;
}

Gathered<std::vector<std::uint32_t>> ids_of(std::span<const std::string> given,
                                            const Arguments& args, std::istream* standard_input) {
    std::vector<std::uint32_t> ids;
    for (const std::string& text : given) {
        ids.push_back(parse_file_id(text).value_or(0));
    }
    if (const auto from = args.value("--ids-from")) {
        Gathered<std::vector<std::uint32_t>> listed;
        if (*from == "-" && standard_input == nullptr) {
            return std::unexpected(std::string("cannot read standard input"));
        }
        if (*from == "-") {
            listed = read_id_list(*standard_input, "standard input");
        } else {
            std::error_code ec;
            if (std::filesystem::is_directory(std::string(*from), ec)) {
                return std::unexpected("cannot read " + std::string(*from) + ": Is a directory");
            }
            std::ifstream file{std::string(*from)};
            if (!file) {
                return std::unexpected("cannot read " + std::string(*from) +
                                       ": No such file or directory");
            }
            listed = read_id_list(file, std::string(*from));
        }
        if (!listed) {
            return std::unexpected(std::move(listed.error()));
        }
        ids.insert(ids.end(), listed->begin(), listed->end());
    }
    if (ids.empty()) {
        return std::unexpected("no file id given (as ID arguments or with --ids-from)");
    }
    std::unordered_set<std::uint32_t> seen;
    std::erase_if(ids, [&](std::uint32_t id) { return !seen.insert(id).second; });
    return ids;
}

} // namespace quillmere::dat_tool
