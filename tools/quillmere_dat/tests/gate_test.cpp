// The writing commands on damaged archives: each damage is found before anything is written;
// an error refuses the copy, any problem refuses a write in place, and --force copies what reads
// into an archive that verifies clean. Also the checked reads of cat.
#include "command_line.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/common/random.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/verifier.hpp"
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/temp_file.hpp"
#include "write_checks.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <sstream>

namespace quillmere::dat_tool {
namespace {

namespace fs = std::filesystem;
using Buffer = std::vector<std::uint8_t>;
using testing::bytes_of;
using testing::expect_clean;
using testing::names_in;

using Result = testing::InProcessRun;
constexpr auto tool = &testing::run_here;

// Offsets within a directory node's payload (the node's first block holds them all for the
// entries patched here, with 1024-byte blocks).
constexpr std::uint64_t kEntryCountAt = 4 + 248;
std::uint64_t entry_at(std::size_t index) {
    return kEntryCountAt + 4 + 24 * index;
}

void put_u32(Buffer& bytes, std::uint64_t at, std::uint32_t value) {
    common::store_le(bytes.data() + at, value);
}

std::uint32_t get_u32(const Buffer& bytes, std::uint64_t at) {
    return common::load_le<std::uint32_t>(bytes.data() + at);
}

struct Damage {
    std::string name;
    bool has_errors;
    std::function<void(Buffer&, std::uint32_t leaf)> apply;
};

// 130 plain files under a two-level directory, so that every damage leaves files readable.
class GateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testkit::ArchiveBuilder builder(1024);
        common::SplitMix64 random(4);
        for (std::uint32_t i = 0; i < 130; ++i) {
            Buffer contents(100 + random.below(700));
            for (auto& byte : contents) {
                byte = static_cast<std::uint8_t>(random.below(256));
            }
            builder.add_file(0x06000000 | i, contents, {.timestamp = i});
        }
        sound_ = builder.build();
        for (const auto& [offset, node] : builder.auto_nodes()) {
            if (node.entries.size() > 20 && get_u32(sound_, offset + 4) == 0) {
                leaf_ = offset;
            }
        }
        ASSERT_NE(leaf_, 0U);
    }

    [[nodiscard]] std::string at(const std::string& name) const {
        return (dir_.path() / name).string();
    }

    static std::vector<Damage> damages() {
        const auto root = [](Buffer& b, std::uint32_t value) { put_u32(b, 352, value); };
        return {
            {"moved root", false, [&](Buffer& b, auto) { root(b, get_u32(b, 352) + 4); }},
            {"zero root", false, [&](Buffer& b, auto) { root(b, 0); }},
            {"emptied leaf", false,
             [](Buffer& b, auto leaf) { put_u32(b, leaf + kEntryCountAt, 0); }},
            {"flag on a plain file", true,
             [](Buffer& b, auto leaf) { put_u32(b, leaf + entry_at(3), 1); }},
            {"duplicate id", true,
             [](Buffer& b, auto leaf) {
                 put_u32(b, leaf + entry_at(4) + 4, get_u32(b, leaf + entry_at(3) + 4));
             }},
            {"shared blocks", true,
             [](Buffer& b, auto leaf) {
                 put_u32(b, leaf + entry_at(4) + 8, get_u32(b, leaf + entry_at(3) + 8));
             }},
        };
    }

    testkit::TempDir dir_{"gate"};
    Buffer sound_;
    std::uint32_t leaf_ = 0;
};

