#include "filter/rule_matcher.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace zentry {
namespace {

struct HitCase {
  std::vector<std::array<const char*, 3>> rules;  // label, subject mask, file mask
  std::vector<const char*> names;
  const char* subject;
  int ruleIndex;  // -1: no hit
  int nameIndex;  // -1: no name
};

const HitCase hitCases[] = {
    {{{"L", "", "*"}}, {}, "hi", -1, -1},  // a file mask needs a name
    {{{"L", "", "*.exe"}}, {"a.txt", "b.exe", "c.exe"}, "", 0, 1},
    {{{"L", "hi*", "*.exe"}}, {"a.exe"}, "no", -1, -1},
    {{{"A", "", "*.exe"}, {"B", "", "*"}}, {"x.exe"}, "", 0, 0},
    {{{"A", "", "*.exe"}, {"B", "spam", ""}}, {"x.doc"}, "SPAM", 1, -1},
    {{{"A", "", "*.exe"}, {"B", "", "*.pif"}}, {"x.doc", "y.pif"}, "", 1, 1},
};

template <typename List, typename Element>
int indexOf(const List& list, const Element* element) {
  int index = 0;
  for (const Element& item : list) {
    if (&item == element) return index;
    ++index;
  }
  return -1;
}

TEST(FindHit, Rows) {
  for (const HitCase& c : hitCases) {
    RuleList rules;
    for (const auto& text : c.rules) rules.pushBack(Rule{String(text[2]), String(text[0]), String(text[1])});
    AttachmentNames names;
    for (const char* name : c.names) names.pushBack(String(name));
    const Hit hit = findHit(rules, names, String(c.subject));
    EXPECT_EQ(c.ruleIndex, indexOf(rules, hit.rule)) << &c - hitCases;
    EXPECT_EQ(c.nameIndex, indexOf(names, hit.name)) << &c - hitCases;
  }
}

}  // namespace
}  // namespace zentry
