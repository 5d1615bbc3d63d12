// Strict mode meets an archive, whole runs of a copy of zentry: with the real
// lister beside it the member is caught (also when the server ignores
// SIGCHLD); a lister killed as by its CPU limit leaves the marker; a lister
// that cannot be started fails the run for now.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "support/archive_maker.h"
#include "support/e2e.h"

namespace zentry::test {
namespace {

std::string base64(const std::string& bytes) {
  static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
    for (std::size_t k = 0; k < 4; ++k)
      text += i + k <= bytes.size() ? digits[(group >> (18 - 6 * k)) & 63] : '=';
    if (i % 57 == 54) text += "\r\n";
  }
  return text + "\r\n";
}

struct ListerCase {
  const char* label;
  const char* lister;  // "real", a shell script, "" for a file that cannot run, or nullptr for none
  std::string output;  // standard output then standard error, LF line ends in the verdict
  int exitCode;
  const char* shellFirst = "";  // run through sh, after this
};

const std::string banner =
    "Zentry V1.3 - Attachment Worm/virus protector for Movra\r\n"
    "Free software for mail servers; no warranty of any kind.\r\n";

std::string verdict(const std::string& rule) {
  return banner + crlf("To: infected\nSubject: Infected (" + rule + ") - hello\n");
}

// A lister that cannot be started is a fault of the installation: no
// verdict, exit 75 and the reason on standard error, so the server tries
// again. One that starts and then fails is a property of the message: the
// marker. Either way, never a clean verdict.
TEST(ArchiveListerEndToEnd, EveryFailureLeavesTheMarkerOrFailsForNow) {
  const ListerCase cases[] = {
      {"real lister", "real", verdict("Executable"), 0},
      {"parent ignores SIGCHLD", "real", verdict("Executable"), 0, "trap '' CHLD; "},
      {"lister missing", nullptr,
       banner + "zentry: cannot start the archive lister @DIR@/zentry-archive: No such file or directory\n",
       75},
      {"lister not executable", "",
       banner + "zentry: cannot start the archive lister @DIR@/zentry-archive: Permission denied\n", 75},
      {"lister killed by its CPU limit", "#!/bin/sh\nkill -XCPU $$\n", verdict("Unlisted archive"), 0},
  };
  const std::string zip = makeArchive(ArchiveFormat::Zip, {{"docs/invoice.exe", peHeader(false)}});
  const std::string message =
      "Content-Type: multipart/mixed; boundary=A\r\n\r\n--A\r\n\r\ntext\r\n--A\r\n"
      "Content-Type: application/zip; name=files.zip\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\n" +
      base64(zip) + "--A--\r\n";
  for (const ListerCase& c : cases) {
    TempDir directory;
    directory.write("routing.dat", routingFile(message));
    directory.write("zentry.dat",
                    "Executable\r\n\r\n*.exe\r\nUnlisted archive\r\n\r\n*|incomplete-archive\r\n");
    // A copy of the filter, and beside it the lister under test.
    const std::string program = directory.path() + "/zentry";
    std::filesystem::copy_file(ZENTRY_BINARY, program);
    const std::string lister = directory.path() + "/zentry-archive";
    if (c.lister != nullptr && std::string(c.lister) == "real") {
      std::filesystem::copy_file(ZENTRY_ARCHIVE_BINARY, lister);
    } else if (c.lister != nullptr) {
      directory.write("zentry-archive", c.lister);
      if (*c.lister != '\0') chmod(lister.c_str(), 0755);
    }
    std::string expected = c.output;
    if (expected.find("@DIR@") != std::string::npos)
      expected.replace(expected.find("@DIR@"), 5, directory.path());
    const std::string command = std::string(c.shellFirst) + "exec ./zentry infected strict 2>&1";
    const RunResult result = runProgram("/bin/sh", directory, {"-c", command}, {"subject=hello"});
    EXPECT_EQ(expected, result.output) << c.label;
    EXPECT_EQ(c.exitCode, result.exitCode) << c.label;
  }
}

// The filter hands the lister a memory file, which it maps; by hand it may
// get a pipe, which it reads. Both must give the same answer.
TEST(ArchiveListerEndToEnd, MappedAndPipedInputAnswerAlike) {
  TempDir directory;
  directory.write("files.zip", makeArchive(ArchiveFormat::Zip, {{"docs/invoice.exe", peHeader(false)}}));
  const std::string lister = std::string(ZENTRY_ARCHIVE_BINARY) + " files.zip 0 100 1000000";
  const RunResult mapped = runProgram("/bin/sh", directory, {"-c", lister + " <files.zip"});
  const RunResult piped = runProgram("/bin/sh", directory, {"-c", "cat files.zip | " + lister});
  EXPECT_NE(std::string::npos, mapped.output.find("invoice.exe")) << mapped.output;
  EXPECT_EQ(mapped.output, piped.output);
  EXPECT_EQ(0, mapped.exitCode);
  EXPECT_EQ(0, piped.exitCode);
}

// The filter's way: one lister, the archives of a message one request after
// the other, each answered as it would be alone; a request it cannot serve
// ends the lister.
TEST(ArchiveListerEndToEnd, RequestsAnswerAsSingleRuns) {
  TempDir directory;
  const std::string zip = makeArchive(ArchiveFormat::Zip, {{"docs/invoice.exe", peHeader(false)}});
  directory.write("files.zip", zip);
  const std::string request = "list files.zip 0 100 1000000 " + std::to_string(zip.size()) + "\n" + zip;
  directory.write("requests", request + request);
  const std::string lister = ZENTRY_ARCHIVE_BINARY;
  const RunResult single =
      runProgram("/bin/sh", directory, {"-c", lister + " files.zip 0 100 1000000 <files.zip"});
  const RunResult requests = runProgram("/bin/sh", directory, {"-c", lister + " --requests <requests"});
  EXPECT_NE(std::string::npos, single.output.find("invoice.exe")) << single.output;
  EXPECT_EQ(single.output + single.output, requests.output);
  EXPECT_EQ(0, requests.exitCode);
  const RunResult cut =
      runProgram("/bin/sh", directory, {"-c", "head -c 40 requests | " + lister + " --requests"});
  EXPECT_EQ("", cut.output);
  EXPECT_EQ(2, cut.exitCode);
  // A request for a memory file that did not come along is not answered.
  directory.write("unmapped", request + "map files.zip 0 100 1000000 " + std::to_string(zip.size()) + "\n");
  const RunResult unmapped = runProgram("/bin/sh", directory, {"-c", lister + " --requests <unmapped"});
  EXPECT_EQ(single.output, unmapped.output);
  EXPECT_EQ(2, unmapped.exitCode);
}

}  // namespace
}  // namespace zentry::test
