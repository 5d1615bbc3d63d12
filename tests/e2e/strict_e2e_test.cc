// Strict mode, whole runs: each way of hiding a name from a rule, caught; the
// same message in exact mode as it always was; benign names left alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/e2e.h"

namespace zentry::test {
namespace {

// The names from a debug run's "Attachment - " lines, in order.
std::vector<std::string> tracedNames(const std::string& output) {
  std::vector<std::string> names;
  const std::string marker = "\r\nAttachment - ";
  for (std::size_t at = output.find(marker); at != std::string::npos; at = output.find(marker, at + 1)) {
    const std::size_t start = at + marker.size();
    names.push_back(output.substr(start, output.find("\r\n", start) - start));
  }
  return names;
}

const std::string rules = "Executable\n\n*.exe\nPayment\n*urgent payment*\n\n";

struct StrictCase {
  const char* trick;
  std::string message;  // LF line ends; stored with CR LF
  std::vector<std::string> names;
  bool strictHits;
  bool exactHits;
  std::string subject = "hello";
};

// One attachment after a text part, its header lines as given.
std::string withAttachment(const std::string& headerLines, const std::string& body = "TVqQAAMA") {
  return "Content-Type: multipart/mixed; boundary=A\n\n--A\n\ntext\n--A\n" + headerLines + "\n\n" + body +
         "\n--A--\n";
}

const StrictCase strictCases[] = {
    {"extended value",
     withAttachment("Content-Disposition: attachment; filename*=UTF-8''invoice.exe"),
     {"File1.tmp", "invoice.exe"},
     true,
     false},
    {"percent-encoded dot, any case",
     withAttachment("Content-Disposition: attachment; FileName*=utf-8'en'invoice%2Eexe"),
     {"File1.tmp", "invoice.exe"},
     true,
     false},
    {"continuation",
     withAttachment("Content-Disposition: attachment; filename*0=\"invo\"; filename*1=\"ice.exe\""),
     {"File1.tmp", "invoice.exe"},
     true,
     false},
    {"encoded continuation, folded, out of order",
     withAttachment("Content-Disposition: attachment;\n filename*1*=%2Eexe;\n filename*0*=UTF-8''invoice"),
     {"File1.tmp", "invoice.exe"},
     true,
     false},
    {"name*= in Content-Type",
     withAttachment("Content-Type: application/x-foo; name*=''invoice.exe"),
     {"File1.tmp", "invoice.exe"},
     true,
     false},
    {"encoded words split over folded lines",
     withAttachment("Content-Type: application/x-foo;\n name=\"=?UTF-8?B?aW52b2lj?=\n =?utf-8?q?e=2Eexe?=\""),
     {"File1.tmp", "invoice.exe", "=?UTF-8?B?aW52b2lj?= =?utf-8?q?e=2Eexe?="},
     true,
     false},
    {"encoded word after plain text",
     withAttachment("Content-Disposition: attachment; filename=\"invoice =?utf-8?Q?copy.exe?=\""),
     {"File1.tmp", "invoice copy.exe", "invoice =?utf-8?Q?copy.exe?="},
     true,
     false},
    {"quoted value holding ';'",
     withAttachment("Content-Disposition: attachment; filename=\"a;b.exe\""),
     {"File1.tmp", "a;b.exe", "\"a"},
     true,
     false},
    {"trailing dot and space",
     withAttachment("Content-Disposition: attachment; filename=\"invoice.exe. \""),
     {"File1.tmp", "invoice.exe"},
     true,
     false},
    {"NUL inside a name",
     withAttachment(std::string("Content-Type: a/b; name=\"invoice") + '\0' + ".exe\""),
     {"File1.tmp", "invoice.exe"},
     true,
     false},
    {"0x1A early",
     "Content-Type: multipart/mixed; boundary=A\n\n--A\n\nstop\x1a here\n--A\n"
     "Content-Disposition: attachment; filename=late.exe\n\nx\n--A--\n",
     {"File1.tmp", "late.exe"},
     true,
     false},
    {"uuencoded file with a trailing dot",
     "Subject: uu\n\nbegin 644 tool.exe.\n#86)C\n`\nend\n",
     {"tool.exe", "File0.tmp"},
     true,
     false},
    {"encoded words in the subject",
     "Subject: x\n\nbody\n",
     {"File0.tmp"},
     true,
     false,
     "=?utf-8?q?urgent?= =?utf-8?B?IHBheW1lbnQ=?="},
    {"exact names still found",
     withAttachment("Content-Type: a/b; name='v.exe'"),
     {"File1.tmp", "'v.exe'", "v.exe"},
     true,
     true},
    // Benign.
    {"notes.exe.txt",
     withAttachment("Content-Disposition: attachment; filename*=UTF-8''notes.exe.txt"),
     {"File1.tmp", "notes.exe.txt"},
     false,
     false},
    {"non-ASCII PDF name",
     withAttachment("Content-Disposition: attachment; filename*=UTF-8''R%C3%A9sum%C3%A9.pdf"),
     {"File1.tmp", "R\xC3\xA9sum\xC3\xA9.pdf"},
     false,
     false},
};

RunResult run(const StrictCase& c, bool strict, std::string* log) {
  TempDir dir;
  dir.write("routing.dat", routingFile(crlf(c.message)));
  dir.write("zentry.dat", rules);
  std::vector<std::string> arguments{"infected", "errorlevel", "debug"};
  if (strict) arguments.emplace_back("sTrIcT");
  RunResult result = runBinary(dir, arguments, {"subject=" + c.subject});
  *log = dir.read("zentry.log");
  return result;
}

TEST(StrictRun, EveryTrickCaughtInStrictModeOnly) {
  for (const StrictCase& c : strictCases) {
    std::string log;
    const RunResult strict = run(c, true, &log);
    EXPECT_EQ(c.names, tracedNames(log)) << c.trick;
    EXPECT_EQ(c.strictHits ? 1 : 0, strict.exitCode) << c.trick;
    const RunResult exact = run(c, false, &log);
    EXPECT_EQ(c.exactHits ? 1 : 0, exact.exitCode) << c.trick;
  }
}

// The verdict names what was caught, as the client would show it.
TEST(StrictRun, VerdictNamesTheShownName) {
  std::string log;
  const RunResult result = run(strictCases[3], true, &log);
  const std::string ending =
      "\r\nTo: infected\r\nSubject: Infected (Executable) - hello\r\n"
      "Found suspect file - invoice.exe (Executable)\r\n";
  ASSERT_GE(result.output.size(), ending.size());
  EXPECT_EQ(ending, result.output.substr(result.output.size() - ending.size()));
}

}  // namespace
}  // namespace zentry::test
