// The manual page and the completion script against the tool's own help: every command and every
// option the help names is completed, every option of the tables is named in its command's help,
// the script runs in bash, and man renders the page without a warning.
#include "command_line.hpp"
#include "manual.hpp"
#include "quillmere/testkit/process.hpp"
#include "quillmere/testkit/temp_file.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>

namespace quillmere::dat_tool {
namespace {

void write_text(const std::filesystem::path& path, const std::string& text) {
    testkit::write_file(path,
                        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::string help_of(std::vector<std::string> args) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(run(args, Streams{out, err}), kExitOk);
    return out.str();
}

// The "--option" and "-o" words of a text.
std::set<std::string> options_in(const std::string& text) {
    static const std::regex option("(^|[\\s\\[(,'|])(--?[a-z][a-z-]*)");
    std::set<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
         it != std::sregex_iterator(); ++it) {
        found.insert((*it)[2]);
    }
    return found;
}

// What the completion script offers after `words` (the last one being completed).
std::set<std::string> completed(const std::filesystem::path& script, const std::string& words) {
    const auto result = testkit::run_process(
        "/bin/bash",
        {"bash", "-c",
         "source '" + script.string() + "'; COMP_WORDS=(quillmere-dat " + words +
             "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _quillmere_dat; "
             "printf '%s\\n' \"${COMPREPLY[@]}\""},
        {"PATH=/usr/bin:/bin"});
    EXPECT_EQ(result.status, 0) << result.err;
    std::set<std::string> offered;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        offered.insert(line);
    }
    return offered;
}

TEST(ManualTest, CompletionOffersEveryCommandAndOptionOfTheHelp) {
    const testkit::TempDir dir("manual");
    const auto script = dir.path() / "quillmere-dat.bash";
    write_text(script, render_bash_completion());

    std::set<std::string> names = {"help", "--help", "--version"};
    for (const Command* command : commands()) {
        names.insert(std::string(command->name));
        EXPECT_NE(help_of({"--help"}).find("  " + std::string(command->name)), std::string::npos);

        std::set<std::string> in_table = {"--help"};
        for (const OptionSpec& option : command->options) {
            in_table.insert(std::string(option.name));
        }
        const std::string help = help_of({std::string(command->name), "--help"});
        std::set<std::string> in_help = options_in(help);
        in_help.insert("--help");
        EXPECT_EQ(in_help, in_table) << command->name;
        EXPECT_EQ(completed(script, std::string(command->name) + " -"), in_table) << command->name;
    }
    EXPECT_EQ(completed(script, "''"), names);
}

TEST(ManualTest, ManRendersThePageWithoutAWarning) {
    if (!std::filesystem::exists("/usr/bin/man")) {
        GTEST_SKIP() << "man is not installed";
    }
    const testkit::TempDir dir("manual");
    const auto page = dir.path() / "quillmere-dat.1";
    write_text(page, render_man_page());
    const auto result = testkit::run_process(
        "/bin/sh", {"sh", "-c", "man --warnings -l '" + page.string() + "' 2>&1 >/dev/null"},
        {"PATH=/usr/bin:/bin", "MANWIDTH=80", "LANG=C.UTF-8"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    const auto text =
        testkit::run_process("/bin/sh", {"sh", "-c", "man -l '" + page.string() + "'"},
                             {"PATH=/usr/bin:/bin", "MANWIDTH=80", "LANG=C.UTF-8"});
    for (const Command* command : commands()) {
        EXPECT_NE(text.out.find(std::string(command->synopsis).substr(0, 30)), std::string::npos)
            << command->name;
    }
}

} // namespace
} // namespace quillmere::dat_tool
