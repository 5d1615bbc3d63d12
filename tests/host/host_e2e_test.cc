// Whole runs of the built zentry-host: each mode on a small mailbox, standard
// input, the exit codes for bad input, and that no working directory is ever
// left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/host_runner.h"
#include "support/e2e.h"

namespace zentry::test {
namespace {

const std::string rules = "Exe\n\n*.exe\nUrgent\nURGENT*\n\n";

// Names from a uuencoded block, an encoded word and a filename; a folded
// subject, none, one that the subject rule catches.
const std::string mails[] = {
    "Subject: Item\n number 1\nContent-Type: multipart/mixed; boundary=b\n\npreamble\n--b\n"
    "Content-Type: text/plain\n\nHello.\nbegin 644 tool.exe\n#86)C\n`\nend\n--b\n"
    "Content-Type: text/plain; name=\"notes.txt\"\n\nx\n--b--\n",
    "From: a@b\nContent-Type: application/octet-stream; name=\"=?iso-8859-1?Q?doc.exe?=\"\n\nAAAA\n",
    "Subject: URGENT: now\n\nbody\n",
    "Subject: calm\nContent-Disposition: attachment; filename=\"notes.txt\"\n\nx\n",
};
const char* const csvRows[] = {",Item number 1,hit,Exe,tool.exe,,Item number 1\r\n",
                               ",,hit,Exe,doc.exe,,\r\n", ",URGENT: now,hit,Urgent,,,URGENT: now\r\n",
                               ",calm,clean,,,,calm\r\n"};
const std::string csvHeader = "message,subject,result,rule,name,error,decoded_subject\r\n";

struct HostE2e : HostFixture {
  void SetUp() override {
    HostFixture::SetUp();
    environment.push_back("SUBJECT=stray");  // never to reach the filter in the place of a Subject field
    scratch.write("rules.dat", rules);
    std::string mbox;
    for (const std::string& mail : mails) mbox += "From a@b Mon Jan  1 10:00:00 2024\n" + mail + "\n";
    scratch.write("mail.mbox", mbox);
  }
  void makeExecutable(const std::string& name, const std::string& script) {
    scratch.write(name, script);
    chmod(file(name).c_str(), 0755);
  }
};

using HostRunMode = HostE2e;

// zentry-host must give the filter exactly what the server gives it: the same
// bytes on standard output and the same exit code as zentry run by hand in a
// directory set up by the contract.
TEST_F(HostRunMode, MatchesTheFilterRunByHand) {
  const struct {
    std::string message;
    const char* option;
    std::vector<std::string> filterArguments, subjectVariable;
    std::string stored;  // what routing.dat holds after the prefix, when not the message
  } cases[] = {
      {mails[0], "--debug", {"box", "debug"}, {"subject=Item number 1"}, ""},
      {mails[1], "--errorlevel", {"box", "errorlevel"}, {}, ""},
      {mails[0], "--strict", {"box", "strict"}, {"subject=Item number 1"}, ""},
      {"Subject: caf\xe9 =?x?Q?a?=\n\nbody\n",
       "--debug",
       {"box", "debug"},
       {"subject=caf\xe9 =?x?Q?a?="},
       ""},
      {"From a@b Mon Jan  1 10:00:00 2024\nSubject: URGENT\n\n",
       "--errorlevel",
       {"box", "errorlevel"},
       {"subject=URGENT"},
       "Subject: URGENT\n\n"},
  };
  for (const auto& c : cases) {
    TempDir byHand;
    byHand.write("zentry.dat", rules);
    byHand.write("routing.dat", routingFile(c.stored.empty() ? c.message : c.stored));
    const RunResult expected = runBinary(byHand, c.filterArguments, c.subjectVariable);
    scratch.write("message.eml", c.message);
    const HostRun run = host({c.option, file("message.eml"), file("rules.dat"), "box"});
    EXPECT_EQ(expected.output, run.output) << c.message;
    EXPECT_EQ(expected.exitCode, run.exitCode) << c.message;
    EXPECT_EQ("", run.errors) << c.message;
    // A relative --zentry names a file from the caller's directory.
    const std::string relative = std::filesystem::relative(ZENTRY_BINARY).string();
    const HostRun piped = host({"-", file("rules.dat"), "box", c.option, "--zentry", relative}, c.message);
    EXPECT_EQ(expected.output, piped.output) << c.message << " (standard input)";
    EXPECT_EQ(expected.exitCode, piped.exitCode) << c.message << " (standard input)";
  }
  EXPECT_TRUE(tmpIsEmpty());
}

TEST_F(HostRunMode, BadInputGetsItsOwnExitCode) {
  scratch.write("empty.mbox", "");
  scratch.write("text.mbox", "Subject: not an mbox\n\n");
  scratch.write("envelope.mbox", "From a@b Mon Jan  1 10:00:00 2024\n\n");
  makeExecutable("message.eml", "Subject: x\n\n");
  for (const char* folder : {"folder", "md", "md/cur", "md/new"})
    std::filesystem::create_directory(file(folder));
  scratch.write("md/cur/\x1b[2J\x9bjunk",
                "\x7f"
                "ELF");
  const std::string m = file("message.eml"), r = file("rules.dat");
  const struct {
    std::vector<std::string> arguments;
    int exitCode;
    const char* complaint;
  } cases[] = {
      {{file("missing.eml"), r, "box"}, 66, "missing.eml: No such file or directory"},
      {{file("folder"), r, "box"}, 66, "is a directory"},
      {{file("empty.mbox"), r, "box"}, 65, "is empty"},
      {{"-", r, "box"}, 65, "on standard input is empty"},
      {{m, file("missing.dat"), "box"}, 78, "rules file"},
      {{m, r, "box", "--zentry", file("none")}, 78, "--zentry"},
      {{m, r, "box", "--zentry", file("folder")}, 78, "not a program"},
      {{m, r, "box", "--zentry", m}, 78, "format error"},
      {{"--replay", file("mail.mbox"), r, "--zentry", m}, 78, "format error"},
      {{m, r}, 64, "expected MESSAGE RULES MAILBOX"},
      {{"--bogus", m, r, "box"}, 64, "unknown option --bogus"},
      {{"--explain", file("missing.eml"), r}, 66, "missing.eml"},
      {{"--replay", file("empty.mbox"), r}, 65, "empty mailbox"},
      {{"--replay", file("text.mbox"), r}, 65, "not an mbox file"},
      {{"--replay", file("envelope.mbox"), r}, 65, "message 1: empty"},
      {{"--replay", file("folder"), r}, 65, "not a maildir"},
      {{"--replay", file("missing.mbox"), r}, 66, "No such file"},
      // Control characters in a file name are shown, not sent to the terminal.
      {{"--replay", file("md"), r}, 65, "/cur/?[2J?junk: not a mail message"},
  };
  for (const auto& c : cases) {
    const HostRun run = host(c.arguments);
    EXPECT_EQ(c.exitCode, run.exitCode) << c.complaint;
    EXPECT_NE(std::string::npos, run.errors.find(c.complaint)) << run.errors;
    EXPECT_EQ("", run.output) << c.complaint;
  }
  EXPECT_TRUE(tmpIsEmpty());
}

TEST_F(HostRunMode, LogIsAppendedWhereAsked) {
  scratch.write("message.eml", mails[0]);
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(0, host({"--log", file("z.log"), file("message.eml"), file("rules.dat"), "box"}).exitCode);
  }
  const std::string log = scratch.read("z.log");
  const std::string found = "Found suspect file - tool.exe (Exe)\r\n";
  ASSERT_NE(std::string::npos, log.find(found));
  EXPECT_NE(std::string::npos, log.find(found, log.find(found) + 1)) << "second run appended";
  // A filter that could not write its whole log (a full $TMPDIR) is noticed.
  makeExecutable(
      "cut.sh",
      "#!/bin/sh\nprintf 'B\\r\\nN\\r\\n\\r\\nSubject - x\\r\\n'\nprintf '\\r\\nSub' >zentry.log\n");
  const HostRun cut = host(
      {"--log", file("z.log"), "--zentry", file("cut.sh"), file("message.eml"), file("rules.dat"), "box"});
  EXPECT_EQ(74, cut.exitCode) << cut.errors;
  EXPECT_EQ(log, scratch.read("z.log"));
  EXPECT_TRUE(tmpIsEmpty());
}

using HostReplay = HostE2e;

TEST_F(HostReplay, MboxAndMaildirRowsInOrderWhateverTheJobs) {
  std::string mboxCsv = csvHeader, maildirCsv = csvHeader;
  for (const char* folder : {"md", "md/cur", "md/new", "md/tmp"})
    std::filesystem::create_directory(file(folder));
  for (int i = 0; i < 4; ++i) {
    // Maildir names begin with the delivery time: name order is arrival order.
    const std::string name =
        std::string(i % 2 == 0 ? "cur" : "new") + "/170000000" + std::to_string(i) + ".M1P1.h:2,S";
    scratch.write("md/" + name, mails[i]);
    mboxCsv += std::to_string(i + 1) + csvRows[i];
    maildirCsv += "\"" + name + "\"" + csvRows[i];
  }
  scratch.write("md/tmp/1700000009.M1P1.h", "Subject: half delivered\n\n");
  scratch.write("md/cur/notes.txt", "this is not mail\n");
  for (const char* jobs : {"-j1", "-j3"}) {
    const HostRun run = host({"--replay", jobs, "--format", "csv", file("mail.mbox"), file("rules.dat")});
    EXPECT_EQ(mboxCsv, run.output) << jobs;
    EXPECT_EQ(0, run.exitCode) << jobs;
    EXPECT_NE(std::string::npos, run.errors.find("4 messages: 3 hit, 1 clean, 0 failed, 0 skipped"))
        << run.errors;
  }
  const HostRun run = host({"--replay", "--format=csv", file("md"), file("rules.dat")});
  EXPECT_EQ(maildirCsv, run.output);
  EXPECT_EQ(65, run.exitCode);
  EXPECT_NE(std::string::npos,
            run.errors.find("skipped " + file("md") + "/cur/notes.txt: not a mail message"));
  EXPECT_NE(std::string::npos, run.errors.find("4 messages: 3 hit, 1 clean, 0 failed, 1 skipped"));
  EXPECT_TRUE(tmpIsEmpty());
}

TEST_F(HostReplay, CrashingFiltersAreReported) {
  makeExecutable("crash.sh", "#!/bin/sh\nkill -SEGV $$\n");
  const HostRun single = host({"--zentry", file("crash.sh"), "-", file("rules.dat"), "box"}, mails[2]);
  EXPECT_EQ(70, single.exitCode);
  EXPECT_NE(std::string::npos, single.errors.find("killed by signal 11")) << single.errors;
  const HostRun replay =
      host({"--replay", "--format=json", "--zentry", file("crash.sh"), file("mail.mbox"), file("rules.dat")});
  EXPECT_EQ(70, replay.exitCode);
  EXPECT_NE(
      std::string::npos,
      replay.output.find("{\"message\":\"2\",\"subject\":null,\"decoded_subject\":null,\"result\":\"failed\","
                         "\"rule\":null,\"name\":null,\"error\":\"killed by signal 11\"}"))
      << replay.output;
  EXPECT_TRUE(tmpIsEmpty());
}

using HostExplain = HostE2e;

TEST_F(HostExplain, NamesWithOriginsAndTheHittingRule) {
  scratch.write("rules.dat", "Text\nnever\n*.txt\n" + rules);
  const HostRun run = host({"--explain", "-", file("rules.dat")}, mails[0]);
  EXPECT_EQ(
      "Subject as matched: Item number 1\n"
      "Names (3):\n"
      "  1. tool.exe   uuencoded file in part 1 (text/plain)\n"
      "  2. File1.tmp  part 1 (text/plain), no name given\n"
      "  3. notes.txt  part 2 (text/plain)\n"
      "Rule 2 hits\n"
      "  label:        \"Exe\"\n"
      "  subject mask: \"\"\n"
      "  file mask:    \"*.exe\"\n"
      "  matched:      tool.exe\n",
      run.output);
  EXPECT_EQ(0, run.exitCode);
  const struct {
    std::string message, rules, shown;
  } cases[] = {
      {"Subject: =?x?Q?URGENT_now?=\n\nbody\n", rules,
       "Subject as matched: URGENT_now\nNames (1):\n  1. File0.tmp  part 0 (text/plain), no name given\n"
       "Rule 2 hits\n  label:        \"Urgent\"\n  subject mask: \"URGENT*\"\n  file mask:    \"\"\n"
       "  matched:      the subject alone\n"},
      {mails[3], rules, "  1. notes.txt  part 0 (text/plain)\nNo rule hits.\n"},
      // Escape sequences from the mail are shown, not obeyed.
      {"Subject: \x1b]0;pwned\x07 hi\nContent-Type: a/b; name=\"a\x1b[8mb\"\n\n", rules,
       "Subject as matched: ?]0;pwned? hi\nNames (1):\n  1. a?[8mb  part 0 (a/b)\n"},
      // A line past 999 bytes is read in pieces: the label is the first, the
      // subject mask the second (former fault: a rule shown without number and masks).
      {"Content-Type: a/b; name=a.exe\n\n", std::string(999, 'L') + "*\n*.exe\n",
       "Rule 1 hits\n  label:        \"" + std::string(999, 'L') +
           "\"\n  subject mask: \"*\"\n  file mask:    \"*.exe\"\n  matched:      a.exe\n"
           "Note: line 1 of the rules file is longer than 999 bytes;"},
  };
  for (const auto& c : cases) {
    scratch.write("case.dat", c.rules);
    const HostRun shown = host({"--explain", "-", file("case.dat")}, c.message);
    EXPECT_NE(std::string::npos, shown.output.find(c.shown)) << shown.output;
    EXPECT_EQ(0, shown.exitCode);
  }
  EXPECT_TRUE(tmpIsEmpty());
}

}  // namespace
}  // namespace zentry::test
