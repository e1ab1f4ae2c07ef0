// The texts the report styles share: durations, escaping, UTF-8 repair, log lines.
#include "detail/report.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quillmere::case_runner::detail {
namespace {

using std::chrono::nanoseconds;

TEST(ReportTest, DurationsInSeconds) {
    EXPECT_EQ(fixed_seconds(nanoseconds(0), 2), "0.00");
    EXPECT_EQ(fixed_seconds(nanoseconds(1'050'000'000), 3), "1.050");
    EXPECT_EQ(fixed_seconds(nanoseconds(4'994'000), 2), "0.00");
    EXPECT_EQ(fixed_seconds(nanoseconds(5'001'000), 2), "0.01");
    EXPECT_EQ(fixed_seconds(nanoseconds(125'000'000'000), 2), "125.00");
    EXPECT_EQ(shortest_seconds(nanoseconds(0)), "0");
    EXPECT_EQ(shortest_seconds(nanoseconds(2'050)), "0.00000205");
    EXPECT_EQ(shortest_seconds(nanoseconds(1'050'550'390)), "1.05055039");
    EXPECT_EQ(shortest_seconds(nanoseconds(3'000'000'000)), "3");
}

TEST(ReportTest, CdataKeepsEverythingOnOneLine) {
    EXPECT_EQ(cdata("a\nb\n"), "<![CDATA[a]]>&#xA;<![CDATA[b]]>&#xA;<![CDATA[]]>");
    EXPECT_EQ(cdata("x]]>y"), "<![CDATA[x]]]]><![CDATA[>y]]>");
    EXPECT_EQ(cdata("<?xml"), "<![CDATA[<]]><![CDATA[?xml]]>");
    EXPECT_EQ(cdata("\n\n"), "<![CDATA[]]>&#xA;&#xA;<![CDATA[]]>");
}

TEST(ReportTest, XmlAttributesAreEscaped) {
    EXPECT_EQ(xml_escape("a<b>&\"c'\n"), "a&lt;b&gt;&amp;&quot;c&apos;&#xA;");
}

TEST(ReportTest, LogLines) {
    const CaseDesc desc{"case_a", false, false};
    EXPECT_EQ(log_line(desc, CaseResult{Outcome::Ok, {}, std::nullopt, {}}), "ok case_a\n");
    EXPECT_EQ(log_line(desc, CaseResult{Outcome::Failed, {}, nanoseconds(1'500'000), {}}),
              "failed case_a <0.002s>\n");
    EXPECT_EQ(log_line(desc, CaseResult{Outcome::FailedWithMessage,
                                        "test did not fail as expected",
                                        std::nullopt,
                                        {}}),
              "failed: test did not fail as expected case_a\n");
    EXPECT_EQ(log_line(desc, CaseResult{Outcome::Ignored, {}, std::nullopt, {}}),
              "ignored case_a\n");
    EXPECT_EQ(log_line(desc, CaseResult{Outcome::TimeLimitExceeded, {}, nanoseconds(0), {}}),
              "failed (time limit exceeded) case_a <0.000s>\n");
}

TEST(ReportTest, TotalsKeepWhatEachOutcomeShows) {
    RunTotals totals;
    const CaseDesc desc{"c", true, false};
    totals.record(desc, CaseResult{Outcome::Ok, {}, std::nullopt, "out\n"});
    totals.record(desc, CaseResult{Outcome::FailedWithMessage, "why", std::nullopt, "out\n"});
    totals.record(desc, CaseResult{Outcome::TimeLimitExceeded, {}, std::nullopt, "slow\n"});
    totals.record(desc, CaseResult{Outcome::Ignored, {}, std::nullopt, {}});
    EXPECT_EQ(totals.passed, 1U);
    EXPECT_EQ(totals.failed, 2U);
    EXPECT_EQ(totals.ignored, 1U);
    ASSERT_EQ(totals.failures.size(), 1U);
    EXPECT_EQ(totals.failures[0].second, "out\nnote: why");
    ASSERT_EQ(totals.time_failures.size(), 1U);
    EXPECT_EQ(totals.time_failures[0].second, "slow\n");
}

} // namespace
} // namespace quillmere::case_runner::detail
