#include "milter/metrics_registry.h"

#include <gtest/gtest.h>

#include "milter/atomic_histogram.h"
#include "milter/prometheus_text.h"
#include "milter/rule_hit_counters.h"
#include "milter/rules_digest.h"
#include "support/table.h"

namespace zentry::milter {
namespace {

bool holdsLine(const std::string& exposition, const std::string& line) {
  return ("\n" + exposition).find("\n" + line + "\n") != std::string::npos;
}

TEST(MetricLabels, Table) {
  for (const test::Row& row : test::readTable("milter_metric_labels.txt"))
    EXPECT_EQ(row[1], labelValueOf(row[0])) << row.where;
  EXPECT_EQ(R"("a\"b\\c")", quotedLabel(R"(a"b\c)"));
}

using Counts = std::vector<std::pair<std::string, std::uint64_t>>;

// Labels of the rules in force, each once; a reload keeps the counts of the
// labels kept and drops the others.
TEST(RuleHitCounters, FollowTheRulesInForce) {
  RuleHitCounters hits;
  hits.setRuleLabels({"Script", "Program", "Script", "Screen saver"});
  hits.countHit("Script");
  hits.countHit("Script");
  hits.countHit("Program");
  hits.countHit("Not a rule");
  EXPECT_EQ((Counts{{"Program", 1}, {"Screen saver", 0}, {"Script", 2}}), hits.counts());
  hits.setRuleLabels({"Program", "Love letter"});
  hits.countHit("Script");  // a scan begun under the rules before
  EXPECT_EQ((Counts{{"Love letter", 0}, {"Program", 1}}), hits.counts());
  hits.setRuleLabels({"Script", "Program"});
  EXPECT_EQ((Counts{{"Program", 1}, {"Script", 0}}), hits.counts());
  // Labels that show alike share one series.
  hits.setRuleLabels({"Ausf\xfchrbar", "Ausf\xc3\xbchrbar"});
  hits.countHit("Ausf\xfchrbar");
  hits.countHit("Ausf\xc3\xbchrbar");
  EXPECT_EQ((Counts{{"Ausf\xc3\xbchrbar", 2}}), hits.counts());
}

TEST(RuleHitCounters, LabelsPastTheCapShareOneSeries) {
  std::vector<std::string> labels;
  for (std::size_t i = 0; i < RuleHitCounters::maxLabels + 5; ++i)
    labels.push_back("rule " + std::to_string(i));
  RuleHitCounters hits;
  hits.setRuleLabels(labels);
  hits.countHit("rule 0");
  hits.countHit("rule 1000");
  hits.countHit("rule 1004");
  const Counts counts = hits.counts();
  ASSERT_EQ(RuleHitCounters::maxLabels + 1, counts.size());
  std::uint64_t more = 0;
  std::uint64_t first = 0;
  for (const auto& [label, count] : counts) {
    if (label == RuleHitCounters::moreRulesLabel) more = count;
    if (label == "rule 0") first = count;
  }
  EXPECT_EQ(2u, more);
  EXPECT_EQ(1u, first);
}

TEST(AtomicHistogram, BucketsAreCumulativeAndInclusive) {
  AtomicHistogram histogram({10, 20}, 1000);
  for (const std::uint64_t value : {0, 10, 11, 20, 21, 5000}) histogram.observe(value);
  std::string out;
  histogram.appendSamples(out, "h");
  EXPECT_EQ(
      "h_bucket{le=\"0.01\"} 2\nh_bucket{le=\"0.02\"} 4\nh_bucket{le=\"+Inf\"} 6\nh_sum 5.062\nh_count 6\n",
      out);
}

TEST(RulesDigest, KnownValues) {
  EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", sha256Hex(""));
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", sha256Hex("abc"));
  // Longer than one 64-byte block.
  EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
            sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
}

// Every way a message ends, as the exposition counts it.
TEST(MilterMetrics, CountsEveryEnd) {
  MilterMetrics metrics;
  metrics.setMode(true, Action::tag);
  metrics.rulesLoaded("Program\n\n*.pif\nScript\n\n*.vbs\n");
  metrics.rulesLoadFailed();
  ScanVerdict hit;
  hit.hit = true;
  hit.ruleLabel = "Program";
  hit.incompleteArchives = 2;
  const std::chrono::milliseconds time(3);
  metrics.messageEnded(Outcome::clean, FailureCause::tooLarge, "tag", ScanVerdict{}, time, 1000);
  metrics.messageEnded(Outcome::hit, FailureCause::tooLarge, "tag", hit, time, 2000);
  metrics.messageEnded(Outcome::hit, FailureCause::tooLarge, "redirect+hold", hit, time, 2000);
  metrics.messageEnded(Outcome::oversized, failureCauseOf(false, false, true), "tag", ScanVerdict{}, time,
                       100000);
  metrics.messageEnded(Outcome::failed, failureCauseOf(false, true, false), "tag", ScanVerdict{}, time, 0);
  {
    MessageEndReport refused(metrics, 3000);
    refused.ended(Outcome::failed, failureCauseOf(false, false, false), "tag", hit);
  }
  { MessageEndReport thrownOut(metrics, 4000); }
  EXPECT_EQ(FailureCause::scanFailed, failureCauseOf(true, true, true, true)) << "a failed step comes first";
  EXPECT_EQ(FailureCause::listerUnavailable, failureCauseOf(false, false, false, true));
  metrics.listerStarted();
  metrics.listerEnded(true);
  metrics.listerStarted();
  metrics.listerEnded(false);

  const std::string out = metrics.exposition();
  const std::string rulesInfo =
      R"(zentry_milter_rules_info{sha256=")" + sha256Hex("Program\n\n*.pif\nScript\n\n*.vbs\n") + R"("} 1)";
  for (const std::string& line : std::vector<std::string>{
           R"(zentry_milter_build_info{version="1.3.0",mode="strict"} 1)",
           R"(zentry_milter_messages_total{verdict="clean",action="none"} 1)",
           R"(zentry_milter_messages_total{verdict="hit",action="tag"} 1)",
           R"(zentry_milter_messages_total{verdict="hit",action="redirect+hold"} 1)",
           R"(zentry_milter_messages_total{verdict="failed",action="tempfail"} 4)",
           R"(zentry_milter_rule_hits_total{rule="Program"} 2)",
           R"(zentry_milter_rule_hits_total{rule="Script"} 0)",
           R"(zentry_milter_temporary_failures_total{cause="too_large"} 1)",
           R"(zentry_milter_temporary_failures_total{cause="scan_failed"} 1)",
           R"(zentry_milter_temporary_failures_total{cause="server_refused"} 1)",
           R"(zentry_milter_temporary_failures_total{cause="stopping"} 1)",
           R"(zentry_milter_temporary_failures_total{cause="lister_unavailable"} 0)",
           "zentry_milter_archives_listed_total 1",
           "zentry_milter_archives_incomplete_total 6",
           "zentry_milter_archive_lister_starts_total 2",
           "zentry_milter_archive_lister_failures_total 1",
           "zentry_milter_scan_duration_seconds_count 4",
           R"(zentry_milter_scan_duration_seconds_bucket{le="0.0025"} 1)",  // the refused one, timed for real
           R"(zentry_milter_scan_duration_seconds_bucket{le="0.005"} 4)",
           "zentry_milter_message_size_bytes_count 7",
           R"(zentry_milter_message_size_bytes_bucket{le="65536"} 6)",
           "zentry_milter_rules 2",
           "zentry_milter_rules_loads_total 1",
           "zentry_milter_rules_load_failures_total 1",
           R"(zentry_milter_rules_info{sha256=")" + sha256Hex("Program\n\n*.pif\nScript\n\n*.vbs\n") +
               R"("} 1)",
       }) {
    EXPECT_TRUE(holdsLine(out, line)) << line << "\n" << out;
  }
  // Actions never taken add no series; the one a hit takes is there from the start.
  EXPECT_EQ(std::string::npos, out.find(R"(action="redirect")")) << out;
  EXPECT_TRUE(holdsLine(MilterMetrics().exposition(),
                        R"(zentry_milter_messages_total{verdict="hit",action="redirect"} 0)"));
}

}  // namespace
}  // namespace zentry::milter
