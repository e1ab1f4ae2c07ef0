// Command-line parsing: every rejection message, the order of validation, accepted forms.
#include "detail/options.hpp"

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace quillmere::case_runner::detail {
namespace {

EnvLookup environment(std::map<std::string, std::string> values = {}) {
    return [values](const std::string& name) -> std::optional<std::string> {
        const auto found = values.find(name);
        if (found == values.end()) {
            return std::nullopt;
        }
        return found->second;
    };
}

std::expected<CommandLine, std::string> parse(const std::vector<std::string>& args,
                                              const EnvLookup& env = environment()) {
    return parse_command_line(args, env);
}

Options accepted(const std::vector<std::string>& args, const EnvLookup& env = environment()) {
    auto parsed = parse(args, env);
    EXPECT_TRUE(parsed.has_value()) << parsed.error();
    return parsed ? parsed->options : Options{};
}

struct Rejection {
    std::vector<std::string> args;
    std::string message;
};

TEST(OptionsTest, RejectedCommandLinesGiveTheirMessages) {
    const std::string experimental =
        " is only accepted on the nightly compiler with -Z unstable-options";
    const std::vector<Rejection> rejections = {
        {{"--frobnicate"}, "Unrecognized option: 'frobnicate'"},
        {{"-x"}, "Unrecognized option: 'x'"},
        {{"-qx"}, "Unrecognized option: 'x'"},
        {{"-q=1"}, "Unrecognized option: '='"},
        {{"--he"}, "Unrecognized option: 'he'"},
        {{"--=x"}, "Unrecognized option: ''"},
        {{"---list"}, "Unrecognized option: '-list'"},
        {{"-é"}, "Unrecognized option: 'é'"},
        {{"--test-threads"}, "Argument to option 'test-threads' missing"},
        {{"-Z"}, "Argument to option 'Z' missing"},
        {{"--color"}, "Argument to option 'color' missing"},
        {{"--skip"}, "Argument to option 'skip' missing"},
        {{"--test-threads", "1", "--test-threads", "2"},
         "Option 'test-threads' given more than once"},
        {{"-q", "--quiet"}, "Option 'quiet' given more than once"},
        {{"-Zunstable-options", "-Z", "unstable-options"}, "Option 'Z' given more than once"},
        {{"--nocapture", "--nocapture"}, "Option 'nocapture' given more than once"},
        // Duplicates are reported in the order of the option table, not of the command line.
        {{"--exact", "--exact", "--test-threads=1", "--test-threads=1"},
         "Option 'test-threads' given more than once"},
        {{"--exact=1"}, "Option 'exact' does not take an argument"},
        {{"--h=x"}, "Option 'h' does not take an argument"},
        {{"--nocapture=yes"}, "Option 'nocapture' does not take an argument"},
        {{"-Z", "foo"}, "Unrecognized option to `Z`"},
        {{"--force-run-in-process"}, "The \"force-run-in-process\" flag" + experimental},
        {{"--exclude-should-panic"}, "The \"exclude-should-panic\" flag" + experimental},
        {{"--fail-fast"}, "The \"fail-fast\" flag" + experimental},
        {{"--report-time"}, "The \"report-time\" flag" + experimental},
        {{"--ensure-time"}, "The \"ensure-time\" flag" + experimental},
        {{"--shuffle"}, "The \"shuffle\" flag" + experimental},
        {{"--shuffle-seed", "1"}, "The \"shuffle-seed\" option" + experimental},
        {{"--format", "json"}, "The \"json\" format" + experimental},
        {{"--format", "junit"}, "The \"junit\" format" + experimental},
        {{"-Zunstable-options", "--shuffle-seed", "x"},
         "argument for --shuffle-seed must be a number (error: invalid digit found in string)"},
        {{"-Zunstable-options", "--shuffle-seed", "18446744073709551616"},
         "argument for --shuffle-seed must be a number (error: number too large to fit in target "
         "type)"},
        {{"--ignored", "--include-ignored"},
         "the options --include-ignored and --ignored are mutually exclusive"},
        {{"--test-threads", "abc"},
         "argument for --test-threads must be a number > 0 (error: invalid digit found in string)"},
        {{"--test-threads="},
         "argument for --test-threads must be a number > 0 (error: cannot parse integer from empty "
         "string)"},
        {{"--test-threads", "-1"},
         "argument for --test-threads must be a number > 0 (error: invalid digit found in string)"},
        {{"--test-threads", "99999999999999999999"},
         "argument for --test-threads must be a number > 0 (error: number too large to fit in "
         "target type)"},
        {{"--test-threads", "0"}, "argument for --test-threads must not be 0"},
        {{"--test-threads", "00"}, "argument for --test-threads must not be 0"},
        {{"--color", "bad"}, "argument for --color must be auto, always, or never (was bad)"},
        {{"--format", "xml"},
         "argument for --format must be pretty, terse, json or junit (was xml)"},
        {{"--list", "--format", "xml"},
         "argument for --format must be pretty, terse, json or junit (was xml)"},
    };
    for (const auto& rejection : rejections) {
        const auto parsed = parse(rejection.args);
        ASSERT_FALSE(parsed.has_value()) << rejection.args.front();
        EXPECT_EQ(parsed.error(), rejection.message) << rejection.args.front();
    }
}

TEST(OptionsTest, ValuesAreCheckedInAFixedOrderWhateverTheirPlace) {
    const std::vector<Rejection> rejections = {
        {{"--color", "bad", "--test-threads", "0"}, "argument for --test-threads must not be 0"},
        {{"--format", "bad", "--color", "bad"},
         "argument for --color must be auto, always, or never (was bad)"},
        {{"--test-threads", "0", "--ignored", "--include-ignored"},
         "the options --include-ignored and --ignored are mutually exclusive"},
        {{"--ignored", "--include-ignored", "--shuffle"},
         "The \"shuffle\" flag is only accepted on the nightly compiler with -Z unstable-options"},
        {{"--shuffle", "--fail-fast"},
         "The \"fail-fast\" flag is only accepted on the nightly compiler with -Z "
         "unstable-options"},
        {{"--fail-fast", "-Z", "foo"}, "Unrecognized option to `Z`"},
        {{"--test-threads", "0", "--fail-fast", "-Zunstable-options"},
         "argument for --test-threads must not be 0"},
        // Parse errors come before any value check, in argument order.
        {{"--test-threads", "0", "--bogus", "--nope"}, "Unrecognized option: 'bogus'"},
        {{"--exact", "--exact", "--bogus"}, "Unrecognized option: 'bogus'"},
    };
    for (const auto& rejection : rejections) {
        const auto parsed = parse(rejection.args);
        ASSERT_FALSE(parsed.has_value());
        EXPECT_EQ(parsed.error(), rejection.message);
    }
}

TEST(OptionsTest, HelpWinsOverBadValuesButNotOverParseErrors) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"},
                                                 {"-h"},
                                                 {"--h"},
                                                 {"--test-threads", "0", "--help"},
                                                 {"--color", "bad", "-qh"}}) {
        const auto parsed = parse(args);
        ASSERT_TRUE(parsed.has_value()) << parsed.error();
        EXPECT_TRUE(parsed->help);
    }
    EXPECT_FALSE(parse({"--help", "--bogus"}).has_value());
    EXPECT_FALSE(parse({"--help", "--help"}).has_value());
}

