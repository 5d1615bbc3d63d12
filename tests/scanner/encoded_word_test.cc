#include "scanner/encoded_word.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

#include "core/allocator.h"
#include "core/string.h"
#include "support/table.h"

namespace zentry {
namespace {

std::string bytesOf(const String& text) { return std::string(text.cStr(), text.length()); }

TEST(DecodeEncodedWord, Rows) {
  for (const test::Row& row : test::readTable("encoded_words.txt")) {
    String text(row[0].c_str());
    decodeEncodedWord(text);
    EXPECT_EQ(row[1], bytesOf(text)) << row.where;
  }
}

TEST(DecodeEncodedWord, FailedScratchBlockKeepsTheText) {
  const char* word = "=?us-ascii?B?YWJj?=";
  String probe(word);
  const std::uint64_t before = allocationCount();
  decodeEncodedWord(probe);
  const std::uint64_t used = allocationCount() - before;
  ASSERT_EQ("abc", bytesOf(probe));
  // For the B form the scratch block is the last allocation: the shorter
  // result fits the String's old buffer.
  String text(word);
  failAllocationAt(used);
  decodeEncodedWord(text);
  failAllocationAt(0);
  EXPECT_EQ(word, bytesOf(text));
}

TEST(DecodeQuotedPrintable, Rows) {
  for (const test::Row& row : test::readTable("quoted_printable.txt")) {
    String text(row[0].c_str());
    decodeQuotedPrintable(text, row[1] == "1");
    EXPECT_EQ(row[2], bytesOf(text)) << row.where;
  }
}

struct Base64Case {
  const char* input;
  int limit;
  std::string output;
};

const Base64Case base64Cases[] = {
    {"YWJj", 10, "abc"},
    {"YW=Jj", 10, "a"},  // "=" ends the input wherever it stands
    {"YW Jj\r\n", 10, "abc"},
    {"-_Y\xFFWJj!", 10, "abc"},
    {"YWJj", 2, "ab"},
    {"YWJj", -1, ""},
    {"Y", 10, ""},
    {"QUJDREVGR0g", 10, "ABCDEFGH"},  // more bits than the accumulator holds
    {"YQ", 10, "a"},
    {"////", 10, "\xFF\xFF\xFF"},
    {"AAAA", 10, std::string(3, '\0')},  // written as they are; callers terminate
};

TEST(DecodeBase64, Rows) {
  for (const Base64Case& c : base64Cases) {
    unsigned char output[16];
    std::fill(std::begin(output), std::end(output), static_cast<unsigned char>('#'));
    const int written = String(c.input).decodeBase64(output, c.limit);
    ASSERT_GE(written, 0) << c.input;
    EXPECT_EQ(c.output, std::string(reinterpret_cast<const char*>(output), static_cast<std::size_t>(written)))
        << c.input;
    EXPECT_EQ('#', output[written]) << c.input;  // nothing past the count, no terminator
  }
}

}  // namespace
}  // namespace zentry
