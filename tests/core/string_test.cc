#include "core/string.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

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

TEST(StringTrim, KeepsBufferAndCursor) {
  for (const test::Row& row : test::readTable("string_trims.txt")) {
    String s = roomy(row[0].c_str());
    s.nextToken("", false);  // moves the cursor, which trims must leave alone
    const std::uint32_t cursor = s.cursor();
    row[1] == "l" ? s.trimLeft() : s.trimRight();
    EXPECT_EQ(row[2] + "/" + std::to_string(row[2].size()) + "/64/" + std::to_string(cursor), describe(s))
        << row.where;
  }
}

TEST(StringNextToken, Table) {
  for (const test::Row& row : test::readTable("string_tokens.txt")) {
    String s = roomy(text(row[0]));
    const std::uint32_t startCursor = s.cursor();
    for (std::size_t step = 1; step + 2 < row.fields.size(); step += 3) {
      const String token = s.nextToken(row[step].c_str(), row[step + 1] == "1");
      EXPECT_EQ(row[step + 2] == "(none)", !token.hasBuffer()) << row.where << " step " << step / 3;
      EXPECT_EQ(row[step + 2] == "(none)" ? "" : row[step + 2], token.cStr())
          << row.where << " step " << step / 3;
    }
    if (text(row[0]) == nullptr) {
      EXPECT_EQ(startCursor, s.cursor()) << row.where;
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

TEST(StringOutOfMemory, Table) {
  for (const test::Row& row : test::readTable("string_allocation_failures.txt"))
    EXPECT_EQ(row[2], underFailure(row[0][0], std::stoull(row[1]))) << row.where;
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
