// quillmere-dat diff as a user runs it: a repack, a pack and an intended --put on the demo
// archive; every kind of difference, hook differences and exit statuses on test-kit archives.
#include "demo_archive.hpp"
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/bytes.hpp"
#include "quillmere/testkit/portal_files.hpp"
#include "quillmere/testkit/temp_file.hpp"
#include "tool_run.hpp"

#include <algorithm>
#include <gtest/gtest.h>

namespace quillmere::dat_tool {
namespace {

namespace fs = std::filesystem;
using testing::elements;
using testing::json_of;
using testing::tool;
using testkit::AnimationFrameSpec;
using testkit::Bytes;
using testkit::Hook;

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

class DiffE2eTest : public ::testing::Test {
  protected:
    [[nodiscard]] std::string at(const std::string& name) const {
        return (dir_.path() / name).string();
    }
    testkit::TempDir dir_{"diff-e2e"};
};

// Repacked (every offset differs) and packed again from an extracted tree (compressed files
// compressed anew) the demo archive holds the same files; a repack with --put and --delete
// shows exactly that change.
TEST_F(DiffE2eTest, DemoArchiveRepackedIsTheSameAndAnIntendedChangeIsAllThatShows) {
    demo::DemoOptions options;
    options.seed = 5;
    options.files = 1200;
    options.scatter = true;
    demo::write_demo_archive(at("a.dat"), options);
    ASSERT_EQ(tool({"repack", at("a.dat"), at("b.dat")}).status, 0);

    const auto same = tool({"diff", at("a.dat"), at("b.dat")});
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(same.out, "same 1200, changed 0, only in A 0, only in B 0\n");
    EXPECT_EQ(same.err, "");

    ASSERT_EQ(tool({"extract", at("a.dat"), at("tree")}).status, 0);
    ASSERT_EQ(tool({"pack", at("tree"), at("c.dat")}).status, 0);
    const auto packed = tool({"diff", at("a.dat"), at("c.dat"), "--json"});
    const auto doc = json_of(packed);
    EXPECT_EQ(packed.status, elements(doc["changed"]).empty() ? 0 : 1);
    for (const auto& changed : elements(doc["changed"])) {
        EXPECT_EQ(changed["contents"], false) << changed.dump();
        EXPECT_EQ(changed["stored"], true) << changed.dump();
        EXPECT_TRUE(changed["fields"].empty()) << changed.dump();
    }

    // Replace the first file, add one of a type the demo has none of.
    const auto listed = json_of(tool({"ls", at("b.dat"), "--json"}));
    const auto first = listed["entries"][0]["id"].get<std::string>();
    testkit::write_file(at("new.bin"), std::vector<std::uint8_t>(77, 0x5A));
    ASSERT_EQ(tool({"repack", at("b.dat"), at("d.dat"), "--put", first + "=" + at("new.bin"),
                    "--put", "0x7F000001=" + at("new.bin")})
                  .status,
              0);
    const auto put = tool({"diff", at("a.dat"), at("d.dat")});
    EXPECT_EQ(put.status, 1);
    const auto lines = lines_of(put.out);
    ASSERT_GE(lines.size(), 3U);
    EXPECT_EQ(lines.back(), "same 1199, changed 1, only in A 0, only in B 1") << put.out;
    EXPECT_TRUE(lines.front().starts_with("~ " + first + " contents ")) << put.out;
    EXPECT_TRUE(lines.front().ends_with(" -> 77 bytes")) << put.out;
    EXPECT_EQ(lines[lines.size() - 2], "+ 0x7F000001 0x7F 77 bytes");
}

// Two archives made by hand that differ in every way diff reports.
class DiffKindsTest : public DiffE2eTest {
  protected:
    void SetUp() override {
        make(false).write_to(at("a.dat"));
        make(true).write_to(at("b.dat"));
    }

