#include "host/name_origins.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/table.h"

namespace zentry::host {
namespace {

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t end = std::min(text.find(separator, start), text.size());
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

TEST(InferNameOrigins, FollowsTheWalk) {
  for (const test::Row& row : test::readTable("../../host/testdata/name_origins.txt")) {
    EXPECT_EQ(split(row[3], '|'), inferNameOrigins(split(row[0], '\n'), split(row[1], '|'), row[2]))
        << row.where;
  }
}

}  // namespace
}  // namespace zentry::host
