// Tests of the archive error: message and diagnostic forms, conversions, accessors.
#include "quillmere/common/try.hpp"
#include "quillmere/dat/dat_error.hpp"

#include <cerrno>
#include <gtest/gtest.h>
#include <source_location>
#include <type_traits>

namespace quillmere::dat {
namespace {

using common::DecodeError;
using common::IoError;

static_assert(std::is_convertible_v<IoError, DatError>);
static_assert(std::is_convertible_v<DecodeError, DatError>);
static_assert(!std::is_convertible_v<std::uint32_t, DatError>);
static_assert(!std::is_convertible_v<std::string, DatError>);
static_assert(!std::is_convertible_v<const char*, DatError>);
static_assert(!std::is_convertible_v<std::filesystem::path, DatError>);
static_assert(!std::is_convertible_v<common::CustomError, DatError>);

DecodeError header_field_error() {
    DecodeError error(IoError::unexpected_eof());
    error.add_context("While parsing field 'root_offset' in DatHeader",
                      std::source_location::current());
    return error;
}

TEST(DatErrorTest, EveryKindRendersItsMessageTemplate) {
    const DecodeError decode = header_field_error();
    const struct {
        DatError error;
        std::string message;
    } cases[] = {
        {IoError::unexpected_eof(), "IO error: failed to fill whole buffer"},
        {decode, "Binary read error: " + decode.message()},
        {DatError::not_found(0x330007DB), "File ID 330007DB not found in provider"},
        {DatError::duplicate_id(0x0A0000FF), "Duplicate File ID 0A0000FF detected"},
        {DatError::duplicate_namespaced_id("portal", 0x1B),
         "Duplicate namespaced file portal:0000001B detected"},
        {DatError::invalid_magic("portal"), "Invalid magic for format: portal"},
        {DatError::unsupported_version(0x1000), "Unsupported version: 4096"},
        {DatError::invalid_namespace("cell"), "Invalid namespace: cell"},
        {DatError::corruption("bad node"), "Corruption detected: bad node"},
        {DatError::decompression_failed(0xABCDEF), "Failed to recover compressed file 00ABCDEF"},
        {DatError::path_error("/no/such/portal.dat", IoError::from_errno(ENOENT)),
         "Failed to open file at /no/such/portal.dat: No such file or directory"},
        {DatError::other("anything"), "Other error: anything"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].error.kind(), static_cast<DatError::Kind>(i)) << "declared order";
        EXPECT_EQ(cases[i].error.message(), cases[i].message);
    }
}

TEST(DatErrorTest, IdsAreAlwaysEightUpperCaseDigitsWithoutPrefix) {
    EXPECT_EQ(DatError::not_found(0).message(), "File ID 00000000 not found in provider");
    EXPECT_EQ(DatError::not_found(0xFFFFFFFF).message(), "File ID FFFFFFFF not found in provider");
    EXPECT_EQ(DatError::duplicate_id(0xa0000ff).message(), "Duplicate File ID 0A0000FF detected");
    EXPECT_EQ(DatError::decompression_failed(0).message(),
              "Failed to recover compressed file 00000000");
}

TEST(DatErrorTest, DiagnosticNamesTheKindAndItsFieldsInDecimal) {
    const IoError missing = IoError::from_errno(ENOENT);
    const DecodeError decode = header_field_error();
    EXPECT_EQ(DatError::not_found(0xC00007DB).diagnostic(), "NotFound(3221227483)");
    EXPECT_EQ(DatError::duplicate_id(7).diagnostic(), "DuplicateId(7)");
    EXPECT_EQ(DatError::unsupported_version(12).diagnostic(), "UnsupportedVersion(12)");
    EXPECT_EQ(DatError::decompression_failed(255).diagnostic(), "DecompressionFailed(255)");
    EXPECT_EQ(DatError::corruption("a \"b\"\n").diagnostic(), "Corruption(\"a \\\"b\\\"\\n\")");
    EXPECT_EQ(DatError::invalid_magic("x").diagnostic(), "InvalidMagic(\"x\")");
    EXPECT_EQ(DatError::invalid_namespace("y").diagnostic(), "InvalidNamespace(\"y\")");
    EXPECT_EQ(DatError::other("z").diagnostic(), "Other(\"z\")");
    EXPECT_EQ(DatError::duplicate_namespaced_id("portal", 123).diagnostic(),
              "DuplicateNamespacedId { namespace: \"portal\", file_id: 123 }");
    EXPECT_EQ(DatError(IoError::unexpected_eof()).diagnostic(),
              "Io(Error { kind: UnexpectedEof, message: \"failed to fill whole buffer\" })");
    EXPECT_EQ(DatError(missing).diagnostic(), "Io(" + missing.diagnostic() + ")");
    EXPECT_EQ(DatError(decode).diagnostic(), "BinRead(" + decode.diagnostic() + ")");
    EXPECT_EQ(DatError::path_error("/no/such", missing).diagnostic(),
              "PathError { path: \"/no/such\", source: Os { code: 2, kind: NotFound, message: "
              "\"No such file or directory\" } }");
}

TEST(DatErrorTest, PathIsKeptExactlyAsGiven) {
    const auto error = DatError::path_error("./a/../b//portal.dat", IoError::from_errno(EACCES));
    ASSERT_NE(error.path_failure(), nullptr);
    EXPECT_EQ(error.path_failure()->path.string(), "./a/../b//portal.dat");
    EXPECT_EQ(error.message(), "Failed to open file at ./a/../b//portal.dat: Permission denied");
}

DatResult<int> propagate(std::expected<int, IoError> io, common::DecodeResult<int> decode) {
    QM_TRY(const int a, io);
    QM_TRY(const int b, decode);
    return a + b;
}

TEST(DatErrorTest, TryConvertsIoAndDecodeErrorsIntoTheirKindsUnchanged) {
    auto io = propagate(std::unexpected(IoError::from_errno(EIO)), 1);
    ASSERT_FALSE(io);
    EXPECT_EQ(io.error().kind(), DatError::Kind::Io);
    ASSERT_NE(io.error().io_error(), nullptr);
    EXPECT_EQ(*io.error().io_error(), IoError::from_errno(EIO));
    EXPECT_EQ(io.error().message(), "IO error: " + IoError::from_errno(EIO).message());

    auto decode = propagate(1, std::unexpected(header_field_error()));
    ASSERT_FALSE(decode);
    EXPECT_EQ(decode.error().kind(), DatError::Kind::BinRead);
    ASSERT_NE(decode.error().decode_error(), nullptr);
    ASSERT_EQ(decode.error().decode_error()->contexts().size(), 1U);
    EXPECT_EQ(decode.error().decode_error()->contexts()[0].message,
              "While parsing field 'root_offset' in DatHeader");

    EXPECT_EQ(propagate(2, 3).value_or(0), 5);
}

TEST(DatErrorTest, AccessorsAnswerOnlyForTheirKinds) {
    EXPECT_EQ(DatError::not_found(5).file_id(), 5U);
    EXPECT_EQ(DatError::duplicate_namespaced_id("n", 6).file_id(), 6U);
    EXPECT_FALSE(DatError::unsupported_version(5).file_id());
    EXPECT_EQ(DatError::unsupported_version(5).version(), 5U);
    EXPECT_FALSE(DatError::not_found(5).version());
    EXPECT_EQ(*DatError::corruption("c").text(), "c");
    EXPECT_EQ(DatError::not_found(5).text(), nullptr);
    EXPECT_EQ(DatError::corruption("c").io_error(), nullptr);
    EXPECT_EQ(DatError::path_error("p", IoError::unexpected_eof()).io_error(), nullptr);
    EXPECT_EQ(kind_name(DatError::Kind::DuplicateNamespacedId), "DuplicateNamespacedId");
}

// The one-line form: a decoding error without its source locations, the place of a failed read
// appended, every other kind its message; the message itself keeps its several lines.
TEST(DatErrorTest, OneLineFormDropsSourcePathsAndAddsTheReadPlace) {
    const DatError decode = header_field_error();
    EXPECT_NE(decode.message().find('\n'), std::string::npos);
    EXPECT_EQ(
        decode.one_line(),
        "Binary read error: failed to fill whole buffer; While parsing field 'root_offset' in "
        "DatHeader");

    DatError io = IoError::unexpected_eof();
    io.add_read_place({5120, std::nullopt, std::nullopt});
    io.add_read_place({0, 0x06000001, std::nullopt});
    EXPECT_EQ(io.message(), "IO error: failed to fill whole buffer");
    EXPECT_EQ(io.one_line(),
              "IO error: failed to fill whole buffer (file 06000001, block at offset 5120)");
    DatError node = IoError::unexpected_eof();
    node.add_read_place({2048, std::nullopt, 1024});
    EXPECT_EQ(
        node.one_line(),
        "IO error: failed to fill whole buffer (directory node at offset 1024, block at offset "
        "2048)");
    EXPECT_EQ(DatError::not_found(0x0A).one_line(), DatError::not_found(0x0A).message());
    EXPECT_EQ(DatError::refused(WriteRefusal::Finished, "done").message(), "Other error: done");
    EXPECT_EQ(DatError::refused(WriteRefusal::Finished, "done").write_refusal(),
              WriteRefusal::Finished);
    EXPECT_EQ(DatError::other("done").write_refusal(), std::nullopt);
}

} // namespace
} // namespace quillmere::dat
