// Tests of the command line in-process: argument parsing, usage errors, help and the one-line
// error form.
#include "archive_access.hpp"
#include "command_line.hpp"
#include "quillmere/common/decode_error.hpp"
#include "quillmere/testkit/temp_file.hpp"

#include <gtest/gtest.h>
#include <sstream>

namespace quillmere::dat_tool {
namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result run_args(std::vector<std::string> args, bool terminal = false) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = run(args, Streams{out, err, terminal});
    return {status, out.str(), err.str()};
}

TEST(CommandLineTest, FileIdsAreHexWithOrWithoutPrefix) {
    EXPECT_EQ(parse_file_id("0x03000001"), 0x03000001U);
    EXPECT_EQ(parse_file_id("0X330007db"), 0x330007DBU);
    EXPECT_EQ(parse_file_id("3000001"), 0x03000001U);
    EXPECT_EQ(parse_file_id("FFFFFFFF"), 0xFFFFFFFFU);
    EXPECT_EQ(parse_file_id("0"), 0U);
    for (const char* bad : {"", "0x", "123456789", "0x123456789", "03g", "-1", " 1", "0x+1"}) {
        EXPECT_EQ(parse_file_id(bad), std::nullopt) << bad;
    }
}

TEST(CommandLineTest, TypesAreOneOrTwoHexDigitsOrANameInfoPrints) {
    EXPECT_EQ(parse_type_byte("03"), 0x03);
    EXPECT_EQ(parse_type_byte("0x33"), 0x33);
    EXPECT_EQ(parse_type_byte("2"), 0x02);
    EXPECT_EQ(parse_type_byte("ff"), 0xFF);
    EXPECT_EQ(parse_type_byte("animation"), 0x03);
    for (const char* name : {"setup-model", "setup model"}) {
        EXPECT_EQ(parse_type_byte(name), 0x02) << name;
        EXPECT_EQ(type_name(0x02), "setup model");
    }
    EXPECT_EQ(parse_type_byte("physics-script"), 0x33);
    EXPECT_EQ(type_name(0x0A), "");
    for (const char* bad : {"", "0x", "003", "0x100", "zz", "Animation", "animations",
                            "physics-script-", "setup--model"}) {
        EXPECT_EQ(parse_type_byte(bad), std::nullopt) << bad;
    }
}

TEST(CommandLineTest, OneLineJoinsTheFieldContexts) {
    common::DecodeError error(common::IoError::unexpected_eof());
    error.add_context("While parsing field 'z' in Vector3", std::source_location::current());
    error.add_context("While parsing field 'origin' in Frame", std::source_location::current());
    EXPECT_EQ(error.one_line(), "failed to fill whole buffer; While parsing field 'z' in Vector3; "
                                "While parsing field 'origin' in Frame");
    EXPECT_EQ(one_line(dat::DatError(error)),
              "Binary read error: failed to fill whole buffer; While parsing field 'z' in "
              "Vector3; While parsing field 'origin' in Frame");
    EXPECT_EQ(common::DecodeError::custom(0x1c, "bad").one_line(), "bad at 0x1c");
    EXPECT_EQ(one_line(dat::DatError::not_found(0x03000009)),
              "File ID 03000009 not found in provider");
    EXPECT_EQ(one_line(dat::DatError::corruption("two\nlines")), "Corruption detected: two lines");
}

// Bad command lines exit with 2, say what is wrong on one line and show the synopsis.
TEST(CommandLineTest, BadCommandLinesAreUsageErrors) {
    struct Case {
        std::vector<std::string> args;
        std::string error;
    };
    std::vector<Case> cases = {
        {{}, "error: no command given\n"},
        {{"list", "a.dat"}, "error: unknown command 'list'\n"},
        {{"info"}, "error: missing ARCHIVE\n"},
        {{"cat", "a.dat"}, "error: missing ID\n"},
        {{"info", "a.dat", "b.dat"}, "error: unexpected argument 'b.dat'\n"},
        {{"hooks", "a.dat", "0xNOPE"},
         "error: invalid file id '0xNOPE' (expected up to eight hex digits, such as "
         "0x03000001)\n"},
        {{"cat", "a.dat", "1", "--json"}, "error: unknown option '--json' for 'cat'\n"},
        {{"hooks", "a.dat", "1", "--type", "03"}, "error: unknown option '--type' for 'hooks'\n"},
        {{"ls", "a.dat", "--type"}, "error: option '--type' needs a value\n"},
        {{"ls", "a.dat", "--type", "3", "--type=4"}, "error: option '--type' given twice\n"},
        {{"ls", "a.dat", "--type=300"},
         "error: invalid file type '300' (expected one or two hex digits, such as 03, or a name: "
         "animation, setup-model, physics-script)\n"},
        {{"ls", "a.dat", "--type=setup_model"},
         "error: invalid file type 'setup_model' (expected one or two hex digits, such as 03, or "
         "a name: animation, setup-model, physics-script)\n"},
        {{"info", "-x", "a.dat"}, "error: unknown option '-x' for 'info'\n"},
        {{"verify"}, "error: missing ARCHIVE\n"},
        {{"verify", "a.dat", "--max-problems"}, "error: option '--max-problems' needs a value\n"},
    };
    for (const char* count : {"", "-1", "+1", "ten", "1e3", "0x10", "18446744073709551616"}) {
        cases.push_back({{"verify", "a.dat", "--max-problems", count},
                         "error: invalid problem count '" + std::string(count) +
                             "' (expected a whole number from 0 up, such as 1000)\n"});
    }
    for (const auto& c : cases) {
        const auto result = run_args(c.args);
        EXPECT_EQ(result.status, kExitUsage);
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(result.err.starts_with(c.error)) << result.err;
        EXPECT_NE(result.err.find("\nusage: quillmere-dat "), std::string::npos) << result.err;
    }
}

