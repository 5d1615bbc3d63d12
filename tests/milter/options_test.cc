#include "milter/options.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/table.h"

namespace zentry::milter {
namespace {

std::string described(const Options& options) {
  const char* const actions[] = {"redirect", "reject", "quarantine", "tag"};
  return options.socket + " " + options.rules + " " + options.mailbox + " " +
         actions[static_cast<int>(options.action)] + (options.strict ? " strict " : " exact ") +
         std::to_string(options.maxMessageBytes) + (options.user.empty() ? "" : " user=" + options.user) +
         (options.redirectSender.empty() ? "" : " sender=" + options.redirectSender) +
         (options.stopWaitSeconds == 30 ? "" : " wait=" + std::to_string(options.stopWaitSeconds));
}

TEST(MilterOptions, Table) {
  for (const test::Row& row : test::readTable("milter_options.txt")) {
    std::vector<std::string> words{"zentry-milter"};
    std::istringstream line(row[0]);
    for (std::string word; line >> word;)
      words.push_back(word[0] == '@' ? ZENTRY_TESTDATA "/milter/" + word.substr(1) : word);
    Options options;
    std::string error;
    const bool parsed = parseOptions(words, &options, &error);
    EXPECT_EQ(row[1], parsed ? described(options) : "error") << row.where << ": " << error;
    EXPECT_NE(std::string::npos, parsed ? 0 : error.find(row[2])) << row.where << ": " << error;
  }
}

}  // namespace
}  // namespace zentry::milter
