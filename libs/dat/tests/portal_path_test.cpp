// Tests of where the library looks for a portal archive.
#include "detail/portal_path.hpp"
#include "quillmere/dat/portal_path.hpp"
#include "quillmere/testkit/temp_file.hpp"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace quillmere::dat::utils {
namespace {

using detail::find_portal_dat;
using testkit::TempDir;
using testkit::TempFile;

// A fake checkout: `source_dir` stands for libs/dat, so the in-tree archive is
// `root/dats/portal.dat`, created only when asked for.
struct FakeCheckout {
    TempDir root{"checkout"};
    std::filesystem::path source_dir = root.path() / "libs/dat";
    std::filesystem::path expected_in_tree = source_dir / "../../dats/portal.dat";

    explicit FakeCheckout(bool with_archive) {
        std::filesystem::create_directories(source_dir);
        if (with_archive) {
            std::filesystem::create_directories(root.path() / "dats");
            testkit::write_file(root.path() / "dats/portal.dat", {});
        }
    }
};

TEST(PortalPathTest, InTreeCandidateIsJoinedNotNormalised) {
    const std::string path = in_tree_portal_dat_path().string();
    EXPECT_TRUE(path.ends_with("libs/dat/../../dats/portal.dat")) << path;
}

TEST(PortalPathTest, ExistingFileInVariableIsReturnedUnchangedEvenWithAnInTreeArchive) {
    const FakeCheckout checkout(true);
    const TempFile file({}, "portal");
    EXPECT_EQ(find_portal_dat(file.path().c_str(), checkout.source_dir), file.path());
}

TEST(PortalPathTest, DirectoryInVariableCountsAsExisting) {
    const FakeCheckout checkout(false);
    const TempDir dir("portal-dir");
    EXPECT_EQ(find_portal_dat(dir.path().c_str(), checkout.source_dir), dir.path());
}

TEST(PortalPathTest, EmptyMissingOrUnsetVariableFallsThroughToTheInTreeArchive) {
    const FakeCheckout with(true);
    const FakeCheckout without(false);
    for (const char* value :
         {"", "/nonexistent/quillmere/portal.dat", static_cast<const char*>(nullptr)}) {
        const std::string label = value ? value : "(unset)";
        const auto found = find_portal_dat(value, with.source_dir);
        EXPECT_EQ(found, with.expected_in_tree) << label;
        EXPECT_EQ(found->string(), with.expected_in_tree.string()) << label;
        EXPECT_EQ(find_portal_dat(value, without.source_dir), std::nullopt) << label;
    }
}

TEST(PortalPathTest, InvalidUtf8VariableIsIgnored) {
    const FakeCheckout checkout(false);
    const TempDir dir("portal-utf8");
    for (const char* bad : {"bad\xFFname", "over\xC0\xAFlong", "cut\xE2\x80"}) {
        const auto name = dir.path().string() + "/" + bad;
        testkit::write_file(name, {});
        EXPECT_EQ(find_portal_dat(name.c_str(), checkout.source_dir), std::nullopt) << bad;
    }
    const auto good = dir.path().string() + "/caf\xC3\xA9.dat";
    testkit::write_file(good, {});
    EXPECT_EQ(find_portal_dat(good.c_str(), checkout.source_dir), std::filesystem::path(good));
}

TEST(PortalPathTest, PublicLookupReadsTheVariable) {
    const TempFile file({}, "portal-env");
    const char* old = std::getenv(kPortalDatEnv);
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    ::setenv(kPortalDatEnv, file.path().c_str(), 1);
    const auto found = get_portal_dat_path();
    if (saved) {
        ::setenv(kPortalDatEnv, saved->c_str(), 1);
    } else {
        ::unsetenv(kPortalDatEnv);
    }
    EXPECT_EQ(found, file.path());
}

} // namespace
} // namespace quillmere::dat::utils