    static testkit::ArchiveBuilder make(bool b) {
        testkit::ArchiveBuilder builder(256);
        builder.header().game_version = b ? 46 : 45;
        builder.header().version_string[0] = b ? 0xAB : 0x00;
        builder.preamble_fill(b ? 0x11 : 0x22);
        const testkit::Frame part{{1.0f, 2.0f, 3.0f}, {1.0f, 0.0f, 0.0f, 0.0f}};

        // Frame 0's Sound changes its file; frame 1 gains a second hook.
        testkit::AnimationSpec animation;
        animation.part_frames = {
            AnimationFrameSpec{
                {part}, {Hook{1, 0, Bytes().u32(b ? 0x0A000009 : 0x0A000001).take()}}, {}},
            AnimationFrameSpec{{part}, {Hook{4, 0, {}}}, {}},
        };
        if (b) {
            animation.part_frames[1].hooks.push_back(Hook{4, 1, {}});
        }
        builder.add_file(0x03000001, testkit::build_animation(animation));

        // Placement -1 loses its NoOp.
        testkit::SetupModelSpec setup;
        setup.parts = {0x01000010};
        setup.placement_frames = {
            {5, AnimationFrameSpec{{part}, {Hook{12, 0, Bytes().f32(1.5f).f32(0.25f).take()}}, {}}},
            {-1, AnimationFrameSpec{{part}, {}, {}}},
        };
        if (!b) {
            setup.placement_frames[1].value.hooks.push_back(Hook{0, 0, {}});
        }
        builder.add_file(0x02000001, testkit::build_setup_model(setup), {.compress = true});

        // Entry 1 starts later.
        testkit::PhysicsScriptSpec script;
        script.id = 0x33000001;
        script.entries = {
            {0.5, Hook{1, 0, Bytes().u32(0x0A000002).take()}},
            {b ? 1.5 : 1.25, Hook{19, 0, Bytes().u32(0x33000042).f32(0.75f).take()}},
        };
        builder.add_file(0x33000001, testkit::build_physics_script(script));

        // Cut short in B: its decoder refuses it there.
        auto whole = testkit::build_animation(animation);
        if (b) {
            whole.resize(40);
        }
        builder.add_file(0x03000009, whole);

        builder.add_file(0x06000002, {1, 2, 3}, {.timestamp = b ? 7U : 5U});
        if (b) {
            builder.add_file(0x0A000001, std::vector<std::uint8_t>(1234, 7));
        } else {
            builder.add_file(0x06000001, std::vector<std::uint8_t>(10, 1));
        }
        return builder;
    }
};

TEST_F(DiffKindsTest, TextHasOneLinePerDifferenceInIdOrder) {
    const auto run = tool({"diff", at("a.dat"), at("b.dat")});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.err, "");
    const auto lines = lines_of(run.out);
    ASSERT_EQ(lines.size(), 11U) << run.out;
    EXPECT_EQ(lines[0], "header game_version 45 -> 46");
    EXPECT_EQ(lines[1], "header version_string 00000000000000000000000000000000 -> "
                        "AB000000000000000000000000000000");
    EXPECT_EQ(lines[2], "preamble differs");
    EXPECT_TRUE(lines[3].starts_with("~ 0x02000001 contents ")) << lines[3];
    EXPECT_TRUE(lines[4].starts_with("~ 0x03000001 contents ")) << lines[4];
    EXPECT_TRUE(lines[5].starts_with("~ 0x03000009 contents ")) << lines[5];
    EXPECT_EQ(lines[6], "- 0x06000001 0x06 10 bytes");
    EXPECT_EQ(lines[7], "~ 0x06000002 timestamp 5 -> 7");
    EXPECT_EQ(lines[8], "+ 0x0A000001 0x0A 1234 bytes");
    EXPECT_TRUE(lines[9].starts_with("~ 0x33000001 contents ")) << lines[9];
    EXPECT_EQ(lines[10], "same 0, changed 5, only in A 1, only in B 1");