TEST_F(GateTest, DamageIsFoundBeforeAnythingIsWritten) {
    for (const Damage& damage : damages()) {
        SCOPED_TRACE(damage.name);
        Buffer damaged = sound_;
        damage.apply(damaged, leaf_);
        const std::string in = at("in.dat");
        testkit::write_file(in, damaged);

        const auto report = dat::verify_archive(in);
        ASSERT_TRUE(report);
        EXPECT_EQ(report->has_errors(), damage.has_errors);
        EXPECT_NE(report->error_count + report->warning_count, 0U);

        // In place, any problem refuses and leaves the archive as it was.
        const Result in_place = tool({"repack", in, in});
        EXPECT_EQ(in_place.status, 1);
        const std::string last_line = in_place.err.substr(in_place.err.rfind("error: "));
        EXPECT_TRUE(last_line.starts_with("error: " + in + " has ")) << last_line;
        EXPECT_TRUE(last_line.ends_with(
            "; nothing was written" +
            std::string(damage.has_errors
                            ? ""
                            : ", since writing an archive in place needs one without problems") +
            " (quillmere-dat verify " + in + " lists them; --force copies what can be read)\n"))
            << last_line;
        EXPECT_EQ(bytes_of(in), damaged);

        // Elsewhere, only an error refuses; warnings are shown and the copy goes on.
        const Result copy = tool({"repack", in, at("out.dat")});
        const Result tree = tool({"extract", in, at("tree")});
        EXPECT_EQ(copy.status, damage.has_errors ? 1 : 0) << copy.err;
        EXPECT_EQ(tree.status, copy.status) << tree.err;
        EXPECT_EQ(fs::exists(at("out.dat")), !damage.has_errors);
        EXPECT_EQ(fs::exists(at("tree")), !damage.has_errors);
        if (!damage.has_errors) {
            expect_clean(at("out.dat"));
        }

        // --force copies what reads, into an archive without a problem.
        const Result forced = tool({"repack", in, at("forced.dat"), "--force"});
        EXPECT_EQ(forced.status, 0) << forced.err;
        expect_clean(at("forced.dat"));
        const auto db = dat::DatDatabase::open(at("forced.dat"));
        ASSERT_TRUE(db);
        EXPECT_FALSE(db->files().empty() && damage.has_errors);
        const Result forced_tree = tool({"extract", in, at("forced-tree"), "--force"});
        EXPECT_EQ(forced_tree.status, 0) << forced_tree.err;
        for (const char* name : {"out.dat", "forced.dat", "tree", "forced-tree"}) {
            fs::remove_all(at(name));
        }
        EXPECT_EQ(names_in(dir_.path()), std::vector<std::string>{"in.dat"});
    }
}

// A plain file flagged compressed is no stream: cat and extract refuse it rather than give a
// short file, and --force leaves it out, named.
TEST_F(GateTest, AFileThatIsNoWholeStreamIsNeverPassedOnShort) {
    Buffer damaged = sound_;
    put_u32(damaged, leaf_ + entry_at(3), 1);
    const std::uint32_t id = get_u32(damaged, leaf_ + entry_at(3) + 4);
    const std::uint32_t offset = get_u32(damaged, leaf_ + entry_at(3) + 8);
    const std::string in = at("in.dat");
    testkit::write_file(in, damaged);

    const Result cat = tool({"cat", in, "0x" + common::hex8(id)});
    EXPECT_EQ(cat.status, 1);
    EXPECT_EQ(cat.out, "");
    EXPECT_EQ(cat.err, "error: cannot read 0x" + common::hex8(id) + " at offset " +
                           std::to_string(offset) +
                           ": its compressed stream gives fewer bytes than its size word "
                           "declares (quillmere-dat verify " +
                           in + " lists the archive's problems)\n");

    const Result forced = tool({"extract", in, at("tree"), "--force"});
    EXPECT_EQ(forced.status, 0);
    const std::string left_out = "left out 0x" + common::hex8(id) + " at offset " +
                                 std::to_string(offset) +
                                 ": its compressed stream gives fewer bytes than its size word "
                                 "declares\n";
    EXPECT_TRUE(forced.err.ends_with(left_out)) << forced.err;
    EXPECT_FALSE(fs::exists(at("tree/06/" + common::hex8(id) + ".bin")));
    EXPECT_EQ(std::distance(fs::directory_iterator(at("tree/06")), fs::directory_iterator()), 129);

    const Result repacked = tool({"repack", in, at("out.dat"), "--force"});
    EXPECT_TRUE(repacked.err.ends_with(left_out)) << repacked.err;
    const auto db = dat::DatDatabase::open(at("out.dat"));
    ASSERT_TRUE(db);
    EXPECT_EQ(db->files().size(), 129U);
    EXPECT_FALSE(db->files().contains(id));
}

} // namespace
} // namespace quillmere::dat_tool
