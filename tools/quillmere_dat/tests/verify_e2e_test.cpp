// End-to-end tests of quillmere-dat verify: sound, damaged, demo and hostile archives through the
// built tool (or, under a memory budget, through its command line in-process), the text report
// to the byte and the JSON report against its shape.
#include "command_line.hpp"
#include "demo_archive.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/testkit/hostile_archives.hpp"
#include "quillmere/testkit/portal_files.hpp"
#include "quillmere/testkit/temp_file.hpp"
#include "tool_run.hpp"

#include <gtest/gtest.h>
#include <regex>
#include <sstream>

namespace quillmere::dat_tool {
namespace {

using testing::elements;
using testing::json_of;
using testing::keys;
using testing::tool;
using testing::ToolRun;
using testkit::ArchiveBuilder;
using testkit::BlockRef;
using testkit::ChainRef;
using testkit::hostile::pattern;
using Buffer = std::vector<std::uint8_t>;

constexpr std::uint32_t kFar = 0x7FFFFFF0; // far past the end of every test archive

const std::vector<std::string> kSummaryKeys = {
    "archive_length",    "entries",         "files_read",  "stored_bytes", "decompressed_bytes",
    "compressed_files",  "directory_nodes", "tree_height", "free_blocks",  "unread_bytes",
    "unreachable_bytes", "errors",          "warnings"};

// The summary block for `values`, given in the order of kSummaryKeys.
std::string summary_text(const std::string& archive, const std::vector<std::uint64_t>& values) {
    std::string text = "archive: " + archive + "\n";
    for (std::size_t i = 0; i < kSummaryKeys.size(); ++i) {
        text += kSummaryKeys[i] + ": " + std::to_string(values.at(i)) + "\n";
    }
    return text;
}

// The problem lines of a text report: everything after the summary's blank line.
std::vector<std::string> problem_lines(const std::string& out) {
    std::vector<std::string> lines;
    const auto start = out.find("\n\n");
    if (start == std::string::npos) {
        return lines;
    }
    std::istringstream rest(out.substr(start + 2));
    for (std::string line; std::getline(rest, line);) {
        lines.push_back(line);
    }
    return lines;
}

class VerifyE2eTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { dir_ = std::make_unique<testkit::TempDir>("verify-e2e"); }
    static void TearDownTestSuite() { dir_.reset(); }

    static std::string write(const std::string& name, const Buffer& bytes) {
        const auto path = dir_->path() / name;
        testkit::write_file(path, bytes);
        return path.string();
    }

    // Five problems: two chains sharing bytes and a chain linking far past the end (errors), a
    // header whose file_size is wrong, the block the broken chain no longer reaches and a last
    // block that is overlong (warnings).
    static std::string damaged(std::vector<std::string>* expected_lines = nullptr) {
        ArchiveBuilder builder(1024);
        const ChainRef broken = builder.add_file(0x06000001, pattern(3000, 1));
        builder.set_link(BlockRef{broken, 1}, std::uint32_t{kFar});
        const ChainRef shared = builder.add_chain(pattern(2000, 2));
        builder.add_entry(ArchiveBuilder::entry_for(shared, 0x06000002));
        builder.add_entry(ArchiveBuilder::entry_for(shared, 0x06000003));
        const ChainRef spread = builder.add_chain(pattern(3000, 3), {.contiguous = true});
        builder.add_entry(ArchiveBuilder::entry_for(spread, 0x06000004));
        builder.header().file_size = 12345;
        const std::string path = write("damaged.dat", builder.build());
        const std::string length = std::to_string(builder.archive_length());
        if (expected_lines != nullptr) {
            *expected_lines = {
                "error overlap 0x06000003 at " + std::to_string(builder.resolve(shared)) +
                    ": file 0x06000002 and file 0x06000003 read the same bytes",
                "error file_unreadable 0x06000001 at 2147483632: its chain from offset " +
                    std::to_string(builder.resolve(broken)) +
                    " cannot be read in full: the block at offset 2147483632 runs past the end "
                    "of the archive (" +
                    length + " bytes)",
                "warning file_size - at 328: file_size is 12345, but the archive is " + length +
                    " bytes long",
                "warning unreachable - at " + std::to_string(builder.resolve(broken) + 2048) +
                    ": 1024 bytes that no file, directory node or free-list block holds",
                "warning overlong_last_block 0x06000004 at " +
                    std::to_string(builder.resolve(spread)) +
                    ": its last block supplies 3000 bytes, more than the 1020 a block holds",
            };
        }
        return path;
    }

