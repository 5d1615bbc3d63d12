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
#include "support/table.h"

namespace zentry::test {
namespace {

const std::string rules = "Exe\n\n*.exe\nUrgent\nURGENT*\n\n";

std::vector<std::string> mails, csvRows;
const std::string csvHeader = "message,subject,result,rule,name,error,decoded_subject\r\n";

struct HostE2e : HostFixture {
  void SetUp() override {
    HostFixture::SetUp();
    environment.push_back("SUBJECT=stray");  // never to reach the filter in the place of a Subject field
    scratch.write("rules.dat", rules);
    std::string mbox;
    mails.clear(), csvRows.clear();
    for (const Row& row : readTable("../../host/testdata/mails.txt")) {
      mails.push_back(row[0]), csvRows.push_back(row[1]);
      mbox += "From a@b Mon Jan  1 10:00:00 2024\n" + row[0] + "\n";
    }
    scratch.write("mail.mbox", mbox);
  }
};

using HostRunMode = HostE2e;

// zentry-host must give the filter exactly what the server gives it: the same
// bytes on standard output and the same exit code as zentry run by hand in a
// directory set up by the contract.
TEST_F(HostRunMode, MatchesTheFilterRunByHand) {
  for (const Row& row : readTable("../../host/testdata/by_hand.txt")) {
    const std::string &option = row[0], &message = row[1];
    TempDir byHand;
    byHand.write("zentry.dat", rules);
    byHand.write("routing.dat", routingFile(row.fields.size() > 3 ? row[3] : message));
    std::vector<std::string> subject;
    if (row[2] != "-") subject.push_back("subject=" + row[2]);
    const RunResult expected = runBinary(byHand, {"box", option.substr(2)}, subject);
    scratch.write("message.eml", message);
    const HostRun run = host({option, file("message.eml"), file("rules.dat"), "box"});
    EXPECT_EQ(expected.output, run.output) << row.where;
    EXPECT_EQ(expected.exitCode, run.exitCode) << row.where;
    EXPECT_EQ("", run.errors) << row.where;
    // A relative --zentry names a file from the caller's directory.
    const std::string relative = std::filesystem::relative(ZENTRY_BINARY).string();
    const HostRun piped = host({"-", file("rules.dat"), "box", option, "--zentry", relative}, message);
    EXPECT_EQ(expected.output, piped.output) << row.where << " (standard input)";
    EXPECT_EQ(expected.exitCode, piped.exitCode) << row.where << " (standard input)";
  }
  EXPECT_TRUE(tmpIsEmpty());
}

// Each mode's exit code and output, for good and bad input.
TEST_F(HostRunMode, RunsOfTheTable) {
  scratch.write("empty.mbox", "");
  scratch.write("text.mbox", "Subject: not an mbox\n\n");
  scratch.write("envelope.mbox", "From a@b Mon Jan  1 10:00:00 2024\n\n");
  scratch.write("message.eml", "Subject: x\n\n");
  chmod(file("message.eml").c_str(), 0755);
  for (const char* folder : {"folder", "md", "md/cur", "md/new"})
    std::filesystem::create_directory(file(folder));
  scratch.write("md/cur/\x1b[2J\x9bjunk",
                "\x7f"
                "ELF");
  for (const Row& row : readTable("../../host/testdata/host_runs.txt")) {
    const HostRun run = host(arguments(row[0]), row[1]);
    EXPECT_EQ(std::stoi(row[2]), run.exitCode) << row.where;
    if (row[3].empty()) {
      EXPECT_EQ("", run.output) << row.where;
    } else {
      EXPECT_NE(std::string::npos, run.output.find(row[3])) << row.where << "\n" << run.output;
    }
    EXPECT_NE(std::string::npos, run.errors.find(row[4])) << row.where << "\n" << run.errors;
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
  const HostRun cut = host({"--log", file("z.log"), "--zentry", hostTestdata("filters/cut.sh"),
                            file("message.eml"), file("rules.dat"), "box"});
  EXPECT_EQ(74, cut.exitCode) << cut.errors;
  EXPECT_EQ(log, scratch.read("z.log"));
  EXPECT_TRUE(tmpIsEmpty());
}

// Whatever the caller's umask, the filter can read what the host wrote (and
// the host the filter's log), and nothing is left in $TMPDIR. The modes are
// checked, not only the run: root reads any file whatever its mode.
TEST_F(HostRunMode, StrictUmasksChangeNothing) {
  scratch.write("message.eml", mails[0]);
  scratch.write("modes.sh", "#!/bin/sh\nstat -c %a routing.dat zentry.dat .\n");
  chmod(file("modes.sh").c_str(), 0755);
  for (const mode_t mask : {0022, 0077, 0477, 0577, 0777}) {
    const auto withMask = [mask] { umask(mask); };
    const HostRun modes =
        runHostWith(scratch, {"--zentry", file("modes.sh"), file("message.eml"), file("rules.dat"), "box"},
                    "", environment, {}, withMask);
    EXPECT_EQ("600\n600\n700\n", modes.output) << std::oct << mask << " " << modes.errors;
    const HostRun run = runHostWith(
        scratch,
        {"--errorlevel", "--debug", "--log", file("z.log"), file("message.eml"), file("rules.dat"), "box"},
        "", environment, {}, withMask);
    EXPECT_EQ(1, run.exitCode) << std::oct << mask << "\n" << run.output << run.errors;
    EXPECT_NE(std::string::npos, run.output.find("Found suspect file - tool.exe (Exe)")) << std::oct << mask;
    EXPECT_TRUE(tmpIsEmpty()) << std::oct << mask;
  }
}

// A lister that cannot be started: the filter's 75 (try again later) is relayed.
TEST_F(HostRunMode, FilterTemporaryFailureRelayed) {
  scratch.write("message.eml",
                "Content-Type: application/zip; name=a.zip\nContent-Transfer-Encoding: base64\n\nUEsDBA==\n");
  std::filesystem::create_directory(file("alone"));
  std::filesystem::copy_file(ZENTRY_BINARY, file("alone/zentry"));
  const HostRun run =
      host({"--strict", "--zentry", file("alone/zentry"), file("message.eml"), file("rules.dat"), "box"});
  EXPECT_EQ(75, run.exitCode) << run.output << run.errors;
  EXPECT_NE(std::string::npos, run.errors.find("cannot start the archive lister")) << run.errors;
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

}  // namespace
}  // namespace zentry::test
