// The lister's answer format: fields escaped and read back byte for byte,
// answers fed in any pieces, and every malformed answer refused.
#include "scanner/archive_lister.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zentry {
namespace {

class RecordingSink : public ExaminationSink {
 public:
  void foundName(const std::string& name, const std::string& route) override {
    found.push_back(name + "<" + route);
  }
  std::vector<std::string> found;
};

TEST(ListerField, EscapesAndReadsBack) {
  const std::string texts[] = {"", "a b.exe", "%", "100%", "x\n", std::string("a.e\0x", 5), "\x7F\xFF|", " "};
  for (const std::string& text : texts) {
    const std::string field = escapeListerField(text);
    EXPECT_EQ(std::string::npos, field.find_first_of(std::string(" \n\0", 3))) << field;
    std::string back;
    EXPECT_TRUE(unescapeListerField(field, &back)) << field;
    EXPECT_EQ(text, back) << field;
  }
  std::string ignored;
  for (const char* bad : {"", "%4", "a%zz", "%4g", "a b", "%%"})
    EXPECT_FALSE(unescapeListerField(bad, &ignored)) << bad;
}

struct AnswerCase {
  const char* answer;
  bool complete;
  std::vector<std::string> found;
};

const AnswerCase answerCases[] = {
    {"found a.exe x.zip%20>%20a.exe\nleft 9 100\n", true, {"a.exe<x.zip > a.exe"}},
    {"left 0 0\n", true, {}},
    {"found a.exe r\n", false, {"a.exe<r"}},          // no "left" line
    {"found a.exe r\nleft 1 1", false, {"a.exe<r"}},  // the last line unfinished
    {"left 1 1\nfound b r\n", false, {}},             // nothing after "left"
    {"found % r\nleft 1 1\n", false, {}},             // an empty name
    {"found a r extra\nleft 1 1\n", false, {}},       // a field too many
    {"left 4294967296 1\n", false, {}},               // more members than can be
    {"left -1 1\n", false, {}},
    {"hello\n", false, {}},
};

TEST(ListerReplyReader, WholeOrInPieces) {
  for (const AnswerCase& c : answerCases) {
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
      RecordingSink sink;
      ListerReplyReader reader(sink);
      const std::string answer = c.answer;
      for (std::size_t at = 0; at < answer.size(); at += piece)
        reader.take(answer.data() + at, std::min(piece, answer.size() - at));
      EXPECT_EQ(c.complete, reader.complete()) << c.answer << " in pieces of " << piece;
      EXPECT_EQ(c.found, sink.found) << c.answer;
    }
  }
  RecordingSink sink;
  ListerReplyReader reader(sink);
  const std::string answer = "left 9 100\n";
  ASSERT_TRUE(reader.take(answer.data(), answer.size()));
  EXPECT_EQ(9u, reader.left().membersLeft);
  EXPECT_EQ(100u, reader.left().decompressedBytesLeft);
}

}  // namespace
}  // namespace zentry
