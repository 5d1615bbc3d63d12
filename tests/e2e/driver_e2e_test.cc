// Whole runs of the built binary: arguments, subject, verdict, log and exit
// code, compared byte for byte. No routing.dat is given here, so the scanner
// contributes only its open-failure line and these tests pin the driver.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/e2e.h"

namespace zentry::test {
namespace {

const std::string noMessage = crlf("File \"routing.dat\" can't be opened\n");

// One rule that hits on any subject: label "Hit", subject mask "*", no file mask.
const std::string anySubjectRule = "Hit\n*\n\n";

TEST(DriverRun, NoArgumentPrintsUsageAndTouchesNothing) {
  TempDir dir;
  dir.write("zentry.dat", anySubjectRule);
  const RunResult run = runBinary(dir, {}, {"subject=Hello"});
  EXPECT_EQ(bannerText() + crlf("\nUse Zentry <intercept mailbox> [\"Errorlevel\"]\n"), run.output);
  EXPECT_EQ(0, run.exitCode);
  EXPECT_FALSE(dir.exists("zentry.log"));
}

struct SwitchCase {
  std::vector<std::string> arguments;
  bool errorlevel;
  bool debug;
  const char* mailbox;
};

TEST(DriverRun, SwitchesInAnyCaseAndPosition) {
  const SwitchCase cases[] = {
      {{"box"}, false, false, "box"},
      {{"box", "errorlevel"}, true, false, "box"},
      {{"box", "ERRORLEVEL"}, true, false, "box"},
      {{"box", "Debug", "eRRorLevel"}, true, true, "box"},
      {{"box", "other", "debug", "debug"}, false, true, "box"},
      // Only whole words count: signs, values and longer words are ignored.
      {{"box", "errorlevel2"}, false, false, "box"},
      {{"box", "-errorlevel"}, false, false, "box"},
      {{"box", "errorlevel=1"}, false, false, "box"},
      {{"box", "debugging"}, false, false, "box"},
      // The first argument is always the mailbox, whatever it says.
      {{"debug"}, false, false, "debug"},
      {{"errorlevel", "debug"}, false, true, "errorlevel"},
      {{""}, false, false, ""},
  };
  for (const SwitchCase& c : cases) {
    TempDir dir;
    dir.write("zentry.dat", anySubjectRule);
    const RunResult run = runBinary(dir, c.arguments, {"subject=Hi"});
    std::string expected = bannerText() + noMessage;
    if (c.debug) expected += crlf("\nSubject - Hi\n");
    expected += crlf("To: " + std::string(c.mailbox) + "\nSubject: Infected (Hit) - Hi\n");
    if (c.debug) expected += crlf("Found suspect file -  (Hit)\n");
    SCOPED_TRACE(c.arguments.size() > 1 ? c.arguments[1] : c.arguments[0]);
    EXPECT_EQ(expected, run.output);
    EXPECT_EQ(c.errorlevel ? 1 : 0, run.exitCode);
    EXPECT_EQ(c.debug, dir.exists("zentry.log"));
  }
}

struct SubjectCase {
  const char* name;
  std::vector<std::string> environment;
  std::string verdictSubject;  // as the verdict prints it
  std::string traceSubject;    // as the trace prints it
};

TEST(DriverRun, SubjectAsFetchedInVerdictTrimmedInTrace) {
  const std::string long150(150, 's');
  const std::string long250(250, 't');
  const SubjectCase cases[] = {
      {"absent", {}, "", ""},
      {"blank padded", {"subject= \t padded \t "}, " \t padded \t ", "padded"},
      {"over 100 bytes", {"subject=" + long150}, long150.substr(0, 100), long150},
      {"over 200 bytes", {"subject=" + long250}, long250.substr(0, 100), long250.substr(0, 200)},
      {"name in other case", {"SUBJECT=upper"}, "upper", "upper"},
      {"exact name wins", {"Subject=first", "subject=exact"}, "exact", "exact"},
      {"first folded name wins", {"SUBJECT=first", "Subject=second"}, "first", "first"},
  };
  for (const SubjectCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("zentry.dat", anySubjectRule);
    const RunResult run = runBinary(dir, {"box", "debug"}, c.environment);
    EXPECT_EQ(bannerText() + noMessage + crlf("\nSubject - " + c.traceSubject + "\n") +
                  crlf("To: box\nSubject: Infected (Hit) - " + c.verdictSubject + "\n") +
                  crlf("Found suspect file -  (Hit)\n"),
              run.output);
    EXPECT_EQ(crlf("\nSubject - " + c.traceSubject + "\nFound suspect file -  (Hit)\n"),
              dir.read("zentry.log"));
  }
}

TEST(DriverRun, LongMailboxAndLabelAreCutInTheVerdict) {
  TempDir dir;
  const std::string label(130, 'L');
  const std::string mailbox(120, 'm');
  dir.write("zentry.dat", label + "\n\n\n");
  const RunResult run = runBinary(dir, {mailbox}, {"subject=s"});
  EXPECT_EQ(
      bannerText() + noMessage +
          crlf("To: " + mailbox.substr(0, 100) + "\nSubject: Infected (" + label.substr(0, 100) + ") - s\n"),
      run.output);
}

TEST(DriverRun, NoRuleFileMeansNoHit) {
  TempDir dir;
  const RunResult run = runBinary(dir, {"box", "errorlevel", "debug"}, {"subject=s"});
  EXPECT_EQ(bannerText() + noMessage + crlf("\nSubject - s\n"), run.output);
  EXPECT_EQ(0, run.exitCode);
}

TEST(DriverRun, LogIsAppendedAcrossRuns) {
  TempDir dir;
  dir.write("zentry.dat", "Never\nno such subject\n\n");
  dir.write("zentry.log", "earlier\r\n");
  runBinary(dir, {"box", "debug"}, {"subject=one"});
  runBinary(dir, {"box", "debug"}, {"subject=two"});
  EXPECT_EQ("earlier\r\n" + crlf("\nSubject - one\n\nSubject - two\n"), dir.read("zentry.log"));
}

TEST(DriverRun, UnopenableLogMeansNoTraceButTheSameVerdict) {
  TempDir dir;
  dir.write("zentry.dat", anySubjectRule);
  std::filesystem::create_directory(dir.path() + "/zentry.log");  // where the log should be
  const RunResult run = runBinary(dir, {"box", "debug", "errorlevel"}, {"subject=s"});
  EXPECT_EQ(bannerText() + noMessage + crlf("To: box\nSubject: Infected (Hit) - s\n"), run.output);
  EXPECT_EQ(1, run.exitCode);
}

TEST(DriverRun, OnlyTheFirstHittingRuleGivesTheVerdict) {
  TempDir dir;
  dir.write("zentry.dat", "First\n*\n\nSecond\n*\n\n");
  const RunResult run = runBinary(dir, {"box", "errorlevel"}, {"subject=s"});
  EXPECT_EQ(bannerText() + noMessage + crlf("To: box\nSubject: Infected (First) - s\n"), run.output);
  EXPECT_EQ(1, run.exitCode);
}

// A sender controls the subject and the names; a CR or LF in a printed field
// must not start a line of its own (a second "To:" would redirect the mail).
TEST(DriverRun, FieldsCannotInjectLines) {
  TempDir dir;
  dir.write("zentry.dat", "Lab\rel\n*\n\n");
  const RunResult run = runBinary(dir, {"box\nTo: evil", "debug"}, {"subject=x\r\nTo: attacker\n"});
  EXPECT_EQ(bannerText() + noMessage + crlf("\nSubject - x  To: attacker\n") +
                crlf("To: box To: evil\nSubject: Infected (Lab el) - x  To: attacker \n") +
                crlf("Found suspect file -  (Lab el)\n"),
            run.output);
  EXPECT_EQ(crlf("\nSubject - x  To: attacker\nFound suspect file -  (Lab el)\n"), dir.read("zentry.log"));
}

}  // namespace
}  // namespace zentry::test
