// End-to-end: runs the quillmere-dat executable on test-kit archives and checks exit status,
// standard output and standard error to the byte; --json output goes through a parser.
#include "command.hpp"
#include "command_line.hpp"
#include "manifest.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/temp_file.hpp"
#include "quillmere/tools/hook_type_names.hpp"
#include "sample_archive.hpp"
#include "tool_run.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <set>
#include <sstream>

namespace quillmere::dat_tool {
namespace {

using testing::elements;
using testing::json_of;
using testing::keys;
using testing::tool;

class QuillmereDatE2eTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<testkit::TempDir>("quillmere-dat-e2e");
        archive_ = (dir_->path() / "sample.dat").string();
        auto builder = sample::sample_archive();
        builder.write_to(archive_);
        archive_length_ = builder.archive_length();
        root_offset_ = builder.root_offset();
    }
    static void TearDownTestSuite() { dir_.reset(); }

    // Stored size of an entry as the directory records it (compressed sizes depend on the
    // compressor, so they are looked up rather than written down).
    static std::string stored(std::uint32_t id) {
        auto db = dat::DatDatabase::open(archive_);
        return std::to_string(db->files().at(id).size);
    }

    static std::unique_ptr<testkit::TempDir> dir_;
    static std::string archive_;
    static std::uint64_t archive_length_;
    static std::uint32_t root_offset_;
};

std::unique_ptr<testkit::TempDir> QuillmereDatE2eTest::dir_;
std::string QuillmereDatE2eTest::archive_;
std::uint64_t QuillmereDatE2eTest::archive_length_ = 0;
std::uint32_t QuillmereDatE2eTest::root_offset_ = 0;

std::string right(const std::string& text, std::size_t width) {
    return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

TEST_F(QuillmereDatE2eTest, InfoShowsTheHeaderAndASummaryPerFileType) {
    const auto run = tool({"info", archive_});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const std::uint64_t type3 = std::stoull(stored(sample::kAnimation)) +
                                std::stoull(stored(sample::kEveryHookType)) +
                                std::stoull(stored(sample::kTruncatedAnimation));
    EXPECT_EQ(run.out, "archive: " + archive_ +
                           "\n"
                           "magic: 0x00004C51\n"
                           "block_size: 256\n"
                           "file_size: " +
                           std::to_string(archive_length_) +
                           "\n"
                           "dataset: 0\n"
                           "subset: 0\n"
                           "free_head: 0\n"
                           "free_tail: 0\n"
                           "free_count: 0\n"
                           "root_offset: " +
                           std::to_string(root_offset_) +
                           "\n"
                           "new_lru: 0\n"
                           "old_lru: 0\n"
                           "use_lru: 0\n"
                           "master_map_id: 0x00000000\n"
                           "engine_version: 5\n"
                           "game_version: 7\n"
                           "version_string: 101112131415161718191A1B1C1D1E1F\n"
                           "version_minor: 2\n"
                           "entries: 8\n"
                           "\n"
                           "type       files    stored_bytes  compressed\n"
                           "0x01           1  " +
                           right(stored(sample::kCompressedBlob), 14) +
                           "           1\n"
                           "0x02           1  " +
                           right(stored(sample::kSetupModel), 14) +
                           "           1  setup model\n"
                           "0x03           3  " +
                           right(std::to_string(type3), 14) +
                           "           1  animation\n"
                           "0x06           1              10           0\n"
                           "0x33           2             652           0  physics script\n");
}

TEST_F(QuillmereDatE2eTest, InfoJsonCarriesTheSameFacts) {
    const auto run = tool({"info", archive_, "--json"});
    EXPECT_EQ(run.status, 0);
    const auto doc = json_of(run);
    EXPECT_EQ(keys(doc), (std::vector<std::string>{"archive", "header", "entries", "types"}));
    EXPECT_EQ(doc.at("archive").get<std::string>(), archive_);
    EXPECT_EQ(doc.at("header").at("block_size").get<double>(), 256);
    EXPECT_EQ(doc.at("header").at("magic").get<double>(), 0x4C51);
    EXPECT_EQ(doc.at("header").at("version_string").get<std::string>(),
              "101112131415161718191A1B1C1D1E1F");
    EXPECT_EQ(doc.at("header").at("file_size").get<double>(), static_cast<double>(archive_length_));
    EXPECT_EQ(keys(doc.at("header")).size(), 17U);
    EXPECT_EQ(doc.at("entries").get<double>(), 8);
    const auto& types = elements(doc.at("types"));
    ASSERT_EQ(types.size(), 5U);
    EXPECT_EQ(types.at(2).at("type").get<std::string>(), "0x03");
    EXPECT_EQ(types.at(2).at("name").get<std::string>(), "animation");
    EXPECT_TRUE(types.at(3).at("name").is_null());
    EXPECT_EQ(types.at(2).at("files").get<double>(), 3);
    EXPECT_EQ(types.at(2).at("compressed").get<double>(), 1);
    EXPECT_EQ(types.at(4).at("stored_bytes").get<double>(), 652);
}

TEST_F(QuillmereDatE2eTest, LsListsEveryEntryInAscendingIdOrder) {
    const auto run = tool({"ls", archive_});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "id              stored  compressed   timestamp     version\n"
                       "0x01000001  " +
                           right(stored(sample::kCompressedBlob), 10) +
                           "  yes                  0           0\n"
                           "0x02000001  " +
                           right(stored(sample::kSetupModel), 10) +
                           "  yes                  0           0\n"
                           "0x03000001         176  no          1700000000           0\n"
                           "0x03000002  " +
                           right(stored(sample::kEveryHookType), 10) +
                           "  yes                  0           3\n"
                           "0x03000009          98  no                   0           0\n"
                           "0x06000001          10  no                   0           0\n"
                           "0x33000001          52  no                   0           0\n"
                           "0x33000002         600  no                   0           0\n");
}

