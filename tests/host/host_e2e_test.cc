// Whole runs of the built zentry-host: each mode on generated mail, standard
// input, the exit codes for bad input, and that no working directory is ever
// left behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "host/host_runner.h"
#include "support/e2e.h"

namespace zentry::test {
namespace {

const std::string rules = "Exe\n\n*.exe\nUrgent\nURGENT*\n\n";

// Message i of the generated mail. Names come by filename, by an encoded-word
// name parameter or from a uuencoded block; some subjects are folded, some
// missing, some match the subject rule.
struct Generated {
  std::string message;
  std::string subject;  // as passed on: unfolded
  bool hasSubject;
  std::string rule;  // expected label, empty when clean
  std::string name;  // expected matched name
};

Generated generated(int i) {
  Generated g;
  const std::string n = std::to_string(i);
  g.hasSubject = i % 11 != 0;
  g.subject = i % 5 == 0 ? "URGENT: item " + n : "Item number " + n;
  std::string header = "From: sender" + n + "@example.com\n";
  if (g.hasSubject) {
    header +=
        i % 4 == 0 && i % 5 != 0 ? "Subject: Item\n number " + n + "\n" : "Subject: " + g.subject + "\n";
  }
  header += "Content-Type: multipart/mixed; boundary=\"b" + n + "\"\n\n";
  std::string text = "--b" + n + "\nContent-Type: text/plain\n\nHello.\n";
  if (i % 7 == 0) text += "begin 644 tool" + n + ".exe\n#86)C\n`\nend\n";
  std::string attachment = "--b" + n + "\n";
  std::string attachmentName;
  if (i % 3 == 0) {
    attachmentName = "report" + n + ".exe";
    attachment += "Content-Type: application/octet-stream\nContent-Disposition: attachment; filename=\"" +
                  attachmentName + "\"\n";
  } else if (i % 3 == 1) {
    attachmentName = "doc_" + n + ".exe";
    attachment += "Content-Type: application/octet-stream; name=\"=?iso-8859-1?Q?doc_" + n + ".exe?=\"\n";
  } else {
    attachment += "Content-Type: text/plain; name=\"notes" + n + ".txt\"\n";
  }
  attachment += "Content-Transfer-Encoding: base64\n\nAAAA\n--b" + n + "--\n";
  g.message = header + "preamble\n" + text + attachment;
  if (i % 7 == 0) {
    g.rule = "Exe", g.name = "tool" + n + ".exe";
  } else if (!attachmentName.empty()) {
    g.rule = "Exe", g.name = attachmentName;
  } else if (g.hasSubject && i % 5 == 0) {
    g.rule = "Urgent";
  }
  return g;
}

constexpr int generatedCount = 40;

std::string expectedCsv() {
  std::string csv = "message,subject,result,rule,name,error\r\n";
  for (int i = 1; i <= generatedCount; ++i) {
    const Generated g = generated(i);
    csv += std::to_string(i) + "," + (g.hasSubject ? g.subject : "") + "," +
           (g.rule.empty() ? "clean" : "hit") + "," + g.rule + "," + g.name + ",\r\n";
  }
  return csv;
}

std::string mbox() {
  std::string bytes;
  for (int i = 1; i <= generatedCount; ++i) {
    bytes += "From sender@example.com Mon Jan  1 10:00:" + std::to_string(10 + i % 50) + " 2024\n" +
             generated(i).message + "\n";
  }
  return bytes;
}

// A scratch directory with its own TMPDIR, so the test sees every working
// directory zentry-host makes.
struct HostFixture : ::testing::Test {
  TempDir scratch;
  std::string tmp = scratch.path() + "/tmp";
  std::vector<std::string> environment{"TMPDIR=" + tmp};
  void SetUp() override {
    std::filesystem::create_directory(tmp);
    scratch.write("rules.dat", rules);
  }
  std::string file(const std::string& name) const { return scratch.path() + "/" + name; }
  bool tmpIsEmpty() const { return std::filesystem::is_empty(tmp); }
  HostRun host(const std::vector<std::string>& arguments, const std::string& input = "") {
    return runHost(scratch, arguments, input, environment);
  }
};

using HostRunMode = HostFixture;

// zentry-host must give the filter exactly what the server gives it: the same
// bytes on standard output and the same exit code as zentry run by hand in a
// directory set up by the contract.
TEST_F(HostRunMode, MatchesTheFilterRunByHand) {
  struct Case {
    const char* name;
    std::string message;
    std::vector<std::string> switches;
    std::vector<std::string> filterArguments;
    std::vector<std::string> subjectVariable;
    std::string stored;  // what routing.dat holds after the prefix, when not the message
  };
  const Case cases[] = {
      {"hit with errorlevel",
       generated(3).message,
       {"--errorlevel"},
       {"box", "errorlevel"},
       {"subject=Item number 3"},
       ""},
      {"hit, debug", generated(3).message, {"--debug"}, {"box", "debug"}, {"subject=Item number 3"}, ""},
      {"strict", generated(3).message, {"--strict"}, {"box", "strict"}, {"subject=Item number 3"}, ""},
      {"folded subject", generated(8).message, {"--debug"}, {"box", "debug"}, {"subject=Item number 8"}, ""},
      {"no Subject field", generated(22).message, {"--errorlevel"}, {"box", "errorlevel"}, {}, ""},
      {"8-bit subject",
       "Subject: caf\xe9 =?x?Q?a?=\n\nbody\n",
       {"--debug"},
       {"box", "debug"},
       {"subject=caf\xe9 =?x?Q?a?="},
       ""},
      {"envelope line removed",
       "From a@b Mon Jan  1 10:00:00 2024\nSubject: URGENT\n\n",
       {"--errorlevel"},
       {"box", "errorlevel"},
       {"subject=URGENT"},
       "Subject: URGENT\n\n"},
  };
  for (const Case& c : cases) {
    TempDir byHand;
    byHand.write("zentry.dat", rules);
    byHand.write("routing.dat", routingFile(c.stored.empty() ? c.message : c.stored));
    const RunResult expected = runBinary(byHand, c.filterArguments, c.subjectVariable);

    scratch.write("message.eml", c.message);
    std::vector<std::string> arguments = c.switches;
    for (const char* operand : {"message.eml", "rules.dat", "box"}) {
      arguments.push_back(std::string(operand) == "box" ? operand : file(operand));
    }
    const HostRun run = host(arguments);
    EXPECT_EQ(expected.output, run.output) << c.name;
    EXPECT_EQ(expected.exitCode, run.exitCode) << c.name;
    EXPECT_EQ("", run.errors) << c.name;

    const HostRun piped = host({"-", file("rules.dat"), "box", c.switches[0]}, c.message);
    EXPECT_EQ(expected.output, piped.output) << c.name << " (standard input)";
    EXPECT_EQ(expected.exitCode, piped.exitCode) << c.name << " (standard input)";
  }
  EXPECT_TRUE(tmpIsEmpty());
}

TEST_F(HostRunMode, BadInputGetsItsOwnExitCode) {
  scratch.write("empty.eml", "");
  scratch.write("message.eml", "Subject: x\n\n");
  std::filesystem::create_directory(file("folder"));
  struct Case {
    std::vector<std::string> arguments;
    std::string input;
    int exitCode;
    const char* complaint;
  };
  const Case cases[] = {
      {{file("missing.eml"), file("rules.dat"), "box"}, "", 66, "missing.eml: No such file or directory"},
      {{file("folder"), file("rules.dat"), "box"}, "", 66, "is a directory"},
      {{file("empty.eml"), file("rules.dat"), "box"}, "", 65, "is empty"},
      {{"-", file("rules.dat"), "box"}, "", 65, "on standard input is empty"},
      {{file("message.eml"), file("missing.dat"), "box"}, "", 78, "rules file"},
      {{file("message.eml"), file("rules.dat"), "box", "--zentry", file("none")}, "", 78, "--zentry"},
      {{file("message.eml"), file("rules.dat")}, "", 64, "expected MESSAGE RULES MAILBOX"},
      {{"--bogus", file("message.eml"), file("rules.dat"), "box"}, "", 64, "unknown option --bogus"},
      {{"--explain", file("missing.eml"), file("rules.dat")}, "", 66, "missing.eml"},
  };
  for (const Case& c : cases) {
    const HostRun run = host(c.arguments, c.input);
    EXPECT_EQ(c.exitCode, run.exitCode) << c.complaint;
    EXPECT_NE(std::string::npos, run.errors.find(c.complaint)) << run.errors;
    EXPECT_EQ("", run.output) << c.complaint;
  }
  EXPECT_TRUE(tmpIsEmpty());
}

// Filters that misbehave: the directory goes all the same, and a signal to
// zentry-host reaches the filter and then ends zentry-host the same way.
TEST_F(HostRunMode, CleansUpAfterFailureAndSignals) {
  scratch.write("message.eml", "Subject: x\n\n");
  scratch.write("crash.sh", "#!/bin/sh\nkill -SEGV $$\n");
  scratch.write("slow.sh", "#!/bin/sh\nexec sleep 30\n");
  chmod(file("crash.sh").c_str(), 0755);
  chmod(file("slow.sh").c_str(), 0755);

  const HostRun crashed = host({"--zentry", file("crash.sh"), file("message.eml"), file("rules.dat"), "box"});
  EXPECT_EQ(70, crashed.exitCode);
  EXPECT_NE(std::string::npos, crashed.errors.find("killed by signal 11")) << crashed.errors;
  EXPECT_TRUE(tmpIsEmpty());

  const auto started = std::chrono::steady_clock::now();
  const HostRun stopped =
      runHostWith(scratch, {"--zentry", file("slow.sh"), file("message.eml"), file("rules.dat"), "box"}, "",
                  environment, [this](pid_t child) {
                    // Wait until the working directory exists, so the signal comes mid-run.
                    for (int i = 0; i < 200 && tmpIsEmpty(); ++i)
                      std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    kill(child, SIGTERM);
                  });
  EXPECT_EQ(SIGTERM, stopped.signal);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_TRUE(tmpIsEmpty());
}

TEST_F(HostRunMode, LogIsAppendedWhereAsked) {
  scratch.write("message.eml", generated(3).message);
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(0, host({"--log", file("z.log"), file("message.eml"), file("rules.dat"), "box"}).exitCode);
  }
  const std::string log = scratch.read("z.log");
  const std::string found = "Found suspect file - report3.exe (Exe)\r\n";
  ASSERT_NE(std::string::npos, log.find(found));
  EXPECT_NE(std::string::npos, log.find(found, log.find(found) + 1)) << "second run appended";
  EXPECT_TRUE(tmpIsEmpty());
}

using HostReplay = HostFixture;

TEST_F(HostReplay, MboxRowsInOrderWhateverTheJobs) {
  scratch.write("mail.mbox", mbox());
  for (const char* jobs : {"-j1", "-j3"}) {
    const HostRun run = host({"--replay", jobs, "--format", "csv", file("mail.mbox"), file("rules.dat")});
    EXPECT_EQ(expectedCsv(), run.output) << jobs;
    EXPECT_EQ(0, run.exitCode) << jobs;
    EXPECT_NE(std::string::npos, run.errors.find("40 messages: 31 hit, 9 clean, 0 failed, 0 skipped"))
        << run.errors;
  }
  EXPECT_TRUE(tmpIsEmpty());
}

TEST_F(HostReplay, TextAndJsonTotals) {
  scratch.write("mail.mbox", mbox());
  const HostRun text = host({"--replay", file("mail.mbox"), file("rules.dat")});
  EXPECT_EQ(0, text.exitCode);
  EXPECT_NE(std::string::npos, text.output.find("\n40 messages: 31 hit, 9 clean, 0 failed, 0 skipped\n"
                                                "  29  Exe\n  2  Urgent\n"))
      << text.output;
  EXPECT_NE(std::string::npos, text.output.find("\n22       (none)           Exe     doc_22.exe\n"))
      << text.output;
  const HostRun json = host({"--replay", "--format=json", file("mail.mbox"), file("rules.dat")});
  EXPECT_NE(
      std::string::npos,
      json.output.find("{\"message\":\"3\",\"subject\":\"Item number 3\",\"result\":\"hit\",\"rule\":\"Exe\","
                       "\"name\":\"report3.exe\"}"))
      << json.output;
  EXPECT_NE(std::string::npos,
            json.output.find("\"totals\":{\"messages\":40,\"hit\":31,\"clean\":9,\"failed\":0,"
                             "\"skipped\":0}}\n"));
}

TEST_F(HostReplay, MaildirWithStrayFiles) {
  for (const char* folder : {"md", "md/cur", "md/new", "md/tmp"})
    std::filesystem::create_directory(file(folder));
  for (int i = 1; i <= generatedCount; ++i) {
    // Zero-padded times keep name order equal to message order.
    char name[64];
    std::snprintf(name, sizeof name, "md/%s/17000%05d.M1P1.host:2,S", i % 2 == 0 ? "cur" : "new", i);
    scratch.write(name, generated(i).message);
  }
  scratch.write("md/tmp/1700099999.M1P1.host", "Subject: half delivered\n\n");
  scratch.write("md/cur/notes.txt", "this is not mail\n");
  std::string expected = expectedCsv();
  for (int i = 1; i <= generatedCount; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "\n\"%s/17000%05d.M1P1.host:2,S\",", i % 2 == 0 ? "cur" : "new", i);
    const std::size_t row = expected.find("\n" + std::to_string(i) + ",");
    expected.replace(row, std::to_string(i).size() + 2, name);
  }
  const HostRun run = host({"--replay", "--format", "csv", file("md"), file("rules.dat")});
  EXPECT_EQ(expected, run.output);
  EXPECT_EQ(65, run.exitCode);
  EXPECT_NE(std::string::npos,
            run.errors.find("skipped " + file("md") + "/cur/notes.txt: not a mail message"))
      << run.errors;
  EXPECT_NE(std::string::npos, run.errors.find("40 messages: 31 hit, 9 clean, 0 failed, 1 skipped"));
  EXPECT_TRUE(tmpIsEmpty());
}

