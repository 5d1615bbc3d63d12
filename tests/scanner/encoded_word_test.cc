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

TEST(DecodeBase64, Rows) {
  for (const test::Row& row : test::readTable("base64.txt")) {
    unsigned char output[16];
    std::fill(std::begin(output), std::end(output), static_cast<unsigned char>('#'));
    const int written = String(row[0].c_str()).decodeBase64(output, std::stoi(row[1]));
    ASSERT_GE(written, 0) << row.where;
    EXPECT_EQ(row[2], std::string(reinterpret_cast<const char*>(output), static_cast<std::size_t>(written)))
        << row.where;
    EXPECT_EQ('#', output[written]) << row.where;  // nothing past the count, no terminator
  }
}

}  // namespace
}  // namespace zentry
