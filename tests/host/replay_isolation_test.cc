// A replay in process must report exactly what one filter process per
// message (--isolate) reports: the same rows, totals, complaints and exit
// code, in every format, in exact and strict mode. The mailboxes are the
// examples and one made of every end-to-end case's message plus messages
// made here: archives for strict mode (one too large to be held in memory),
// nameless parts, uuencode, encoded words and damaged mail.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "host/host_runner.h"
#include "host/in_process_scan.h"
#include "host/replay.h"
#include "support/archive_maker.h"
#include "support/case_file.h"
#include "support/mail_encodings.h"

namespace zentry::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using host::ReplayRow;

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

const std::string examples = std::string(ZENTRY_TESTDATA) + "/../../examples";

const std::string extraRules =
    "Exe\n\n*.exe\nUrgent\nURGENT*\n\nIncomplete archive\n\n*|incomplete-archive\n"
    "Program in a picture\n\n*.jpg|content.exe\n";

std::string attachment(const std::string& headerLines, const std::string& body) {
  return "Content-Type: multipart/mixed; boundary=A\n\n--A\n" + headerLines + "\n\n" + body + "--A--\n";
}

std::string base64Part(const std::string& contentType, const std::string& bytes) {
  return attachment("Content-Type: " + contentType + "\nContent-Transfer-Encoding: base64",
                    base64Lines(bytes));
}

std::vector<std::string> madeMessages() {
  const std::string inner = makeArchive(ArchiveFormat::Zip, {{"docs/invoice.exe", peHeader(false)}});
  const std::string outer = makeArchive(ArchiveFormat::Zip, {{"inner.zip", inner}, {"readme.txt", "hi"}});
  std::vector<ArchiveMember> many;
  for (int i = 0; i < 6000; ++i) many.push_back({"m" + std::to_string(i) + ".txt", "x"});
  // Two of these use most of a message's member budget each: a budget
  // carried from one message to the next would run out in the second.
  const std::string crowded =
      base64Part("application/zip; name=\"many.zip\"", makeArchive(ArchiveFormat::Zip, many));
  return {
      "Subject: clean\n\nNothing to see.\n",
      "Subject: =?iso-8859-1?Q?F=FCr_dich?=\n" +
          base64Part("application/octet-stream; name=\"mail.dat\"", outer),
      "Subject: URGENT: read\n\nno attachment: the subject alone hits\n",
      "Subject: nameless\n" + base64Part("application/zip", inner),
      "Subject: uu\n\nsee the file\nbegin 644 files.zip\n" + uuencodeLines(inner),
      "Subject: =?utf-8?B?w6l0w6k=?=\n" +
          attachment("Content-Type: application/octet-stream; name=\"=?utf-8?Q?r=C3=A9sum=C3=A9.exe?=\"",
                     "MZ\n"),
      "Subject: picture\n" +
          base64Part("image/jpeg; name=\"photo.jpg\"", peHeader(false) + std::string(3000, 'x')),
      "Subject: encrypted\n" +
          base64Part("application/zip; name=\"secret.zip\"",
                     makeArchive(ArchiveFormat::Zip, {{"a.exe", "MZ"}}, ArchiveFilter::None, "pw")),
      "Subject: tar.gz\n" +
          base64Part("application/x-gzip; name=\"pack.tgz\"",
                     makeArchive(ArchiveFormat::Tar, {{"x/run.exe", "MZ"}}, ArchiveFilter::Gzip)),
      "Subject: many 1\n" + crowded,
      "Subject: many 2\n" + crowded,
      // Damaged: base64 cut short, a boundary never closed, NUL bytes, no body.
      "Subject: cut\n" + base64Part("application/zip; name=\"cut.zip\"", outer).substr(0, 300),
      "Subject: open\nContent-Type: multipart/mixed; boundary=B\n\n--B\nContent-Type: a/b; name=x.exe\n\nMZ",
      "Subject: nul\0here\nContent-Type: a/b; name=\"a\0.exe\"\n\nx\n"s,
      "Subject: header only\n",
  };
}

// Lines beginning "From " (after any ">") get one more ">", so a message
// holds no envelope line of its own.
std::string mboxEntry(const std::string& message) {
  std::string out = "From sender@example.com Mon Jan  1 10:00:00 2024\n";
  std::size_t at = 0;
  while (at < message.size()) {
    const std::size_t end = std::min(message.find('\n', at), message.size() - 1) + 1;
    const std::string line = message.substr(at, end - at);
    if (line.find_first_not_of('>') != std::string::npos &&
        line.compare(line.find_first_not_of('>'), 5, "From ") == 0)
      out += '>';
    out += line;
    at = end;
  }
  return out + (message.empty() || message.back() == '\n' ? "\n" : "\n\n");
}

