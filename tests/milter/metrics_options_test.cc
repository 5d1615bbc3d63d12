#include <gtest/gtest.h>

#include <sstream>

#include "milter/options.h"
#include "support/table.h"

namespace zentry::milter {
namespace {

TEST(MilterMetricsOption, Table) {
  for (const test::Row& row : test::readTable("milter_metrics_options.txt")) {
    std::vector<std::string> words{"zentry-milter"};
    std::istringstream line(row[0]);
    for (std::string word; line >> word;)
      words.push_back(word[0] == '@' ? ZENTRY_TESTDATA "/milter/" + word.substr(1) : word);
    Options options;
    std::string error;
    const bool parsed = parseOptions(words, &options, &error);
    EXPECT_EQ(row[1], parsed ? options.metrics : "error") << row.where << ": " << error;
    if (!parsed) {
      EXPECT_NE(std::string::npos, error.find(row[2])) << row.where << ": " << error;
    }
  }
}

}  // namespace
}  // namespace zentry::milter
