#include "core/value_list.h"

#include <gtest/gtest.h>

#include <string>

#include "core/rule.h"

namespace zentry {
namespace {

std::string joined(const AttachmentNames& names) {
  std::string out;
  for (const String& name : names) out += std::string(name.cStr()) + ",";
  return out;
}

TEST(RuleList, StoredCopySurvivesReuseOfTheWorkingRule) {
  RuleList rules;
  Rule working;
  const char* const lines[][3] = {{"*.pif", "Executable", ""}, {"*.exe", "Program", "Hi*"}};
  for (const auto& line : lines) {
    working.fileMask.assign(line[0]);
    working.label.assign(line[1]);
    working.subjectMask.assign(line[2]);
    rules.pushBack(working);
  }
  working.fileMask.assign("overwritten");
  std::string seen;
  for (const Rule& rule : rules) {
    seen += std::string(rule.fileMask.cStr()) + "|" + rule.label.cStr() + "|" + rule.subjectMask.cStr() + ";";
    EXPECT_EQ(rule.fileMask.length() + 1, rule.fileMask.capacity());
    EXPECT_EQ(0u, rule.label.cursor());
  }
  EXPECT_EQ("*.pif|Executable|;*.exe|Program|Hi*;", seen);
}

TEST(AttachmentNames, VisitsInInsertionOrderAndStaysUsable) {
  AttachmentNames names;
  EXPECT_EQ("", joined(names));
  String name;
  for (const char* text : {"File1.tmp", "invoice.pif", "File3.tmp"}) {
    name.assign(text);
    names.pushBack(name);
  }
  EXPECT_EQ("File1.tmp,invoice.pif,File3.tmp,", joined(names));
  names.popBack();
  EXPECT_EQ(2u, names.count());
  EXPECT_STREQ("invoice.pif", names.back().cStr());
  names.clear();
  names.pushBack(String("again"));
  EXPECT_EQ("again,", joined(names));
}

}  // namespace
}  // namespace zentry
