// extract, pack and repack run in-process on test-kit archives: every file and stored byte kept,
// --put, --delete and --compress doing exactly what they say, and every refusal leaving every
// file as it was.
#include "command_line.hpp"
#include "manifest.hpp"
#include "quillmere/common/le.hpp"
#include "quillmere/common/random.hpp"
#include "quillmere/common/text.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/lrs.hpp"
#include "quillmere/dat/verifier.hpp"
#include "quillmere/testkit/archive_builder.hpp"
#include "quillmere/testkit/temp_file.hpp"
#include "sample_archive.hpp"
#include "write_checks.hpp"

#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace quillmere::dat_tool {
namespace {

namespace fs = std::filesystem;
using testing::bytes_of;
using testing::expect_clean;
using testing::expect_same_files;
using testing::names_in;

using Result = testing::InProcessRun;
constexpr auto tool = &testing::run_here;

// A clean archive with what a copy could lose: blocks in shuffled order, a free block (a chain no
// entry uses, listed as the free list), plain and compressed files (compressed by the test kit's
// own compressor), flag bits above bit 0, an empty file, extreme field values, two directory
// levels.
testkit::ArchiveBuilder source_archive() {
    testkit::ArchiveBuilder builder(256);
    builder.shuffle_blocks(5);
    auto& h = builder.header();
    h.dataset = 3;
    h.subset = 4;
    h.new_lru = 5;
    h.old_lru = 6;
    h.use_lru = 7;
    h.master_map_id = 0x0E000001;
    h.engine_version = 8;
    h.game_version = 9;
    h.version_minor = 10;
    for (std::uint8_t i = 0; i < 16; ++i) {
        h.version_string[i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    const testkit::ChainRef spare = builder.add_chain(std::vector<std::uint8_t>(200, 0xEE));
    // Types the verifier does not decode, so that random contents are fine.
    constexpr std::uint32_t kTypes[] = {0x01, 0x04, 0x05, 0x06, 0x08};
    common::SplitMix64 random(9);
    for (std::uint32_t i = 0; i < 130; ++i) {
        std::vector<std::uint8_t> contents(random.below(900));
        for (auto& byte : contents) {
            byte = static_cast<std::uint8_t>('a' + random.below(4));
        }
        builder.add_file(kTypes[i % 5] << 24 | i, contents,
                         {.compress = i % 3 == 0,
                          .bit_flags = i % 7 == 0 ? 0x100U : 0U,
                          .timestamp = 1'700'000'000 + i,
                          .version = i});
    }
    builder.add_file(0x0A000001, {1, 2}, {.compress = true});
    builder.add_file(0x0A000002, {}, {.timestamp = 0xFFFFFFFF, .version = 0xFFFFFFFF});
    // The layout is fixed by the seed, so a first build tells where the free block lies.
    (void)builder.build();
    h.free_head = h.free_tail = builder.resolve(spare);
    h.free_count = 1;
    return builder;
}

class WriteCommandsTest : public ::testing::Test {
  protected:
    void SetUp() override { source_archive().write_to(a_); }

    [[nodiscard]] std::string at(const std::string& name) const {
        return (dir_.path() / name).string();
    }

    testkit::TempDir dir_{"write-commands"};
    std::string a_ = at("a.dat");
};

TEST_F(WriteCommandsTest, RepackKeepsEveryStoredByteAndDropsUnusedSpace) {
    expect_clean(a_);
    const auto before = bytes_of(a_);
    const auto run = tool({"repack", a_, at("b.dat")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "");
    expect_clean(at("b.dat"));
    expect_same_files(a_, at("b.dat"), testing::Stored::Same);
    EXPECT_LT(fs::file_size(at("b.dat")), before.size());
    auto a = dat::DatDatabase::open(a_);
    auto b = dat::DatDatabase::open(at("b.dat"));
    ASSERT_TRUE(a && b);
    // The layout fields describe the new archive (its free list is empty); the bytes before
    // the header are copied.
    dat::DatHeader expected = a->header();
    expected.file_size = b->header().file_size;
    expected.root_offset = b->header().root_offset;
    expected.free_head = expected.free_tail = expected.free_count = 0;
    EXPECT_EQ(b->header(), expected);
    EXPECT_EQ(*b->read_preamble(), *a->read_preamble());
    EXPECT_EQ(a->read_preamble()->front(), 0xEE);

    // Deterministic, and an archive may be repacked onto itself.
    EXPECT_EQ(tool({"repack", a_, at("c.dat")}).status, 0);
    EXPECT_EQ(bytes_of(at("c.dat")), bytes_of(at("b.dat")));
    EXPECT_EQ(tool({"repack", at("b.dat"), at("b.dat")}).status, 0);
    EXPECT_EQ(bytes_of(at("b.dat")), bytes_of(at("c.dat")));
    EXPECT_EQ(bytes_of(a_), before);
    EXPECT_EQ(names_in(dir_.path()), (std::vector<std::string>{"a.dat", "b.dat", "c.dat"}));
}

TEST_F(WriteCommandsTest, ExtractThenPackKeepsEveryFile) {
    const auto before = bytes_of(a_);
    fs::create_directory(at("tree"));
    const auto extracted = tool({"extract", a_, at("tree")});
    EXPECT_EQ(extracted.status, 0) << extracted.err;
    EXPECT_EQ(extracted.out + extracted.err, "");
    EXPECT_EQ(names_in(at("tree")),
              (std::vector<std::string>{"01", "04", "05", "06", "08", "0A", "manifest.json"}));
    EXPECT_EQ(bytes_of(at("tree/0A/0A000001.bin")), (std::vector<std::uint8_t>{1, 2}));

    const auto packed = tool({"pack", at("tree"), at("c.dat")});
    EXPECT_EQ(packed.status, 0) << packed.err;
    EXPECT_EQ(packed.out + packed.err, "");
    expect_clean(at("c.dat"));
    expect_same_files(a_, at("c.dat"), testing::Stored::Recompressed);
    auto a = dat::DatDatabase::open(a_);
    auto c = dat::DatDatabase::open(at("c.dat"));
    ASSERT_TRUE(a && c);
    EXPECT_EQ(c->header().block_size, 256U);
    EXPECT_EQ(c->header().version_string, a->header().version_string);
    EXPECT_EQ(c->header().master_map_id, a->header().master_map_id);
    EXPECT_EQ(*c->read_preamble(), *a->read_preamble());
    EXPECT_EQ(tool({"pack", at("tree"), at("d.dat")}).status, 0);
    EXPECT_EQ(bytes_of(at("d.dat")), bytes_of(at("c.dat")));
    // A dry run says what the real run writes, and writes nothing.
    const auto rehearsed = tool({"pack", at("tree"), at("e.dat"), "--dry-run", "--json"});
    const auto real = tool({"pack", at("tree"), at("f.dat"), "--json"});
    EXPECT_FALSE(fs::exists(at("e.dat")));
    EXPECT_EQ(rehearsed.out.substr(rehearsed.out.find("\"files\"")),
              real.out.substr(real.out.find("\"files\"")));
    EXPECT_NE(real.out.find("\"files\": " + std::to_string(c->files().size()) + ","),
              std::string::npos)
        << real.out;
    fs::remove(at("f.dat"));
    EXPECT_EQ(bytes_of(a_), before);

    EXPECT_EQ(tool({"extract", a_, at("only"), "--type", "0A"}).status, 0);
    EXPECT_EQ(names_in(at("only")), (std::vector<std::string>{"0A", "manifest.json"}));
    EXPECT_EQ(tool({"pack", at("only"), at("e.dat")}).status, 0);
    EXPECT_EQ(dat::DatDatabase::open(at("e.dat"))->files().size(), 2U);
    EXPECT_EQ(tool({"extract", a_, at("lowest"), "--type", "1"}).status, 0);
    EXPECT_EQ(names_in(at("lowest")), (std::vector<std::string>{"01", "manifest.json"}));
    EXPECT_EQ(names_in(at("lowest/01")).size(), 26U);
}

TEST_F(WriteCommandsTest, PutDeleteAndCompressChangeOnlyWhatTheyName) {
    const std::vector<std::uint8_t> replacement(700, 'r');
    const std::vector<std::uint8_t> addition = {'n', 'e', 'w'};
    testkit::write_file(at("r.bin"), replacement);
    testkit::write_file(at("n.bin"), addition);
    constexpr std::uint32_t kReplaced = 0x01000000;  // compressed, flags 0x101, version 0
    constexpr std::uint32_t kVersioned = 0x04000015; // compressed, flags 0x101, version 21
    constexpr std::uint32_t kAdded = 0x0B000001;
    constexpr std::uint32_t kDeleted = 0x0A000002;
    auto a = dat::DatDatabase::open(a_);
    ASSERT_TRUE(a);
    for (const bool compress : {false, true}) {
        std::vector<std::string> args = {"repack",    a_,
                                         at("b.dat"), "--put=0x01000000=" + at("r.bin"),
                                         "--put",     "b000001=" + at("n.bin"),
                                         "--put",     "4000015=" + at("r.bin"),
                                         "--delete",  "0x0A000002"};
        if (compress) {
            args.push_back("--compress");
        }
        const auto run = tool(args);
        ASSERT_EQ(run.status, 0) << run.err;
        expect_clean(at("b.dat"));
        auto b = dat::DatDatabase::open(at("b.dat"));
        ASSERT_TRUE(b);
        EXPECT_EQ(b->files().size(), a->files().size());
        EXPECT_FALSE(b->files().contains(kDeleted));
        const auto stored_form = [&](const std::vector<std::uint8_t>& contents) {
            return compress ? dat::utils::compress_lrs(contents) : contents;
        };
        for (const auto& [id, entry] : b->files()) {
            const auto stored = b->read_file_data(entry.offset, entry.size);
            ASSERT_TRUE(stored);
            dat::DatFileEntry expected = entry;
            if (id == kReplaced || id == kVersioned || id == kAdded) {
                const auto& contents = id == kAdded ? addition : replacement;
                const auto& old = id == kAdded ? dat::DatFileEntry{} : a->files().at(id);
                expected.bit_flags = (old.bit_flags & ~1U) | (compress ? 1U : 0U);
                expected.timestamp = old.timestamp;
                expected.version = old.version;
                EXPECT_EQ(*stored, stored_form(contents)) << std::hex << id;
                EXPECT_EQ(b->get_file(id), contents) << std::hex << id;
            } else {
                const auto& old = a->files().at(id);
                expected = {old.bit_flags, id, entry.offset, old.size, old.timestamp, old.version};
                EXPECT_EQ(*stored, a->read_file_data(old.offset, old.size)) << std::hex << id;
            }
            EXPECT_EQ(entry, expected) << std::hex << id;
        }
    }
}

// Compression chosen per file; a dry run checks and counts as the real run does but writes
// nothing; --json says what was written.
TEST_F(WriteCommandsTest, PerFileCompressionDryRunsAndSummaries) {
    testkit::write_file(at("r.bin"), std::vector<std::uint8_t>(700, 'r'));
    const std::vector<std::string> args = {
        "repack",           a_,      at("b.dat"),       "--put-compressed",
        "1=" + at("r.bin"), "--put", "2=" + at("r.bin")};
    auto dry = args;
    dry.push_back("--dry-run");
    const auto rehearsed = tool(dry);
    EXPECT_EQ(rehearsed.status, 0) << rehearsed.err;
    EXPECT_FALSE(fs::exists(at("b.dat")));
    EXPECT_EQ(names_in(dir_.path()), (std::vector<std::string>{"a.dat", "r.bin"}));

    auto json = args;
    json.push_back("--json");
    const auto written = tool(json);
    ASSERT_EQ(written.status, 0) << written.err;
    const auto b = dat::DatDatabase::open(at("b.dat"));
    ASSERT_TRUE(b);
    EXPECT_TRUE(b->files().at(1).is_compressed());
    EXPECT_FALSE(b->files().at(2).is_compressed());
    EXPECT_EQ(*b->get_file(1), *b->get_file(2));
    std::uint64_t bytes = 0;
    std::uint64_t compressed = 0;
    for (const auto& [id, entry] : b->files()) {
        bytes += entry.size;
        compressed += entry.is_compressed() ? 1U : 0U;
    }
    const std::string counts = std::to_string(b->files().size()) + " files, " +
                               std::to_string(bytes) + " bytes, " + std::to_string(compressed) +
                               " compressed, 0 left out\n";
    EXPECT_EQ(rehearsed.out, "repack would write " + at("b.dat") + ": " + counts);
    EXPECT_EQ(written.out,
              "{\n  \"command\": \"repack\",\n  \"output\": " + common::json_quote(at("b.dat")) +
                  ",\n  \"dry_run\": false,\n  \"files\": " + std::to_string(b->files().size()) +
                  ",\n  \"bytes\": " + std::to_string(bytes) + ",\n  \"compressed\": " +
                  std::to_string(compressed) + ",\n  \"left_out\": []\n}\n");
}

// extract takes some files by id (and type); a dry run reads and counts them, writing nothing.
TEST_F(WriteCommandsTest, ExtractTakesIdsAndRehearses) {
    testkit::write_file(at("ids.txt"), std::vector<std::uint8_t>{'0', 'x', '4', '0', '0', '0', '0',
                                                                 '0', '1', '\n'});
    const auto dry = tool({"extract", a_, at("tree"), "--id", "0x0A000001", "--id", "0x01000000",
                           "--ids-from", at("ids.txt"), "--dry-run"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(dry.out,
              "extract would write " + at("tree") + ": 3 files, " +
                  std::to_string(2 + dat::DatDatabase::open(a_)->get_file(0x01000000)->size() +
                                 dat::DatDatabase::open(a_)->get_file(0x04000001)->size()) +
                  " bytes, 0 compressed, 0 left out\n");
    EXPECT_FALSE(fs::exists(at("tree")));

    const auto typed = tool({"extract", a_, at("tree"), "--type", "0A", "--id", "0x0A000001",
                             "--id", "0x01000000", "--json"});
    EXPECT_EQ(typed.status, 0) << typed.err;
    EXPECT_NE(typed.out.find("\"files\": 1,"), std::string::npos) << typed.out;
    EXPECT_EQ(names_in(at("tree")), (std::vector<std::string>{"0A", "manifest.json"}));
    EXPECT_EQ(names_in(at("tree/0A")), std::vector<std::string>{"0A000001.bin"});

    const auto unknown = tool({"extract", a_, at("other"), "--id", "0x0C000001"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err, "error: cannot extract 0x0C000001: no such file in " + a_ + "\n");
}

// A tree four times the 16 MiB that the reading may run ahead of the writer, in files small
// enough to fill several batches of reading: the reading keeps pace with the writer to the end.
TEST_F(WriteCommandsTest, PackTakesATreeLargerThanItsReadAheadWindow) {
    constexpr std::uint32_t kFiles = 512;
    const auto contents = [](std::uint32_t index) {
        std::vector<std::uint8_t> bytes(std::size_t{128} << 10, static_cast<std::uint8_t>(index));
        common::store_le(bytes.data(), index);
        return bytes;
    };
    Manifest manifest;
    manifest.header.block_size = 4096;
    fs::create_directories(at("big/06"));
    for (std::uint32_t i = 0; i < kFiles; ++i) {
        manifest.files.push_back({0x06000000 + i, 0, i, i});
        testkit::write_file(at("big/" + content_path(0x06000000 + i)), contents(i));
    }
    const std::string text = render_manifest(manifest);
    testkit::write_file(at("big/manifest.json"),
                        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));

    const auto packed = tool({"pack", at("big"), at("big.dat")});
    ASSERT_EQ(packed.status, 0) << packed.err;
    auto db = dat::DatDatabase::open(at("big.dat"));
    ASSERT_TRUE(db);
    ASSERT_EQ(db->files().size(), kFiles);
    for (std::uint32_t i = 0; i < kFiles; ++i) {
        EXPECT_EQ(db->get_file(0x06000000 + i), contents(i)) << i;
        EXPECT_EQ(db->files().at(0x06000000 + i).version, i);
    }
}

TEST_F(WriteCommandsTest, RefusalsLeaveEveryFileAsItWas) {
    const std::string damaged = at("damaged.dat");
    sample::sample_archive().write_to(damaged);
    testkit::write_file(at("old.dat"), std::vector<std::uint8_t>{'o', 'l', 'd'});
    fs::create_directories(at("full/x"));
    ASSERT_EQ(tool({"extract", a_, at("tree")}).status, 0);
    fs::copy(at("tree"), at("missing"), fs::copy_options::recursive);
    fs::remove(at("missing/0A/0A000001.bin"));
    fs::copy(at("tree"), at("extra"), fs::copy_options::recursive);
    fs::create_directory(at("extra/0C"));
    testkit::write_file(at("extra/0C/0C000001.bin"), {});
    // Read on the second thread, after the files before it: never waited on, like any FIFO.
    fs::copy(at("tree"), at("fifo"), fs::copy_options::recursive);
    fs::remove(at("fifo/0A/0A000001.bin"));
    ASSERT_EQ(::mkfifo(at("fifo/0A/0A000001.bin").c_str(), 0600), 0);
    fs::copy(at("tree"), at("future"), fs::copy_options::recursive);
    testkit::write_file(
        at("future/manifest.json"),
        std::vector<std::uint8_t>{'{', '"', 'f', 'o', 'r', 'm', 'a', 't', '"', ':', '3', '}'});
    const std::string usage = "usage: quillmere-dat repack IN OUT [--put ID=FILE]... "
                              "[--put-compressed ID=FILE]... [--delete ID]... [--compress] "
                              "[--force] [--dry-run] [--json]\n";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    // The check before writing shows what it found in the damaged archive, then refuses.
    const std::string refused =
        "error file_unreadable 0x33000002 at 2147483392: its chain from offset 2816 cannot be "
        "read in full: the block at offset 2147483392 runs past the end of the archive (5376 "
        "bytes)\n"
        "warning unreachable - at 3072: 512 bytes that no file, directory node or free-list "
        "block holds\n"
        "error: " +
        damaged + " has 1 error; nothing was written (quillmere-dat verify " + damaged +
        " lists them; --force copies what can be read)\n";
    const std::vector<Case> cases = {
        {{"repack", damaged, at("old.dat")}, 1, refused},
        {{"repack", a_, at("old.dat"), "--delete", "0C000001"},
         1,
         "error: cannot delete 0x0C000001: no such file in " + a_ + "\n"},
        {{"repack", a_, at("old.dat"), "--put", "1=" + at("none.bin")},
         1,
         "error: cannot read " + at("none.bin") + ": No such file or directory\n"},
        {{"repack", a_, at("full")},
         1,
         "error: Failed to open file at " + at("full") + ": Is a directory\n"},
        {{"repack", a_, at("old.dat"), "--put", "1=x", "--put", "0x00000001=y"},
         2,
         "error: file 0x00000001 is given to --put twice\n" + usage},
        {{"repack", a_, at("old.dat"), "--delete", "2", "--delete", "0x2"},
         2,
         "error: file 0x00000002 is given to --delete twice\n" + usage},
        {{"repack", a_, at("old.dat"), "--put", "3=x", "--delete", "3"},
         2,
         "error: file 0x00000003 is given to both --put and --delete\n" + usage},
        {{"repack", a_, at("old.dat"), "--compress"},
         2,
         "error: --compress applies to the files of --put, and none is given\n" + usage},
        {{"extract", damaged, at("new")}, 1, refused},
        {{"extract", a_, at("full")},
         1,
         "error: cannot extract into " + at("full") + ": the directory is not empty\n"},
        {{"extract", a_, at("old.dat")},
         1,
         "error: cannot extract into " + at("old.dat") + ": it exists and is not a directory\n"},
        {{"pack", at("full"), at("old.dat")},
         1,
         "error: cannot read " + at("full/manifest.json") + ": No such file or directory\n"},
        {{"pack", at("missing"), at("old.dat")},
         1,
         "error: missing " + at("missing/0A/0A000001.bin") +
             " for file 0x0A000001 of the "
             "manifest\n"},
        {{"pack", at("extra"), at("old.dat")},
         1,
         "error: " + at("extra/0C/0C000001.bin") + " is not named in the manifest\n"},
        {{"pack", at("fifo"), at("old.dat")},
         1,
         "error: cannot read " + at("fifo/0A/0A000001.bin") + ": not a regular file\n"},
        {{"pack", at("future"), at("old.dat")},
         1,
         "error: " + at("future/manifest.json") +
             ": format 3 is not supported (this quillmere-dat reads formats 1 to 2) at byte 10\n"},
    };
    const auto a_bytes = bytes_of(a_);
    const auto names = names_in(dir_.path());
    for (const auto& c : cases) {
        const auto run = tool(c.args);
        EXPECT_EQ(run.status, c.status) << c.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(names_in(dir_.path()), names) << c.err;
        EXPECT_EQ(bytes_of(at("old.dat")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
        EXPECT_EQ(bytes_of(a_), a_bytes);
    }
}

} // namespace
} // namespace quillmere::dat_tool