TEST_F(QuillmereDatE2eTest, LsTypeKeepsOnlyThatTopByte) {
    for (const auto& type : {"03", "3", "0x03", "--type=03", "animation", "--type=animation"}) {
        std::vector<std::string> args = {"ls", archive_};
        if (std::string_view(type).starts_with("--")) {
            args.push_back(type);
        } else {
            args.insert(args.begin() + 1, {"--type", type});
        }
        const auto run = tool(args);
        EXPECT_EQ(run.status, 0) << type;
        EXPECT_EQ(run.out, "id              stored  compressed   timestamp     version\n"
                           "0x03000001         176  no          1700000000           0\n"
                           "0x03000002  " +
                               right(stored(sample::kEveryHookType), 10) +
                               "  yes                  0           3\n"
                               "0x03000009          98  no                   0           0\n")
            << type;
    }
    const auto none = tool({"ls", archive_, "--type", "7F"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "id              stored  compressed   timestamp     version\n");
}

TEST_F(QuillmereDatE2eTest, LsJsonListsTheEntriesWithTheirFlags) {
    const auto run = tool({"ls", "--json", archive_, "--type", "33"});
    EXPECT_EQ(run.status, 0);
    const auto doc = json_of(run);
    EXPECT_EQ(doc.at("type").get<std::string>(), "0x33");
    EXPECT_EQ(doc.at("count").get<double>(), 2);
    const auto& entries = elements(doc.at("entries"));
    ASSERT_EQ(entries.size(), 2U);
    EXPECT_EQ(keys(entries.at(0)),
              (std::vector<std::string>{"id", "size", "compressed", "timestamp", "version",
                                        "bit_flags", "offset"}));
    EXPECT_EQ(entries.at(0).at("id").get<std::string>(), "0x33000001");
    EXPECT_EQ(entries.at(0).at("size").get<double>(), 52);
    EXPECT_FALSE(entries.at(0).at("compressed").get<bool>());
    EXPECT_EQ(entries.at(1).at("id").get<std::string>(), "0x33000002");

    const auto all = json_of(tool({"ls", archive_, "--json"}));
    EXPECT_TRUE(all.at("type").is_null());
    ASSERT_EQ(elements(all.at("entries")).size(), 8U);
    EXPECT_TRUE(elements(all.at("entries")).at(0).at("compressed").get<bool>());
}

// cat gives exactly what the library's get_file gives: decompressed when stored compressed.
TEST_F(QuillmereDatE2eTest, CatWritesTheFileAsGetFileReturnsIt) {
    auto db = dat::DatDatabase::open(archive_);
    ASSERT_TRUE(db);
    for (std::uint32_t id : {sample::kCompressedBlob, sample::kPlainBlob, sample::kSetupModel,
                             sample::kEveryHookType, sample::kAnimation}) {
        const auto run = tool({"cat", archive_, "0x" + common::hex8(id)});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        auto expected = db->get_file(id);
        ASSERT_TRUE(expected);
        EXPECT_EQ(run.out, std::string(expected->begin(), expected->end())) << std::hex << id;
    }
    const auto blob = sample::compressed_blob_contents();
    EXPECT_EQ(tool({"cat", archive_, "1000001"}).out, std::string(blob.begin(), blob.end()));
}

// Several ids, from the command line and from a list (a file or standard input, one per line,
// the first word of each; blank lines and comments ignored), each once, in the order given.
TEST_F(QuillmereDatE2eTest, CatTakesSeveralIdsAndListsOfThem) {
    const auto bytes = [&](std::uint32_t id) {
        const auto file = dat::DatDatabase::open(archive_)->get_file(id);
        return std::string(file->begin(), file->end());
    };
    const std::string both = bytes(sample::kPlainBlob) + bytes(sample::kAnimation);
    const auto list = (dir_->path() / "ids.txt").string();
    const std::string text =
        "# wanted\n\n  0x" + common::hex8(sample::kAnimation) + "   176  no  # ls line\n";
    testkit::write_file(list,
                        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    const std::string plain = "0x" + common::hex8(sample::kPlainBlob);
    EXPECT_EQ(tool({"cat", archive_, plain, "0x" + common::hex8(sample::kAnimation)}).out, both);
    EXPECT_EQ(tool({"cat", archive_, plain, "--ids-from", list}).out, both);
    EXPECT_EQ(tool({"cat", archive_, "--ids-from", list, plain, plain}).out, both);

    std::istringstream input(text);
    std::ostringstream out;
    std::ostringstream err;
    const std::vector<std::string> args = {"cat", archive_, "--ids-from", "-"};
    EXPECT_EQ(run(args, Streams{.out = out, .err = err, .in = &input}), kExitOk) << err.str();
    EXPECT_EQ(out.str(), bytes(sample::kAnimation));

    // To one file, or each to its own under a directory, as extract names them.
    const auto one = (dir_->path() / "one.bin").string();
    const auto many = dir_->path() / "many";
    EXPECT_EQ(tool({"cat", archive_, plain, "--ids-from", list, "-o", one}).status, 0);
    EXPECT_EQ(tool({"cat", archive_, plain, "--ids-from", list, "-d", many.string()}).status, 0);
    const auto read_text = [](const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(read_text(one), both);
    EXPECT_EQ(read_text(many / content_path(sample::kPlainBlob)), bytes(sample::kPlainBlob));
    EXPECT_EQ(read_text(many / content_path(sample::kAnimation)), bytes(sample::kAnimation));
    EXPECT_EQ(tool({"cat", archive_, plain, "-o", one, "-d", many.string()}).status, 2);

    const auto bad = (dir_->path() / "bad.txt").string();
    testkit::write_file(bad, std::vector<std::uint8_t>{'1', '\n', 'x', 'y', '\n'});
    const auto refused = tool({"cat", archive_, "--ids-from", bad});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "error: " + bad + ":2: invalid file id 'xy'\n");
}

TEST_F(QuillmereDatE2eTest, HooksOfAnAnimationSitInTheirFrames) {
    const auto run = tool({"hooks", archive_, "0x03000001"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              "0x03000001 animation  frames=2 parts=1 hooks=5\n"
              "frame 0  Sound (1)  direction=0  id=0x0A000001\n"
              "frame 0  ReplaceObject (5)  direction=1  part_index=3 part_id=0x00001234\n"
              "frame 0  ReplaceObject (5)  direction=-1  part_index=1 part_id=0x00010002\n"
              "frame 1  CreateParticle (13)  direction=0  emitter_info_id=0x32000010 part_index=0 "
              "offset={origin=(0.5, -0.25, 2) orientation=(0.5, 0.5, -0.5, 0.5)} emitter_id=7\n"
              "frame 1  AnimationDone (4)  direction=0\n");
}

TEST_F(QuillmereDatE2eTest, HooksOfACompressedSetupModelSitInPlacementsByKey) {
    const auto run = tool({"hooks", archive_, "2000001"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "0x02000001 setup model  placements=2 parts=1 hooks=3\n"
                       "placement -1  NoOp (0)  direction=0\n"
                       "placement 5  Scale (12)  direction=0  end=1.5 time=0.25\n"
                       "placement 5  Luminous (8)  direction=1  start=0 end=1 time=2.5\n");
}

TEST_F(QuillmereDatE2eTest, HooksOfAPhysicsScriptSitAtTheirStartTimes) {
    const auto run = tool({"hooks", archive_, "0x33000001"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "0x33000001 physics script  entries=2 hooks=2\n"
                       "time 0.5  Sound (1)  direction=0  id=0x0A000002\n"
                       "time 1.25  CallPES (19)  direction=0  pes=0x33000042 pause=0.75\n");
}

// Every hook type comes out with its name and its payload's fields, in text and in JSON.
TEST_F(QuillmereDatE2eTest, HooksJsonNamesEveryTypeAndItsFields) {
    const auto text = tool({"hooks", archive_, "0x03000002"});
    EXPECT_EQ(text.status, 0);
    EXPECT_TRUE(text.out.starts_with(
        "0x03000002 animation  frames=3 parts=2 hooks=30 stored_id=0x0300000B\n"))
        << text.out;

    const auto run = tool({"hooks", archive_, "0x03000002", "--json"});
    EXPECT_EQ(run.status, 0);
    const auto doc = json_of(run);
    EXPECT_EQ(keys(doc), (std::vector<std::string>{"archive", "id", "file_type", "stored_id",
                                                   "frames", "parts", "hook_count", "hooks"}));
    EXPECT_EQ(doc.at("file_type").get<std::string>(), "animation");
    EXPECT_EQ(doc.at("hook_count").get<double>(), 30);
    const std::map<std::uint32_t, std::vector<std::string>> fields = {
        {0, {}},
        {1, {"id"}},
        {2, {"sound_type"}},
        {3, {"part_index", "left_x", "left_y", "right_x", "right_y", "radius", "height"}},
        {4, {}},
        {5, {"part_index", "part_id"}},
        {6, {"ethereal"}},
        {7, {"part", "start", "end", "time"}},
        {8, {"start", "end", "time"}},
        {9, {"part", "start", "end", "time"}},
        {10, {"start", "end", "time"}},
        {11, {"part", "start", "end", "time"}},
        {12, {"end", "time"}},
        {13, {"emitter_info_id", "part_index", "offset", "emitter_id"}},
        {14, {"emitter_id"}},
        {15, {"emitter_id"}},
        {16, {"no_draw"}},
        {17, {}},
        {18, {"part_index"}},
        {19, {"pes", "pause"}},
        {20, {"start", "end", "time"}},
        {21, {"sound_id", "probability", "priority", "volume"}},
        {22, {"axis"}},
        {23, {"u_speed", "v_speed"}},
        {24, {"part_index", "u_speed", "v_speed"}},
        {25, {"lights_on"}},
        {26, {"emitter_info_id", "part_index", "offset", "emitter_id"}},
    };
    std::set<std::uint32_t> seen;
    std::size_t text_line = 1;
    for (const auto& hook : elements(doc.at("hooks"))) {
        EXPECT_EQ(keys(hook), (std::vector<std::string>{"frame", "hook_type", "name", "direction",
                                                        "payload", "data"}));
        const auto type = static_cast<std::uint32_t>(hook.at("hook_type").get<double>());
        seen.insert(type);
        EXPECT_EQ(hook.at("name").get<std::string>(), tools::kHookTypeNames.at(type));
        EXPECT_EQ(keys(hook.at("payload")), fields.at(type)) << type;
        // The text form has the same hook on the same line.
        const auto line_start = [&] {
            std::size_t pos = 0;
            for (std::size_t i = 0; i < text_line; ++i) {
                pos = text.out.find('\n', pos) + 1;
            }
            return pos;
        }();
        EXPECT_EQ(text.out.substr(line_start, 6 + hook.at("frame").dump().size() + 2 +
                                                  hook.at("name").get<std::string>().size()),
                  "frame " + hook.at("frame").dump() + "  " + hook.at("name").get<std::string>());
        ++text_line;
    }
    EXPECT_EQ(seen.size(), 27U);
}

TEST_F(QuillmereDatE2eTest, HooksJsonPlacesSetupAndScriptHooks) {
    const auto setup = json_of(tool({"hooks", archive_, "0x02000001", "--json"}));
    EXPECT_EQ(setup.at("file_type").get<std::string>(), "setup model");
    EXPECT_EQ(setup.at("placements").get<double>(), 2);
    const auto& placed = elements(setup.at("hooks"));
    ASSERT_EQ(placed.size(), 3U);
    EXPECT_EQ(placed.at(0).at("placement").get<double>(), -1);
    EXPECT_EQ(placed.at(1).at("payload").at("end").get<double>(), 1.5);
    EXPECT_EQ(placed.at(2).at("data").get<std::string>(), "000000000000803f00002040");

    const auto script = json_of(tool({"hooks", archive_, "0x33000001", "--json"}));
    EXPECT_EQ(keys(script), (std::vector<std::string>{"archive", "id", "file_type", "stored_id",
                                                      "entries", "hook_count", "hooks"}));
    const auto& timed = elements(script.at("hooks"));
    ASSERT_EQ(timed.size(), 2U);
    EXPECT_EQ(timed.at(1).at("start_time").get<double>(), 1.25);
    EXPECT_EQ(timed.at(1).at("payload").at("pes").get<std::string>(), "0x33000042");
    EXPECT_EQ(timed.at(1).at("payload").at("pause").get<double>(), 0.75);

    const auto animation = json_of(tool({"hooks", archive_, "0x03000001", "--json"}));
    const auto& replace = elements(animation.at("hooks")).at(2);
    EXPECT_EQ(replace.at("payload").at("part_id").get<std::string>(), "0x00010002");
    EXPECT_EQ(replace.at("data").get<std::string>(), "0101800200010203");
}

// Failed lookups and decodes exit with 1 and one "error:" line, and print nothing else.
TEST_F(QuillmereDatE2eTest, FailuresGiveOneClearErrorLine) {
    const auto missing = (dir_->path() / "missing.dat").string();
    // A failed read names the file, where it is stored, what failed and where to look.
    const std::string broken = "error: cannot read 0x33000002 at offset 2816: IO error: failed "
                               "to fill whole buffer (quillmere-dat verify " +
                               archive_ + " lists the archive's problems)";
    struct Case {
        std::vector<std::string> args;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{"info", missing},
         "error: Failed to open file at " + missing + ": No such file or directory"},
        {{"hooks", missing, "0x03000001"},
         "error: Failed to open file at " + missing + ": No such file or directory"},
        {{"cat", archive_, "0x03000077"}, "error: File ID 03000077 not found in provider"},
        {{"hooks", archive_, "0x03000077"}, "error: File ID 03000077 not found in provider"},
        {{"hooks", archive_, "0x01000001"},
         "error: 0x01000001 is not an animation (0x03......), setup model (0x02......) or "
         "physics script (0x33......)"},
        {{"hooks", archive_, "0x03000009", "--json"},
         "error: cannot decode 0x03000009 as an animation: failed to fill whole buffer; While "
         "parsing field 'z' in Vector3; While parsing field 'origin' in Frame"},
        {{"hooks", archive_, "0x33000002"}, broken},
        {{"cat", archive_, "0x33000002"}, broken},
        {{"ls", dir_->path().string()},
         "error: " + dir_->path().string() + " is not a regular file"},
    };
    for (const auto& c : cases) {
        const auto run = tool(c.args);
        EXPECT_EQ(run.status, 1) << c.error;
        EXPECT_EQ(run.err, c.error + "\n");
        // With --json the same failure is also the one document on standard output.
        const bool json = std::find(c.args.begin(), c.args.end(), "--json") != c.args.end();
        EXPECT_EQ(run.out, json ? dat_tool::error_document("failure", c.error.substr(7)) : "");
    }
}

TEST_F(QuillmereDatE2eTest, ArchivesThatAreNotArchivesFailToOpen) {
    const auto short_file = dir_->path() / "short.dat";
    testkit::write_file(short_file, std::vector<std::uint8_t>(350, 0));
    const auto run = tool({"info", short_file.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "error: Binary read error: failed to fill whole buffer; While parsing "
                       "field 'free_count' in DatHeader\n");
}

TEST_F(QuillmereDatE2eTest, AnEmptyArchiveHasNoTypeTable) {
    const auto path = dir_->path() / "empty.dat";
    testkit::ArchiveBuilder builder(1024);
    builder.write_to(path);
    const auto run = tool({"info", path.string()});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.ends_with("version_minor: 0\nentries: 0\n")) << run.out;
    EXPECT_EQ(elements(json_of(tool({"ls", path.string(), "--json"})).at("entries")).size(), 0U);
}

TEST_F(QuillmereDatE2eTest, BadUsageExitsWithTwo) {
    const auto run = tool({"hooks", archive_});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "error: missing ID\nusage: quillmere-dat hooks ARCHIVE ID [--json]\n");
    EXPECT_EQ(tool({}).status, 2);
    const auto help = tool({"hooks", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("usage: quillmere-dat hooks ARCHIVE ID [--json]\n"));
}

} // namespace
} // namespace quillmere::dat_tool
