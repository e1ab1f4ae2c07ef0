// manifest.json: its exact text, its reading back in any member order, and the refusal of every
// manifest that is not exactly of its form, each with the offset of the offending value.
#include "manifest.hpp"

#include <gtest/gtest.h>

namespace quillmere::dat_tool {
namespace {

Manifest sample_manifest() {
    Manifest manifest;
    dat::DatHeader& h = manifest.header;
    h.magic = 0x4C51;
    h.block_size = 256;
    h.dataset = 1;
    h.subset = 2;
    h.new_lru = 3;
    h.old_lru = 4;
    h.use_lru = 5;
    h.master_map_id = 6;
    h.engine_version = 7;
    h.game_version = 8;
    h.version_minor = 9;
    for (std::uint8_t b = 0x10; b < 0x20; ++b) {
        h.version_string.push_back(b);
    }
    manifest.files = {{0x03000001, 1, 2, 3}, {0x0A000002, 0x100, 0xFFFFFFFF, 0}};
    for (std::size_t i = 0; i < manifest.preamble.size(); ++i) {
        manifest.preamble[i] = static_cast<std::uint8_t>(i * 7);
    }
    return manifest;
}

std::string sample_preamble_hex() {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (std::size_t i = 0; i < dat::kPreambleSize; ++i) {
        const auto byte = static_cast<std::uint8_t>(i * 7);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

const std::string kSampleText = R"({
  "format": 2,
  "preamble": ")" + sample_preamble_hex() +
                                R"(",
  "header": {
    "magic": 19537,
    "block_size": 256,
    "dataset": 1,
    "subset": 2,
    "new_lru": 3,
    "old_lru": 4,
    "use_lru": 5,
    "master_map_id": 6,
    "engine_version": 7,
    "game_version": 8,
    "version_string": "101112131415161718191A1B1C1D1E1F",
    "version_minor": 9
  },
  "files": [
    {"id": "0x03000001", "bit_flags": 1, "timestamp": 2, "version": 3},
    {"id": "0x0A000002", "bit_flags": 256, "timestamp": 4294967295, "version": 0}
  ]
}
)";

void expect_same(const Manifest& a, const Manifest& b) {
    EXPECT_EQ(a.header, b.header);
    EXPECT_EQ(a.files, b.files);
    EXPECT_EQ(a.preamble, b.preamble);
}

TEST(ManifestTest, WrittenAsDocumentedAndReadBack) {
    Manifest manifest = sample_manifest();
    // The layout fields are left out; they read back as 0.
    manifest.header.file_size = 1;
    manifest.header.root_offset = 2;
    manifest.header.free_head = 3;
    manifest.header.free_tail = 4;
    manifest.header.free_count = 5;
    EXPECT_EQ(render_manifest(manifest), kSampleText);
    const auto read = read_manifest(kSampleText);
    ASSERT_TRUE(read) << read.error();
    expect_same(*read, sample_manifest());

    const Manifest empty{sample_manifest().header, {}};
    const std::string text = render_manifest(empty);
    EXPECT_TRUE(text.ends_with("  },\n  \"files\": []\n}\n")) << text;
    ASSERT_TRUE(read_manifest(text));
    EXPECT_TRUE(read_manifest(text)->files.empty());
}

TEST(ManifestTest, MembersMayComeInAnyOrder) {
    const std::string text =
        R"({"files": [{"version": 3, "timestamp": 2, "bit_flags": 1, "id": "0x03000001"},)"
        R"({"bit_flags": 256, "id": "0x0a000002", "version": 0, "timestamp": 4294967295}],)"
        R"("header": {"version_minor": 9, "version_string": "101112131415161718191a1b1c1d1e1f",)"
        R"("game_version": 8, "engine_version": 7, "master_map_id": 6, "use_lru": 5,)"
        R"("old_lru": 4, "new_lru": 3, "subset": 2, "dataset": 1, "block_size": 256,)"
        R"("magic": 19537}, "format": 1})";
    const auto read = read_manifest(text);
    ASSERT_TRUE(read) << read.error();
    // Format 1 has no preamble: the bytes before the header read back as zeros.
    Manifest expected = sample_manifest();
    expected.preamble.fill(0);
    expect_same(*read, expected);
}

TEST(ManifestTest, AnythingButItsExactFormIsRefused) {
    struct Case {
        std::string from;
        std::string to;
        std::string error;
        // Where the error points in the changed text.
        std::string at;
    };
    const std::string second_entry = R"({"id": "0x0A000002")";
    const std::vector<Case> cases = {
        {"\"format\": 2", "\"format\": 3",
         "format 3 is not supported (this quillmere-dat reads formats 1 to 2)",
         "3,\n  \"preamble\""},
        {"\"format\": 2,", "", "member 'format' is missing", "{"},
        {"\"format\": 2,", "\"extra\": [[{}]], \"format\": 0,",
         "format 0 is not supported (this quillmere-dat reads formats 1 to 2)",
         "0,\n  \"preamble\""},
        {"\"format\": 2,", "\"format\": 2, \"format\": 2,", "member 'format' given twice",
         "2,\n  \"preamble\""},
        {"\"format\": 2,", "\"format\": 2, \"extra\": null,", "unknown member 'extra'", "null"},
        {"\"format\": 2,", "\"format\": 1,", "unknown member 'preamble'",
         "\"" + sample_preamble_hex()},
        {"\"preamble\"", "\"header\": {}, \"preamble\"", "header field 'magic' is missing", "{}"},
        {"\"preamble\": \"" + sample_preamble_hex() + "\",", "", "member 'preamble' is missing",
         "{"},
        {"\"preamble\": \"00", "\"preamble\": \"", "preamble is not 640 hex digits",
         "\"" + sample_preamble_hex().substr(2)},
        {"\"magic\": 19537", "\"colour\": 17", "unknown header field 'colour'",
         "17,\n    \"block_size\""},
        {"\"dataset\": 1,", "", "header field 'dataset' is missing", "{\n    \"magic\""},
        {",\n    \"version_minor\": 9", "", "header field 'version_minor' is missing",
         "{\n    \"magic\""},
        {"1E1F\"", "1E\"", "version_string is not 32 hex digits", "\"101112"},
        {"1E1F\"", "1E1G\"", "version_string is not 32 hex digits", "\"101112"},
        {"\"version_minor\": 9", "\"version_minor\": 4294967296", "number above 4294967295",
         "4294967296"},
        {"\"version\": 3}", "\"version\": 3, \"size\": 5}", "unknown file field 'size'", "5}"},
        {"\"version\": 3}", "\"version\": 3, \"version\": 4}", "file field 'version' given twice",
         "4}"},
        {"\"timestamp\": 2, ", "", "file field 'timestamp' is missing", "{\"id\": \"0x03000001\""},
        {", \"version\": 3}", "}", "file field 'version' is missing", "{\"id\": \"0x03000001\""},
        {"0x0A000002", "0xA000002", "malformed file id (expected \"0x\" and eight hex digits)",
         "\"0xA000002\""},
        {"0x0A000002", "1x0A000002", "malformed file id (expected \"0x\" and eight hex digits)",
         "\"1x0A000002\""},
        {"  \"files\": [", "  \"header\": {}, \"files\": [", "member 'header' given twice",
         "{}, \"files\""},
        {"0x0A000002", "0x03000001",
         "file 0x03000001 listed again (first at byte " +
             std::to_string(kSampleText.find("{\"id\": \"0x03000001\"")) + ")",
         second_entry.substr(0, 8)},
        {"\"files\": [", "\"files\": {", "expected an array", "{\n    {\"id\""},
    };
    for (const auto& c : cases) {
        std::string text = kSampleText;
        const auto from = text.find(c.from);
        ASSERT_NE(from, std::string::npos) << c.from;
        text.replace(from, c.from.size(), c.to);
        if (c.from == "\"files\": [") {
            text.replace(text.rfind(']'), 1, "}");
        }
        // The offset points at the last place `at` occurs, the later of two repeated values.
        const auto at = c.at == "{" ? 0 : text.rfind(c.at);
        ASSERT_NE(at, std::string::npos) << c.at;
        const auto read = read_manifest(text);
        ASSERT_FALSE(read) << c.error;
        EXPECT_EQ(read.error(), c.error + " at byte " + std::to_string(at)) << text;
    }
    EXPECT_EQ(read_manifest("[]").error(), "expected an object at byte 0");
    const std::string header_only = kSampleText.substr(0, kSampleText.find(",\n  \"files\"")) + "}";
    EXPECT_EQ(read_manifest(header_only).error(), "member 'files' is missing at byte 0");
    EXPECT_EQ(read_manifest(R"({"format": 1, "files": []})").error(),
              "member 'header' is missing at byte 0");
    EXPECT_EQ(read_manifest(R"({"format": 1, "files": [], "files": []})").error(),
              "member 'files' given twice at byte 36");
}

TEST(ManifestTest, ContentPathsAreTheTypeAndTheIdInUpperCaseHex) {
    EXPECT_EQ(content_path(0x03000001), "03/03000001.bin");
    EXPECT_EQ(content_path(0xAB00CDEF), "AB/AB00CDEF.bin");
    EXPECT_EQ(content_path(0), "00/00000000.bin");
}

} // namespace
} // namespace quillmere::dat_tool
