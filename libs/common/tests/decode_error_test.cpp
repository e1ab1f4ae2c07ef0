// Tests of the text and diagnostic forms of DecodeError.
#include "quillmere/common/decode_error.hpp"

#include <gtest/gtest.h>

namespace quillmere::common {
namespace {

TEST(DecodeErrorTest, IoTextIsTheIoMessage) {
    const DecodeError e(IoError::unexpected_eof());
    EXPECT_EQ(e.kind(), DecodeError::Kind::Io);
    EXPECT_EQ(e.message(), "failed to fill whole buffer");
    EXPECT_EQ(e.diagnostic(),
              "Io(Error { kind: UnexpectedEof, message: \"failed to fill whole buffer\" })");
}

TEST(DecodeErrorTest, CustomTextEndsWithLowerCaseHexPosition) {
    const auto e = DecodeError::custom(0x1C, "Unsupported AnimationHook type: 0x0000001B");
    EXPECT_EQ(e.kind(), DecodeError::Kind::Custom);
    EXPECT_EQ(e.message(), "Unsupported AnimationHook type: 0x0000001B at 0x1c");
    EXPECT_EQ(DecodeError::custom(0, "x").message(), "x at 0x0");
    EXPECT_EQ(e.diagnostic(),
              "Custom { pos: 28, message: \"Unsupported AnimationHook type: 0x0000001B\" }");
}

TEST(DecodeErrorTest, BacktraceShowsInnerTextThenEveryContextInnermostFirst) {
    DecodeError e(IoError::unexpected_eof());
    e.add_context("While parsing field 'y' in Quaternion", std::source_location::current());
    const auto line = std::source_location::current().line() + 1;
    e.add_context("While parsing field 'orientation' in Frame", std::source_location::current());
    EXPECT_EQ(e.kind(), DecodeError::Kind::Backtrace);
    ASSERT_NE(e.io_error(), nullptr);

    const std::string file = "libs/common/tests/decode_error_test.cpp";
    EXPECT_EQ(e.message(), "failed to fill whole buffer\n"
                           " 0: While parsing field 'y' in Quaternion\n"
                           "     at " +
                               file + ":" + std::to_string(line - 2) +
                               "\n"
                               " 1: While parsing field 'orientation' in Frame\n"
                               "     at " +
                               file + ":" + std::to_string(line));
    EXPECT_EQ(e.diagnostic(),
              "Backtrace { error: Io(Error { kind: UnexpectedEof, message: \"failed to fill whole "
              "buffer\" }), contexts: [\"While parsing field 'y' in Quaternion\", \"While parsing "
              "field 'orientation' in Frame\"] }");
}

TEST(DecodeErrorTest, OneLineJoinsInnerTextAndContextsInnermostFirst) {
    DecodeError wrapped = DecodeError::custom(0x1C, "Unsupported AnimationHook type: 0x0000001B");
    EXPECT_EQ(wrapped.one_line(), "Unsupported AnimationHook type: 0x0000001B at 0x1c");
    wrapped.add_context("While parsing field 'hooks' in AnimationFrame",
                        std::source_location::current());
    wrapped.add_context("While parsing field 'part_frames' in Animation",
                        std::source_location::current());
    EXPECT_EQ(wrapped.one_line(), "Unsupported AnimationHook type: 0x0000001B at 0x1c; While "
                                  "parsing field 'hooks' in AnimationFrame; While parsing field "
                                  "'part_frames' in Animation");
    DecodeError short_read(IoError::unexpected_eof());
    short_read.add_context("While parsing field 'x' in Vector3", std::source_location::current());
    EXPECT_EQ(short_read.one_line(),
              "failed to fill whole buffer; While parsing field 'x' in Vector3");
}

TEST(DecodeErrorTest, OsErrorsRenderLikeThePlatform) {
    const auto io = IoError::from_errno(2);
    EXPECT_EQ(io.message(), "No such file or directory");
    EXPECT_EQ(io.kind(), IoError::Kind::NotFound);
    EXPECT_EQ(io.diagnostic(),
              "Os { code: 2, kind: NotFound, message: \"No such file or directory\" }");
}

} // namespace
} // namespace quillmere::common
