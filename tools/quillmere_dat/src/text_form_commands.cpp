// quillmere-dat decode and encode: an animation, setup model or physics script as one JSON
// document holding every value of the file, and such a document back into the file's bytes.
#include "archive_access.hpp"
#include "commands.hpp"
#include "hook_listing.hpp"
#include "local_files.hpp"
#include "quillmere/common/try.hpp"
#include "text_form.hpp"

#include <istream>
#include <iterator>

namespace quillmere::dat_tool {
namespace {

Gathered<std::string> decode_from(const std::string& path, std::uint32_t id) {
    QM_TRY(const HookFile file, read_hook_file(path, id));
    auto text = decode_text_form(file.type, file.bytes);
    if (!text) {
        return std::unexpected(cannot_decode(id, file.type, text.error()));
    }
    return text;
}

int run_decode(const Arguments& args, const Streams& streams) {
    const auto id = parse_file_id(args.positional(1));
    const auto text = decode_from(args.positional(0), *id);
    if (!text) {
        return fail(streams, text.error());
    }
    if (const auto output = args.value("-o")) {
        const auto written =
            replace_file(std::string(*output), text_bytes(*text), std::string(*output));
        return written ? kExitOk : fail(streams, written.error());
    }
    return emit(streams, *text);
}

// The document at `path`, or standard input for "-".
Gathered<std::string> read_document(const std::string& path, std::istream* in) {
    if (path == "-") {
        if (in == nullptr) {
            return std::unexpected(std::string("cannot read standard input"));
        }
        std::string text((std::istreambuf_iterator<char>(*in)), std::istreambuf_iterator<char>());
        if (in->bad()) {
            return std::unexpected(std::string("cannot read standard input"));
        }
        return text;
    }
    std::vector<std::uint8_t> bytes;
    if (auto read = read_local_file(path, bytes); !read) {
        return std::unexpected(std::move(read.error()));
    }
    return std::string(bytes.begin(), bytes.end());
}

int run_encode(const Arguments& args, const Streams& streams) {
    const std::string& path = args.positional(0);
    const auto text = read_document(path, streams.in);
    if (!text) {
        return fail(streams, text.error());
    }
    const auto file = encode_text_form(*text);
    if (!file) {
        return fail(streams,
                    (path == "-" ? std::string("standard input") : path) + ": " + file.error());
    }
    if (const auto output = args.value("-o")) {
        const auto written = replace_file(std::string(*output), file->bytes, std::string(*output));
        return written ? kExitOk : fail(streams, written.error());
    }
    return emit(streams, std::string_view(reinterpret_cast<const char*>(file->bytes.data()),
                                          file->bytes.size()));
}

constexpr ArgumentSpec kDecodeArguments[] = {{"ARCHIVE"}, {.name = "ID", .check = check_file_id}};
constexpr OptionSpec kDecodeOptions[] = {{.name = "-o", .takes_value = true}};

constexpr ArgumentSpec kEncodeArguments[] = {{"JSON"}};
constexpr OptionSpec kEncodeOptions[] = {
    {.name = "-o", .takes_value = true, .redirects_output = true}};

} // namespace

constinit const Command kDecodeCommand{
    .name = "decode",
    .synopsis = "quillmere-dat decode ARCHIVE ID [-o FILE]",
    .outline = "decode ARCHIVE ID",
    .summary = "an animation, setup model or physics script as JSON",
    .description =
        "Writes file ID, an animation (0x03......), setup model (0x02......) or physics script\n"
        "(0x33......), as one JSON document holding every value the file holds, which\n"
        "'quillmere-dat encode' turns back into the very same bytes:\n"
        "\n"
        "  {\"format\": 1, \"id\": \"0x03000001\", \"file_type\": \"animation\", ...}\n"
        "\n"
        "The members are the fields of the library's records (Animation, StoredSetupModel,\n"
        "PhysicsScript), named as they are, lists in file order; a setup model's keyed entries\n"
        "as lists of {\"key\", \"value\"} items, a key stored twice giving two. File ids as "
        "\"0x\"\n"
        "and eight hex digits, an absent default resource as null. Floats as the shortest\n"
        "decimal that reads back to the same bits (negative zero as -0.0); one that is not\n"
        "finite as its bits, {\"bits\": \"0x7FC00001\"}. Hooks as 'hooks' shows them in JSON:\n"
        "hook_type, name, direction and payload, plus \"padding\" (hex) when the padding bytes\n"
        "are not zero and \"wide_part_id\": true for a ReplaceObject part id below 0x8000 stored\n"
        "in two words. Bytes after the decoded file as \"trailing\" (hex).\n"
        "\n"
        "  -o FILE   write the document to FILE instead, replacing it whole\n",
    .arguments = kDecodeArguments,
    .options = kDecodeOptions,
    .run = run_decode,
};

constinit const Command kEncodeCommand{
    .name = "encode",
    .synopsis = "quillmere-dat encode JSON [-o FILE]",
    .outline = "encode JSON",
    .summary = "a file's bytes from its JSON document",
    .description =
        "Writes the bytes of the file the document JSON ('-' for standard input) describes, in\n"
        "the form 'quillmere-dat decode' writes, to standard output: unedited, the bytes the\n"
        "document was decoded from; edited, the file with the new values, which 'quillmere-dat\n"
        "repack' puts into an archive. Refuses to write to a terminal: redirect standard output\n"
        "to a file or a pipe, or use -o.\n"
        "\n"
        "Every member is required but \"name\" (checked against hook_type when given),\n"
        "\"padding\", \"wide_part_id\" and \"trailing\"; no other member is taken. Counts must\n"
        "agree with the lists (num_frames, one placement per part in each frame, parent_index\n"
        "and default_scale with their flag bits), integers must fit their fields, ids may also\n"
        "be given as numbers. A document that does not describe a file writes nothing and fails\n"
        "with one line naming the value at fault, such as\n"
        "\n"
        "  error: edit.json: part_frames[3].hooks[1].payload.id: expected a file id such as\n"
        "  \"0x0A000001\", found \"sound\"\n"
        "\n"
        "  -o FILE   write the bytes to FILE instead, replacing it whole\n",
    .arguments = kEncodeArguments,
    .options = kEncodeOptions,
    .writes_binary = true,
    .run = run_encode,
};

} // namespace quillmere::dat_tool
