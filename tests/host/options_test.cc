#include "host/options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/table.h"

namespace zentry::host {
namespace {

TEST(ParseOptions, Table) {
  static const char* modes[] = {"run", "replay", "explain", "help", "version"};
  static const char* formats[] = {"text", "csv", "json"};
  for (const test::Row& row : test::readTable("../../host/testdata/options.txt")) {
    std::vector<std::string> arguments;
    std::istringstream words(row[0]);
    for (std::string word; words >> word;) arguments.push_back(word);
    Options o;
    std::string error, parsed;
    if (!parseOptions(arguments, &o, &error)) {
      parsed = error.empty() ? "error without reason" : "error";
    } else {
      parsed = std::string(modes[static_cast<int>(o.mode)]) + " " + o.input + " " + o.rules + " " +
               o.mailbox + " " + std::to_string(o.jobs) + " " + formats[static_cast<int>(o.format)] +
               (o.debug ? " debug" : "") + (o.logFile.empty() ? "" : " " + o.logFile);
    }
    EXPECT_EQ(row[1], parsed) << row.where;
  }
}

}  // namespace
}  // namespace zentry::host
