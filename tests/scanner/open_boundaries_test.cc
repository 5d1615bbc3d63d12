#include "scanner/open_boundaries.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/table.h"

namespace zentry {
namespace {

std::string found(const std::string& boundaries, const std::string& line) {
  OpenBoundaries open;
  std::size_t start = 0;
  for (;;) {
    const std::size_t bar = boundaries.find('|', start);
    open.push(OpenMultipart{boundaries.substr(start, bar - start), 0, false});
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  const FoundDelimiter delimiter = open.delimiterOf(line.data(), line.size());
  if (delimiter.end == DelimiterEnd::none) return "none";
  return std::to_string(delimiter.level) +
         (delimiter.end == DelimiterEnd::delimiter ? " delimiter" : " close");
}

TEST(OpenBoundaries, Table) {
  for (const test::Row& row : test::readTable("open_boundaries.txt"))
    EXPECT_EQ(row[2], found(row[0], row[1])) << row.where;
}

// Closing levels forgets their boundaries, and an outer one of the same
// text is found again.
TEST(OpenBoundaries, KeepForgetsInnerLevels) {
  OpenBoundaries open;
  for (const char* boundary : {"A", "B", "A ", "A"}) open.push(OpenMultipart{boundary, 0, false});
  open.keep(2);
  for (const char* line : {"--A\n", "--A \n"}) {
    const FoundDelimiter found = open.delimiterOf(line, std::strlen(line));
    EXPECT_EQ(DelimiterEnd::delimiter, found.end) << line;
    EXPECT_EQ(0u, found.level) << line;
  }
  open.keep(0);
  EXPECT_EQ(DelimiterEnd::none, open.delimiterOf("--A\n", 4).end);
}

}  // namespace
}  // namespace zentry