    static std::unique_ptr<testkit::TempDir> dir_;
};

std::unique_ptr<testkit::TempDir> VerifyE2eTest::dir_;

// A sound archive of each hook-carrying type and others, one compressed, one empty: exit 0, no
// problem, and figures counted from the layout the test kit wrote.
TEST_F(VerifyE2eTest, SoundArchiveVerifiesCleanWithItsFigures) {
    constexpr std::uint32_t kBlockSize = 256;
    ArchiveBuilder builder(kBlockSize);
    const std::vector<std::pair<std::uint32_t, Buffer>> files = {
        {0x03000001, testkit::build_animation(testkit::make_animation_spec(1, 2, 3, 1, true))},
        {0x02000001, testkit::build_setup_model(testkit::make_setup_model_spec(2, 3, 2, 1, 2))},
        {0x33000001, testkit::build_physics_script(testkit::make_physics_script_spec(3, 4))},
        {0x06000001, pattern(700, 4)},
        {0x0E000001, {}},
    };
    const auto blocks = [](std::uint64_t length) {
        return (length + kBlockSize - 5) / (kBlockSize - 4);
    };
    std::uint64_t stored = 0;
    std::uint64_t contents = 0;
    std::uint64_t chain_bytes = 0;
    for (const auto& [id, bytes] : files) {
        const ChainRef chain = builder.add_file(id, bytes, {.compress = id == 0x02000001});
        stored += builder.chain_length(chain);
        contents += bytes.size();
        chain_bytes += builder.chain_length(chain) + 4 * blocks(builder.chain_length(chain));
    }
    const std::string path = write("sound.dat", builder.build());
    chain_bytes += 1716 + 4 * blocks(1716);
    const std::uint64_t length = builder.archive_length();

    const ToolRun result = tool({"verify", path});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, summary_text(path, {length, 5, 5, stored, contents, 1, 1, 1, 0,
                                              length - 400 - chain_bytes, 0, 0, 0}));
}