// The parser serves any command's description, not only today's: repeatable options with values,
// flags, checks on every value, and the options handed over in the order given.
TEST(CommandLineTest, ParserFollowsTheCommandsDescription) {
    constexpr ArgumentSpec arguments[] = {{"IN"}, {"OUT"}};
    constexpr OptionSpec options[] = {
        {.name = "--put", .takes_value = true, .repeatable = true},
        {.name = "--delete", .takes_value = true, .repeatable = true, .check = check_file_id},
        {.name = "--compress"},
    };
    const Command repack{.name = "repack", .arguments = arguments, .options = options};
    const auto parse = [&](std::vector<std::string> args) { return parse_arguments(repack, args); };

    const auto parsed = parse({"--put", "1=a", "in.dat", "--delete=2", "--compress", "out.dat",
                               "--put=3=b", "--compress"});
    ASSERT_TRUE(parsed) << parsed.error();
    EXPECT_EQ(parsed->positional(0), "in.dat");
    EXPECT_EQ(parsed->positional(1), "out.dat");
    EXPECT_EQ(parsed->values("--put"), (std::vector<std::string_view>{"1=a", "3=b"}));
    EXPECT_EQ(parsed->value("--put"), "3=b");
    EXPECT_EQ(parsed->value("--delete"), "2");
    EXPECT_TRUE(parsed->has("--compress"));
    std::vector<std::string> given;
    for (const auto& option : parsed->options()) {
        given.push_back(std::string(option.name) + "=" + option.value);
    }
    EXPECT_EQ(given, (std::vector<std::string>{"--put=1=a", "--delete=2",
                                               "--compress=", "--put=3=b", "--compress="}));
    const auto bare = parse({"in.dat", "out.dat"});
    ASSERT_TRUE(bare);
    EXPECT_FALSE(bare->has("--compress"));
    EXPECT_EQ(bare->value("--put"), std::nullopt);

    const std::pair<std::vector<std::string>, std::string> failures[] = {
        {{"in.dat"}, "missing OUT"},
        {{"in.dat", "out.dat", "--compress=yes"}, "unknown option '--compress=yes' for 'repack'"},
        {{"in.dat", "out.dat", "--delete", "1", "--delete", "zz"},
         "invalid file id 'zz' (expected up to eight hex digits, such as 0x03000001)"},
        {{"in.dat", "out.dat", "--put"}, "option '--put' needs a value"},
    };
    for (const auto& [args, error] : failures) {
        const auto result = parse(args);
        ASSERT_FALSE(result) << error;
        EXPECT_EQ(result.error(), error);
    }
}

TEST(CommandLineTest, CatRefusesToWriteToATerminal) {
    const auto result = run_args({"cat", "missing.dat", "0x01000001"}, true);
    EXPECT_EQ(result.status, kExitUsage);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(result.err.starts_with("error: refusing to write binary data to a terminal"));
    // The other commands print text and do not mind a terminal.
    EXPECT_EQ(run_args({"ls", "missing.dat"}, true).status, kExitFailure);
}

TEST(CommandLineTest, HelpIsPrintedForTheProgramAndEachCommand) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"help"}}) {
        const auto result = run_args(args);
        EXPECT_EQ(result.status, kExitOk);
        EXPECT_TRUE(result.out.starts_with(
            "quillmere-dat: look inside a portal archive, test it, change it."));
        EXPECT_EQ(result.err, "");
    }
    for (const std::string command : {"info", "ls", "cat", "hooks", "verify"}) {
        // Help wins over a bad line, even when asked for last.
        for (const auto& args : std::vector<std::vector<std::string>>{
                 {command, "--help"}, {command, "--bogus", "-h"}, {"help", command}}) {
            const auto result = run_args(args);
            EXPECT_EQ(result.status, kExitOk) << command;
            EXPECT_TRUE(result.out.starts_with("usage: quillmere-dat " + command + " ARCHIVE"))
                << result.out;
        }
    }
    const auto version = run_args({"--version"});
    EXPECT_EQ(version.status, kExitOk);
    EXPECT_TRUE(version.out.starts_with("quillmere-dat ")) << version.out;
    // After "--" a "--help" is an argument like any other.
    EXPECT_EQ(run_args({"info", "--", "--help"}).status, kExitFailure);
}

TEST(CommandLineTest, OptionsMayComeAnywhereAndDashDashEndsThem) {
    testkit::TempDir dir("inspect-args");
    const auto path = (dir.path() / "-odd.dat").string();
    // "--" lets an archive whose name starts with a dash through; it does not exist, so the
    // command fails on the lookup rather than on the line.
    const auto result = run_args({"ls", "--json", "--", path});
    EXPECT_EQ(result.status, kExitFailure);
    EXPECT_EQ(result.err,
              "error: Failed to open file at " + path + ": No such file or directory\n");
}

} // namespace
} // namespace quillmere::dat_tool
