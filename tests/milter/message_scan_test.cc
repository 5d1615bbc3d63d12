#include "milter/message_scan.h"

#include <gtest/gtest.h>

#include "support/e2e.h"

namespace zentry::milter {
namespace {

const char* const rules =
    "Executable\n\n*.exe\n"
    "Love letter\nILOVEYOU*\n\n"
    "Screen saver\n\n*.scr\n";

std::string mime(const std::string& attachmentHeader) {
  return "Subject: x\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n" + attachmentHeader +
         "\r\n\r\ndata\r\n--b--\r\n";
}

struct ScanCase {
  bool strict;
  std::string message;
  std::optional<std::string> subject;
  bool hit;
  const char* label;
  const char* name;
};

// The milter's in-process scan against the real program in a directory: the
// verdict lines must be the program's, byte for byte.
TEST(ScanHeldMessage, SameVerdictAsTheProgram) {
  const ScanCase cases[] = {
      {false, mime("Content-Type: application/x; name=\"a.exe\""), "x", true, "Executable", "a.exe"},
      {false, mime("Content-Disposition: attachment; filename=\"=?utf-8?B?ZmlzaC5zY3I=?=\""), "x", true,
       "Screen saver", "fish.scr"},
      {false, mime("Content-Type: text/plain"), std::string("  ILOVEYOU today "), true, "Love letter", ""},
      {false, mime("Content-Type: text/plain"), std::nullopt, false, "", ""},
      {false, "Subject: x\n\nbegin 644 tool.exe\n#86)C\n`\nend\n", "x", true, "Executable", "tool.exe"},
      // Strict mode decodes every encoded word of the subject, exact mode only a lone one.
      {true, mime("Content-Type: text/plain"), std::string("=?utf-8?Q?ILOVE?= =?utf-8?Q?YOU?="), true,
       "Love letter", ""},
      {false, mime("Content-Type: text/plain"), std::string("=?utf-8?Q?ILOVE?= =?utf-8?Q?YOU?="), false, "",
       ""},
      {true, mime("Content-Type: application/x; name=\"a.exe\""), "x", true, "Executable", "a.exe"},
      // A label-long subject is cut to 100 bytes in the verdict, as the program cuts it.
      {false, mime("Content-Type: a/b; name=x.exe"), std::string(150, 's'), true, "Executable", "x.exe"},
  };
  for (const ScanCase& c : cases) {
    const ScanVerdict verdict =
        scanHeldMessage(test::routingFile(c.message), rules, c.subject, "quarantine", c.strict);
    test::TempDir dir;
    dir.write("routing.dat", test::routingFile(c.message));
    dir.write("zentry.dat", rules);
    std::vector<std::string> environment;
    if (c.subject) environment.push_back("subject=" + *c.subject);
    std::vector<std::string> arguments{"quarantine"};
    if (c.strict) arguments.push_back("strict");
    const test::RunResult program = test::runBinary(dir, arguments, environment);
    const std::string expected =
        c.hit ? "To: " + verdict.interceptMailbox + "\r\nSubject: " + verdict.subject + "\r\n" : "";
    // Past the two banner lines the program prints the verdict alone.
    const std::size_t banner = program.output.find('\n', program.output.find('\n') + 1) + 1;
    EXPECT_EQ(expected, program.output.substr(banner)) << c.message;
    EXPECT_EQ(c.hit, verdict.hit) << c.message;
    EXPECT_EQ(c.label, verdict.ruleLabel) << c.message;
    EXPECT_EQ(c.name, verdict.name) << c.message;
  }
}

// The server stores what it received with CR LF; the filter reads text, so
// the line ends must not change what it finds.
TEST(ScanHeldMessage, LineEndsDoNotMatter) {
  const std::string message = mime("Content-Type: a/b; name=\"b.scr\"");
  std::string bare = message;
  for (std::size_t at; (at = bare.find("\r\n")) != std::string::npos;) bare.erase(at, 1);
  const ScanVerdict withCrlf = scanHeldMessage(test::routingFile(message), rules, "x", "q", false);
  const ScanVerdict withLf = scanHeldMessage(test::routingFile(bare), rules, "x", "q", false);
  EXPECT_TRUE(withCrlf.hit);
  EXPECT_EQ(withLf.name, withCrlf.name);
  EXPECT_EQ(withLf.subject, withCrlf.subject);
}

}  // namespace
}  // namespace zentry::milter
