#include "filter/rule_file.h"

#include <gtest/gtest.h>

#include <string>

#include "support/memory_workspace.h"
#include "support/table.h"

namespace zentry {
namespace {

// The rules loaded from `file` ("(none)": no file) as label|subject mask|file mask; per rule.
std::string load(const std::string& file) {
  test::MemoryWorkspace workspace;
  if (file != "(none)") workspace.write("zentry.dat", file);
  RuleList rules;
  rules.pushBack(Rule{});  // loading starts from an empty list
  loadRules(workspace, rules);
  std::string out;
  for (const Rule& rule : rules)
    out += std::string(rule.label.cStr()) + "|" + rule.subjectMask.cStr() + "|" + rule.fileMask.cStr() + ";";
  return out;
}

TEST(LoadRules, FileRows) {
  for (const test::Row& row : test::readTable("rule_files.txt")) EXPECT_EQ(row[1], load(row[0])) << row.where;
}

}  // namespace
}  // namespace zentry
