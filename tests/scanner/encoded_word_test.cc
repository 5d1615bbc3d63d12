#include "scanner/encoded_word.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

#include "core/allocator.h"
#include "core/string.h"

namespace zentry {
namespace {

std::string bytesOf(const String& text) { return std::string(text.cStr(), text.length()); }

struct DecodeCase {
  const char* input;
  std::string output;
};

const DecodeCase encodedWordCases[] = {
    {"=?iso-8859-1?Q?caf=E9.txt?=", "caf\xE9.txt"},
    {"=?us-ascii?B?YWJj?=", "abc"},
    {"=?x?Q?my_file.exe?=", "my_file.exe"},  // no underscore to space
    {"=?x?q?abc?=", "=?x?q?abc?="},          // passes the search, not the letter test
    {"=?x?b?YWJj?=", "=?x?b?YWJj?="},
    {"Re: =?x?Q?abc?=", "Re: =?x?Q?abc?="},
    {"=?x?Q?abc?= ", "=?x?Q?abc?= "},
    {"=?a?Q?x?= =?a?Q?y?=", "=?a?Q?x?= =?a?Q?y?="},
    {"=?x?Q?ab\ncd?=", "ab"},  // a line feed ends the encoded text
    {"=?x?B?YWJj\nZGVm?=", "abc"},
    {"=??Q?abc?=", "=??Q?abc?="},  // tokens: "Q", "abc", empty
    {"=?c?Q?\?=", ""},             // 8 bytes, empty encoded text
    {"=?Q?a?=", "=?Q?a?="},        // 7 bytes
    {"=?cs?Q?ab  ?=", "ab"},
    {"=?cs?B?YW Jj?=", "abc"},
    {"=?cs?Q?A=00B?=", "A"},
    {"=?cs?B?AGE=?=", ""},  // decodes to NUL, "a": the NUL ends it
    {"=?cs?B?YW=Jj?=", "a"},
    {"=?cs?B?YQ?=", "a"},      // leftover bits dropped
    {"=?x??Q??abc?=", "abc"},  // delimiter runs separate like one "?"
    {"=?x?Q?a=4ab?=", "ajb"},
    {"=?x?Qabc?=", "=?x?Qabc?="},
    {"=?x?QQ?abc?=", "=?x?QQ?abc?="},  // "?Q?" nowhere
    {"=?x?B?abc?Q?def?=", "=?x?B?abc?Q?def?="},
};

TEST(DecodeEncodedWord, Rows) {
  for (const DecodeCase& c : encodedWordCases) {
    String text(c.input);
    decodeEncodedWord(text);
    EXPECT_EQ(c.output, bytesOf(text)) << c.input;
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

struct QuotedCase {
  const char* input;
  bool appendLineBreak;
  std::string output;
};

const QuotedCase quotedCases[] = {
    {"abc=", false, "abc"},        {"abc=", true, "abc"},  // soft break: no CR LF
    {"abc", true, "abc\r\n"},      {"abc", false, "abc"},   {"a=3Db", false, "a=b"},
    {"=4a", false, "j"},                                    // low digit ORs in its whole value
    {"=4A", false, "J"},           {"=e9", false, "\xE9"},  // high digit keeps only four bits
    {"x=4", false, "x\xC9"},                                // the missing digit reads as NUL
    {"=4", false, "\xC9"},         {"=", true, ""},         {"", true, "\r\n"},
    {"ab \t\r\n", true, "ab\r\n"}, {"a=\r\n", true, "a"},  // the trim exposes the soft break
    {"==41", false, "d1"},         {"= b", false, "\xBB"},  {"my_file", false, "my_file"},
    {"=00x", false, ""},           {"a=00", true, "a\r\n"}, {"=41=42=", true, "AB"},
};

TEST(DecodeQuotedPrintable, Rows) {
  for (const QuotedCase& c : quotedCases) {
    String text(c.input);
    decodeQuotedPrintable(text, c.appendLineBreak);
    EXPECT_EQ(c.output, bytesOf(text)) << c.input << " " << c.appendLineBreak;
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
