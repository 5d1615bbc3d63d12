#include "core/string.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/allocator.h"

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

// clang-format off
struct PieceCase { const char* text; char op; std::uint32_t a, b; const char* want; };
const PieceCase pieceCases[] = {
    {"abc", 't', 0, 0, "abc"}, {nullptr, 't', 0, 0, nullptr}, {"abc", 't', 1, 0, "bc"},
    {"abc", 't', 3, 0, ""}, {nullptr, 't', 2, 0, ""}, {"abcdef", 'm', 1, 3, "bcd"},
    {"abc", 'm', 1, 99, "bc"}, {"abc", 'm', 3, 1, ""}, {"abc", 'm', 0, 0, ""},
    {nullptr, 'm', 0, 1, ""}, {"abc", 'm', 0, all, "abc"}, {"abc", 'l', 0, 0, ""},
    {"abc", 'l', 2, 0, "ab"}, {"abc", 'l', 3, 0, "abc"}, {nullptr, 'l', 5, 0, nullptr},
    {"ab?=", 'r', 2, 0, "?="}, {"abc", 'r', 3, 0, "abc"}, {"abc", 'r', 0, 0, ""},
    {nullptr, 'r', 1, 0, ""},
    // Former faults: a count of length - 4 wrapped below zero reserved 0 bytes.
    {"=?=", 'm', 2, 3u - 4u, "="},
};
// clang-format on
TEST(StringPieces, Table) {
  for (const PieceCase& c : pieceCases) {
    const String s = roomy(c.text);
    const String got = c.op == 't'   ? s.tail(c.a)
                       : c.op == 'm' ? s.mid(c.a, c.b)
                       : c.op == 'l' ? s.left(c.a)
                                     : s.right(c.a);
    EXPECT_EQ(exact(c.want), describe(got)) << c.op << " " << (c.text ? c.text : "-") << " " << c.a;
  }
}

// clang-format off
struct CompareCase { const char* self; const char* text; bool equal; int noCase; std::uint32_t n; int prefix; };
const CompareCase compareCases[] = {
    {nullptr, nullptr, true, 0, 5, 0}, {nullptr, "", false, 1, 0, 1}, {"", nullptr, false, 1, 3, 1},
    {"", "", true, 0, 3, 0}, {"name", "NAME", false, 0, 4, 0}, {"abc", "abd", false, -1, 2, 0},
    {"abc", "abd", false, -1, 3, -1}, {"ab", "abc", false, -1, 3, -1}, {"abc", "ab", false, 1, 9, 1},
    {"Content-Type: text/plain", "content-type:", false, 1, 13, 0},
    // Only A-Z fold: '[' and '{' lie 0x20 apart but are no letters.
    {"[", "{", false, -1, 1, -1}, {"\xE9", "a", false, 1, 1, 1},
};
// clang-format on
int sign(int v) { return (v > 0) - (v < 0); }
TEST(StringCompare, Table) {
  for (const CompareCase& c : compareCases) {
    const String s = roomy(c.self);
    const String other = roomy(c.text);
    const std::string row = std::string(c.self ? c.self : "-") + " ~ " + (c.text ? c.text : "-");
    EXPECT_EQ(c.equal, s.equals(c.text)) << row;
    EXPECT_EQ(c.equal, s.equals(other)) << row;
    EXPECT_EQ(c.noCase, sign(s.compareNoCase(c.text))) << row;
    EXPECT_EQ(c.prefix, s.compareNoCasePrefix(c.text, c.n)) << row;
  }
}

// clang-format off
struct SearchCase { const char* text; bool noCase; const char* needle; std::uint32_t start; int want; };
const SearchCase searchCases[] = {
    {"ab;cd;", false, ";", 3, 5},  {"ab;cd;", false, ";", 6, -1}, {nullptr, false, "a", 0, -1},
    {"abc", false, "x", 0, -1},    {"x?q?y", true, "?Q?", 0, 1},  {"ab", true, "abc", 0, -1},
    {"abc", true, "", 1, 1},       {"abc", true, "", 3, -1},      {"abcab", true, "AB", 1, 3},
    {"abc", true, "c", 2, 2},      {"abc", true, "bc", 2, -1},    {nullptr, true, "", 0, -1},
    {"abc", true, nullptr, 0, -1},
};
// clang-format on
TEST(StringSearch, Table) {
  for (const SearchCase& c : searchCases) {
    const String s = roomy(c.text);
    const int got = c.noCase ? s.findNoCase(c.needle, c.start) : s.find(c.needle[0], c.start);
    EXPECT_EQ(c.want, got) << (c.text ? c.text : "-") << " " << (c.needle ? c.needle : "-");
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
