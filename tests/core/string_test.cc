#include "core/string.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/allocator.h"
#include "support/table.h"

namespace zentry {
namespace {

constexpr std::uint32_t all = UINT32_MAX;

// A null text stands for a String without buffer. The spare room makes a
// copy that merely keeps the capacity show up as a wrong capacity.
String roomy(const char* text) {
  String s;
  if (text == nullptr) return s;
  s.reserve(64);
  s.assign(text);
  return s;
}

// Text, length, capacity and cursor in one comparable line; "-" = no buffer.
std::string describe(const String& s) {
  return (s.hasBuffer() ? std::string(s.cStr()) : "-") + "/" + std::to_string(s.length()) + "/" +
         std::to_string(s.capacity()) + "/" + std::to_string(s.cursor());
}

std::string exact(const char* text) {
  if (text == nullptr) return "-/0/0/0";
  const std::size_t n = std::string(text).size();
  return std::string(text) + "/" + std::to_string(n) + "/" + std::to_string(n + 1) + "/0";
}

// A table field: "(none)" stands for no text at all.
const char* text(const std::string& field) { return field == "(none)" ? nullptr : field.c_str(); }

TEST(StringPieces, Table) {
  for (const test::Row& row : test::readTable("string_pieces.txt")) {
    const String s = roomy(text(row[0]));
    const auto a = static_cast<std::uint32_t>(std::stoul(row[2]));
    const auto b = static_cast<std::uint32_t>(std::stoul(row[3]));
    const char op = row[1][0];
    const String got = op == 't' ? s.tail(a) : op == 'm' ? s.mid(a, b) : op == 'l' ? s.left(a) : s.right(a);
    EXPECT_EQ(exact(text(row[4])), describe(got)) << row.where;
  }
}

int sign(int v) { return (v > 0) - (v < 0); }
TEST(StringCompare, Table) {
  for (const test::Row& row : test::readTable("string_compare.txt")) {
    const String s = roomy(text(row[0]));
    const char* other = text(row[1]);
    EXPECT_EQ(row[2] == "true", s.equals(other)) << row.where;
    EXPECT_EQ(row[2] == "true", s.equals(roomy(other))) << row.where;
    EXPECT_EQ(std::stoi(row[3]), sign(s.compareNoCase(other))) << row.where;
    EXPECT_EQ(std::stoi(row[5]), s.compareNoCasePrefix(other, static_cast<std::uint32_t>(std::stoul(row[4]))))
        << row.where;
  }
}

TEST(StringSearch, Table) {
  for (const test::Row& row : test::readTable("string_search.txt")) {
    const String s = roomy(text(row[0]));
    const auto start = static_cast<std::uint32_t>(std::stoul(row[3]));
    const int got = row[1] == "true" ? s.findNoCase(text(row[2]), start) : s.find(row[2][0], start);
    EXPECT_EQ(std::stoi(row[4]), got) << row.where;
  }
}

// clang-format off
struct TrimCase { const char* text; bool left; const char* want; };
const TrimCase trimCases[] = {
    {" \t\r\n", false, ""}, {" a b ", true, "a b "}, {" a b ", false, " a b"},
    {"\n\tx", true, "x"},   {"  ", true, ""},        {"x", false, "x"},
};
// clang-format on
TEST(StringTrim, KeepsBufferAndCursor) {
  for (const TrimCase& c : trimCases) {
    String s = roomy(c.text);
    s.nextToken("", false);  // moves the cursor, which trims must leave alone
    const std::uint32_t cursor = s.cursor();
    c.left ? s.trimLeft() : s.trimRight();
    EXPECT_EQ(std::string(c.want) + "/" + std::to_string(std::string(c.want).size()) + "/64/" +
                  std::to_string(cursor),
              describe(s))
        << c.text;
  }
}

// clang-format off
struct TokenStep { const char* delimiters; bool restart; const char* want; };
struct TokenCase { const char* text; std::vector<TokenStep> steps; };
const TokenCase tokenCases[] = {
    {"a;;b;", {{";", true, "a"}, {";", false, "b"}, {";", false, nullptr}}},
    {"x?Q?rest\nmore", {{"?", true, "x"}, {"?", false, "Q"}, {"\n", false, "rest"}, {"?", false, "more"}}},
    {";;", {{";", false, nullptr}, {";", true, nullptr}}},
    {"ab", {{";", false, "ab"}, {";", false, nullptr}, {";", true, "ab"}}},
    {nullptr, {{";", true, ""}, {";", false, ""}}},
};
// clang-format on
TEST(StringNextToken, Table) {
  for (const TokenCase& c : tokenCases) {
    String s = roomy(c.text);
    const std::uint32_t startCursor = s.cursor();
    for (const TokenStep& step : c.steps) {
      const String token = s.nextToken(step.delimiters, step.restart);
      EXPECT_EQ(step.want == nullptr, !token.hasBuffer()) << c.text;
      EXPECT_STREQ(step.want ? step.want : "", token.cStr()) << c.text;
    }
    if (c.text == nullptr) {
      EXPECT_EQ(startCursor, s.cursor());
    }
  }
}

TEST(StringNextToken, AppendedTextNeedsARestart) {
  String s;
  s.append("a b");
  EXPECT_FALSE(s.nextToken(" ", false).hasBuffer());
  EXPECT_STREQ("a", s.nextToken(" ", true).cStr());
}

TEST(StringGrowth, ExactOnAssignSlackOnAppend) {
  String s("abc");
  s.assign("abcdefgh");
  EXPECT_EQ("abcdefgh/8/9/0", describe(s));
  s.assign("a");
  EXPECT_EQ("a/1/9/0", describe(s));
  String t;
  t.appendChar('x');
  EXPECT_EQ("x/1/130/" + std::to_string(all), describe(t));
  t.append(std::string(200, 'y').c_str());
  EXPECT_EQ(330u, t.capacity());  // need 202, plus 128
  EXPECT_TRUE(t.reserve(1000));
  EXPECT_EQ(1000u, t.capacity());
  String u("ab");
  ASSERT_TRUE(u.reserve(5));
  u.append("cd");  // fills the room exactly
  EXPECT_EQ("abcd/4/5/0", describe(u));
}

TEST(StringGrowth, ZeroByteEndsTheTextForLaterEdits) {
  String s("ab");
  s.appendChar(0);
  EXPECT_EQ(3u, s.length());
  s.append("c");
  EXPECT_STREQ("abc", s.cStr());  // the text goes on at the first 0 byte
  EXPECT_EQ(3u, s.length());
  s.appendChar(0);
  s.trimRight();
  EXPECT_EQ(3u, s.length());
}

TEST(StringAliasing, OwnTextAsArgument) {
  String s("abc");
  s.append(s);  // grows, so the source buffer goes away mid-call
  s.append(s.cStr() + 4);
  EXPECT_STREQ("abcabcbc", s.cStr());
  s.assign(s.cStr() + 6);
  EXPECT_EQ("bc/2/135/0", describe(s));
  s.nextToken("", true);
  s.assign(s);
  EXPECT_EQ(2u, s.cursor());
}

// Runs one operation on "ab" while the `failing`-th allocation fails.
std::string underFailure(char op, std::uint64_t failing) {
  String s("ab");
  String result;
  failAllocationAt(failing);
  if (op == 'a') s.assign("abcdef");
  if (op == '+') s.append("cd");
  if (op == 'c') s.appendChar('c');
  if (op == 'r') s.reserve(9);
  if (op == 'm') result = s.mid(1, 1);
  if (op == 'l') result = s.left(1);
  if (op == 'R') result = s.right(1);
  if (op == 'k') result = String(s);
  failAllocationAt(0);
  return describe(s) + " " + describe(result);
}

// clang-format off
struct FailCase { char op; std::uint64_t failing; const char* want; };
const FailCase failCases[] = {
    {'a', 1, "-/0/0/0 -/0/0/4294967295"},  {'+', 1, "ab/2/3/0 -/0/0/4294967295"},
    {'c', 1, "ab/2/3/0 -/0/0/4294967295"}, {'r', 1, "ab/2/3/0 -/0/0/4294967295"},
    {'m', 1, "ab/2/3/0 -/0/0/0"},          {'m', 2, "ab/2/3/0 -/0/0/0"},
    {'l', 1, "ab/2/3/0 -/0/0/0"},          {'l', 2, "ab/2/3/0 -/0/0/0"},
    {'R', 1, "ab/2/3/0 -/0/0/0"},          {'R', 2, "ab/2/3/0 -/0/0/0"},
    {'k', 1, "ab/2/3/0 -/0/0/0"},
};
// clang-format on
TEST(StringOutOfMemory, Table) {
  for (const FailCase& c : failCases) {
    EXPECT_EQ(c.want, underFailure(c.op, c.failing)) << c.op << c.failing;
  }
}

// Names and tokens are built byte by byte and a sender can make them
// megabytes long: past a small size, growth must be geometric or building one
// copies it thousands of times over.
TEST(StringGrowth, LongTextsBuiltByteByByteTakeFewAllocations) {
  String text;
  const std::uint64_t before = allocationCount();
  for (int i = 0; i < (4 << 20); ++i) text.appendChar('x');
  EXPECT_EQ(4u << 20, text.length());
  EXPECT_LT(allocationCount() - before, 600u);
}

}  // namespace
}  // namespace zentry
