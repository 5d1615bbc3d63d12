#include "filter/rule_file.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/memory_line_source.h"

namespace zentry {
namespace {

// A working directory that holds at most the rule file, in memory.
class RuleFileWorkspace : public Workspace {
 public:
  explicit RuleFileWorkspace(const std::string* rules) : rules_(rules) {}
  std::unique_ptr<LineSource> openText(const char* name) override {
    if (rules_ == nullptr || std::string(name) != "zentry.dat") return nullptr;
    return std::make_unique<MemoryLineSource>(*rules_);
  }
  std::unique_ptr<TextSink> openAppend(const char*) override { return nullptr; }

 private:
  const std::string* rules_;
};

struct Fields {
  std::string label;
  std::string subjectMask;
  std::string fileMask;
};

std::vector<Fields> load(const std::string& file) {
  RuleFileWorkspace workspace(&file);
  RuleList rules;
  loadRules(workspace, rules);
  std::vector<Fields> fields;
  for (const Rule& rule : rules) {
    // Strings hold no NUL inside their length, so cStr() gives all of it.
    EXPECT_EQ(rule.label.length(), std::string(rule.label.cStr()).size());
    fields.push_back({rule.label.cStr(), rule.subjectMask.cStr(), rule.fileMask.cStr()});
  }
  return fields;
}

std::string describe(const std::vector<Fields>& rules) {
  std::string out;
  for (const Fields& f : rules) {
    out += "[" + f.label.substr(0, 20) + "|" + f.subjectMask.substr(0, 20) + "|" + f.fileMask.substr(0, 20) +
           "] sizes " + std::to_string(f.label.size()) + "/" + std::to_string(f.subjectMask.size()) + "/" +
           std::to_string(f.fileMask.size()) + "\n";
  }
  return out;
}

struct RuleFileCase {
  const char* name;
  std::string file;
  std::vector<Fields> rules;
};

const std::string x998(998, 'x');
const std::string x999(999, 'x');
const std::string x999z(999, 'z');

const RuleFileCase ruleFileCases[] = {
    {"empty file", "", {}},
    {"one LF", "\n", {}},
    {"three LFs", "\n\n\n", {{"", "", ""}}},
    {"only LFs", std::string(7, '\n'), {{"", "", ""}, {"", "", ""}}},
    {"two rules",
     "Executable attachment\n\n*.exe\nSubject alone\nYour document*\n\n",
     {{"Executable attachment", "", "*.exe"}, {"Subject alone", "Your document*", ""}}},
    {"seventh line dropped", "a\nb\nc\nd\ne\nf\ng\n", {{"a", "b", "c"}, {"d", "e", "f"}}},
    {"partial rule dropped", "a\nb\nc\nd\ne", {{"a", "b", "c"}}},
    {"last line without LF", "a\nb\nc", {{"a", "b", "c"}}},
    {"CR LF like LF", "a\r\nb\r\nc\r\n", {{"a", "b", "c"}}},
    {"lone CR stays", "a\rb\nc\r\r\nd\r", {{"a\rb", "c\r", "d\r"}}},
    {"blanks stay", " a\t\n*.exe \n\t\n", {{" a\t", "*.exe ", "\t"}}},
    {"one LF removed", "a\n\n\nb\n", {{"a", "", ""}}},
    {"NUL ends the field", std::string("ab\0cd\ns\nf\n", 11), {{"ab", "s", "f"}}},
    {"NUL first", std::string("\0\ns\nf\n", 6), {{"", "s", "f"}}},
    {"0x1A ends the file",
     "a\nb\nc\n\x1a"
     "d\ne\nf\n",
     {{"a", "b", "c"}}},
    {"998 bytes one field", x998 + "\ns\nf\n", {{x998, "s", "f"}}},
    {"999 bytes shift", x999 + "\ns\nf\nl\nm\n", {{x999, "", "s"}, {"f", "l", "m"}}},
    {"998 bytes CR LF", x998 + "\r\ns\nf\n", {{x998, "s", "f"}}},
    {"999 bytes CR LF", x999 + "\r\ns\nf\n", {{x999, "", "s"}}},
    {"999 bytes at the end", "l\ns\n" + x999, {{"l", "s", x999}}},
    {"1000 bytes", "l\ns\n" + x999 + "y\n", {{"l", "s", x999}}},
    // Five reads of 999 bytes, then the last 5 with the LF: two whole rules.
    {"5000 bytes", std::string(5000, 'z') + "\n", {{x999z, x999z, x999z}, {x999z, x999z, "zzzzz"}}},
    {"4000 bytes shift",
     std::string(4000, 'z') + "\nl\ns\nf\n",
     {{x999z, x999z, x999z}, {x999z, "zzzz", "l"}}},
};

TEST(LoadRules, FileRows) {
  for (const RuleFileCase& c : ruleFileCases) {
    const std::vector<Fields> got = load(c.file);
    EXPECT_EQ(describe(c.rules), describe(got)) << c.name;
    ASSERT_EQ(c.rules.size(), got.size()) << c.name;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(c.rules[i].label, got[i].label) << c.name << " rule " << i;
      EXPECT_EQ(c.rules[i].subjectMask, got[i].subjectMask) << c.name << " rule " << i;
      EXPECT_EQ(c.rules[i].fileMask, got[i].fileMask) << c.name << " rule " << i;
    }
  }
}

TEST(LoadRules, MissingFileEmptiesTheList) {
  RuleFileWorkspace workspace(nullptr);
  RuleList rules;
  rules.pushBack(Rule{});
  loadRules(workspace, rules);
  EXPECT_EQ(0u, rules.count());
}

TEST(LoadRules, ReloadReplacesTheRules) {
  const std::string file = "a\nb\nc\n";
  RuleFileWorkspace workspace(&file);
  RuleList rules;
  loadRules(workspace, rules);
  loadRules(workspace, rules);
  EXPECT_EQ(1u, rules.count());
}

}  // namespace
}  // namespace zentry
