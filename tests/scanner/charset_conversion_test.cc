#include "scanner/charset_conversion.h"

#include <gtest/gtest.h>

#include <string>

#include "support/table.h"

namespace zentry {
namespace {

TEST(CharsetConversion, Table) {
  CharsetConverter charsets;
  for (const test::Row& row : test::readTable("charset_conversions.txt")) {
    const auto order = row[2] == "le" ? CharsetConverter::UnmarkedOrder::littleEndian
                                      : CharsetConverter::UnmarkedOrder::bigEndian;
    std::string out = "<";
    const bool converted = charsets.appendUtf8(row[0], row[1], out, order);
    EXPECT_EQ(row[3] != "-", converted) << row.where;
    EXPECT_EQ(row[3] == "-" ? "<" : "<" + row[3], out) << row.where;
  }
}

TEST(CharsetConversion, BothOrdersOnlyWithoutAMark) {
  struct Case {
    const char* charset;
    std::string bytes;
    bool both;
  };
  const Case cases[] = {
      {"utf-16", std::string("x\0", 2), true},
      {"UCS-2*en", std::string("x\0", 2), true},
      {"utf-32", std::string("x\0\0\0", 4), true},
      {"utf-16", "\xFF\xFEx", false},
      {"utf-32", std::string("\0\0\xFE\xFF", 4), false},
      {"utf-16le", std::string("x\0", 2), false},
      {"iso-8859-1", "x", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.both, CharsetConverter::needsBothOrders(c.charset, c.bytes)) << c.charset << " " << c.bytes;
}

// A message naming a thousand charsets opens no more than the bound: past
// it even a known charset is left as it is.
TEST(CharsetConversion, CharsetsOpenedAreBounded) {
  CharsetConverter charsets;
  std::string out;
  for (int i = 0; i < 1000; ++i) EXPECT_FALSE(charsets.appendUtf8("x-" + std::to_string(i), "\xE9", out));
  EXPECT_FALSE(charsets.appendUtf8("iso-8859-1", "\xE9", out));
  EXPECT_TRUE(out.empty());
  CharsetConverter fresh;
  EXPECT_TRUE(fresh.appendUtf8("iso-8859-1", "\xE9", out));
  for (int i = 0; i < 1000; ++i) EXPECT_TRUE(fresh.appendUtf8("ISO-8859-1", "\xE9", out));
  EXPECT_EQ(1001u * 2, out.size());
}

TEST(CharsetConversion, HugeInputsStayLinear) {
  CharsetConverter charsets;
  std::string utf7 = "+";
  // Each "AHgAeAB4" is three 'x' in UTF-16.
  for (int i = 0; i < 100000; ++i) utf7 += "AHgAeAB4";
  std::string out;
  ASSERT_TRUE(charsets.appendUtf8("utf-7", utf7 + "-", out));
  EXPECT_EQ(std::string(300000, 'x'), out);
  // Every byte refused: each becomes U+FFFD, three bytes of output for one.
  out.clear();
  ASSERT_TRUE(charsets.appendUtf8("shift_jis", std::string(1000000, '\xFF'), out));
  EXPECT_EQ(3000000u, out.size());
}

}  // namespace
}  // namespace zentry
