// The text form: decode then encode gives the bytes back (the demo archive's hook-carrying files,
// NaN payloads, negative zero, padding garbage, trailing bytes, a placement key stored twice);
// a document that does not describe a file is refused naming the value at fault; and the loops
// decode -> encode -> repack --put and extract --decode -> pack.
#include "demo_archive.hpp"
#include "manifest.hpp"
#include "quillmere/dat/dat_database.hpp"
#include "quillmere/dat/file_type/physics_script.hpp"
#include "quillmere/dat/file_type/setup_model.hpp"
#include "quillmere/testkit/temp_file.hpp"
#include "text_form.hpp"
#include "tool_run.hpp"

#include <algorithm>
#include <bit>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace quillmere::dat_tool {
namespace {

namespace fs = std::filesystem;
namespace ft = dat::file_type;
namespace setup = dat::file_type::setup_model;
using testing::tool;

std::vector<std::uint8_t> round_trip(ft::FileType type, std::span<const std::uint8_t> bytes,
                                     std::string* text_out = nullptr) {
    const auto text = decode_text_form(type, bytes);
    EXPECT_TRUE(text) << text.error();
    if (!text) {
        return {};
    }
    if (text_out != nullptr) {
        *text_out = *text;
    }
    const auto file = encode_text_form(*text);
    EXPECT_TRUE(file) << file.error() << "\n" << *text;
    if (!file) {
        return {};
    }
    EXPECT_EQ(file->type, type);
    return file->bytes;
}

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void write_text(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

void replace_once(std::string& text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

class TextFormTest : public ::testing::Test {
  protected:
    [[nodiscard]] fs::path at(const std::string& name) const { return dir_.path() / name; }
    testkit::TempDir dir_{"text-form"};
};

TEST_F(TextFormTest, EveryHookCarryingFileOfTheDemoArchiveComesBackByteForByte) {
    demo::DemoOptions options;
    options.files = 1500;
    demo::write_demo_archive(at("demo.dat"), options);
    auto db = dat::DatDatabase::open(at("demo.dat"));
    ASSERT_TRUE(db);
    std::size_t checked = 0;
    for (const auto& [id, entry] : db->files()) {
        const auto type = ft::of(id);
        if (!type) {
            continue;
        }
        const auto bytes = db->get_file(id);
        ASSERT_TRUE(bytes);
        EXPECT_EQ(round_trip(*type, *bytes), *bytes) << std::hex << id;
        ++checked;
    }
    EXPECT_GT(checked, 300U);
}

// A physics script with every awkward value: NaN payloads, negative zero, infinities, padding
// garbage, a ReplaceObject id stored wide, then trailing bytes.
TEST_F(TextFormTest, AwkwardValuesComeBackBitForBit) {
    ft::physics_script::PhysicsScript script;
    script.id = 0x33000042;
    const auto hook = [](std::uint32_t type, std::vector<std::uint8_t> data) {
        return setup::AnimationHook{type, -1, std::move(data)};
    };
    const auto f32 = [](std::uint32_t bits) {
        std::vector<std::uint8_t> out(4);
        for (int i = 0; i < 4; ++i) {
            out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (8 * i));
        }
        return out;
    };
    std::vector<std::uint8_t> tweaked = {1, 0, 0, 0x0A};
    for (const std::uint32_t bits : {0x7FC00001U, 0x80000000U, 0xFF800000U}) {
        const auto word = f32(bits);
        tweaked.insert(tweaked.end(), word.begin(), word.end());
    }
    script.script_data = {
        {std::bit_cast<double>(0x7FF8000000000123ULL), hook(21, tweaked)},
        {-0.0, hook(5, {7, 0x00, 0x80, 0x34, 0x12, 0xAA, 0xBB, 0xCC})},
        {0.1, hook(5, {7, 0x34, 0x12, 0x99})},
        {1e300, hook(12, {0, 0, 0x80, 0x7F, 0, 0, 0, 0x80})},
    };
    auto bytes = script.pack();
    ASSERT_TRUE(bytes);
    bytes->insert(bytes->end(), {0xDE, 0xAD});
    std::string text;
    EXPECT_EQ(round_trip(ft::FileType::PhysicsScript, *bytes, &text), *bytes);
    EXPECT_NE(text.find(R"("start_time": {"bits": "0x7FF8000000000123"})"), std::string::npos)
        << text;
    EXPECT_NE(text.find(R"("probability": {"bits": "0x7FC00001"}, "priority": -0.0)"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(R"("start_time": -0.0)"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("part_id": "0x00001234"}, "padding": "aabbcc", "wide_part_id": true)"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(R"("padding": "99")"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("trailing": "dead")"), std::string::npos) << text;
}

// A setup model's placement key stored twice stays two items, in file order.
TEST_F(TextFormTest, APlacementKeyStoredTwiceStaysTwoItems) {
    setup::StoredSetupModel model;
    model.id = 0x02000009;
    model.parts = {0x01000001};
    setup::AnimationFrame frame{{dat::graphics::Frame{}}, {}};
    model.placement_frames = {{3, {frame}}, {-1, {frame}}, {3, {frame}}};
    model.lights = {{5, {}}, {2, {}}};
    const auto bytes = model.pack();
    ASSERT_TRUE(bytes);
    std::string text;
    EXPECT_EQ(round_trip(ft::FileType::SetupModel, *bytes, &text), *bytes);
    const auto first = text.find("{\"key\": 3,");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(text.find("{\"key\": 3,", first + 1), std::string::npos) << text;
    // The decoded model's map keeps the later entry; written back it is in key order.
    auto decoded = setup::SetupModel::read(std::span<const std::uint8_t>(*bytes));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->placement_frames.size(), 2U);
}

TEST_F(TextFormTest, ADocumentThatDescribesNoFileIsRefusedNamingTheValueAtFault) {
    ft::physics_script::PhysicsScript script;
    script.id = 0x33000001;
    script.script_data = {{0.5, {1, 0, {1, 0, 0, 0x0A}}}, {1.0, {5, 2, {1, 2, 0, 0}}}};
    const auto bytes = script.pack();
    ASSERT_TRUE(bytes);
    const auto text = decode_text_form(ft::FileType::PhysicsScript, *bytes);
    ASSERT_TRUE(text);
    const auto refused = [&](const std::string& from, const std::string& to) {
        std::string edited = *text;
        replace_once(edited, from, to);
        const auto file = encode_text_form(edited);
        EXPECT_FALSE(file) << edited;
        return file ? std::string() : file.error();
    };
    EXPECT_EQ(refused(R"("id": "0x0A000001")", R"("id": "sound")"),
              R"(script_data[0].hook.payload.id: expected a file id such as "0x0A000001", )"
              R"(found "sound")");
    EXPECT_EQ(refused(R"("direction": 2)", R"("direction": 2147483648)"),
              "script_data[1].hook.direction: out of range: an integer from -2147483648 to "
              "2147483647 is expected");
    EXPECT_EQ(refused(R"("direction": 2, )", ""), "script_data[1].hook.direction: missing");
    EXPECT_EQ(refused(R"("name": "Sound")", R"("name": "Scale")"),
              R"(script_data[0].hook.name: "Scale" is not the name of hook type 1 ("Sound"))");
    EXPECT_EQ(refused(R"("part_index": 1)", R"("part_index": 256)"),
              "script_data[1].hook.payload.part_index: out of range: an integer from 0 to 255 "
              "is expected");
    EXPECT_EQ(refused(R"("start_time": 0.5)", R"("start_time": "0.5")"),
              R"(script_data[0].start_time: expected a number or {"bits": "0x..."}, found a )"
              "string");
    EXPECT_EQ(refused(R"("format": 1)", R"("format": 1, "extra": 0)"), "extra: unknown member");
    EXPECT_EQ(encode_text_form("{\"format\": 1,").error().substr(0, 9), "not JSON:");
}

// The README's edit: one Sound hook's id, from decode to repack --put and from extract --decode
// to pack; an unedited extract --decode then pack holds every file byte for byte.
TEST_F(TextFormTest, EditsGoBackThroughRepackAndPack) {
    demo::DemoOptions options;
    options.files = 600;
    demo::write_demo_archive(at("a.dat"), options);
    const auto a = at("a.dat").string();
    ASSERT_EQ(tool({"extract", a, at("tree").string(), "--decode"}).status, 0);
    const auto packed = tool({"pack", at("tree").string(), at("b.dat").string()});
    ASSERT_EQ(packed.status, 0) << packed.err;
    auto original = dat::DatDatabase::open(at("a.dat"));
    auto copy = dat::DatDatabase::open(at("b.dat"));
    ASSERT_TRUE(original && copy);
    ASSERT_EQ(original->files().size(), copy->files().size());
    std::optional<std::uint32_t> with_sound;
    for (const auto& [id, entry] : original->files()) {
        const auto before = original->get_file(id);
        const auto after = copy->get_file(id);
        ASSERT_TRUE(before && after) << std::hex << id;
        EXPECT_EQ(*before, *after) << std::hex << id;
        const fs::path json = at("tree") / text_form_path(id);
        if (fs::exists(json) && ft::of(id) == ft::FileType::PhysicsScript && !with_sound &&
            read_text(json).find(R"("name": "Sound")") != std::string::npos) {
            with_sound = id;
        }
        EXPECT_EQ(fs::exists(json), ft::of(id).has_value()) << std::hex << id;
    }
    ASSERT_TRUE(with_sound);
    const std::string id = id_text(*with_sound);

    // decode, edit, encode, repack --put.
    ASSERT_EQ(tool({"decode", a, id, "-o", at("s.json").string()}).status, 0);
    std::string text = read_text(at("s.json"));
    const auto sound = text.find(R"("name": "Sound")");
    const auto id_at = text.find(R"("id": ")", sound) + 7;
    text.replace(id_at, 10, "0x0A00BEEF");
    write_text(at("s.json"), text);
    ASSERT_EQ(tool({"encode", at("s.json").string(), "-o", at("s.bin").string()}).status, 0);
    ASSERT_EQ(
        tool({"repack", a, at("c.dat").string(), "--put", id + "=" + at("s.bin").string()}).status,
        0);
    const auto hooks = tool({"hooks", at("c.dat").string(), id});
    EXPECT_NE(hooks.out.find("id=0x0A00BEEF"), std::string::npos) << hooks.out;
    const auto again = tool({"decode", at("c.dat").string(), id});
    EXPECT_EQ(again.out, text);

    // The same edit in the tree, then pack.
    write_text(at("tree") / text_form_path(*with_sound), text);
    ASSERT_EQ(tool({"pack", at("tree").string(), at("d.dat").string()}).status, 0);
    EXPECT_EQ(tool({"decode", at("d.dat").string(), id}).out, text);

    // Refused before writing: an invalid document, both forms, an id that is not its place's.
    replace_once(text, R"("0x0A00BEEF")", "true");
    write_text(at("tree") / text_form_path(*with_sound), text);
    const auto invalid = tool({"pack", at("tree").string(), at("e.dat").string()});
    EXPECT_EQ(invalid.status, 1);
    EXPECT_NE(invalid.err.find(".json: script_data["), std::string::npos) << invalid.err;
    const auto encoded = tool({"encode", (at("tree") / text_form_path(*with_sound)).string()});
    EXPECT_EQ(encoded.status, 1);
    EXPECT_EQ(std::count(encoded.err.begin(), encoded.err.end(), '\n'), 1) << encoded.err;
    EXPECT_EQ(encoded.out, "");
    testkit::write_file(at("tree") / content_path(*with_sound), std::vector<std::uint8_t>{1});
    const auto both = tool({"pack", at("tree").string(), at("e.dat").string()});
    EXPECT_NE(both.err.find("keep one of them"), std::string::npos) << both.err;
    fs::remove(at("tree") / text_form_path(*with_sound));
    fs::remove(at("tree") / content_path(*with_sound));
    std::string moved = read_text(at("s.json"));
    replace_once(moved, "\"id\": \"" + id + "\"", R"("id": "0x33FFFFFF")");
    write_text(at("tree") / text_form_path(*with_sound), moved);
    const auto other = tool({"pack", at("tree").string(), at("e.dat").string()});
    EXPECT_NE(other.err.find("id: 0x33FFFFFF is not the id of its manifest entry"),
              std::string::npos)
        << other.err;
    EXPECT_FALSE(fs::exists(at("e.dat")));
}

} // namespace
} // namespace quillmere::dat_tool