TEST_F(HostReplay, NothingToReplay) {
  scratch.write("empty.mbox", "");
  scratch.write("text.mbox", "Subject: not an mbox\n\n");
  std::filesystem::create_directory(file("plain"));
  for (const char* folder : {"md", "md/cur", "md/new"}) std::filesystem::create_directory(file(folder));
  scratch.write("md/cur/junk",
                "\x7f"
                "ELF");
  struct Case {
    std::string input;
    int exitCode;
    const char* complaint;
  };
  const Case cases[] = {
      {file("empty.mbox"), 65, "empty mailbox"},  {file("text.mbox"), 65, "not an mbox file"},
      {file("plain"), 65, "not a maildir"},       {file("md"), 65, "no messages found"},
      {file("missing.mbox"), 66, "No such file"},
  };
  for (const Case& c : cases) {
    const HostRun run = host({"--replay", c.input, file("rules.dat")});
    EXPECT_EQ(c.exitCode, run.exitCode) << c.input;
    EXPECT_NE(std::string::npos, run.errors.find(c.complaint)) << run.errors;
    EXPECT_EQ("", run.output);
  }
  EXPECT_TRUE(tmpIsEmpty());
}

TEST_F(HostReplay, FailedRunsAreReported) {
  scratch.write("mail.mbox", mbox());
  scratch.write("crash.sh", "#!/bin/sh\nkill -SEGV $$\n");
  chmod(file("crash.sh").c_str(), 0755);
  const HostRun run =
      host({"--replay", "--format=csv", "--zentry", file("crash.sh"), file("mail.mbox"), file("rules.dat")});
  EXPECT_EQ(70, run.exitCode);
  EXPECT_NE(std::string::npos, run.output.find("\r\n2,Item number 2,failed,,,killed by signal 11\r\n"));
  EXPECT_TRUE(tmpIsEmpty());
}

