#include "milter/message_log.h"

#include <gtest/gtest.h>

namespace zentry::milter {
namespace {

TEST(MessageLogLine, OneBoundedLine) {
  ScanVerdict verdict;
  verdict.ruleLabel = "Executable";
  verdict.name = std::string("evil\r\n.exe") + std::string(300, 'x');
  const std::string line = messageLogLine("4XyZ1", Outcome::hit, "redirect", verdict, 0.1234, 5120);
  EXPECT_EQ(
      0u, line.rfind("queue=4XyZ1 verdict=hit action=redirect rule=\"Executable\" name=\"evil%0D%0A.exe", 0));
  EXPECT_NE(std::string::npos, line.find("\" time=0.123ms size=5120"));
  EXPECT_EQ(std::string::npos, line.find('\n'));
  EXPECT_LT(line.size(), 400u);
  EXPECT_EQ("queue=NOQUEUE verdict=oversized time=2.000ms size=9",
            messageLogLine("NOQUEUE", Outcome::oversized, "tag", ScanVerdict{}, 2, 9));
}

}  // namespace
}  // namespace zentry::milter
