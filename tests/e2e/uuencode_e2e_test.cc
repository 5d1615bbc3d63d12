// Whole runs of the filter on text bodies that carry uuencoded files: which
// blocks count, what they are named and numbered, and that a block never
// hides the parts after it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/message_text.h"
#include "support/e2e.h"

namespace zentry::test {
namespace {

const std::string topLevelTrace = "ProcessFile2 4 - 4294967294\nProcess MIME Part 0\ntext/plain\n";

struct BodyCase {
  const char* label;
  std::string body;  // of a message without header fields
  std::vector<std::string> names;
};

TEST(UuencodeRun, BlocksInAPlainBody) {
  const BodyCase cases[] = {
      {"grave line, then end", "begin 644 a.exe\nM9V]O9\n`\nend\n", {"a.exe", "File0.tmp"}},
      {"data straight into end", "begin 644 a.exe\nM9V]O9\nend\n", {"a.exe", "File0.tmp"}},
      {"empty line inside", "begin 644 a.exe\nM9V]O9\n\n`\nend\n", {"a.exe", "File0.tmp"}},
      {"end with a trailing blank", "begin 644 a.exe\nM9V]O9\n`\nend \n", {"File0.tmp"}},
      {"END", "begin 644 a.exe\nM9V]O9\nEND\n", {"File0.tmp"}},
      {"Begin", "Begin 644 a.exe\nend\n", {"File0.tmp"}},
      {"two blanks", "begin  644 a.exe\nend\n", {"File0.tmp"}},
      {"mode 648", "begin 648 a.exe\nend\n", {"File0.tmp"}},
      {"mode 0644", "begin 0644 a.exe\nend\n", {" a.exe", "File0.tmp"}},
      {"nameless blocks count on from the entity",
       "begin 644\nend\nbegin 644 \nend\n",
       {"File1.DAT", "File2.DAT", "File0.tmp"}},
      {"an unterminated nameless block still counts",
       "begin 644\nend \nbegin 644\nend\n",
       {"File2.DAT", "File0.tmp"}},
      {"encoded-word name", "begin 644 =?x?Q?a.exe?=\nend\n", {"a.exe", "File0.tmp"}},
      {"block runs to the end of the file", "begin 644 a.exe\nM9V]O9\n", {"File0.tmp"}},
      // The last data line decodes to "end" and a 0 byte, which is what the
      // end test reads when no line follows.
      {"decoded end at the end of the file", "begin 644 a.exe\nM96YD````\n", {"a.exe", "File0.tmp"}},
      {"begin as the last line", "begin 644 a.exe", {"File0.tmp"}},
      {"begin named end as the last line", "begin 644 end", {"end", "File0.tmp"}},
      {"block after an unterminated one", "begin 644 a\nend \nbegin 644 b\n`\nend\n", {"b", "File0.tmp"}},
      {"begin lines inside an unterminated block",
       "begin 644 a\nbegin 644 b\nbegin 644\nM9V]O9\n",
       {"File0.tmp"}},
  };
  for (const BodyCase& c : cases) {
    TempDir dir;
    dir.write("routing.dat", routingFile(crlf("\n" + c.body)));
    const RunResult run = runBinary(dir, {"box", "debug"}, {"subject=s"});
    EXPECT_EQ(bannerText() + crlf(topLevelTrace + namesTrace("s", c.names)), run.output) << c.label;
    EXPECT_EQ(0, run.exitCode) << c.label;
  }
}

struct VerdictCase {
  const char* label;
  std::string message;
  const char* fileMask;
  bool hit;
};

std::string multipart(const std::string& parts) {
  return "Content-Type: multipart/mixed; boundary=\"A\"\n\n" + parts + "--A--\n";
}

TEST(UuencodeRun, WhatTheRulesSee) {
  const std::string a295(295, 'a');
  const std::string a296(296, 'a');
  const std::string textPart = "--A\nContent-Type: text/plain\n\n";
  const std::string binaryPart = "--A\nContent-Type: application/octet-stream\n";
  const VerdictCase cases[] = {
      {"300-byte name kept whole", "\nbegin 644 " + a295 + "b.exe\nend\n", "*b.exe", true},
      {"301-byte name cut", "\nbegin 644 " + a296 + "b.exe\nend\n", "*b.exe", false},
      {"301-byte name cut to 300", "\nbegin 644 " + a296 + "b.exe\nend\n", "*b.ex", true},
      {"block in a text part", multipart(textPart + "begin 644 x.pif\nM9V]O9\n`\nend\n"), "x.pif", true},
      {"part after a block", multipart(textPart + "begin 644 x.pif\nM9V]O9\n`\nend\n--A\n\nhi\n"),
       "File2.tmp", true},
      {"x-uuencode part",
       multipart(binaryPart + "Content-Transfer-Encoding: x-uuencode\n\nbegin 644 x.pif\nend\n"), "x.pif",
       true},
      {"7bit binary part", multipart(binaryPart + "\nbegin 644 x.pif\nend\n"), "x.pif", false},
      {"base64 text part", multipart("--A\nContent-Transfer-Encoding: base64\n\nbegin 644 x.pif\nend\n"),
       "x.pif", false},
      // A nameless block takes the next number; the part after it shifts.
      {"nameless block in a part", multipart(textPart + "begin 644\nend\n--A\n\nhi\n"), "File2.DAT", true},
      {"part numbered after it", multipart(textPart + "begin 644\nend\n--A\n\nhi\n"), "File3.tmp", true},
      {"no part takes its number", multipart(textPart + "begin 644\nend\n--A\n\nhi\n"), "File2.tmp", false},
  };
  for (const VerdictCase& c : cases) {
    TempDir dir;
    dir.write("routing.dat", routingFile(crlf(c.message)));
    dir.write("zentry.dat", std::string("Hit\n\n") + c.fileMask + "\n");
    const RunResult run = runBinary(dir, {"box", "errorlevel"}, {"subject=s"});
    const std::string verdict = c.hit ? crlf("To: box\nSubject: Infected (Hit) - s\n") : "";
    EXPECT_EQ(bannerText() + verdict, run.output) << c.label;
    EXPECT_EQ(c.hit ? 1 : 0, run.exitCode) << c.label;
  }
}

std::string range(unsigned long from, unsigned long to) {
  return " " + std::to_string(from) + " - " + std::to_string(to) + "\n";
}

// A text part opens a block and never ends it; the next part holds a line
// beginning with a blank and then "end". Read straight on, the block would end
// there and swallow the delimiter line and the program behind it.
TEST(UuencodeRun, BlockDoesNotHideTheNextPart) {
  MessageText m;
  m.add("Content-Type: multipart/mixed; boundary=\"A\"");
  m.add("");
  m.add("--A");
  m.add("Content-Type: text/plain");
  const unsigned long body1 = m.add("");
  m.add("begin 644 readme.txt");
  m.add("M9V]O9");
  const unsigned long end1 = m.add("--A");
  m.add("Content-Type: application/octet-stream; name=\"evil.exe\"");
  const unsigned long body2 = m.add("");
  m.add("TVqQAAMAAAAEAAAA");
  m.add(" ");
  m.add("end");
  const unsigned long end2 = m.add("--A--");
  TempDir dir;
  dir.write("routing.dat", routingFile(m.text()));
  dir.write("zentry.dat", "Exe\n\n*.exe\n");
  const RunResult run = runBinary(dir, {"box", "errorlevel", "debug"}, {"subject=s"});
  const std::string trace =
      "ProcessFile2 4 - 4294967294\nProcess MIME Part 0\nmultipart/mixed\nInto multipart\n"
      "Process MIME Part 1\ntext/plain\n" +
      range(body1, end1) + "Process MIME Part 2\napplication/octet-stream\n" + range(body2, end2) +
      namesTrace("s", {"File1.tmp", "evil.exe"}) +
      "To: box\nSubject: Infected (Exe) - s\nFound suspect file - evil.exe (Exe)\n";
  EXPECT_EQ(bannerText() + crlf(trace), run.output);
  EXPECT_EQ(1, run.exitCode);
}

}  // namespace
}  // namespace zentry::test