using HostExplain = HostFixture;

TEST_F(HostExplain, NamesWithOriginsAndTheHittingRule) {
  scratch.write("rules.dat", "Text\nnever\n*.txt\n" + rules);
  scratch.write("message.eml", generated(21).message);
  const HostRun run = host({"--explain", file("message.eml"), file("rules.dat")});
  EXPECT_EQ(
      "Subject as matched: Item number 21\n"
      "Names (3):\n"
      "  1. tool21.exe    uuencoded file in part 1 (text/plain)\n"
      "  2. File1.tmp     part 1 (text/plain), no name given\n"
      "  3. report21.exe  part 2 (application/octet-stream)\n"
      "Rule 2 hits\n"
      "  label:        \"Exe\"\n"
      "  subject mask: \"\"\n"
      "  file mask:    \"*.exe\"\n"
      "  matched:      tool21.exe\n",
      run.output);
  EXPECT_EQ(0, run.exitCode);

  scratch.write("message.eml", "Subject: =?x?Q?URGENT_now?=\n\nbody\n");
  const HostRun bySubject = host({"--explain", file("message.eml"), file("rules.dat")});
  EXPECT_NE(std::string::npos, bySubject.output.find("Subject as matched: URGENT_now\n"
                                                     "Names (1):\n"
                                                     "  1. File0.tmp  part 0 (text/plain), no name given\n"
                                                     "Rule 3 hits\n"))
      << bySubject.output;
  EXPECT_NE(std::string::npos, bySubject.output.find("  matched:      the subject alone\n"));

  scratch.write("message.eml", "Subject: calm\n\nbody\n");
  EXPECT_NE(
      std::string::npos,
      host({"--explain", "-", file("rules.dat")}, "Subject: calm\n\nbody\n").output.find("No rule hits.\n"));
  EXPECT_TRUE(tmpIsEmpty());
}

}  // namespace
}  // namespace zentry::test
