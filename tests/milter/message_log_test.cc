#include "milter/message_log.h"

#include <gtest/gtest.h>

namespace zentry::milter {
namespace {

TEST(MessageLog, FailureSaysWhy) {
  ScanVerdict verdict;
  verdict.hit = true;
  verdict.ruleLabel = "Executable";
  verdict.name = "a.exe";
  EXPECT_EQ(
      "queue=Q1 verdict=failed action=redirect rule=\"Executable\" name=\"a.exe\" "
      "reason=\"the server refused the field X-Zentry-Original-Recipients\" time=1.500ms size=10",
      messageLogLine("Q1", Outcome::failed, "redirect", verdict, 1.5, 10,
                     "the server refused the field X-Zentry-Original-Recipients"));
  EXPECT_EQ("queue=Q2 verdict=clean time=0.000ms size=3",
            messageLogLine("Q2", Outcome::clean, "tag", {}, 0, 3));
}

// The whole list can be read back from the lines, each a bounded line.
TEST(MessageLog, RecipientLinesHoldEveryRecipient) {
  std::vector<std::string> recipients;
  for (int i = 0; i < 1000; ++i)
    recipients.push_back("<" + std::to_string(i) + std::string(110, 'r') + "@x>");
  recipients.push_back(std::string(2000, 'L'));  // cut at 512 bytes
  const std::vector<std::string> lines = recipientLogLines("Q", recipients);
  std::string joined;
  std::size_t first = 1;
  for (const std::string& line : lines) {
    EXPECT_LE(line.size(), 1000u);
    const std::string prefix = "queue=Q recipients " + std::to_string(first) + "-";
    ASSERT_EQ(0u, line.find(prefix)) << line;
    first = std::stoul(line.substr(prefix.size())) + 1;
    EXPECT_NE(std::string::npos, line.find(" of 1001: ")) << line;
    joined += (joined.empty() ? "" : ", ") + line.substr(line.find(": ") + 2);
  }
  EXPECT_EQ(1002u, first);
  std::string expected;
  for (int i = 0; i < 1000; ++i) expected += (i ? ", " : "") + recipients[static_cast<std::size_t>(i)];
  EXPECT_EQ(expected + ", " + std::string(512, 'L'), joined);
  EXPECT_TRUE(recipientLogLines("Q", {}).empty());
}

}  // namespace
}  // namespace zentry::milter