TEST_F(VerifyE2eTest, DemoArchiveVerifiesClean) {
    const auto path = dir_->path() / "demo.dat";
    const demo::DemoSummary demo = demo::write_demo_archive(path, demo::DemoOptions{});
    const ToolRun result = tool({"verify", path.string(), "--json"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    const auto doc = json_of(result);
    const auto& summary = doc.at("summary");
    EXPECT_EQ(summary.at("archive_length").get<double>(), static_cast<double>(demo.archive_bytes));
    EXPECT_EQ(summary.at("entries").get<double>(), static_cast<double>(demo.files));
    EXPECT_EQ(summary.at("files_read").get<double>(), static_cast<double>(demo.files));
    EXPECT_EQ(summary.at("decompressed_bytes").get<double>(),
              static_cast<double>(demo.content_bytes));
    EXPECT_EQ(summary.at("compressed_files").get<double>(), static_cast<double>(demo.compressed));
    EXPECT_EQ(summary.at("errors").get<double>(), 0);
    EXPECT_EQ(summary.at("warnings").get<double>(), 0);
    EXPECT_TRUE(elements(doc.at("problems")).empty());
}

// Errors first, each severity by offset; a problem without an id or an offset shows "-".
TEST_F(VerifyE2eTest, ProblemsAreListedBySeverityThenOffset) {
    std::vector<std::string> expected;
    const std::string path = damaged(&expected);
    const ToolRun result = tool({"verify", path});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(result.out.starts_with("archive: " + path + "\narchive_length: ")) << result.out;
    EXPECT_NE(result.out.find("\nentries: 4\nfiles_read: 3\nstored_bytes: 7000\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("\nerrors: 2\nwarnings: 3\n\n"), std::string::npos) << result.out;
    EXPECT_EQ(problem_lines(result.out), expected);

    // Too short for a header: nothing else is checked, and the one problem has neither.
    const std::string short_path = write("short.dat", Buffer(399, 0));
    const ToolRun short_result = tool({"verify", short_path});
    EXPECT_EQ(short_result.status, 1);
    EXPECT_EQ(short_result.out,
              summary_text(short_path, {399, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}) +
                  "\nerror header - at -: the archive is 399 bytes long, too "
                  "short for the header that ends at offset 400\n");
}

// The JSON report has the shape and says what the text report says, line for line.
TEST_F(VerifyE2eTest, JsonCarriesTheSameReport) {
    const std::regex id_form("0x[0-9A-F]{8}");
    for (const std::string& path : {damaged(), write("short.dat", Buffer(399, 0))}) {
        const ToolRun text = tool({"verify", path});
        const ToolRun result = tool({"verify", "--json", path});
        EXPECT_EQ(result.status, text.status);
        const auto doc = json_of(result);
        EXPECT_EQ(keys(doc), (std::vector<std::string>{"archive", "summary", "problems", "more"}));
        EXPECT_EQ(doc.at("archive").get<std::string>(), path);
        EXPECT_EQ(keys(doc.at("summary")), kSummaryKeys);
        std::vector<std::uint64_t> figures;
        for (const auto& key : kSummaryKeys) {
            figures.push_back(doc.at("summary").at(key).get<std::uint64_t>());
        }
        EXPECT_TRUE(text.out.starts_with(summary_text(path, figures))) << text.out;

        std::vector<std::string> lines;
        for (const auto& problem : elements(doc.at("problems"))) {
            EXPECT_EQ(keys(problem),
                      (std::vector<std::string>{"severity", "kind", "id", "offset", "message"}));
            const auto& id = problem.at("id");
            const auto& offset = problem.at("offset");
            ASSERT_TRUE(id.is_null() || std::regex_match(id.get<std::string>(), id_form)) << id;
            ASSERT_TRUE(offset.is_null() || offset.is_number_unsigned()) << offset;
            lines.push_back(problem.at("severity").get<std::string>() + " " +
                            problem.at("kind").get<std::string>() + " " +
                            (id.is_null() ? "-" : id.get<std::string>()) + " at " +
                            (offset.is_null() ? "-" : offset.dump()) + ": " +
                            problem.at("message").get<std::string>());
        }
        EXPECT_EQ(lines, problem_lines(text.out));
    }
}

// --max-problems caps the lines shown, never the counts; what is left out is one line.
TEST_F(VerifyE2eTest, MaxProblemsCapsWhatIsShownNotWhatIsCounted) {
    std::vector<std::string> all;
    const std::string path = damaged(&all);
    for (const std::uint64_t shown : {0UL, 1UL, 3UL, 4UL, 5UL, ~0UL}) {
        const ToolRun result = tool({"verify", path, "--max-problems", std::to_string(shown)});
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.out.find("\nerrors: 2\nwarnings: 3\n"), std::string::npos) << shown;
        std::vector<std::string> expected(all.begin(),
                                          all.begin() + static_cast<long>(std::min(shown, 5UL)));
        if (shown < 5) {
            expected.push_back("\u2026 and " + std::to_string(5 - shown) + " more");
        }
        EXPECT_EQ(problem_lines(result.out), expected) << shown;

        const auto doc =
            json_of(tool({"verify", path, "--json", "--max-problems=" + std::to_string(shown)}));
        EXPECT_EQ(elements(doc.at("problems")).size(), std::min(shown, 5UL));
        EXPECT_EQ(doc.at("more").get<double>(), static_cast<double>(5 - std::min(shown, 5UL)));
        EXPECT_EQ(doc.at("summary").at("errors").get<double>(), 2);
    }
}

TEST_F(VerifyE2eTest, APathThatCannotBeOpenedIsOneErrorLine) {
    const std::string missing = (dir_->path() / "missing.dat").string();
    const std::string directory = dir_->path().string();
    for (const auto& [path, error] :
         {std::pair{missing, "Failed to open file at " + missing + ": No such file or directory"},
          std::pair{directory, directory + " is not a regular file"}}) {
        for (const char* form : {"", "--json"}) {
            std::vector<std::string> args = {"verify", path};
            if (*form != '\0') {
                args.emplace_back(form);
            }
            const ToolRun result = tool(args);
            EXPECT_EQ(result.status, 1);
            // With --json, the failure is a JSON document too.
            EXPECT_EQ(result.out, *form == '\0' ? ""
                                                : "{\"error\": {\"kind\": \"failure\", "
                                                  "\"message\": " +
                                                      common::json_quote(error) + "}}\n");
            EXPECT_EQ(result.err, "error: " + error + "\n");
        }
    }
    // So is a command line that cannot be run.
    const ToolRun usage = tool({"verify", "--json", missing, "--max-problems", "many"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(json_of(usage).at("error").at("kind").get<std::string>(), "usage");
}

// Every damaged archive of the adversarial tests: exit 1 with at least one error line, the whole
// command run in a child with 32 MiB of memory and 20 s of CPU time to spare; and a few of them
// through the built tool.
TEST_F(VerifyE2eTest, EveryHostileArchiveFailsWithErrorsWithinLimits) {
    const auto has_error_line = [](const std::string& out) {
        return out.find("\n\nerror ") != std::string::npos;
    };
    const auto archives = testkit::hostile::damaged_archives();
    for (std::size_t i = 0; i < archives.size(); ++i) {
        const std::string path = write("hostile-" + std::to_string(i) + ".dat", archives[i].bytes);
        const int code = testkit::run_with_memory_budget(32 << 20, 20, [&] {
            std::ostringstream out;
            std::ostringstream err;
            const std::vector<std::string> args = {"verify", path};
            return run(args, Streams{out, err}) == kExitFailure && err.str().empty() &&
                   has_error_line(out.str());
        });
        EXPECT_EQ(code, 0) << archives[i].name;
        if (i % 8 == 0) {
            const ToolRun built = tool({"verify", path});
            EXPECT_EQ(built.status, 1) << archives[i].name;
            EXPECT_TRUE(has_error_line(built.out)) << archives[i].name << "\n" << built.out;
        }
    }
}

} // namespace
} // namespace quillmere::dat_tool
