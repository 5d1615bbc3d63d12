// yEnc header lines and BinHex 4.0 stream headers: the name each gives, and
// the text that only looks like one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scanner/binhex.h"
#include "scanner/yenc.h"
#include "support/mail_encodings.h"

namespace zentry {
namespace {

struct YencCase {
  const char* line;
  const char* name;  // empty: no header
};

const YencCase yencCases[] = {
    {"=ybegin line=128 size=1024 name=invoice.exe\n", "invoice.exe"},
    {"=ybegin part=1 total=3 line=128 size=900000 name=big file.exe \r\n", "big file.exe"},
    {"=ybegin size=5 line=64 name=a.exe", "a.exe"},
    {"=ybegin\tline=128\tsize=1\tname=tab.exe\n", "tab.exe"},
    // The name is the rest of the line, '=' and all.
    {"=ybegin line=128 size=1 name=a=b.exe\n", "a=b.exe"},
    {"=ybegin line=128 size=1 crc32=abcd name=x.exe\n", "x.exe"},
    // Not a header: prose, missing or wrong keywords, another opening.
    {"=ybegin marks the start of a block, name=x.exe\n", ""},
    {"=ybegin line=128 name=x.exe\n", ""},
    {"=ybegin size=12 name=x.exe\n", ""},
    {"=ybegin line=1x size=12 name=x.exe\n", ""},
    {"=ybegin line=128 size=12\n", ""},
    {"=ybegin line=128 size=12 name=\n", ""},
    {"=ybegin line=128 size=12 name= \r\n", ""},
    {"=ybeginline=128 size=12 name=x.exe\n", ""},
    {"=ypart begin=1 end=100\n", ""},
    {"=ybegin", ""},
    {"=ybegin \n", ""},
};

TEST(YencFileName, Table) {
  for (const YencCase& c : yencCases) {
    const std::string line = c.line;
    EXPECT_EQ(c.name, yencFileName(line.data(), line.size())) << c.line;
  }
}

TEST(YencFileName, ReadsOnlyTheBytesGiven) {
  const std::string line = "=ybegin line=128 size=12 name=invoice.exe";
  EXPECT_EQ("invoice.e", yencFileName(line.data(), line.size() - 2));
  EXPECT_EQ("", yencFileName(line.data(), 7));
}

std::string binHexName(const std::string& text) {
  BinHexNameReader reader;
  std::size_t at = text.find('\n') + 1;  // after the announcement
  for (int line = 0; line < maxBinHexNameLines && at < text.size(); ++line) {
    const std::size_t end = text.find('\n', at);
    const std::size_t next = end == std::string::npos ? text.size() : end + 1;
    if (!reader.takeLine(text.data() + at, next - at)) break;
    at = next;
  }
  return reader.name();
}

TEST(BinHexNameReader, NamesAsWritten) {
  const std::vector<std::string> names = {
      "invoice.exe",
      "a",
      "aaaa.exe",  // a run inside the name
      std::string("x\x90y.exe"),
      std::string("\x90\x90\x90\x90.exe"),  // the marker byte, alone and in a run
      std::string(63, 'n') + ".exe",
      std::string(255, 'z'),  // the longest names
      "Read Me: now.exe"};
  for (const std::string& name : names)
    EXPECT_EQ(name, binHexName(test::binHexLines(name, "MZ data"))) << name;
}

TEST(BinHexNameReader, StreamsThatGiveNoName) {
  const std::string announcement = "(This file must be converted with BinHex 4.0)\n";
  const std::string whole = test::binHexLines("invoice.exe", "MZ");
  const std::string stream = whole.substr(announcement.size());
  const struct {
    const char* label;
    std::string text;
  } cases[] = {
      {"prose after the announcement", announcement + "and then nothing of the kind\n"},
      {"no stream at all", announcement},
      {"a length byte of zero", announcement + ":!!!!:\n"},
      {"cut before the name ends", announcement + stream.substr(0, 8) + "\n"},
      {"closed before the name ends", announcement + stream.substr(0, 8) + ":\n"},
      {"a character outside the alphabet", announcement + stream.substr(0, 5) + "v" + stream.substr(5)},
      {"one at a line's end", announcement + stream.substr(0, 11) + "v\n" + stream.substr(11)},
      {"the stream more lines below than are read",
       announcement + std::string(maxBinHexNameLines, '\n') + stream},
  };
  for (const auto& c : cases) EXPECT_EQ("", binHexName(c.text)) << c.label;
  // Blank lines and blanks around the stream's lines are passed over.
  EXPECT_EQ("invoice.exe", binHexName(announcement + "\n \n" + stream));
  EXPECT_EQ("invoice.exe",
            binHexName(announcement + "\t" + stream.substr(0, 5) + " \r\n" + stream.substr(5)));
}

TEST(BinHexNameReader, HugeLengthAndGarbageStopAtTheName) {
  const std::string announcement = "(This file must be converted with BinHex 4.0)\n";
  // The longest name the length byte allows, its stream closed early.
  std::string longName;
  for (int i = 0; i < 255; ++i) longName += static_cast<char>('a' + i % 26);
  const std::string longest = test::binHexLines(longName, "");
  EXPECT_EQ("", binHexName(longest.substr(0, longest.find('\n') + 200) + ":\n"));
  // Any run of the alphabet is a stream: its first byte (252 here) says how
  // much of it is the name, and nothing after that is decoded.
  std::string garbage = announcement + ":";
  for (int i = 0; i < 100000; ++i) garbage += "r\"";
  EXPECT_EQ(252u, binHexName(garbage + "\n").size());
  // Bytes outside the alphabet end it at once.
  EXPECT_EQ("", binHexName(announcement + ":" + std::string(100000, '~') + "\n"));
}

TEST(AnnouncesBinHex, OnlyTheWholeLine) {
  const struct {
    const char* line;
    bool announces;
  } cases[] = {
      {"(This file must be converted with BinHex 4.0)\n", true},
      {"(This file must be converted with BinHex 4.0) \r\n", true},
      {"(This file must be converted with BinHex 4.0)", true},
      {"(This file must be converted with BinHex 4.0), said the manual\n", false},
      {"(This file must be converted with BinHex 5.0)\n", false},
      {"(This file must be converted with BinHex\n", false},
  };
  for (const auto& c : cases) {
    const std::string line = c.line;
    EXPECT_EQ(c.announces, announcesBinHex(line.data(), line.size())) << c.line;
  }
}

}  // namespace
}  // namespace zentry
