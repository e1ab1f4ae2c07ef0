// Tests of which archive the checker's cases use.
#include "quillmere/testkit/temp_file.hpp"
#include "retail_path.hpp"

#include <gtest/gtest.h>

namespace quillmere::parity {
namespace {

using detail::resolve_retail_path;

TEST(RetailPathTest, LibraryAnswerWinsOverAnExistingFallback) {
    const testkit::TempFile fallback({}, "fallback");
    const std::filesystem::path configured = "/some/configured/portal.dat";
    EXPECT_EQ(resolve_retail_path(configured, fallback.path()), configured);
}

TEST(RetailPathTest, FallbackIsUsedWhenItExistsEvenAsADirectory) {
    const testkit::TempFile file({}, "fallback-file");
    EXPECT_EQ(resolve_retail_path(std::nullopt, file.path()), file.path());
    const testkit::TempDir dir("fallback-dir");
    EXPECT_EQ(resolve_retail_path(std::nullopt, dir.path()), dir.path());
}

TEST(RetailPathTest, NothingAnywhereGivesNothing) {
    EXPECT_EQ(resolve_retail_path(std::nullopt, "/nonexistent/quillmere/client_portal.dat"),
              std::nullopt);
}

TEST(RetailPathTest, FixedFallbackIsTheDocumentedPath) {
    EXPECT_STREQ(kFallbackPortalDat, "/home/kestrel/ac_base_dats/client_portal.dat");
}

} // namespace
} // namespace quillmere::parity
