// Running the built quillmere-dat from a test: its exit status and both output streams, and its
// --json output read back through a strict parser.
#pragma once

#include "json_reading.hpp"
#include "quillmere/testkit/process.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quillmere::dat_tool::testing {

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

/// Runs the tool with `args` (the program name is added) and an empty environment.
inline ToolRun tool(std::vector<std::string> args) {
    args.insert(args.begin(), "quillmere-dat");
    auto result = testkit::run_process(QUILLMERE_DAT_TOOL_PATH, args, {});
    return {result.status, result.out, result.err};
}

/// Parses a --json output, requires it to read back identically after writing it out again, and
/// returns it (an empty document after a failed expectation).
inline JsonDocument json_of(const ToolRun& run) {
    std::string error;
    auto doc = parse_json(run.out, &error);
    EXPECT_TRUE(doc) << error << "\n" << run.out;
    if (!doc) {
        return {};
    }
    auto again = parse_json(doc->dump(), &error);
    EXPECT_TRUE(again) << error;
    EXPECT_EQ(again, doc);
    return *doc;
}

} // namespace quillmere::dat_tool::testing
