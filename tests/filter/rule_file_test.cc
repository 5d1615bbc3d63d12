#include "filter/rule_file.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "support/memory_workspace.h"

namespace zentry {
namespace {

using Fields = std::array<std::string, 3>;  // label, subject mask, file mask

std::vector<Fields> load(const std::string& file) {
  test::MemoryWorkspace workspace;
  workspace.write("zentry.dat", file);
  RuleList rules;
  rules.pushBack(Rule{});  // loading starts from an empty list
  loadRules(workspace, rules);
  std::vector<Fields> fields;
  for (const Rule& rule : rules)
    fields.push_back({rule.label.cStr(), rule.subjectMask.cStr(), rule.fileMask.cStr()});
  return fields;
}

struct RuleFileCase {
  const char* name;
  std::string file;
  std::vector<Fields> rules;
};

const std::string x998(998, 'x');
const std::string x999(999, 'x');
const std::string z999(999, 'z');

const RuleFileCase ruleFileCases[] = {
    {"empty file", "", {}},
    {"only LFs", std::string(7, '\n'), {{"", "", ""}, {"", "", ""}}},
    {"two rules",
     "Exe\n\n*.exe\nSubject\nYour doc*\n\n",
     {{"Exe", "", "*.exe"}, {"Subject", "Your doc*", ""}}},
    {"partial rule dropped", "a\nb\nc\nd\ne", {{"a", "b", "c"}}},
    {"last line without LF", "a\nb\nc", {{"a", "b", "c"}}},
    {"CR LF like LF", "a\r\nb\r\nc\r\n", {{"a", "b", "c"}}},
    {"lone CR and blanks stay", " a\rb\t\nc\r\r\n*.exe \n", {{" a\rb\t", "c\r", "*.exe "}}},
    {"NUL ends the field", std::string("ab\0cd\n\0\nf\n", 10), {{"ab", "", "f"}}},
    {"0x1A ends the file",
     "a\nb\nc\n\x1a"
     "d\ne\nf\n",
     {{"a", "b", "c"}}},
    {"998 bytes one field", x998 + "\r\ns\nf\n", {{x998, "s", "f"}}},
    {"999 bytes shift", x999 + "\r\ns\nf\nl\nm\n", {{x999, "", "s"}, {"f", "l", "m"}}},
    {"999 bytes at the end", "l\ns\n" + x999, {{"l", "s", x999}}},
    // 999 bytes a read: 4000 bytes are five fields and shift what follows.
    {"4000 bytes", std::string(4000, 'z') + "\nl\ns\nf\n", {{z999, z999, z999}, {z999, "zzzz", "l"}}},
};

TEST(LoadRules, FileRows) {
  for (const RuleFileCase& c : ruleFileCases) EXPECT_EQ(c.rules, load(c.file)) << c.name;
}

TEST(LoadRules, MissingFileEmptiesTheList) {
  test::MemoryWorkspace workspace;
  RuleList rules;
  rules.pushBack(Rule{});
  loadRules(workspace, rules);
  EXPECT_EQ(0u, rules.count());
}

}  // namespace
}  // namespace zentry
