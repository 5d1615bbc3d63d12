#include "milter/message_scan.h"

#include <gtest/gtest.h>

#include "platform/archive_lister_process.h"
#include "support/e2e.h"
#include "support/table.h"

namespace zentry::milter {
namespace {

const char* const rules =
    "Executable\n\n*.exe\n"
    "Love letter\nILOVEYOU*\n\n"
    "Screen saver\n\n*.scr\n";

// The milter's in-process scan against the real program in a directory: the
// verdict lines must be the program's, byte for byte.
TEST(ScanHeldMessage, SameVerdictAsTheProgram) {
  for (const test::Row& row : test::readTable("milter_scan.txt")) {
    const bool strict = row[0] == "strict";
    const std::optional<std::string> subject =
        row[1] == "-" ? std::nullopt : std::optional<std::string>(row[1]);
    const ScanVerdict verdict =
        scanHeldMessage(test::routingFile(row[2]), rules, subject, "quarantine", strict);
    test::TempDir dir;
    dir.write("routing.dat", test::routingFile(row[2]));
    dir.write("zentry.dat", rules);
    std::vector<std::string> environment;
    if (subject) environment.push_back("subject=" + *subject);
    std::vector<std::string> arguments{"quarantine"};
    if (strict) arguments.push_back("strict");
    const test::RunResult program = test::runBinary(dir, arguments, environment);
    const std::string expected =
        verdict.hit ? "To: " + verdict.interceptMailbox + "\r\nSubject: " + verdict.subject + "\r\n" : "";
    // Past the two banner lines the program prints the verdict alone.
    const std::size_t banner = program.output.find('\n', program.output.find('\n') + 1) + 1;
    EXPECT_EQ(expected, program.output.substr(banner)) << row.where;
    EXPECT_EQ(!row[3].empty(), verdict.hit) << row.where;
    EXPECT_EQ(row[3], verdict.ruleLabel) << row.where;
    EXPECT_EQ(row[4], verdict.name) << row.where;
  }
}

// A lister that cannot be started gives no verdict but the reason: the milter
// answers with a temporary failure instead of passing the message.
TEST(ScanHeldMessage, ListerThatCannotStartGivesNoVerdict) {
  ProcessArchiveLister missing("/nonexistent/zentry-archive");
  useArchiveLister(&missing);
  const std::string message =
      "Content-Type: application/octet-stream; name=a.zip\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\nUEsDBA==\r\n";
  const ScanVerdict strict = scanHeldMessage(test::routingFile(message), rules, "s", "quarantine", true);
  const ScanVerdict exact = scanHeldMessage(test::routingFile(message), rules, "s", "quarantine", false);
  useArchiveLister(nullptr);
  EXPECT_FALSE(strict.hit);
  EXPECT_EQ("cannot start the archive lister /nonexistent/zentry-archive: No such file or directory",
            strict.temporaryFailure);
  EXPECT_EQ("", exact.temporaryFailure);  // exact mode never lists archives
}

}  // namespace
}  // namespace zentry::milter