TEST(OptionsTest, OptionsAndFiltersMixInAnyOrder) {
    const Options options = accepted(
        {"smoke", "--test-threads", "1", "sweep", "--skip=a", "--skip", "b", "--exact", "-"});
    EXPECT_EQ(options.filters, (std::vector<std::string>{"smoke", "sweep", "-"}));
    EXPECT_EQ(options.skip, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(options.test_threads, 1U);
    EXPECT_TRUE(options.exact);
}

TEST(OptionsTest, ValuesMayLookLikeOptionsAndDoubleDashEndsOptions) {
    EXPECT_EQ(accepted({"--skip", "--list"}).skip, std::vector<std::string>{"--list"});
    EXPECT_FALSE(accepted({"--skip", "--list"}).list);
    const Options options = accepted({"--", "--list", "-q"});
    EXPECT_FALSE(options.list);
    EXPECT_EQ(options.filters, (std::vector<std::string>{"--list", "-q"}));
}

TEST(OptionsTest, ShortOptionsClusterAndTakeTheirValueAttached) {
    const Options options = accepted({"-qZunstable-options", "--shuffle-seed=+42"});
    EXPECT_EQ(options.format, OutputFormat::Terse);
    EXPECT_EQ(options.shuffle_seed, 42U);
    EXPECT_TRUE(accepted({"--Z=unstable-options", "--fail-fast"}).fail_fast);
}

TEST(OptionsTest, FormatWinsOverQuiet) {
    EXPECT_EQ(accepted({"-q", "--format", "pretty"}).format, OutputFormat::Pretty);
    EXPECT_EQ(accepted({"-q"}).format, OutputFormat::Terse);
    EXPECT_EQ(accepted({"-Zunstable-options", "--format", "junit"}).format, OutputFormat::Junit);
}

TEST(OptionsTest, NoCaptureHasAHiddenAliasAndASetting) {
    EXPECT_TRUE(accepted({"--nocapture"}).no_capture);
    EXPECT_TRUE(accepted({"--nocapture", "--no-capture"}).no_capture);
    EXPECT_FALSE(accepted({}).no_capture);
    EXPECT_TRUE(accepted({}, environment({{"QUILLMERE_TEST_NOCAPTURE", "1"}})).no_capture);
    EXPECT_FALSE(accepted({}, environment({{"QUILLMERE_TEST_NOCAPTURE", "0"}})).no_capture);
}

TEST(OptionsTest, ThreadSettingIsTheDefaultAndIsChecked) {
    EXPECT_EQ(accepted({}, environment({{"QUILLMERE_TEST_THREADS", "3"}})).test_threads, 3U);
    EXPECT_EQ(accepted({"--test-threads", "5"}, environment({{"QUILLMERE_TEST_THREADS", "3"}}))
                  .test_threads,
              5U);
    EXPECT_FALSE(accepted({}).test_threads.has_value());
    for (const std::string bad : {"0", "x", ""}) {
        const auto parsed = parse({}, environment({{"QUILLMERE_TEST_THREADS", bad}}));
        ASSERT_FALSE(parsed.has_value());
        EXPECT_EQ(parsed.error(),
                  "QUILLMERE_TEST_THREADS is `" + bad + "`, should be a positive integer.");
    }
    // A listing runs nothing, so the setting does not matter there.
    EXPECT_TRUE(parse({"--list"}, environment({{"QUILLMERE_TEST_THREADS", "x"}})).has_value());
}

TEST(OptionsTest, TimeLimitsComeFromTheSetting) {
    const Options defaults = accepted({"-Zunstable-options", "--report-time"});
    ASSERT_TRUE(defaults.time.has_value());
    EXPECT_EQ(defaults.time->warn, std::chrono::seconds(60));
    EXPECT_EQ(defaults.time->critical, std::chrono::seconds(120));
    EXPECT_FALSE(defaults.time->error_on_excess);

    const Options set = accepted({"-Zunstable-options", "--ensure-time"},
                                 environment({{"QUILLMERE_TEST_TIME", "500,2000"}}));
    ASSERT_TRUE(set.time.has_value());
    EXPECT_EQ(set.time->warn, std::chrono::milliseconds(500));
    EXPECT_EQ(set.time->critical, std::chrono::milliseconds(2000));
    EXPECT_TRUE(set.time->error_on_excess);

    EXPECT_FALSE(accepted({}).time.has_value());
    for (const std::string bad : {"5", "2,1", "a,1", "1,", ",1"}) {
        const auto parsed = parse({"-Zunstable-options", "--report-time"},
                                  environment({{"QUILLMERE_TEST_TIME", bad}}));
        ASSERT_FALSE(parsed.has_value()) << bad;
        EXPECT_EQ(parsed.error().rfind("QUILLMERE_TEST_TIME is `" + bad + "`, should be", 0), 0U);
    }
    // Huge limits saturate instead of overflowing.
    const Options huge = accepted(
        {"-Zunstable-options", "--report-time"},
        environment({{"QUILLMERE_TEST_TIME", "18446744073709551615,18446744073709551615"}}));
    EXPECT_EQ(huge.time->critical, std::chrono::nanoseconds::max());
}

TEST(OptionsTest, SelectionModesAndBench) {
    EXPECT_EQ(accepted({"--ignored"}).run_ignored, RunIgnored::Only);
    EXPECT_EQ(accepted({"--include-ignored"}).run_ignored, RunIgnored::Yes);
    EXPECT_EQ(accepted({}).run_ignored, RunIgnored::No);
    EXPECT_FALSE(accepted({"--bench"}).run_tests);
    EXPECT_TRUE(accepted({"--bench", "--test"}).run_tests);
    EXPECT_TRUE(accepted({"--test"}).run_tests);
    const Options logged = accepted({"--logfile", "x.log", "--show-output", "--color=never"});
    EXPECT_EQ(logged.logfile, "x.log");
    EXPECT_TRUE(logged.show_output);
    EXPECT_EQ(logged.color, ColorChoice::Never);
}

TEST(OptionsTest, UnsignedNumbersParseLikeTheReference) {
    const std::vector<std::pair<std::string, std::expected<std::uint64_t, std::string>>> cases = {
        {"0", 0U},
        {"+7", 7U},
        {"007", 7U},
        {"18446744073709551615", 18446744073709551615ULL},
        {"18446744073709551616", std::unexpected("number too large to fit in target type")},
        {"99999999999999999999x", std::unexpected("number too large to fit in target type")},
        {"1x99999999999999999999", std::unexpected("invalid digit found in string")},
        {"", std::unexpected("cannot parse integer from empty string")},
        {"+", std::unexpected("invalid digit found in string")},
        {"-", std::unexpected("invalid digit found in string")},
        {"-0", std::unexpected("invalid digit found in string")},
        {"++1", std::unexpected("invalid digit found in string")},
        {" 1", std::unexpected("invalid digit found in string")},
        {"0x1", std::unexpected("invalid digit found in string")},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(parse_unsigned(text), expected) << text;
    }
}

TEST(OptionsTest, HelpTextLaysOutTheOptionTable) {
    const std::string help = help_text("/bin/prog");
    EXPECT_EQ(help.rfind("Usage: /bin/prog [OPTIONS] [FILTERS...]\n\nOptions:\n", 0), 0U);
    // Rows too long for the flag column keep a trailing blank and wrap their description.
    EXPECT_NE(help.find("\n        --include-ignored \n                        Run ignored and not "
                        "ignored tests\n"),
              std::string::npos);
    EXPECT_NE(help.find("\n    -h, --help          Display this message\n"), std::string::npos);
    EXPECT_NE(
        help.find("\n        --logfile PATH  Write logs to the specified file (deprecated)\n"),
        std::string::npos);
    EXPECT_NE(help.find("\n    -Z unstable-options Enable"), std::string::npos);
    EXPECT_NE(help.find("\n        --test-threads n_threads\n                        Number of "
                        "threads used for running tests in parallel\n"),
              std::string::npos);
    EXPECT_EQ(help.find("nocapture"), std::string::npos);
    EXPECT_EQ(help.find("Rust"), std::string::npos);
    EXPECT_EQ(help.find("RUST"), std::string::npos);
    EXPECT_TRUE(
        help.ends_with("parallel.\n\nAll tests have their standard output and standard error "
                       "captured by default.\nThis can be overridden with the --no-capture flag to "
                       "a value other than \"0\".\nLogging is not captured by default.\n\n"));
}

} // namespace
} // namespace quillmere::case_runner::detail