    EXPECT_EQ(tool({"diff", at("a.dat"), at("a.dat")}).out,
              "same 6, changed 0, only in A 0, only in B 0\n");
    const auto typed = tool({"diff", at("a.dat"), at("b.dat"), "--type", "06"});
    EXPECT_EQ(lines_of(typed.out).back(), "same 0, changed 1, only in A 1, only in B 0");
}

// Each hook difference sits where it is and shows each side as `hooks --json` does.
TEST_F(DiffKindsTest, HooksAreMatchedByPlaceAndShownAsTheHooksCommandShowsThem) {
    const auto run = tool({"diff", at("a.dat"), at("b.dat"), "--hooks", "--json"});
    EXPECT_EQ(run.status, 1) << run.err;
    const auto doc = json_of(run);
    EXPECT_EQ(testing::keys(doc),
              (std::vector<std::string>{"a", "b", "header", "preamble", "only_in_a", "only_in_b",
                                        "changed", "summary"}));
    EXPECT_EQ(doc["summary"], testing::JsonDocument::parse(
                                  R"({"same":0,"changed":5,"only_in_a":1,"only_in_b":1})"));
    EXPECT_EQ(doc["header"][0],
              testing::JsonDocument::parse(R"({"field":"game_version","a":45,"b":46})"));
    EXPECT_EQ(doc["only_in_b"][0], testing::JsonDocument::parse(
                                       R"({"id":"0x0A000001","file_type":"0x0A","size":1234})"));

    const auto hook = [&](const std::string& archive, const std::string& id, std::size_t i) {
        return json_of(tool({"hooks", at(archive), id, "--json"}))["hooks"][i];
    };
    struct Expected {
        std::string id, file_type, change, where;
        testing::JsonDocument a, b;
    };
    const Expected expected[] = {
        {"0x02000001", "setup model", "removed", R"({"placement":-1,"index":0})",
         hook("a.dat", "0x02000001", 0), nullptr},
        {"0x03000001", "animation", "changed", R"({"frame":0,"index":0})",
         hook("a.dat", "0x03000001", 0), hook("b.dat", "0x03000001", 0)},
        {"0x03000001", "animation", "added", R"({"frame":1,"index":1})", nullptr,
         hook("b.dat", "0x03000001", 2)},
        {"0x33000001", "physics script", "changed", R"({"entry":1})",
         hook("a.dat", "0x33000001", 1), hook("b.dat", "0x33000001", 1)},
    };
    std::vector<testing::JsonDocument> got;
    for (const auto& changed : elements(doc["changed"])) {
        if (changed["hooks"].is_array()) {
            for (const auto& change : elements(changed["hooks"])) {
                auto item = change;
                item["id"] = changed["id"];
                item["file_type"] = changed["file_type"];
                got.push_back(item);
            }
        }
    }
    ASSERT_EQ(got.size(), std::size(expected)) << run.out;
    for (std::size_t i = 0; i < got.size(); ++i) {
        auto want = testing::JsonDocument::parse(R"({"change":")" + expected[i].change + "\"}");
        const auto where = testing::JsonDocument::parse(expected[i].where);
        for (const auto& [key, value] : where.items()) {
            want[key] = value;
        }
        want["a"] = expected[i].a;
        want["b"] = expected[i].b;
        want["id"] = expected[i].id;
        want["file_type"] = expected[i].file_type;
        EXPECT_EQ(got[i], want) << i;
    }
    // The cut animation: changed, with its decoder's error and no hook list.
    const auto& cut = doc["changed"][2];
    EXPECT_EQ(cut["id"], "0x03000009");
    EXPECT_TRUE(cut["hooks"].is_null());
    EXPECT_TRUE(cut["error"].get<std::string>().starts_with(
        "in B: cannot decode 0x03000009 as an animation: "))
        << cut.dump();
    // Only a timestamp differs: decoded, no hook differences.
    EXPECT_EQ(doc["changed"][3]["fields"], testing::JsonDocument::parse(R"({"timestamp":[5,7]})"));

    const auto text = lines_of(tool({"diff", at("a.dat"), at("b.dat"), "--hooks"}).out);
    const auto has = [&](const std::string& prefix) {
        return std::ranges::any_of(text,
                                   [&](const auto& line) { return line.starts_with(prefix); });
    };
    EXPECT_TRUE(has("~ 0x02000001 hook placement -1 #0 removed: NoOp (0)  direction=0"));
    EXPECT_TRUE(has("~ 0x03000001 hook frame 0 #0 changed: Sound (1)  direction=0  "));
    EXPECT_TRUE(has("~ 0x03000001 hook frame 1 #1 added: AnimationDone (4)  direction=1"));
    EXPECT_TRUE(has("~ 0x33000001 hook entry 1 changed: time 1.25  CallPES (19)"));
    EXPECT_TRUE(has("~ 0x03000009 in B: cannot decode 0x03000009 as an animation: "));
}

TEST_F(DiffKindsTest, ExitStatusIsTwoForAnArchiveThatCannotBeRead) {
    const auto missing = tool({"diff", at("a.dat"), at("missing.dat")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(lines_of(missing.err).size(), 1U);
    EXPECT_TRUE(missing.err.starts_with("error: ")) << missing.err;
    testkit::write_file(at("short.dat"), std::vector<std::uint8_t>(100, 0));
    EXPECT_EQ(tool({"diff", at("short.dat"), at("a.dat")}).status, 2);
    EXPECT_EQ(tool({"diff", at("a.dat")}).status, 2);
}

} // namespace
} // namespace quillmere::dat_tool
