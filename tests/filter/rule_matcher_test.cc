#include "filter/rule_matcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zentry {
namespace {

struct RuleText {
  const char* label;
  const char* subjectMask;
  const char* fileMask;
};

struct HitCase {
  const char* name;
  std::vector<RuleText> rules;
  std::vector<const char*> names;
  const char* subject;
  int ruleIndex;  // -1: no hit
  int nameIndex;  // -1: no name
};

const HitCase hitCases[] = {
    {"no rules", {}, {"a.exe"}, "hi", -1, -1},
    {"all empty hits anything", {{"", "", ""}}, {}, "", 0, -1},
    {"star needs a name", {{"L", "", "*"}}, {}, "hi", -1, -1},
    {"star with a name", {{"L", "", "*"}}, {"x"}, "hi", 0, 0},
    {"subject alone", {{"L", "Your document*", ""}}, {}, "your DOCUMENT here", 0, -1},
    {"subject mismatch", {{"L", "Your document*", ""}}, {"a.exe"}, "hello", -1, -1},
    {"both must hold", {{"L", "hi*", "*.exe"}}, {"a.exe"}, "no", -1, -1},
    {"both hold", {{"L", "hi*", "*.exe"}}, {"a.doc", "a.exe"}, "hi there", 0, 1},
    {"first name reported", {{"L", "", "*.exe"}}, {"a.txt", "b.exe", "c.exe"}, "", 0, 1},
    {"first rule wins", {{"A", "", "*.exe"}, {"B", "", "*"}}, {"x.exe"}, "", 0, 0},
    {"later rule", {{"A", "", "*.exe"}, {"B", "", "*.pif"}}, {"x.doc", "y.pif"}, "", 1, 1},
    {"subject rule after file rule", {{"A", "", "*.exe"}, {"B", "spam", ""}}, {"x.doc"}, "SPAM", 1, -1},
    {"trailing space in mask", {{"A", "", "*.exe "}}, {"a.exe"}, "", -1, -1},
    {"empty subject against mask", {{"A", "?*", ""}}, {}, "", -1, -1},
};

TEST(FindHit, Rows) {
  for (const HitCase& c : hitCases) {
    RuleList rules;
    for (const RuleText& text : c.rules) {
      Rule rule;
      rule.label.assign(text.label);
      rule.subjectMask.assign(text.subjectMask);
      rule.fileMask.assign(text.fileMask);
      rules.pushBack(rule);
    }
    AttachmentNames names;
    for (const char* name : c.names) names.pushBack(String(name));
    const Hit hit = findHit(rules, names, String(c.subject));

    int ruleIndex = -1;
    int index = 0;
    for (const Rule& rule : rules) {
      if (&rule == hit.rule) ruleIndex = index;
      ++index;
    }
    int nameIndex = -1;
    index = 0;
    for (const String& name : names) {
      if (&name == hit.name) nameIndex = index;
      ++index;
    }
    EXPECT_EQ(c.ruleIndex, ruleIndex) << c.name;
    EXPECT_EQ(c.nameIndex, nameIndex) << c.name;
    EXPECT_EQ(c.ruleIndex == -1, hit.rule == nullptr) << c.name;
  }
}

}  // namespace
}  // namespace zentry