std::string generatedMailbox() {
  std::string mbox;
  std::vector<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(std::string(ZENTRY_TESTDATA) + "/e2e"))
    if (entry.path().extension() == ".case") paths.push_back(entry.path().string());
  std::sort(paths.begin(), paths.end());
  for (const std::string& path : paths) {
    const Case c = readCase(path);
    const auto message = c.files.find("routing.dat");
    // The few cases of tens of megabytes would only slow the runs down; the
    // crowded archives below are large enough to go through a file.
    if (message == c.files.end() || message->second.size() <= 4 || message->second.size() > (1u << 20))
      continue;
    std::string subject;
    for (const std::string& variable : c.environment)
      if (variable.rfind("subject=", 0) == 0) subject = "Subject: " + variable.substr(8) + "\n";
    mbox += mboxEntry(subject + message->second.substr(4));
  }
  // The example runs: a stored message and the subject it is given.
  for (const char* example : {"encoded-name", "invoice", "named-attachment", "nested-multipart"}) {
    const std::string dir = examples + "/" + example;
    std::string subject = fileBytes(dir + "/subject");
    while (!subject.empty() && (subject.back() == '\n' || subject.back() == '\r')) subject.pop_back();
    mbox += mboxEntry("Subject: " + subject + "\n" + fileBytes(dir + "/routing.dat").substr(4));
  }
  for (const std::string& message : madeMessages()) mbox += mboxEntry(message);
  return mbox;
}

// The last line of the complaints gives the time taken: no two runs agree.
std::string withoutTimings(const std::string& errors) {
  const std::size_t summary = errors.rfind("zentry-host: ");
  return summary == std::string::npos ? errors : errors.substr(0, summary);
}

// Each format in each mode is a test of its own: a process per message is
// slow under the sanitizers, and one test for all of them came close to the
// time a test is given.
struct ReplayIsolation : HostFixture, ::testing::WithParamInterface<std::tuple<const char*, bool>> {};

TEST_P(ReplayIsolation, InProcessReportsWhatProcessesReport) {
  const std::string format = std::get<0>(GetParam());
  const bool strict = std::get<1>(GetParam());
  scratch.write("generated.mbox", generatedMailbox());
  scratch.write("rules.dat", fileBytes(examples + "/rules/zentry.dat") + extraRules);
  for (const std::string& mailbox : {examples + "/mail/sample.mbox", file("generated.mbox")}) {
    std::vector<std::string> arguments{"--replay", "--no-progress", "--format",
                                       format,     mailbox,         file("rules.dat")};
    if (strict) arguments.insert(arguments.begin(), "--strict");
    std::vector<std::string> isolated = arguments, inProcess = arguments;
    isolated.insert(isolated.begin(), {"--isolate", "-j2"});
    inProcess.insert(inProcess.begin(), "-j3");
    const HostRun expected = host(isolated), run = host(inProcess);
    std::string where = mailbox;
    where += strict ? " strict " : " exact ";
    where += format;
    EXPECT_EQ(expected.output, run.output) << where;
    EXPECT_EQ(withoutTimings(expected.errors), withoutTimings(run.errors)) << where;
    EXPECT_EQ(expected.exitCode, run.exitCode) << where;
    EXPECT_NE(std::string::npos, expected.errors.find("one process each")) << where;
    EXPECT_NE(std::string::npos, run.errors.find("in process")) << where;
  }
  EXPECT_TRUE(tmpIsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Formats, ReplayIsolation,
                         ::testing::Combine(::testing::Values("text", "csv", "json"), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<ReplayIsolation::ParamType>& run) {
                           return std::string(std::get<0>(run.param)) +
                                  (std::get<1>(run.param) ? "_strict" : "_exact");
                         });

// A scan that throws fails its message only, with the reason in its row.
TEST(ScanInProcess, FailureIsTheMessagesRow) {
  struct Exhausted : ReplayWorkspace {
    std::unique_ptr<LineSource> openText(const char* name, TextReading reading) override {
      if (std::string(name) == "routing.dat") throw std::bad_alloc();
      return ReplayWorkspace::openText(name, reading);
    }
  } files;
  files.hold("zentry.dat", "Exe\n\n*.exe\n");
  const host::FilterResult result = host::scanInProcess(files, std::string("s"), {"box", "debug"});
  const ReplayRow row = host::rowFor("7", std::string("s"), result);
  EXPECT_EQ(ReplayRow::Result::failed, row.result);
  EXPECT_EQ("the scan failed: std::bad_alloc", row.problem);
}

}  // namespace
}  // namespace zentry::test
